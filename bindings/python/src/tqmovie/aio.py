# SPDX-License-Identifier: MIT
"""The :class:`AsyncClient`: lookups awaited from ``asyncio`` without blocking its loop."""
from __future__ import annotations

import asyncio
import concurrent.futures
import threading
from typing import Any, Callable, Iterable, List, Optional, TypeVar, Union

from . import _calls
from .backends import AnyBackend, PathLike
from .client import Client
from .records import Basic, Batch, Detail, Section, Translations
from .store import Store

T = TypeVar("T")


class AsyncClient:
    """Awaitable lookups for ``asyncio``. Each lookup runs on a thread pool of
    ``max_workers`` threads the client owns, and each of those threads has a
    :class:`Client` of its own (made on the thread's first lookup with ``backend`` and
    ``options``, then given to ``setup`` for the settings that have no option, such as
    ``set_retry``): up to ``max_workers`` native clients and threads, so up to
    ``max_workers`` lookups run side by side and more wait for a free thread. Size it
    for the lookups you await at once (and the service for the connections they keep).

    Cancelling the task awaiting a lookup cancels the lookup itself (it ends inside with
    :class:`tqmovie.CancelledError`, status 9) and raises ``asyncio.CancelledError`` in
    the task at once. Each native client has its own memory cache: give a :class:`Store`
    (or a path, opened once here and shared by them) to share the records. A Python
    backend object is shared by the native clients, so its methods run on several
    threads at once. Close it with ``await aclose()`` or ``async with``; :meth:`close`
    waits for running lookups.
    """

    def __init__(self, backend: Optional[AnyBackend] = None, *, max_workers: int = 8,
                 setup: Optional[Callable[[Client], None]] = None, store: Union[Store, PathLike, None] = None,
                 **options: Any) -> None:
        if max_workers < 1:
            raise ValueError(f"max_workers must be at least 1, not {max_workers}")
        self.max_workers = max_workers
        self._own_store = store is not None and not isinstance(store, Store)
        self._store = Store(store) if self._own_store else store  # type: ignore[arg-type]
        self._make: Callable[[], Client] = lambda: Client(backend, store=self._store, **options)
        self._setup = setup
        self._local = threading.local()
        self._clients: List[Client] = []
        self._lock = threading.Lock()
        self._closed = False
        self._pool = concurrent.futures.ThreadPoolExecutor(max_workers, thread_name_prefix="tqmovie-async")

    def _client(self) -> Client:
        client: Optional[Client] = getattr(self._local, "client", None)
        if client is None:
            client = self._make()
            try:
                if self._setup is not None:
                    self._setup(client)
                with self._lock:
                    if self._closed:
                        raise ValueError("operation on a closed AsyncClient")
                    self._clients.append(client)
            except BaseException:
                client.close()
                raise
            self._local.client = client
        return client

    async def _run(self, name: str, *args: Any, **kwargs: Any) -> Any:
        if self._closed:
            raise ValueError("operation on a closed AsyncClient")
        token = _calls.Token()
        job = lambda: _calls.run_with_token(token, lambda: getattr(self._client(), name)(*args, **kwargs))  # noqa: E731
        done = self._pool.submit(job)
        try:
            return await asyncio.wrap_future(done)
        except asyncio.CancelledError:
            loop = asyncio.get_running_loop()

            def cancel() -> None:  # again until it ends: a cancel before the C call began is dropped
                if not done.done():
                    token.cancel()
                    loop.call_later(_calls.RECANCEL_S, cancel)
            cancel()
            raise

    # -- lookups: as Client's ------------------------------------------------------

    async def basic(self, imdb_id: str, language: Optional[str] = None) -> Basic:
        """As :meth:`Client.basic`."""
        return await self._run("basic", imdb_id, language)  # type: ignore[no-any-return]

    async def detail(self, imdb_id: str, language: Optional[str] = None, sections: int = Section.ALL) -> Detail:
        """As :meth:`Client.detail`."""
        return await self._run("detail", imdb_id, language, sections)  # type: ignore[no-any-return]

    async def basics(self, ids: Iterable[str]) -> Batch[Basic]:
        """As :meth:`Client.basics`."""
        return await self._run("basics", list(ids))  # type: ignore[no-any-return]

    async def details(self, ids: Iterable[str], sections: int = Section.ALL) -> Batch[Detail]:
        """As :meth:`Client.details`."""
        return await self._run("details", list(ids), sections)  # type: ignore[no-any-return]

    async def translations(self, ids: Iterable[str], language: Optional[str] = None,
                           region: Optional[str] = None) -> List[Translations]:
        """As :meth:`Client.translations`."""
        return await self._run("translations", list(ids), language, region)  # type: ignore[no-any-return]

    async def is_movie(self, imdb_id: str) -> bool:
        """As :meth:`Client.is_movie`."""
        return await self._run("is_movie", imdb_id)  # type: ignore[no-any-return]

    # -- life ----------------------------------------------------------------------

    def close(self) -> None:
        """Waits for the running lookups, then closes the threads, the native clients
        and a store opened from a path. Closing twice is harmless."""
        self._closed = True
        self._pool.shutdown(wait=True)
        with self._lock:
            clients, self._clients = self._clients, []
        for client in clients:
            client.close()
        if self._own_store and self._store is not None:
            self._store.close()
            self._own_store = False

    async def aclose(self) -> None:
        """:meth:`close` without blocking the event loop."""
        await asyncio.get_running_loop().run_in_executor(None, self.close)

    async def __aenter__(self) -> "AsyncClient":
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.aclose()
