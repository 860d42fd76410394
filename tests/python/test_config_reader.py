"""The configuration reader against the host's configparser.ConfigParser().

Every generated text is read by both; sections, options of every section and
every value (or the error's class, arguments and message) must agree.
"""
import configparser
import io
import os
import tempfile

import pytest
from hypothesis import example, given, settings
from hypothesis import event as hypothesis_event
from hypothesis import strategies as st

from conftest import LONG
from quillon import _core

SOURCE = "conf/t.cfg"


# ---------------------------------------------------------------- the oracle

def outcome(call):
    """The value, or what identifies the error: class, args, str, errors."""
    try:
        return ("ok", call())
    except configparser.Error as e:
        return ("error", type(e).__name__, e.args, str(e), getattr(e, "errors", None))


def native_outcome(call):
    try:
        return ("ok", call())
    except configparser.Error as e:
        # The native program prints the same message as the host's str().
        assert e.native_message == str(e)
        return ("error", type(e).__name__, e.args, str(e), getattr(e, "errors", None))


def host_read(data: bytes, parser=None):
    parser = parser or configparser.ConfigParser()
    # As open(path) gives it: UTF-8 text with universal newlines.
    parser.read_file(io.TextIOWrapper(io.BytesIO(data), encoding="utf-8"), source=SOURCE)
    return parser


def probes(host, ours_sections):
    keys = set(host.defaults())
    for s in host.sections():
        keys.update(host.options(s))
    # Callers pass names in any case; they are folded on lookup.
    keys |= {k.upper() for k in keys} | {"missing", "A"}
    return sorted(set(host.sections()) | {"DEFAULT", "default", "nope"}), sorted(keys)


def assert_same(data: bytes, event=lambda _: None):
    host = configparser.ConfigParser()
    h = outcome(lambda: host_read(data, host))
    ours = None

    def read_ours():
        nonlocal ours
        ours = _core.read_config(data.decode("utf-8"), SOURCE)
        return ours

    o = native_outcome(read_ours)
    event("read: " + (h[1] if h[0] == "error" else "ok"))
    if h[0] == "error" or o[0] == "error":
        assert o == h
        return
    assert ours.sections() == host.sections()
    sections, keys = probes(host, ours.sections())
    for s in sections:
        assert ours.has_section(s) == host.has_section(s)
        assert native_outcome(lambda: ours.options(s)) == outcome(lambda: host.options(s)), s
        for k in keys:
            h = outcome(lambda: host.get(s, k))
            if h[0] == "ok" and ("%" in host.get(s, k, raw=True) or "\n" in h[1]):
                event("get: expanded or multi-line value")
            elif h[0] == "error" and h[1].startswith("Interpolation"):
                event("get: " + h[1])
            assert native_outcome(lambda: ours.get(s, k)) == h, (s, k)


# ---------------------------------------------------------------- the grammar

KEYS = ["a", "b", "Key", "KEY", "key", "filters", "x y", "ΣΑΣ", "Σ", "İ", "ß", "ǅ", "é"]
SECTIONS = ["s", "norvane", "default", "DEFAULT", "Default", "ü ñ", " t ", "x]y", "[z"]
SPACE = st.sampled_from([" ", "\t", "  ", "\x0c", "\u3000", "\x1c", "\xa0"])
ODD = ["=", ":", "#", ";", "[", "]", "%", "(", ")", "s", " ", "\t", "\x0b", "\x85",
       "\u2028", "\x1d", "\ufeff", "é", "Σ", "\U0001f600", "'", '"', "\\", "\x00"]


def refs():
    name = st.one_of(st.sampled_from(KEYS + ["nope", "A"]), st.text("ab%()", max_size=3))
    return st.one_of(
        name.map(lambda n: f"%({n})s"),
        st.sampled_from(["%%", "%", "%(", "%(a", "%(a)", "%(a)x", "%()s", "%(a)s%", "%%(a)s"]),
    )


words = st.lists(st.sampled_from(list("abcXYZ019 ") + ODD), max_size=8).map("".join)
value = st.lists(st.one_of(words, refs()), max_size=4).map("".join)
indent = st.lists(SPACE, max_size=3).map("".join)


@st.composite
def key_line(draw, key=None, pad=None):
    key = draw(st.one_of(st.sampled_from(KEYS), words, st.just(""))) if key is None else key
    return ((draw(indent) if pad is None else pad) + key + draw(st.sampled_from(["", " ", "\t"]))
            + draw(st.sampled_from(["=", ":"])) + draw(st.sampled_from(["", " ", "  "])) + draw(value))


SUFFIXES = ["", " # c", "x", "]"]


@st.composite
def header(draw, name=None, pad=None):
    name = draw(st.one_of(st.sampled_from(SECTIONS + ["", "]"]), words)) if name is None else name
    return (draw(indent) if pad is None else pad) + "[" + name + "]" + draw(st.sampled_from(SUFFIXES))


