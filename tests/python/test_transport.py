"""The HTTPS transport against the simulated controller: what reaches the wire."""
import contextlib
import email.utils
import gzip
import json
import socket
import struct
import time

import pytest
from sim_controller import other_ca_file

from quillon import _core

LOGIN = [("action", "login"), ("username", "ad min&=+%é中"), ("password", "")]


def post_form(url, fields):
    return _core.post(url, _core.encode_form(fields))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("fields", [
    LOGIN,
    [("CID", "c1"), ("z", "1"), ("a", "2 + 2 = 4?"), ("m", "x/y;z#w")],
    [("CID", "c1"), ("gw_name", ["gw-1", None, "gw 2"])],  # repeated field, order kept
])
def test_fields_arrive_in_order_and_unchanged(sim, fields):
    post_form(sim.url, fields)
    (request,) = sim.requests
    expected = []
    for name, value in fields:
        for v in value if isinstance(value, list) else [value]:
            if v is not None:
                expected.append((name, v))
    assert request["fields"] == expected
    assert (request["method"], request["path"]) == ("POST", "/v1/api")
    assert request["headers"]["Content-Type"] == "application/x-www-form-urlencoded"
    assert request["headers"].get("Expect") is None
    assert request["headers"]["Accept-Encoding"] == "gzip, deflate" and request["version"] == "HTTP/1.1"
    assert request["headers"]["User-Agent"].startswith("quillon/")


def test_answer_body_whatever_the_status(sim):
    answer = json.loads(post_form(sim.url, [("action", "login"), ("username", "admin"),
                                            ("password", "Secr3t pass&=+%")]))
    assert answer["CID"] in sim.cids
    sim.script(body=b"<html>\xff not json</html>", status=503, content_type="text/html")
    assert post_form(sim.url, LOGIN) == b"<html>\xff not json</html>"
    big = json.dumps({"results": ["x" * 1000] * 5000}).encode()
    sim.script(body=big)
    assert post_form(sim.url, LOGIN) == big
    sim.script(body=gzip.compress(b'{"CID": 1}'), headers={"Content-Encoding": "gzip"})
    assert post_form(sim.url, LOGIN) == b'{"CID": 1}'
    sim.script(body=b"")
    assert post_form(sim.url, LOGIN) == b""


def test_every_request_opens_its_own_connection(sim):
    for _ in range(3):
        post_form(sim.url, LOGIN)
    assert len({r["connection"] for r in sim.requests}) == 3


@pytest.mark.parametrize("suffix,path", [("", "/v1/api"), ("/", "//v1/api"), ("/x y", "/x%20y/v1/api")])
def test_address_is_used_verbatim(sim, suffix, path):
    post_form(_core.controller_api_url(sim.address + suffix), LOGIN)
    assert sim.requests[0]["path"] == path


@pytest.mark.parametrize("address", [
    "127.0.0.1:{free}",  # nobody listens there
    " {sim}",            # surrounding spaces are not removed
    "{sim} ",
    "",                  # no host at all
])
def test_unusable_addresses_are_transport_errors(sim, address):
    address = address.format(sim=sim.address, free=free_port())
    url = _core.controller_api_url(address)
    with pytest.raises(ConnectionError) as caught:
        post_form(url, [("password", "Secr3t")])
    assert url in str(caught.value) and "Secr3t" not in str(caught.value)
    assert sim.requests == []


def test_dropped_connection_is_a_transport_error(sim):
    sim.script(mode="close")
    with pytest.raises(ConnectionError):
        post_form(sim.url, LOGIN)


def test_interrupt_stops_a_request_that_never_ends(sim):
    sim.script(mode="hang")
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        _core.post(sim.url, _core.encode_form(LOGIN), interrupt_after=0.3)
    assert time.monotonic() - start < 0.3 + 2
    assert len(sim.requests) == 1  # the request was sent, then abandoned


# --- options: time limits, retries, certificates, redirects, reuse ---------------------------------

SECRET_FORM = [("action", "login"), ("username", "admin"), ("password", "Secr3t-9f2c"), ("CID", "cid-77e1")]


