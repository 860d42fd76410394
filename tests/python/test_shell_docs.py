"""The man page and the bash, zsh and fish completions, generated at build time
from the option table, against the --help page they must agree with."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import BUILD

SHARE = BUILD / "share"
NATIVE = BUILD / "bin" / "quillon"
# What each option's value completes to; other options with a value complete to nothing.
VALUE_KINDS = {"--config_dir": "directory", "--cacert": "file", "--save": "directory", "--compare": "directory"}
FILES = ["sub one", "subtwo", "summary.txt"]  # what a FILE argument completes to in `tree`


def help_entries():
    """[[(name, metavar or None), ...] per entry] as --help lists them ("-h, --help" is one entry)."""
    page = subprocess.run([str(NATIVE), "--help"], capture_output=True, text=True, check=True,
                          env=dict(os.environ, COLUMNS="400")).stdout
    entries = []
    for line in page.split("\noptions:\n", 1)[1].splitlines():
        if line.startswith("  -"):
            parts = re.split(r"  +", line.strip())[0].split(", ")
            entries.append([(name, metavar or None) for name, _, metavar in (p.partition(" ") for p in parts)])
    return entries


def help_options():
    """{name: metavar or None} for every name --help lists (-h and --help both)."""
    return {name: metavar for entry in help_entries() for name, metavar in entry}


def kind(name, metavar):
    return "flag" if metavar is None else VALUE_KINDS.get(name, "text")


@pytest.fixture(scope="module")
def expected():
    options = help_options()
    assert {"-h", "--help", "--config_dir"} <= set(options)
    return options


@pytest.fixture
def tree(tmp_path):
    """A directory with sub-directories and a file, where the shells complete."""
    (tmp_path / "sub one").mkdir()
    (tmp_path / "subtwo").mkdir()
    (tmp_path / "summary.txt").write_text("x")
    return tmp_path


def test_man_page_lists_every_option_with_its_value(expected):
    text = (SHARE / "man/man1/quillon.1").read_text()
    plain = lambda s: re.sub(r"\\f[BIR]", "", s).replace("\\-", "-")
    options_section = text.split(".SH OPTIONS\n", 1)[1].split("\n.SH ", 1)[0]
    entries = re.findall(r"^\.TP\n(.*)$", options_section, re.M)
    found = {}
    for entry in entries:
        for part in plain(entry).split(", "):
            name, _, metavar = part.partition(" ")
            found[name] = metavar or None
    assert found == expected
    synopsis = plain(text.split(".SH SYNOPSIS\n", 1)[1].split("\n.SH ", 1)[0])
    # One bracket per entry, by its first name, as the usage line shows them.
    listed = [(n, m or None) for n, m in re.findall(r"^\[(\S+) ?(\S*)\]$", synopsis, re.M)]
    assert listed == [entry[0] for entry in help_entries()] + [("FILE", "...")]
    assert re.search(r"^\.SH ARGUMENTS\n\.TP\n\\fIFILE\\fR\nA configuration file", text, re.M)
    if shutil.which("groff"):
        done = subprocess.run(["groff", "-man", "-ww", "-z", str(SHARE / "man/man1/quillon.1")],
                              capture_output=True, text=True)
        assert done.returncode == 0 and done.stderr == ""


def bash_complete(words, cwd):
    """COMPREPLY for a command line whose last word is being completed, as bash splits it."""
    script = (f'source "{SHARE}/bash-completion/completions/quillon"\n'
              'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quillon; printf "%s\\n" "${COMPREPLY[@]}"')
    done = subprocess.run(["bash", "-c", script, "bash", *words], capture_output=True, text=True, cwd=cwd)
    assert done.returncode == 0, done.stderr
    return sorted(line for line in done.stdout.splitlines() if line)


def test_bash_completes_option_names_and_values(expected, tree):
    assert bash_complete(["quillon", "-"], tree) == sorted(expected)
    assert bash_complete(["quillon", "--username", "admin", "-"], tree) == sorted(expected)
    # Other words are FILE arguments.
    assert bash_complete(["quillon", "--username", "admin", ""], tree) == FILES
    assert bash_complete(["quillon", "summary.txt", "su"], tree) == FILES
    for name, metavar in expected.items():
        want = {"flag": FILES, "text": [], "directory": ["sub one", "subtwo"], "file": FILES}[kind(name, metavar)]
        assert bash_complete(["quillon", name, ""], tree) == want, name
        if name.startswith("--") and metavar:
            # --option=value, and an unambiguous prefix of the option, as the program accepts them.
            assert bash_complete(["quillon", name, "=", ""], tree) == want, name
            if [other for other in expected if other.startswith(name[:-1])] == [name]:
                assert bash_complete(["quillon", name[:-1], ""], tree) == want, name
    assert bash_complete(["quillon", "--config_dir", "subt"], tree) == ["subtwo"]
    assert bash_complete(["quillon", "--c", ""], tree) == FILES  # ambiguous: no value completion


@pytest.mark.skipif(not shutil.which("fish"), reason="fish is not installed")
def test_fish_completes_option_names_and_values(expected, tree):
    def complete(line):
        script = f'source "{SHARE}/fish/vendor_completions.d/quillon.fish"; complete -C {line!r}'
        done = subprocess.run(["fish", "--no-config", "-c", script], capture_output=True, text=True, cwd=tree)
        assert done.returncode == 0 and done.stderr == "", done.stderr
        return sorted(line.split("\t")[0] for line in done.stdout.splitlines())

    assert complete("quillon -") == sorted(expected)
    assert complete("quillon --verify ") == ["sub one/", "subtwo/", "summary.txt"]
    for name, metavar in expected.items():
        if not name.startswith("--") or metavar is None:
            continue
        want = {"text": [], "directory": ["sub one/", "subtwo/"],
                "file": ["sub one/", "subtwo/", "summary.txt"]}[kind(name, metavar)]
        assert complete(f"quillon {name} ") == want, name


def test_zsh_specs_match_help(expected):
    path = SHARE / "zsh/site-functions/_quillon"
    text = path.read_text()
    assert text.startswith("#compdef quillon\n")
    if shutil.which("zsh"):
        assert subprocess.run(["zsh", "-n", str(path)]).returncode == 0
    found = {}
    entries = re.findall(r"^  (.*?)(?: \\)?$", text, re.M)
    assert entries.pop() == "'*:FILE:_files'"  # any number of FILE arguments, last
    for entry in entries:
        names = re.match(r"'(?:\([^)]*\))?'?(?:\{([^}]*)\}'|([^=\[]+)=?)", entry)
        assert names, entry
        value = re.search(r"\]:([^:]*):(.*)'$", entry)
        metavar = value.group(1) if value else None
        action = value.group(2) if value else None
        for name in (names.group(1) or names.group(2)).split(","):
            found[name.rstrip("+=")] = metavar
            assert action == {"flag": None, "text": " ", "directory": "_files -/", "file": "_files"}[
                kind(name.rstrip("+="), metavar)], entry
    assert found == expected
