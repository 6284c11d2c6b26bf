#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Ratio goals over Google Benchmark JSON results (--benchmark_out, with repetitions).

    ratios.py RESULT.json...

For each row of RATIOS: repetition k of the numerator is paired with repetition k of
the denominator (with random interleaving both ran in the same round), the ratio of
their real (wall-clock) times is taken per pair, and the median of those ratios, with
their min and max, is compared with the goal. Prints one line per row, then
"ratios: N met, M missed"; exits 1 when a goal is missed (a missing or failed
benchmark misses its goal), 2 on bad input.
"""
import json
import statistics
import sys

# (numerator, denominator, goal[, options]): the median ratio must be <= goal; None =
# report only. Names are run names as the benchmark prints them, e.g.
# "BM_BackendGet/real_time". Options: "scale" multiplies the denominator (filling 100k
# titles against 100 fillings of 1k), "time" picks "cpu_time" instead of "real_time".
RATIOS = [
    # Each decoder against yyjson parsing the same body plus one strdup per kept string.
    ("BM_BasicDecode", "BM_BasicBaseline", 1.2),
    ("BM_DetailDecode", "BM_DetailBaseline", 1.2),
    ("BM_BatchDecode", "BM_BatchBaseline", 1.2),
    # The cache costs the same at 100,000 titles as at 1,000.
    ("BM_CacheHit/100000", "BM_CacheHit/1000", 1.5),
    ("BM_CacheStoreNew/100000", "BM_CacheStoreNew/1000", 1.5),
    ("BM_CacheFill/100000", "BM_CacheFill/1000", 1.5, {"scale": 100}),
    # A lookup answered from the cache costs one copy of the record.
    ("BM_CachedDetailLookup", "BM_DetailCopyAndFree", 1.3),
    # A whole detail batch against parsing its body plus one strdup per string.
    ("BM_DetailBatchLookup", "BM_DetailBatchBaseline", 2.5),
    # Finding the calling thread's client: a getter with a client current, and on the
    # global state in a process that never made a client current, against a direct read.
    ("BM_ClientGetter", "BM_ClientGetterBaseline", 1.2),
    ("BM_GetterGlobalState", "BM_GetterGlobalDirect", None),
]

TO_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(paths, field):
    """run name -> {repetition index: `field` time in seconds}; failed runs -> None."""
    runs = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            for b in json.load(f).get("benchmarks", []):
                if b.get("run_type", "iteration") != "iteration":
                    continue
                name = b.get("run_name", b["name"])
                if b.get("error_occurred"):
                    runs[name] = None
                    continue
                reps = runs.setdefault(name, {})
                if reps is not None:
                    reps[b.get("repetition_index", 0)] = b[field] * TO_SECONDS[b.get("time_unit", "ns")]
    return runs


def describe(runs, name):
    if name not in runs:
        return f"{name} not run"
    return f"{name} failed" if runs[name] is None else f"{name}: {len(runs[name])} repetitions"


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    times = {field: load(argv[1:], field) for field in ("real_time", "cpu_time")}
    width = max(len(f"{row[0]} / {row[1]}") + 6 for row in RATIOS)
    met = missed = 0
    for row in RATIOS:
        num, den, goal = row[:3]
        opts = row[3] if len(row) > 3 else {}
        runs, scale = times[opts.get("time", "real_time")], opts.get("scale", 1)
        label = (f"{num} / {den}" + (f" x{scale}" if scale != 1 else "")
                 + (" (cpu)" if opts.get("time") == "cpu_time" else "")).ljust(width)
        want = "report only" if goal is None else f"goal <= {goal:.2f}"
        a, b = runs.get(num), runs.get(den)
        pairs = sorted(set(a) & set(b)) if a and b else []
        if not pairs:
            verdict = "report" if goal is None else "missed"
            missed += goal is not None
            print(f"{label}  no paired repetitions ({describe(runs, num)}, {describe(runs, den)})  {want}  {verdict}")
            continue
        ratios = [a[k] / (b[k] * scale) for k in pairs]
        median = statistics.median(ratios)
        if goal is None:
            verdict = "report"
        elif median <= goal:
            verdict, met = "met", met + 1
        else:
            verdict, missed = "missed", missed + 1
        print(f"{label}  median {median:.3f} (min {min(ratios):.3f}, max {max(ratios):.3f}, "
              f"{len(ratios)} pairs)  {want}  {verdict}")
    print(f"ratios: {met} met, {missed} missed")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
