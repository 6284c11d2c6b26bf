# SPDX-License-Identifier: MIT
"""A number outside the C type it is passed as is refused, never wrapped."""
import re

import pytest

import tqmovie

U32, I32 = ("uint32", 0, 2**32 - 1), ("int32", -(2**31), 2**31 - 1)
U64, I64 = ("uint64", 0, 2**64 - 1), ("int64", -(2**63), 2**63 - 1)


def http(option):
    return lambda c, v: tqmovie.HTTP(**{option: v})


# The argument as the error names it, its C type and range, a call passing v, and the setting
# read back (it must stay as it was when a value is refused).
CASES = [
    ("batch_ceiling", U64, lambda c, v: setattr(c, "batch_ceiling", v), lambda c: c.batch_ceiling),
    ("cache_limit", U64, lambda c, v: setattr(c, "cache_limit", v), lambda c: c.cache_limit),
    ("basic_seconds", I32, lambda c, v: c.set_cache_lifetimes(v, 0), None),
    ("detail_seconds", I32, lambda c, v: c.set_cache_lifetimes(0, v), None),
    ("retries", U32, lambda c, v: c.set_retry(v, 0), None),
    ("max_wait_ms", U32, lambda c, v: c.set_retry(0, v), None),
    ("ms", U32, lambda c, v: c.set_deadline(v), None),
    ("sections", U32, lambda c, v: c.detail("tt0111161", sections=v), None),
    ("sections", I32, lambda c, v: c.details(["tt0111161"], sections=v), None),
    ("connect_timeout_ms", I64, http("connect_timeout_ms"), None),
    ("timeout_ms", I64, http("timeout_ms"), None),
    ("low_speed_bytes", I64, http("low_speed_bytes"), None),
    ("low_speed_seconds", I64, http("low_speed_seconds"), None),
    ("max_body_bytes", U64, http("max_body_bytes"), None),
    ("max_redirects", I32, http("max_redirects"), None),
    ("status", I32, lambda c, v: tqmovie.Response(v), None),
    ("stale_if_error", ("int64", 0, I64[2]), lambda c, v: setattr(c, "stale_if_error", v),
     lambda c: c.stale_if_error),
]


@pytest.mark.parametrize("name, ctype, call, read", CASES, ids=[f"{c[0]}-{c[1][0]}" for c in CASES])
def test_numbers_outside_their_c_type_are_refused(client, name, ctype, call, read):
    kind, lo, hi = ctype
    for edge in (lo, hi):  # both ends go through as they are
        call(client, edge)
    before = read(client) if read else None
    assert before in (None, hi)
    for bad in (lo - 1, hi + 1, hi + 4):
        with pytest.raises(ValueError, match=re.escape(f"{name} must be from {lo} to {hi} ({kind}), not {bad}")):
            call(client, bad)
        assert read is None or read(client) == before
