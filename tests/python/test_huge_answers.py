"""Deep and huge answers through the native program: each works or fails
with a clear error, never a crash, with memory a small multiple of the input."""
import os
import resource
import subprocess

import pytest

from e2e import BUILD, command, login_args, write_files

WHOLE = "[default]\ndescription = huge\n[norvane]\naction = list_gateways\n"


def run_native(sim, tmp_path, body):
    write_files(tmp_path, {"a.cfg": WHOLE})
    sim.script(body, action="list_gateways")
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    done = subprocess.run(command("native") + login_args(sim, config_dir=tmp_path), capture_output=True, timeout=300)
    peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return done, (peak_kib if peak_kib > before else None)


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
    if peak_kib is not None:
        assert peak_kib * 1024 < 12 * len(body) + (64 << 20)


def test_a_100_mb_text_and_a_100000_digit_number(sim, tmp_path):
    text = "word " * (20 << 20)
    body = ('{"results": "%s", "n": %s}' % (text, "7" * 100000)).encode()
    done, peak_kib = run_native(sim, tmp_path, body)
    assert done.returncode == 0, done.stderr
    out = done.stdout
    assert out.startswith(b"huge\n{'n': " + b"7" * 100000 + b",\n 'results': 'word word")
    assert out.count(b"\n") > 500000  # the long text is cut into pieces at word ends
    if peak_kib is not None:
        assert peak_kib * 1024 < 6 * len(body) + (64 << 20)