def assert_no_secrets(error):
    assert "Secr3t-9f2c" not in str(error) and "cid-77e1" not in str(error)


def kinds(events):
    return [e[0] if e[0] == "retrying" else (e[1], e[3]) for e in events]


def accept_queue_full(server):
    """Whether a listening socket's accept queue is full (Linux: its TCP_INFO
    gives the connections waiting and the backlog as tcpi_unacked and tcpi_sacked)."""
    waiting, backlog = struct.unpack_from("II", server.getsockopt(socket.IPPROTO_TCP, socket.TCP_INFO, 32), 24)
    return waiting > backlog


@contextlib.contextmanager
def full_backlog():
    """A port whose accept queue is full: a new connection's SYN is never answered."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(0)
    port = server.getsockname()[1]
    fillers = []
    for _ in range(3):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        fillers.append(c)
    deadline = time.monotonic() + 10
    while not accept_queue_full(server) and time.monotonic() < deadline:
        time.sleep(0.005)
    try:
        yield port
    finally:
        for c in fillers:
            c.close()
        server.close()


@contextlib.contextmanager
def tls_never_answers():
    """The TCP connection is made, but the TLS handshake never gets an answer."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    try:
        yield server.getsockname()[1]
    finally:
        server.close()


def test_default_options_keep_a_connection_per_request_and_reuse_keeps_one(sim):
    default, reusing = _core.Transport(), _core.Transport(reuse_connections=True)
    for transport in (default, reusing):
        sim.requests.clear()
        for i in range(3):
            _, status, url = transport.post(sim.url, _core.encode_form([("action", "list"), ("n", str(i))]))
            assert (status, url) == (200, sim.url)
        assert [r["fields"] for r in sim.requests] == [[("action", "list"), ("n", str(i))] for i in range(3)]
        connections = {r["connection"] for r in sim.requests}
        assert len(connections) == (3 if transport is default else 1)
        # the wire is the same either way: one POST each, same headers
        assert {(r["method"], r["headers"]["Content-Type"]) for r in sim.requests} == {
            ("POST", "application/x-www-form-urlencoded")}
    # When the server closes a kept connection, the next one resumes the TLS session.
    sim.script(body=b"{}", headers={"Connection": "close"})
    reusing.post(sim.url, b"a=1")
    reusing.post(sim.url, b"a=2")
    assert sim.requests[-1]["connection"] != sim.requests[-2]["connection"]
    assert sim.requests[-1]["session_reused"] is True


def test_kept_connections_only_where_the_server_keeps_them(sim):
    transport = _core.Transport(reuse_connections=True)
    sim.close_after_answer = True  # without saying so
    for i in range(10):
        assert transport.post(sim.url, b"n=%d" % i)[1] == 200
    assert [r["body"] for r in sim.requests] == [b"n=%d" % i for i in range(10)]  # each sent once
    assert len({r["connection"] for r in sim.requests}) == 10


@pytest.mark.parametrize("reuse", [False, True])
def test_max_time_ends_a_silent_answer_and_is_never_repeated(sim, reuse):
    transport = _core.Transport(max_time=1, retries=3, retry_delay=0.05, reuse_connections=reuse)
    if reuse:  # the silent answer then comes on a connection already open
        transport.post(sim.url, b"a=b")
        sim.requests.clear()
    sim.script(mode="hang")
    start = time.monotonic()
    with pytest.raises(ConnectionError) as caught:
        transport.post(sim.url, _core.encode_form(SECRET_FORM))
    assert time.monotonic() - start < 2
    assert sim.url in str(caught.value) and "--max-time 1 s" in str(caught.value)
    assert_no_secrets(caught.value)
    assert len(sim.requests) == 1 and kinds(transport.events) == [("POST", 0)]


