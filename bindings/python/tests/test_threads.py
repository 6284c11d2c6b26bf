# SPDX-License-Identifier: MIT
"""One Client per thread runs in parallel; one shared Client serialises its calls."""
from __future__ import annotations

import threading
import time
from concurrent.futures import ThreadPoolExecutor

from tqmovie import Client, Response
from conftest import FIXTURES, Scripted

IDS = ["tt0111161", "tt0068646", "tt0468569", "tt0903747"]


def _fixture_answer(request):
    imdb_id = request.url.split("imdbId=")[1].split("&")[0]
    kind = "detail" if "GetMovieDetail" in request.url else "basic"
    return Response(200, (FIXTURES / f"{kind}-{imdb_id}.json").read_bytes())


def test_one_client_per_thread_runs_in_parallel():
    # Every request waits until all threads are inside one: only parallel calls pass.
    barrier = threading.Barrier(len(IDS), timeout=20)
    backend = Scripted(lambda r: (barrier.wait(), _fixture_answer(r))[1])

    def work(imdb_id):
        with Client(backend) as c:
            return c.basic(imdb_id).imdb_id

    with ThreadPoolExecutor(len(IDS)) as pool:
        assert list(pool.map(work, IDS)) == IDS


def test_shared_client_serialises_calls():
    inside, most = [0], [0]
    lock = threading.Lock()

    def answer(request):
        with lock:
            inside[0] += 1
            most[0] = max(most[0], inside[0])
        try:
            time.sleep(0.001)  # let another thread run: it must not get in meanwhile
            return _fixture_answer(request)
        finally:
            with lock:
                inside[0] -= 1

    with Client(Scripted(answer)) as c:
        def work(n):
            imdb_id = IDS[n % len(IDS)]
            c.cache_invalidate(imdb_id)
            return c.basic(imdb_id).imdb_id == imdb_id and c.detail(imdb_id).imdb_id == imdb_id

        with ThreadPoolExecutor(4) as pool:
            assert all(pool.map(work, range(80)))
    assert most[0] == 1
