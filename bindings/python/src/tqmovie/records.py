# SPDX-License-Identifier: MIT
"""The records a lookup returns, built from the library's complete JSON export.

Every record is a frozen dataclass. A text the service did not send is ``None``; so is
a number the library holds at its empty value (an id of 0, a year of -1, a missing
rating); lists are tuples.
"""
from __future__ import annotations

import dataclasses
import enum
import json
from typing import Any, Callable, Dict, List, Mapping, Optional, Tuple, Type, TypeVar

T = TypeVar("T")


class Section(enum.IntFlag):
    """Sections of a detail record to ask for."""

    CAST = 1  # cast and related ids
    PICTURES = 2
    PROVIDERS = 4
    VIDEOS = 8
    ALL = 65535


class _Members(Dict[str, Any]):
    """A JSON object that also keeps its members in order, duplicates included (the
    export writes ratings as one member per source)."""

    def __init__(self, pairs: List[Tuple[str, Any]]) -> None:
        super().__init__(pairs)
        self.pairs = pairs


def _key(name: str, convert: Optional[Callable[[Any], Any]] = None, default: Any = None) -> Any:
    return dataclasses.field(default=default, metadata={"key": name, "convert": convert})


def _languages() -> Any:
    # Not from the export: filled by the client (see Basic.languages); not compared.
    return dataclasses.field(default_factory=dict, compare=False, repr=False, metadata={"key": None})


def _build(cls: Type[T], obj: Dict[str, Any]) -> T:
    values = {}
    for f in dataclasses.fields(cls):
        if f.metadata["key"] is None:
            continue
        value = obj.get(f.metadata["key"])
        convert = f.metadata["convert"]
        values[f.name] = convert(value) if convert else value
    return cls(**values)


def _list_of(cls: Optional[type] = None) -> Callable[[Any], Tuple[Any, ...]]:
    return lambda items: tuple(_build(cls, x) if cls else x for x in items or ())


@dataclasses.dataclass(frozen=True)
class Rating:
    """One rating: its source ("imDb", "metacritic", ...) and value (None when the
    library held a value that is not a finite number)."""

    source: str
    value: Optional[float]


def _ratings(obj: Optional[_Members]) -> Tuple[Rating, ...]:
    return tuple(Rating(k, v) for k, v in (obj.pairs if obj else ()))


@dataclasses.dataclass(frozen=True)
class Basic:
    """A title's basic record."""

    imdb_id: Optional[str] = _key("imDbId")
    title: Optional[str] = _key("title")
    tagline: Optional[str] = _key("tagLine")
    plot: Optional[str] = _key("plot")
    poster_url: Optional[str] = _key("posterUrl")  # "" when the service marked it not available
    picture_url: Optional[str] = _key("pictureUrl")  # likewise
    id: Optional[int] = _key("id")
    year: Optional[int] = _key("year")
    duration: Optional[int] = _key("duration")
    is_tv: Optional[bool] = _key("isTVShow")
    directors: Tuple[str, ...] = _key("directors", _list_of(), ())
    genres: Tuple[str, ...] = _key("genres", _list_of(), ())
    ratings: Tuple[Rating, ...] = _key("ratings", _ratings, ())
    #: With a language fallback set (:attr:`Client.language_fallback`), the language
    #: each of title, tagline and plot came from, after a single lookup; else empty.
    languages: Mapping[str, str] = _languages()


@dataclasses.dataclass(frozen=True)
class CastMember:
    name: Optional[str] = _key("name")
    id: Optional[str] = _key("idOrName")  # the member's id or, failing that, name
    poster: Optional[str] = _key("poster")
    role: Optional[str] = _key("characterOrRole")
    birthday: Optional[str] = _key("birthday")


@dataclasses.dataclass(frozen=True)
class Picture:
    language: Optional[str] = _key("language")
    url: Optional[str] = _key("url")
    width: Optional[int] = _key("width")
    height: Optional[int] = _key("height")


@dataclasses.dataclass(frozen=True)
class Provider:
    """A watch provider of one country."""

    country: Optional[str] = _key("countryCode")
    provider_id: Optional[str] = _key("providerId")
    name: Optional[str] = _key("providerName")
    logo: Optional[str] = _key("logoUrl")
    type: Optional[str] = _key("watchType")
    display_priority: Optional[int] = _key("displayPriority")


@dataclasses.dataclass(frozen=True)
class Video:
    id: Optional[str] = _key("id")
    key: Optional[str] = _key("key")
    name: Optional[str] = _key("name")
    site: Optional[str] = _key("site")
    type: Optional[str] = _key("type")
    lang: Optional[str] = _key("iso_639_1")
    region: Optional[str] = _key("iso_3166_1")
    size: Optional[int] = _key("size")


