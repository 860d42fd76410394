"""The JSON Lines writer against the host's json.dumps(value, ensure_ascii=False),
on answers decoded by the core and on host values."""
import json
import re
import sys

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from quillon import _core
from strategies import floats, integers, json_values, keys, texts
from test_json_decode import REJECTED, documents, oracle, same


@pytest.fixture(autouse=True)
def unlimited_int_digits():
    old = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(0)
    yield
    sys.set_int_max_str_digits(old)


def host_bytes(value, indented=False) -> bytes:
    """What the host writes, as UTF-8; indented: the file --save writes. Lone surrogates, which
    its text would hold raw and could not encode, as \\uXXXX escapes (they are only ever inside strings)."""
    if indented:
        text = json.dumps(value, indent=2, sort_keys=True, ensure_ascii=False) + "\n"
    else:
        text = json.dumps(value, ensure_ascii=False)
    return re.sub("[\ud800-\udfff]", lambda m: "\\u%04x" % ord(m.group()), text).encode("utf-8")


def check_written(ours: bytes, expected):
    # One line of valid UTF-8 that reads back to the same value, member order included.
    text = ours.decode("utf-8")
    assert "\n" not in text
    assert same(json.loads(text), expected), (ours, expected)
    assert ours == host_bytes(expected)


def paired_surrogates(value) -> bool:
    """A high surrogate right before a low one: no JSON text reads back as that pair."""
    if isinstance(value, str):
        return any("\ud800" <= a <= "\udbff" and "\udc00" <= b <= "\udfff" for a, b in zip(value, value[1:]))
    if isinstance(value, list):
        return any(paired_surrogates(v) for v in value)
    if isinstance(value, dict):
        return any(paired_surrogates(k) or paired_surrogates(v) for k, v in value.items())
    return False


@given(documents())
def test_decoded_answers_are_written_back_as_the_host_writes_them(body):
    try:
        expected = oracle(body)
    except ValueError:
        expected = REJECTED
    assume(expected is not REJECTED)
    check_written(_core.json_rewrite(body), expected)
    assert _core.json_rewrite(body, indented=True) == host_bytes(expected, indented=True)  # as --save writes it


host_values = json_values(st.one_of(st.none(), st.booleans(), integers, floats, texts(20)), keys)


@given(host_values)
def test_host_values(value):
    assume(not paired_surrogates(value))
    check_written(_core.json_dumps(value), value)
    # The saved form: indented, keys sorted by code point.
    assert _core.json_dumps(value, indented=True) == host_bytes(value, indented=True)


def test_scalars_and_shapes():
    values = [
        None, True, False, 0, -1, 2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 10**400, -(7**900),
        0.0, -0.0, 0.1, 1.5, 1e16, 1e15, 123456789.0, 1e22, 1e-5, 1e-4, 5e-324, 1.7976931348623157e308,
        float("nan"), float("inf"), float("-inf"),
        "", "\x7f", "\u2028\u2029", "\ufeff", "\u4e2d\u6587", "\U0001f600", "a/b", "\ud7ff\ue000",
        "".join(map(chr, range(0x20))),
        [], {}, [[]], [{}], {"": {}}, {"b": 1, "a": 2, "\xe9": 3, "A": [1, [2, [3]]]},
    ]
    for value in values:
        check_written(_core.json_dumps(value), value)
        check_written(_core.json_dumps([value, {"k": value}]), [value, {"k": value}])


def test_lone_surrogates_are_escaped():
    for text in ["\ud800", "\udfff", "a\udbffb", "\udc00\ud800", "\ud800" * 3, "\u4e2d\ud800\u4e2d"]:
        check_written(_core.json_dumps({text: text}), {text: text})
    # A pair in a decoded answer is one character; a lone one stays escaped.
    assert _core.json_rewrite(b'{"\\udfff": "\\ud800\\udc00\\ud800"}') == '{"\\udfff": "\U00010000\\ud800"}'.encode()


# Characters that end a run of plain text, or look as if they might: every
# offset within and across the 16- and 8-byte blocks the text is copied in.
RUN_ENDS = ['"', "\\", "\x00", "\x08", "\t", "\n", "\x0c", "\r", "\x1f", " ", "'", "\x7f", "\x80", "\xe9", "\u4e2d",
            "\ud000", "\ud7ff", "\ud800", "\udfff", "\U0001f600"]


def test_run_ends_at_every_offset_of_a_block():
    for special in RUN_ENDS:
        for before in range(0, 41):
            for after in (0, 1, 7, 8, 9, 15, 16, 17):
                text = "a" * before + special + "b" * after
                check_written(_core.json_dumps([text, {text: text}]), [text, {text: text}])


def test_large_output_is_handed_over_in_bounded_pieces():
    rows = [{"id": i, "name": "row %d \u4e2d" % i, "tags": ["t\n"] * (i % 5), "ratio": i / 7} for i in range(30000)]
    # Long texts are written in slices, never cut inside a character or an escape.
    long_texts = ["x" * 300_000, "\u4e2d\ud800\"\x01" * 90_000, ("a" * 16383 + "\u4e2d") * 20]
    for value in (rows, long_texts, {"k": long_texts[1]}):
        pieces = _core.json_pieces(value)
        assert len(pieces) > 5
        assert all(len(p) >= 65536 for p in pieces[:-1])
        assert max(len(p) for p in pieces) < 4 * 65536
        check_written(b"".join(pieces), value)


def test_deep_nesting_is_written_without_recursion():
    depth = _core.json_max_depth
    body = b'{"a": ' * (depth // 2) + b"[" * (depth // 2) + b"]" * (depth // 2) + b"}" * (depth // 2)
    assert _core.json_rewrite(body) == body
    nested = [{"b": [1, {}], "a": []}]
    for i in range(150):
        nested = [{"z": nested, "y": [i, {}]}]
    assert _core.json_dumps(nested, indented=True) == host_bytes(nested, indented=True)


@pytest.mark.parametrize("description", [None, "", "Gateways: name & state", 'say "hi"\n\u00fcber \ud800'])
def test_result_and_error_lines(description):
    files = ["gateways.cfg", "caf\u00e9 \\ \"q\".cfg", "bad-\udcff.cfg"]  # the last: an undecodable byte in a file name
    result = {"z": [1, 2.5, None], "a": {"object": "gw-1", "results": [float("nan")]}}
    for file in files:
        line = _core.json_result_line(file, description, result)
        assert line.endswith(b"\n") and line.count(b"\n") == 1
        expected = {"file": file, "description": description, "result": result}
        check_written(line[:-1], expected)
        line = _core.json_error_line(file, description, "KeyError", "'gw_name'\tnot found")
        assert line.endswith(b"\n") and line.count(b"\n") == 1
        expected = {"file": file, "description": description,
                    "error": {"kind": "KeyError", "message": "'gw_name'\tnot found"}}
        check_written(line[:-1], expected)
