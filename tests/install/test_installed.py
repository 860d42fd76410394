"""Each built wheel as pip installs it, in a fresh virtual environment of its
Python: the module, its configuration directory, the native `quillon`
command, the console script quillon-py, python -m quillon, the man page and
the shell completions; and what makes the wheel portable: nothing above the
glibc floor, no C++ runtime of the system's.

make wheel-check runs this from outside the source tree with QUILLON_PYTHONS
(the interpreters), QUILLON_WHEEL_DIR (their wheels) and QUILLON_VENVS (where
the environments go)."""
import configparser
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

SOURCE = Path(__file__).resolve().parents[2]
PYTHONS = os.environ.get("QUILLON_PYTHONS", "").split()
WHEEL_DIR = Path(os.environ.get("QUILLON_WHEEL_DIR", SOURCE / "dist"))
VENVS = Path(os.environ.get("QUILLON_VENVS", SOURCE / "build" / "venv-wheel"))
sys.path.insert(0, str(SOURCE / "tools"))
from sim_controller import SimController  # noqa: E402

# The oldest glibc the wheels serve, as the toolchain that builds them sets it.
FLOOR = tuple(int(n) for n in re.search(r"^set\(QUILLON_GLIBC_FLOOR (\d+)\.(\d+)\)$", next(
    (SOURCE / "cmake").glob("zig-linux-glibc-*.cmake")).read_text(), re.M).groups())

# What the module reports about itself, from inside the environment.
FACTS = """
import json, os, sys, sysconfig
from quillon import quillon
print(json.dumps({"names": sorted(n for n in vars(quillon) if not n.startswith("__")),
                  "width": quillon.pp._width, "module": quillon.__file__,
                  "config_dir": quillon.get_default_config_dir(),
                  "scripts": sysconfig.get_path("scripts"), "prefix": sys.prefix}))
"""


def run(cmd, **kwargs):
    return subprocess.run([str(c) for c in cmd], capture_output=True, text=True, timeout=120, cwd="/tmp", **kwargs)


def checked(cmd):
    done = run(cmd)
    assert done.returncode == 0, (cmd, done.stderr)
    return done.stdout


def test_a_wheel_for_every_python():
    assert PYTHONS, "QUILLON_PYTHONS names no interpreter"


