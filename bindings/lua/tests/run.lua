-- SPDX-License-Identifier: MIT
-- A tiny test runner for LuaJIT: `luajit run.lua test_x.lua` loads the file, which
-- registers cases with T.test(name, fn), runs each in turn and prints one line per
-- case; exits 1 when any case failed. run.sh sets up the environment it expects.
local ffi = require("ffi")

pcall(ffi.cdef, [[
typedef long tq_test_time_t;
struct tq_test_timespec { tq_test_time_t tv_sec; long tv_nsec; };
int clock_gettime(int clk, struct tq_test_timespec *ts);
int poll(void *fds, unsigned long nfds, int timeout);
]])

local T = { cases = {}, cleanups = {} }
T.tmp = assert(os.getenv("TQ_TEST_TMP"), "run through run.sh (TQ_TEST_TMP unset)")
T.fixtures = os.getenv("TQ_FIXTURES")
T.service_path = os.getenv("TQ_SERVICE")
if T.service_path == "" then T.service_path = nil end
T.source_dir = os.getenv("TQ_SOURCE_DIR")
package.path = T.source_dir .. "/bindings/lua/?.lua;" .. package.path

function T.test(name, fn) T.cases[#T.cases + 1] = { name = name, fn = fn } end

local function show(v)
    if type(v) == "string" then return string.format("%q", v) end
    return tostring(v)
end

function T.eq(got, want, what)
    if got ~= want then error(string.format("%s: got %s, want %s", what or "value", show(got), show(want)), 2) end
    return got
end

function T.ok(v, what)
    if not v then error(what or "assertion failed", 2) end
    return v
end

function T.match(s, pattern, what)
    if type(s) ~= "string" or not s:find(pattern) then
        error(string.format("%s: %s does not match %q", what or "text", show(s), pattern), 2)
    end
    return s
end

-- fn must raise an error whose text holds `pattern`.
function T.raises(fn, pattern, what)
    local ok, err = pcall(fn)
    if ok then error((what or "call") .. " did not raise", 2) end
    if pattern and not tostring(err):find(pattern, 1, true) then
        error(string.format("%s raised %s, want one holding %q", what or "call", show(err), pattern), 2)
    end
end

-- Run when the current case ends, however it ends.
function T.defer(fn) T.cleanups[#T.cleanups + 1] = fn end

-- Monotonic seconds.
local ts = ffi.new("struct tq_test_timespec")
function T.now()
    ffi.C.clock_gettime(1, ts) -- CLOCK_MONOTONIC
    return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) * 1e-9
end

function T.sleep(ms) ffi.C.poll(nil, 0, ms) end

local function sh_quote(s) return "'" .. tostring(s):gsub("'", "'\\''") .. "'" end
T.sh_quote = sh_quote

function T.mkdir(path)
    os.execute("mkdir -p " .. sh_quote(path))
    return path
end

function T.write(path, text)
    local f = assert(io.open(path, "wb"))
    f:write(text or "")
    f:close()
    return path
end

function T.exists(path)
    local f = io.open(path, "rb")
    if f then f:close() end
    return f ~= nil
end

local services = 0

-- Starts the stand-in service with the given arguments (a string), on a free loopback
-- port unless they name one; returns { url = "http://127.0.0.1:PORT", pid = N, stop = fn }. It is
-- stopped at the end of the case (and by run.sh at the latest).
function T.service(args)
    if not T.service_path then return nil end
    services = services + 1
    local out = string.format("%s/service-%d.out", T.tmp, services)
    args = args or ""
    if not args:find("--port", 1, true) then args = "--port 0 " .. args end
    local p = assert(io.popen(string.format("%s %s >%s 2>&1 </dev/null & echo $!",
        sh_quote(T.service_path), args, sh_quote(out))))
    local pid = tonumber(p:read("*l"))
    p:close()
    assert(pid, "the stand-in did not start")
    local pids = assert(io.open(T.tmp .. "/pids", "a"))
    pids:write(pid, "\n")
    pids:close()
    local s = { pid = pid }
    function s.stop()
        if s.pid then
            os.execute("kill " .. s.pid .. " 2>/dev/null")
            s.pid = nil
        end
    end
    T.defer(s.stop)
    local deadline = T.now() + 10
    while T.now() < deadline do
        local f = io.open(out, "rb")
        local text = f and f:read("*a") or ""
        if f then f:close() end
        local port = text:match("listening on http://127%.0%.0%.1:(%d+)")
        if port then
            s.port = tonumber(port)
            s.url = "http://127.0.0.1:" .. port
            return s
        end
        T.sleep(10)
    end
    s.stop()
    error("the stand-in did not say where it listens: " .. out)
end

-- A port nothing listens on (the stand-in's, once stopped).
function T.dead_url()
    local s = T.service("--synthetic")
    if not s then return nil end
    local url = s.url
    s.stop()
    T.sleep(100)
    return url
end

local file = assert(arg[1], "usage: luajit run.lua TEST.lua")
assert(loadfile(file))(T)

local failed = 0
for _, case in ipairs(T.cases) do
    local t0 = T.now()
    local ok, err = xpcall(case.fn, debug.traceback)
    for i = #T.cleanups, 1, -1 do pcall(T.cleanups[i]) end
    T.cleanups = {}
    if ok then
        print(string.format("ok    %-60s %6.3f s", case.name, T.now() - t0))
    else
        failed = failed + 1
        print(string.format("FAIL  %s\n%s", case.name, tostring(err)))
    end
end
print(string.format("%s: %d cases, %d failed", file, #T.cases, failed))
io.stdout:flush()
os.exit(failed == 0 and 0 or 1)
