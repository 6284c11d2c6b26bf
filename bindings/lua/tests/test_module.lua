-- SPDX-License-Identifier: MIT
-- The LuaJIT module (bindings/lua/tqmovie.lua) against the sample fixtures and the
-- stand-in service: its declarations against the header, records, errors, a bad id,
-- not found, the current client, and the garbage collector freeing clients.
local T = ...
local ffi = require("ffi")
local tq = require("tqmovie")

local FIX = assert(T.fixtures, "TQ_FIXTURES unset")

local function read(path)
    local f = assert(io.open(path, "rb"))
    local s = f:read("*a")
    f:close()
    return s
end

-- ---------------------------------------------------------------------------------
-- Declarations in step with the header
-- ---------------------------------------------------------------------------------

-- The header's text as C statements at file level: comments, preprocessor lines and
-- the C++-only blocks gone, split at the semicolons outside braces.
local function statements(text)
    text = text:gsub("/%*.-%*/", " "):gsub("//[^\n]*", " ")
    local kept, skip, cont = {}, false, false
    for line in (text .. "\n"):gmatch("([^\n]*)\n") do
        if skip then
            if line:match("^%s*#%s*endif") then skip = false end
        elseif cont then
            cont = line:match("\\%s*$") ~= nil
        elseif line:match("^%s*#%s*ifdef%s+__cplusplus") then
            skip = true
        elseif line:match("^%s*#") then
            cont = line:match("\\%s*$") ~= nil
        else
            kept[#kept + 1] = line
        end
    end
    text = table.concat(kept, "\n")
    local out, depth, start = {}, 0, 1
    for i = 1, #text do
        local ch = text:byte(i)
        if ch == 123 then depth = depth + 1         -- {
        elseif ch == 125 then depth = depth - 1     -- }
        elseif ch == 59 and depth == 0 then         -- ;
            out[#out + 1] = text:sub(start, i)
            start = i + 1
        end
    end
    return out
end

-- One declaration with the export macros gone and white space normalised.
local function normalise(s)
    s = s:gsub("TQMOVIE_API", " "):gsub("TQMOVIE_PRINTF%s*%b()", " ")
    s = s:gsub("%s+", " ")
    s = s:gsub(" ?([%(%)%*,;{}%[%]]) ?", "%1")
    return (s:gsub("^ ", ""):gsub(" $", ""))
end

-- What a declaration declares: its kind and name.
local function declared(n)
    if n:match("^typedef struct") or n:match("^struct") then return "type", n:match("([%w_]+);$") end
    if n:match("^typedef") then return "type", n:match("%(%*([%w_]+)%)") end
    if n:match("^extern") then return "object", n:match("([%w_]+);$") end
    return "function", n:match("([%w_]+)%(")
end

local function index(text)
    local by_name = {}
    for _, s in ipairs(statements(text)) do
        local n = normalise(s)
        if n ~= "" and n ~= ";" then
            local kind, name = declared(n)
            if name then by_name[name] = { kind = kind, text = n } end
        end
    end
    return by_name
end

T.test("every declaration of the module is the header's, word for word", function()
    local header = index(read(assert(os.getenv("TQ_HEADER"), "TQ_HEADER unset")))
    local mine = statements(tq._cdef)
    T.ok(#mine > 100, "the module declares " .. #mine .. " things")
    local functions = 0
    for _, s in ipairs(mine) do
        local n = normalise(s)
        local kind, name = declared(n)
        T.ok(name, "a declaration without a name: " .. n)
        local h = header[name]
        T.ok(h, name .. " is not declared by the header")
        T.eq(n, h.text, name .. " as the module declares it")
        if kind == "function" then functions = functions + 1 end
    end
    T.ok(functions > 90, functions .. " functions")
end)

T.test("every library function the module calls is declared", function()
    local src = read(T.source_dir .. "/bindings/lua/tqmovie.lua")
    local decl = index(tq._cdef)
    local used = 0
    for name in src:gmatch("C%.([%w_]+)") do
        if name:match("^tq") or name:match("^tolvane") then
            T.ok(decl[name], name .. " is called but not declared")
            used = used + 1
        end
    end
    T.ok(used > 80, used .. " calls")
end)

T.test("status codes, sections and progress kinds are the header's", function()
    local h = read(os.getenv("TQ_HEADER"))
    local seen = 0
    for name, value in h:gmatch("#define TQMOVIE_ERR_([%u_]+)%s+(%d+)") do
        T.eq(tq.status[name], tonumber(value), "tq.status." .. name)
        seen = seen + 1
    end
    T.eq(tq.status.OK, tonumber(h:match("#define TQMOVIE_OK (%d+)")), "tq.status.OK")
    for name, value in h:gmatch("#define TQMOVIE_DETAIL_(%u+)%s+(%d+)u") do
        T.eq(tq.sections[name:lower()], tonumber(value), "tq.sections." .. name:lower())
        seen = seen + 1
    end
    for name, value in h:gmatch("#define TQMOVIE_PROGRESS_([%u_]+)%s+(%d+)") do
        T.eq(tq.progress[name:lower()], tonumber(value), "tq.progress." .. name:lower())
        seen = seen + 1
    end
    T.eq(seen, 9 + 5 + 3, "constants compared")
    local text, number = tq.version()
    T.eq(text, h:match('#define TQMOVIE_VERSION_STRING "([^"]+)"'), "version")
    T.ok(number >= 0x000200, "version number")
end)

-- ---------------------------------------------------------------------------------
-- Records through the fixture backend
-- ---------------------------------------------------------------------------------

T.test("detail record from the fixtures, built through the getters", function()
    local c = assert(tq.client { fixtures = FIX })
    local r, msg, status = c:detail("tt0111161")
    T.ok(r, msg)
    T.eq(status, nil, "status on success")
    T.eq(r.imdb_id, "tt0111161", "imdb_id")
    T.eq(r.title, "The Shawshank Redemption", "title")
    T.eq(r.start_year, 1994, "start_year")
    T.eq(r.end_year, nil, "end_year of a film")
    T.eq(r.runtime, 142, "runtime")
    T.eq(r.is_tv, false, "is_tv")
    T.ok(math.abs(r.imdb_rating - 9.3) < 1e-9, "rating " .. tostring(r.imdb_rating))
    T.eq(r.directors, "Frank Darabont", "directors")
    T.eq(r.genres, "Drama", "genres")
    T.eq(#r.cast, 7, "cast")
    T.eq(r.cast[1].name, "Tim Robbins", "first cast member")
    T.eq(r.cast[1].role, "Andy Dufresne", "first role")
    T.eq(r.cast[2].birthday, "1937-06-01", "a birthday")
    T.eq(r.related[1], "tt0068646", "first related title")
    T.ok(#r.pictures > 0 and r.pictures[1].url and r.pictures[1].width >= 0, "pictures")
    T.ok(#r.providers > 0 and r.providers[1].name, "providers")
    T.ok(#r.videos > 0 and r.videos[1].key, "videos")
    for _, rec in ipairs({ r, r.cast[1], r.pictures[1] }) do
        for k, v in pairs(rec) do T.ok(type(v) ~= "cdata", k .. " is a plain Lua value") end
    end
    c:close()
end)

T.test("a series, sections, a language and a basic record", function()
    local c = assert(tq.client { fixtures = FIX })
    local r = assert(c:detail("tt0903747", { sections = "cast", language = "en-US" }))
    T.eq(r.title, "Breaking Bad", "title")
    T.eq(r.is_tv, true, "is_tv")
    T.eq(r.start_year, 2008, "start_year")
    T.eq(r.end_year, 2013, "end_year")
    T.ok(#r.cast > 0, "cast asked for")
    T.eq(#r.pictures, 0, "pictures not asked for")
    T.eq(#r.videos, 0, "videos not asked for")
    local r2 = assert(c:detail("tt0903747", { sections = { "pictures", "videos" } }))
    T.ok(#r2.pictures > 0 and #r2.cast == 0, "sections as a list")
    local r3 = assert(c:detail("tt0903747", { sections = tq.sections.providers }))
    T.ok(#r3.providers > 0 and #r3.cast == 0, "sections as a mask")
    T.raises(function() c:detail("tt0903747", { sections = "cast,posters" }) end, "unknown section posters")
    local b = assert(c:basic("tt0111161"))
    T.eq(b.title, "The Shawshank Redemption", "basic title")
    T.eq(b.year, 1994, "basic year")
    T.eq(b.genres[1], "Drama", "basic genres")
    T.eq(b.directors[1], "Frank Darabont", "basic directors")
    T.ok(#b.ratings > 0 and type(b.ratings[1].value) == "number", "ratings")
end)

T.test("basics and details in batches, with progress", function()
    local c = assert(tq.client { fixtures = FIX, batch_size = 1 })
    local recs = assert(c:basics({ "tt0111161", "tt0068646" }))
    local ids = {}
    for _, r in ipairs(recs) do ids[r.imdb_id] = r.title end
    T.eq(ids.tt0111161, "The Shawshank Redemption", "basics")
    T.eq(ids.tt0068646, "The Godfather", "basics")
    local events = {}
    local ds = assert(c:details({ "tt0111161", "tt0068646", "tt0468569" }, {
        sections = "cast",
        progress = function(ev) events[#events + 1] = ev end,
    }))
    T.eq(#ds, 3, "details")
    T.eq(ds[3].title, "The Dark Knight", "third detail record")
    T.eq(#events, 3, "progress events (batch size 1)")
    for i, ev in ipairs(events) do
        T.eq(ev.kind, tq.progress.chunk_done, "event kind")
        T.eq(ev.done, i, "done")
        T.eq(ev.total, 3, "total")
        T.eq(ev.status, 0, "chunk status")
    end
    -- A progress function returning true cancels the batch.
    local r, msg, status = c:details({ "tt0111161", "tt0068646", "tt0468569" }, {
        progress = function(ev) return ev.done == 1 end,
    })
    T.eq(r, nil, "cancelled batch")
    T.eq(status, tq.status.CANCELLED, "status")
    T.eq(msg, "cancelled", "text")
    -- An error in the progress function comes out of the call, the client intact.
    T.raises(function()
        c:details({ "tt0111161", "tt0068646" }, { progress = function() error("boom in progress") end })
    end, "boom in progress")
    T.eq(tq.C.tqmovie_current(), nil, "current client given back after the error")
    T.ok(c:detail("tt0111161"), "the client works after the error")
end)

-- ---------------------------------------------------------------------------------
-- Errors
-- ---------------------------------------------------------------------------------

T.test("errors: bad id, not found, no backend, wrong types", function()
    local c = assert(tq.client { fixtures = FIX })
    local r, msg, status, not_found = c:detail("")
    T.eq(r, nil, "empty id")
    T.eq(msg, "imdb_id required", "text")
    T.eq(status, tq.status.ARG, "status")
    T.eq(not_found, false, "not_found for a bad id")

    r, msg, status, not_found = c:detail("tt0000001")
    T.eq(r, nil, "unknown title")
    T.ok(status == tq.status.HTTP or status == tq.status.TRANSPORT, "status " .. tostring(status))
    T.match(msg, "not found", "text") -- the fixture backend's own text
    T.eq(not_found, true, "not_found for a missing fixture")

    r, msg, status = c:basics({ "tt0111161", "tt01,68646" })
    T.eq(r, nil, "an id holding a comma")
    T.eq(status, tq.status.ARG, "status")
    T.match(msg, "contains a comma", "text")
    r, msg, status = c:basics({})
    T.eq(status, tq.status.ARG, "no ids")
    T.eq(msg, "ids required", "text")

    local bare = assert(tq.client())
    r, msg, status, not_found = bare:detail("tt0111161")
    T.eq(r, nil, "no backend")
    T.eq(status, tq.status.NO_IO, "status")
    T.eq(msg, "no IO backend set", "text")
    T.eq(not_found, false, "not_found without a backend")

    T.raises(function() c:detail(42) end, "id must be a string")
    T.raises(function() c:detail("tt0111161", "en-US") end, "options must be a table")
    T.raises(function() c:basics("tt0111161") end, "ids must be a list")
    T.raises(function() c:basics({ "tt0111161", 7 }) end, "ids[2] must be a string")
    T.raises(function() c:set_deadline(-1) end, "deadline must be")
    T.raises(function() tq.client("fixtures") end, "options must be a table")
end)

T.test("a store that cannot be opened is an error, not a crash", function()
    local dir = T.mkdir(T.tmp .. "/not-a-store")
    T.write(dir .. "/junk.db", string.rep("this is not SQLite\n", 200))
    local c, msg, status = tq.client { fixtures = FIX, store = dir .. "/junk.db" }
    T.eq(c, nil, "client with a bad store")
    T.eq(status, tq.status.FILE, "status")
    T.match(msg, "junk.db", "text")
    local c2 = assert(tq.client { fixtures = FIX, store = { path = dir .. "/junk.db", move_aside = true } })
    T.ok(T.exists(dir .. "/junk.db.bad"), "moved aside")
    T.ok(c2:detail("tt0111161"), "lookup with the new store")
end)

-- ---------------------------------------------------------------------------------
-- The current client
-- ---------------------------------------------------------------------------------

T.test("each call makes its client current and gives the previous one back", function()
    local C = tq.C
    local c = assert(tq.client { fixtures = FIX })
    T.eq(C.tqmovie_current(), nil, "the thread starts on the global state")
    assert(c:detail("tt0111161"))
    T.eq(C.tqmovie_current(), nil, "global state again after a lookup")
    -- A host's own client stays current around the module's calls.
    local host = C.tqmovie_client_new()
    C.tqmovie_use(host)
    C.tqmovie_set_host("http://host.invalid")
    assert(c:detail("tt0068646"))
    assert(c:details({ "tt0068646" }, { progress = function() end }))
    local r, _, status = c:detail("")
    T.eq(status, tq.status.ARG, "a failing call")
    T.ok(C.tqmovie_current() == host, "the host's client is current again")
    T.eq(C.tqmovie_detail_count(), 0, "and its store was not touched")
    C.tqmovie_use(nil)
    C.tqmovie_client_free(host)
    -- Two module clients keep their own settings and caches.
    local other = assert(tq.client())
    T.eq(select(3, other:detail("tt0111161")), tq.status.NO_IO, "the other client has no backend")
    T.ok(c:detail("tt0111161"), "this one has")
    T.eq(r, nil)
end)

-- ---------------------------------------------------------------------------------
-- The garbage collector and close()
-- ---------------------------------------------------------------------------------

T.test("collectgarbage() frees dropped clients; close() is idempotent", function()
    collectgarbage()
    collectgarbage()
    local base = tq._live()
    collectgarbage("stop")
    for _ = 1, 200 do
        local c = tq.client { fixtures = FIX }
        assert(c:detail("tt0111161"))
    end
    T.eq(tq._live(), base + 200, "clients alive before collection")
    collectgarbage("restart")
    collectgarbage()
    collectgarbage()
    T.eq(tq._live(), base, "every dropped client freed by its finaliser")

    local c = assert(tq.client { fixtures = FIX })
    T.eq(tq._live(), base + 1, "one more")
    c:close()
    T.eq(tq._live(), base, "closed")
    c:close()
    T.eq(c:is_open(), false, "is_open after close")
    T.raises(function() c:detail("tt0111161") end, "closed", "a lookup after close")
    c = nil
    collectgarbage()
    collectgarbage()
    T.eq(tq._live(), base, "the finaliser of a closed client frees nothing twice")
end)

T.test("a finaliser firing during the client's own progress callback waits for the call", function()
    collectgarbage()
    collectgarbage()
    local base, deferred0 = tq._live(), tq._deferred()
    local seen = {}
    -- The client is unreachable once the call starts: only the call holds its state.
    local recs = tq.client({ fixtures = FIX, batch_size = 1 }):details(
        { "tt0111161", "tt0068646", "tt0468569" },
        {
            progress = function(ev)
                collectgarbage()
                collectgarbage()
                seen[#seen + 1] = { live = tq._live(), deferred = tq._deferred(), done = ev.done }
            end,
        })
    T.ok(recs, "the batch went through")
    T.eq(#recs, 3, "records")
    T.eq(recs[3].title, "The Dark Knight", "records read after the finaliser fired")
    T.eq(#seen, 3, "progress events")
    T.eq(seen[1].deferred, deferred0 + 1, "the finaliser fired inside the callback and was deferred")
    for _, s in ipairs(seen) do T.eq(s.live, base + 1, "the client stays alive during the call") end
    T.eq(tq._live(), base, "freed when the call returned")
    T.eq(tq.C.tqmovie_current(), nil, "current client given back")
end)

T.test("clients dropped at once while their lookups build records", function()
    collectgarbage()
    collectgarbage()
    local base, deferred0 = tq._live(), tq._deferred()
    -- Each client is unreachable from the moment its lookup starts and the collector
    -- runs while records are built (a finaliser may fire during its own client's call;
    -- the progress tests below make that happen for certain).
    for i = 1, 3000 do
        local r = tq.client({ fixtures = FIX }):detail(i % 2 == 0 and "tt0111161" or "tt0903747")
        if not r or not r.title or #r.cast == 0 then error("lookup " .. i .. " failed") end
    end
    collectgarbage()
    collectgarbage()
    T.eq(tq._live(), base, "every client freed")
    T.eq(tq.C.tqmovie_current(), nil, "no client left current")
    T.ok(tq._deferred() >= deferred0, "deferred frees counted")
end)

T.test("close() inside the client's own progress callback waits for the call", function()
    local base, deferred0 = tq._live(), tq._deferred()
    local c = assert(tq.client { fixtures = FIX, batch_size = 1 })
    local during = {}
    local recs = c:details({ "tt0111161", "tt0068646" }, {
        progress = function(ev)
            c:close()
            during[#during + 1] = tq._live()
            -- a new operation on a closing client is refused
            local ok, err = pcall(function() return c:detail("tt0111161") end)
            during.refused = not ok and tostring(err):find("closed", 1, true) ~= nil
        end,
    })
    T.ok(recs and #recs == 2, "the running batch ended normally")
    T.eq(during[1], base + 1, "not freed inside the callback")
    T.eq(during.refused, true, "new calls refused while closing")
    T.eq(tq._deferred(), deferred0 + 1, "one deferred free")
    T.eq(tq._live(), base, "freed after the call")
end)

T.test("a finaliser of another client may run inside a callback", function()
    collectgarbage()
    collectgarbage()
    local base = tq._live()
    local c = assert(tq.client { fixtures = FIX, batch_size = 1 })
    local victims = {}
    for i = 1, 20 do victims[i] = tq.client { fixtures = FIX } end
    local freed_inside
    assert(c:details({ "tt0111161", "tt0068646" }, {
        progress = function()
            victims = nil
            collectgarbage()
            collectgarbage()
            freed_inside = freed_inside or tq._live()
        end,
    }))
    T.eq(freed_inside, base + 1, "the other clients were freed inside the callback")
    T.ok(c:detail("tt0111161"), "the client goes on")
end)

-- ---------------------------------------------------------------------------------
-- Ids from files
-- ---------------------------------------------------------------------------------

T.test("id_for_file and id_in_text", function()
    local root = T.mkdir(T.tmp .. "/library/Heat (1995) [imdbid-tt0113277]")
    local film = T.write(root .. "/Heat.mkv", "")
    T.eq(select(1, tq.id_for_file(film)), "tt0113277", "id from the folder")
    T.eq(select(2, tq.id_for_file(film)), "folder", "source")
    local named = T.write(root .. "/The.Godfather.1972.tt0068646.mkv", "")
    local id, source = tq.id_for_file(named)
    T.eq(id, "tt0068646", "id from the name")
    T.eq(source, "name", "source")
    T.write(root .. "/Heat.nfo", '<movie><uniqueid type="imdb">tt0111161</uniqueid></movie>')
    id, source = tq.id_for_file(film)
    T.eq(id, "tt0111161", "id from the sidecar")
    T.eq(source, "sidecar", "source")
    local plain = T.write(T.mkdir(T.tmp .. "/library/home videos") .. "/beach.mkv", "")
    local none, msg = tq.id_for_file(plain)
    T.eq(none, nil, "no id")
    T.eq(msg, "no IMDb id found for " .. plain, "text")
    T.eq(tq.id_in_text("https://m.imdb.com/title/tt0468569/"), "tt0468569", "id_in_text")
    T.eq(tq.id_in_text("butt1234567"), nil, "no id in text")
    T.raises(function() tq.id_for_file(nil) end, "path must be a string")
    local c = assert(tq.client())
    T.eq(c:id_for_file(named), "tt0068646", "the client's id_for_file")
end)

-- ---------------------------------------------------------------------------------
-- The stand-in service over the pooled HTTP backend
-- ---------------------------------------------------------------------------------

local function need_service()
    if not T.service_path then
        print("  (skipped: the stand-in service was not built)")
        return false
    end
    return true
end

T.test("pooled HTTP against the stand-in: records, not found, HTTP status", function()
    if not need_service() then return end
    local s = T.service("--fixtures " .. T.sh_quote(FIX))
    local c = assert(tq.client { http = { host = s.url, connect_timeout_ms = 2000, user_agent = "lua-test/1" } })
    local r = assert(c:detail("tt0068646", { sections = "cast" }))
    T.eq(r.title, "The Godfather", "title over HTTP")
    T.eq(c:last_http_code(), 200, "HTTP status")
    T.eq(c:last_stale(), 0, "fresh")
    local again = assert(c:detail("tt0068646", { sections = "cast" }))
    T.eq(again.title, r.title, "from the cache")
    T.eq(c:last_http_code(), 0, "no request for a cached title")
    local recs = assert(c:basics({ "tt0111161", "tt0903747" }))
    T.eq(#recs, 2, "basics over HTTP")
    local none, msg, status, not_found = c:detail("tt0000001")
    T.eq(none, nil, "unknown title")
    T.eq(status, tq.status.HTTP, "status")
    T.eq(msg, "HTTP 404", "text")
    T.eq(not_found, true, "not_found over HTTP")
    -- Switching backends releases the pooled one; a fixture client goes on.
    assert(c:use_fixtures(FIX))
    T.eq(assert(c:detail("tt0111161")).title, "The Shawshank Redemption", "after switching")
    assert(c:use_http { host = s.url })
    T.eq(assert(c:detail("tt0110912")).title, "Pulp Fiction", "back on HTTP")
end)

T.test("synthetic stand-in: any well-formed id, a bad id, a refused connection", function()
    if not need_service() then return end
    local s = T.service("--synthetic")
    local c = assert(tq.client { http = { host = s.url } })
    local r = assert(c:detail("tt1000002"))
    T.eq(r.imdb_id, "tt1000002", "a synthetic title")
    T.eq(r.is_tv, false, "even last digit: a film")
    T.eq(assert(c:detail("tt1000003")).is_tv, true, "odd last digit: a series")
    local recs = assert(c:details({ "tt1000004", "tt1000005", "tt1000006" }, { sections = "cast" }))
    T.eq(#recs, 3, "a synthetic batch")
    local none, msg, status, not_found = c:detail("not-an-id")
    T.eq(none, nil, "a malformed id")
    T.eq(status, tq.status.HTTP, "status")
    T.eq(msg, "HTTP 400", "the stand-in refuses a malformed id")
    T.eq(not_found, false, "a bad request is not 'not found'")
    none, msg, status, not_found = c:detail("tt12")
    T.eq(msg, "HTTP 404", "an id naming no title")
    T.eq(not_found, true, "not found")
    local dead = assert(tq.client { http = { host = T.dead_url(), connect_timeout_ms = 1000 } })
    none, msg, status, not_found = dead:detail("tt0111161")
    T.eq(none, nil, "refused connection")
    T.eq(status, tq.status.TRANSPORT, "status")
    T.match(msg, "^transport: ", "text")
    T.eq(not_found, false, "a refused connection is not 'not found'")
end)

T.test("the deadline ends a stalled lookup", function()
    if not need_service() then return end
    local s = T.service("--synthetic --delay 3000")
    local c = assert(tq.client { http = { host = s.url }, deadline_ms = 300 })
    local t0 = T.now()
    local r, msg, status, not_found = c:detail("tt1000002")
    local took = T.now() - t0
    T.eq(r, nil, "no record")
    T.eq(status, tq.status.TRANSPORT, "status")
    T.eq(msg, "deadline exceeded", "text")
    T.eq(not_found, false, "not_found")
    T.ok(took < 1.0, string.format("took %.3f s", took))
end)

T.test("a store keeps records for the next client and process", function()
    if not need_service() then return end
    local s = T.service("--fixtures " .. T.sh_quote(FIX))
    local path = os.getenv("XDG_CACHE_HOME") .. "/lua-test/deep/tqmovie.db"
    local c = assert(tq.client { http = { host = s.url }, store = path })
    assert(c:detail("tt0133093"))
    T.ok(T.exists(path), "the store file and its folders were made")
    c:close()
    s.stop()
    -- Same service address, nothing listening: the store answers.
    local c2 = assert(tq.client { http = { host = s.url }, store = path })
    local r, msg = c2:detail("tt0133093")
    T.ok(r, "from the store: " .. tostring(msg))
    T.eq(r.title, "The Matrix", "title")
    T.eq(c2:last_http_code(), 0, "no request")
    local off = assert(tq.client { http = { host = s.url }, store = path, offline = true })
    T.eq(assert(off:detail("tt0133093")).title, "The Matrix", "offline from the store")
    local _, omsg, ostatus = off:detail("tt0111161")
    T.eq(ostatus, tq.status.TRANSPORT, "offline, not held")
    T.eq(omsg, "offline: not cached", "text")
    -- The "~/" form reaches HOME.
    local home = assert(tq.client { fixtures = FIX, store = "~/stores/t.db" })
    assert(home:detail("tt0111161"))
    T.ok(T.exists(os.getenv("HOME") .. "/stores/t.db"), "~/ is the home folder")
end)
