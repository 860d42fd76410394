"""Ctrl-C and the stop signals in whole runs: the run ends promptly however it
waits, by the signal itself natively, keeping what it had completed."""
import contextlib
import fcntl
import json
import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from e2e import (BUILD, FRONT_ENDS, GATEWAYS, JOBS, SECRET, assert_stopped_by_ctrl_c, command, secret_args, start,
                 wait_for_request, write_files)


def wait_until(condition, timeout=30):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.01)
    return condition()


def waiting_for_a_fifo(pid, path):
    """Whether the process holds the FIFO at `path` open, or one of its threads
    waits in open() for the FIFO's writer."""
    proc = Path("/proc/%d" % pid)
    try:
        fds, tasks = list((proc / "fd").iterdir()), list((proc / "task").iterdir())
    except OSError:
        return True  # cannot be seen: go on
    seen = False
    for fd in fds:
        with contextlib.suppress(OSError):
            if os.readlink(fd) == str(path):
                return True
    for task in tasks:
        with contextlib.suppress(OSError):
            wchan = (task / "wchan").read_text()
            if wchan == "wait_for_partner":
                return True
            seen = seen or wchan not in ("", "0")  # "0": running, or hidden by the kernel
    return not seen


def blocked_writing(pid):
    """Whether the process's main thread waits in write() (syscall 1 on x86-64;
    any syscall elsewhere, where the number differs)."""
    try:
        call = Path("/proc/%d/syscall" % pid).read_text().split()[0]
    except (OSError, IndexError):
        return True  # cannot be seen: go on
    return call == "1" or (call not in ("running", "-1") and os.uname().machine != "x86_64")


def interrupt(process, within):
    """Ctrl-C, then what the process wrote; it must have ended `within` seconds."""
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    stdout, stderr = process.communicate(timeout=10)
    assert time.monotonic() - sent < within
    return stdout, stderr


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_ctrl_c_stops_a_request_that_never_ends(sim, tmp_path, front_end):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script(mode="hang", action="list_gateways")
    process = start(front_end, secret_args(sim, tmp_path))
    wait_for_request(sim, "list_gateways")
    stdout, stderr = interrupt(process, within=3)
    assert_stopped_by_ctrl_c(front_end, process.returncode, stderr)
    assert stdout == b"gateways\n"
    assert SECRET.encode() not in stderr


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_ctrl_c_stops_a_large_result_printing_into_a_slow_pipe(sim, tmp_path, front_end):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script({"return": True, "results": [{"gw_name": "gw-%07d" % i} for i in range(400000)]},
               action="list_gateways")
    process = start(front_end, secret_args(sim, tmp_path))
    assert process.stdout.read(20000)  # printing has begun; nobody reads on
    assert wait_until(lambda: blocked_writing(process.pid))
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    while process.poll() is None and time.monotonic() - sent < 10:
        process.stdout.read(4096)  # a slow reader: the pipe drains a little at a time
        time.sleep(0.05)
    assert time.monotonic() - sent < 2
    rest, stderr = process.communicate(timeout=10)
    assert_stopped_by_ctrl_c(front_end, process.returncode, stderr)
    assert len(rest) < 8_000_000  # far from the whole result


def test_native_ctrl_c_into_a_pipe_nobody_reads_ends_by_sigint_every_time(sim, tmp_path):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    tries = 20
    body = json.dumps({"return": True, "results": [{"gw_name": "gw-%06d" % i} for i in range(30000)]}).encode()
    sim.script(body, action="list_gateways", count=tries)
    took = []
    for _ in range(tries):
        process = start("native", secret_args(sim, tmp_path))
        assert process.stdout.read(10)  # printing has begun; nobody reads on
        wait_until(lambda: blocked_writing(process.pid))
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=10)
        finally:
            took.append(time.monotonic() - sent)
            process.kill()
            _, stderr = process.communicate(timeout=10)
        assert process.returncode == -signal.SIGINT, stderr
    assert max(took) < 1, took


