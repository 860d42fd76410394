#!/usr/bin/env python3
"""The host stack's decode + filter + print of one answer, the reference the
native path is measured against: json.loads, a straightforward filter,
pprint.PrettyPrinter(width=200).pformat, written to standard output.

    python3 bench/host_stack.py ANSWER.json [FILTER ...]

Phase times (seconds) go to standard error as one JSON line.
"""
import json
import pprint
import sys
import threading
import time
from pathlib import Path

# The same straightforward host filter the end-to-end tests use as their oracle.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
from host_reference import filter_results  # noqa: E402


def run(path, filters):
    t0 = time.perf_counter()
    with open(path, "rb") as f:
        data = f.read()
    t1 = time.perf_counter()
    value = json.loads(data)
    t2 = time.perf_counter()
    value = filter_results(value, filters)
    t3 = time.perf_counter()
    text = pprint.PrettyPrinter(width=200).pformat(value)
    out = sys.stdout.buffer
    out.write(text.encode("utf-8", "surrogatepass"))
    out.write(b"\n")
    out.flush()
    t4 = time.perf_counter()
    phases = {"read": t1 - t0, "decode": t2 - t1, "filter": t3 - t2, "print": t4 - t3}
    print(json.dumps(phases), file=sys.stderr)


def main():
    # Deep answers need more than the default nesting allowance and stack.
    sys.setrecursionlimit(100_000)
    threading.stack_size(512 * 1024 * 1024)
    worker = threading.Thread(target=run, args=(sys.argv[1], sys.argv[2:]))
    worker.start()
    worker.join()


if __name__ == "__main__":
    main()
