"""The simulated controller answers like a controller and logs what it got."""
import time

import pytest
import requests
import urllib3  # noqa: F401 - the warning filter names its class

from conftest import SIM_USERS, sim_login
from sim_controller import SimController

pytestmark = pytest.mark.filterwarnings("ignore::urllib3.exceptions.InsecureRequestWarning")


def post(sim, data, path="/v1/api", **kw):
    kw.setdefault("verify", False)
    return requests.post(f"https://{sim.address}{path}", data=data, **kw)


@pytest.mark.parametrize("user,password,ok", [
    ("admin", SIM_USERS["admin"], True),
    ("guest", "", True),
    ("admin", "wrong", False),
    ("nobody", "x", False),
])
def test_login(sim, user, password, ok):
    answer = post(sim, {"action": "login", "username": user, "password": password}).json()
    assert ("CID" in answer) == ok and answer["return"] == ok
    assert sim.logins == 1
    assert sim.requests[0]["fields"] == [("action", "login"), ("username", user), ("password", password)]


def test_queries_need_an_issued_cid(sim):
    assert post(sim, {"CID": "forged", "action": "list_accounts"}).json()["return"] is False
    cid = sim_login(sim)
    assert post(sim, {"CID": cid, "action": "list_accounts"}).json()["return"] is True
    gateway = post(sim, {"CID": cid, "action": "show_gateway", "gw_name": "gw-west-1"}).json()["results"]
    assert gateway["gw_name"] == "gw-west-1" and "interfaces" in gateway
    sim.refuse_logins = True
    assert "CID" not in post(sim, {"action": "login", "username": "admin",
                                   "password": SIM_USERS["admin"]}).json()


def test_log_keeps_raw_path_method_order_and_duplicates(sim):
    requests.put(f"https://{sim.address}//v1/api", data=[("b", "2"), ("a", ""), ("b", "1")], verify=False)
    entry = sim.requests[-1]
    assert (entry["path"], entry["method"]) == ("//v1/api", "PUT")
    assert entry["fields"] == [("b", "2"), ("a", ""), ("b", "1")]
    assert entry["body"] == b"b=2&a=&b=1"


def test_scripted_answers(sim):
    sim.script(body=b"<html>oops</html>", status=502, content_type="text/html", action="login")
    sim.script(body={"return": True}, count=2)
    first = post(sim, {"action": "list_accounts"})  # not a login: the second script applies
    login = post(sim, {"action": "login", "username": "admin", "password": SIM_USERS["admin"]})
    assert (first.status_code, first.json()) == (200, {"return": True})
    assert (login.status_code, login.content) == (502, b"<html>oops</html>")
    assert post(sim, {}).json() == {"return": True}
    assert post(sim, {}).json()["return"] is False  # script used up: canned answers again
    sim.script(mode="close")
    with pytest.raises(requests.ConnectionError):
        post(sim, {})
    sim.script(mode="hang")
    with pytest.raises(requests.Timeout):
        post(sim, {}, timeout=0.3)


def test_stops_by_itself():
    with SimController(lifetime=0.3) as sim:
        sim.wait()
        with pytest.raises(requests.ConnectionError):
            post(sim, {}, timeout=2)


def test_held_answers_wait_for_release_and_arrivals_can_be_awaited(sim):
    from concurrent.futures import ThreadPoolExecutor

    sim.script(body={"return": True, "held": 1}, mode="hold", count=2)
    with ThreadPoolExecutor(2) as pool:
        answers = [pool.submit(post, sim, {"action": "a%d" % i}, timeout=30) for i in range(2)]
        assert sim.wait_for_request("a0") and sim.wait_for_request("a1")
        assert not any(answer.done() for answer in answers)
        sim.release()
        assert [answer.result().json() for answer in answers] == [{"return": True, "held": 1}] * 2
    assert not sim.wait_for_request("a0", count=2, timeout=0.1)
    # A request still held when the server stops gets no answer.
    with SimController() as other, ThreadPoolExecutor(1) as pool:
        other.script(mode="hold")
        answer = pool.submit(post, other, {"action": "held"}, timeout=30)
        assert other.wait_for_request("held")
        other.stop()
        with pytest.raises(requests.ConnectionError):
            answer.result()


def test_certificate_chain_reset_and_redirects(sim):
    from sim_controller import other_ca_file

    assert post(sim, {"action": "login", "username": "guest", "password": ""}, verify=sim.ca_file).ok
    with pytest.raises(requests.exceptions.SSLError):
        requests.post(sim.url, data={}, verify=other_ca_file())
    sim.script(body=b"x" * 1000, mode="reset")
    with pytest.raises(requests.exceptions.ChunkedEncodingError):  # headers came, then half the body
        post(sim, {})
    sim.redirect(307, location="/v1/next")
    answer = post(sim, {"a": "b"})
    assert [(r["method"], r["path"], r["body"]) for r in sim.requests[-2:]] == [
        ("POST", "/v1/api", b"a=b"), ("POST", "/v1/next", b"a=b")]
    assert [r.status_code for r in answer.history] == [307]


def _timed_logins(url, count):
    """Posts `count` logins at once, each on its own connection: (seconds each, seconds in all)."""
    from concurrent.futures import ThreadPoolExecutor

    def one(_):
        start = time.perf_counter()
        answer = requests.post(url, data={"action": "login", "username": "admin", "password": SIM_USERS["admin"]},
                               verify=False, timeout=20)
        return time.perf_counter() - start, answer.json()

    start = time.perf_counter()
    with ThreadPoolExecutor(count) as pool:
        results = list(pool.map(one, range(count)))
    return results, time.perf_counter() - start


def test_delay_holds_every_answer_back_without_serialising_them():
    with SimController(users=SIM_USERS, lifetime=60, delay=1.0) as sim:
        results, total = _timed_logins(sim.url, 6)
        assert all(seconds >= 1.0 and "CID" in answer for seconds, answer in results)
        # Side by side, not one after another (that would be 6 s); the margin
        # is for a loaded machine, where six handshakes alone can take a second.
        assert total < 4.0
        sim.delay = 0.4
        sim.script(body={"return": True}, status=503)
        start = time.perf_counter()
        assert post(sim, {}).status_code == 503  # scripted answers wait too
        assert time.perf_counter() - start >= 0.4


def test_delay_option_of_the_program():
    import subprocess
    import sys
    from pathlib import Path

    script = Path(__file__).resolve().parents[2] / "tools" / "sim_controller.py"
    proc = subprocess.Popen([sys.executable, str(script), "--print-address", "--lifetime", "60", "--delay", "0.3",
                             "--user", f"admin:{SIM_USERS['admin']}"], stdout=subprocess.PIPE, text=True)
    try:
        address = proc.stdout.readline().strip()
        results, _ = _timed_logins(f"https://{address}/v1/api", 2)
        assert all(seconds >= 0.3 and "CID" in answer for seconds, answer in results)
    finally:
        proc.terminate()
        proc.wait(timeout=10)
    refused = subprocess.run([sys.executable, str(script), "--delay", "-1"], capture_output=True, text=True)
    assert refused.returncode == 2 and "--delay" in refused.stderr