@pytest.mark.parametrize("silent", [full_backlog, tls_never_answers])
@pytest.mark.parametrize("limits,named", [
    ({"connect_timeout": 0.5}, "--connect-timeout 0.5 s"),
    ({"connect_timeout": 5, "max_time": 0.5}, "--max-time 0.5 s"),  # the nearer limit is the one hit
])
def test_connect_timeout_is_transient(silent, limits, named):
    with silent() as port:
        url = f"https://127.0.0.1:{port}/v1/api"
        transport = _core.Transport(retries=1, retry_delay=0.05, **limits)
        start = time.monotonic()
        with pytest.raises(ConnectionError) as caught:
            transport.post(url, _core.encode_form(SECRET_FORM))
        assert time.monotonic() - start < 2.5
    assert url in str(caught.value) and named in str(caught.value)
    assert_no_secrets(caught.value)
    assert kinds(transport.events) == [("POST", 0), "retrying", ("POST", 0)]
    assert transport.events[1] == ("retrying", f"no connection within {named}", 1, 1, 0.05)


# (status, kind of request): whether it is tried again. A 502 or 504 comes from a
# proxy that may have passed the query on; only a login may be sent again then.
TRANSIENT = [(429, False, True), (503, False, True), (502, False, False), (504, False, False),
             (429, True, True), (502, True, True), (503, True, True), (504, True, True), (500, True, False)]


@pytest.mark.parametrize("status,login,retried", TRANSIENT)
def test_transient_answers_are_retried_only_when_safe(sim, status, login, retried):
    sim.script(body=b"busy", status=status, count=2)
    sim.script(body=b'{"fine": 1}')
    transport = _core.Transport(retries=2, retry_delay=0.05)
    if not retried:
        if status == 500:  # not a transient status: the answer, as without retries
            assert transport.post(sim.url, b"a=b", login=login)[:2] == (b"busy", 500)
        else:
            with pytest.raises(ConnectionError, match=f"HTTP {status} from {sim.url}"):
                transport.post(sim.url, _core.encode_form(SECRET_FORM), login=login)
        assert len(sim.requests) == 1 and "retrying" not in kinds(transport.events)
        return
    assert transport.post(sim.url, _core.encode_form(SECRET_FORM), login=login)[:2] == (b'{"fine": 1}', 200)
    assert [e for e in transport.events if e[0] == "retrying"] == [
        ("retrying", f"HTTP {status}", 1, 2, 0.05), ("retrying", f"HTTP {status}", 2, 2, 0.05)]
    assert len(sim.requests) == 3 and len({r["body"] for r in sim.requests}) == 1
    # After a redirect, the exchange that failed is the one repeated.
    sim.requests.clear()
    sim.redirect(303)
    sim.script(body=b"busy", status=status)
    assert transport.post(sim.url, b"a=b", login=login)[1] == 200
    assert [(r["method"], r["path"]) for r in sim.requests] == [
        ("POST", "/v1/api"), ("GET", "/v1/moved"), ("GET", "/v1/moved")]
    # Out of tries: an error naming the status and the tries; the error page is no answer.
    sim.script(body=b"still busy", status=status, count=2)
    with pytest.raises(ConnectionError) as caught:
        _core.Transport(retries=1, retry_delay=0.05).post(sim.url, b"a=b", login=login)
    assert f"HTTP {status} from {sim.url} after 2 tries" in str(caught.value)


@pytest.mark.parametrize("login", [False, True])
def test_failures_after_the_request_left_are_not_retried_and_say_what_happened(sim, login):
    transport = _core.Transport(retries=3, retry_delay=0.05)
    # A reset mid-answer: the query reached the controller, so it is not sent again,
    # and the controller did answer: no "Cannot reach".
    body = b'{"results": "' + b"x" * 5000 + b'"}'
    sim.script(body=body, mode="reset")
    with pytest.raises(ConnectionError) as caught:
        transport.post(sim.url, _core.encode_form(SECRET_FORM), login=login)
    assert_no_secrets(caught.value)
    assert "Cannot reach" not in str(caught.value)
    assert f"{sim.url} answered HTTP 200, but the answer broke off after {len(body) // 2} bytes" in str(caught.value)
    # Connection closed with no answer at all.
    sim.script(mode="close")
    with pytest.raises(ConnectionError, match=f"No answer from {sim.url}"):
        transport.post(sim.url, b"a=b", login=login)
    # Fewer bytes than announced.
    sim.script(body=b'{"results": [1, 2', headers={"Content-Length": str(1 << 30)})
    with pytest.raises(ConnectionError, match="answered HTTP 200, but the answer broke off after 17 bytes"):
        transport.post(sim.url, b"a=b", login=login)
    assert len(sim.requests) == 3 and "retrying" not in kinds(transport.events)


