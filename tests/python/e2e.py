"""Running the program as a user does: the native executable or `python -m quillon`."""
import os
import signal
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import BUILD, ROOT, STARTED

NATIVE = BUILD / "bin" / "quillon"
FRONT_ENDS = ["native", "module"]
# Every whole-run scenario holds one at a time and with workers: the output may not differ.
JOBS = [pytest.param([], id="one-at-a-time"), pytest.param(["--jobs", "4"], id="jobs4")]
DEFAULT_CONFIG = ROOT / "src" / "quillon" / "config"
GATEWAYS = "[default]\ndescription = gateways\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n"
# Distinctive, so that finding one in any output is never chance.
SECRET = "Pw-unmistakable-5309"
SCRIPTED_CID = "cid-unmistakable-8861"


def command(front_end):
    if front_end == "native":
        return [str(NATIVE)]
    return [sys.executable, "-m", "quillon"]


def run(front_end, args, stdin="", timeout=60, cwd=None, env=None):
    environment = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    environment.update(env or {})
    return subprocess.run(command(front_end) + list(args), input=stdin.encode(), capture_output=True,
                          timeout=timeout, cwd=cwd, env=environment)


def start(front_end, args, **kwargs):
    """A run in the background; the test's end kills it if it is still going."""
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    process = subprocess.Popen(command(front_end) + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env, **kwargs)
    STARTED.append(process)
    return process


def run_detached(front_end, args, env, stdin=subprocess.DEVNULL):
    """No controlling terminal, so a prompt could only read standard input."""
    environment = dict(os.environ, PYTHONPATH=str(BUILD / "python"), **env)
    return subprocess.run(command(front_end) + args, stdin=stdin, capture_output=True, timeout=60, env=environment,
                          start_new_session=True)


def assert_stopped_by_ctrl_c(front_end, returncode, stderr):
    """The native program dies by SIGINT, so a shell loop around it stops too;
    the module raises KeyboardInterrupt, as host programs do."""
    if front_end == "native":
        assert returncode == -signal.SIGINT and stderr.endswith(b"quillon: error: interrupted\n"), stderr
    else:
        assert returncode != 0 and b"KeyboardInterrupt" in stderr, stderr


def wait_for_request(sim, action):
    """Until the controller has received a request for `action`."""
    assert sim.wait_for_request(action), sim.actions()


def run_reference(address, username, password, config_dir, env=None):
    """The same run done by the host's own stack."""
    return subprocess.run([sys.executable, str(ROOT / "tests" / "python" / "host_reference.py"), address,
                           username, password, str(config_dir)], capture_output=True, timeout=60,
                          env=dict(os.environ, **(env or {})))


def login_args(sim, username="admin", password=None, config_dir=None):
    from conftest import SIM_USERS
    args = ["--controller_ip", sim.address, "--username", username,
            "--password=" + (SIM_USERS[username] if password is None else password)]
    if config_dir is not None:
        args += ["--config_dir", str(config_dir)]
    return args


def secret_args(sim, config_dir, password=SECRET):
    sim.users["admin"] = SECRET
    return login_args(sim, password=password, config_dir=config_dir)


def write_files(directory: Path, files: dict):
    for name, text in files.items():
        path = directory / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return directory


def wire_log(sim, start=0):
    """What reached the controller, with the (random) CIDs masked so that runs compare."""
    return [(r["method"], r["path"], r["headers"].get("Content-Type"),
             [(n, "CID" if n == "CID" and v in sim.cids else v) for n, v in r["fields"]])
            for r in sim.requests[start:]]
