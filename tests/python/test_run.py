"""Whole runs of both front ends against the simulated controller, checked
byte for byte against the same run done by the host's own stack."""
import json
import os

import pytest

from conftest import SIM_USERS
from e2e import DEFAULT_CONFIG, FRONT_ENDS, JOBS, login_args, run, run_reference, wire_log, write_files

EDGE_FILES = {
    "a.cfg": "[default]\ndescription = listed gateways\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n",
    "b.CFG": "[default]\ndescription = wrong case: skipped\n[norvane]\naction = list_accounts\n",
    "c.cfg.bak": "[default]\ndescription = backup: skipped\n[norvane]\naction = list_accounts\n",
    "notes.txt": "not a configuration file\n",
    ".cfg": "[default]\ndescription = a name that is only the extension\nfilters = return\n[norvane]\naction = list_vpcs\n",
    "no-default.cfg": "[norvane]\naction = list_accounts\n",
    "Default.cfg": "[Default]\ndescription = wrong section case\n[norvane]\naction = list_accounts\n",
    "empty-description.cfg": "[default]\ndescription =\nfilters = results, account_name\n[norvane]\naction = list_accounts\n",
    "bad-percent.cfg": "[default]\ndescription = 100% sure\nDescription2 = x\n[norvane]\naction = list_accounts\n",
    "key-case.cfg": "[default]\nDESCRIPTION = key found in any case\nfilters = reason, x\n[norvane]\naction = list_accounts\n",
    "null.cfg": "[default]\ndescription = null result\nfilters = results, peer\n[norvane]\naction = list_gateways\n",
    "compound.cfg": "[default]\ndescription = compound\nfilters = results, gw_name & state\n"
                    "[norvane]\naction = show_gateway\ngw_name = output(names.list)\n",
    "names.list": "[default]\nfilters = results\n[norvane]\naction = list_gateway_names\n",
    "sub/deeper.cfg": "[default]\ndescription = in a subdirectory: not visited\n[norvane]\naction = list_accounts\n",
}


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_default_config_dir_matches_host(sim, front_end, jobs):
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], DEFAULT_CONFIG)
    assert expected.returncode == 0, expected.stderr
    got = run(front_end, login_args(sim) + jobs)  # no --config_dir: the directory beside the program
    assert got.returncode == 0, got.stderr
    assert got.stdout == expected.stdout
    assert b"Software version" in got.stdout


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_listing_descriptions_and_results_match_host(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, EDGE_FILES)
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], tmp_path)
    assert expected.returncode == 0, expected.stderr
    logins_before = sim.logins
    reference_wire = wire_log(sim)
    seen = len(sim.requests)
    got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
    assert got.returncode == 0, got.stderr
    assert got.stdout == expected.stdout
    # The same requests as the host's stack sends: in the same order and each on a connection
    # of its own when one at a time; with workers, the same set over a few kept connections.
    assert (wire_log(sim, seen) if not jobs else sorted(wire_log(sim, seen), key=repr)) == (
        reference_wire if not jobs else sorted(reference_wire, key=repr))
    connections = {r["connection"] for r in sim.requests[seen:]}
    if jobs:
        assert len(connections) <= 1 + 4  # the login up front, then one per worker
    else:
        assert len(connections) == len(sim.requests) - seen
    out = got.stdout.decode()
    assert "skipped" not in out and "not visited" not in out
    assert "\nNone\n\n\n" in out or out.startswith("None\n")
    # One login up front, one per visited file, one more for the compound query's referenced file.
    visited = sum(1 for name in EDGE_FILES if name.endswith(".cfg") and "/" not in name)
    assert sim.logins - logins_before == 1 + visited + 1


# Under a UTF-8 standard output the module hands results to the byte buffer beneath it; under
# any other the text layer encodes them as the host's print does, errors and all.
@pytest.mark.parametrize("encoding, text", [("utf-8", "\u00e9-\U0001F600-\ud800"),
                                            ("utf-8:surrogateescape", "\u00e9-\U0001F600-\ud800"),
                                            ("latin-1", "\u00e9-\ud800"),
                                            ("latin-1:backslashreplace", "\u00e9-\U0001F600")])
