-- SPDX-License-Identifier: MIT
-- The Lua half of bench/drive_lua: one cached title's detail lookup through the
-- LuaJIT module (bindings/lua/tqmovie.lua), building every field through the getters,
-- timed. Run by drive_lua, which does the same from C:
--   TQMOVIE_LIBRARY=LIB luajit bench/drive_lua.lua MODULE_DIR FIXTURES ID ITERATIONS REPS
-- prints one line per repetition, "ns NANOSECONDS_PER_LOOKUP", then "sum CHECKSUM" (the
-- bytes of every text and the count of every list item of the last record: drive_lua
-- checks that C built the same).
local module_dir, fixtures, id, iterations, reps = arg[1], arg[2], arg[3], tonumber(arg[4]), tonumber(arg[5])
package.path = module_dir .. "/?.lua;" .. package.path
local ffi = require("ffi")
local tq = require("tqmovie")

pcall(ffi.cdef, [[
struct tq_bench_timespec { long tv_sec; long tv_nsec; };
int clock_gettime(int clk, struct tq_bench_timespec *ts);
]])
local ts = ffi.new("struct tq_bench_timespec")
local function now_ns()
    ffi.C.clock_gettime(1, ts)
    return tonumber(ts.tv_sec) * 1e9 + tonumber(ts.tv_nsec)
end

local c = assert(tq.client { fixtures = fixtures })
assert(c:detail(id)) -- fills the cache: every later lookup answers from it

local function run(n)
    local r
    for _ = 1, n do r = c:detail(id) end
    return r
end

run(iterations) -- warm-up: the loop and the module get compiled
for _ = 1, reps do
    local t0 = now_ns()
    run(iterations)
    io.write(string.format("ns %.1f\n", (now_ns() - t0) / iterations))
end

local r = run(1)
local sum = 0
local function add(v)
    if type(v) == "string" then sum = sum + #v end
end
for _, v in pairs(r) do add(v) end
for _, list in ipairs({ r.cast, r.pictures, r.providers, r.videos }) do
    for _, item in ipairs(list) do
        sum = sum + 1
        for _, v in pairs(item) do add(v) end
    end
end
for _, v in ipairs(r.related) do sum = sum + 1 + #v end
io.write("sum ", sum, "\n")
