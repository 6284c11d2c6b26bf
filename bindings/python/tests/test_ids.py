# SPDX-License-Identifier: MIT
"""From files to titles: ids in names and .nfo texts, a file's id, and a scan."""
import os

import tqmovie
from conftest import FIXTURES


def test_ids_in_texts_and_files(tmp_path):
    assert tqmovie.id_in_text("The Godfather (1972) [imdbid-tt0068646].mkv") == "tt0068646"
    assert tqmovie.id_in_text(b"<uniqueid type='imdb'>TT0111161</uniqueid>") == "tt0111161"
    assert tqmovie.id_in_text("butt1234567") is None
    show = tmp_path / "Show [imdbid-tt0903747]" / "Season 1"
    show.mkdir(parents=True)
    (show / "e01.mkv").write_bytes(b"")
    film = tmp_path / "Dark Knight"
    film.mkdir()
    (film / "film.mkv").write_bytes(b"")
    (film / "film.nfo").write_text("https://www.imdb.com/title/tt0468569/")
    (film / "notes.txt").write_text("tt0111161")
    (tmp_path / ".hidden").mkdir()
    (tmp_path / ".hidden" / "tt0133093.mkv").write_bytes(b"")
    (tmp_path / "none.avi").write_bytes(b"")
    assert tqmovie.id_for_file(show / "e01.mkv") == ("tt0903747", "folder")
    assert tqmovie.id_for_file(film / "film.mkv") == ("tt0468569", "sidecar")
    with tqmovie.Client(tqmovie.Fixtures(FIXTURES)) as c:
        found = {os.path.relpath(r.path, tmp_path): (r.imdb_id, r.source, r.record and r.record.title)
                 for r in c.scan([tmp_path])}
    assert found == {
        os.path.join("Dark Knight", "film.mkv"): ("tt0468569", "sidecar", "The Dark Knight"),
        os.path.join("Show [imdbid-tt0903747]", "Season 1", "e01.mkv"): ("tt0903747", "folder", "Breaking Bad"),
        "none.avi": (None, None, None),
    }
