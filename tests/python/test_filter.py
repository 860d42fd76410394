"""Filter expressions, on host objects (filter_host) and in the core (native:
the JSON text decoded and filtered by the core).

Both are compared with `model`, a plain Python statement of the filter rules:
same result (types and key order included, identity of passed-through values
on the host path) or the same error.
"""
import collections
import copy
import json
import sys

import pytest
from hypothesis import given, strategies as st

from quillon import _core
from strategies import json_values

# Built at run time so that it is not the interned literal: identity checks
# can then tell the marker apart from the input's own text.
MARKER = "".join(["FILTER_", "NOT_FOUND"])


def model(results, filters):
    if len(filters) == 0:
        return results
    current, remaining = filters[0], filters[1:]
    keys = [piece.strip() for piece in current.split("&")]
    if isinstance(results, list):
        stepped = []
        for result in results:
            if len(keys) > 1:
                selected = {}
                for key in keys:
                    try:
                        selected[key] = result[key]
                    except KeyError:
                        selected[key] = MARKER
                stepped.append(selected)
            else:
                stepped.append(result[keys[0]])
        return model(stepped, remaining)
    if isinstance(results, dict):
        if len(keys) > 1:
            selected = {}
            for key in keys:
                try:
                    selected[key] = results[key]
                except KeyError:
                    selected[key] = MARKER
            return model(selected, remaining)
        try:
            value = results[current]
        except KeyError:
            value = MARKER
        return model(value, remaining)
    return None


def native(results, filters):
    return _core.filter_json(json.dumps(results), filters)


def native_in_place(results, filters):
    """As a run filters: the result built in the decoded answer's own storage."""
    return _core.filter_json(json.dumps(results), filters, consume=True)


