#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures two of the Python package's promises against the stand-in service:

1. Ctrl-C during a lookup stalled by `--delay 20000`: the time from SIGINT to the
   KeyboardInterrupt in the main thread (goal: under 100 ms).
2. 100 concurrent awaits against `--synthetic --delay 100 --threads 128` on an
   AsyncClient of 100 workers, against a single await (goal: under 3x). "cold" is the
   first 100 on a fresh AsyncClient (99 native clients and connections made on the
   way), "warm" the next 100 on the same one (every worker connected).

    LD_LIBRARY_PATH=build-py python3 bindings/python/tools/measure_goals.py \\
        [--standin build-py/tools/tqmovie-mock-service] [--runs 5]

Run it with the package importable (installed, or PYTHONPATH=bindings/python/src).
"""
from __future__ import annotations

import argparse
import asyncio
import os
import signal
import subprocess
import threading
import time
from pathlib import Path

import tqmovie


def listen_overflows() -> int:
    """The kernel's count of connections dropped because a listen queue was full
    (TcpExt ListenOverflows; -1 when unknown): a dropped SYN is sent again after 1 s."""
    try:
        with open("/proc/net/netstat") as f:
            head, values = [line.split() for line in f if line.startswith("TcpExt:")][:2]
        return int(values[head.index("ListenOverflows")])
    except (OSError, ValueError):
        return -1


def start(program: str, *switches: str) -> "tuple[subprocess.Popen[str], str]":
    p = subprocess.Popen([program, "--port", "0", *switches], stdout=subprocess.PIPE, text=True)
    assert p.stdout is not None
    return p, p.stdout.readline().split()[-1]


def ctrl_c(program: str, runs: int) -> None:
    p, host = start(program, "--delay", "20000")
    times = []
    try:
        with tqmovie.Client(tqmovie.HTTP(proxy=""), host=host) as c:
            for _ in range(runs):
                sent: list = []
                timer = threading.Timer(0.2, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
                timer.start()
                try:
                    c.basic("tt0111161")
                    raise SystemExit("the lookup was not interrupted")
                except KeyboardInterrupt:
                    times.append((time.monotonic() - sent[0]) * 1000)
                timer.join()
                assert c.last_error == "cancelled", c.last_error
    finally:
        p.terminate()
        p.wait()
    print(f"Ctrl-C during a lookup stalled 20 s: KeyboardInterrupt after "
          f"{', '.join(f'{t:.1f}' for t in times)} ms (max {max(times):.1f} ms; goal < 100 ms)")


async def _timed(coro: "asyncio.Future[object]") -> float:
    t = time.monotonic()
    await coro
    return time.monotonic() - t


async def _awaits(host: str, base: int) -> "tuple[float, float, float, int, int]":
    async with tqmovie.AsyncClient(tqmovie.HTTP(proxy=""), host=host, max_workers=100) as ac:
        single = await _timed(ac.basic(f"tt{base:07d}"))
        t, dropped = time.monotonic(), listen_overflows()
        cold_each = await asyncio.gather(*(_timed(ac.basic(f"tt{base + 1 + i:07d}")) for i in range(100)))
        cold, dropped = time.monotonic() - t, listen_overflows() - dropped
        t = time.monotonic()
        await asyncio.gather(*(ac.basic(f"tt{base + 101 + i:07d}") for i in range(100)))
        warm = time.monotonic() - t
    return single, cold, warm, sum(1 for x in cold_each if x > 1.0), dropped


def awaits(program: str, runs: int) -> None:
    p, host = start(program, "--synthetic", "--delay", "100", "--threads", "128")
    try:
        for run in range(runs):
            single, cold, warm, slow, dropped = asyncio.run(_awaits(host, 1000000 + run * 1000))
            print(f"100 awaits, AsyncClient(max_workers=100): single {single * 1000:.0f} ms; "
                  f"cold {cold * 1000:.0f} ms ({cold / single:.2f}x; {slow} await(s) over 1 s, "
                  f"{dropped} connect(s) dropped by the stand-in's full listen queue); "
                  f"warm {warm * 1000:.0f} ms ({warm / single:.2f}x); goal < 3x")
    finally:
        p.terminate()
        p.wait()


def main() -> None:
    here = Path(__file__).resolve().parents[3]
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--standin", default=str(here / "build-py" / "tools" / "tqmovie-mock-service"))
    ap.add_argument("--runs", type=int, default=5)
    args = ap.parse_args()
    print(f"tqmovie {tqmovie.library_version()}, stand-in {args.standin}")
    ctrl_c(args.standin, args.runs)
    awaits(args.standin, args.runs)


if __name__ == "__main__":
    main()
