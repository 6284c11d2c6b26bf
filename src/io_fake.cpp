// SPDX-License-Identifier: MIT
// io_fake: a transport backend that answers the service's requests from a directory of
// canned JSON files, so that every lookup runs offline and reproducibly.
//
// The request is recognised by substrings of the URL, the title id is picked out of the
// URL (GET) or the comma-separated request body (POST), and the body handed back is the
// raw contents of a file named after the endpoint and the id. Nothing is decoded here:
// the files go through the same decoders as real responses. The one answer made up on
// the spot is the title-kind probe's bare "true"/"false".
#include "tq_internal.h"
#include "tq_request.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

// The fixture directory. Every fixture table's ctx points here, so the directory given
// to the last tolvane_io_fake call is the one every installed fixture table reads from.
char fc[512];

constexpr size_t path_size = 1024; // a formatted path is cut at 1023 characters
constexpr size_t id_size = 32;     // an id keeps at most 31 characters
constexpr size_t batch_start_cap = 4096;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// ASCII only: the ids are ASCII and the host's locale must not change what counts.
bool is_alnum(char c) noexcept { return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The run of ASCII letters and digits at s, cut at id_size - 1 characters.
void copy_id(const char *s, char (&id)[id_size]) noexcept {
    size_t n = 0;
    while (n < id_size - 1 && is_alnum(s[n])) {
        id[n] = s[n];
        ++n;
    }
    id[n] = '\0';
}

// The first "tt" followed by a digit starts the id; the "tt" of the scheme ("https")
// and any other "tt" followed by a letter are passed over. No such "tt": empty id.
void scan_id(const char *url, char (&id)[id_size]) noexcept {
    id[0] = '\0';
    const char *p = std::strstr(url, "tt");
    while (p != nullptr && !is_digit(p[2])) p = std::strstr(p + 1, "tt");
    if (p != nullptr) copy_id(p, id);
}

// The probe's fixed rule: tt9999999 and long ids starting "tt9" name no film, which
// lets tests ask for a series or an unknown title without a fixture file.
bool probe_answer(const char *id) noexcept {
    if (id[0] == '\0') return false;
    if (std::strcmp(id, "tt9999999") == 0) return false;
    if (id[2] == '9' && std::strlen(id) > 10) return false;
    return true;
}

void set_err(char **err, const char *text) noexcept {
    if (err != nullptr) *err = tq_strdup(text); // out of memory: no description
}

struct file_closer {
    void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// The whole file as a new NUL-terminated text, or null; always sets *status: 200 when
// read, 404 when it cannot be opened, 500 when it exists but cannot be read whole.
// *len (when asked for) receives the number of bytes read.
char *read_file(const char *path, int32_t *status, size_t *len = nullptr) noexcept {
    *status = 404;
    if (len != nullptr) *len = 0;

    // Only regular files have a length worth trusting. Opening a FIFO for reading
    // would block until a writer appears, and a directory opens fine on POSIX but
    // reports a nonsense length, so both are refused before and after the open.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        *status = 500;
        return nullptr;
    }
    file_ptr f(std::fopen(path, "rb"));
    if (!f) return nullptr;

    *status = 500;
    if (::fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) return nullptr;
    const long end = std::ftell(f.get());
    // The length is a 32-bit quantity; a file we cannot measure or that does not fit
    // is unreadable rather than a reason to allocate a wrong size.
    if (end < 0 || end > static_cast<long>(INT32_MAX)) return nullptr;
    if (std::fseek(f.get(), 0, SEEK_SET) != 0) return nullptr;

    const size_t n = static_cast<size_t>(end);
    malloc_ptr<char> buf(static_cast<char *>(std::malloc(n + 1)));
    if (!buf) return nullptr;
    if (n > 0 && std::fread(buf.get(), 1, n, f.get()) != n) return nullptr;
    buf.get()[n] = '\0';

    *status = 200;
    if (len != nullptr) *len = n;
    return buf.release();
}

// "<dir>/<name>" with the id in the name's %s, cut at path_size - 1 characters.
void fixture_path(char (&path)[path_size], const char *dir, const char *name, const char *id) noexcept {
    const int n = std::snprintf(path, sizeof path, "%s/", dir);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path - 1) return;
    std::snprintf(path + n, sizeof path - static_cast<size_t>(n), name, id);
}

// Tries the names in order with (dir, id); the first file read wins. When none can
// be read, *status is what the last attempt set.
template <size_t N>
char *read_first(const char *const (&names)[N], const char *dir, const char *id, int32_t *status,
                 size_t *len = nullptr) noexcept {
    char path[path_size];
    for (const char *name : names) {
        fixture_path(path, dir, name, id);
        char *text = read_file(path, status, len);
        if (text != nullptr) return text;
    }
    return nullptr;
}

