"""The comparison behind --compare against a plain recursive model of it,
over pairs of results that share most of their shape."""
import math
import pprint
import re

from hypothesis import given
from hypothesis import strategies as st

from quillon import _core

# A small world of keys and values, so that generated pairs overlap: records
# with identifying members, lists of names, nested objects.
KEYS = ["name", "id", "gw_id", "vpc_name", "object", "state", "tags", "a b"]
scalars = st.one_of(st.none(), st.booleans(), st.integers(-3, 3), st.sampled_from([0.0, -0.0, 1.0, math.nan]),
                    st.sampled_from(["up", "down", "gw-1", "gw-2", "gw-3", "\x1b", "é"]), st.just(2**70))
values = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=5),
                                                        st.dictionaries(st.sampled_from(KEYS), inner, max_size=5)),
                      max_leaves=20)


def flat(value):
    return pprint.pformat(value, width=10**9, sort_dicts=True)


def identity(value):
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else repr(value))
    return (type(value).__name__, value)


def same(a, b):
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, (dict, list)) or isinstance(b, (dict, list)):
        return False
    return identity(a) == identity(b)


def index(items, identify):
    ids = [identify(v) for v in items]
    if None in ids or len(set(ids)) != len(ids):
        return None
    return {k: i for i, k in enumerate(ids)}


def match(before, after):
    first = (after or before)[0]
    if not isinstance(first, (dict, list)):
        keyed = [lambda v: None if isinstance(v, (dict, list)) else identity(v)]
    elif isinstance(first, dict):
        names = (["name", "id"] + sorted(k for k in first if k.endswith("_id"))
                 + sorted(k for k in first if k.endswith("_name")) + ["object"])
        keyed = [lambda v, k=k: identity(v[k]) if isinstance(v, dict) and k in v
                 and not isinstance(v[k], (dict, list)) else None for k in names]
    else:
        keyed = []
    for identify in keyed:
        was, now = index(before, identify), index(after, identify)
        if was is not None and now is not None:
            return was, now
    return None


def compare(before, after, path=()):
    if isinstance(before, dict) and isinstance(after, dict):
        for key in sorted(before.keys() | after.keys()):
            if key not in before:
                yield "added", path + (key,), None, after[key]
            elif key not in after:
                yield "removed", path + (key,), before[key], None
            else:
                yield from compare(before[key], after[key], path + (key,))
    elif isinstance(before, list) and isinstance(after, list):
        if not before and not after:
            return
        matched = match(before, after)
        if matched is None:
            for i in range(max(len(before), len(after))):
                if i >= len(before):
                    yield "added", path + (i,), None, after[i]
                elif i >= len(after):
                    pass
                else:
                    yield from compare(before[i], after[i], path + (i,))
            for i in range(len(after), len(before)):
                yield "removed", path + (i,), before[i], None
            return
        was, now = matched
        for k, i in sorted(now.items(), key=lambda item: item[1]):
            if k not in was:
                yield "added", path + (i,), None, after[i]
            elif isinstance(after[i], dict):
                yield from compare(before[was[k]], after[i], path + (i,))
        for k, j in sorted(was.items(), key=lambda item: item[1]):
            if k not in now:
                yield "removed", path + (j,), before[j], None
    elif not same(before, after):
        yield "changed", path, before, after


def path_text(path):
    text = ""
    for step in path:
        if isinstance(step, int):
            text += f"[{step}]"
        elif re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", step):
            text += ("." if text else "") + step
        else:
            text += f"[{step!r}]"
    return text


def model(before, after):
    return [(change, path_text(path), None if b is None and change == "added" else flat(b),
             None if change == "removed" else flat(a))
            for change, path, b, a in compare(before, after)]


@given(values, values)
def test_differences_are_the_models(saved, current):
    assert _core.compare_values(saved, current) == model(saved, current)


@given(values)
def test_a_result_never_differs_from_itself(value):
    assert _core.compare_values(value, value) == []


RECORDS = [{"name": "gw-1", "state": "up"}, {"name": "gw-2", "state": "up"}, {"name": "gw-3", "state": "down"}]


def test_what_an_operator_reads():
    changed = [dict(RECORDS[0], state="down"), RECORDS[2], {"name": "gw-4", "state": "up"}]
    assert _core.compare_values(RECORDS, changed) == [
        ("changed", "[0].state", "'up'", "'down'"),
        ("added", "[2]", None, "{'name': 'gw-4', 'state': 'up'}"),
        ("removed", "[1]", "{'name': 'gw-2', 'state': 'up'}", None)]
    # Reordered records and names are no change; one name inserted is one line.
    assert _core.compare_values(RECORDS, RECORDS[::-1]) == []
    assert _core.compare_values(["a", "b"], ["a", "x", "b"]) == [("added", "[1]", None, "'x'")]
    # Records without a distinct identity are matched by position.
    twins = [{"state": "up"}, {"state": "up"}]
    assert _core.compare_values(twins, [{"state": "up"}, {"state": "down"}]) == [
        ("changed", "[1].state", "'up'", "'down'")]
    assert _core.compare_values({"a b": 1, "x": [{"v": 1.0}]}, {"a b": 2, "x": [{"v": 1}]}) == [
        ("changed", "['a b']", "1", "2"), ("changed", "x[0].v", "1.0", "1")]
