"""Deep and huge answers through the native program: each works or fails
with a clear error, never a crash, with memory a small multiple of the input."""
import gzip
import os
import resource
import subprocess
import sys
import tempfile

import pytest

from e2e import BUILD, command, login_args, write_files

WHOLE = "[default]\ndescription = huge\n[norvane]\naction = list_gateways\n"


# Starts the program from a small process: a child's peak memory counts the
# memory of the process it was forked from, here the test's own.
MEASURED = """import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[2], sys.argv[2:])
_, status, usage = os.wait4(pid, 0)
with open(sys.argv[1], "w") as peak:
    peak.write(str(usage.ru_maxrss))
sys.exit(os.waitstatus_to_exitcode(status) & 255)
"""


def run_native(sim, tmp_path, body, front_end="native", limit=None, options=(), **script):
    """The run and its own peak memory in KiB, measured for this child alone;
    `limit`: bytes of address space it may have."""
    write_files(tmp_path, {"a.cfg": WHOLE})
    sim.script(body, action="list_gateways", **script)
    args = command(front_end) + login_args(sim, config_dir=tmp_path) + list(options)
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    limited = (lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))) if limit else None
    peak = tmp_path / "peak-kib"
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run([sys.executable, "-c", MEASURED, str(peak)] + args, stdout=out, stderr=err, env=env,
                              preexec_fn=limited, timeout=300)
        out.seek(0)
        err.seek(0)
        done = subprocess.CompletedProcess(args, done.returncode, out.read(), err.read())
    return done, int(peak.read_text())


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


@pytest.mark.parametrize("front_end", ["native", "module"])
def test_an_announced_gigabyte_costs_memory_only_as_it_arrives(sim, tmp_path, front_end):
    # A few bytes of what is announced, then nothing until --max-time.
    done, peak_kib = run_native(sim, tmp_path, b'{"results": [1, 2', front_end, options=["--max-time", "2"],
                                headers={"Content-Length": str(1 << 30)}, mode="stall")
    assert done.returncode == 1 and b"--max-time 2 s" in done.stderr, done.stderr
    assert peak_kib < 200 * 1024, peak_kib


def gzip_bomb(mebibytes):
    """A small gzip body that decompresses to that many MiB of zeros. After a
    full flush the compressor starts afresh, so every further MiB is the same
    bytes; the trailer is left off, as the reader gives up long before it."""
    zeros = bytes(1 << 20)
    squeeze = gzip.zlib.compressobj(9, gzip.zlib.DEFLATED, 31)
    first = squeeze.compress(zeros) + squeeze.flush(gzip.zlib.Z_FULL_FLUSH)
    again = squeeze.compress(zeros) + squeeze.flush(gzip.zlib.Z_FULL_FLUSH)
    return first + again * (mebibytes - 1)


@pytest.mark.parametrize("front_end", ["native", "module"])
def test_running_out_of_memory_names_the_file(sim, tmp_path, front_end):
    bomb = gzip_bomb(2048)
    done, _ = run_native(sim, tmp_path, bomb, front_end, limit=1 << 30, headers={"Content-Encoding": "gzip"})
    stderr = done.stderr.decode()
    assert done.returncode == 1 and "out of memory" in stderr and "a.cfg" in stderr, stderr
    assert "bad_alloc" not in stderr and done.stdout == b"huge\n"
