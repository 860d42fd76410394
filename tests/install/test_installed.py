"""The package as pip installs it: the module, its configuration directory,
the native `quillon` command, the console script quillon-py, python -m
quillon, the man page and the shell completions."""
import configparser
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from importlib import metadata
from pathlib import Path

import pytest

from quillon import quillon

SOURCE = Path(__file__).resolve().parents[2]
SCRIPTS = Path(sysconfig.get_path("scripts"))
COMMAND = SCRIPTS / "quillon"
PACKAGE = Path(quillon.__file__).parent
sys.path.insert(0, str(SOURCE / "tools"))
from sim_controller import SimController  # noqa: E402


def run(cmd, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=60, cwd="/tmp", **kwargs)


def test_module_offers_exactly_the_program_names():
    public = {name for name in vars(quillon) if not name.startswith("__")}
    assert public == {"pp", "get_norvane_cid", "filter_results", "norvane_api", "get_default_config_dir", "main"}
    assert quillon.pp._width == 200
    assert "site-packages" in quillon.__file__


def test_default_config_dir_is_installed_beside_the_module():
    config_dir = quillon.get_default_config_dir()
    assert config_dir == os.path.join(os.path.dirname(quillon.__file__), "config")
    assert any(name.endswith(".cfg") for name in os.listdir(config_dir))


def test_test_hooks_are_not_installed():
    assert not list(PACKAGE.glob("_core*"))


def test_every_entry_point_shows_the_same_help():
    pages = {}
    for name, cmd, prog in [("native", [str(COMMAND)], "quillon"),
                            ("console script", [str(SCRIPTS / "quillon-py")], "quillon-py"),
                            ("module", [sys.executable, "-m", "quillon"], "python -m quillon")]:
        done = run(cmd + ["--help"])
        assert done.returncode == 0, (name, done.stderr)
        assert done.stdout.startswith("usage: " + prog + " "), name
        # The same page once the program's name is set aside (it changes the wrapping).
        pages[name] = re.sub(r"\s+", " ", done.stdout.split("\n\n", 1)[1])
    assert len(set(pages.values())) == 1, pages


def test_quillon_command_is_a_native_executable():
    for program in (COMMAND, PACKAGE / "quillon"):
        assert program.read_bytes()[:4] == b"\x7fELF", program
        if shutil.which("file"):
            assert "ELF" in run(["file", "-L", str(program)]).stdout


def test_version_is_the_package_version():
    done = run([str(COMMAND), "--version"])
    if done.returncode == 2 and "unrecognized" in done.stderr:
        pytest.skip("this build has no --version")
    assert (done.returncode, done.stdout) == (0, "quillon " + metadata.version("quillon") + "\n")


def test_native_program_runs_the_package_config_against_the_controller():
    with SimController(users={"admin": "pw"}, lifetime=60) as sim:
        login = ["--controller_ip", sim.address, "--username", "admin", "--password", "pw"]
        native = run([str(COMMAND), *login])
        module = run([sys.executable, "-m", "quillon", *login])
    assert native.returncode == 0, native.stderr
    # No --config_dir: both use the package's own config/, not one beside the scripts directory.
    assert native.stdout == module.stdout
    for cfg in (PACKAGE / "config").glob("*.cfg"):
        parser = configparser.ConfigParser()
        parser.read(cfg)
        assert parser["default"]["description"] in native.stdout, cfg.name


def ldd(path):
    done = run(["ldd", str(path)])
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_nothing_resolves_from_the_build_tree():
    prefix = Path(sys.prefix).resolve()
    for binary in [COMMAND, PACKAGE / "quillon", *PACKAGE.glob("quillon.*.so")]:
        listing = ldd(binary)
        assert "not found" not in listing, listing
        for resolved in re.findall(r"=> (/\S+)", listing):
            path = Path(resolved).resolve()
            inside_source = path.is_relative_to(SOURCE)
            assert not inside_source or path.is_relative_to(prefix), (binary, resolved)
    # The launcher runs the program and nothing else: no libraries of ours.
    assert "simdjson" not in ldd(COMMAND)


def test_man_page_and_completions_are_installed():
    share = Path(sys.prefix) / "share"
    for name in ["man/man1/quillon.1", "bash-completion/completions/quillon", "zsh/site-functions/_quillon",
                 "fish/vendor_completions.d/quillon.fish"]:
        assert "config_dir" in (share / name).read_text(), name


def test_missing_libcurl_is_named():
    """libcurl is the system's, loaded on the first request: hide it and see the error name it."""
    found = re.findall(r"libcurl\.so\.4 \(.*?\) => (\S+)", run(["ldconfig", "-p"]).stdout)
    if not found or os.geteuid() != 0 or not shutil.which("unshare"):
        pytest.skip("needs root, unshare and a libcurl.so.4 in the loader cache")
    hide = " && ".join(f"mount --bind /dev/null {os.path.realpath(path)}" for path in set(found))
    script = f'{hide} && exec "$0" --controller_ip 127.0.0.1:1 --password x'
    done = run(["unshare", "-m", "sh", "-c", script, str(COMMAND)])
    if "mount" in done.stderr and "permission" in done.stderr.lower():
        pytest.skip("mounting is not permitted here")
    assert done.returncode == 1
    assert "libcurl.so.4" in done.stderr and "install" in done.stderr, done.stderr
