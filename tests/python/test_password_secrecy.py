"""The password kept out of sight: never in output, traces, errors, the process
list or a core file; taken from the environment or a prompt when not given."""
import os
import signal
import subprocess
import tempfile
from pathlib import Path

import pytest

from e2e import (BUILD, DEFAULT_CONFIG, FRONT_ENDS, GATEWAYS, JOBS, SCRIPTED_CID, SECRET, command, run, run_detached,
                 secret_args, start, wait_for_request, write_files)


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_password_never_appears_on_any_failure_path(sim, tmp_path, front_end, jobs):
    cases = {
        "bad-file.cfg": "no header\n",
        "no-section.cfg": "[default]\n",
        "bad-percent.cfg": "[norvane]\naction = 5% off\n",
        "cycle.cfg": "[norvane]\naction = echo\nx = output(cycle.cfg)\n",
        "missing-ref.cfg": "[norvane]\naction = echo\nx = output(nowhere.list)\n",
    }
    for name, text in cases.items():
        directory = tmp_path / name
        directory.mkdir()
        write_files(directory, {name: text})
        done = subprocess.run(command(front_end) + secret_args(sim, directory) + jobs, capture_output=True, timeout=60,
                              env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
        assert done.returncode == 1, (name, done.stderr)
        assert SECRET.encode() not in done.stdout + done.stderr, name


def _trace_scenarios(sim):
    """name -> (extra arguments, what to queue on the controller, exit status)."""
    return {
        "whole-run": (["--config_dir", str(DEFAULT_CONFIG)], [], 0),
        "whole-run-jobs": (["--config_dir", str(DEFAULT_CONFIG), "-j", "3"], [], 0),
        "json": (["--config_dir", str(DEFAULT_CONFIG), "--json"], [], 0),
        "retried": (["--retry", "1", "--retry-delay", "0.05"],
                    [dict(body=b"busy", status=503, action="list_gateways")], 0),
        "redirected": ([], [dict(body=b"", status=307, headers={"Location": "/v1/moved"}, action="list_gateways")], 0),
        "scripted-cid": ([], [dict(body={"return": True, "CID": SCRIPTED_CID}, action="login", count=3)], 0),
        "reset": ([], [dict(body=b'{"results": "' + b"x" * 999 + b'"}', mode="reset", action="list_gateways")], 1),
        "max-time": (["--max-time", "0.5"], [dict(mode="hang", action="list_gateways")], 1),
        "refused-login": (["--password=wrong-" + SECRET], [], 1),
        "refused-in-walk": ([], [dict(body={"return": True, "CID": SCRIPTED_CID}, action="login"),
                                 dict(body={"return": False}, action="login")], 1),
    }


@pytest.mark.parametrize("scenario", list(_trace_scenarios(None)))
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_verbose_traces_every_request_but_never_a_secret(sim, tmp_path, front_end, scenario):
    args, queued, status = _trace_scenarios(sim)[scenario]
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    for answer in queued:
        sim.script(**answer)
    done = run(front_end, secret_args(sim, tmp_path) + args + ["--verbose"])
    assert done.returncode == status, done.stderr
    output = done.stdout + done.stderr
    for secret in [SECRET, SCRIPTED_CID] + sim.cids:
        assert secret.encode() not in output, (secret, done.stderr)
    trace = [line for line in done.stderr.decode().splitlines() if line.startswith("[")]
    # One line per exchange the controller saw (or, for a limit hit, never answered).
    assert len(trace) == len(sim.requests), done.stderr
    assert "POST %s action=login&username=admin&password=*** -> HTTP 200" % sim.url in trace[0]
    if status == 0:
        assert any("CID=***&action=" in line for line in trace)


@pytest.mark.parametrize("spelling", [["--password", SECRET], ["--password=" + SECRET], ["--pass", SECRET],
                                      ["--passw=" + SECRET]])
def test_native_hides_the_password_from_the_process_list(sim, tmp_path, spelling):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.users["admin"] = SECRET
    sim.script(mode="hang", action="list_gateways")  # keeps the process alive
    process = start("native", ["--controller_ip", sim.address, *spelling, "--config_dir", str(tmp_path)])
    try:
        assert sim.wait_for_request("list_gateways"), sim.actions()
        cmdline = Path("/proc/%d/cmdline" % process.pid).read_bytes()
        assert process.poll() is None
        assert SECRET.encode() not in cmdline, cmdline
        assert (b"--controller_ip\0" + sim.address.encode() + b"\0") in cmdline
        assert sim.logins == 2  # the password, read before it was overwritten, logged in
    finally:
        process.kill()
        process.communicate(timeout=10)


def test_native_hides_every_password_value_from_the_process_list(sim, tmp_path):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.users["admin"] = SECRET
    sim.script(mode="hang", action="list_gateways")  # keeps the process alive
    given = ["--pass", "first-" + SECRET, "--password=second-" + SECRET, "--passw", SECRET]
    process = start("native", ["--controller_ip", sim.address, *given, "--config_dir", str(tmp_path)])
    try:
        wait_for_request(sim, "list_gateways")
        cmdline = Path("/proc/%d/cmdline" % process.pid).read_bytes()
        assert process.poll() is None and SECRET.encode() not in cmdline, cmdline
        assert b"\0--pass\0" in cmdline and b"\0--password=xxx" in cmdline
    finally:
        process.kill()
        process.communicate(timeout=10)


@pytest.mark.skipif(not Path("/proc/sys/kernel/core_pattern").read_text().startswith("core"),
                    reason="core files go to a handler, not the working directory")
def test_native_leaves_no_core_file_holding_the_password(sim, tmp_path):
    import resource
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script(mode="hang", action="list_gateways")

    def unlimited_cores():
        resource.setrlimit(resource.RLIMIT_CORE, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    process = start("native", secret_args(sim, tmp_path), cwd=tmp_path, preexec_fn=unlimited_cores)
    wait_for_request(sim, "list_gateways")
    process.send_signal(signal.SIGSEGV)
    process.communicate(timeout=10)
    assert process.returncode == -signal.SIGSEGV
    for core in tmp_path.glob("core*"):
        assert SECRET.encode() not in core.read_bytes(), core


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_password_from_the_environment_comes_before_any_prompt(sim, tmp_path, front_end):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    expected = run(front_end, secret_args(sim, tmp_path))
    assert expected.returncode == 0
    no_password = ["--controller_ip", sim.address, "--config_dir", str(tmp_path)]
    from_environment = run_detached(front_end, no_password + ["-v"], {"QUILLON_PASSWORD": SECRET})
    assert (from_environment.returncode, from_environment.stdout) == (0, expected.stdout), from_environment.stderr
    assert b"Password" not in from_environment.stderr and SECRET.encode() not in from_environment.stderr
    # --password wins over the variable.
    given = run_detached(front_end, no_password + ["--password", SECRET], {"QUILLON_PASSWORD": "wrong"})
    assert (given.returncode, given.stdout) == (0, expected.stdout)
    # An empty variable counts as unset: the password is asked for.
    with tempfile.TemporaryFile() as typed:
        typed.write(SECRET.encode() + b"\n")
        typed.seek(0)
        asked = run_detached(front_end, no_password, {"QUILLON_PASSWORD": ""}, stdin=typed)
    assert (asked.returncode, asked.stdout) == (0, expected.stdout)
    assert b"Enter Norvane Controller Password: " in asked.stderr


def test_native_password_prompt_without_a_terminal_ends_its_line(sim, tmp_path):
    # No controlling terminal (a new session): the password comes from standard
    # input, and the prompt's line is ended, since nothing echoes the input.
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    done = subprocess.run(command("native") + ["--controller_ip", sim.address, "--config_dir", str(tmp_path)],
                          input=(sim.users["admin"] + "\n").encode(), capture_output=True, timeout=60,
                          start_new_session=True)
    assert done.returncode == 0, done.stderr
    assert done.stderr == b"Warning: Password input may be echoed.\nEnter Norvane Controller Password: \n"
    assert done.stdout.startswith(b"gateways\n")