// Hands out a new copy of a fixed text with status 200; out of memory is a transport
// failure without description, since a null body would read as an empty answer.
int32_t answer_text(const char *text, char **body, int32_t *status) noexcept {
    *body = tq_strdup(text);
    if (*body == nullptr) return -1;
    *status = 200;
    return 0;
}

// The JSON array of the detail files of the ids in a comma-separated body, in the
// order asked; ids without a readable file are left out.
int32_t detail_batch(const char *dir, const char *request_body, char **body, int32_t *status) noexcept {
    malloc_ptr<char> ids(tq_strdup(request_body != nullptr ? request_body : ""));
    if (!ids) return -1;
    size_t cap = batch_start_cap;
    malloc_ptr<char> out(static_cast<char *>(std::malloc(cap)));
    if (!out) return -1;
    out.get()[0] = '[';
    size_t len = 1;
    bool first = true;

    char *save = nullptr;
    for (char *piece = strtok_r(ids.get(), ",", &save); piece != nullptr; piece = strtok_r(nullptr, ",", &save)) {
        while (*piece == ' ') ++piece;
        char id[id_size];
        copy_id(piece, id);
        int32_t file_status = 0; // a missing or unreadable file leaves no trace
        size_t file_len = 0;
        malloc_ptr<char> text(read_first(tq_fixture_names::detail_batch, dir, id, &file_status, &file_len));
        if (!text) continue;

        // Room for the ",", the text and the closing "]" plus NUL.
        if (file_len > SIZE_MAX - 4 - len) return -1;
        char *grown = out.get();
        if (!tq_grow(&grown, &cap, len + file_len + 4, batch_start_cap)) return -1; // the guards release the rest
        (void)out.release();
        out.reset(grown);
        if (!first) out.get()[len++] = ',';
        first = false;
        // The text as text: a stray NUL byte in a fixture ends it, as it would for any
        // reader of the body.
        const size_t text_len = std::strlen(text.get());
        std::memcpy(out.get() + len, text.get(), text_len);
        len += text_len;
    }
    out.get()[len++] = ']';
    out.get()[len] = '\0';
    *body = out.release();
    *status = 200;
    return 0;
}

// Both entries start from a clean slate: no body, status 0, no description.
void begin(char **body, int32_t *status, char **err) noexcept {
    *body = nullptr;
    *status = 0;
    if (err != nullptr) *err = nullptr;
}

int32_t fake_get(void *ctx, const char *url, char **body, int32_t *status, char **err) noexcept {
    begin(body, status, err);
    const char *dir = ctx != nullptr ? static_cast<const char *>(ctx) : fc;
    if (url == nullptr) url = "";

    char id[id_size];
    scan_id(url, id);
    if (std::strstr(url, "IsMovie") != nullptr) return answer_text(probe_answer(id) ? "true" : "false", body, status);
    if (std::strstr(url, "GetMovieDetail") != nullptr) {
        *body = read_first(tq_fixture_names::detail, dir, id, status);
        if (*body != nullptr) return 0;
        set_err(err, "fake: detail not found");
        return -1;
    }
    if (std::strstr(url, "GetMovieBasic") != nullptr) {
        *body = read_first(tq_fixture_names::basic, dir, id, status);
        if (*body != nullptr) return 0;
        set_err(err, "fake: basic not found");
        return -1;
    }
    set_err(err, "fake: unknown GET");
    return -1;
}

int32_t fake_post(void *ctx, const char *url, const char *request_body, const char * /*content_type*/, char **body,
                  int32_t *status, char **err) noexcept {
    begin(body, status, err);
    const char *dir = ctx != nullptr ? static_cast<const char *>(ctx) : fc;
    if (url == nullptr) url = "";

    if (std::strstr(url, "GetMovieBasics") != nullptr) {
        // The same batch file answers whatever ids are asked.
        *body = read_first(tq_fixture_names::basics_batch, dir, "", status);
        if (*body != nullptr) return 0;
        set_err(err, "fake: basics batch not found");
        return -1;
    }
    if (std::strstr(url, "GetMovieDetails") != nullptr) return detail_batch(dir, request_body, body, status);
    if (std::strstr(url, "GetMovieTranslations") != nullptr) {
        char path[path_size];
        fixture_path(path, dir, tq_fixture_names::translations, "");
        *body = read_file(path, status);
        if (*body != nullptr) return 0;
        *status = 0;
        // No translations on file is an answer too: an empty list.
        return answer_text("[]", body, status);
    }
    set_err(err, "fake: unknown POST");
    return -1;
}

} // namespace

bool tq_io_is_fake(const tq_io &io) noexcept { return io.get == fake_get; }

extern "C" {

tq_io tolvane_io_fake(const char *dir) {
    std::memset(fc, 0, sizeof fc);
    std::snprintf(fc, sizeof fc, "%s", dir != nullptr ? dir : "canned");
    return tq_io{fc, fake_get, fake_post, tq_io_free_heap};
}

} // extern "C"
