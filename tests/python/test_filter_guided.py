"""Filters on answers decoded as a run decodes them: in chunks as they arrive,
built only as far as the filters read (the plan), against the host's json +
filter on the same bytes, faults where no filter looks included."""
import json

import pytest
from hypothesis import given, strategies as st

from quillon import _core
from test_filter import KEYS, filter_lists, model, native, outcome, record_arrays
from test_json_decode import same


def host_run(body, filters):
    """The host with an answer and its filters: decode the body as its client
    does, then filter."""
    text = body.decode("utf-8", "replace")
    try:
        value = json.loads(text[1:] if text.startswith("\ufeff") else text)
    except json.JSONDecodeError as error:
        return ("refused", error.msg, error.pos, error.lineno, error.colno)
    return outcome(model, value, filters)


def guided_run(body, filters, chunk):
    try:
        value = _core.decode_arriving(body, [5] * (len(body) // 5 + 1), chunk, filters)
    except _core.JSONDecodeError as error:
        return ("refused", error.msg, error.pos, error.lineno, error.colno)
    except Exception as error:
        return ("error", type(error), error.args)
    return ("value", value)


def assert_guided_is_the_host(body, filters, chunks):
    expected = host_run(body, filters)
    for chunk in chunks:
        got = guided_run(body, filters, chunk)
        if expected[0] == "value":
            assert got[0] == "value" and same(got[1], expected[1]), (body, filters, chunk, got)
        else:
            assert got == expected, (body, filters, chunk)


DEPTH = _core.json_max_depth
DROPPED = [
    # The fault, or the host's own reading, lies where no filter looks.
    (b'{"results": [{"a": 1, "b": tru}], "x": 1}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": [1, 2,]}]}', ["results", "a & c"]),
    (b'{"results": [{"a": 1, "b": {"c" 1}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {"c" "d" 1}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {"c", 1}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {"c": 1 "d": 2}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {1: 2}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {"c":}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": [1 2]}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": [,]}, {"b": {,}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": [}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": {"c": [1}}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": true false}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": 1.}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": 01}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": -}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": "\x01"}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": "\\x"}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": "\\ud800\\u12x4"}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": "\xff\xfe"}], "c": x}', ["results", "a"]),
    (b'{"results": [{"a": 1}], "b": "open', ["results", "a"]),
    (b'{"results": [{"a": 1}]} {"results": 2}', ["results", "a"]),
    (b'{"skip": [' + b'{"k": [1, {"z": null}]}, ' * 50 + b'1 2], "results": [{"a": 1}]}', ["results", "a"]),
    # Accepted where no filter looks: the host's extensions and its repairs.
    (b'{"results": [{"a": 1, "b": [NaN, -Infinity, 1e999, 123456789012345678901234567890]}]}', ["results", "a"]),
    (b'{"results": [{"a": 1, "b": "\\ud800", "c": "\xff"}]}', ["results", "a & c"]),
    (b'\xef\xbb\xbf{"results": [{"a": 1, "b": "\xe2\x82"}]}', ["results", "a"]),
    # What the filters read is there as in the answer: repeated keys (the
    # last wins), kinds, missing keys.
    (b'{"results": [{"a": 1, "a": {"x": 2}, "b": 3}]}', ["results", "a & b", "a"]),
    (b'{"results": [{"a": 1}], "results": 5}', ["results", "a"]),
    (b'{"results": [{"a": 1}, {"b": 2}]}', ["results", "a"]),
    (b'{"results": [{"a": 1}, [1, 2], "x"]}', ["results", "a & b"]),
    (b'{"results": [{"a": {"b": [1]}}, {"a": {"c": 1}}]}', ["results", "a", "b"]),
    (b'{"results": [{"a": 1}]}', ["results & a", "results", "a"]),
    (b'{"results": [{"a": 1}]}', ["results & a", "a"]),
    (b'{"results": [{"a": 1}]}', [" results ", "a"]),
    (b'{"results": [[{"a": 1}]]}', ["results", "a"]),
    (b'{"r": [{"a": 1, "b": 2}], "s": [1]}', ["r & s", "r", "b & a", "a"]),
]


@pytest.mark.parametrize("body, filters", DROPPED)
def test_guided_decoding_refuses_and_accepts_as_the_host_does(body, filters):
    assert_guided_is_the_host(body, filters, [1, 2, 3, 5, 8, 64, 1 << 20])


@pytest.mark.parametrize("depth", [DEPTH - 3, DEPTH - 2])
def test_nesting_where_no_filter_looks_counts_as_anywhere(depth):
    # The host has no limit of its own (only its stack's); ours holds in
    # parts that are not built as it does in the rest.
    body = b'{"results": [{"a": 1, "b": ' + b"{\"c\": [" * (depth // 2) + b"]}" * (depth // 2) + b"}]}"
    try:
        whole = ("value", native(json.loads(body), ["results", "a"]))
    except RecursionError:
        whole = None
    try:
        _core.decode(body)
        expected = ("value", [1])
    except _core.JSONDecodeError as error:
        expected = ("refused", error.msg, error.pos, error.lineno, error.colno)
    assert (expected[0] == "refused") == (depth > DEPTH - 3) and whole in (None, expected)
    for chunk in [1, 7, 1 << 20]:
        assert guided_run(body, ["results", "a"], chunk) == expected


FAULTS = st.sampled_from([b"tru", b"1.", b"-", b"01", b",", b":", b"]", b"}", b"[", b"{", b'"', b"\\x", b"\x01",
                          b"\xff", b"NaN", b"1e5", b"\\ud800", b" ", b"[]", b'{"a":'])


@given(results=record_arrays | st.dictionaries(st.sampled_from(KEYS), record_arrays), filters=filter_lists,
       data=st.data())
def test_guided_decoding_of_damaged_answers_is_the_hosts(results, filters, data):
    body = json.dumps(results, ensure_ascii=False).encode("utf-8", "surrogatepass")
    for _ in range(data.draw(st.integers(1, 2))):
        at = data.draw(st.integers(0, len(body)))
        body = body[:at] + data.draw(FAULTS) + body[at:]
    assert_guided_is_the_host(body, filters, [1, 4, 1 << 20])
