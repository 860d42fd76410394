"""Every error and trace example in the README is what the native program
prints: each example's lines are found in the README as written, and the same
command, run against the simulated controller standing in for 10.0.0.5,
prints them (times and sizes aside, and with long waits shortened)."""
import re
import shutil

import pytest

from conftest import BUILD, ROOT, SIM_USERS
from e2e import run, write_files

README = (ROOT / "README.md").read_text()
CONFIG = ROOT / "src" / "quillon" / "config"
GATEWAYS = [{"gw_name": f"gw-{n}", "vpc_id": "vpc-0a1", "state": "up"} for n in ("east-1", "east-2", "west-1",
                                                                                    "west-2", "south-1")]


def example(lines):
    """The README's lines, checked to be there as written, one after the other."""
    assert "\n".join(lines) in README, lines
    return lines


def quillon(sim, tmp_path, command, files=(), config_dir=None, shorten=()):
    """`command` as the README writes it (after "quillon"), against `sim`: its
    output lines, with the sim's address written back as 10.0.0.5."""
    for long, short in shorten:
        command = command.replace(long, short)
    args = command.replace("10.0.0.5", sim.address).split()
    args += ["--password=" + SIM_USERS["admin"], "--config_dir", str(config_dir or CONFIG), *files]
    done = run("native", args, cwd=tmp_path)
    text = (done.stdout + done.stderr).decode()
    for long, short in shorten:
        text = text.replace(short, long)
    text = text.replace(sim.address + "/", "10.0.0.5/").replace(sim.address, "10.0.0.5:443")
    return done.returncode, text.splitlines()


def test_time_limit(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 --connect-timeout 5 --max-time 30",
                     "quillon: error: gateways.cfg: ConnectionError: No complete answer from "
                     "https://10.0.0.5/v1/api within --max-time 30 s"])
    sim.script(b'{"results": [', action="list_gateways", mode="stall", headers={"Content-Length": "1000"})
    status, out = quillon(sim, tmp_path, lines[0][10:], ["gateways.cfg"], shorten=[("--max-time 30", "--max-time 1")])
    assert status == 1 and out[-1] == lines[1], out


def test_retries_that_run_out(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 --retry 2 --retry-delay 2",
                     "quillon: gateways.cfg: HTTP 503; retrying in 2 s (retry 1 of 2)",
                     "quillon: gateways.cfg: HTTP 503; retrying in 2 s (retry 2 of 2)",
                     "quillon: error: gateways.cfg: ConnectionError: HTTP 503 from https://10.0.0.5/v1/api "
                     "after 3 tries"])
    sim.script(b"busy", status=503, content_type="text/plain", action="list_gateways", count=3)
    status, out = quillon(sim, tmp_path, lines[0][10:], ["gateways.cfg"], shorten=[("in 2 s", "in 0.1 s"),
                                                                                    ("delay 2", "delay 0.1")])
    assert status == 1 and out[-3:] == lines[1:], out


def test_certificate_checks(sim, tmp_path):
    refused = example(["quillon: error: ConnectionError: the certificate of 10.0.0.5:443 was not accepted: ..."])
    status, out = quillon(sim, tmp_path, "--controller_ip 10.0.0.5 --verify")
    assert status == 1 and out[-1].startswith(refused[0][:-3]), out
    lines = example(["$ quillon --controller_ip 10.0.0.5 --cacert /etc/ssl/our-ca.pem",
                     "quillon: error: ConnectionError: Cannot use the CA certificates in /etc/ssl/our-ca.pem: "
                     "No such file or directory"])
    status, out = quillon(sim, tmp_path, lines[0][10:])
    assert status == 1 and out == lines[1:] and not sim.requests, out


def test_answer_over_the_size_limit(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 --max-filesize 50000000",
                     "quillon: error: gateways.cfg: ConnectionError: The answer of https://10.0.0.5/v1/api is over "
                     "--max-filesize 50000000 bytes"])
    sim.script({"results": ["x" * 2000]}, action="list_gateways")
    status, out = quillon(sim, tmp_path, lines[0][10:], ["gateways.cfg"], shorten=[("--max-filesize 50000000", "--max-filesize 1000")])
    assert status == 1 and out[-1] == lines[1], out


