// SPDX-License-Identifier: MIT
// Where the two command-line programs find the bundled sample fixtures.
#ifndef TQ_TOOLS_FIXTURE_DIR_H
#define TQ_TOOLS_FIXTURE_DIR_H

#include <climits>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#ifndef TQMOVIE_SOURCE_FIXTURES
#  define TQMOVIE_SOURCE_FIXTURES ""
#endif
#ifndef TQMOVIE_INSTALLED_FIXTURES
#  define TQMOVIE_INSTALLED_FIXTURES ""
#endif
#ifndef TQMOVIE_RELATIVE_FIXTURES
#  define TQMOVIE_RELATIVE_FIXTURES "../share/tqmovie/fixtures"
#endif

namespace tqtool {

inline bool is_directory(const char *path) {
    struct stat st;
    return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The bundled fixtures: next to an installed binary (relocatable prefix), else the
// source tree the binary was built from, else the configured install location.
// NULL when none of them exists.
inline const char *default_fixture_dir() {
    static char beside_exe[PATH_MAX];
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        char *slash = std::strrchr(exe, '/');
        if (slash) {
            *slash = '\0';
            int w = std::snprintf(beside_exe, sizeof beside_exe, "%s/%s", exe, TQMOVIE_RELATIVE_FIXTURES);
            if (w > 0 && static_cast<size_t>(w) < sizeof beside_exe && is_directory(beside_exe)) return beside_exe;
        }
    }
    if (is_directory(TQMOVIE_SOURCE_FIXTURES)) return TQMOVIE_SOURCE_FIXTURES;
    if (is_directory(TQMOVIE_INSTALLED_FIXTURES)) return TQMOVIE_INSTALLED_FIXTURES;
    return nullptr;
}

} // namespace tqtool

#endif