@dataclasses.dataclass(frozen=True)
class Detail:
    """A title's detail record; the lists not asked for (see :class:`Section`) are empty."""

    imdb_id: Optional[str] = _key("imDbId")
    title: Optional[str] = _key("title")
    original_title: Optional[str] = _key("originalTitle")
    tagline: Optional[str] = _key("tagLine")
    plot: Optional[str] = _key("plot")
    poster_url: Optional[str] = _key("posterUrl")
    picture_url: Optional[str] = _key("pictureUrl")
    title_type: Optional[str] = _key("titleType")
    genres: Optional[str] = _key("genres")  # ", "-joined
    directors: Optional[str] = _key("directors")  # ", "-joined
    trailer_url: Optional[str] = _key("trailerUrl")
    extension1: Optional[str] = _key("extension1")
    logo_base64: Optional[str] = _key("logoBase64")  # as received, not decoded
    id: Optional[int] = _key("id")
    start_year: Optional[int] = _key("startYear")
    end_year: Optional[int] = _key("endYear")
    runtime: Optional[int] = _key("runtimeMinutes")
    is_tv: Optional[bool] = _key("isTVShow")
    imdb_rating: Optional[float] = _key("imDbRating")
    cast: Tuple[CastMember, ...] = _key("casts", _list_of(CastMember), ())
    pictures: Tuple[Picture, ...] = _key("pictures", _list_of(Picture), ())
    providers: Tuple[Provider, ...] = _key("watchProviders", _list_of(Provider), ())
    videos: Tuple[Video, ...] = _key("videos", _list_of(Video), ())
    related: Tuple[str, ...] = _key("relatedIMDbIds", _list_of(), ())
    #: As :attr:`Basic.languages`, for title, original_title, tagline, plot, genres and directors.
    languages: Mapping[str, str] = _languages()


@dataclasses.dataclass(frozen=True)
class TranslationItem:
    title: Optional[str] = _key("title")
    tagline: Optional[str] = _key("tagLine")
    plot: Optional[str] = _key("plot")
    directors: Optional[str] = _key("directors")
    actors: Optional[str] = _key("actors")
    lang: Optional[str] = _key("iso_639_1")
    region: Optional[str] = _key("iso_3166_1")


@dataclasses.dataclass(frozen=True)
class Translations:
    """A title's translations."""

    imdb_id: Optional[str] = _key("imDbId")
    items: Tuple[TranslationItem, ...] = _key("items", _list_of(TranslationItem), ())


@dataclasses.dataclass(frozen=True)
class Progress:
    """One progress report of a batch. Ignore kinds you do not know: more may come."""

    kind: int  # PROGRESS_CHUNK_DONE or PROGRESS_RETRY_WAIT
    status: int  # the chunk's status, or the failed attempt's before a retry wait
    done: int  # ids done, this chunk included
    total: int  # ids in all
    wait_ms: int = 0  # the wait before the next attempt (PROGRESS_RETRY_WAIT)


@dataclasses.dataclass(frozen=True)
class LogEvent:
    """One entry of the request log: a request's attempt as it ended, or an answer the
    memory cache or the store gave without a request. Each becomes one DEBUG record of
    the logger ``tqmovie``, as the record's attribute ``tqmovie``."""

    method: str = ""  # "GET" or "POST"
    url: str = ""  # the address asked (a cache answer: the one a request would have asked), no credentials
    status: int = 0  # 0, or the attempt's failure status (a tqmovie.Status)
    http_code: int = 0  # the answer's HTTP status, 0 without one
    bytes_sent: int = 0  # on the wire for the HTTP backends; the request body for others
    bytes_received: int = 0  # on the wire for the HTTP backends; the answer's body for others
    ms: int = 0  # how long the attempt took (0 for a cache answer)
    attempt: int = 0  # 1 for the first attempt, 2 for the first retry, ...; 0 for a cache answer
    source: str = "service"  # "service", "memory" or "store"
    imdb_id: Optional[str] = None  # a cache answer's title


PROGRESS_CHUNK_DONE = 1
PROGRESS_RETRY_WAIT = 2


@dataclasses.dataclass(frozen=True)
class CacheState:
    """What the cache holds for one title."""

    held: bool  # a slot exists, even with stale records only
    basic_fresh: bool
    detail_fresh: bool


#: The text fields a language fallback fills, per record kind (the library's names).
FALLBACK_FIELDS = {
    "Basic": ("title", "tagline", "plot"),
    "Detail": ("title", "original_title", "tagline", "plot", "genres", "directors"),
}


class Batch(List[T]):
    """The records of a basic or detail batch (a list), and ``missing``: the ids asked
    for that no record answers, in the order asked, each once, compared exactly as the
    cache compares ids (None with a library without ``tqmovie_missing_count``)."""

    missing: Optional[Tuple[str, ...]] = ()


def from_json(cls: Type[T], text: bytes, languages: Optional[Mapping[str, str]] = None) -> T:
    """A record from one object of the complete export."""
    record = _build(cls, json.loads(text, object_pairs_hook=_Members))
    if languages:
        object.__setattr__(record, "languages", languages)
    return record