@pytest.fixture(scope="module", params=PYTHONS, ids=lambda python: Path(python).name)
def installed(request):
    """The wheel of that Python installed in a new virtual environment, as a user would."""
    version = checked([request.param, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"]).strip()
    tag = "cp" + version.replace(".", "")
    wheels = sorted(WHEEL_DIR.glob(f"quillon-*-{tag}-{tag}-*.whl"))
    assert len(wheels) == 1, f"one wheel for {tag} in {WHEEL_DIR}, found {wheels}"
    venv = VENVS / version
    shutil.rmtree(venv, ignore_errors=True)
    checked([request.param, "-m", "venv", venv])
    checked([venv / "bin" / "pip", "install", "-q", "--no-index", wheels[0]])
    python = venv / "bin" / "python"
    facts = json.loads(checked([python, "-c", FACTS]))
    scripts, package = Path(facts["scripts"]), Path(facts["module"]).parent
    return SimpleNamespace(wheel=wheels[0], tag=tag, python=python, facts=facts, scripts=scripts,
                           command=scripts / "quillon", package=package, prefix=Path(facts["prefix"]))


def test_wheel_is_tagged_for_its_python_and_the_glibc_floor(installed):
    floor = "manylinux_%d_%d_x86_64" % FLOOR
    python, abi, platforms = installed.wheel.name.removesuffix(".whl").split("-")[2:]
    assert (python, abi, set(platforms.split("."))) == (installed.tag, installed.tag, {floor, "manylinux2014_x86_64"})
    shown = " ".join(checked([sys.executable, "-m", "auditwheel", "show", installed.wheel]).split())
    assert f'consistent with the following platform tag: "{floor}"' in shown, shown


def glibc_versions(binary):
    """Every symbol version the binary needs from the system, by library kind."""
    found = set(re.findall(r"\b(GLIBC|GLIBCXX|CXXABI|GCC)_([0-9.]+)\b", checked(["objdump", "-T", binary])))
    return {(kind, tuple(int(n) for n in version.split("."))) for kind, version in found}


def test_nothing_above_the_glibc_floor_and_no_system_cxx_runtime(installed):
    for binary in [installed.command, installed.package / "quillon", *installed.package.glob("quillon.*.so")]:
        versions = glibc_versions(binary)
        assert versions and {kind for kind, _ in versions} == {"GLIBC"}, (binary, versions)
        assert max(version for _, version in versions) <= FLOOR, (binary, sorted(versions))
        assert not re.search(r"libstdc\+\+|libgcc_s", checked(["ldd", binary])), binary


def test_module_offers_exactly_the_program_names(installed):
    assert installed.facts["names"] == sorted(
        {"pp", "get_norvane_cid", "filter_results", "norvane_api", "get_default_config_dir", "main"})
    assert installed.facts["width"] == 200
    assert Path(installed.facts["module"]).is_relative_to(installed.prefix)


def test_default_config_dir_is_installed_beside_the_module(installed):
    config_dir = installed.facts["config_dir"]
    assert config_dir == os.path.join(installed.package, "config")
    assert any(name.endswith(".cfg") for name in os.listdir(config_dir))


def test_test_hooks_are_not_installed(installed):
    assert not list(installed.package.glob("_core*"))


def test_every_entry_point_shows_the_same_help(installed):
    pages = {}
    for name, cmd, prog in [("native", [installed.command], "quillon"),
                            ("console script", [installed.scripts / "quillon-py"], "quillon-py"),
                            ("module", [installed.python, "-m", "quillon"], "python -m quillon")]:
        done = run(cmd + ["--help"])
        assert done.returncode == 0, (name, done.stderr)
        assert done.stdout.startswith("usage: " + prog + " "), name
        # The same page once the program's name is set aside (it changes the wrapping).
        pages[name] = re.sub(r"\s+", " ", done.stdout.split("\n\n", 1)[1])
    assert len(set(pages.values())) == 1, pages


def test_quillon_command_is_a_native_executable(installed):
    for program in (installed.command, installed.package / "quillon"):
        assert program.read_bytes()[:4] == b"\x7fELF", program


def test_version_is_the_package_version(installed):
    version = checked([installed.python, "-c", "from importlib import metadata; print(metadata.version('quillon'))"])
    assert checked([installed.command, "--version"]) == "quillon " + version


def test_native_program_runs_the_package_config_against_the_controller(installed):
    with SimController(users={"admin": "pw"}, lifetime=60) as sim:
        login = ["--controller_ip", sim.address, "--username", "admin", "--password", "pw"]
        native = run([installed.command, *login])
        module = run([installed.python, "-m", "quillon", *login])
    assert native.returncode == 0, native.stderr
    # No --config_dir: both use the package's own config/, not one beside the scripts directory.
    assert native.stdout == module.stdout
    for cfg in (installed.package / "config").glob("*.cfg"):
        parser = configparser.ConfigParser()
        parser.read(cfg)
        assert parser["default"]["description"] in native.stdout, cfg.name


def test_nothing_resolves_from_the_build_tree(installed):
    for binary in [installed.command, installed.package / "quillon", *installed.package.glob("quillon.*.so")]:
        listing = checked(["ldd", binary])
        assert "not found" not in listing, listing
        for resolved in re.findall(r"=> (/\S+)", listing):
            path = Path(resolved).resolve()
            assert not path.is_relative_to(SOURCE) or path.is_relative_to(installed.prefix), (binary, resolved)


def test_man_page_and_completions_are_installed(installed):
    share = installed.prefix / "share"
    for name in ["man/man1/quillon.1", "bash-completion/completions/quillon", "bash-completion/completions/quillon-py",
                 "zsh/site-functions/_quillon", "fish/vendor_completions.d/quillon.fish",
                 "fish/vendor_completions.d/quillon-py.fish"]:
        assert "config_dir" in (share / name).read_text(), name


def test_missing_libcurl_is_named(installed):
    """libcurl is the system's, loaded on the first request: hide it and see the error name it."""
    found = re.findall(r"libcurl\.so\.4 \(.*?\) => (\S+)", run(["ldconfig", "-p"]).stdout)
    if not found or os.geteuid() != 0 or not shutil.which("unshare"):
        pytest.skip("needs root, unshare and a libcurl.so.4 in the loader cache")
    hide = " && ".join(f"mount --bind /dev/null {os.path.realpath(path)}" for path in set(found))
    script = f'{hide} && exec "$0" --controller_ip 127.0.0.1:1 --password x'
    done = run(["unshare", "-m", "sh", "-c", script, installed.command])
    if "mount" in done.stderr and "permission" in done.stderr.lower():
        pytest.skip("mounting is not permitted here")
    assert done.returncode == 1
    assert "libcurl.so.4" in done.stderr and "install" in done.stderr, done.stderr


def test_too_old_libcurl_is_named(installed, tmp_path):
    """A libcurl.so.4 without the functions the program calls: the error names the first one missing."""
    cc = shutil.which("cc") or shutil.which("gcc")
    if not cc:
        pytest.skip("needs a C compiler to make a stand-in library")
    (tmp_path / "old.c").write_text("int curl_stand_in;\n")
    checked([cc, "-shared", "-fPIC", "-o", tmp_path / "libcurl.so.4", tmp_path / "old.c"])
    done = run([installed.command, "--controller_ip", "127.0.0.1:1", "--password", "x"],
               env=dict(os.environ, LD_LIBRARY_PATH=str(tmp_path)))
    assert done.returncode == 1 and re.search(r"libcurl lacks curl_\w+", done.stderr), done.stderr
