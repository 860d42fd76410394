"""The command line parser, compared with the host's argparse set up as the
program's parser: same acceptance, same resolved values, and byte for byte
the same help page and error output at the same formatter width.
"""
import argparse
import contextlib
import functools
import io
import os
import shutil

import pytest
from hypothesis import given, settings, strategies as st

from quillon import _core

NAMES = ["--controller_ip", "--username", "--password", "--config_dir"]
DESTS = [name[2:] for name in NAMES]


@functools.lru_cache(maxsize=None)
def host_parser(prog, width):
    parser = argparse.ArgumentParser(
        description="Quillon Automation",
        prog=prog,
        formatter_class=lambda prog: argparse.HelpFormatter(prog, width=width),
    )
    parser.add_argument("--controller_ip", help="Norvane Controller IP. User will be prompted to enter the IP if not specified.")
    parser.add_argument("--username", help="Norvane Controller Username. Defaults to \"admin\" if not specified.")
    parser.add_argument("--password", help="Norvane Controller Password. User will be prompted to enter the password if not specfied.")
    parser.add_argument("--config_dir", help="Configuration Directory. Defaults to \"config\" if not specified.")
    return parser


def argparse_outcome(args, prog, width):
    """(action, options, output, status) as the host's argparse decides."""
    parser = host_parser(prog, width)
    out, err = io.StringIO(), io.StringIO()
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            namespace = parser.parse_args(args)
    except SystemExit as exit:
        if exit.code == 0:
            return "help", None, out.getvalue(), 0
        return "usage_error", None, err.getvalue(), exit.code
    # "--option=--" leaves an empty list, which the program treats as empty text.
    options = {k: ("" if v == [] else v) for k, v in vars(namespace).items()}
    return "run", options, "", 0


def check(args, prog="quillon", width=78):
    assert _core.parse_command_line(args, prog, width) == argparse_outcome(args, prog, width)


def abbreviations(name):
    return [name[:n] for n in range(3, len(name) + 1)]


option_spellings = st.sampled_from(
    [a for name in NAMES + ["--help"] for a in abbreviations(name)] + ["-h", "--", "--c", "--co", "--con"]
)
values = st.one_of(
    st.sampled_from([
        "", " ", "x", "a b", "-", "--", "---", "-x", "-x y", "-1", "-1.5", "-.5", "-1.", "-1\n", "-\u0663",
        "-1e3", "--user", "--user name", "-h", "-hh", "-hx", "-h=", "-hé", "--help=x", "--he=", "--=x", "=",
        "-u", "-user", "-username", "x=y", "\udcff", "'\"\\", "-h'",
    ]),
    st.text(max_size=6),
    st.builds("-{}{}".format, st.text("0123456789", max_size=3), st.sampled_from(["", ".", ".5", ".25"])),
)
joined = st.builds(lambda option, value: option + "=" + value, option_spellings, values)
tokens = st.one_of(option_spellings, option_spellings, joined, values)
progs = st.sampled_from(["quillon", "q", "", "quillon automation program name", "prog\n\n\nname", "é" * 30])
widths = st.sampled_from([78, 118, 40, 20, 11, 0])


@settings(max_examples=2000, deadline=None)
@given(st.lists(tokens, max_size=8), progs, widths)
def test_matches_argparse(args, prog, width):
    check(args, prog, width)


@settings(max_examples=300, deadline=None)
@given(st.text(max_size=40), st.integers(min_value=-5, max_value=250), st.sampled_from([["-h"], ["--bogus"]]))
def test_help_and_usage_layout_match_argparse(prog, width, args):
    check(args, prog, width)


@pytest.mark.parametrize("args, expected", [
    (["--user", "bob", "--pass=pw", "--cont", "10.0.0.1", "--conf", "dir"],
     {"controller_ip": "10.0.0.1", "username": "bob", "password": "pw", "config_dir": "dir"}),
    (["--username", "a", "--username=b"], {"username": "b"}),
    (["--password=-x"], {"password": "-x"}),
    (["--password", "-1.5"], {"password": "-1.5"}),
    (["--username="], {"username": ""}),
])
def test_resolved_values(args, expected):
    action, options, _, status = _core.parse_command_line(args, "quillon", 78)
    assert (action, status) == ("run", 0)
    assert options == {dest: expected.get(dest) for dest in DESTS}
    check(args)


@pytest.mark.parametrize("args, message", [
    (["--con", "x"], "ambiguous option: --con could match --controller_ip, --config_dir"),
    (["--password", "-x"], "argument --password: expected one argument"),
    (["--username", "--", "x"], "argument --username: expected one argument"),
    (["--", "--username", "x"], "unrecognized arguments: -- --username x"),
    (["-hx"], "argument -h/--help: ignored explicit argument 'x'"),
    # The ambiguity is found before -h takes effect.
    (["-h", "--con"], "ambiguous option: --con could match --controller_ip, --config_dir"),
])
def test_refusals(args, message):
    action, _, output, status = _core.parse_command_line(args, "quillon", 78)
    assert (action, status) == ("usage_error", 2)
    assert output.endswith("quillon: error: " + message + "\n")
    check(args)


@settings(max_examples=200, deadline=None)
@given(st.one_of(
    st.none(),
    st.integers(min_value=-5, max_value=500).map(str),
    st.sampled_from([" 90 ", "1_00", "1__0", "_5", "+70", "٣٣", "abc", "", "0", "12.5"]),
))
def test_default_width_follows_the_host(columns):
    saved = os.environ.get("COLUMNS")
    try:
        if columns is None:
            os.environ.pop("COLUMNS", None)
        else:
            os.environ["COLUMNS"] = columns
        assert _core.default_help_width() == shutil.get_terminal_size().columns - 2
    finally:
        if saved is None:
            os.environ.pop("COLUMNS", None)
        else:
            os.environ["COLUMNS"] = saved