def guided(results, filters):
    """As a run decodes and filters: only what the filters read is built, while
    the answer arrives, in chunks of a few bytes."""
    text = json.dumps(results).encode()
    return _core.decode_arriving(text, [7] * (len(text) // 7 + 1), 1 + len(text) % 13, filters)


PATHS = pytest.mark.parametrize("path", [_core.filter_host, native, native_in_place, guided],
                                ids=["host", "native", "in-place", "guided"])


def outcome(function, results, filters):
    try:
        return ("value", function(results, filters))
    except Exception as error:  # compared by class and arguments
        return ("error", type(error), error.args)


def strict_equal(a, b):
    """Equal, with the same types and the same key order all the way down."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(strict_equal(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(strict_equal(a[k], b[k]) for k in a)
    return a == b


def ids_within(value, into):
    into.add(id(value))
    if isinstance(value, list):
        for item in value:
            ids_within(item, into)
    elif isinstance(value, dict):
        for key, item in value.items():
            into.add(id(key))
            ids_within(item, into)
    return into


def assert_same_shape(expected, actual, own):
    """Values the model passed on from the input are the very same objects;
    everything around them is new and equal."""
    if id(expected) in own:
        assert actual is expected
        return
    assert type(actual) is type(expected)
    if isinstance(expected, list):
        assert len(actual) == len(expected)
        for e, a in zip(expected, actual):
            assert_same_shape(e, a, own)
    elif isinstance(expected, dict):
        assert list(actual) == list(expected)
        for key in expected:
            assert_same_shape(expected[key], actual[key], own)
    else:
        assert actual == expected


def assert_agrees_with_model(path, results, filters):
    before = copy.deepcopy((results, filters))
    expected = outcome(model, results, filters)
    actual = outcome(path, results, filters)
    assert actual[0] == expected[0], (expected, actual)
    if expected[0] == "error":
        assert actual[1:] == expected[1:]
    elif path is _core.filter_host:
        assert_same_shape(expected[1], actual[1], ids_within(results, set()))
    else:
        assert strict_equal(actual[1], expected[1])
    assert strict_equal((results, filters), before)


def records():
    return [{"name": "gw-a", "vpc_id": "vpc-1", "size": {"cpu": 2}}, {"name": "gw-b", "size": {"cpu": 4}}]


def answer():
    return {"return": True, "results": records()}


R, A = records(), answer()
NF = "FILTER_NOT_FOUND"
WORKED_EXAMPLES = [
    # value, filters, result or the error's class and key
    (R, [], R),
    (R, ["name"], ["gw-a", "gw-b"]),
    (R, ["size", "cpu"], [2, 4]),
    (R, ["name & vpc_id"], [{"name": "gw-a", "vpc_id": "vpc-1"}, {"name": "gw-b", "vpc_id": NF}]),
    (R, ["vpc_id"], KeyError("vpc_id")),
    (R, ["name&vpc_id", "vpc_id"], ["vpc-1", NF]),
    (R, ["name&vpc_id", "vpc_id", "x"], TypeError),
    (R, ["name & name"], [{"name": "gw-a"}, {"name": "gw-b"}]),
    (A, ["results", "name"], ["gw-a", "gw-b"]),
    (A, ["return & reason"], {"return": True, "reason": NF}),
    (A, ["reason"], NF),
    (A, ["reason", "name"], None),
    (A, ["return", "x"], None),
    (A, ["results & return"], {"results": R, "return": True}),
    (A, ["results & return", "results"], R),
    (A, ["results & return", "results", "size"], [{"cpu": 2}, {"cpu": 4}]),
    (A, ["results & return", "results", "size", "cpu"], [2, 4]),
    (A, [" results "], NF),
    (R, [" name "], ["gw-a", "gw-b"]),
    ([], ["anything", "at & all"], []),
    ({}, ["a&b"], {"a": NF, "b": NF}),
]


@PATHS
@pytest.mark.parametrize("value, filters, expected", WORKED_EXAMPLES)
def test_worked_examples(path, value, filters, expected):
    value = copy.deepcopy(value)
    if isinstance(expected, type):
        with pytest.raises(expected):
            path(value, filters)
    elif isinstance(expected, KeyError):
        with pytest.raises(KeyError) as raised:
            path(value, filters)
        assert raised.value.args == expected.args
    else:
        assert strict_equal(path(value, filters), expected)


# Random JSON values whose objects often hold the keys the filters ask for.
KEYS = ["a", "b", "", "a b", " a", "\u3000", NF, "\ud800"]
SPACE = st.sampled_from(["", " ", "\t", "\u3000", "\x1c", "\u0085", "\u200b"])
scalars = (
    st.none() | st.booleans() | st.integers() | st.integers(min_value=2**63, max_value=2**70)
    | st.floats(allow_nan=False) | st.sampled_from(KEYS) | st.text(max_size=4)
)
values = json_values(scalars, st.sampled_from(KEYS) | st.text(max_size=3), max_leaves=20)
key_pieces = st.builds(lambda pre, key, post: pre + key + post, SPACE, st.sampled_from(KEYS), SPACE)
expressions = st.lists(key_pieces, min_size=1, max_size=3).map("&".join) | SPACE
filter_lists = st.lists(expressions, max_size=4)


@PATHS
@given(results=values, filters=filter_lists)
def test_agrees_with_model(path, results, filters):
    assert_agrees_with_model(path, results, filters)


# Arrays of records, so that steps go deep before they fail or reach a scalar.
small_values = json_values(scalars, st.sampled_from(KEYS), max_leaves=4, max_size=3)
record_arrays = st.lists(st.dictionaries(st.sampled_from(KEYS), small_values, max_size=5), max_size=4)


@PATHS
@given(results=record_arrays | st.dictionaries(st.sampled_from(KEYS), record_arrays), filters=filter_lists)
def test_agrees_with_model_on_records(path, results, filters):
    assert_agrees_with_model(path, results, filters)


class Defaulting(dict):
    def __missing__(self, key):
        return "default:" + key


class Refusing(dict):
    def __init__(self, error):
        super().__init__(a=1)
        self.error = error

    def __getitem__(self, key):
        raise self.error


class Record(collections.UserDict):
    pass


class Listed(list):
    def __iter__(self):  # a loop over the array goes through the list's own iterator
        return iter(reversed(list.__iter__(self)))


class Expressions:
    def __init__(self, *items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return Expressions(*self.items[index]) if isinstance(index, slice) else self.items[index]


HOST_CASES = [
    (Defaulting(a=1), ["b"]),
    (Defaulting(a=1), ["a & b"]),
    ([Defaulting(a=1)], ["b"]),
    ([Refusing(KeyError("custom"))], ["a"]),
    ([Refusing(KeyError("custom"))], ["a & b"]),
    (Refusing(KeyError("custom")), ["a"]),
    (Refusing(type("Sub", (KeyError,), {})("sub")), ["a & b"]),
    (Refusing(LookupError("not a key error")), ["a & b"]),
    (Refusing(IndexError("index")), ["a"]),
    (collections.OrderedDict(a=1, b=2), ["b & a"]),
    (Record(a=1), ["a"]),
    ([Record(a=1)], ["a & b"]),
    (Listed([{"a": 1}, {"a": 2}]), ["a"]),
    (Listed([{"a": 1}, {"a": 2}]), ["a & b"]),
    ((1, 2), ["a"]),
    ([(1, 2)], ["a"]),
    ([[{"a": 1}]], ["a"]),
    ([{"a": 1}, [1]], ["a & b"]),
    ([{"a": 1}, "text"], ["a&b"]),
    ([{"a": 1}, None], ["a"]),
    ({"a": 1}, [5]),
    (None, [5]),
    ({"a": 1}, ["a", b"x"]),
    ({"a": {"b": 2}}, ("a", "b")),
    ({"a": {"b": 2}}, "ab"),
    ({"a": {"b": 2}}, Expressions("a", "b")),
    ({"a": 1}, {"a"}),
    ({"a": 1}, 3),
    ({(1,): 1}, ["a"]),
]


@pytest.mark.parametrize("results, filters", HOST_CASES)
def test_host_lookups_and_lists_are_the_hosts_own(results, filters):
    expected = outcome(model, results, filters)
    actual = outcome(_core.filter_host, results, filters)
    if expected[0] == "value" and actual[0] == "value":
        assert_same_shape(expected[1], actual[1], ids_within(results, set()))
    else:
        assert actual == expected


def test_missing_key_error_is_the_lookups_own():
    error = KeyError("custom")
    with pytest.raises(KeyError) as raised:
        _core.filter_host([Refusing(error)], ["a"])
    assert raised.value is error


MARKER_CASES = [
    # After the marker is stored it is ordinary text for every later step.
    (["name&vpc_id", "vpc_id", "name"], TypeError("string indices must be integers, not 'str'")),
    (["name&vpc_id", "vpc_id", "a & b"], TypeError("string indices must be integers, not 'str'")),
    (["size & vpc_id", "vpc_id"], ["vpc-1", NF]),
]


@pytest.mark.parametrize("path", [_core.filter_host, native, guided], ids=["host", "native", "guided"])
@pytest.mark.parametrize("filters, expected", MARKER_CASES)
def test_marker_is_ordinary_text_afterwards(path, filters, expected):
    got = outcome(path, records(), filters)
    if isinstance(expected, Exception):
        assert got[1:] == (type(expected), expected.args)
    else:
        assert got == ("value", expected)


@pytest.mark.parametrize("path", [_core.filter_host, native, guided], ids=["host", "native", "guided"])
def test_marker_in_the_input_is_just_text(path):
    assert path({NF: {NF: 1}}, [NF, NF]) == 1
    assert path({"a": NF}, ["a", "b"]) is None
    with pytest.raises(TypeError):
        path([{"a": NF}], ["a", "b"])


CALLS = [
    ((), {}),
    (({},), {}),
    (({}, []), {}),
    (({}, [], 1), {}),
    (({}, [], 1, 2), {"x": 1}),
    ((), {"results": {}, "filters": []}),
    ((), {"filters": [], "results": {}}),
    (({},), {"filters": []}),
    (({},), {"results": {}}),
    (({}, []), {"results": {}}),
    (({}, [], 3), {"filters": []}),
    ((), {"filters": []}),
    ((), {"results": {}}),
    (({}, []), {"x": 1}),
    ((), {"x": 1, "results": {}}),
    ((), {"it's": 1}),
]


def filter_host(results, filters):  # the signature the hook must behave like
    return results


@pytest.mark.parametrize("args, kwargs", CALLS)
def test_argument_count_errors_are_the_hosts(args, kwargs):
    expected = outcome(lambda a, k: filter_host(*a, **k), args, kwargs)
    actual = outcome(lambda a, k: _core.filter_host(*a, **k), args, kwargs)
    assert actual == expected


def test_long_filter_lists_and_key_lists_on_host_values():
    depth = 200_000
    assert depth > sys.getrecursionlimit()
    leaf = {"v": 1}
    nested = leaf
    for _ in range(depth):
        nested = {"k": nested}
    assert _core.filter_host(nested, ["k"] * depth) is leaf
    assert _core.filter_host([nested] * 3, ["k"] * depth + ["v"]) == [1, 1, 1]
    assert _core.filter_host({}, ["&".join(["a"] * depth)]) == {"a": NF}


def test_long_arrays_and_key_lists_in_the_core():
    # Deep chains in the core are covered by the C++ tests (the decoder limits nesting).
    size = 200_000
    assert native([{"k": 1}] * size, ["k & x"]) == [{"k": 1, "x": NF}] * size
    assert native({"a": 1}, ["&".join(["a", "b"] * size)]) == {"a": 1, "b": NF}


@pytest.mark.parametrize(
    "value",
    ["", "a", "a,b", " results , name & vpc_id ,", ",,", "\u3000a\u0085,\tb c", "a\x1f,b"],
)
def test_split_filter_list(value):
    assert _core.split_filter_list(value) == [piece.strip() for piece in value.split(",")]
