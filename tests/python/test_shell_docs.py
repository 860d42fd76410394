"""The man page and the bash, zsh and fish completions, generated at build time
from the option table, against the --help page they must agree with."""
import os
import re
import shutil
import subprocess

import pytest

from conftest import BUILD, ROOT

SHARE = BUILD / "share"
NATIVE = BUILD / "bin" / "quillon"
MAN_PAGE = SHARE / "man/man1/quillon.1"
# The commands that take these options, each with completions of its own.
COMMANDS = ["quillon", "quillon-py"]
# What each option's value completes to; other options with a value complete to nothing.
VALUE_KINDS = {"--config_dir": "directory", "--cacert": "file", "--save": "directory", "--compare": "directory"}
FILES = ["sub one", "subtwo", "summary.txt"]  # what a FILE argument completes to in `tree`


def help_page():
    return subprocess.run([str(NATIVE), "--help"], capture_output=True, text=True, check=True,
                          env=dict(os.environ, COLUMNS="400")).stdout


def help_entries():
    """[[(name, metavar or None), ...] per entry] as --help lists them ("-h, --help" is one entry)."""
    entries = []
    for line in help_page().split("\noptions:\n", 1)[1].splitlines():
        if line.startswith("  -"):
            parts = re.split(r"  +", line.strip())[0].split(", ")
            entries.append([(name, metavar or None) for name, _, metavar in (p.partition(" ") for p in parts)])
    return entries


def help_texts():
    """{first name: help text} as --help prints them, each on one line (COLUMNS=400)."""
    texts, name = {}, None
    for line in help_page().split("\noptions:\n", 1)[1].split("\n\n", 1)[0].splitlines():
        if line.startswith("  -"):  # a long invocation has its text on the next line
            invocation, _, line = line.strip().partition("  ")
            name = invocation.split(" ")[0].rstrip(",")
        texts[name] = (texts.get(name, "") + " " + line.strip()).strip()
    return texts


def man_section(name):
    text = MAN_PAGE.read_text()
    return text.split(f".SH {name}\n", 1)[1].split("\n.SH ", 1)[0]


def plain(roff):
    """Man page source as the reader sees it: no font changes, hyphens as typed."""
    return re.sub(r"\\f[BIR]", "", roff).replace("\\-", "-").replace("\\e", "\\")


def readme_section(title):
    text = (ROOT / "README.md").read_text()
    return text.split(f"\n{title}\n", 1)[1].split("\n## ", 1)[0]


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
    text = MAN_PAGE.read_text()
    entries = re.findall(r"^\.TP\n(.*)$", man_section("OPTIONS"), re.M)
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
        done = subprocess.run(["groff", "-man", "-ww", "-z", str(MAN_PAGE)],
                              capture_output=True, text=True)
        assert done.returncode == 0 and done.stderr == ""


def bash_complete(words, cwd):
    """COMPREPLY for a command line whose last word is being completed, as bash splits it, from the
    file bash-completion loads for the command and the function that file registers for it."""
    script = (f'source "{SHARE}/bash-completion/completions/{words[0]}"\n'
              'complete -p "$1" > /dev/null || exit 1\n'
              'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); $(complete -p "$1" | sed -n "s/.* -F \\([^ ]*\\) .*/\\1/p")\n'
              'printf "%s\\n" "${COMPREPLY[@]}"')
    done = subprocess.run(["bash", "-c", script, "bash", *words], capture_output=True, text=True, cwd=cwd)
    assert done.returncode == 0, done.stderr
    return sorted(line for line in done.stdout.splitlines() if line)


@pytest.mark.parametrize("command", COMMANDS)
def test_bash_completes_option_names_and_values(expected, tree, command):
    assert bash_complete([command, "-"], tree) == sorted(expected)
    assert bash_complete([command, "--username", "admin", "-"], tree) == sorted(expected)
    # Other words are FILE arguments.
    assert bash_complete([command, "--username", "admin", ""], tree) == FILES
    assert bash_complete([command, "summary.txt", "su"], tree) == FILES
    for name, metavar in expected.items():
        want = {"flag": FILES, "text": [], "directory": ["sub one", "subtwo"], "file": FILES}[kind(name, metavar)]
        assert bash_complete([command, name, ""], tree) == want, name
        if name.startswith("--") and metavar:
            # --option=value, and an unambiguous prefix of the option, as the program accepts them.
            assert bash_complete([command, name, "=", ""], tree) == want, name
            if [other for other in expected if other.startswith(name[:-1])] == [name]:
                assert bash_complete([command, name[:-1], ""], tree) == want, name
    assert bash_complete([command, "--config_dir", "subt"], tree) == ["subtwo"]
    assert bash_complete([command, "--c", ""], tree) == FILES  # ambiguous: no value completion