def test_module_results_reach_standard_output_as_the_hosts(sim, tmp_path, encoding, text):
    names = ["gw-%d-%s" % (i, text) for i in range(3000)]  # over 64 KiB printed
    sim.script({"return": True, "results": [{"gw_name": name} for name in names]}, action="list_gateways", count=2)
    write_files(tmp_path, {"a.cfg": EDGE_FILES["a.cfg"]})
    env = {"PYTHONIOENCODING": encoding}
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], tmp_path, env=env)
    got = run("module", login_args(sim, config_dir=tmp_path), env=env)
    assert (got.returncode, got.stdout) == (expected.returncode, expected.stdout), got.stderr[-300:]


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_empty_directory_logs_in_and_prints_nothing(sim, tmp_path, front_end, jobs):
    got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
    assert (got.returncode, got.stdout) == (0, b"")
    assert sim.actions() == ["login"]


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_an_error_ends_the_run_after_earlier_output(sim, tmp_path, front_end, jobs):
    # Two files; whichever the directory lists first, a broken file stops the run
    # and what was printed before it stays printed.
    write_files(tmp_path, {"good.cfg": EDGE_FILES["a.cfg"], "broken.cfg": "no section header\n"})
    got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
    assert got.returncode == 1
    assert b"broken.cfg" in got.stderr
    if os.listdir(tmp_path).index("good.cfg") == 0:
        assert got.stdout.startswith(b"listed gateways\n[")
    else:
        assert got.stdout == b""


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_refused_login_prints_login_failed_and_fails(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, {"a.cfg": EDGE_FILES["a.cfg"]})
    got = run(front_end, login_args(sim, password="wrong", config_dir=tmp_path) + jobs)
    assert (got.returncode, got.stdout) == (1, b"Login failed\n")
    assert sim.actions() == ["login"]


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_login_refused_inside_the_walk_keeps_earlier_output(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, {"a.cfg": EDGE_FILES["a.cfg"]})
    sim.script({"return": True, "CID": "up-front"}, action="login")
    sim.script({"return": False}, action="login")
    got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
    assert (got.returncode, got.stdout) == (1, b"listed gateways\nLogin failed\n")


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_prompts_for_address_and_missing_default_dir(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, {"a.cfg": EDGE_FILES["a.cfg"]})
    got = run(front_end, ["--password", SIM_USERS["admin"], "--config_dir", str(tmp_path)] + jobs, stdin=sim.address + "\n")
    assert got.returncode == 0, got.stderr
    assert got.stdout.startswith(b"Enter Norvane Controller IP: listed gateways\n")


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_usage_errors_and_help(front_end):
    got = run(front_end, ["--con", "x"])
    assert got.returncode == 2 and b"ambiguous option" in got.stderr and got.stdout == b""
    got = run(front_end, ["--help"])
    assert got.returncode == 0 and b"Quillon Automation" in got.stdout and b"--config_dir CONFIG_DIR" in got.stdout
    # Named as started: "python -m quillon", never "__main__.py".
    prog = b"quillon" if front_end == "native" else b"python -m quillon"
    assert got.stdout.startswith(b"usage: " + prog + b" [-h]")
    assert run(front_end, ["--bogus"]).stderr.startswith(b"usage: " + prog + b" [-h]")


GATEWAY_FILE = EDGE_FILES["a.cfg"]
MIDDLE_FAULTS = {
    "unreadable": "no section header\n",
    "not-json": GATEWAY_FILE.replace("list_gateways", "broken"),
    "filter-key": GATEWAY_FILE.replace("gw_name", "no_such_key"),
    "missing-reference": "[default]\ndescription = compound\n[norvane]\naction = show_gateway\n"
                         "gw_name = output(nowhere.list)\n",
}


@pytest.mark.parametrize("fault", MIDDLE_FAULTS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_a_failing_file_in_the_middle_ends_the_run_in_the_same_place_with_jobs(sim, tmp_path, front_end, fault):
    # Five files; the one the directory lists third fails, the two after it must not show.
    write_files(tmp_path, {"f%d.cfg" % i: GATEWAY_FILE.replace("listed", "file %d:" % i) for i in range(5)})
    write_files(tmp_path, {os.listdir(tmp_path)[2]: MIDDLE_FAULTS[fault]})
    sim.script(b"<html>500 Internal Server Error</html>", status=500, content_type="text/html", action="broken",
               count=10)
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], tmp_path)
    assert expected.returncode == 1 and expected.stdout.count(b"gateways\n") == 2 + (fault in ("not-json", "filter-key"))
    one_at_a_time = run(front_end, login_args(sim, config_dir=tmp_path))
    assert (one_at_a_time.returncode, one_at_a_time.stdout) == (1, expected.stdout)
    for jobs in (["--jobs", "4"], ["-j1"], ["-j", "8"]):
        got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
        assert (got.returncode, got.stdout, got.stderr) == (1, expected.stdout, one_at_a_time.stderr), jobs


