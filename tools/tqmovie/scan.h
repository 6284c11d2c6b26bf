// SPDX-License-Identifier: MIT
// tqmovie scan: what the walk over the folders (scan_walk.cpp) hands the command
// (scan_command.cpp).
#ifndef TQ_TOOLS_SCAN_H
#define TQ_TOOLS_SCAN_H

#include "cli.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace tqtool {

// A growing array of plain items. The tool is built without exceptions: running out
// of memory is a false from reserve, push or append, reported as such, not an abort.
template <typename T> struct grow {
    static_assert(std::is_trivially_copyable_v<T>);
    T *items = nullptr;
    size_t count = 0;
    size_t cap = 0;
    grow() = default;
    grow(const grow &) = delete;
    grow &operator=(const grow &) = delete;
    ~grow() { std::free(items); }
    bool reserve(size_t n) {
        if (n <= cap) return true;
        size_t c = cap ? cap : 16;
        while (c < n) c *= 2;
        void *p = std::realloc(items, c * sizeof(T));
        if (!p) return false;
        items = static_cast<T *>(p);
        cap = c;
        return true;
    }
    bool push(const T &v) {
        if (!reserve(count + 1)) return false;
        items[count++] = v;
        return true;
    }
    bool append(const T *v, size_t n) {
        if (!reserve(count + n)) return false;
        std::memcpy(items + count, v, n * sizeof(T));
        count += n;
        return true;
    }
};

// Where a file's id came from, as tqmovie_id_for_file tells it.
constexpr int32_t source_none = 0, source_sidecar = 1, source_name = 2, source_folder = 3;

struct scan_file {
    size_t path;    // its path in scan_list::text, NUL-terminated
    char id[16];    // "" when none
    int32_t source; // source_*
};

// The video files found, in walk order: each folder's files by name, then its folders.
struct scan_list {
    grow<scan_file> files;
    grow<char> text;
    size_t with_id = 0;
    size_t unreadable = 0; // folders that could not be read, each reported
    const char *path(const scan_file &f) const { return text.items + f.path; }
};

// What the walk tells the command while it runs.
struct scan_events {
    void *user;
    void (*folder_done)(void *user, const scan_list &l);
    void (*unreadable)(void *user, const char *path, int err);
};

// Walks the folders roots names (a file named is taken whatever its name) and appends
// every video file found with its id, the one tqmovie_id_for_file gives. Stops early,
// returning true, once Ctrl-C was pressed; false when memory ran out.
bool scan_walk(const char *const *roots, size_t count, const scan_events &ev, scan_list &out);

} // namespace tqtool

#endif
