# SPDX-License-Identifier: MIT
"""Cancelling a running lookup from elsewhere, and the main thread's interruptible wait.

A blocking C call cannot be interrupted by Python: a signal handler runs only once the
call returns to the interpreter. So on the main thread (where Python runs signal
handlers) a lookup runs on a helper thread while the main thread waits in short,
interruptible slices; when the wait raises (Ctrl-C's KeyboardInterrupt, or whatever a
host's handler raises) the lookup is cancelled, the main thread waits for it to end,
and the exception goes on. The library installs no signal handler of its own.
"""
from __future__ import annotations

import contextvars
import os
import queue
import signal
import threading
from typing import Any, Callable, List, Optional, Tuple

#: How long the main thread waits at a time (a signal interrupts a wait at once on
#: POSIX; the slice only bounds the delay where it would not).
SLICE_S = 0.05
#: How often a cancel is made again until the lookup ends (a cancel that comes before
#: the C call has begun is dropped by the library).
RECANCEL_S = 0.01


class Token:
    """One lookup that may be cancelled from another thread. The client records itself
    while its C call may run, under the token's lock, so a cancel reaches that call and
    never a later one; a token cancelled before the call begins stops it from starting."""

    __slots__ = ("lock", "client", "cancelled")

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.client: Any = None
        self.cancelled = False

    def cancel(self) -> None:
        with self.lock:
            self.cancelled = True
            if self.client is not None:
                self.client.cancel()


_tls = threading.local()  # .token: the Token of the lookup this thread is running


def take_token() -> Optional[Token]:
    """The token of the lookup this thread is about to run (once: a lookup started from
    inside it, by a backend or callable, is not that token's)."""
    token = getattr(_tls, "token", None)
    _tls.token = None
    return token


def run_with_token(token: Token, fn: Callable[[], Any]) -> Any:
    _tls.token = token
    try:
        return fn()
    finally:
        _tls.token = None


class _Helper:
    """The one thread that runs the main thread's lookups (the main thread waits for
    each, so one is enough for every client)."""

    def __init__(self) -> None:
        self.jobs: "queue.SimpleQueue[Callable[[], None]]" = queue.SimpleQueue()
        threading.Thread(target=self._loop, args=(self.jobs,), name="tqmovie-main-lookups", daemon=True).start()

    @staticmethod
    def _loop(jobs: "queue.SimpleQueue[Callable[[], None]]") -> None:
        while True:
            jobs.get()()


_helper: Optional[_Helper] = None
_helper_lock = threading.Lock()


def _forget_helper() -> None:  # a forked child has no such thread
    global _helper, _helper_lock
    _helper, _helper_lock = None, threading.Lock()


os.register_at_fork(after_in_child=_forget_helper)


def _get_helper() -> _Helper:
    global _helper
    with _helper_lock:
        if _helper is None:
            _helper = _Helper()
        return _helper


def interruptible() -> bool:
    """Whether a lookup on this thread should run on the helper: on the main thread,
    when Python handles SIGINT there (a handler Python code set, as its default one)."""
    if threading.current_thread() is not threading.main_thread():
        return False
    try:
        return callable(signal.getsignal(signal.SIGINT))
    except ValueError:  # not the main interpreter
        return False


def run_interruptibly(fn: Callable[[], Any]) -> Any:
    """fn() on the helper thread, the calling (main) thread waiting interruptibly; an
    exception raised in the wait cancels fn's lookup and is raised once it has ended."""
    token = Token()
    done = threading.Lock()  # held until the job ends: a bare lock hands over fastest
    done.acquire()
    box: List[Tuple[bool, Any]] = []
    ctx = contextvars.copy_context()

    def job() -> None:
        try:
            box.append((True, ctx.run(run_with_token, token, fn)))
        except BaseException as exc:  # noqa: B902 - handed to the waiting thread
            box.append((False, exc))
        finally:
            done.release()

    _get_helper().jobs.put(job)
    try:
        while not done.acquire(timeout=SLICE_S):  # a signal interrupts the wait at once
            pass
    except BaseException:
        while not box:
            token.cancel()
            try:
                done.acquire(timeout=RECANCEL_S)
            except BaseException:  # noqa: B902 - a second Ctrl-C: the first one goes on
                pass
        raise
    ok, value = box.pop()
    if ok:
        return value
    try:
        raise value
    finally:
        value = None  # no frame <-> traceback cycle