@pytest.mark.parametrize("jobs", [[], ["-j1"]])
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_no_element_request_follows_a_failing_element(sim, tmp_path, front_end, jobs):
    write_files(tmp_path, {"compound.cfg": EDGE_FILES["compound.cfg"], "names.list": EDGE_FILES["names.list"]})
    sim.script(b"<html>500 Internal Server Error</html>", status=500, content_type="text/html",
               action="show_gateway", count=10)
    got = run(front_end, login_args(sim, config_dir=tmp_path) + jobs)
    assert got.returncode == 1 and b"not JSON" in got.stderr, got.stderr
    assert sim.actions().count("show_gateway") == 1


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("kind", ["FileNotFoundError", "NotADirectoryError"])
def test_a_config_dir_that_cannot_be_listed(sim, tmp_path, front_end, kind):
    # Logged in first, as the host's run does; then the host's error for the directory.
    config_dir = tmp_path / "missing"
    if kind == "NotADirectoryError":
        write_files(tmp_path, {"missing": EDGE_FILES["a.cfg"]})
    got = run(front_end, login_args(sim, config_dir=config_dir))
    assert (got.returncode, got.stdout) == (1, b""), got.stderr
    assert sim.actions() == ["login"]
    line = got.stderr.decode().splitlines()[-1]
    errno = 2 if kind == "FileNotFoundError" else 20
    message = "[Errno %d] %s: '%s'" % (errno, os.strerror(errno), config_dir)
    if front_end == "native":
        assert line == "quillon: error: %s: %s" % (kind, message)
    else:
        assert line == "%s: %s" % (kind, message)


# --- files as arguments, --save and --compare -----------------------------------

CHOSEN = {
    "a.cfg": EDGE_FILES["a.cfg"],
    "b.cfg": "[default]\ndescription = accounts\nfilters = results, account_name\n[norvane]\naction = list_accounts\n",
    "compound.cfg": EDGE_FILES["compound.cfg"],
    "names.list": EDGE_FILES["names.list"],
}


def chunks_by_description(stdout):
    """Each file's printed output (description, result, two empty lines), by its description."""
    return {chunk.split(b"\n", 1)[0]: chunk + b"\n\n\n" for chunk in stdout.split(b"\n\n\n")[:-1]}


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_files_as_arguments_run_in_the_order_given(sim, tmp_path, front_end, jobs):
    config = write_files(tmp_path / "config", CHOSEN)
    # Any name, found by its path (it holds a "/"); its reference still resolves in the configuration directory.
    elsewhere = write_files(tmp_path / "elsewhere", {
        "c.conf": CHOSEN["compound.cfg"].replace("description = compound", "description = compound elsewhere")})
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], config)
    assert expected.returncode == 0, expected.stderr
    chunk = chunks_by_description(expected.stdout)
    chunk[b"compound elsewhere"] = chunk[b"compound"].replace(b"compound\n", b"compound elsewhere\n", 1)
    files = ["b.cfg", str(elsewhere / "c.conf"), "a.cfg", "compound.cfg", "a.cfg"]
    seen = len(sim.requests)
    got = run(front_end, login_args(sim, config_dir=config) + jobs + files)
    assert got.returncode == 0, got.stderr
    assert got.stdout == b"".join(chunk[d] for d in [b"accounts", b"compound elsewhere", b"listed gateways",
                                                     b"compound", b"listed gateways"])
    # One login up front, one per file, one per reference run; names.list is not run on its own.
    assert sim.actions()[seen:].count("login") == 1 + 5 + 2
    lines = run(front_end, login_args(sim, config_dir=config) + jobs + ["--json"] + files).stdout.splitlines()
    assert [json.loads(line)["file"] for line in lines] == ["b.cfg", "c.conf", "a.cfg", "compound.cfg", "a.cfg"]


@pytest.mark.parametrize("args, message", [
    (["a.cfg", "missing.cfg"], "can't open 'missing.cfg': [Errno 2] No such file or directory: '{config}/missing.cfg'"),
    (["./missing.cfg"], "can't open './missing.cfg': [Errno 2] No such file or directory: './missing.cfg'"),
    (["sub"], "can't open 'sub': [Errno 21] Is a directory: '{config}/sub'"),
    (["--save", "out", "a.cfg", "{config}/sub/a.cfg"],
     "'a.cfg' and '{config}/sub/a.cfg' have the same saved result 'a.cfg.json'"),
])
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_a_file_that_cannot_run_ends_the_run_before_any_prompt_or_login(sim, tmp_path, front_end, args, message):
    config = write_files(tmp_path, {"a.cfg": CHOSEN["a.cfg"], "sub/a.cfg": CHOSEN["a.cfg"]})
    args = [arg.format(config=config) for arg in args]
    got = run(front_end, ["--controller_ip", sim.address, "--config_dir", str(config)] + args, cwd=tmp_path)
    assert (got.returncode, got.stdout, sim.requests) == (2, b"", [])
    assert got.stderr.startswith(b"usage: ")
    assert got.stderr.decode().endswith(": error: argument FILE: " + message.format(config=config) + "\n")
    assert not (tmp_path / "out").exists()


