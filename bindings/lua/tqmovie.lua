-- SPDX-License-Identifier: MIT
--[[
tqmovie.lua - film and TV metadata by IMDb id, for LuaJIT.

A LuaJIT FFI module over the C ABI of libtolvane-kelvora-dorvik-movie-client
(include/tqmovie.h): no compiled glue, no JSON. It needs LuaJIT (2.0 or 2.1) and its
`ffi` module; plain Lua 5.1 to 5.4 without FFI is out of scope.

    local tq = require("tqmovie")
    local c = tq.client{ fixtures = "/usr/local/share/tqmovie/fixtures" }
    local film, msg, status, not_found = c:detail("tt0111161", { sections = "cast" })
    if film then print(film.title, film.start_year, film.cast[1].name) end
    c:close()                          -- or leave it to the garbage collector

The library is the file named by the environment variable TQMOVIE_LIBRARY when it is
set; otherwise libtolvane-kelvora-dorvik-movie-client.so.0 through the system loader
(an installed copy, or LD_LIBRARY_PATH), and last a copy of that file beside this
module. bindings/lua/README.md documents every call; in short:

  tq.client(opts)             a client (tqmovie_client_new). opts (all optional):
                              fixtures = DIR | http = {host=, connect_timeout_ms=, ...},
                              host = URL, store = PATH | {path=, read_only=, ...},
                              deadline_ms = MS, retry = {N, MAX_WAIT_MS},
                              stale_if_error = S, offline = BOOL, batch_size = N
  c:use_fixtures(dir)         the fixture backend (tolvane_io_fake)
  c:use_http(opts)            the pooled HTTP backend (tolvane_io_curl_pooled) with its
                              options (tqmovie_http_options) and opts.host
  c:set_host(url), c:set_deadline(ms), c:set_retry(n, max_wait_ms),
  c:set_stale_if_error(s), c:set_offline(on), c:set_batch_size(n)
  c:open_store(path, opts)    a store behind the cache (tqmovie_store_open)
  c:detail(id, {language=, sections=})   a table, or nil, message, status, not_found
  c:basic(id, {language=})    the same for a basic record
  c:basics(ids, {progress=}), c:details(ids, {sections=, progress=})
                              an array of tables (batches; progress(event) returning
                              true cancels)
  c:cancel(), c:close()
  tq.id_for_file(path)        id, source ("sidecar", "name" or "folder"), or nil, message
  tq.id_in_text(text)         id, or nil, message

Errors: a lookup that fails returns nil, the library's error text, its status code
(tq.status) and a fourth value, not_found: true when the service has no such title
(tqmovie_last_not_found: an HTTP 404, a missing fixture file), else false. Wrong
argument types raise a Lua error.

Clients and threads: every call of the library acts on the thread's current client.
Each method makes its client current (tqmovie_use), calls, and makes the previous one
current again, so a host's own current client is left as it was.

Freeing: a client is released by c:close() or, when unreachable, by the garbage
collector (an ffi.gc finaliser). A finaliser may run inside any callback, a progress
callback of that very client included; so the module frees a client only when none of
its operations is running: while one runs the client is "busy", and a close() or a
finaliser that comes then is carried out when the operation returns.

Callbacks: only the batch calls (basics, details) install a progress callback, and
only those are kept out of the JIT compiler (jit.off), as LuaJIT requires of a Lua
function that a C function calls back. The single-title calls install none and are
compiled like any other Lua code.
]]

local ffi = require("ffi")
local bit = require("bit")

local M = { _VERSION = "0.2.0" }

