// SPDX-License-Identifier: MIT
// The rows the drivers (bench/drive_*) print, in the form of scripts/ratios.py, and
// their count: "LABEL  median X (min A, max B, N runs)  goal <= G  met|missed".
#ifndef TQ_BENCH_RATIO_ROWS_H
#define TQ_BENCH_RATIO_ROWS_H

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tqbench {

inline int met = 0, missed = 0;

inline void row(const char *label, std::vector<double> values, double goal, const char *extra = "") {
    std::sort(values.begin(), values.end());
    const double median = values[values.size() / 2];
    const bool ok = median <= goal;
    (ok ? met : missed)++;
    std::printf("%s  median %.3f (min %.3f, max %.3f, %zu runs)%s  goal <= %.3f  %s\n", label, median, values.front(),
                values.back(), values.size(), extra, goal, ok ? "met" : "missed");
    std::fflush(stdout);
}

} // namespace tqbench

#endif // TQ_BENCH_RATIO_ROWS_H