def test_refused_connections_are_retried_then_fail():
    url = f"https://127.0.0.1:{free_port()}/v1/api"
    transport = _core.Transport(retries=2, retry_delay=0.05)
    with pytest.raises(ConnectionError) as caught:
        transport.post(url, _core.encode_form(SECRET_FORM))
    assert url in str(caught.value)
    assert_no_secrets(caught.value)
    assert kinds(transport.events) == [("POST", 0), "retrying", ("POST", 0), "retrying", ("POST", 0)]
    assert transport.events[1][1] == "connection refused"


@pytest.mark.parametrize("retry_after,delay", [
    ("7", 7.0),
    ("3600", 60.0),  # capped
    (None, 30.0),    # an HTTP date about 30 s ahead
])
def test_retry_after_wins_and_the_wait_is_interruptible(sim, retry_after, delay):
    if retry_after is None:
        retry_after = email.utils.formatdate(time.time() + 30.5, usegmt=True)
    sim.script(status=503, headers={"Retry-After": retry_after})
    transport = _core.Transport(retries=1, retry_delay=0.05)
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        transport.post(sim.url, b"a=b", interrupt_after=0.4)
    assert time.monotonic() - start < 0.4 + 2  # far from the wait asked for
    (_, reason, attempt, retries, waited) = transport.events[1]
    assert (reason, attempt, retries) == ("HTTP 503", 1, 1) and waited == pytest.approx(delay, abs=1.5)
    assert len(sim.requests) == 1


def test_certificates_checked_only_when_asked(sim):
    form = _core.encode_form(SECRET_FORM)
    assert _core.Transport(cacert=sim.ca_file).post(sim.url, form)[1] == 200
    assert _core.Transport().post(f"https://localhost:{sim.port}/v1/api", form)[1] == 200
    sim.requests.clear()
    failing = [
        ({"cacert": other_ca_file()}, sim.url, f"127.0.0.1:{sim.port}"),
        ({"verify": True}, sim.url, f"127.0.0.1:{sim.port}"),
        ({"cacert": sim.ca_file}, f"https://localhost:{sim.port}/v1/api", f"localhost:{sim.port}"),  # wrong name
    ]
    for options, url, address in failing:
        transport = _core.Transport(retries=2, retry_delay=0.05, **options)
        with pytest.raises(ConnectionError) as caught:
            transport.post(url, form)
        assert f"the certificate of {address} was not accepted: " in str(caught.value), options
        assert_no_secrets(caught.value)
        assert "retrying" not in kinds(transport.events)
    assert sim.requests == []  # nothing was sent
    connections = sim.connections
    with pytest.raises(ConnectionError, match="no-such-ca.pem: No such file or directory"):
        _core.Transport(cacert="/nonexistent/no-such-ca.pem").post(sim.url, form)
    assert sim.requests == [] and sim.connections == connections  # refused before connecting


def wire(sim):
    return [(r["method"], r["path"], r["body"], r["headers"].get("Content-Type")) for r in sim.requests]


@pytest.mark.parametrize("codes", [[301], [302], [303], [307], [308], [300], [307, 302, 308], [308, 301, 307]])
def test_redirects_put_on_the_wire_what_the_host_client_does(sim, codes):
    import warnings

    import requests

    form = [("action", "list"), ("a", "1 2&")]
    for i, code in enumerate(codes):
        sim.redirect(code, location=f"/v1/hop{i}" if i % 2 else f"https://{sim.address}/v1/hop{i}")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        expected = requests.post(sim.url, data=dict(form), verify=False)
    host_wire = wire(sim)
    sim.requests.clear()
    for i, code in enumerate(codes):
        sim.redirect(code, location=f"/v1/hop{i}" if i % 2 else f"https://{sim.address}/v1/hop{i}")
    transport = _core.Transport()
    body, status, url = transport.post(sim.url, _core.encode_form(form))
    assert wire(sim) == host_wire
    assert (body, status, url) == (expected.content, expected.status_code, expected.url)
    assert [(e[1], e[3]) for e in transport.events] == [(m, s) for (m, _, _, _), s in
                                                        zip(host_wire, [*codes[:len(host_wire) - 1],
                                                                        expected.status_code])]


