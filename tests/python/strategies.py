"""Hypothesis strategies for JSON-shaped values, shared by the differential tests.

`json_values` is the one recursive shape (arrays and objects around scalars);
each test passes the scalars and keys that stress its own unit. The scalar
pieces here reach the edges every unit has: integers at the 64-bit limits and
far beyond, reals at the edges of their shortest spelling, texts of line ends,
spaces, quotes, escapes, lone surrogates and astral characters, and keys whose
code-point order differs from their UTF-16 order.
"""
from hypothesis import strategies as st

LINE_ENDS = ["\n", "\r", "\r\n", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]
SPACES = [" ", " ", " ", "  ", "\t", "\x1f", "\xa0", "\u3000", "\u2003"]
ODD = [
    "'", '"', "\\", "\x00", "\x07", "\x1b", "\x7f", "\x9f", "\xad", "\u200b", "\u200e", "\ufeff",
    "\U000e0001", "\ud800", "\udfff", "\udbff", "\ue000", "\uf8ff", "\u0378", "\uffff", "\U0010ffff",
    "\U00010000", "\U0001f600", "\xe9", "\u4e2d", "\u0394", "A", "Z", "_",
]
WORDS = st.text(alphabet="abcdefghijklmnopqrstuvwxyz", min_size=1, max_size=25)
PIECES = st.one_of(WORDS, st.sampled_from(LINE_ENDS), st.sampled_from(SPACES), st.sampled_from(ODD),
                   st.text(max_size=4))


def texts(max_pieces=60):
    """Words, line ends, spaces and odd characters run together."""
    return st.lists(PIECES, max_size=max_pieces).map("".join)


floats = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([1e16, 9999999999999998.0, 1e15, 123456789012345.6, 1e-4, 1e-5, 9.999999999999999e-05,
                     0.0001000001, 1e22, 1e100, 5e-324, 1.7976931348623157e308, -0.0, 0.1, 1.5e300, 2.5e-300]),
    st.integers(-20, 20).map(lambda e: float(10.0 ** e)),
)
integers = st.one_of(
    st.integers(),
    st.integers(min_value=-(10 ** 200), max_value=10 ** 200),
    st.sampled_from([2 ** 63 - 1, 2 ** 63, -(2 ** 63), -(2 ** 63) - 1, 2 ** 64, 0]),
)
keys = st.one_of(
    texts(6),
    # Keys whose code-point order differs from UTF-16 order, and letter cases.
    st.sampled_from(["\uffff", "\U00010000", "\ue000", "\ud800", "\udc00", "\U0001f600", "a", "A", "b", "B", "\xe9", "e"]),
)


class Members(list):
    """An object as its (key, value) pairs in order: keys may repeat, as a JSON text allows."""


def json_values(scalars, keys=keys, max_leaves=15, max_size=4, repeated_keys=False, extra=None):
    """Scalars, and arrays and objects of them up to `max_size` entries.

    repeated_keys: objects as Members, so that a key can come twice.
    extra: a function of the children strategy giving one more kind of container.
    """
    def containers(children):
        if repeated_keys:
            objects = st.lists(st.tuples(keys, children), max_size=max_size).map(Members)
        else:
            objects = st.dictionaries(keys, children, max_size=max_size)
        kinds = [st.lists(children, max_size=max_size), objects]
        if extra is not None:
            kinds.append(extra(children))
        return st.one_of(*kinds)

    return st.recursive(scalars, containers, max_leaves=max_leaves)