def test_native_keeps_an_ignored_sigint(sim, tmp_path):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script({"return": True, "results": [{"gw_name": "gw-east-1"}, {"gw_name": "gw-west-1"}]}, mode="hold",
               action="list_gateways")
    args = " ".join("'%s'" % a for a in [str(BUILD / "bin" / "quillon")] + secret_args(sim, tmp_path))
    process = subprocess.Popen(["sh", "-c", "trap '' INT; exec " + args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    try:
        wait_for_request(sim, "list_gateways")
        process.send_signal(signal.SIGINT)
        # The caller asked for SIGINT to be ignored: the run goes on to its end once answered.
        sim.release()
        stdout, stderr = process.communicate(timeout=30)
    finally:
        process.kill()
    assert (process.returncode, stdout) == (0, b"gateways\n['gw-east-1', 'gw-west-1']\n\n\n"), stderr


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_ctrl_c_stops_a_wait_for_a_configuration_file_that_never_comes(sim, tmp_path, front_end, jobs):
    # A FIFO whose writer never writes: opening it blocks until Ctrl-C, on a worker with --jobs.
    os.mkfifo(tmp_path / "a.cfg")
    process = start(front_end, secret_args(sim, tmp_path) + jobs)
    wait_for_request(sim, "login")
    # Best effort: on a loaded machine the wait has once gone unseen for 30 s; the
    # interrupt below is what the test is about, and it is checked all the same.
    wait_until(lambda: waiting_for_a_fifo(process.pid, tmp_path / "a.cfg"), timeout=10)
    stdout, stderr = interrupt(process, within=2)
    assert_stopped_by_ctrl_c(front_end, process.returncode, stderr)


SLOW = GATEWAYS.replace("list_gateways", "slow")


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("stop, form", [(signal.SIGTERM, []), (signal.SIGHUP, ["--json"]),
                                        (signal.SIGTERM, ["--save", "{store}"]),
                                        (signal.SIGINT, ["--save", "{store}", "-j2"])])
def test_a_stop_signal_keeps_the_files_completed_before_it(sim, tmp_path, front_end, stop, form):
    # Two files into a file, as from cron or systemd; the one listed second never gets its answer.
    config = tmp_path / "config"
    write_files(config, {"a.cfg": GATEWAYS, "b.cfg": GATEWAYS})
    first, second = os.listdir(config)
    write_files(config, {second: SLOW})
    sim.script(mode="hang", action="slow")
    # --save: the first file's result replaces an earlier one whole, the second's stays as it was.
    store = write_files(tmp_path / "saved", {first + ".json": "earlier\n", second + ".json": "earlier\n"})
    form = [arg.format(store=store) for arg in form]
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    env.pop("PYTHONUNBUFFERED", None)  # the host's own buffering, as a scheduler runs it
    with open(tmp_path / "out.txt", "wb") as out:
        process = subprocess.Popen(command(front_end) + secret_args(sim, config) + form, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=subprocess.PIPE, env=env)
        wait_for_request(sim, "slow")
        if "--save" in form:  # with workers the second request may come first
            assert wait_until(lambda: (store / (first + ".json")).read_text() != "earlier\n")
        process.send_signal(stop)
        _, stderr = process.communicate(timeout=10)
    assert process.returncode == -stop, stderr
    written = (tmp_path / "out.txt").read_bytes()
    if "--save" in form:
        names = json.dumps(["gw-east-1", "gw-east-2", "gw-west-1", "gw-lab-1"], indent=2) + "\n"
        assert {p.name: p.read_text() for p in store.iterdir()} == {first + ".json": names, second + ".json": "earlier\n"}
    if form == ["--json"]:
        line = json.loads(written.splitlines()[0])
        assert line["file"] == first and line["result"][0] == "gw-east-1", written
    else:
        # The first file whole; the second one's description only where the run could write it out.
        assert written.startswith(b"gateways\n['gw-east-1',") and written.endswith((b"]\n\n\n", b"]\n\n\ngateways\n"))


@pytest.mark.parametrize("stop", [signal.SIGTERM, signal.SIGHUP])
def test_native_stop_signal_at_the_password_prompt_restores_echo(sim, tmp_path, stop):
    import pty
    import termios
    leader, follower = pty.openpty()

    def on_the_terminal():
        os.setsid()
        fcntl.ioctl(follower, termios.TIOCSCTTY, 0)
    try:
        process = subprocess.Popen(command("native") + ["--controller_ip", sim.address, "--config_dir", str(tmp_path)],
                                   stdin=follower, stdout=follower, stderr=subprocess.PIPE, preexec_fn=on_the_terminal)
        echoing = lambda: termios.tcgetattr(follower)[3] & termios.ECHO
        assert wait_until(lambda: not echoing())  # at the prompt
        process.send_signal(stop)
        _, stderr = process.communicate(timeout=10)
        assert process.returncode == -stop, stderr
        assert echoing()
    finally:
        os.close(follower)
        os.close(leader)
