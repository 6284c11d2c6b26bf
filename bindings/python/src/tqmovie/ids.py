# SPDX-License-Identifier: MIT
"""From files to titles: the IMDb id a name, an .nfo text or a media file names."""
from __future__ import annotations

import ctypes
import os
from typing import Optional, Tuple, Union

from . import _lib

#: Where :func:`id_for_file` found the id.
SOURCES = {1: "sidecar", 2: "name", 3: "folder"}


def id_in_text(text: Union[str, bytes]) -> Optional[str]:
    """The id a file or folder name, or an .nfo file's text, names ("tt" and 7 to 10
    digits, in the library's order of forms), or None."""
    data = text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)
    out = ctypes.create_string_buffer(16)
    n = _lib.lib().tqmovie_id_in_text(data, len(data), out, 16)
    return out.value.decode() if n > 0 else None


def id_for_file(path: Union[str, "os.PathLike[str]"]) -> Tuple[Optional[str], Optional[str]]:
    """The id of a media file from its .nfo sidecars, its name and its folders, and
    where it came from ("sidecar", "name" or "folder"); (None, None) when none names it."""
    raw = os.fsencode(path)
    out = ctypes.create_string_buffer(16)
    source = ctypes.c_int32(0)
    n = _lib.lib().tqmovie_id_for_file(raw, out, 16, ctypes.byref(source))
    return (out.value.decode(), SOURCES.get(source.value)) if n > 0 else (None, None)
