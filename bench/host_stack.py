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


def filter_results(results, filters):
    """Descent into one key, projection onto two or more; element-wise on arrays."""
    for expression in filters:
        keys = [k.strip() for k in expression.split("&")]
        if isinstance(results, list):
            if len(keys) > 1:
                results = [{k: (r[k] if k in r else "FILTER_NOT_FOUND") if isinstance(r, dict) else r[k]
                            for k in keys} for r in results]
            else:
                results = [r[keys[0]] for r in results]
        elif isinstance(results, dict):
            if len(keys) > 1:
                results = {k: results.get(k, "FILTER_NOT_FOUND") for k in keys}
            else:
                results = results.get(expression, "FILTER_NOT_FOUND")
        else:
            return None
    return results


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
