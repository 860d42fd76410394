"""get_norvane_cid on the wire and on every kind of answer."""
import urllib.parse

import pytest

from conftest import SIM_USERS
from quillon import quillon


def login(sim, username="admin", password=None, address=None):
    password = SIM_USERS[username] if password is None else password
    return quillon.get_norvane_cid(sim.address if address is None else address, username, password)


@pytest.mark.parametrize("username, password", [
    ("admin", SIM_USERS["admin"]),           # & = + % and a space
    ("guest", ""),                           # an empty password is still sent
    ("ünïcødé", "pässwörd €/?#"),
])
def test_fields_in_order_and_encoded_like_the_host(sim, username, password):
    sim.users[username] = password
    cid = login(sim, username, password)
    assert cid == sim.cids[-1]
    request = sim.requests[-1]
    assert request["path"] == "/v1/api" and request["method"] == "POST"
    assert request["fields"] == [("action", "login"), ("username", username), ("password", password)]
    expected_body = urllib.parse.urlencode([("action", "login"), ("username", username), ("password", password)])
    assert request["body"] == expected_body.encode()
    assert request["headers"]["Content-Type"] == "application/x-www-form-urlencoded"


def test_address_is_used_verbatim(sim):
    login(sim, address=sim.address + "/")
    assert sim.requests[-1]["path"] == "//v1/api"
    with pytest.raises(ConnectionError):
        login(sim, address=" " + sim.address)
    with pytest.raises(ConnectionError) as error:
        login(sim, address="127.0.0.1:1")
    assert "127.0.0.1:1" in str(error.value)


# (answer, status, why on standard error): a refusal says nothing more; an
# answer that is no login answer says what it was.
@pytest.mark.parametrize("body, status, why", [
    ({"cid": "lower case"}, 200, None), ({"return": False}, 200, None), ([{"CID": "x"}], 200, None),
    (3, 200, None), ("CID", 200, "the answer of {url} (HTTP 200) is not JSON"),  # text is sent as it is
    (b"<html>500</html>", 500, "{url} answered HTTP 500"), ({"return": False}, 403, "{url} answered HTTP 403"),
    (b"", 200, "the answer of {url} (HTTP 200) is not JSON"),
    (b'{"CID": 1} junk', 200, "the answer of {url} (HTTP 200) is not JSON"),
])
def test_unusable_answers_print_login_failed_and_exit_1(sim, capsys, body, status, why):
    sim.script(body, status=status, action="login")
    with pytest.raises(SystemExit) as exit_:
        login(sim)
    assert exit_.value.code == 1
    printed = capsys.readouterr()
    assert printed.out == "Login failed\n"
    assert printed.err == ("" if why is None else "quillon: Login failed: " + why.format(url=sim.url) + "\n")


@pytest.mark.parametrize("cid", ["abc", None, 12, "", {"a": [1]}])
def test_any_cid_is_returned_unchanged_whatever_the_status(sim, cid):
    sim.script({"CID": cid, "other": 1}, status=500, action="login")
    assert login(sim) == cid


def test_password_never_appears_in_errors(sim):
    secret = "Zq-distinctive-4711"
    for address in ("127.0.0.1:1", " bad", ""):
        with pytest.raises(ConnectionError) as error:
            quillon.get_norvane_cid(address, "admin", secret)
        assert secret not in str(error.value)