def saved(directory):
    return {path.name: path.read_text() for path in directory.iterdir()}


GATEWAY_STATES = "[default]\ndescription = states\nfilters = results, gw_name & state & vpc_id\n" \
                 "[norvane]\naction = list_gateways\n"
VPC_IDS = "[default]\ndescription = vpcs\nfilters = results, vpc_id & name\n[norvane]\naction = list_vpcs\n"


def changed_controller(sim, runs):
    """For the next `runs` runs: one gateway changed, one added, one gone; the VPCs reordered."""
    gateways = [{"gw_name": "gw-east-1", "state": "up", "vpc_id": "vpc-0a1"},
                {"gw_name": "gw-west-1", "state": "up", "vpc_id": "vpc-0b2"},
                {"gw_name": "gw-lab-1", "state": "up", "vpc_id": "vpc-0c3"},
                {"gw_name": "gw-new", "state": "up", "vpc_id": "vpc-0c3"}]
    sim.script({"return": True, "results": gateways}, action="list_gateways", count=runs)
    vpcs = [{"vpc_id": "vpc-0c3", "name": "lab-net"}, {"vpc_id": "vpc-0b2", "name": "west-edge"},
            {"vpc_id": "vpc-0a1", "name": "east-core"}]
    sim.script({"return": True, "results": vpcs}, action="list_vpcs", count=runs)


DIFFERENCES = (b"gateways.cfg: [1].state: 'down' -> 'up'\n"
               b"gateways.cfg: + [3]: {'gw_name': 'gw-new', 'state': 'up', 'vpc_id': 'vpc-0c3'}\n"
               b"gateways.cfg: - [1]\n")
DIFFERENCE_LINES = [
    {"file": "gateways.cfg", "change": "changed", "path": [1, "state"], "before": "down", "after": "up"},
    {"file": "gateways.cfg", "change": "added", "path": [3],
     "after": {"gw_name": "gw-new", "state": "up", "vpc_id": "vpc-0c3"}},
    {"file": "gateways.cfg", "change": "removed", "path": [1],
     "before": {"gw_name": "gw-east-2", "state": "up", "vpc_id": "vpc-0a1"}},
]


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_save_then_compare_reports_what_changed(sim, tmp_path, front_end, jobs):
    config = write_files(tmp_path / "config", {"gateways.cfg": GATEWAY_STATES, "vpcs.cfg": VPC_IDS,
                                               "accounts.cfg": CHOSEN["b.cfg"]})
    store = tmp_path / "runs" / "saved"  # made, parents too
    args = login_args(sim, config_dir=config) + jobs
    plain = run(front_end, args)
    got = run(front_end, args + ["--save", str(store)])
    assert (got.returncode, got.stdout, got.stderr) == (0, plain.stdout, b"")
    # What --json gives as each result, sorted, indented, as the host's json.dumps writes it.
    lines = [json.loads(line) for line in run(front_end, args + ["--json"]).stdout.splitlines()]
    results = {line["file"]: line["result"] for line in lines}
    assert saved(store) == {name + ".json": json.dumps(result, indent=2, sort_keys=True, ensure_ascii=False) + "\n"
                            for name, result in results.items()}
    # Nothing changed: nothing printed, status 0.
    got = run(front_end, args + ["--compare", str(store)])
    assert (got.returncode, got.stdout, got.stderr) == (0, b"", b"")
    changed_controller(sim, runs=4)
    got = run(front_end, args + ["--compare", str(store)])
    assert (got.returncode, got.stdout, got.stderr) == (3, DIFFERENCES, b"")
    got = run(front_end, args + ["--compare", str(store), "--json"])
    assert got.returncode == 3 and [json.loads(line) for line in got.stdout.splitlines()] == DIFFERENCE_LINES
    # Compared, then replaced: the next run against the same controller finds nothing.
    got = run(front_end, args + ["--compare", str(store), "--save", str(store), "gateways.cfg"])
    assert (got.returncode, got.stdout) == (3, DIFFERENCES)
    got = run(front_end, args + ["--compare", str(store), "gateways.cfg"])
    assert (got.returncode, got.stdout) == (0, b"")
    # A file never saved counts as a difference.
    write_files(config, {"new.cfg": CHOSEN["b.cfg"]})
    got = run(front_end, args + ["--compare", str(store), "new.cfg", "accounts.cfg"])
    assert (got.returncode, got.stdout) == (3, b"new.cfg: no saved result\n")
    # A saved result that is not JSON is an error that names it.
    (store / "accounts.cfg.json").write_text("{")
    got = run(front_end, args + ["--compare", str(store), "accounts.cfg"])
    assert got.returncode == 1 and b"saved/accounts.cfg.json is not JSON" in got.stderr, got.stderr
