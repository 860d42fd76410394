"""Form bodies must match, byte for byte, what the host's HTTP client sends."""
import math

import pytest
from hypothesis import given, strategies as st
from requests.models import RequestEncodingMixin

from quillon import _core
from strategies import json_values

# Letters that quote_plus treats differently: reserved, unreserved, space,
# non-ASCII, astral, and lone surrogates (which must fail the same way).
ALPHABET = st.one_of(
    st.sampled_from(list(" &=+%#?/;:@!$'()*,[]~_.-\"\\\t\n") + ["é", "ß", "中", "\U0001f600", "\x00", "\x7f"]),
    st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF),
    st.characters(),
)
TEXT = st.text(ALPHABET, max_size=8)
CLEAN_TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=8)
SCALARS = st.one_of(
    st.none(), st.booleans(),
    st.integers(min_value=-(2**63), max_value=2**63 - 1),
    st.integers(min_value=-(10**40), max_value=10**40),
    st.floats(allow_nan=True, allow_infinity=True),
    TEXT,
)

FIELDS = st.dictionaries(TEXT, json_values(SCALARS, TEXT, max_leaves=12), max_size=5)


def host_body(fields):
    try:
        return RequestEncodingMixin._encode_params(fields), None
    except UnicodeEncodeError as e:
        return None, (e.object, e.start, e.end, str(e))


def our_body(fields):
    try:
        return _core.encode_form(list(fields.items())), None
    except UnicodeEncodeError as e:
        return None, (e.object, e.start, e.end, str(e))


@given(FIELDS)
def test_matches_host_client(fields):
    assert our_body(fields) == host_body(fields)


@given(st.dictionaries(CLEAN_TEXT, json_values(st.one_of(SCALARS.filter(lambda v: not isinstance(v, str)), CLEAN_TEXT),
                                                        CLEAN_TEXT, max_leaves=12),
                       max_size=5))
def test_clean_text_always_encodes(fields):
    # Without lone surrogates every value has a body, equal to the host's.
    body, error = our_body(fields)
    assert error is None and body == host_body(fields)[0]


@pytest.mark.parametrize("fields", [
    # Field order is insertion order, not sorted.
    {"CID": "abc", "action": "list", "b": "1", "a": "2"},
    # Nulls vanish, at the top and inside arrays, but print as None one level down.
    {"n": None, "l": [None, 1, [None, "x"]], "e": [], "o": {}},
    # A real's repr, not a fixed format; huge, tiny and special values.
    {"r": [1e16, 1e-5, 0.1, -0.0, 2.5, 1e22, math.inf, -math.inf, math.nan, 1e300 * 10]},
    # Containers one level down are written by repr, keys in stored order.
    {"c": [[{"z": 1, "a": [1.5, "q'\"", None, True]}], {"k2": 0, "k1": 1}]},
    # An object value sends its member names only.
    {"obj": {"x y": 1, "ü": {"deep": 1}}},
])
def test_tricky_values(fields):
    assert our_body(fields) == host_body(fields)


@pytest.mark.parametrize("fields", [
    {"a": "ok", "b": ["\ud800"]},         # a text element of an array
    {"a": [["x\udfff\ud800y"]]},          # inside an inner array: a run of two
    {"\udc80": 1},                        # the name, only once a value is sent
    {"\udc80": None, "ok": "\ud801"},     # a dropped field's name is never encoded
    {"a": [["\ud800"]], "b": "\ud801"},   # top-level text fails first, as in the host
    {"a": {"\ud800": None}},              # member names of an object value
])
def test_surrogates_fail_like_the_host(fields):
    ours, host = our_body(fields), host_body(fields)
    assert ours == host and host[1] is not None