def test_request_trace(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 -v"])
    start = README.index(lines[0]) + len(lines[0]) + 1
    trace = README[start:README.index("```", start)].splitlines()
    sim.script({"return": True, "results": GATEWAYS}, action="list_gateways")
    status, out = quillon(sim, tmp_path, lines[0][10:], ["gateways.cfg"])

    def shape(line):
        return re.sub(r"\d+(\.\d+)?", "N", line)

    assert status == 0 and [shape(line) for line in out if re.match(r"\[\d", line)] == list(map(shape, trace)), out


def test_a_file_that_is_not_there(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 gatways.cfg", "usage: quillon [-h] ...",
                     "quillon: error: argument FILE: can't open 'gatways.cfg': [Errno 2] No such file or directory: "
                     "'/usr/local/lib/quillon/config/gatways.cfg'"])
    installed = BUILD / "bin" / "config"
    status, out = quillon(sim, tmp_path, lines[0][10:], config_dir=installed)
    out = [line.replace(str(installed) + "/", "/usr/local/lib/quillon/config/") for line in out]
    assert status == 2 and out[0].startswith("usage: quillon [-h] ") and out[-1] == lines[2], out


def test_what_changed_since_the_saved_run(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5 --save /var/lib/quillon/good       # keep today's results",
                     "$ quillon --controller_ip 10.0.0.5 --compare /var/lib/quillon/good    # tomorrow: what changed?",
                     "gateways.cfg: [2].state: 'up' -> 'down'",
                     "gateways.cfg: + [4]: {'gw_name': 'gw-new', 'state': 'up', 'vpc_id': 'vpc-0c3'}",
                     "gateways.cfg: - [1]",
                     "vpcs.cfg: no saved result",
                     "$ echo $?",
                     "3"])
    configs = tmp_path / "config"
    configs.mkdir()
    for name in ("gateways.cfg", "vpcs.cfg"):
        shutil.copy(CONFIG / name, configs / name)
    files = ["gateways.cfg", "vpcs.cfg"]
    good = tmp_path / "good"
    save = lines[0][10:].split("#")[0].replace("/var/lib/quillon/good", str(good))
    compare = lines[1][10:].split("#")[0].replace("/var/lib/quillon/good", str(good))
    sim.script({"return": True, "results": GATEWAYS}, action="list_gateways")
    assert quillon(sim, tmp_path, save, files, configs)[0] == 0
    (good / "vpcs.cfg.json").unlink()
    today = [GATEWAYS[0], GATEWAYS[2], dict(GATEWAYS[3], state="down"), GATEWAYS[4],
             {"gw_name": "gw-new", "vpc_id": "vpc-0c3", "state": "up"}]
    sim.script({"return": True, "results": today}, action="list_gateways")
    status, out = quillon(sim, tmp_path, compare, files, configs)
    assert (out, status) == (lines[2:6], int(lines[7]))


def test_a_login_answered_by_a_proxy(sim, tmp_path):
    lines = example(["$ quillon --controller_ip 10.0.0.5", "Login failed",
                     "quillon: Login failed: https://10.0.0.5/v1/api answered HTTP 502"])
    sim.script(b"<html>Bad Gateway</html>", status=502, content_type="text/html", action="login")
    assert quillon(sim, tmp_path, lines[0][10:]) == (1, lines[1:])


def test_a_redirect_that_leaves_https(sim, tmp_path):
    lines = example(["quillon: error: ConnectionError: Refused to follow the redirect from https://10.0.0.5/v1/api "
                     "to http://10.0.0.9/v1/api: it leaves https for plain http"])
    sim.redirect(307, location="http://10.0.0.9/v1/api", action="login")
    status, out = quillon(sim, tmp_path, "--controller_ip 10.0.0.5")
    assert status == 1 and out[-1] == lines[0], out
