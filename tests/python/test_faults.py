"""Faults of the controller and of the output: clear errors naming the
controller, earlier output kept, Ctrl-C honoured, the password never shown."""
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

from e2e import BUILD, FRONT_ENDS, command, login_args, write_files

SECRET = "Zq-distinctive-4711"
GATEWAYS = "[default]\ndescription = gateways\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n"


def start(front_end, args, **kwargs):
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    return subprocess.Popen(command(front_end) + args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env, **kwargs)


def secret_args(sim, config_dir):
    sim.users["admin"] = SECRET
    return login_args(sim, password=SECRET, config_dir=config_dir)


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("fault", ["refused", "reset", "html500", "truncated", "not_tls"])
def test_controller_faults_are_clear_errors_after_earlier_output(sim, tmp_path, front_end, fault):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    args = secret_args(sim, tmp_path)
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
    deadline = time.monotonic() + 30
    while "list_gateways" not in sim.actions() and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.3)
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    stdout, stderr = process.communicate(timeout=10)
    assert time.monotonic() - sent < 3
    assert process.returncode in (130, -signal.SIGINT)
    assert stdout == b"gateways\n"
    assert SECRET.encode() not in stderr


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


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_password_never_appears_on_any_failure_path(sim, tmp_path, front_end):
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
        done = subprocess.run(command(front_end) + secret_args(sim, directory), capture_output=True, timeout=60,
                              env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
        assert done.returncode == 1, (name, done.stderr)
        assert SECRET.encode() not in done.stdout + done.stderr, name
