"""A local HTTPS receiver for the notification tests: records every request
(method, path, headers, body) and answers from a script of status codes.

Used as a module by the tests (Receiver) and by the benchmark. The
certificate authority and the server's certificate are made here, once per
folder, with the openssl command; the server's certificate names 127.0.0.1."""

import http.server
import json
import os
import ssl
import subprocess
import threading
import time


def make_certificates(folder):
    """Returns (ca_file, cert_file, key_file), made in `folder`."""
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, csr = os.path.join(folder, "server.key"), os.path.join(folder, "server.csr")
    cert, ext = os.path.join(folder, "server.pem"), os.path.join(folder, "server.ext")
    if os.path.exists(cert):
        return ca, cert, key
    run = lambda *args: subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca,
        "-days", "2", "-subj", "/CN=Sentrel test CA")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
        "-subj", "/CN=127.0.0.1")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
        "-out", cert, "-days", "2", "-extfile", ext)
    return ca, cert, key


class Receiver:
    """statuses: answers in turn, the last one repeating. hang: accept and
    never answer. delay: seconds before each answer. retry_after: the
    Retry-After header sent with answers that are not 2xx."""

    def __init__(self, folder, statuses=(200,), hang=False, delay=0.0, retry_after=None):
        self.requests = []
        self.answered = []  # (request index, status) for answers fully sent
        self.statuses = list(statuses)
        self.hang = hang
        self.delay = delay
        self.retry_after = retry_after
        self.lock = threading.Lock()
        self.stop = threading.Event()
        receiver = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                length = int(self.headers.get("Content-Length", "0"))
                body = self.rfile.read(length)
                with receiver.lock:
                    index = len(receiver.requests)
                    receiver.requests.append({
                        "method": self.command, "path": self.path,
                        "headers": {k.lower(): v for k, v in self.headers.items()},
                        "body": body.decode("utf-8", "replace"), "time": time.monotonic()})
                    status = receiver.statuses[min(index, len(receiver.statuses) - 1)]
                if receiver.hang:
                    receiver.stop.wait(120)
                    return
                if receiver.delay:
                    time.sleep(receiver.delay)
                answer = b'{"ok": true}' if 200 <= status < 300 else b"not this time\n"
                try:
                    self.send_response(status)
                    if receiver.retry_after is not None and status >= 300:
                        self.send_header("Retry-After", str(receiver.retry_after))
                    self.send_header("Content-Length", str(len(answer)))
                    self.end_headers()
                    self.wfile.write(answer)
                    self.wfile.flush()
                except OSError:
                    return  # the sender was killed meanwhile: no answer got through
                with receiver.lock:
                    receiver.answered.append((index, status))

        ca, cert, key = make_certificates(folder)
        self.ca_file = ca
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = self.server.server_address[1]
        self.url = "https://127.0.0.1:%d" % self.port
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def json_bodies(self):
        with self.lock:
            return [json.loads(r["body"]) for r in self.requests]

    def wait_for(self, predicate, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with self.lock:
                if predicate(self):
                    return True
            time.sleep(0.05)
        with self.lock:
            return predicate(self)

    def close(self):
        self.stop.set()
        self.server.shutdown()
        self.server.server_close()


if __name__ == "__main__":
    # For the benchmark: serves 200 from a folder's certificates, says
    # "PORT n" and "CA path", and ends when its standard input closes.
    import sys
    receiver = Receiver(sys.argv[1])
    print("PORT %d" % receiver.port)
    print("CA %s" % receiver.ca_file, flush=True)
    sys.stdin.read()
    print("REQUESTS %d" % len(receiver.requests), flush=True)
    receiver.close()