@pytest.mark.filterwarnings("ignore::urllib3.exceptions.InsecureRequestWarning")
def test_redirect_limits(sim):
    import requests

    sim.redirect(302, count=100)
    with pytest.raises(requests.TooManyRedirects):
        requests.post(sim.url, data={"a": "b"}, verify=False)
    host_count = len(sim.requests)
    sim.requests.clear()
    with pytest.raises(ConnectionError, match="Too many redirects"):
        _core.Transport().post(sim.url, _core.encode_form(SECRET_FORM))
    assert len(sim.requests) == host_count == 31
    sim.clear_script()
    sim.redirect(302, location="file:///etc/passwd")
    with pytest.raises(ConnectionError, match="not an HTTP address"):
        _core.Transport().post(sim.url, b"a=b")


# --- answers decoded as they arrive -------------------------------------------------------------

RECORDS = json.dumps({"results": [{"a": i, "b": "x" * 60, "c": [i]} for i in range(12_000)]}).encode()


def test_only_the_final_answer_is_decoded_and_each_exchange_starts_afresh(sim):
    # A redirect's and a retried answer's bodies are large JSON too, and a
    # broken one: none of it may reach the answer.
    sim.script(body=json.dumps({"results": [{"a": "moved"}] * 30_000}).encode(), status=307,
               headers={"Location": "/v1/moved"})
    sim.script(body=RECORDS[: len(RECORDS) // 2], status=503)
    sim.script(body=RECORDS)
    transport = _core.Transport(retries=1, retry_delay=0.01)
    value, status, url, streamed = transport.post_decoded(sim.url, b"a=b", ["results", "a"])
    assert (value, status, url, streamed) == (list(range(12_000)), 200, f"https://{sim.address}/v1/moved", True)
    assert [(r["method"], r["path"]) for r in sim.requests] == [
        ("POST", "/v1/api"), ("POST", "/v1/moved"), ("POST", "/v1/moved")]


@pytest.mark.parametrize("body, headers, streamed", [
    (RECORDS, {}, True),
    # Decompressed, more than the announced length comes: decoded at its end.
    (gzip.compress(RECORDS, mtime=0), {"Content-Encoding": "gzip"}, False),
    # An error page as the answer, as the host's client hands it over.
    (b"<html>" + b"<p>busy, sorry</p>" * 30_000 + b"</html>", {}, True),
    (RECORDS[:-2] + b",]}", {}, True),
    (b"\xef\xbb\xbf" + RECORDS.replace(b'"x', b'"\xff', 3000), {}, True),
    (b"  " + RECORDS, {"Content-Length": str(len(RECORDS) // 2)}, True),
], ids=["records", "compressed", "error-page", "malformed", "mark-and-bad-bytes", "cut-by-length"])
def test_answers_decoded_as_they_arrive_are_the_hosts(sim, body, headers, streamed):
    sim.script(body=body, headers=headers)
    received = gzip.decompress(body) if headers.get("Content-Encoding") else body
    if "Content-Length" in headers:
        received = received[: int(headers["Content-Length"])]
    text = received.decode("utf-8", "replace").removeprefix("\ufeff")
    try:
        expected = [record["a"] for record in json.loads(text)["results"]]
    except json.JSONDecodeError as error:
        with pytest.raises(json.JSONDecodeError) as raised:
            _core.Transport().post_decoded(sim.url, b"a=b", ["results", "a"])
        assert (raised.value.msg, raised.value.pos) == (error.msg, error.pos)
        return
    assert _core.Transport().post_decoded(sim.url, b"a=b", ["results", "a"]) == (expected, 200, sim.url, streamed)


def test_an_answer_cut_short_is_a_transport_error_not_a_document(sim):
    sim.script(body=RECORDS, mode="reset")
    with pytest.raises(ConnectionError, match="broke off"):
        _core.Transport().post_decoded(sim.url, b"a=b", ["results", "a"])
