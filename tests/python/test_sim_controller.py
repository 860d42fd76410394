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
        time.sleep(0.6)
        with pytest.raises(requests.ConnectionError):
            post(sim, {}, timeout=2)


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
