-- SPDX-License-Identifier: MIT
-- The on-screen script (examples/player/tqmovie-osd.lua) driven by a stand-in for the
-- player's scripting object: a fake `mp` that records the event and key handlers the
-- script registers, answers the path property and the options, and captures the OSD
-- messages. Files live in a temporary tree whose names hold the ids.
local T = ...
local tq = require("tqmovie")

local SCRIPT = T.source_dir .. "/examples/player/tqmovie-osd.lua"
local FIX = T.fixtures
local CACHE = os.getenv("XDG_CACHE_HOME")
local KEY = "Alt+i"

-- A fake player with the script loaded. opts: the script options, without the
-- "tqmovie-" prefix. no_expand: a player without "expand-path".
local function player(opts, no_expand)
    local p = { events = {}, keys = {}, props = {}, opts = {}, osd = {} }
    for k, v in pairs(opts or {}) do p.opts["tqmovie-" .. k] = v end
    local mp = {}
    function mp.register_event(name, fn) p.events[name] = fn end
    function mp.get_property(name) return p.props[name] end
    function mp.add_key_binding(key, name, fn) p.keys[key] = { name = name, fn = fn } end
    function mp.osd_message(text, seconds) p.osd[#p.osd + 1] = { text = text, seconds = seconds } end
    function mp.get_opt(key) return p.opts[key] end
    if not no_expand then
        -- The player's own cache folder: here <XDG_CACHE_HOME>/player/.
        function mp.command_native(cmd)
            if cmd[1] == "expand-path" then return (cmd[2]:gsub("^~~cache/", CACHE .. "/player/")) end
        end
    end
    package.loaded.mp = mp
    p.script = assert(loadfile(SCRIPT))()
    package.loaded.mp = nil
    T.ok(p.events["file-loaded"], "the script registers a file-loaded handler")

    -- The player starts a file: the handler's time in seconds.
    function p.play(path)
        p.props.path = path
        local t0 = T.now()
        p.events["file-loaded"]()
        return T.now() - t0
    end
    -- The key is pressed: the OSD text, its duration and the handler's time.
    function p.press(key)
        local binding = T.ok(p.keys[key or KEY], "the script binds " .. (key or KEY))
        local n, t0 = #p.osd, T.now()
        binding.fn()
        local took = T.now() - t0
        T.eq(#p.osd, n + 1, "one OSD message per key press")
        return p.osd[#p.osd].text, p.osd[#p.osd].seconds, took
    end
    return p
end

local function media(dir, name)
    return T.write(T.mkdir(T.tmp .. "/media/" .. dir) .. "/" .. name, "")
end

local SHAWSHANK_OSD = table.concat({
    "The Shawshank Redemption (1994)",
    "Rating 9.3/10  |  142 min",
    "Directed by Frank Darabont",
    "Cast: Tim Robbins, Morgan Freeman, Bob Gunton, William Sadler, Clancy Brown",
}, "\n")

T.test("a file whose name holds its id: the key shows the record", function()
    local p = player { fixtures = FIX }
    T.eq(p.keys[KEY].name, "tqmovie-show", "binding name")
    local took = p.play(media("Films", "The.Shawshank.Redemption.1994.tt0111161.1080p.mkv"))
    T.ok(took < 2.0, string.format("file-loaded took %.3f s", took))
    local text, seconds, key_took = p.press()
    print("  OSD text:\n    " .. text:gsub("\n", "\n    "))
    T.eq(text, SHAWSHANK_OSD, "OSD text")
    T.eq(seconds, 6, "OSD duration")
    T.ok(key_took < 2.0, "key handler time")
    T.ok(T.exists(CACHE .. "/player/tqmovie.db"), "the store is in the player's cache folder")
end)

T.test("a series found through its folder; options change the cast and the key", function()
    local p = player { fixtures = FIX, cast = "2", key = "Ctrl+t", ["osd-seconds"] = "3" }
    p.play(media("Series/Breaking Bad [imdbid-tt0903747]/Season 1", "S01E01.mkv"))
    local text, seconds = p.press("Ctrl+t")
    print("  OSD text:\n    " .. text:gsub("\n", "\n    "))
    T.match(text, "^Breaking Bad %(2008%-2013%)\n", "title and years")
    T.ok(not text:find("Directed by", 1, true), "a series without directors has no such line")
    T.match(text, "\nCast: [^,]+, [^,]+$", "two cast members")
    T.eq(seconds, 3, "OSD duration")
end)

T.test("no id: the script says so plainly", function()
    local p = player { fixtures = FIX }
    p.play(media("Home videos", "beach-2019.mkv"))
    T.eq(p.press(), "no IMDb id found for beach-2019.mkv", "OSD text")
end)

T.test("an id the service does not know, and nothing playing", function()
    local p = player { fixtures = FIX }
    T.eq(p.press(), "tqmovie: nothing is playing", "before any file")
    p.play(media("Films", "Unknown.tt0000001.mkv"))
    T.eq(p.press(), "tqmovie: tt0000001 is not a title the service knows", "OSD text")
    -- The next file starts afresh.
    p.play(media("Films", "The.Godfather.1972.tt0068646.mkv"))
    T.match(p.press(), "^The Godfather %(1972%)", "the next file")
end)

T.test("over HTTP from the stand-in, and the store across restarts", function()
    if not T.service_path then return print("  (skipped: no stand-in)") end
    local s = T.service("--fixtures " .. T.sh_quote(FIX))
    local store = CACHE .. "/elsewhere/tq.db"
    local p = player { host = s.url, store = store }
    p.play(media("Films", "The Matrix (1999) {imdb-tt0133093}.mkv"))
    local text = p.press()
    T.match(text, "^The Matrix %(1999%)\n", "OSD over HTTP")
    T.ok(T.exists(store), "the store option")
    -- The player restarts, the service is gone: the store still answers.
    s.stop()
    local again = player { host = s.url, store = store }
    again.play(media("Films", "The Matrix (1999) {imdb-tt0133093}.mkv"))
    T.eq(again.press(), text, "the same text from the store")
end)

T.test("no handler runs longer than the deadline", function()
    if not T.service_path then return print("  (skipped: no stand-in)") end
    local s = T.service("--synthetic --delay 3000")
    local p = player { host = s.url, ["deadline-ms"] = "400" }
    T.eq(p.script.config.deadline_ms, 400, "deadline option")
    local took = p.play(media("Films", "Slow.tt1000002.mkv"))
    T.ok(took < 0.4 + 0.3, string.format("file-loaded took %.3f s", took))
    local text, _, key_took = p.press()
    T.eq(text, "tqmovie: lookup of tt1000002 failed: deadline exceeded", "OSD text")
    T.ok(key_took < 0.4 + 0.3, string.format("the key (one more try) took %.3f s", key_took))
    -- However high the option, the deadline stays at 2 s.
    T.eq(player({ host = s.url, ["deadline-ms"] = "10000" }).script.config.deadline_ms, 2000, "at most 2 s")
    T.eq(player({ host = s.url }).script.config.deadline_ms, 2000, "the default")
end)

T.test("a lookup that failed is tried again on the key", function()
    if not T.service_path then return print("  (skipped: no stand-in)") end
    local url = T.dead_url()
    local p = player { host = url, store = "no" }
    p.play(media("Films", "Pulp.Fiction.tt0110912.mkv"))
    T.match(p.press(), "^tqmovie: lookup of tt0110912 failed: transport: ", "no service")
    local port = url:match(":(%d+)$")
    -- A service on the same port now: the next press finds the title.
    local s = T.service("--fixtures " .. T.sh_quote(FIX) .. " --port " .. port)
    if s.port ~= tonumber(port) then return print("  (skipped: the port was taken meanwhile)") end
    T.match(p.press(), "^Pulp Fiction %(1994%)", "after the service came back")
end)

T.test("where the store goes", function()
    T.eq(player({ fixtures = FIX }).script.store_path(), CACHE .. "/player/tqmovie.db", "the player's cache folder")
    T.eq(player({ fixtures = FIX }, true).script.store_path(), CACHE .. "/tqmovie/tqmovie.db",
        "without expand-path: XDG_CACHE_HOME")
    T.eq(player({ fixtures = FIX, store = "/x/y.db" }).script.store_path(), "/x/y.db", "the option")
    T.eq(player({ fixtures = FIX, store = "no" }).script.store_path(), nil, "none")
    local p = player({ fixtures = FIX, store = "no" })
    p.play(media("Films", "Inception.2010.tt1375666.mkv"))
    T.match(p.press(), "^Inception %(2010%)", "works without a store")
    collectgarbage()
    collectgarbage()
    T.ok(tq._live() >= 0, "clients of dropped script instances are freed")
end)

T.test("a player whose Lua cannot load the module gets a message, not a crash", function()
    local saved = package.loaded.tqmovie
    local mp = { keys = {}, osd = {} }
    function mp.get_opt() return nil end
    function mp.register_event() error("no event registered without the module") end
    function mp.add_key_binding(key, name, fn) mp.keys[key] = fn end
    function mp.osd_message(text) mp.osd[#mp.osd + 1] = text end
    package.loaded.mp = mp
    package.loaded.tqmovie = nil
    -- A plain Lua: no ffi module for the script or for tqmovie.lua.
    local ffi = package.loaded.ffi
    package.loaded.ffi = nil
    package.preload.ffi = function() error("module 'ffi' not found", 0) end
    local result = assert(loadfile(SCRIPT))()
    package.preload.ffi = nil
    package.loaded.ffi = ffi
    package.loaded.tqmovie = saved
    package.loaded.mp = nil
    T.eq(result.error, "tqmovie: this player's Lua has no FFI; the script needs a player built with LuaJIT",
        "the reason")
    mp.keys[KEY]()
    T.eq(mp.osd[1], result.error, "said on the key")
end)
