"""Deep and huge answers through the native program: each works or fails
with a clear error, never a crash, with memory a small multiple of the input."""
import os
import subprocess
import tempfile
import threading

import pytest

from e2e import BUILD, command, login_args, write_files

WHOLE = "[default]\ndescription = huge\n[norvane]\naction = list_gateways\n"


def run_native(sim, tmp_path, body):
    """The run and its own peak memory in KiB, measured for this child alone."""
    write_files(tmp_path, {"a.cfg": WHOLE})
    sim.script(body, action="list_gateways")
    args = command("native") + login_args(sim, config_dir=tmp_path)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(args, stdout=out, stderr=err)
        watchdog = threading.Timer(300, process.kill)
        watchdog.start()
        try:
            _, status, usage = os.wait4(process.pid, 0)
        finally:
            watchdog.cancel()
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        done = subprocess.CompletedProcess(args, process.returncode, out.read(), err.read())
    return done, usage.ru_maxrss


def test_100000_levels_deep_is_a_clear_error(sim, tmp_path):
    done, _ = run_native(sim, tmp_path, b"[" * 100000 + b"]" * 100000)
    assert done.returncode == 1
    assert b"deep" in done.stderr.lower() and b"127.0.0.1" in done.stderr
    assert done.stdout == b"huge\n"


def test_a_million_keys_print_one_per_line_in_key_order(sim, tmp_path):
    body = ("{" + ", ".join('"k%07d": %d' % (i, i) for i in range(1000000)) + "}").encode()
    done, peak_kib = run_native(sim, tmp_path, body)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.split(b"\n")
    assert lines[1] == b"{'k0000000': 0," and lines[1000000] == b" 'k0999999': 999999}"
    assert peak_kib * 1024 < 12 * len(body) + (64 << 20)


def test_a_100_mb_text_and_a_100000_digit_number(sim, tmp_path):
    text = "word " * (20 << 20)
    body = ('{"results": "%s", "n": %s}' % (text, "7" * 100000)).encode()
    done, peak_kib = run_native(sim, tmp_path, body)
    assert done.returncode == 0, done.stderr
    out = done.stdout
    assert out.startswith(b"huge\n{'n': " + b"7" * 100000 + b",\n 'results': 'word word")
    assert out.count(b"\n") > 500000  # the long text is cut into pieces at word ends
    assert peak_kib * 1024 < 6 * len(body) + (64 << 20)
