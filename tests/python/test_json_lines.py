"""JSON lines (--json): each file's result as the host decodes and filters it,
prompts and refused logins kept off standard output, readable by jq."""
import json
import os
import pprint
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import host_reference
from conftest import SIM_USERS
from e2e import DEFAULT_CONFIG, FRONT_ENDS, GATEWAYS, JOBS, SECRET, login_args, run, run_detached, write_files
from sim_controller import SimController
from strategies import floats, integers, json_values, texts


@pytest.fixture(scope="module")
def long_lived_sim():
    with SimController(users=SIM_USERS, lifetime=900) as controller:
        yield controller


@pytest.fixture(scope="module")
def probe_dir():
    with tempfile.TemporaryDirectory() as directory:
        yield Path(directory)


KEYS = ["results", "a", "b", "é", "x y"]


scalars = st.one_of(st.none(), st.booleans(), integers, floats, texts(6),
                    st.sampled_from(["\ud800", "a\udfffb", "\u2028\x00\"\\", "\U0001F600"]))


values = json_values(scalars, st.sampled_from(KEYS), max_leaves=16)


answers = st.one_of(values, st.fixed_dictionaries(
    {"return": st.just(True), "results": st.lists(st.dictionaries(st.sampled_from(KEYS), values, max_size=4),
                                                 max_size=3)}))


expressions = st.one_of(st.sampled_from(KEYS),
                        st.lists(st.sampled_from(KEYS), min_size=2, max_size=3, unique=True).map(" & ".join))


def _host_run(body, filters):
    try:
        return host_reference.filter_results(json.loads(body), filters), None
    except Exception as error:  # the run ends with this error
        return None, type(error).__name__


@settings(max_examples=25, deadline=None)
@given(answers, st.lists(expressions, max_size=3), st.sampled_from(FRONT_ENDS), st.sampled_from([[], ["-j", "2"]]))
def test_json_lines_hold_what_the_host_decodes_and_filters(long_lived_sim, probe_dir, answer, filters, front_end,
                                                          jobs):
    sim = long_lived_sim
    body = json.dumps(answer).encode()  # NaN and Infinity as the host writes them
    filter_line = "filters = %s\n" % ", ".join(filters) if filters else ""
    write_files(probe_dir, {"p.cfg": "[default]\ndescription = generated\n" + filter_line + "[norvane]\naction = probe\n"})
    expected, failure = _host_run(body, filters)
    sim.clear_script()
    sim.script(body, action="probe", count=2)
    args = login_args(sim, config_dir=probe_dir) + jobs
    lines = run(front_end, args + ["--json"])
    text = run(front_end, args)
    assert lines.returncode == text.returncode == (1 if failure else 0), lines.stderr
    # Lines end at "\n" only: text may hold U+2028 and other line breaks unescaped, as JSON allows.
    line, end = lines.stdout.split(b"\n")
    got = json.loads(line)
    assert end == b""
    assert (got["file"], got["description"]) == ("p.cfg", "generated")
    if failure:
        assert got["error"]["kind"] == failure and text.stdout == b"generated\n"
        return
    # Member order counts too: compare what the host writes for each.
    assert json.dumps(got["result"]) == json.dumps(expected) and list(got) == ["file", "description", "result"]
    assert text.stdout.decode() == "generated\n" + pprint.PrettyPrinter(width=200).pformat(expected) + "\n\n\n"


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_json_keeps_prompts_and_refused_logins_off_standard_output(sim, tmp_path, front_end):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    sim.users["admin"] = SECRET
    with tempfile.TemporaryFile() as typed:
        typed.write(("%s\n%s\n" % (sim.address, SECRET)).encode())
        typed.seek(0)
        asked = run_detached(front_end, ["--json", "--config_dir", str(tmp_path)], {}, stdin=typed)
    assert asked.returncode == 0, asked.stderr
    assert [json.loads(line)["file"] for line in asked.stdout.split(b"\n")[:-1]] == ["a.cfg"]
    assert b"Enter Norvane Controller IP: " in asked.stderr and b"Enter Norvane Controller Password: " in asked.stderr
    refused = run(front_end, login_args(sim, password="wrong", config_dir=tmp_path) + ["--json"])
    assert (refused.returncode, refused.stderr) == (1, b"Login failed\n")
    assert json.loads(refused.stdout) == {"file": None, "description": None,
                                          "error": {"kind": "LoginFailed", "message": "Login failed"}}


@pytest.mark.skipif(shutil.which("jq") is None, reason="needs jq")
@pytest.mark.parametrize("jobs", JOBS)
def test_jq_reads_the_json_lines_of_the_demo_run(sim, jobs):
    done = run("native", login_args(sim, config_dir=DEFAULT_CONFIG) + ["--json"] + jobs)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.decode().split("\n")[:-1]
    assert [json.loads(line)["file"] for line in lines] == sorted(
        (name for name in os.listdir(DEFAULT_CONFIG) if name.endswith(".cfg")), key=os.listdir(DEFAULT_CONFIG).index)
    results = subprocess.run(["jq", "-c", ".result"], input=done.stdout, capture_output=True, timeout=30)
    assert results.returncode == 0, results.stderr
    assert [json.loads(r) for r in results.stdout.decode().splitlines()] == [json.loads(line)["result"] for line in lines]
