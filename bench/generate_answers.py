#!/usr/bin/env python3
"""Generates the controller answers the benchmark runs on, into bench/data/.

Every answer is {"return": true, "results": [...]}, the shape the controller
sends. The records look like inventory rows: a dozen keys of text (with some
non-ASCII and escaped characters), integers, integers beyond 64 bits, reals,
booleans, nulls, a small nested object and small arrays. Output is
deterministic (fixed seed), so runs on different days compare.

    python3 bench/generate_answers.py [--out bench/data] [--only NAME ...]

Files already present with the same generator version are kept.
"""
import argparse
import json
import random
import sys
from pathlib import Path

VERSION = 1
MB = 1_000_000

# The filters each answer is narrowed with: descend into "results", then keep
# eight of the record keys (a projection that keeps most of the text).
RECORD_FILTERS = ["results", "gw_name & vpc_id & account_id & uptime_hours & ha_enabled & peer & size & tags"]
LONG_TEXT_FILTERS = ["results", "gw_name & note & tags"]

WORDS = ["east", "west", "core", "edge", "lab", "prod", "transit", "spoke", "hub", "firenet", "egress",
         "ingress", "backup", "primary", "zürich", "münchen", "kraków", "東京", "서울", "são-paulo"]
STATES = ["up", "down", "degraded", "provisioning"]


def _text(rng, words):
    return "-".join(rng.choice(WORDS) for _ in range(words))


def record(rng, i):
    return {
        "gw_name": f"gw-{_text(rng, 2)}-{i}",
        "vpc_id": f"vpc-{rng.getrandbits(48):012x}",
        "account_name": _text(rng, 1),
        "account_id": rng.getrandbits(96),                      # beyond 64 bits
        "cloud_type": rng.choice([1, 4, 8, 16, 32]),
        "public_ip": f"{rng.randrange(1, 224)}.{rng.randrange(256)}.{rng.randrange(256)}.{rng.randrange(256)}",
        "state": rng.choice(STATES),
        "uptime_hours": round(rng.uniform(0, 50000), rng.randrange(1, 6)),
        "load": rng.choice([0.0, 1e-7, 2.5e21, rng.random()]),
        "ha_enabled": rng.random() < 0.5,
        "peer": None if rng.random() < 0.7 else f"gw-{_text(rng, 1)}",
        "size": {"cpu": rng.choice([1, 2, 4, 8]), "memory_gb": rng.choice([2, 4, 16, 64]), "disk": None},
        "tags": [_text(rng, 1) for _ in range(rng.randrange(0, 4))],
        "note": rng.choice(["", "line one\nline two", 'quoted "name"', "tab\there", "back\\slash",
                            "control \x01 char", "ümlaut & ß", "emoji \U0001F680 ok"]),
    }


def records_answer(rng, target_bytes):
    rows, size = [], 0
    while size < target_bytes:
        row = record(rng, len(rows))
        rows.append(row)
        size += len(json.dumps(row, ensure_ascii=False).encode()) + 2
    return {"return": True, "results": rows}


def deep_answer(rng, target_bytes, depth=64):
    """Records each holding a chain `depth` levels deep, objects and arrays alternating."""
    rows, size = [], 0
    while size < target_bytes:
        chain = {"leaf": _text(rng, 1), "value": rng.randrange(10 ** 6)}
        for level in range(depth):
            chain = [level, chain] if level % 2 else {"level": level, "next": chain}
        row = {"gw_name": f"gw-{len(rows)}", "state": rng.choice(STATES), "size": chain,
               "account_id": rng.getrandbits(80), "peer": None, "vpc_id": "vpc-deep", "uptime_hours": 1.5,
               "ha_enabled": True, "tags": ["deep"]}
        rows.append(row)
        size += len(json.dumps(row).encode()) + 2
    return {"return": True, "results": rows}


def long_text_answer(rng, target_bytes, text_bytes=200_000):
    """Few records with very long texts: sentences with spaces, escapes and non-ASCII."""
    sentence_words = WORDS + ["the", "route", "table", "was", "updated", "by", "policy", "\"quoted\"", "tab\t",
                              "newline\n", "ünïcödé"]
    rows, size = [], 0
    while size < target_bytes:
        words, length = [], 0
        while length < text_bytes:
            w = rng.choice(sentence_words)
            words.append(w)
            length += len(w) + 1
        row = record(rng, len(rows))
        row["note"] = " ".join(words)
        row["tags"] = [" ".join(rng.choice(sentence_words) for _ in range(400))]
        rows.append(row)
        size += len(json.dumps(row, ensure_ascii=False).encode()) + 2
    return {"return": True, "results": rows}


# name -> (builder, target size in bytes, non-ASCII escaped as \uXXXX, what it is)
# The filters for an answer: LONG_TEXT_FILTERS for long_text_*, else RECORD_FILTERS.
ANSWERS = {
    "records_1mb": (records_answer, 1 * MB, False, "records, 1 MB"),
    "records_10mb": (records_answer, 10 * MB, False, "records, 10 MB"),
    "records_100mb": (records_answer, 100 * MB, False, "records, 100 MB"),
    "deep_256kb": (deep_answer, MB // 4, False, "records nested 64 levels deep, 0.25 MB"),
    "long_text_10mb": (long_text_answer, 10 * MB, True, "records with 200 kB texts (escaped), 10 MB"),
}


def filters_for(name):
    return LONG_TEXT_FILTERS if name.startswith("long_text") else RECORD_FILTERS


def generate(out: Path, only=None):
    out.mkdir(parents=True, exist_ok=True)
    paths = {}
    for name, (builder, target, escaped, _) in ANSWERS.items():
        if only and name not in only:
            continue
        path = out / f"{name}.json"
        stamp = out / f"{name}.version"
        paths[name] = path
        if path.exists() and stamp.exists() and stamp.read_text().strip() == str(VERSION):
            continue
        rng = random.Random(f"{name}-{VERSION}")
        answer = builder(rng, target)
        text = json.dumps(answer, ensure_ascii=escaped)
        path.write_text(text, encoding="utf-8")
        stamp.write_text(str(VERSION))
        print(f"generated {path} ({path.stat().st_size / MB:.1f} MB)", file=sys.stderr)
    return paths


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=str(Path(__file__).resolve().parent / "data"))
    parser.add_argument("--only", nargs="*")
    args = parser.parse_args()
    for path in generate(Path(args.out), args.only).values():
        print(path)


if __name__ == "__main__":
    main()
