"""A listener that records the bytes a client sends where it should send nothing."""

import socket
import ssl
import threading

from sim_certificates import rsa_certificate, server_certificate

class ByteRecorder:
    """A second listener that keeps every byte a client sends it, to show what
    reached a place the client should not have sent anything to.

    `tls`: None listens in plain text; "modern" speaks TLS as the controller
    does; "tls1" offers only TLS 1.0 with AES128-SHA; "rsa" only RSA key
    exchange without forward secrecy (TLS 1.2). `received` holds what came
    after the handshake, `connections` counts the connections made. Each
    request is answered with a login answer, so a client that did send keeps
    going rather than waiting.
    """

    ANSWER = b'{"return": true, "CID": "recorded-cid", "results": []}'

    def __init__(self, tls=None):
        self.received = b""
        self.connections = 0
        self._lock = threading.Lock()
        self._context = None if tls is None else self._tls_context(tls)
        self._listener = socket.socket()
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(16)
        self.port = self._listener.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port
        threading.Thread(target=self._accept, name="byte-recorder", daemon=True).start()

    @staticmethod
    def _tls_context(tls):
        import warnings
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if tls == "modern":
            context.load_cert_chain(*server_certificate())
            return context
        context.load_cert_chain(*rsa_certificate())
        with warnings.catch_warnings():  # TLS 1.0 is deprecated: that is the point
            warnings.simplefilter("ignore", DeprecationWarning)
            if tls == "tls1":
                context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1
                context.set_ciphers("AES128-SHA:@SECLEVEL=0")
            elif tls == "rsa":
                context.maximum_version = ssl.TLSVersion.TLSv1_2
                context.set_ciphers("AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA:@SECLEVEL=0")
            else:
                raise ValueError(tls)
        return context

    def _accept(self):
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return  # closed
            with self._lock:
                self.connections += 1
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        connection.settimeout(30)
        try:
            if self._context is not None:
                connection = self._context.wrap_socket(connection, server_side=True)
            data = b""
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    return
                with self._lock:
                    self.received += chunk
                data += chunk
                head, blank, rest = data.partition(b"\r\n\r\n")
                if not blank:
                    continue
                length = next((int(line.split(b":", 1)[1]) for line in head.split(b"\r\n")
                               if line.lower().startswith(b"content-length:")), 0)
                if len(rest) >= length:
                    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                                       b"Connection: close\r\n\r\n" % len(self.ANSWER) + self.ANSWER)
                    return
        except (OSError, ssl.SSLError, ValueError):
            return  # a refused handshake or a client that went away
        finally:
            connection.close()

    def close(self):
        try:
            self._listener.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self._listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
