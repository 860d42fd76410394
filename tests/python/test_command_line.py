"""The command line parser, compared with the host's argparse set up as the
program's parser: same acceptance, same resolved values, and byte for byte
the same help page and error output at the same formatter width.
"""
import argparse
import contextlib
import functools
import io
import math
import os
import re
import shutil

import pytest
from hypothesis import example, given, strategies as st

from conftest import ROOT
from quillon import _core

NAMES = ["--controller_ip", "--username", "--password", "--config_dir"]
DESTS = [name[2:] for name in NAMES]
NEW_NAMES = ["--connect-timeout", "--max-time", "--retry", "--retry-delay", "--cacert", "--max-filesize", "--verify",
             "--verbose", "--jobs", "--json", "--save", "--compare", "--version"]
NUMBER_DESTS = {"connect_timeout", "max_time", "retry", "retry_delay", "max_filesize", "jobs"}
VERSION = re.search(r'^version = "([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M).group(1)


def seconds(text):
    value = float(text)
    if not math.isfinite(value):
        raise ValueError(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be at least 0")
    if value > 86400:
        raise argparse.ArgumentTypeError("must be at most 86400")
    return value


seconds.__name__ = "float"


def file_name(text):
    if not text:
        raise argparse.ArgumentTypeError("must not be empty")
    return text


def count(minimum, maximum):
    def convert(text):
        value = int(text)
        if value < minimum:
            raise argparse.ArgumentTypeError(f"must be at least {minimum}")
        if value > maximum:
            raise argparse.ArgumentTypeError(f"must be at most {maximum}")
        return value
    convert.__name__ = "int"
    return convert


@functools.lru_cache(maxsize=None)
def host_parser(prog, width):
    parser = argparse.ArgumentParser(
        description="Quillon Automation",
        epilog="When the password option is absent, the password is taken from the environment variable QUILLON_PASSWORD (if set and not empty) before any prompt. The native program overwrites a password given on the command line in its own argument list, so that the process list does not show it.",
        prog=prog,
        formatter_class=lambda prog: argparse.HelpFormatter(prog, width=width),
    )
    parser.add_argument("--controller_ip", help="Norvane Controller IP. User will be prompted to enter the IP if not specified.")
    parser.add_argument("--username", help="Norvane Controller Username. Defaults to \"admin\" if not specified.")
    parser.add_argument("--password", help="Norvane Controller Password. User will be prompted to enter the password if not specfied.")
    parser.add_argument("--config_dir", help="Configuration Directory. Defaults to \"config\" if not specified.")
    parser.add_argument("--connect-timeout", metavar="SECONDS", type=seconds, help=(
        "Give up when the connection to the controller, TLS handshake included, is not made within SECONDS "
        "(decimals allowed, at most 86400). No limit if not specified."))
    parser.add_argument("--max-time", metavar="SECONDS", type=seconds, help=(
        "Give up on a request that has not been answered in full within SECONDS (decimals allowed, at most "
        "86400). No limit if not specified."))
    parser.add_argument("--retry", metavar="N", type=count(0, 100), help=(
        "Repeat a request up to N times (at most 100) when it failed transiently: when no connection could be "
        "made, or the controller answered 429 or 503, and for a login also 502 or 504. A query that may have "
        "reached the controller is never repeated, and an answer with one of those statuses is never taken as a "
        "result. No retries if not specified."))
    parser.add_argument("--retry-delay", metavar="SECONDS", type=seconds, help=(
        "Seconds to wait before each retry (decimals allowed, at most 86400), unless the controller asks for another wait, "
        "which is capped at 60 seconds. Defaults to 1 if not specified."))
    parser.add_argument("--cacert", metavar="FILE", type=file_name, help=(
        "Check the controller's certificate against the CA certificates in FILE (PEM) and its name against "
        "the address; on a mismatch nothing is sent. Without this option or --verify, certificates are not "
        "checked."))
    parser.add_argument("--max-filesize", metavar="BYTES", type=count(0, 2147483647), help=(
        "Refuse an answer larger than BYTES (at most 2147483647), counted after decompression: the run ends "
        "with an error naming the file. No limit if not specified or 0."))
    parser.add_argument("--verify", action="store_true", help=(
        "Check the controller's certificate against the system's trusted CA certificates and its name "
        "against the address; on a mismatch nothing is sent."))
    parser.add_argument("-v", "--verbose", action="store_true", help=(
        "Describe every request on standard error: the file, the URL, the form fields, the HTTP status, the "
        "answer's size and the time taken. The password and CID are shown as ***."))
    parser.add_argument("-j", "--jobs", metavar="N", type=count(1, 100), help=(
        "Run up to N (at most 100) configuration files, and the requests of a compound query, at once; the output stays in "
        "order. Without this option, one at a time. Note: with --jobs, files after a failing one may already "
        "have run."))
    parser.add_argument("--json", action="store_true", help=(
        "Write one JSON object per configuration file, one per line, instead of the printed results."))
    parser.add_argument("--save", metavar="DIR", help=(
        "After each configuration file, write its result as JSON to DIR/NAME.json, NAME being the file's name; "
        "an earlier one is replaced whole. DIR is made if missing."))
    parser.add_argument("--compare", metavar="DIR", help=(
        "Instead of each result, print how it differs from the one saved in DIR by --save, one line per "
        "difference; the exit status is 3 when something differs. With --save too, the saved results are "
        "then replaced."))
    parser.add_argument("--version", action="version", version="quillon " + VERSION)
    parser.add_argument("files", nargs="*", metavar="FILE", help=(
        "A configuration file to run: a name in the configuration directory, or a path when it holds a slash "
        "(./mine.cfg). Files run in the order given; without FILE, every .cfg file of the configuration "
        "directory runs."))
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
            return "help" if out.getvalue().startswith("usage: ") else "version", None, out.getvalue(), 0
        return "usage_error", None, err.getvalue(), exit.code
    # "--option=--" leaves an empty list: empty text, or no number.
    options = {k: ((None if k in NUMBER_DESTS else "") if v == [] and k != "files" else v)
               for k, v in vars(namespace).items()}
    return "run", options, "", 0


def check(args, prog="quillon", width=78):
    assert _core.parse_command_line(args, prog, width) == argparse_outcome(args, prog, width)


def abbreviations(name):
    return [name[:n] for n in range(3, len(name) + 1)]


option_spellings = st.sampled_from(
    [a for name in NAMES + NEW_NAMES + ["--help"] for a in abbreviations(name)]
    + ["-h", "-v", "-j", "--", "--c", "--co", "--con", "--v", "--ve", "--ver", "--j", "--r", "--retry-", "--m",
       "--max", "--max-"]
    + ["-vj", "-vj4", "-vh", "-hv", "-vv", "-vx", "-vjx", "-j4", "-j0", "-jv", "-v=", "-j=4", "-hj0", "-vé"]
)
numbers = st.sampled_from([
    "0", "1", "4", "100", "101", "-0", "-1", "1.5", "0.25", " 2 ", "1_0", "1__0", "_1", "1_", "1_.5", "\u0663",
    "\u00b2", "+5", "0x10", "5s", "1.", ".5", "1e3", "1E-2", "1e", "1e400", "1e-400", "86400", "86400.5", "inf",
    "-Infinity", "nan", "\u30002\u3000", "1_000.000_1", "1e1_0", "--",
])
values = st.one_of(
    numbers,
    st.sampled_from([
        "", " ", "x", "a b", "-", "--", "---", "-x", "-x y", "-1", "-1.5", "-.5", "-1.", "-1\n", "-\u0663",
        "-1e3", "--user", "--user name", "-h", "-hh", "-hx", "-h=", "-hé", "--help=x", "--he=", "--=x", "=",
        "-u", "-user", "-username", "x=y", "\udcff", "'\"\\", "-h'", "-v y", "-j 4",
    ]),
    st.text(max_size=6),
    st.builds("-{}{}".format, st.text("0123456789", max_size=3), st.sampled_from(["", ".", ".5", ".25"])),
)
joined = st.builds(lambda option, value: option + "=" + value, option_spellings, values)
# An argument that starts like an option but holds a space is a plain argument.
spaced = st.builds(lambda option, value: option + " " + value, option_spellings, values)
tokens = st.one_of(option_spellings, option_spellings, joined, values, spaced)
progs = st.sampled_from(["quillon", "q", "", "quillon automation program name", "prog\n\n\nname", "é" * 30])
widths = st.sampled_from([78, 118, 40, 20, 11, 0])


@given(st.lists(tokens, max_size=8), progs, widths)
@example(["--user name", "-v y", "-x y"], "quillon", 78)
@example(["-v="], "quillon", 78)
def test_matches_argparse(args, prog, width):
    check(args, prog, width)


@given(st.text(max_size=40), st.integers(min_value=-5, max_value=250),
       st.sampled_from([["-h"], ["--bogus"], ["--version"], ["--jobs", "0"]]))
def test_help_and_usage_layout_match_argparse(prog, width, args):
    check(args, prog, width)


# Numbers as the host's int() and float() read them: white space, signs,
# underscores, digits of other scripts, exponents, infinities.
number_text = st.text("0123456789_.eE+- \t\u0663\u3000infatyINF", max_size=8)


@given(st.sampled_from(["--connect-timeout", "--max-time", "--retry", "--retry-delay", "--max-filesize", "--jobs"]),
       st.one_of(number_text, st.floats(allow_nan=False).map(repr), st.integers(-3, 120).map(str)))
def test_number_values_match_argparse(option, text):
    check([option + "=" + text])


@pytest.mark.parametrize("args, expected", [
    (["--user", "bob", "--pass=pw", "--cont", "10.0.0.1", "--conf", "dir"],
     {"controller_ip": "10.0.0.1", "username": "bob", "password": "pw", "config_dir": "dir"}),
    (["--username", "a", "--username=b"], {"username": "b"}),
    (["--password=-x"], {"password": "-x"}),
    (["--password", "-1.5"], {"password": "-1.5"}),
    (["--username="], {"username": ""}),
    (["--conn", "2.5", "--max-time=1e1", "--retry", "3", "--retry-", "0", "--ca", "ca.pem", "--verify", "-vj4",
      "--json"],
     {"connect_timeout": 2.5, "max_time": 10.0, "retry": 3, "retry_delay": 0.0, "cacert": "ca.pem", "verify": True,
      "verbose": True, "jobs": 4, "json": True}),
    (["-vj", "1_0", "--retry-delay= 0.5 "], {"verbose": True, "jobs": 10, "retry_delay": 0.5}),
    # Given twice, the later counts, even when it empties the value.
    (["--jobs", "4", "--jobs=--"], {}),
    # Files after the options, in the order given; the first "--" ends the options and is dropped.
    (["--sa", "out", "--com=out", "b.cfg", "a.cfg", "b.cfg"], {"save": "out", "compare": "out",
                                                               "files": ["b.cfg", "a.cfg", "b.cfg"]}),
    (["--json", "--", "-x.cfg", "--", "--user"], {"json": True, "files": ["-x.cfg", "--", "--user"]}),
    (["a.cfg", "--", "--json"], {"files": ["a.cfg", "--json"]}),
    (["-", "-1", "a b", "--json"], {"files": ["-", "-1", "a b"], "json": True}),
])
def test_resolved_values(args, expected):
    action, options, _, status = _core.parse_command_line(args, "quillon", 78)
    assert (action, status) == ("run", 0)
    flags = {"verify", "verbose", "json"}
    assert options == {dest: expected.get(dest, False if dest in flags else [] if dest == "files" else None)
                       for dest in options}
    assert set(options) == set(DESTS) | {name[2:].replace("-", "_") for name in NEW_NAMES[:-1]} | {"files"}
    check(args)


@pytest.mark.parametrize("args, message", [
    (["--con", "x"], "ambiguous option: --con could match --controller_ip, --config_dir, --connect-timeout"),
    (["--password", "-x"], "argument --password: expected one argument"),
    (["--jobs", "0"], "argument -j/--jobs: must be at least 1"),
    (["--retry", "-1"], "argument --retry: must be at least 0"),
    (["--cacert", ""], "argument --cacert: must not be empty"),
    (["--max", "9"], "ambiguous option: --max could match --max-time, --max-filesize"),
    (["--max-time", "5s"], "argument --max-time: invalid float value: '5s'"),
    (["-j", "2.5"], "argument -j/--jobs: invalid int value: '2.5'"),
    (["-vx"], "argument -v/--verbose: ignored explicit argument 'x'"),
    (["--username", "--", "x"], "argument --username: expected one argument"),
    # Options and files do not intermix: files after an option that follows the first files.
    (["a.cfg", "--json", "b.cfg"], "unrecognized arguments: b.cfg"),
    (["a.cfg", "--json", "--", "b.cfg"], "unrecognized arguments: -- b.cfg"),
    (["--bogus", "a.cfg", "-j", "2", "b.cfg", "--json"], "unrecognized arguments: --bogus b.cfg"),
    (["-hx"], "argument -h/--help: ignored explicit argument 'x'"),
    # The ambiguity is found before -h takes effect.
    (["-h", "--con"], "ambiguous option: --con could match --controller_ip, --config_dir, --connect-timeout"),
])
def test_refusals(args, message):
    action, _, output, status = _core.parse_command_line(args, "quillon", 78)
    assert (action, status) == ("usage_error", 2)
    assert output.endswith("quillon: error: " + message + "\n")
    check(args)


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
