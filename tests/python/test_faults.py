"""Faults of the controller and of the output: clear errors naming the
controller, earlier output kept, Ctrl-C honoured, the password never shown."""
import contextlib
import fcntl
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

from e2e import BUILD, FRONT_ENDS, JOBS, command, login_args, write_files

SECRET = "Zq-distinctive-4711"
GATEWAYS = "[default]\ndescription = gateways\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n"


_started = []


def start(front_end, args, **kwargs):
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    process = subprocess.Popen(command(front_end) + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=env, **kwargs)
    _started.append(process)
    return process


@pytest.fixture(autouse=True)
def _no_run_left_behind():
    """A test that fails before its run ends leaves no process waiting (on a FIFO, say) for ever."""
    yield
    while _started:
        process = _started.pop()
        if process.poll() is None:
            process.kill()
            process.communicate(timeout=10)


def wait_for_request(sim, action):
    """Until the controller has received a request for `action`."""
    assert sim.wait_for_request(action), sim.actions()


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


def secret_args(sim, config_dir):
    sim.users["admin"] = SECRET
    return login_args(sim, password=SECRET, config_dir=config_dir)


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("fault", ["refused", "reset", "html500", "truncated", "not_tls"])
def test_controller_faults_are_clear_errors_after_earlier_output(sim, tmp_path, front_end, fault, jobs):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    args = secret_args(sim, tmp_path) + jobs
    if fault == "refused":
        args[1] = "127.0.0.1:1"
    elif fault == "not_tls":
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen()

        def answer_in_plain_text():
            conn, _ = listener.accept()
            conn.sendall(b"HTTP/1.1 200 OK\r\n\r\nnot tls at all")
            conn.close()
        threading.Thread(target=answer_in_plain_text, daemon=True).start()
        args[1] = "127.0.0.1:%d" % listener.getsockname()[1]
    elif fault == "reset":
        sim.script(mode="close", action="list_gateways")
    elif fault == "html500":
        sim.script(b"<html><body>500 Internal Server Error</body></html>", status=500,
                   content_type="text/html", action="list_gateways")
    elif fault == "truncated":
        sim.script(b'{"return": true, "results": [{"gw_name": "gw-ea', action="list_gateways")
    done = subprocess.run(command(front_end) + args, capture_output=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    assert done.returncode == 1
    stderr = done.stderr.decode()
    assert SECRET not in stderr and SECRET.encode() not in done.stdout
    # Whatever happened to it, the query went out once: it may change state on the controller.
    assert sim.actions().count("list_gateways") <= 1
    if fault in ("refused", "not_tls"):
        assert args[1] in stderr and done.stdout == b""
    else:
        # The description was printed before the query failed, and stays printed.
        assert done.stdout == b"gateways\n"
        assert args[1] in stderr


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


def assert_stopped_by_ctrl_c(front_end, returncode, stderr):
    """The native program dies by SIGINT, so a shell loop around it stops too;
    the module raises KeyboardInterrupt, as host programs do."""
    if front_end == "native":
        assert returncode == -signal.SIGINT and stderr.endswith(b"quillon: error: interrupted\n"), stderr
    else:
        assert returncode != 0 and b"KeyboardInterrupt" in stderr, stderr


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


def test_native_ends_quietly_on_a_closed_pipe(sim, tmp_path):
    # Far more output than a pipe holds, so writes go on after the reader has gone.
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script({"return": True, "results": [{"gw_name": "gw-%06d" % i} for i in range(50000)]},
               action="list_gateways")
    process = start("native", secret_args(sim, tmp_path))
    process.stdout.read(10)
    process.stdout.close()
    process.wait(timeout=60)
    assert process.returncode == -signal.SIGPIPE
    assert process.stderr.read() == b""


def test_module_lets_the_broken_pipe_reach_the_host(sim, tmp_path):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.script({"return": True, "results": [{"gw_name": "gw-%06d" % i} for i in range(50000)]},
               action="list_gateways")
    process = start("module", secret_args(sim, tmp_path))
    process.stdout.read(10)
    process.stdout.close()
    process.wait(timeout=60)
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


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_ctrl_c_stops_a_wait_for_a_configuration_file_that_never_comes(sim, tmp_path, front_end, jobs):
    # A FIFO whose writer never writes: opening it blocks until Ctrl-C, on a worker with --jobs.
    os.mkfifo(tmp_path / "a.cfg")
    process = start(front_end, secret_args(sim, tmp_path) + jobs)
    wait_for_request(sim, "login")
    assert wait_until(lambda: waiting_for_a_fifo(process.pid, tmp_path / "a.cfg"))
    stdout, stderr = interrupt(process, within=2)
    assert_stopped_by_ctrl_c(front_end, process.returncode, stderr)


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


NAMES = "[default]\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n"
DETAILS = "[default]\nfilters = results\n[norvane]\naction = show_gateway\ngw_name = output(names.list)\n"

# Each failure names the file (a compound query's chain), what was being done
# and the host's kind of error: on one line natively, as the exception's note
# in the module, whose exception itself stays the host's.
WHERE_CASES = {
    "missing-key": (
        {"gateways.cfg": GATEWAYS.replace("gw_name", "vpc_id")}, {"body": {"return": True, "results": [{"gw_name": "a"}]}},
        'gateways.cfg: filters "results, vpc_id": step "vpc_id": KeyError: no key \'vpc_id\' in a result',
        "KeyError: 'vpc_id'", 'gateways.cfg: filters "results, vpc_id": step "vpc_id"'),
    "text-indexed": (
        {"gateways.cfg": GATEWAYS.replace("results, gw_name", "results, gw_name, x")}, {},
        'gateways.cfg: filters "results, gw_name, x": step "x": TypeError: cannot look up \'x\' in a result that is '
        "a text",
        "TypeError: string indices must be integers, not 'str'", 'gateways.cfg: filters "results, gw_name, x": step "x"'),
    "not-json": (
        {"gateways.cfg": GATEWAYS}, {"body": b"<html>bad gateway</html>", "status": 502, "content_type": "text/html"},
        "gateways.cfg: the answer of {url} (HTTP 502) is not JSON: Expecting value: line 1 column 1 (char 0)",
        ".JSONDecodeError: Expecting value: line 1 column 1 (char 0)",
        "gateways.cfg: the answer of {url} (HTTP 502) is not JSON"),
    "compound-chain": (
        {"details.cfg": DETAILS, "names.list": "no header\n"}, {},
        "details.cfg \u2192 names.list: MissingSectionHeaderError: File contains no section headers.",
        "configparser.MissingSectionHeaderError: File contains no section headers.", "details.cfg \u2192 names.list"),
    "compound-element": (
        {"details.cfg": DETAILS.replace("results\n", "results, uptime\n"), "names.list": NAMES}, {},
        'details.cfg: filters "results, uptime": step "uptime": KeyError: no key \'uptime\' in a result',
        "KeyError: 'uptime'", 'details.cfg: filters "results, uptime": step "uptime"'),
    "unreadable-file": (
        {"a.cfg": "no header\n"}, {},
        "a.cfg: MissingSectionHeaderError: File contains no section headers.",
        "configparser.MissingSectionHeaderError: File contains no section headers.", "a.cfg"),
}


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("case", WHERE_CASES)
def test_errors_say_where(sim, tmp_path, front_end, case):
    files, answer, native_line, host_error, note = WHERE_CASES[case]
    write_files(tmp_path, files)
    if answer:
        sim.script(action="list_gateways", **answer)
    if case == "compound-element":
        sim.script({"return": True, "results": [{"gw_name": "gw-a"}, {"gw_name": "gw-b"}]}, action="list_gateways")
        sim.script({"return": True, "results": {"uptime": 5}}, action="show_gateway")
        sim.script({"return": True, "results": [{"speed": 1}]}, action="show_gateway")
    done = subprocess.run(command(front_end) + secret_args(sim, tmp_path), capture_output=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    stderr = done.stderr.decode()
    assert done.returncode == 1, stderr
    assert SECRET not in stderr and SECRET.encode() not in done.stdout
    url = "https://%s/v1/api" % sim.address
    if front_end == "native":
        assert stderr.startswith("quillon: error: " + native_line.format(url=url)), stderr
    else:
        lines = stderr.splitlines()
        at = [i for i, line in enumerate(lines) if line.endswith(host_error)]
        assert at, stderr
        if note is not None:  # the note follows the exception's own lines
            assert note.format(url=url) in lines[at[-1] + 1:], stderr


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


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("case", ["error", "trace"])
def test_control_characters_in_a_file_name_never_reach_standard_error(sim, tmp_path, front_end, case):
    name = "evil\x1b]0;owned\x07\x1b[31m\n.cfg"
    write_files(tmp_path, {name: "no header\n" if case == "error" else GATEWAYS})
    done = subprocess.run(command(front_end) + secret_args(sim, tmp_path) + (["-v"] if case == "trace" else []),
                          capture_output=True, timeout=60, env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    assert done.returncode == (1 if case == "error" else 0), done.stderr
    assert b"\x1b" not in done.stderr and b"\x07" not in done.stderr, done.stderr
    assert b"evil\\x1b]0;owned\\x07\\x1b[31m\\n.cfg" in done.stderr, done.stderr
