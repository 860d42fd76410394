"""The decoder against the host's own: json.loads of the body decoded as UTF-8
with replacement and a leading byte-order mark dropped."""

import itertools
import json
import math
import re
import sys

import pytest
from hypothesis import event, given
from hypothesis import strategies as st

from quillon import _core
from strategies import Members, json_values

REJECTED = object()


@pytest.fixture(autouse=True)
def unlimited_int_digits():
    # The host's digit limit for int/str conversion is its own quirk; the
    # oracle must not trip over it.
    old = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(0)
    yield
    sys.set_int_max_str_digits(old)


def oracle(body: bytes):
    text = body.decode("utf-8", "replace")
    if text.startswith("\ufeff"):
        text = text[1:]
    return json.loads(text)


def same(a, b) -> bool:
    """Equality that tells types apart, sees NaN as NaN, -0.0 from 0.0 and key order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def outcome(decode, body):
    try:
        return decode(body)
    except _core.JSONDecodeError:
        return REJECTED


def error_of(error):
    """What a caller can read from a decode error."""
    return (error.msg, error.args, error.pos, error.lineno, error.colno, error.doc)


def check(body: bytes):
    """Decodes as the host does, or fails as it does; says which."""
    host_error = None
    try:
        expected = oracle(body)
    except ValueError as error:
        expected, host_error = REJECTED, error
    for decode in (_core.decode, _core.decode_buffer):
        try:
            got = decode(body)
        except _core.JSONDecodeError as error:
            got = REJECTED
            # The host's message and position, in characters, with the text it read.
            assert error_of(error) == error_of(host_error), (decode.__name__, body)
        if expected is REJECTED or got is REJECTED:
            assert got is expected, (decode.__name__, body, got)
        else:
            assert same(got, expected), (decode.__name__, body, got, expected)
    return "rejected" if expected is REJECTED else "accepted"


# Documents are built as token trees so that white space, escapes, number
# spellings and repeated keys can vary beyond what json.dumps writes.


class Raw(str):
    """A number token written as is."""


number_spellings = st.sampled_from(
    ["-0", "-0.0", "0.0", "1e400", "-1e400", "1e-400", "-1e-400", "1E5", "0.5e+3", "12.0E-0", "2.5E-3",
     "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
     "18446744073709551615", "18446744073709551616", "1.7976931348623159e308", "4.9406564584124654e-324",
     "123456789012345678901234567890.5", "0.1e1", "1" * 30, "-" + "9" * 400]
).map(Raw)

characters = st.one_of(
    st.characters(),
    st.sampled_from(["\ud800", "\udbff", "\udc00", "\udfff", '"', "\\", "/", "\x00", "\x1f", "\x7f", "\ufeff", "\U0001f600"]),
)
texts = st.text(characters, max_size=8)
keys = st.one_of(st.sampled_from(["a", "b", "", "\ud800"]), texts)

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.integers(min_value=-(10**40), max_value=10**40),
    st.floats(),
    number_spellings,
    texts,
)

trees = json_values(scalars, keys, max_leaves=10, max_size=5, repeated_keys=True)

white = st.text(" \t\n\r", max_size=2)


def string_token(s: str, style: int) -> str:
    if style == 0:
        return json.dumps(s, ensure_ascii=False)  # lone surrogates end up as raw (invalid) bytes
    token = json.dumps(s)  # every non-ASCII character escaped
    if style == 2:
        token = re.sub(r"\\u[0-9a-f]{4}", lambda m: m.group(0).upper().replace("\\U", "\\u"), token)
    return token


@st.composite
def documents(draw) -> bytes:
    tree = draw(trees)
    style = draw(st.integers(0, 2))
    # A few gaps drawn once and reused in turn keep generation cheap.
    gaps = itertools.cycle(draw(st.lists(white, min_size=1, max_size=6)))
    out = [next(gaps)]

    def emit(v):
        if isinstance(v, Members):
            out.append("{")
            for i, (k, item) in enumerate(v):
                if i:
                    out.append(next(gaps) + "," + next(gaps))
                out.append(string_token(k, style) + next(gaps) + ":" + next(gaps))
                emit(item)
            out.append(next(gaps) + "}")
        elif isinstance(v, list):
            out.append("[")
            for i, item in enumerate(v):
                if i:
                    out.append(next(gaps) + "," + next(gaps))
                emit(item)
            out.append(next(gaps) + "]")
        elif isinstance(v, Raw):
            out.append(str(v))
        elif isinstance(v, str):
            out.append(string_token(v, style))
        else:
            out.append(json.dumps(v))  # NaN, Infinity and -Infinity included
        out.append(next(gaps))

    emit(tree)
    body = "".join(out).encode("utf-8", "surrogatepass")
    if draw(st.integers(0, 9)) == 0:
        body = b"\xef\xbb\xbf" + body
    return body


fragments = st.sampled_from(
    [b"\xff", b"\x00", b"\x01", b",", b"]", b"}", b"[", b"{", b'"', b"\\", b":", b"NaN", b"Infinity", b"-", b"e", b".",
     b"0", b"1", b" ", b"\x0c", b"\xef\xbb\xbf", b"\xed\xa0\x80", b"\xc3", b"\xe2\x82", b"\\u", b"\\ud800", b"true",
     b"nul", b"x"]
)


@st.composite
def mutated_documents(draw) -> bytes:
    body = bytearray(draw(documents()))
    for _ in range(draw(st.integers(1, 3))):
        op = draw(st.sampled_from(["insert", "delete", "replace", "truncate", "append"]))
        at = draw(st.integers(0, len(body)))
        if op == "insert":
            body[at:at] = draw(fragments)
        elif op == "delete":
            del body[at : at + draw(st.integers(1, 3))]
        elif op == "replace" and at < len(body):
            body[at] = draw(st.integers(0, 255))
        elif op == "truncate":
            del body[at:]
        elif op == "append":
            body += draw(fragments)
    return bytes(body)


@given(documents())
def test_documents_decode_as_the_host_does(body):
    event(check(body))


@given(mutated_documents())
def test_damaged_documents_are_accepted_or_refused_as_the_host_does(body):
    event(check(body))


@given(st.binary(max_size=12))
def test_arbitrary_bytes(body):
    event(check(body))


host_values = json_values(
    st.one_of(st.none(), st.booleans(), st.integers(), st.integers(min_value=-(10**700), max_value=10**700),
              st.floats(), texts),
    texts,
)


@given(host_values)
def test_host_values_survive_the_round_trip(value):
    assert same(_core.roundtrip(value), value)


def arriving(body, pieces, chunk):
    try:
        return _core.decode_arriving(body, pieces, chunk)
    except _core.JSONDecodeError as error:
        return error


@given(st.one_of(documents(), mutated_documents()), st.lists(st.integers(1, 24), max_size=12))
def test_documents_decoded_as_they_arrive_whatever_the_chunks(body, pieces):
    # The body arrives in the drawn pieces, and is indexed in chunks of every
    # size from one byte to more than all of it: each cut of the document.
    try:
        expected = oracle(body)
    except ValueError as error:
        expected = error
    for chunk in range(1, len(body) + 2):
        got = arriving(body, pieces, chunk)
        if isinstance(expected, ValueError) or isinstance(got, ValueError):
            assert isinstance(got, ValueError) and error_of(got) == error_of(expected), (body, chunk, got)
        else:
            assert same(got, expected), (body, chunk, got)


LONG = "x" * 300_000
ARRIVING = [
    # Strings, numbers and runs of white space longer than many chunks.
    json.dumps({"a": [LONG, {"b": LONG + "é"}], "n": int("7" * 4000)}).encode(),
    b"[" + b" " * 200_000 + b"1" * 100_000 + b"]",
    json.dumps([["\\", "\"", "a,\"b", '",', "\u00e9"]] * 20_000).encode(),
    b'{"a": "' + b"x" * 100_000 + b'\\x"}',
    b'[1, 2]' + b" " * 300_000 + b"x",
    b'{"a": "' + b"\xff" * 70_000 + b'", "b": x}',
    b'{"a": ["' + b"\x01" + b'"]' + b", 1" * 100_000 + b"}",
    b"\xef\xbb\xbf" + json.dumps([{"k": i} for i in range(30_000)]).encode(),
]


@pytest.mark.parametrize("body", ARRIVING, ids=range(len(ARRIVING)))
@pytest.mark.parametrize("chunk, piece", [(64, 1000), (4096, 16384), (1 << 20, 7)])
def test_long_tokens_across_many_chunks(body, chunk, piece):
    try:
        expected = oracle(body)
    except ValueError as error:
        expected = error
    got = arriving(body, [piece] * (len(body) // piece + 1), chunk)
    if isinstance(expected, ValueError):
        assert isinstance(got, ValueError) and error_of(got) == error_of(expected)
    else:
        assert same(got, expected)


def test_integers_of_any_size_under_the_hosts_digit_limit():
    sys.set_int_max_str_digits(640)  # the strictest the host allows
    huge = 7**40000  # about 34,000 digits
    assert _core.roundtrip([huge, -huge]) == [huge, -huge]
    sys.set_int_max_str_digits(0)
    body = f"[{huge}, {-huge}]".encode()
    sys.set_int_max_str_digits(640)
    assert _core.decode(body) == [huge, -huge]


def test_nesting_to_the_limit_and_beyond():
    depth = _core.json_max_depth
    value = _core.decode(b"[" * depth + b"]" * depth)
    for _ in range(depth - 1):
        assert len(value) == 1
        value = value[0]
    assert value == []
    nested = []
    for _ in range(depth - 1):
        nested = [nested]
    value = _core.roundtrip(nested)
    for _ in range(depth - 1):
        assert len(value) == 1
        value = value[0]
    assert value == []
    with pytest.raises(_core.JSONDecodeError, match="deeper"):
        _core.decode(b'{"a":' * (depth + 1) + b"1" + b"}" * (depth + 1))
    with pytest.raises(ValueError, match="deeper"):
        _core.roundtrip([nested])
    looped = []
    looped.append(looped)
    with pytest.raises(ValueError):
        _core.roundtrip(looped)


@pytest.mark.parametrize("value", [(1, 2), {1: 2}, b"x", {"a": {3}}, 1j])
def test_only_json_shaped_host_values_convert(value):
    with pytest.raises(TypeError):
        _core.roundtrip(value)


def test_decode_errors_are_json_errors_and_os_errors():
    # As the host's HTTP client raises them: callers catching either kind catch them.
    assert _core.JSONDecodeError is not json.JSONDecodeError
    with pytest.raises(json.JSONDecodeError) as raised:
        _core.decode(b'{"results": 1} garbage')
    assert isinstance(raised.value, OSError) and isinstance(raised.value, _core.JSONDecodeError)
    assert str(raised.value) == "Extra data: line 1 column 16 (char 15)"


@pytest.mark.parametrize("body, message", [
    # Positions in characters, lines and columns as the host counts them.
    ('{"é€😀": x}'.encode(), "Expecting value: line 1 column 9 (char 8)"),
    (b'{\n  "results": [1, 2] ]', "Expecting ',' delimiter: line 2 column 21 (char 22)"),
    (b"\xef\xbb\xbf[1, 2, x]", "Expecting value: line 1 column 8 (char 7)"),
    (b'[1, "\xff\xfe", x]', "Expecting value: line 1 column 11 (char 10)"),
    (b'["\\ud800\\u12x4"]', "Invalid \\uXXXX escape: line 1 column 10 (char 9)"),
    (b"[" * 10 + b"1" + b"]" * 9, "Expecting ',' delimiter: line 1 column 21 (char 20)"),
])
def test_decode_errors_say_where_as_the_host_does(body, message):
    with pytest.raises(_core.JSONDecodeError) as raised:
        _core.decode(body)
    assert raised.value.args == (message,)
    assert raised.value.args == oracle_error(body).args


def oracle_error(body):
    with pytest.raises(json.JSONDecodeError) as raised:
        oracle(body)
    return raised.value


# A large answer is decoded in two halves that meet at a comma of its big
# array. A fault in either half, or one in each, is reported as the host
# reports the first: message, position, line and column.
ELEMENTS = ['{"name": "gw-#", "id": 123456789012345678901234, "up": true}', '{"a": 1, "b": ["x\\n", {}], "a": [#]}',
            '[NaN, -Infinity, 1.5e3, [], {"\\ud800": null}]', "#", '{"deep": [[[{"k": [false]}]]]}', '"text #"']
COUNT = 30000  # well over the positions a split needs
BIG = [ELEMENTS[i % len(ELEMENTS)].replace("#", str(i)) for i in range(COUNT)]
FAULTS = ["[1,]", '{"a" 1}', "tru", '{"a":1]', '"k": 1', '"\\x"', "01"]


def big_answer(damages=None):
    elements = list(BIG)
    for at, damage in (damages or {}).items():
        elements[at] = damage
    return ('{"return": true, "results": [' + ",\n ".join(elements) + "]}").encode()


@pytest.mark.parametrize("where", [[100], [COUNT // 2 + 7], [COUNT - 3], [100, COUNT - 3],
                                   [COUNT // 2 - 60, COUNT // 2 + 900]])
def test_large_arrays_report_the_first_fault_as_the_host_does(where):
    for n, fault in enumerate(FAULTS):
        # With two faults, two different ones.
        check(big_answer({at: FAULTS[(n + k) % len(FAULTS)] for k, at in enumerate(where)}))


def test_large_answers_end_and_objects_stay_whole_as_the_host_reads_them():
    check(big_answer())
    check(big_answer() + b" x")
    # A comma followed by a value in a large object is a fault, not a split,
    # even where what follows would read as the rest of an array.
    members = ['"k%d": %d' % (k, k) for k in range(40000)]
    members[20800] = '1, {"x": 1}], "k": 0'
    check(("{" + ", ".join(members) + ', "last": 0}').encode())
