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
# titles against 100 fillings of 1k), "time" picks "cpu_time" instead of "real_time", or
# a user counter the benchmark reports per run (bytes on the wire, say).
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
    # The complete export against parsing what it wrote; a saved cache of 10,000 titles
    # loaded against decoding the same titles from the service's documents.
    ("BM_DetailExportFull", "BM_DetailExportParse", 4.0),
    ("BM_CacheLoad10k/min_warmup_time:1.000", "BM_Decode10k/min_warmup_time:1.000", 1.5),
    # Finding the calling thread's client: a getter with a client current, and on the
    # global state in a process that never made a client current, against a direct read.
    ("BM_ClientGetter", "BM_ClientGetterBaseline", 1.2),
    ("BM_GetterGlobalState", "BM_GetterGlobalDirect", None),
    # One request through the pooled HTTP backend: over HTTPS against a fresh easy
    # handle per request with the same CA file (CPU), and over HTTPS and plain HTTP
    # against one easy handle reused by hand with no header capture and no options.
    ("BM_Get/https_pooled/real_time", "BM_Get/https_fresh_handle/real_time", 1 / 50, {"time": "cpu_time"}),
    ("BM_Get/https_pooled/real_time", "BM_Get/https_reused_handle/real_time", 1.2),
    ("BM_Get/http_pooled/real_time", "BM_Get/http_reused_handle/real_time", 1.2),
    ("BM_Get/http_fresh_backend/real_time", "BM_Get/http_pooled/real_time", None),
    # Bytes on the wire for a 24-title detail batch, compressed against not.
    ("BM_DetailBatchWire/gzip/real_time", "BM_DetailBatchWire/identity/real_time", None, {"time": "wire_bytes"}),
    # The store: a detail lookup a fresh client answers from it costs the same at
    # 100,000 titles as at 1,000; writing a 1,000-id batch through to it (CPU); and the
    # file's size against the complete JSON of the 100,000 records it keeps.
    ("BM_StoreDetailLookup/100000", "BM_StoreDetailLookup/1000", 1.5),
    ("BM_DetailBatchToStore", "BM_DetailBatchNoStore", 1.5, {"time": "cpu_time"}),
    ("BM_StoreFileBytes/iterations:1", "BM_StoreJsonBytes/iterations:1", None, {"time": "bytes"}),
]

TO_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(paths, field):
    """run name -> {repetition index: `field` (a time in seconds, or a counter)}; failed
    runs -> None; runs without the field are left out."""
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
                if field not in b:
                    continue
                reps = runs.setdefault(name, {})
                if reps is not None:
                    unit = TO_SECONDS[b.get("time_unit", "ns")] if field.endswith("_time") else 1
                    reps[b.get("repetition_index", 0)] = b[field] * unit
    return runs


def label_of(row):
    opts = row[3] if len(row) > 3 else {}
    scale, field = opts.get("scale", 1), opts.get("time", "real_time")
    return (f"{row[0]} / {row[1]}" + (f" x{scale}" if scale != 1 else "")
            + ("" if field == "real_time" else " (cpu)" if field == "cpu_time" else f" ({field})"))


def describe(runs, name):
    if name not in runs:
        return f"{name} not run"
    return f"{name} failed" if runs[name] is None else f"{name}: {len(runs[name])} repetitions"


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    fields = {"real_time", "cpu_time"} | {row[3]["time"] for row in RATIOS if len(row) > 3 and "time" in row[3]}
    times = {field: load(argv[1:], field) for field in fields}
    width = max(len(label_of(row)) for row in RATIOS)
    met = missed = 0
    for row in RATIOS:
        num, den, goal = row[:3]
        opts = row[3] if len(row) > 3 else {}
        runs, scale = times[opts.get("time", "real_time")], opts.get("scale", 1)
        label = label_of(row).ljust(width)
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
