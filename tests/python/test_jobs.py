"""Parallel runs (--jobs) against the simulated controller: kept connections,
a login per query, the output in order, Ctrl-C stopping every worker."""
import random
import signal
import time

import pytest

from conftest import SIM_USERS
from e2e import (FRONT_ENDS, GATEWAYS, SECRET, assert_stopped_by_ctrl_c, login_args, run, run_reference,
                 secret_args, start, write_files)
from sim_controller import GATEWAYS as ESTATE


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_jobs_reuse_a_connection_per_worker_and_log_in_per_query(sim, tmp_path, front_end):
    write_files(tmp_path, {"g%02d.cfg" % i: GATEWAYS for i in range(12)})
    expected = run(front_end, secret_args(sim, tmp_path))
    start_at = len(sim.requests)
    got = run(front_end, secret_args(sim, tmp_path) + ["-j", "3"])
    assert (got.returncode, got.stdout) == (0, expected.stdout)
    login, *rest = sim.requests[start_at:]
    assert login["action"] == "login" and len(rest) == 24
    assert len({r["connection"] for r in rest}) <= 3 and login["connection"] not in {r["connection"] for r in rest}
    queries = [r for r in rest if r["action"] == "list_gateways"]
    assert len({dict(r["fields"])["CID"] for r in queries}) == 12  # each query with a CID of its own


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_jobs_complete_against_a_server_that_closes_after_every_answer(sim, tmp_path, front_end):
    write_files(tmp_path, {"g%02d.cfg" % i: GATEWAYS for i in range(10)})
    expected = run(front_end, secret_args(sim, tmp_path))
    sim.close_after_answer = True  # and says nothing of it: no "Connection: close"
    for jobs in ("1", "3"):
        start_at = len(sim.requests)
        got = run(front_end, secret_args(sim, tmp_path) + ["-j", jobs])
        assert (got.returncode, got.stdout) == (0, expected.stdout), got.stderr
        queries = [r for r in sim.requests[start_at:] if r["action"] == "list_gateways"]
        assert len(queries) == 10  # none sent twice


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_jobs_keep_the_element_order_of_compound_queries(sim, tmp_path, front_end):
    names = [g["gw_name"] for g in ESTATE] * 10
    random.Random(7).shuffle(names)
    write_files(tmp_path, {
        "details.cfg": "[default]\ndescription = details\nfilters = results, gw_name & software_version\n"
                       "[norvane]\naction = show_gateway\ngw_name = output(names.list)\n",
        "names.list": "[default]\nfilters = results\n[norvane]\naction = names\n"})
    sim.script({"return": True, "results": names}, action="names", count=2)
    expected = run_reference(sim.address, "admin", SIM_USERS["admin"], tmp_path)
    got = run(front_end, login_args(sim, config_dir=tmp_path) + ["--jobs", "8"])
    assert (got.returncode, got.stdout) == (0, expected.stdout)


@pytest.mark.parametrize("front_end", FRONT_ENDS)
def test_ctrl_c_stops_eight_workers_promptly(sim, tmp_path, front_end):
    write_files(tmp_path, {"h%02d.cfg" % i: GATEWAYS for i in range(12)})
    sim.script(mode="hang", action="list_gateways", count=100)
    process = start(front_end, secret_args(sim, tmp_path) + ["-j", "8"])
    assert sim.wait_for_request("list_gateways", count=8), sim.actions()
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    stdout, stderr = process.communicate(timeout=10)
    assert time.monotonic() - sent < 2
    assert_stopped_by_ctrl_c(front_end, process.returncode, stderr)
    assert stdout == b"" and SECRET.encode() not in stderr
    assert sim.actions().count("list_gateways") == 8  # no file started after the interrupt
