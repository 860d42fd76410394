"""Test certificates for the simulated controller, made with openssl once per process
in a temporary directory that goes when the process ends."""

import atexit
import os
import shutil
import subprocess
import tempfile
import threading

_cert_lock = threading.Lock()
_cert_dir = None
_cert_files = {}


def _openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _directory():
    global _cert_dir
    if _cert_dir is None:
        _cert_dir = tempfile.mkdtemp(prefix="sim-controller-")
        atexit.register(shutil.rmtree, _cert_dir, True)
    return _cert_dir


_EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def _make_ca(name):
    """A CA certificate and its key (PEM files), made once per process."""
    with _cert_lock:
        if name not in _cert_files:
            d = _directory()
            cert, key = os.path.join(d, f"{name}.pem"), os.path.join(d, f"{name}-key.pem")
            _openssl("req", "-x509", *_EC, "-keyout", key, "-out", cert, "-days", "2",
                     "-subj", f"/CN=Simulated {name}", "-addext", "basicConstraints=critical,CA:TRUE",
                     "-addext", "keyUsage=critical,keyCertSign,cRLSign")
            _cert_files[name] = (cert, key)
        return _cert_files[name]


def server_certificate(name="server", key_type=_EC):
    """A server certificate for 127.0.0.1 and its key, signed by test-ca."""
    ca_cert, ca_key = _make_ca("test-ca")
    with _cert_lock:
        if name not in _cert_files:
            d = _directory()
            cert, key, csr = (os.path.join(d, f"{name}{n}") for n in ("-cert.pem", "-key.pem", "-cert.csr"))
            extensions = os.path.join(d, f"{name}.ext")
            with open(extensions, "w") as f:
                f.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                        "extendedKeyUsage=serverAuth\n")
            _openssl("req", "-new", *key_type, "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
            _openssl("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
                     "-out", cert, "-days", "2", "-extfile", extensions)
            _cert_files[name] = (cert, key)
        return _cert_files[name]


def rsa_certificate():
    """An RSA certificate: what a server needs to offer RSA key exchange."""
    return server_certificate("rsa-server", ["-newkey", "rsa:2048", "-nodes"])


def server_ca_file():
    """The CA that signed the server's certificate (PEM): trusting it checks out."""
    return _make_ca("test-ca")[0]


def other_ca_file():
    """A CA that signed nothing the server presents (PEM)."""
    return _make_ca("other-ca")[0]
