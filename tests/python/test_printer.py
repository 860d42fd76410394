"""The native printer against the host's pprint.PrettyPrinter, on random JSON values."""
import io
import random
import pprint
import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from quillon import _core
from strategies import LINE_ENDS, floats, integers, json_values, keys, texts

WIDTH = 200


def filler(length, draw):
    """Plain text of exactly `length` printable characters, with spaces to cut at."""
    unit = draw(st.sampled_from(["lorem ipsum ", "x", "ab cd ", "quite-long-word-without-spaces ", "a\u00e9 "]))
    return (unit * (length // len(unit) + 1))[:length]


# Texts thick with quotes and backslashes: the quote is chosen from the whole text.
quote_texts = st.lists(st.sampled_from(["'", '"', "\\", "a", " "]), max_size=8).map("".join)
scalars = st.one_of(st.none(), st.booleans(), integers, floats, texts(), texts(12), quote_texts)


@st.composite
def tuned(draw, children):
    """A container whose flat form is tuned to land near a target width."""
    items = draw(st.lists(children, max_size=4))
    as_object = draw(st.booleans())
    target = draw(st.one_of(st.integers(WIDTH - 8, WIDTH + 5), st.integers(100, WIDTH + 5)))
    slot = draw(st.integers(0, len(items)))
    if as_object:
        names = draw(st.lists(keys, min_size=len(items) + 1, max_size=len(items) + 1, unique=True))
        value = dict(zip(names, items + [""]))
        key = names[-1]
        base = len(repr(value))
        value[key] = filler(max(0, target - base), draw)
        return value
    value = items[:slot] + [""] + items[slot:]
    base = len(repr(value))
    value[slot] = filler(max(0, target - base), draw)
    return value


def values(max_leaves=40):
    return json_values(scalars, keys, max_leaves, max_size=6, extra=tuned)


def host(value, width=WIDTH):
    return pprint.PrettyPrinter(width=width).pformat(value)


@given(values())
@example({"name": "x" * 90, "results": ["y" * 60, "z" * 60]})
@example("\x85".join(["word " * 20] * 4))
@example(["it's", "it's \"so\"", "\"it's\"", "'\"", "\"'", "\\'", "'\\\""])
def test_matches_host_at_width_200(value):
    assert _core.pformat(value) == host(value)


@st.composite
def lines_near_room(draw):
    """Lines whose last cut piece lands a few characters either side of the room.

    A word longer than the room ends a piece on its own, so the words after it
    start a fresh piece whose length the strategy controls.
    """
    lines = []
    for _ in range(draw(st.integers(1, 4))):
        head = draw(st.sampled_from(["", "W" * (WIDTH + 20) + " "]))
        end = draw(st.sampled_from(LINE_ENDS + [" ", ""]))
        target = draw(st.integers(WIDTH - 10, WIDTH + 2))  # quoted width of the piece
        body = ""
        while len(repr(body + end)) < target:
            unit = draw(st.sampled_from(["a", "bb", "ccc", "dddd", "e'", 'f"', "g\\", "\xe9\xe9", "\t"]))
            body += unit * draw(st.integers(1, 5)) + " "
        while len(repr(body + end)) > target:
            body = body[:-1]
        lines.append(head + body + end)
    text = "".join(lines)
    return draw(st.sampled_from([text, [text], [text, 1], {"k": text}, {"k": text, "l": 0}, [[text]]]))


@given(st.one_of(texts(120), tuned(texts(30)), st.lists(texts(80), max_size=3)))
def test_long_texts_are_cut_like_host(value):
    assert _core.pformat(value) == host(value)


# A test of its own, so that every example lands a line's last piece near the room.
@given(lines_near_room())
def test_lines_near_their_room_are_cut_like_host(value):
    assert _core.pformat(value) == host(value)


def test_every_code_point_is_measured_and_written_as_repr_writes_it():
    chars = list(map(chr, range(0x110000)))
    # The width counted to cut texts, escapes included, is what repr shows.
    widths = _core.escape_widths()
    expected = bytes(len(repr(c)) - 2 for c in chars)
    assert widths == expected, [hex(cp) for cp in range(0x110000) if widths[cp] != expected[cp]][:20]
    # Sixteen code points a text, all in one call.
    runs = ["".join(chars[start:start + 16]) for start in range(0, 0x110000, 16)]
    assert _core.repr_value(runs) == repr(runs)


@given(values(25), st.sampled_from([1, 2, 5, 13, 40, 80, 199, 201]))
def test_matches_host_at_other_widths(value, width):
    assert _core.pformat(value, width) == host(value, width)


@given(values(25))
def test_literal_forms_match_repr(value):
    assert _core.repr_value(value) == repr(value)
    assert _core.repr_value(value, sort_keys=True) == host(value, width=sys.maxsize)


@given(values(25))
def test_pprint_writes_the_same_as_host_stream(value):
    stream = io.StringIO()
    pprint.PrettyPrinter(width=WIDTH, stream=stream).pprint(value)
    assert _core.pprint_bytes(value) == stream.getvalue().encode("utf-8")


@pytest.mark.parametrize("depth", [1, 50, 250])
@pytest.mark.parametrize("leaf", ["x" * 150, {"k": "v " * 90}, ["a" * 100, "b" * 100]], ids=["text", "object", "array"])
def test_deep_nesting_past_the_width(depth, leaf):
    # Indentation beyond the width leaves negative room at the inner levels.
    value = leaf
    for level in range(depth):
        value = [value, level] if level % 2 else {"key%d" % level: value, "z": "tail"}
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(max(old, 20 * depth + 1000))
    try:
        expected = host(value)
    finally:
        sys.setrecursionlimit(old)
    assert _core.pformat(value) == expected


def test_large_output_is_handed_over_in_bounded_pieces():
    value = {"rows": [{"id": i, "text": "row %d " % i * 8, "tags": ["t"] * (i % 7)} for i in range(20000)]}
    pieces = _core.pprint_pieces(value)
    assert len(pieces) > 10
    assert max(len(p) for p in pieces) < 2 * 65536
    assert b"".join(pieces).decode("utf-8") == host(value) + "\n"


# Characters that end a run of plain ASCII, for the block-wise copying of texts.
RUN_ENDS = ["'", '"', "\\", "\x00", "\t", "\n", "\x1f", "\x7f", "\x80", "\xa0", "\xe9", "\u4e2d", "\ud800", "\udfff",
            "\U0001f600"]


def test_run_ends_at_every_offset_of_a_block():
    # Texts 0..40 bytes long around one special character: every offset within
    # and across the 16- and 8-byte blocks, and texts shorter than a block.
    for special in RUN_ENDS:
        for before in range(0, 41):
            for after in (0, 1, 7, 8, 9, 15, 16, 17):
                text = "a" * before + special + "b" * after
                assert _core.repr_value(text) == repr(text), (before, special, after)
                assert _core.repr_value({text: [text]}) == repr({text: [text]}), (before, special, after)


def test_quote_choice_at_every_pair_of_offsets():
    # The quote is chosen from the whole text, whichever quote comes first.
    for length in (1, 9, 20, 40):
        for i in range(length):
            for j in range(length):
                chars = ["x"] * length
                chars[i] = "'"
                if j != i:
                    chars[j] = '"'
                text = "".join(chars)
                assert _core.repr_value(text) == repr(text), (length, i, j)


plain_runs = st.text(alphabet="abc -~", max_size=40)


@given(st.lists(st.tuples(plain_runs, st.sampled_from(RUN_ENDS + ["\u2028", "\x85", "\uffff", "\U0010ffff"])), max_size=5),
       plain_runs)
def test_texts_of_plain_runs_and_specials(pairs, tail):
    text = "".join(run + special for run, special in pairs) + tail
    assert _core.repr_value(text) == repr(text)
    assert _core.pformat([text, {text: text}]) == host([text, {text: text}])


@pytest.mark.parametrize("piece", ["x", "\xe9", "\u6771", "\U0001f600", "a'b", "a'b\"c", "\\", "\x07"])
def test_long_text_without_spaces_streams_in_bounded_pieces(piece):
    # Too long for its line but with nowhere to cut: written whole, in slices
    # that end on code-point boundaries, with the quote of the whole text.
    text = "'" + piece * (200_000 // len(piece.encode("utf-8", "surrogatepass"))) + "z"
    for value in (text, [text], {"k": text}):
        pieces = _core.pprint_pieces(value)
        assert max(len(p) for p in pieces) < 2 * 65536
        assert b"".join(pieces).decode("utf-8") == host(value) + "\n"


KEY_ALPHABET = "ab_'\"\xe9\u4e2d"
KEY_EDGES = ["", "a" * 15, "a" * 16, "\u4e2d" * 5, "'" * 15, "k\x00", "\ud800"]  # around the longest kept key


@given(st.integers(1, 300), st.randoms(use_true_random=True))
def test_many_keys_in_many_objects(size, rng):
    # More distinct keys than the printer keeps rendered, each str object used
    # in many objects, so that remembered renderings are reused and replaced.
    # A plain generator seeded by hypothesis draws them: a thousand hypothesis
    # draws an example cost far more than they add here.
    made = ["".join(rng.choices(KEY_ALPHABET, k=rng.randint(0, 18))) for _ in range(size)]
    pool = list(dict.fromkeys(rng.sample(KEY_EDGES, rng.randint(0, len(KEY_EDGES))) + made))
    rows = [{k: i for k in rng.sample(pool, min(len(pool), rng.randint(1, 5)))} for i in range(150)]
    assert _core.pformat(rows) == host(rows)


@pytest.mark.parametrize("size", [17, 40, 300])
def test_objects_of_many_members_in_shuffled_order(size):
    # Past the small-object sort: keys in code-point order, whatever the order given.
    rng = random.Random(size)
    keys = ["k%03d" % i for i in range(size - 8)] + ["", "K", "a b", "\xe9", "\ud800", "\ue000", "\uffff",
                                                      "\U0001f600"]
    rng.shuffle(keys)
    value = {k: i for i, k in enumerate(keys)}
    assert _core.pformat(value) == host(value)
    assert _core.pformat([value, dict(reversed(value.items()))]) == host([value, dict(reversed(value.items()))])


@st.composite
def records_near_their_line(draw):
    """Objects that just miss their line, whose members just fit or miss theirs.

    A record one element per line keeps the members its flat trial completed;
    each of those must still be checked against its own, narrower line.
    """
    records = []
    for _ in range(draw(st.integers(1, 3))):
        record = {}
        for _ in range(draw(st.integers(1, 4))):
            key = draw(st.sampled_from(["a", "name", "a'b", "\xe9t\xe9", "description_long"]))
            target = draw(st.integers(WIDTH - 30, WIDTH + 2)) - len(repr(key))
            kind = draw(st.sampled_from(["text", "list", "dict", "number"]))
            if kind == "number":
                record[key] = draw(st.one_of(integers, floats))
            elif kind == "text":
                record[key] = filler(max(0, target - 2), draw)
            elif kind == "list":
                record[key] = [filler(max(0, target - 4), draw)] + draw(st.lists(scalars, max_size=2))
            else:
                record[key] = {"x": filler(max(0, target - 9), draw)}
        records.append(record)
    return draw(st.sampled_from([records, {"results": records}, [[records]], records[0]]))


@given(records_near_their_line())
def test_kept_members_are_checked_against_their_own_line(value):
    assert _core.pformat(value) == host(value)


def test_long_texts_cut_at_every_kind_of_space():
    # Every white space character of the host beyond ASCII, and its
    # neighbours, between words of a text too long for its line.
    spaces = [c for c in map(chr, range(0x80, 0x30000)) if c.isspace()]
    chars = sorted({chr(ord(c) + d) for c in spaces for d in (-1, 0, 1)} | {"\U0001f600", "\ud800"})
    for c in chars:
        text = c.join(["word", "a" * 7, "b" * 8, "c" * 9, "d" * 15, "e" * 16, "f" * 17] * 12)
        for value in (text, [text], {"key": text}):
            assert _core.pformat(value) == host(value), hex(ord(c))


@given(st.lists(st.tuples(st.integers(0, 24), st.sampled_from([" ", "  ", "'", '"', "\\", "\t", "\xe9", "\n", " '"])),
                min_size=10, max_size=60),
       st.integers(WIDTH - 60, WIDTH))
def test_words_of_every_length_near_block_ends(words, width):
    # Word lengths across the 8- and 16-byte blocks the word scan reads,
    # each ended by a space, a quote or another character that stops it.
    text = "".join("w" * length + end for length, end in words)
    assert _core.pformat([text], width) == host([text], width)


@st.composite
def ends_near_the_room(draw):
    """A last element whose flat form at indent 1 is a few columns either side of its room (198)."""
    target = draw(st.integers(WIDTH - 4, WIDTH))
    kind = draw(st.sampled_from(["text", "record", "list"]))
    if kind == "text":
        return filler(target - 3, draw)  # quoted, at indent 1
    if kind == "record":
        return {"k": filler(target - 10, draw)}
    return [filler(target - 5, draw)]


@given(st.lists(st.one_of(values(8), records_near_their_line(), lines_near_room()), min_size=1, max_size=120),
       ends_near_the_room(), st.sampled_from([WIDTH, 40, 1]))
def test_long_lists_print_as_the_host_does(items, last, width):
    # A list too long for its line prints element by element, whatever the
    # last element.
    items = items + [last] * 70  # past 66 elements no list fits 200 columns
    pieces = _core.pprint_pieces(items, width)
    assert max(map(len, pieces)) < 2 * 65536
    assert b"".join(pieces).decode("utf-8") == host(items, width) + "\n"
