-- SPDX-License-Identifier: MIT
--[[
tqmovie-osd.lua - the playing file's title, year, rating, runtime, directors and cast on
the player's on-screen display, looked up by the file's IMDb id (README.md beside this
file: installing, options, the calls used).

When a file starts, the script finds its IMDb id (the .nfo sidecars, the file's name,
its folders: tqmovie.id_for_file) and looks its detail record up once, within a deadline
of at most 2 s, through a store in the player's cache folder that keeps the answer
across restarts. A key press (Alt+i by default) shows the record, or says plainly that
no id was found or that the lookup failed. No handler runs longer than the deadline:
the lookup is the only slow step and the library ends it when the deadline passes.

The player's scripting calls used: mp.register_event, mp.get_property,
mp.add_key_binding, mp.osd_message, mp.get_opt and (for the cache folder)
mp.command_native with "expand-path".
]]

local mp = rawget(_G, "mp") or require("mp")

-- Options: --script-opts=tqmovie-deadline-ms=1500,tqmovie-key=Alt+i,...
local function opt(name, default)
    local v = mp.get_opt("tqmovie-" .. name)
    if v == nil or v == "" then return default end
    return v
end
local function opt_number(name, default, lo, hi)
    local v = tonumber(opt(name, nil)) or default
    if v < lo then v = lo end
    if v > hi then v = hi end
    return math.floor(v)
end

local MAX_DEADLINE_MS = 2000
local cfg = {
    deadline_ms = opt_number("deadline-ms", MAX_DEADLINE_MS, 1, MAX_DEADLINE_MS),
    key = opt("key", "Alt+i"),
    osd_seconds = opt_number("osd-seconds", 6, 1, 60),
    cast = opt_number("cast", 5, 0, 50),
    language = opt("language", nil),
    host = opt("host", nil),         -- the service; the library's default when unset
    fixtures = opt("fixtures", nil), -- a fixture folder in place of the service (offline)
    store = opt("store", nil),       -- the store file; "no" for none
    stale_s = opt_number("stale-seconds", 7 * 86400, 0, 365 * 86400),
}

-- tqmovie.lua beside this script (or anywhere on package.path) is the module. It needs
-- LuaJIT's FFI: a player whose Lua has none gets a plain message instead of a crash.
do
    local src = debug.getinfo(1, "S").source
    local dir = src:sub(1, 1) == "@" and src:sub(2):match("^(.*/)") or nil
    if dir then package.path = dir .. "?.lua;" .. package.path end
end
local loaded, tq = pcall(require, "tqmovie")
if not loaded then
    -- The whole loader's text goes to the log; the screen gets one plain line.
    print("tqmovie: cannot load the module: " .. tostring(tq))
    local why = "tqmovie: cannot load the module (see the log)"
    if not pcall(require, "ffi") then
        why = "tqmovie: this player's Lua has no FFI; the script needs a player built with LuaJIT"
    end
    mp.add_key_binding(cfg.key, "tqmovie-show", function() mp.osd_message(why, cfg.osd_seconds) end)
    return { config = cfg, error = why }
end

-- The store's path: the option, else tqmovie.db in the player's cache folder (the
-- player's "~~cache/"), else in $XDG_CACHE_HOME/tqmovie or ~/.cache/tqmovie.
local function store_path()
    if cfg.store == "no" then return nil end
    if cfg.store then return cfg.store end
    if mp.command_native then
        local ok, p = pcall(mp.command_native, { "expand-path", "~~cache/tqmovie.db" })
        if ok and type(p) == "string" and p:sub(1, 1) == "/" then return p end
    end
    local base = os.getenv("XDG_CACHE_HOME")
    if base == nil or base == "" then base = (os.getenv("HOME") or ".") .. "/.cache" end
    return base .. "/tqmovie/tqmovie.db"
end

local client, client_err -- made at the first lookup, kept for the script's life

local function get_client()
    if client or client_err then return client, client_err end
    local opts = { deadline_ms = cfg.deadline_ms, stale_if_error = cfg.stale_s }
    if cfg.fixtures then
        opts.fixtures = cfg.fixtures
    else
        -- The pooled HTTP backend; the deadline bounds every lookup whole (connect,
        -- transfer, waits), so the backend keeps its own limits.
        opts.http = { host = cfg.host }
    end
    local c, msg = tq.client(opts)
    if not c then
        client_err = "tqmovie: " .. tostring(msg)
        return nil, client_err
    end
    local path = store_path()
    if path then
        local ok, smsg = c:open_store(path, { move_aside = true })
        -- Without its store the script still works, only without the cache on disk.
        if not ok then print("tqmovie: no store (" .. tostring(smsg) .. ")") end
    end
    client = c
    return client
end

local function basename(path)
    return path:match("([^/]+)/*$") or path
end

-- What the key shows for the current file: state.record, or state.message.
local state = {}

local function lookup()
    local c, err = get_client()
    if not c then
        state.message = err
        return
    end
    local rec, msg, _, not_found = c:detail(state.id, { language = cfg.language, sections = "cast" })
    if rec then
        state.record, state.message, state.failed = rec, nil, false
    elseif not_found then
        state.message, state.failed = "tqmovie: " .. state.id .. " is not a title the service knows", false
    else
        state.message, state.failed = "tqmovie: lookup of " .. state.id .. " failed: " .. tostring(msg), true
    end
end

local function on_file_loaded()
    state = {}
    local path = mp.get_property("path")
    if path == nil or path == "" then return end
    state.file = basename(path)
    local id = tq.id_for_file(path)
    if not id then
        state.message = "no IMDb id found for " .. state.file
        return
    end
    state.id = id
    lookup()
    if state.message then print(state.message) end
end

-- The text on the screen (also what the tests compare).
local function osd_text(r)
    local lines = {}
    local years = ""
    if r.start_year then
        years = tostring(r.start_year)
        if r.is_tv and r.end_year and r.end_year ~= r.start_year then years = years .. "-" .. r.end_year
        elseif r.is_tv and not r.end_year then years = years .. "-" end
        years = " (" .. years .. ")"
    end
    lines[#lines + 1] = (r.title or r.imdb_id or "?") .. years
    local facts = {}
    if r.imdb_rating then facts[#facts + 1] = string.format("Rating %.1f/10", r.imdb_rating) end
    if r.runtime and r.runtime > 0 then facts[#facts + 1] = r.runtime .. " min" end
    if #facts > 0 then lines[#lines + 1] = table.concat(facts, "  |  ") end
    if r.directors and r.directors ~= "" then lines[#lines + 1] = "Directed by " .. r.directors end
    local cast = {}
    for i = 1, math.min(cfg.cast, #r.cast) do cast[#cast + 1] = r.cast[i].name end
    if #cast > 0 then lines[#lines + 1] = "Cast: " .. table.concat(cast, ", ") end
    return table.concat(lines, "\n")
end

local function on_key()
    if state.file == nil then
        mp.osd_message("tqmovie: nothing is playing", cfg.osd_seconds)
        return
    end
    -- A lookup that failed (no connection, the deadline) is tried once more, within
    -- the same deadline; "no id" and "not found" are final.
    if state.failed then lookup() end
    if state.record then
        mp.osd_message(osd_text(state.record), cfg.osd_seconds)
    else
        mp.osd_message(state.message or "tqmovie: no record", cfg.osd_seconds)
    end
end

mp.register_event("file-loaded", on_file_loaded)
mp.add_key_binding(cfg.key, "tqmovie-show", on_key)

-- For the tests (a script's return value is not used by the player).
return { osd_text = osd_text, config = cfg, store_path = store_path }