-- What the module uses of include/tqmovie.h, declared as the header declares it
-- (bindings/lua/tests/test_module.lua checks every declaration against the header).
M._cdef = [[
typedef struct tq_io {
    void *ctx;
    int32_t (*get)(void *ctx, const char *url, char **body, int32_t *status, char **err);
    int32_t (*post)(void *ctx, const char *url, const char *request_body, const char *content_type, char **body,
                    int32_t *status, char **err);
    void (*free)(void *ctx, void *ptr);
} tq_io;
typedef struct tqmovie_client tqmovie_client;
typedef struct tqmovie_progress {
    size_t size;
    int32_t kind;
    int32_t status;
    uint64_t done;
    uint64_t total;
    uint32_t wait_ms;
    int32_t http_code;
} tqmovie_progress;
typedef int (*tqmovie_progress_fn)(const tqmovie_progress *event, void *user);
typedef struct tqmovie_http_options {
    size_t size;
    int64_t connect_timeout_ms;
    int64_t timeout_ms;
    int64_t low_speed_bytes;
    int64_t low_speed_seconds;
    uint64_t max_body_bytes;
    int32_t max_redirects;
    int32_t no_compression;
    const char *proxy;
    const char *ca_file;
    const char *ca_path;
    const char *user_agent;
} tqmovie_http_options;
typedef struct tqmovie_store tqmovie_store;
typedef struct tqmovie_store_options {
    size_t size;
    uint64_t max_titles;
    int32_t read_only;
    int32_t on_bad_file;
} tqmovie_store_options;

const char *tqmovie_version(void);
uint32_t tqmovie_version_number(void);
void tqmovie_set_io(const tq_io *io);
void tqmovie_set_host(const char *host);
const char *tqmovie_last_error(void);
int32_t tqmovie_last_http_code(void);
int32_t tqmovie_get_basic(const char *imdb_id, const char *language);
int32_t tqmovie_get_detail(const char *imdb_id, const char *language, uint32_t sections);
int32_t tqmovie_get_basics(const char *const *ids, size_t count);
int32_t tqmovie_get_details(const char *const *ids, size_t count, const char *unused, int32_t sections);
void tqmovie_set_batch_ceiling(uint64_t n);

int32_t tqmovie_basic_count(void);
const char *tqmovie_basic_imdb_id(int32_t i);
const char *tqmovie_basic_title(int32_t i);
const char *tqmovie_basic_tagline(int32_t i);
const char *tqmovie_basic_plot(int32_t i);
const char *tqmovie_basic_poster_url(int32_t i);
const char *tqmovie_basic_picture_url(int32_t i);
int32_t tqmovie_basic_id(int32_t i);
int32_t tqmovie_basic_year(int32_t i);
int32_t tqmovie_basic_duration(int32_t i);
int32_t tqmovie_basic_is_tv(int32_t i);
int32_t tqmovie_basic_directors_count(int32_t i);
const char *tqmovie_basic_director(int32_t i, int32_t j);
int32_t tqmovie_basic_genres_count(int32_t i);
const char *tqmovie_basic_genre(int32_t i, int32_t j);
int32_t tqmovie_basic_ratings_count(int32_t i);
const char *tqmovie_basic_rating_source(int32_t i, int32_t j);
double tqmovie_basic_rating_value(int32_t i, int32_t j);

int32_t tqmovie_detail_count(void);
const char *tqmovie_detail_imdb_id(int32_t i);
const char *tqmovie_detail_title(int32_t i);
const char *tqmovie_detail_original_title(int32_t i);
const char *tqmovie_detail_tagline(int32_t i);
const char *tqmovie_detail_plot(int32_t i);
const char *tqmovie_detail_poster_url(int32_t i);
const char *tqmovie_detail_picture_url(int32_t i);
const char *tqmovie_detail_title_type(int32_t i);
const char *tqmovie_detail_genres(int32_t i);
const char *tqmovie_detail_directors(int32_t i);
const char *tqmovie_detail_trailer_url(int32_t i);
const char *tqmovie_detail_extension1(int32_t i);
int32_t tqmovie_detail_id(int32_t i);
int32_t tqmovie_detail_start_year(int32_t i);
int32_t tqmovie_detail_end_year(int32_t i);
int32_t tqmovie_detail_runtime(int32_t i);
int32_t tqmovie_detail_is_tv(int32_t i);
double tqmovie_detail_imdb_rating(int32_t i);
int32_t tqmovie_detail_cast_count(int32_t i);
const char *tqmovie_detail_cast_name(int32_t i, int32_t j);
const char *tqmovie_detail_cast_id(int32_t i, int32_t j);
const char *tqmovie_detail_cast_poster(int32_t i, int32_t j);
const char *tqmovie_detail_cast_role(int32_t i, int32_t j);
const char *tqmovie_detail_cast_birthday(int32_t i, int32_t j);
int32_t tqmovie_detail_picture_count(int32_t i);
const char *tqmovie_detail_picture_item_url(int32_t i, int32_t j);
const char *tqmovie_detail_picture_item_lang(int32_t i, int32_t j);
int32_t tqmovie_detail_picture_item_w(int32_t i, int32_t j);
int32_t tqmovie_detail_picture_item_h(int32_t i, int32_t j);
int32_t tqmovie_detail_provider_count(int32_t i);
const char *tqmovie_detail_provider_name(int32_t i, int32_t j);
const char *tqmovie_detail_provider_country(int32_t i, int32_t j);
const char *tqmovie_detail_provider_type(int32_t i, int32_t j);
const char *tqmovie_detail_provider_logo(int32_t i, int32_t j);
const char *tqmovie_detail_provider_id(int32_t i, int32_t j);
int32_t tqmovie_detail_provider_priority(int32_t i, int32_t j);
int32_t tqmovie_detail_video_count(int32_t i);
const char *tqmovie_detail_video_name(int32_t i, int32_t j);
const char *tqmovie_detail_video_key(int32_t i, int32_t j);
const char *tqmovie_detail_video_site(int32_t i, int32_t j);
const char *tqmovie_detail_video_type(int32_t i, int32_t j);
const char *tqmovie_detail_video_id(int32_t i, int32_t j);
const char *tqmovie_detail_video_lang(int32_t i, int32_t j);
const char *tqmovie_detail_video_region(int32_t i, int32_t j);
int32_t tqmovie_detail_video_size(int32_t i, int32_t j);
int32_t tqmovie_detail_related_count(int32_t i);
const char *tqmovie_detail_related_id(int32_t i, int32_t j);

tq_io tolvane_io_fake(const char *dir);
tqmovie_client *tqmovie_client_new(void);
void tqmovie_client_free(tqmovie_client *c);
tqmovie_client *tqmovie_use(tqmovie_client *c);
tqmovie_client *tqmovie_current(void);
void tqmovie_cancel(tqmovie_client *c);
void tqmovie_set_progress(tqmovie_progress_fn fn, void *user);
void tqmovie_set_retry(uint32_t retries, uint32_t max_wait_ms);
void tqmovie_set_deadline(uint32_t ms);
void tqmovie_http_options_init(tqmovie_http_options *o, size_t size);
tq_io tolvane_io_curl_pooled(const tqmovie_http_options *options);
void tolvane_io_curl_pooled_free(tq_io *io);
void tqmovie_store_options_init(tqmovie_store_options *o, size_t size);
tqmovie_store *tqmovie_store_open(const char *path, const tqmovie_store_options *options);
int32_t tqmovie_store_close(tqmovie_store *s);
int32_t tqmovie_set_store(tqmovie_store *s);
int32_t tqmovie_set_stale_if_error(int64_t max_stale_seconds);
int64_t tqmovie_last_stale(void);
int32_t tqmovie_set_offline(int32_t on);
int32_t tqmovie_id_in_text(const char *text, size_t len, char *out, size_t out_size);
int32_t tqmovie_id_for_file(const char *path, char *out, size_t out_size, int32_t *source);
int32_t tqmovie_last_not_found(void);
]]
ffi.cdef(M._cdef)

