# SPDX-License-Identifier: MIT
"""A store written by one client answers another that cannot reach the service."""
import pytest

import tqmovie
from tqmovie import Client, Fixtures, Store, Stub
from conftest import FIXTURES


def test_store_answers_a_client_without_a_service(tmp_path):
    path = tmp_path / "store.db"
    with Client(Fixtures(FIXTURES), store=path) as writer:
        writer.detail("tt0111161")
        writer.basics(["tt0068646", "tt0468569"])
        owned = writer.store
        assert owned.count() == 3
    assert owned.closed  # opened by the client from a path, closed with it

    with Store(path) as store:
        with Client(Stub(), store=store) as reader, Client(Stub(), store=store, offline=True) as offline:
            assert reader.detail("tt0111161").title == "The Shawshank Redemption"
            assert (reader.last_stale, reader.last_http_code) == (0, 0)
            assert offline.basic("tt0068646").imdb_id == "tt0068646" and offline.last_stale == 0
            with pytest.raises(tqmovie.TransportError) as info:
                offline.basic("tt0109830")
            assert str(info.value) == "offline: not cached" and offline.last_stale == -1
            reader.refresh = True  # asks the stub, whatever the store holds
            with pytest.raises(tqmovie.TransportError, match="stub IO"):
                reader.detail("tt0111161")
            with pytest.raises(RuntimeError, match="while 2 Client"):
                store.close()
        assert store.count() == 3 and not store.closed


@pytest.mark.parametrize("name, options, exc, text", [
    ("", {}, tqmovie.ArgumentError, "path required"),
    ("garbage.db", {}, tqmovie.FileError, "store {path}: file is not a database"),
    ("new.db", {"read_only": True}, tqmovie.FileError, "store {path}: unable to open database file"),
])
def test_store_open_failures(tmp_path, name, options, exc, text):
    (tmp_path / "garbage.db").write_bytes(b"not a database at all" * 100)
    path = str(tmp_path / name) if name else ""
    with pytest.raises(exc) as info:
        Store(path, **options)
    assert info.value.text.startswith(text.format(path=path))
