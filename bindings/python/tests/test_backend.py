# SPDX-License-Identifier: MIT
"""A backend written in Python, progress, cancellation, retries and deadline."""
from __future__ import annotations

import threading
import time

import pytest

import tqmovie
from tqmovie import Client, Response
from conftest import SHAWSHANK, Scripted


def test_requests_answers_and_headers():
    backend = Scripted(Response(200, SHAWSHANK, {"ETag": '"a"'}),
                       Response(200, f"[{SHAWSHANK}]".encode(), [("Retry-After", "5"), ("Bad\nName", "x")]))
    with Client(backend, host="http://127.0.0.1:9") as c:
        assert c.basic("tt0111161").title == "The Shawshank Redemption"
        assert (c.last_http_code, c.response_header("ETAG"), c.last_error) == (200, '"a"', "")
        assert [b.id for b in c.basics(["tt0111161", "tt0068646"])] == [278]
        assert c.response_header("retry-after") == "5" and c.response_header("ETag") is None
    get, post = backend.requests
    assert (get.method, post.method, get.body, post.body, post.content_type) == \
        ("GET", "POST", None, b"tt0111161,tt0068646", "text/plain")
    assert get.url.startswith("http://127.0.0.1:9/api/AAA/GetMovieBasic?imdbId=tt0111161")


def _raise(exc):
    def answer(request):
        raise exc
    return answer


@pytest.mark.parametrize("answer, text", [
    (_raise(OSError("connection refused")), "transport: OSError: connection refused"),
    (lambda r: "not a Response", "transport: TypeError: Scripted.get returned str, not Response"),
])
def test_backend_failures_are_transport_errors(answer, text):
    with Client(Scripted(answer)) as c, pytest.raises(tqmovie.TransportError) as info:
        c.basic("tt0111161")
    assert str(info.value) == text and info.value.__cause__ is not None


def test_interrupt_is_raised_again_and_a_missing_entry_is_no_backend():
    with Client(Scripted(_raise(KeyboardInterrupt()))) as c, pytest.raises(KeyboardInterrupt):
        c.basic("tt0111161")

    class GetOnly(tqmovie.Backend):
        def get(self, request):
            return Response(200, SHAWSHANK)

    with Client(GetOnly()) as c, pytest.raises(tqmovie.NoBackendError):
        c.basics(["tt0111161"])


def test_backend_may_call_back_into_its_client():
    with Client() as c:
        def answer(request):
            assert not c.cache_has("tt0111161").held
            with pytest.raises(tqmovie.ArgumentError, match="already running"):
                c.basic("tt0068646")
            with pytest.raises(RuntimeError):
                c.close()
            return Response(200, SHAWSHANK)
        c.set_backend(Scripted(answer))
        assert c.basic("tt0111161").id == 278


def _wait_for_cancel(entered):
    def answer(request):
        entered.set()
        give_up = time.monotonic() + 10
        while not request.cancelled() and time.monotonic() < give_up:
            time.sleep(0.005)
        raise TimeoutError("gave up")
    return answer


def test_cancel_from_another_thread():
    entered = threading.Event()
    with Client(Scripted(_wait_for_cancel(entered))) as c, pytest.raises(tqmovie.CancelledError, match="cancelled"):
        threading.Thread(target=lambda: (entered.wait(10), c.cancel())).start()
        c.detail("tt0111161")


def test_progress_callable(client):
    events = []
    client.batch_ceiling = 1
    client.progress = events.append
    client.details(["tt0068646", "tt0903747", "tt0111161"])
    assert [(e.kind, e.status, e.done, e.total) for e in events] == [(1, 0, 1, 3), (1, 0, 2, 3), (1, 0, 3, 3)]
    client.progress = lambda e: True  # a true return cancels
    with pytest.raises(tqmovie.CancelledError) as info:
        client.details(["tt0068646", "tt0903747"])
    assert [d.imdb_id for d in info.value.partial] == ["tt0068646"]
    client.progress = lambda e: 1 / 0
    with pytest.raises(ZeroDivisionError):
        client.details(["tt0068646", "tt0903747"])
    client.progress = None
    assert client.progress is None and len(client.details(["tt0068646", "tt0903747"])) == 2


def test_retry_recovers_from_a_failed_request():
    backend = Scripted(Response(503, ""), Response(200, SHAWSHANK))
    waits = []
    with Client(backend) as c:
        c.set_retry(2, 10)
        c.progress = lambda p: waits.append((p.kind, p.status)) and False
        assert c.basic("tt0111161").id == 278 and len(backend.requests) == 2
    assert waits == [(tqmovie.PROGRESS_RETRY_WAIT, 2)]


def test_deadline_ends_a_slow_request():
    with Client(Scripted(_wait_for_cancel(threading.Event()))) as c, pytest.raises(tqmovie.Error):
        c.set_deadline(50)
        c.basic("tt0111161")