-- From the C library: making the store's folder (already declared when another
-- module of this Lua state did so first).
pcall(ffi.cdef, "int mkdir(const char *path, unsigned int mode);")

local SONAME = "libtolvane-kelvora-dorvik-movie-client.so.0"
M.SONAME = SONAME

-- The directory this file was loaded from ("" when unknown), for a library copied
-- beside it.
local function module_dir()
    local src = debug.getinfo(1, "S").source
    if src:sub(1, 1) ~= "@" then return "" end
    return src:sub(2):match("^(.*/)") or "./"
end

local function load_library()
    local path = os.getenv("TQMOVIE_LIBRARY")
    if path and path ~= "" then
        local ok, lib = pcall(ffi.load, path)
        if not ok then error("tqmovie: cannot load TQMOVIE_LIBRARY=" .. path .. ": " .. tostring(lib), 0) end
        return lib, path
    end
    local ok, lib = pcall(ffi.load, SONAME)
    if ok then return lib, SONAME end
    local beside = module_dir() .. SONAME
    local ok2, lib2 = pcall(ffi.load, beside)
    if ok2 then return lib2, beside end
    error("tqmovie: cannot load " .. SONAME .. " (install the library, set LD_LIBRARY_PATH, " ..
          "set TQMOVIE_LIBRARY to its file, or copy it beside tqmovie.lua): " .. tostring(lib), 0)
end

local C, library_path = load_library()
M.library_path = library_path

-- What this module declares is the 0.2 header's: any 0.x library from 0.2.0 on will do.
do
    local n = tonumber(C.tqmovie_version_number())
    if bit.rshift(n, 16) ~= 0 or n < 0x000200 then
        error(string.format("tqmovie: %s is version %s; this module needs 0.2.0 or a later 0.x", library_path,
            ffi.string(C.tqmovie_version())), 0)
    end
end
M.C = C -- the raw library, for what the module does not wrap

-- Status codes (tqmovie.h section 2).
M.status = {
    OK = 0, TRANSPORT = 1, HTTP = 2, PARSE = 3, EMPTY = 4, ARG = 6, NO_IO = 7,
    NOMEM = 8, CANCELLED = 9, FILE = 10,
}
-- Detail sections.
M.sections = { cast = 1, pictures = 2, providers = 4, videos = 8, all = 65535 }
-- Progress event kinds.
M.progress = { chunk_done = 1, retry_wait = 2, rate_wait = 3 }

local SOURCES = { [1] = "sidecar", [2] = "name", [3] = "folder" }

local NULL = nil
local ffi_string = ffi.string

--- The loaded library's version text ("0.2.0") and number (0x000200).
function M.version()
    return ffi_string(C.tqmovie_version()), tonumber(C.tqmovie_version_number())
end

-- A text the library returns, as a Lua string; nil for NULL.
local function str(p)
    if p == NULL then return nil end
    return ffi_string(p)
end

