"""Errors in whole runs: the controller's faults and refused logins are clear
errors naming the controller, each failure says where, earlier output is kept
and nothing from outside reaches the terminal unescaped."""
import json
import os
import socket
import subprocess
import threading

import pytest

from e2e import BUILD, FRONT_ENDS, GATEWAYS, JOBS, SCRIPTED_CID, SECRET, command, run, secret_args, write_files


@pytest.mark.parametrize("jobs", JOBS)
@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("fault", ["refused", "reset", "html500", "truncated", "not_tls"])
def test_controller_faults_are_clear_errors_after_earlier_output(sim, tmp_path, front_end, fault, jobs):
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    args = secret_args(sim, tmp_path) + jobs
    if fault == "refused":
        args[1] = "127.0.0.1:1"
    elif fault == "not_tls":
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen()

        def answer_in_plain_text():
            conn, _ = listener.accept()
            conn.sendall(b"HTTP/1.1 200 OK\r\n\r\nnot tls at all")
            conn.close()
        threading.Thread(target=answer_in_plain_text, daemon=True).start()
        args[1] = "127.0.0.1:%d" % listener.getsockname()[1]
    elif fault == "reset":
        sim.script(mode="close", action="list_gateways")
    elif fault == "html500":
        sim.script(b"<html><body>500 Internal Server Error</body></html>", status=500,
                   content_type="text/html", action="list_gateways")
    elif fault == "truncated":
        sim.script(b'{"return": true, "results": [{"gw_name": "gw-ea', action="list_gateways")
    done = subprocess.run(command(front_end) + args, capture_output=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    assert done.returncode == 1
    stderr = done.stderr.decode()
    assert SECRET not in stderr and SECRET.encode() not in done.stdout
    # Whatever happened to it, the query went out once: it may change state on the controller.
    assert sim.actions().count("list_gateways") <= 1
    if fault in ("refused", "not_tls"):
        assert args[1] in stderr and done.stdout == b""
    else:
        # The description was printed before the query failed, and stays printed.
        assert done.stdout == b"gateways\n"
        assert args[1] in stderr


NAMES = "[default]\nfilters = results, gw_name\n[norvane]\naction = list_gateways\n"


DETAILS = "[default]\nfilters = results\n[norvane]\naction = show_gateway\ngw_name = output(names.list)\n"


# Each failure names the file (a compound query's chain), what was being done
# and the host's kind of error: on one line natively, as the exception's note
# in the module, whose exception itself stays the host's.
WHERE_CASES = {
    "missing-key": (
        {"gateways.cfg": GATEWAYS.replace("gw_name", "vpc_id")}, {"body": {"return": True, "results": [{"gw_name": "a"}]}},
        'gateways.cfg: filters "results, vpc_id": step "vpc_id": KeyError: no key \'vpc_id\' in a result',
        "KeyError: 'vpc_id'", 'gateways.cfg: filters "results, vpc_id": step "vpc_id"'),
    "text-indexed": (
        {"gateways.cfg": GATEWAYS.replace("results, gw_name", "results, gw_name, x")}, {},
        'gateways.cfg: filters "results, gw_name, x": step "x": TypeError: cannot look up \'x\' in a result that is '
        "a text",
        "TypeError: string indices must be integers, not 'str'", 'gateways.cfg: filters "results, gw_name, x": step "x"'),
    "not-json": (
        {"gateways.cfg": GATEWAYS}, {"body": b"<html>bad gateway</html>", "status": 502, "content_type": "text/html"},
        "gateways.cfg: the answer of {url} (HTTP 502) is not JSON: Expecting value: line 1 column 1 (char 0)",
        ".JSONDecodeError: Expecting value: line 1 column 1 (char 0)",
        "gateways.cfg: the answer of {url} (HTTP 502) is not JSON"),
    "compound-chain": (
        {"details.cfg": DETAILS, "names.list": "no header\n"}, {},
        "details.cfg \u2192 names.list: MissingSectionHeaderError: File contains no section headers.",
        "configparser.MissingSectionHeaderError: File contains no section headers.", "details.cfg \u2192 names.list"),
    "compound-element": (
        {"details.cfg": DETAILS.replace("results\n", "results, uptime\n"), "names.list": NAMES}, {},
        'details.cfg: filters "results, uptime": step "uptime": KeyError: no key \'uptime\' in a result',
        "KeyError: 'uptime'", 'details.cfg: filters "results, uptime": step "uptime"'),
    "unreadable-file": (
        {"a.cfg": "no header\n"}, {},
        "a.cfg: MissingSectionHeaderError: File contains no section headers.",
        "configparser.MissingSectionHeaderError: File contains no section headers.", "a.cfg"),
}


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("case", WHERE_CASES)
def test_errors_say_where(sim, tmp_path, front_end, case):
    files, answer, native_line, host_error, note = WHERE_CASES[case]
    write_files(tmp_path, files)
    if answer:
        sim.script(action="list_gateways", **answer)
    if case == "compound-element":
        sim.script({"return": True, "results": [{"gw_name": "gw-a"}, {"gw_name": "gw-b"}]}, action="list_gateways")
        sim.script({"return": True, "results": {"uptime": 5}}, action="show_gateway")
        sim.script({"return": True, "results": [{"speed": 1}]}, action="show_gateway")
    done = subprocess.run(command(front_end) + secret_args(sim, tmp_path), capture_output=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    stderr = done.stderr.decode()
    assert done.returncode == 1, stderr
    assert SECRET not in stderr and SECRET.encode() not in done.stdout
    url = "https://%s/v1/api" % sim.address
    if front_end == "native":
        assert stderr.startswith("quillon: error: " + native_line.format(url=url)), stderr
    else:
        lines = stderr.splitlines()
        at = [i for i, line in enumerate(lines) if line.endswith(host_error)]
        assert at, stderr
        if note is not None:  # the note follows the exception's own lines
            assert note.format(url=url) in lines[at[-1] + 1:], stderr


# A refused login's answer: (what the controller or a proxy answered, what standard error says besides).
LOGIN_FAILURES = {
    "bad-gateway": (dict(body=b"<html>bad gateway</html>", status=502, content_type="text/html"), "answered HTTP 502"),
    "not-found": (dict(body=b'{"error": "no such page"}', status=404), "answered HTTP 404"),
    "too-large": (dict(body=b"", status=413), "answered HTTP 413"),
    "not-json": (dict(body=b"<html>welcome</html>", status=200, content_type="text/html"), "(HTTP 200) is not JSON"),
    "wrong-password": (dict(body={"return": False, "reason": "invalid username or password"}), None),
}


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("case", LOGIN_FAILURES)
@pytest.mark.parametrize("where", ["first-login", "in-walk"])
def test_a_refused_login_says_why_on_standard_error(sim, tmp_path, front_end, case, where):
    answer, said = LOGIN_FAILURES[case]
    write_files(tmp_path, {"a.cfg": GATEWAYS})
    if where == "in-walk":
        sim.script(body={"return": True, "CID": SCRIPTED_CID}, action="login")
    sim.script(action="login", **answer)
    done = run(front_end, secret_args(sim, tmp_path))
    stdout = b"Login failed\n" if where == "first-login" else b"gateways\nLogin failed\n"
    assert (done.returncode, done.stdout) == (1, stdout)
    expected = [] if said is None else ["quillon: Login failed: %s %s" % (
        "the answer of " + sim.url if "JSON" in said else sim.url, said)]
    assert done.stderr.decode().splitlines() == expected
    if where == "first-login":
        sim.script(action="login", **answer)
        lines = run(front_end, secret_args(sim, tmp_path) + ["--json"])
        assert lines.returncode == 1
        message = json.loads(lines.stdout)["error"]["message"]
        assert message == "Login failed" if said is None else expected[0].endswith(message), message


@pytest.mark.parametrize("front_end", FRONT_ENDS)
@pytest.mark.parametrize("case", ["error", "trace"])
def test_control_characters_in_a_file_name_never_reach_standard_error(sim, tmp_path, front_end, case):
    name = "evil\x1b]0;owned\x07\x1b[31m\n.cfg"
    write_files(tmp_path, {name: "no header\n" if case == "error" else GATEWAYS})
    done = subprocess.run(command(front_end) + secret_args(sim, tmp_path) + (["-v"] if case == "trace" else []),
                          capture_output=True, timeout=60, env=dict(os.environ, PYTHONPATH=str(BUILD / "python")))
    assert done.returncode == (1 if case == "error" else 0), done.stderr
    assert b"\x1b" not in done.stderr and b"\x07" not in done.stderr, done.stderr
    assert b"evil\\x1b]0;owned\\x07\\x1b[31m\\n.cfg" in done.stderr, done.stderr