@pytest.mark.skipif(not shutil.which("fish"), reason="fish is not installed")
@pytest.mark.parametrize("command", COMMANDS)
def test_fish_completes_option_names_and_values(expected, tree, command):
    def complete(line):
        script = f'source "{SHARE}/fish/vendor_completions.d/{command}.fish"; complete -C {line!r}'
        done = subprocess.run(["fish", "--no-config", "-c", script], capture_output=True, text=True, cwd=tree)
        assert done.returncode == 0 and done.stderr == "", done.stderr
        return sorted(line.split("\t")[0] for line in done.stdout.splitlines())

    assert complete(f"{command} -") == sorted(expected)
    assert complete(f"{command} --verify ") == ["sub one/", "subtwo/", "summary.txt"]
    for name, metavar in expected.items():
        if not name.startswith("--") or metavar is None:
            continue
        want = {"text": [], "directory": ["sub one/", "subtwo/"],
                "file": ["sub one/", "subtwo/", "summary.txt"]}[kind(name, metavar)]
        assert complete(f"{command} {name} ") == want, name


def test_zsh_specs_match_help(expected):
    path = SHARE / "zsh/site-functions/_quillon"
    text = path.read_text()
    assert text.startswith("#compdef " + " ".join(COMMANDS) + "\n")
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


def test_man_page_options_say_what_help_says():
    """Each option's text, its limits included, is --help's."""
    entries = re.findall(r"^\.TP\n(.*)\n(.*)$", man_section("OPTIONS"), re.M)
    assert {plain(invocation).split(" ")[0].rstrip(","): plain(text) for invocation, text in entries} == help_texts()


def test_limits_are_stated_in_help_and_readme():
    texts = help_texts()
    limits = {name: re.findall(r"at most (\d+)", text) for name, text in texts.items()}
    assert {"--connect-timeout", "--max-time", "--retry-delay", "--retry", "-j"} <= {n for n, l in limits.items() if l}
    rows = {}
    for cell, rest in re.findall(r"^\| (`-[^|]*`) \|(.*)$", (ROOT / "README.md").read_text(), re.M):
        for invocation in cell.split(", "):
            rows[invocation.strip("`").split(" ")[0]] = rest
    for name, numbers in limits.items():
        assert name in rows, f"README has no row for {name}"
        for number in numbers:
            assert f"at most {number}" in rows[name], (name, rows[name])


def test_man_page_environment_exit_status_and_examples():
    environment = plain(man_section("ENVIRONMENT"))
    for variable in ["QUILLON_PASSWORD", "https_proxy", "HTTPS_PROXY", "all_proxy", "no_proxy", "NO_PROXY"]:
        assert re.search(rf"^{variable}\b|, {variable}\b", environment, re.M), variable
    # The environment's text for the password is the help page's, word for word.
    epilog = re.sub(r"\s+", " ", help_page().rsplit("\n\n", 1)[1]).strip()
    assert epilog in re.sub(r"\s+", " ", environment)
    statuses = re.findall(r"^\.TP\n([\d, ]+)$", man_section("EXIT STATUS"), re.M)
    assert statuses == re.findall(r"^\| ([\d, ]+) \|", readme_section("## Exit statuses"), re.M)
    commands = re.findall(r"^\.nf\n(.*)\n\.fi$", man_section("EXAMPLES"), re.M)
    assert len(commands) >= 3
    options = help_options()
    for command in map(plain, commands):
        # The program's own arguments: up to a pipe or a redirection.
        arguments = re.search(r"(?:^|\s)quillon(?:-py)?((?:\s[^|<>]*)?)", command)
        assert arguments, command
        for word in re.findall(r"(?<!\S)(--?[a-z][\w-]*)", arguments.group(1)):
            assert word in options, (word, command)