@st.composite
def continuation(draw, deeper_than=0):
    body = draw(st.one_of(value, key_line(), header(), st.sampled_from(["[s]", "# no", "k = v"])))
    return draw(st.lists(SPACE, min_size=deeper_than + 1, max_size=deeper_than + 4).map("".join)) + body


@st.composite
def chain(draw):
    """Keys c0..cn, each referring to the next; the last may refer back."""
    n = draw(st.integers(0, 12))
    last = draw(st.sampled_from(["end", "%%", "%(c0)s", "%(a)s", ""]))
    return [f"c{i} = %(c{i + 1})s" for i in range(n)] + [f"c{n} = {last}"]


@st.composite
def dirty_lines(draw):
    """Anything goes: stray lines, empty keys, repeated keys and headers."""
    kinds = ["key"] * 3 + ["header", "cont", "cont", "blank", "comment", "stray", "chain"]
    lines = [draw(st.sampled_from(["[s]", "[DEFAULT]", "[norvane]", "[]", "[]]", "x", "", "# top"]))]
    for kind in draw(st.lists(st.sampled_from(kinds), max_size=20)):
        if kind == "key":
            lines.append(draw(key_line()))
        elif kind == "header":
            lines.append(draw(header()))
        elif kind == "cont":
            lines.append(draw(continuation()))
        elif kind == "blank":
            lines.append(draw(st.lists(SPACE, max_size=2).map("".join)))
        elif kind == "comment":
            lines.append(draw(indent) + draw(st.sampled_from("#;")) + draw(words))
        elif kind == "stray":
            lines.append(draw(words))
        else:
            lines += draw(chain())
    return lines


@st.composite
def clean_lines(draw):
    """Texts that mostly read without error, so that values get compared:
    headers and keys are not repeated (after folding) and continuation lines
    follow open keys. The bookkeeping mirrors the reading rules only as far
    as steering needs; the host decides every outcome."""
    kinds = ["key"] * 5 + ["header", "cont", "cont", "blank", "comment", "chain"]
    section = draw(st.sampled_from(["s", "DEFAULT", "norvane"]))
    lines = ["[" + section + "]"]
    seen_sections = {section}
    keys = {section: set()}
    open_key, level = False, 0
    for kind in draw(st.lists(st.sampled_from(kinds), max_size=20)):
        if kind == "key":
            key = draw(st.sampled_from(KEYS))
            pad = draw(indent)
            if open_key and len(pad) > level or key.lower() in keys[section]:
                continue
            keys[section].add(key.lower())
            lines.append(draw(key_line(key, pad)))
            open_key, level = True, len(pad)
        elif kind == "header":
            name = draw(st.sampled_from(SECTIONS))
            line = draw(header(name, draw(indent) if not open_key else ""))
            name = name + "]" if line.endswith("]]") else name
            if name in seen_sections and name != "DEFAULT":
                continue
            seen_sections.add(name)
            section = name
            keys.setdefault(section, set())
            lines.append(line)
            open_key, level = False, len(line) - len(line.lstrip())
        elif kind == "cont" and open_key:
            lines.append(draw(continuation(level)))
        elif kind == "blank":
            lines.append(draw(st.lists(SPACE, max_size=2).map("".join)))
        elif kind == "comment":
            lines.append(draw(indent) + draw(st.sampled_from("#;")) + draw(words))
        elif kind == "chain" and not any(k.startswith("c") for k in keys[section]):
            block = draw(chain())
            keys[section] |= {line.split(" ")[0] for line in block}
            lines += block
            open_key, level = True, 0
    return lines


@st.composite
def config_text(draw):
    lines = draw(dirty_lines() if draw(st.integers(0, 9)) >= 7 else clean_lines())
    ends = draw(st.sampled_from(["\n", "\r\n", "\r", "mixed"]))
    out = []
    for i, text in enumerate(lines):
        end = draw(st.sampled_from(["\n", "\r\n", "\r"])) if ends == "mixed" else ends
        if i == len(lines) - 1 and draw(st.booleans()):
            end = ""
        out.append(text + end)
    bom = "\ufeff" if draw(st.integers(0, 19)) == 13 else ""
    return (bom + "".join(out)).encode("utf-8")


# The widest grammar of all: the long run reads ten times more texts here.
@settings(max_examples=50_000) if LONG else settings()
@given(config_text())
@example(b"[s]\n[]\na = 1\n")  # "[]" is no header
def test_reader_agrees_with_host(data):
    assert_same(data, hypothesis_event)


# ---------------------------------------------------------------- fixed cases

