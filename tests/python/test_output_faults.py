"""Faults of the output: a terminal, a pipe closed or nobody reads, a full disk,
a standard error that cannot be written; one clear error, never a crash."""
import os
import signal
import subprocess
import time

import pytest

from e2e import BUILD, FRONT_ENDS, GATEWAYS, JOBS, SECRET, command, login_args, secret_args, start, write_files


def test_native_shows_each_file_on_a_terminal_as_it_completes(sim, tmp_path):
    import pty
    import select
    write_files(tmp_path, {"a.cfg": GATEWAYS, "b.cfg": GATEWAYS})
    # The file listed second waits for an answer that never comes.
    write_files(tmp_path, {os.listdir(tmp_path)[1]: GATEWAYS.replace("list_gateways", "slow")})
    sim.script(mode="hang", action="slow")
    leader, follower = pty.openpty()
    process = subprocess.Popen(command("native") + secret_args(sim, tmp_path), stdin=subprocess.DEVNULL,
                               stdout=follower, stderr=subprocess.PIPE)
    os.close(follower)
    seen = b""
    deadline = time.monotonic() + 20
    try:
        while b"\r\n\r\n\r\ngateways\r\n" not in seen and time.monotonic() < deadline:
            if select.select([leader], [], [], 0.1)[0]:
                seen += os.read(leader, 4096)
        # The first file is on the screen while the second one's answer is awaited.
        assert seen.startswith(b"gateways\r\n") and b"\r\n\r\n\r\ngateways\r\n" in seen, seen
        assert process.poll() is None
    finally:
        process.kill()
        process.communicate(timeout=10)
        os.close(leader)


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("case", ["help-full", "help-closed", "login-failed-full"])
def test_native_unwritable_output_is_one_error_line_never_a_crash(sim, tmp_path, case):
    args = ["--help"]
    if case == "login-failed-full":
        write_files(tmp_path, {"a.cfg": GATEWAYS})
        args = login_args(sim, password="wrong " + SECRET, config_dir=tmp_path)
    full = open("/dev/full", "w")
    stdout = subprocess.DEVNULL if case == "help-closed" else full
    kwargs = {"preexec_fn": lambda: os.close(1)} if case == "help-closed" else {}
    with full:
        done = subprocess.run(command("native") + args, stdout=stdout, stderr=subprocess.PIPE, timeout=60, **kwargs)
    assert done.returncode == 1, done
    lines = done.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("quillon: error: "), lines
    assert SECRET not in done.stderr.decode()


def reader_gone_early(front_end, sim, tmp_path):
    """A run whose reader closes the pipe after 10 bytes of far more output than
    a pipe holds, so writes go on after the reader has gone."""
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script({"return": True, "results": [{"gw_name": "gw-%06d" % i} for i in range(50000)]},
               action="list_gateways")
    process = start(front_end, secret_args(sim, tmp_path))
    process.stdout.read(10)
    process.stdout.close()
    process.wait(timeout=60)
    return process


def test_native_ends_quietly_on_a_closed_pipe(sim, tmp_path):
    process = reader_gone_early("native", sim, tmp_path)
    assert process.returncode == -signal.SIGPIPE
    assert process.stderr.read() == b""


def test_module_lets_the_broken_pipe_reach_the_host(sim, tmp_path):
    process = reader_gone_early("module", sim, tmp_path)
    stderr = process.stderr.read().decode()
    assert process.returncode != 0 and "BrokenPipeError" in stderr and "Segmentation" not in stderr


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_native_full_disk_is_a_clear_error(sim, tmp_path):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    with open("/dev/full", "w") as full:
        done = subprocess.run(command("native") + secret_args(sim, tmp_path), stdout=full, stderr=subprocess.PIPE,
                              timeout=60)
    assert done.returncode == 1
    assert b"No space left on device" in done.stderr and SECRET.encode() not in done.stderr


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_a_trace_that_cannot_be_written_never_ends_the_run(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    expected = subprocess.run(command(front_end) + secret_args(sim, tmp_path), capture_output=True, timeout=60,
                              env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    reader, writer = os.pipe()
    os.close(reader)  # standard error: a pipe nobody will ever read
    with os.fdopen(writer, "wb") as stderr:
        done = subprocess.run(command(front_end) + secret_args(sim, tmp_path) + ["-v"] + jobs, stdout=subprocess.PIPE,
                              stderr=stderr, timeout=60, env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    assert (done.returncode, done.stdout) == (0, expected.stdout)
