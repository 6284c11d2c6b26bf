# SPDX-License-Identifier: MIT
"""Ctrl-C during a lookup, and lookups awaited from asyncio."""
import asyncio
import os
import signal
import threading
import time

import pytest

from tqmovie import HTTP, AsyncClient, Client
from conftest import Scripted
from test_threads import IDS, _fixture_answer


def test_ctrl_c_cancels_a_stalled_lookup(standin):
    host = standin("--delay", "20000")
    sent = []
    timer = threading.Timer(0.2, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
    with Client(HTTP(proxy=""), host=host) as c:
        timer.start()
        try:
            with pytest.raises(KeyboardInterrupt):
                c.basic("tt0111161")
        finally:
            timer.cancel()  # never a signal after the test
        assert time.monotonic() - sent[0] < 0.5 and c.last_error == "cancelled"  # ended inside with status 9


def test_cancelled_task_cancels_its_lookup(standin):
    host = standin("--delay", "20000")
    made = []

    async def main():
        async with AsyncClient(HTTP(proxy=""), host=host, max_workers=2, setup=made.append) as ac:
            task = asyncio.create_task(ac.basic("tt0111161"))
            await asyncio.sleep(0.2)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task
            start = time.monotonic()  # last_error waits for the native lookup to end
            assert await asyncio.to_thread(lambda: made[0].last_error) == "cancelled"
            return time.monotonic() - start

    assert asyncio.run(main()) < 1


def test_awaits_run_side_by_side_on_separate_clients():
    barrier = threading.Barrier(len(IDS), timeout=20)  # only lookups running at once pass
    made = []

    async def main():
        async with AsyncClient(Scripted(lambda r: (barrier.wait(), _fixture_answer(r))[1]), max_workers=len(IDS),
                               setup=made.append) as ac:
            return await asyncio.gather(*(ac.basic(i) for i in IDS))

    assert [b.imdb_id for b in asyncio.run(main())] == IDS and len({id(c) for c in made}) == len(IDS)
    assert all(c.closed for c in made)