-- A year, runtime and the like: nil for the library's "absent" (-1).
local function num(n)
    if n < 0 then return nil end
    return n
end

-- ---------------------------------------------------------------------------------
-- Ids from files and texts (no client needed)
-- ---------------------------------------------------------------------------------

local id_buf = ffi.new("char[16]")
local id_source = ffi.new("int32_t[1]")

--- The IMDb id of a media file: id and where it came from ("sidecar", "name",
--- "folder"), or nil and "no IMDb id found for <path>".
function M.id_for_file(path)
    if type(path) ~= "string" then error("tqmovie.id_for_file: path must be a string", 2) end
    local n = C.tqmovie_id_for_file(path, id_buf, 16, id_source)
    if n > 0 then return ffi_string(id_buf, n), SOURCES[id_source[0]] end
    if n < 0 then return nil, "bad argument" end
    return nil, "no IMDb id found for " .. path
end

--- The IMDb id a file or folder name, or an .nfo text, names; or nil and a message.
function M.id_in_text(text)
    if type(text) ~= "string" then error("tqmovie.id_in_text: text must be a string", 2) end
    local n = C.tqmovie_id_in_text(text, #text, id_buf, 16)
    if n > 0 then return ffi_string(id_buf, n) end
    return nil, "no IMDb id found"
end

-- ---------------------------------------------------------------------------------
-- Clients
-- ---------------------------------------------------------------------------------

-- A client's state lives in a plain table (st) that its finaliser can reach without
-- reaching the client object: the finaliser is attached to a cdata of its own (the
-- anchor) which only the client object holds, so the object stays collectable.
--   st.c        the tqmovie_client pointer (NULL once freed)
--   st.busy     how many of its operations are running (nested calls count)
--   st.pending  a close() or the finaliser came while busy: free when busy drops to 0
--   st.io       the pooled backend's table (released after the client), or nil
--   st.store    the store (closed after the client), or nil
local live = 0     -- clients made and not yet freed (tq._live())
local deferred = 0 -- frees carried out late because the client was busy (tq._deferred())

local function free_now(st)
    local c = st.c
    if c == NULL then return end
    st.c = NULL
    st.pending = false
    C.tqmovie_client_free(c) -- detaches the store; leaves the backend
    if st.store ~= nil then
        C.tqmovie_store_close(st.store)
        st.store = nil
    end
    if st.io ~= nil then
        C.tolvane_io_curl_pooled_free(st.io)
        st.io = nil
    end
    live = live - 1
end

-- Close or finalise: at once when idle, else when the running operation returns.
local function release(st)
    if st.c == NULL then return end
    if st.busy > 0 then
        if not st.pending then
            st.pending = true
            deferred = deferred + 1
        end
        return
    end
    free_now(st)
end

-- Makes st's client current and marks it busy; returns the previous current client.
local function enter(st, level)
    if st.c == NULL or st.pending then error("tqmovie: the client is closed", level or 3) end
    st.busy = st.busy + 1
    return C.tqmovie_use(st.c)
end

-- Gives the thread its previous client back and carries out a close that came meanwhile.
local function leave(st, prev)
    C.tqmovie_use(prev)
    local busy = st.busy - 1
    st.busy = busy
    if busy == 0 and st.pending then free_now(st) end
end

-- The failure of the call just made on the current client: nil, text, status, not_found.
local function failure(rc)
    local msg = ffi_string(C.tqmovie_last_error())
    if msg == "" then msg = rc == 8 and "out of memory" or ("status " .. tostring(rc)) end
    return nil, msg, tonumber(rc), C.tqmovie_last_not_found() ~= 0
end

local Client = {}
Client.__index = Client

--- A new client. opts: see the top of this file.
function M.client(opts)
    if opts ~= nil and type(opts) ~= "table" then error("tqmovie.client: options must be a table", 2) end
    local c = C.tqmovie_client_new()
    if c == NULL then return nil, "out of memory", 8 end
    live = live + 1
    local st = { c = c, busy = 0, pending = false }
    local anchor = ffi.gc(ffi.cast("void *", c), function() release(st) end)
    local self = setmetatable({ _st = st, _anchor = anchor }, Client)
    opts = opts or {}
    local ok, msg, status
    if opts.fixtures ~= nil then
        self:use_fixtures(opts.fixtures)
    end
    if opts.http ~= nil then
        ok, msg, status = self:use_http(opts.http == true and {} or opts.http)
        if not ok then self:close(); return nil, msg, status end
    end
    if opts.host ~= nil then self:set_host(opts.host) end
    if opts.deadline_ms ~= nil then self:set_deadline(opts.deadline_ms) end
    if opts.retry ~= nil then self:set_retry(opts.retry[1] or opts.retry.retries, opts.retry[2] or opts.retry.max_wait_ms) end
    if opts.stale_if_error ~= nil then self:set_stale_if_error(opts.stale_if_error) end
    if opts.offline ~= nil then self:set_offline(opts.offline) end
    if opts.batch_size ~= nil then self:set_batch_size(opts.batch_size) end
    if opts.store ~= nil then
        local s = opts.store
        if type(s) == "table" then
            ok, msg, status = self:open_store(s.path, s)
        else
            ok, msg, status = self:open_store(s)
        end
        if not ok then self:close(); return nil, msg, status end
    end
    return self
end

--- Releases the client now (or, during one of its own operations, when it returns).
--- Calling it again does nothing.
function Client:close()
    release(self._st)
end

--- true while the client can be used.
function Client:is_open()
    local st = self._st
    return st.c ~= NULL and not st.pending
end

--- The fixture backend (a directory of canned answers). The fixture directory is one
--- buffer for the whole process: the directory given last wins for every client.
function Client:use_fixtures(dir)
    if type(dir) ~= "string" then error("tqmovie: fixtures directory must be a string", 2) end
    local st = self._st
    local prev = enter(st)
    local io = C.tolvane_io_fake(dir)
    C.tqmovie_set_io(io)
    leave(st, prev)
    if st.io ~= nil then
        C.tolvane_io_curl_pooled_free(st.io)
        st.io = nil
    end
    return true
end

local HTTP_NUMBERS = {
    "connect_timeout_ms", "timeout_ms", "low_speed_bytes", "low_speed_seconds", "max_body_bytes",
    "max_redirects",
}
local HTTP_TEXTS = { "proxy", "ca_file", "ca_path", "user_agent" }

--- The pooled HTTP backend. opts: host (the service's base URL) and the fields of
--- tqmovie_http_options (connect_timeout_ms, timeout_ms, low_speed_bytes,
--- low_speed_seconds, max_body_bytes, max_redirects, no_compression, proxy, ca_file,
--- ca_path, user_agent); a field left out takes the library's default.
function Client:use_http(opts)
    opts = opts or {}
    if type(opts) ~= "table" then error("tqmovie: HTTP options must be a table", 2) end
    local o = ffi.new("tqmovie_http_options")
    C.tqmovie_http_options_init(o, ffi.sizeof(o))
    for _, k in ipairs(HTTP_NUMBERS) do
        local v = opts[k]
        if v ~= nil then
            if type(v) ~= "number" then error("tqmovie: HTTP option " .. k .. " must be a number", 2) end
            o[k] = v
        end
    end
    o.no_compression = opts.no_compression and 1 or 0
    for _, k in ipairs(HTTP_TEXTS) do
        local v = opts[k]
        if v ~= nil then
            if type(v) ~= "string" then error("tqmovie: HTTP option " .. k .. " must be a string", 2) end
            o[k] = v -- the Lua string outlives the call, which copies it
        end
    end
    if opts.host ~= nil and type(opts.host) ~= "string" then error("tqmovie: host must be a string", 2) end
    local st = self._st
    local prev = enter(st)
    local io = ffi.new("tq_io[1]")
    io[0] = C.tolvane_io_curl_pooled(o)
    if io[0].get == NULL then
        leave(st, prev)
        return nil, "the HTTP backend could not be made (out of memory?)", M.status.NOMEM
    end
    C.tqmovie_set_io(io)
    if opts.host ~= nil then C.tqmovie_set_host(opts.host) end
    leave(st, prev)
    if st.io ~= nil then C.tolvane_io_curl_pooled_free(st.io) end
    st.io = io
    return true
end

--- The service's base URL (nil: the library's default, https://api.tolvane.com).
function Client:set_host(url)
    if url ~= nil and type(url) ~= "string" then error("tqmovie: host must be a string", 2) end
    local st = self._st
    local prev = enter(st)
    C.tqmovie_set_host(url)
    leave(st, prev)
    return true
end

local function count_arg(v, what)
    if type(v) ~= "number" or v < 0 or v ~= math.floor(v) then
        error("tqmovie: " .. what .. " must be a whole number of at least 0", 3)
    end
    return v
end

--- The longest one lookup or batch may take, in ms (0: no limit).
function Client:set_deadline(ms)
    count_arg(ms, "deadline")
    local st = self._st
    local prev = enter(st)
    C.tqmovie_set_deadline(ms)
    leave(st, prev)
    return true
end

--- Retries after HTTP 429/502/503/504 and failed connects (tqmovie_set_retry).
function Client:set_retry(retries, max_wait_ms)
    count_arg(retries, "retries")
    count_arg(max_wait_ms or 60000, "max_wait_ms")
    local st = self._st
    local prev = enter(st)
    C.tqmovie_set_retry(retries, max_wait_ms or 60000)
    leave(st, prev)
    return true
end

--- Answers with a held record up to `seconds` past its lifetime when the service fails.
function Client:set_stale_if_error(seconds)
    count_arg(seconds, "stale_if_error")
    local st = self._st
    local prev = enter(st)
    local rc = C.tqmovie_set_stale_if_error(seconds)
    local ok, msg, status = true, nil, nil
    if rc ~= 0 then ok, msg, status = failure(rc) end
    leave(st, prev)
    return ok, msg, status
end

--- Offline: send nothing, answer from the cache and the store.
function Client:set_offline(on)
    local st = self._st
    local prev = enter(st)
    C.tqmovie_set_offline(on and 1 or 0)
    leave(st, prev)
    return true
end

--- Most ids per batch request (0: the library's 24).
function Client:set_batch_size(n)
    count_arg(n, "batch size")
    local st = self._st
    local prev = enter(st)
    C.tqmovie_set_batch_ceiling(n)
    leave(st, prev)
    return true
end

-- The folders above path, made when missing (mode 0700, as a cache folder).
local function make_parents(path)
    local i = 1
    while true do
        local j = path:find("/", i + 1, true)
        if not j then break end
        local dir = path:sub(1, j - 1)
        if dir ~= "" then ffi.C.mkdir(dir, 448) end -- 0700; an existing folder is fine
        i = j
    end
end

--- Opens a store (a SQLite file) and sets it behind the client's cache. A leading
--- "~/" is the home folder; missing folders above the file are made. opts: read_only,
--- max_titles, move_aside (rename a file that is not a store to <path>.bad and
--- start a new one). Returns true, or nil, message, status.
function Client:open_store(path, opts)
    if type(path) ~= "string" then error("tqmovie: store path must be a string", 2) end
    opts = opts or {}
    if path:sub(1, 2) == "~/" then path = (os.getenv("HOME") or "") .. path:sub(2) end
    if not opts.read_only then make_parents(path) end
    local o = ffi.new("tqmovie_store_options")
    C.tqmovie_store_options_init(o, ffi.sizeof(o))
    if opts.max_titles then o.max_titles = opts.max_titles end
    o.read_only = opts.read_only and 1 or 0
    o.on_bad_file = opts.move_aside and 1 or 0
    local st = self._st
    local prev = enter(st)
    local s = C.tqmovie_store_open(path, o)
    if s == NULL then
        local msg = ffi_string(C.tqmovie_last_error())
        leave(st, prev)
        return nil, msg, M.status.FILE
    end
    C.tqmovie_set_store(s)
    leave(st, prev)
    if st.store ~= nil then C.tqmovie_store_close(st.store) end
    st.store = s
    return true
end

--- Ends the client's running operation (from a callback; a progress function can
--- also return true).
function Client:cancel()
    local st = self._st
    if st.c ~= NULL then C.tqmovie_cancel(st.c) end
end

-- ---------------------------------------------------------------------------------
-- Records, built through the getters
-- ---------------------------------------------------------------------------------

local function rating(v)
    if v ~= v then return nil end -- NaN: no rating
    return v
end

local function tv(n)
    if n < 0 then return nil end
    return n == 1
end

local function build_basic(i)
    local r = {
        imdb_id = str(C.tqmovie_basic_imdb_id(i)),
        title = str(C.tqmovie_basic_title(i)),
        tagline = str(C.tqmovie_basic_tagline(i)),
        plot = str(C.tqmovie_basic_plot(i)),
        poster_url = str(C.tqmovie_basic_poster_url(i)),
        picture_url = str(C.tqmovie_basic_picture_url(i)),
        id = C.tqmovie_basic_id(i),
        year = num(C.tqmovie_basic_year(i)),
        duration = num(C.tqmovie_basic_duration(i)),
        is_tv = tv(C.tqmovie_basic_is_tv(i)),
    }
    local directors, genres, ratings = {}, {}, {}
    for j = 0, C.tqmovie_basic_directors_count(i) - 1 do directors[j + 1] = str(C.tqmovie_basic_director(i, j)) end
    for j = 0, C.tqmovie_basic_genres_count(i) - 1 do genres[j + 1] = str(C.tqmovie_basic_genre(i, j)) end
    for j = 0, C.tqmovie_basic_ratings_count(i) - 1 do
        ratings[j + 1] = { source = str(C.tqmovie_basic_rating_source(i, j)), value = C.tqmovie_basic_rating_value(i, j) }
    end
    r.directors, r.genres, r.ratings = directors, genres, ratings
    return r
end

local function build_detail(i)
    local r = {
        imdb_id = str(C.tqmovie_detail_imdb_id(i)),
        title = str(C.tqmovie_detail_title(i)),
        original_title = str(C.tqmovie_detail_original_title(i)),
        tagline = str(C.tqmovie_detail_tagline(i)),
        plot = str(C.tqmovie_detail_plot(i)),
        poster_url = str(C.tqmovie_detail_poster_url(i)),
        picture_url = str(C.tqmovie_detail_picture_url(i)),
        title_type = str(C.tqmovie_detail_title_type(i)),
        genres = str(C.tqmovie_detail_genres(i)),
        directors = str(C.tqmovie_detail_directors(i)),
        trailer_url = str(C.tqmovie_detail_trailer_url(i)),
        extension1 = str(C.tqmovie_detail_extension1(i)),
        id = C.tqmovie_detail_id(i),
        start_year = num(C.tqmovie_detail_start_year(i)),
        end_year = num(C.tqmovie_detail_end_year(i)),
        runtime = num(C.tqmovie_detail_runtime(i)),
        is_tv = tv(C.tqmovie_detail_is_tv(i)),
        imdb_rating = rating(C.tqmovie_detail_imdb_rating(i)),
    }
    local cast, pictures, providers, videos, related = {}, {}, {}, {}, {}
    for j = 0, C.tqmovie_detail_cast_count(i) - 1 do
        cast[j + 1] = {
            name = str(C.tqmovie_detail_cast_name(i, j)),
            id = str(C.tqmovie_detail_cast_id(i, j)),
            poster = str(C.tqmovie_detail_cast_poster(i, j)),
            role = str(C.tqmovie_detail_cast_role(i, j)),
            birthday = str(C.tqmovie_detail_cast_birthday(i, j)),
        }
    end
    for j = 0, C.tqmovie_detail_picture_count(i) - 1 do
        pictures[j + 1] = {
            url = str(C.tqmovie_detail_picture_item_url(i, j)),
            language = str(C.tqmovie_detail_picture_item_lang(i, j)),
            width = C.tqmovie_detail_picture_item_w(i, j),
            height = C.tqmovie_detail_picture_item_h(i, j),
        }
    end
    for j = 0, C.tqmovie_detail_provider_count(i) - 1 do
        providers[j + 1] = {
            name = str(C.tqmovie_detail_provider_name(i, j)),
            country = str(C.tqmovie_detail_provider_country(i, j)),
            type = str(C.tqmovie_detail_provider_type(i, j)),
            logo = str(C.tqmovie_detail_provider_logo(i, j)),
            id = str(C.tqmovie_detail_provider_id(i, j)),
            priority = C.tqmovie_detail_provider_priority(i, j),
        }
    end
    for j = 0, C.tqmovie_detail_video_count(i) - 1 do
        videos[j + 1] = {
            name = str(C.tqmovie_detail_video_name(i, j)),
            key = str(C.tqmovie_detail_video_key(i, j)),
            site = str(C.tqmovie_detail_video_site(i, j)),
            type = str(C.tqmovie_detail_video_type(i, j)),
            id = str(C.tqmovie_detail_video_id(i, j)),
            lang = str(C.tqmovie_detail_video_lang(i, j)),
            region = str(C.tqmovie_detail_video_region(i, j)),
            size = C.tqmovie_detail_video_size(i, j),
        }
    end
    for j = 0, C.tqmovie_detail_related_count(i) - 1 do related[j + 1] = str(C.tqmovie_detail_related_id(i, j)) end
    r.cast, r.pictures, r.providers, r.videos, r.related = cast, pictures, providers, videos, related
    return r
end

-- sections: nil (all), a number (the mask), a name or comma-separated names
-- ("cast,providers"), or an array of names.
local section_cache = {}
local function section_mask(s)
    if s == nil then return 0 end
    local t = type(s)
    if t == "number" then return s end
    if t == "string" then
        local m = section_cache[s]
        if m then return m end
        m = 0
        for name in s:gmatch("[^,%s]+") do
            local v = M.sections[name]
            if not v then error("tqmovie: unknown section " .. name, 3) end
            m = bit.bor(m, v)
        end
        section_cache[s] = m
        return m
    end
    if t == "table" then
        local m = 0
        for _, name in ipairs(s) do
            local v = M.sections[name]
            if not v then error("tqmovie: unknown section " .. tostring(name), 3) end
            m = bit.bor(m, v)
        end
        return m
    end
    error("tqmovie: sections must be a number, a string or a list of names", 3)
end

local function lookup_opts(opts)
    if opts == nil then return nil, nil end
    if type(opts) ~= "table" then error("tqmovie: options must be a table", 3) end
    local lang = opts.language
    if lang ~= nil and type(lang) ~= "string" then error("tqmovie: language must be a string", 3) end
    return lang, opts.sections
end

-- The single-title lookups install no callback, so they stay open to the JIT.
local function run_detail(st, id, lang, mask)
    local prev = enter(st, 4)
    local rc = C.tqmovie_get_detail(id, lang, mask)
    local rec, msg, status, not_found
    if rc == 0 then
        rec = build_detail(0)
    else
        rec, msg, status, not_found = failure(rc)
    end
    leave(st, prev)
    return rec, msg, status, not_found
end

local function run_basic(st, id, lang)
    local prev = enter(st, 4)
    local rc = C.tqmovie_get_basic(id, lang)
    local rec, msg, status, not_found
    if rc == 0 then
        rec = build_basic(0)
    else
        rec, msg, status, not_found = failure(rc)
    end
    leave(st, prev)
    return rec, msg, status, not_found
end

--- One title's detail record. opts: language ("en-US" when left out), sections
--- (default all). Returns a table, or nil, message, status, not_found.
function Client:detail(id, opts)
    if type(id) ~= "string" then error("tqmovie: id must be a string", 2) end
    local lang, sections = lookup_opts(opts)
    return run_detail(self._st, id, lang, section_mask(sections))
end

--- One title's basic record. opts: language.
function Client:basic(id, opts)
    if type(id) ~= "string" then error("tqmovie: id must be a string", 2) end
    local lang = lookup_opts(opts)
    return run_basic(self._st, id, lang)
end

-- Batches: the one module-wide progress callback, which finds the call's Lua function
-- through the `user` number. Made once, never freed (LuaJIT has few callback slots).
local calls, next_call = {}, 0
local progress_cb = ffi.cast("tqmovie_progress_fn", function(ev, user)
    local call = calls[tonumber(ffi.cast("intptr_t", user))]
    if call == nil or call.err ~= nil then return 1 end
    local event = {
        kind = ev.kind, status = ev.status, done = tonumber(ev.done), total = tonumber(ev.total),
        wait_ms = tonumber(ev.wait_ms), http_code = ev.http_code,
    }
    local ok, r = pcall(call.fn, event)
    if not ok then
        call.err = r -- raised again once the library has returned
        return 1
    end
    return r and 1 or 0
end)

local function id_array(ids)
    if type(ids) ~= "table" then error("tqmovie: ids must be a list of strings", 4) end
    local n = #ids
    local arr = ffi.new("const char *[?]", n > 0 and n or 1)
    for k = 1, n do
        local v = ids[k]
        if type(v) ~= "string" then error("tqmovie: ids[" .. k .. "] must be a string", 4) end
        arr[k - 1] = v -- the strings stay alive in ids during the call
    end
    return arr, n
end

local function run_batch(st, detail, ids, opts)
    if opts ~= nil and type(opts) ~= "table" then error("tqmovie: options must be a table", 3) end
    opts = opts or {}
    local arr, n = id_array(ids)
    local mask = detail and section_mask(opts.sections) or 0
    local fn = opts.progress
    if fn ~= nil and type(fn) ~= "function" then error("tqmovie: progress must be a function", 3) end
    local prev = enter(st, 4)
    local key, call
    if fn then
        next_call = next_call + 1
        key = next_call
        call = { fn = fn }
        calls[key] = call
        C.tqmovie_set_progress(progress_cb, ffi.cast("void *", key))
    end
    local rc
    if detail then
        rc = C.tqmovie_get_details(arr, n, nil, mask)
    else
        rc = C.tqmovie_get_basics(arr, n)
    end
    if fn then
        C.tqmovie_set_progress(nil, nil)
        calls[key] = nil
    end
    local out, msg, status, not_found
    if rc == 0 then
        out = {}
        local build = detail and build_detail or build_basic
        local count = detail and C.tqmovie_detail_count() or C.tqmovie_basic_count()
        for i = 0, count - 1 do out[i + 1] = build(i) end
    else
        out, msg, status, not_found = failure(rc)
    end
    leave(st, prev)
    if call and call.err ~= nil then error(call.err, 0) end
    return out, msg, status, not_found
end
-- These call back into Lua: LuaJIT must not run them from compiled code.
jit.off(run_batch)

--- Basic records of many titles (one request per batch ceiling ids). opts.progress:
--- a function called after every chunk with an event table (kind, status, done,
--- total, wait_ms, http_code); returning true cancels. Returns an array of tables in
--- the service's order, or nil, message, status, not_found.
function Client:basics(ids, opts)
    return run_batch(self._st, false, ids, opts)
end

--- Detail records of many titles; opts.sections and opts.progress as above.
function Client:details(ids, opts)
    return run_batch(self._st, true, ids, opts)
end

--- The id of a media file (the same as tqmovie.id_for_file).
function Client:id_for_file(path)
    return M.id_for_file(path)
end

--- After the last lookup: the HTTP status (0 without a request) and the staleness
--- of the answer (tqmovie_last_stale: 0 fresh, seconds past its lifetime, -1 failed).
function Client:last_http_code()
    local st = self._st
    local prev = enter(st)
    local v = C.tqmovie_last_http_code()
    leave(st, prev)
    return v
end

function Client:last_stale()
    local st = self._st
    local prev = enter(st)
    local v = tonumber(C.tqmovie_last_stale())
    leave(st, prev)
    return v
end

-- For the tests: clients made and not yet freed, and frees carried out late.
function M._live() return live end
function M._deferred() return deferred end

M.Client = Client
return M