@pytest.mark.parametrize("text", [
    "",                                         # empty file
    "[s]\na = 1\n\n\n  \n",                      # trailing blank lines trimmed
    "[s]\na =\n\n  x\n\n",                       # value starting with an empty line
    "[s]\na = 1\ngarbage\n  still a\n",          # a bad line leaves the key open
    "[s]\n= 1\n= 2\n",                           # two empty keys: duplicate, not parsing error
    "[s]\n= 1\n  not continued\n",               # an empty key opens nothing
    "[DEFAULT]\na=1\n[DEFAULT]\nb=2\n[s]\n",     # DEFAULT may repeat
    "[DEFAULT]\na=1\n[DEFAULT]\nA=2\n",          # ... but its keys may not
    "  [s]\n a=1\n  b\n c=2\n",                  # indentation relative to the key line
    "[s]\na=1\n\t[t]\n",                         # continuation that looks like a header
    "[s]\na=%(B)s\nB=%(C)s\nc=%%d\n",            # references fold; chain with %%
    "[]\n[]]\n",                                 # "[]" is no header; "[]]" names "]"
    "[s]\nk\x0bx = 1\x85y\u2028z\n",             # vertical tab, NEL, LS are not line ends
    "[s]\r\na = 1\r\n  b\rc = 2",                # CR LF, CR, no end at the end
    "\ufeff[s]\n",                               # byte-order mark stays in line one
    "[s]\nÄ = 1\nİ = 2\nΣΑΣ = 3\n",              # host lower-casing of keys
    "[s]\na = 1\n[t]\nb = %(a)s\n[DEFAULT]\na = 2\n",
    "[s]\na=%(a)s\n", "[s]\na=%(b)s\nb=%(a)s\n",  # self and mutual references
])
def test_fixed_texts(text):
    assert_same(text.encode("utf-8"))


def test_ten_levels_work_and_eleven_fail():
    for n in (9, 10, 11):
        lines = [f"k{i} = %(k{i + 1})s" for i in range(n)] + [f"k{n} = %%end"]
        assert_same(("[s]\n" + "\n".join(lines) + "\n").encode())


def test_second_read_adds_and_replaces_like_host():
    texts = ["[s]\na = 1\nb = 2\n[DEFAULT]\nd = 0\n", "[t]\nx = 1\n[s]\nb = 3\nc = 4\n[DEFAULT]\nd = 5\n"]
    host, ours = configparser.ConfigParser(), _core.ConfigReader()
    for t in texts:
        host.read_file(io.StringIO(t), source=SOURCE)
        ours.read_text(t, SOURCE)
    assert ours.sections() == host.sections()
    for s in host.sections():
        assert ours.options(s) == host.options(s)
        assert [ours.get(s, k) for k in ours.options(s)] == [host.get(s, k) for k in host.options(s)]


@pytest.mark.parametrize("data", [
    b"[s]\na = \xff\n", b"[s]\na = \xe2\x82b\n", b"[s]\na = \xe2\x82", b"[s]\n\xed\xa0\x80\n",
    b"\xc0\x80", b"[s]\na = \xf4\x90\x80\x80\n", b"\xf0\x9f",
])
def test_invalid_utf8_is_the_hosts_decode_error(tmp_path, data):
    path = tmp_path / "bad.cfg"
    path.write_bytes(data)
    with pytest.raises(UnicodeDecodeError) as host:
        data.decode("utf-8")
    with pytest.raises(UnicodeDecodeError) as ours:
        _core.read_config_file(str(path))
    e, h = ours.value, host.value
    assert (e.encoding, e.start, e.end, e.reason) == (h.encoding, h.start, h.end, h.reason)
    assert e.object == data
    assert str(path) in e.native_message and str(h) in e.native_message


def test_files_are_read_as_the_host_opens_them(tmp_path):
    path = tmp_path / "ok.cfg"
    data = "\ufeff[s]\r\na = 1\r  b\n".encode()
    path.write_bytes(data)
    host = outcome(lambda: configparser.ConfigParser().read_file(open(path, encoding="utf-8")))
    assert native_outcome(lambda: _core.read_config_file(str(path))) == host
    path.write_bytes(data[3:])
    ours = _core.read_config_file(str(path))
    with open(path, encoding="utf-8") as f:
        cp = configparser.ConfigParser()
        cp.read_file(f)
    assert ours.get("s", "a") == cp.get("s", "a")


@pytest.mark.parametrize("make", [lambda p: p / "missing.cfg", lambda p: p])
def test_unopenable_file_is_the_hosts_os_error(tmp_path, make):
    path = make(tmp_path)
    with pytest.raises(OSError) as host:
        open(path).read()
    with pytest.raises(OSError) as ours:
        _core.read_config_file(str(path))
    assert type(ours.value) is type(host.value) and ours.value.errno == host.value.errno


@given(st.binary(max_size=300).map(lambda b: b"[s]\n" + b if b[:1] != b"[" else b))
def test_binary_garbage(data):
    # Valid UTF-8 reads as the host reads it; anything else is refused before
    # parsing, where the whole-text decoder of the host stops.
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "g.cfg")
        with open(path, "wb") as f:
            f.write(data)
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as h:
            with pytest.raises(UnicodeDecodeError) as e:
                _core.read_config_file(path)
            assert (e.value.start, e.value.end, e.value.reason) == (h.start, h.end, h.reason)
            return
    assert_same(data)


def test_the_public_module_does_not_expose_the_reader():
    from quillon import quillon
    assert not {"ConfigReader", "read_config", "read_config_file"} & set(dir(quillon))
