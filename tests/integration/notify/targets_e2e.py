"""End to end: notification targets of the real program against a local
HTTPS receiver whose certificate authority the test makes.

Usage: targets_e2e.py SENTREL_BINARY SOURCE_ROOT. Exit 77 = skipped (no
openssl). The part with a host going down needs root for its network
namespaces and is skipped without it."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from https_receiver import Receiver  # noqa: E402

SENTREL, ROOT = sys.argv[1], sys.argv[2]
WORK = tempfile.mkdtemp(prefix="sentrel-targets.")
ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAILED:", message)
    return condition


class Program:
    """One user's Sentrel: its own registry, data folder and host list."""

    def __init__(self, name, hosts="", options=()):
        self.home = os.path.join(WORK, name)
        self.data = os.path.join(self.home, "hosts")
        self.outbox = os.path.join(self.data, "outbox")
        self.env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=self.home + "/config",
                        XDG_DATA_HOME=self.home + "/share", XDG_RUNTIME_DIR=self.home + "/run")
        for folder in (self.data, self.home + "/config/Sentrel", self.home + "/run"):
            os.makedirs(folder, exist_ok=True)
        with open(self.home + "/config/Sentrel/registry.reg", "w", newline="") as f:
            f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]\r\n"
                    '"PathToData"="%s"\r\n"PathToLog"="%s"\r\n"LogDetail"="2"\r\n'
                    % (self.data, self.data) + "".join(line + "\r\n" for line in options))
        with open(os.path.join(self.data, "sentrel.xml"), "w", newline="") as f:
            f.write(hosts)
        self.process = None

    def cli(self, *args):
        return subprocess.run([SENTREL, *args], env=self.env, capture_output=True, text=True,
                              timeout=60)

    def add(self, name, kind, url, *values):
        result = self.cli("--target-add", name, kind, url, *values)
        check(result.returncode == 0, "--target-add %s: %s" % (name, result.stderr))

    def start(self, prefix=(), extra=()):
        self.out = open(os.path.join(self.home, "out"), "ab")
        self.process = subprocess.Popen([*prefix, SENTREL, "--headless", "--ping", *extra], env=self.env,
                                        stdout=self.out, stderr=subprocess.STDOUT)

    def stop(self, sig=signal.SIGTERM):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            self.process.wait(timeout=20)
        self.out.close()

    def log(self):
        with open(os.path.join(self.data, "sentrel.log"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def waiting(self):
        names = os.listdir(self.outbox) if os.path.isdir(self.outbox) else []
        return sorted(n[:-4] for n in names if n.endswith(".msg"))


def host_block(address, name, renewal_targets="", loss_targets="", interval=1):
    lines = ["<H>", "<CHK>T</CHK>", "<HIP>%s</HIP>" % address, "<HN>%s</HN>" % name,
             "<HDS>test host</HDS>", "<PI>%d</PI>" % interval, "<TO>300</TO>",
             "<GTIM>100</GTIM>", "<LTIM>150</LTIM>", "<YTIM>200</YTIM>", "<OTIM>250</OTIM>"]
    if renewal_targets:
        lines += ["<WIA>T</WIA>", "<WSBJ>%HostName% is back</WSBJ>", "<WHK>%s</WHK>" % renewal_targets]
    if loss_targets:
        lines += ["<DIA>T</DIA>", "<DRC>2</DRC>", "<DSBJ>%HostName% lost</DSBJ>",
                  "<DMB>Down: %StatusStr%</DMB>", "<DHK>%s</DHK>" % loss_targets]
    return "\r\n".join(lines + ["</H>", ""])


def kinds():
    """Each kind sends what its service documents; a certificate that no
    trusted authority signed is refused."""
    receiver = Receiver(WORK)
    program = Program("kinds")
    cases = [
        ("webhook", [], "/in", lambda b: b["event"] == "test" and ISO.match(b["time"])
         and b["subject"] == "Sentrel Test Message" and b["code"] == 0),
        ("slack", [], "/in", lambda b: b == {"text": "Sentrel Test Message\nTest message from Sentrel!"}),
        ("teams", [], "/in", lambda b: b["type"] == "message" and b["attachments"][0]["contentType"]
         == "application/vnd.microsoft.card.adaptive"
         and b["attachments"][0]["content"]["body"][0]["text"] == "Sentrel Test Message"),
        ("discord", [], "/in", lambda b: b["content"].startswith("Sentrel Test Message")),
        ("telegram", ["Token=123:ABC", "ChatId=-1001"], "/in/bot123:ABC/sendMessage",
         lambda b: b["chat_id"] == -1001 and "Test message" in b["text"]),
        ("ntfy", ["Topic=ops", "Token=tk_secret", "Priority=5"], "/in",
         lambda b: b == {"topic": "ops", "title": "Sentrel Test Message",
                         "message": "Test message from Sentrel!", "priority": 5}),
        ("gotify", ["Token=AppTok"], "/in/message",
         lambda b: b["title"] == "Sentrel Test Message" and b["message"].startswith("Test")),
    ]
    for kind, values, path, fields in cases:
        program.add(kind, kind, receiver.url + "/in", "CAFile=" + receiver.ca_file, *values)
        result = program.cli("--target-test", kind)
        check(result.returncode == 0 and "HTTP 200" in result.stdout, "%s test: %s" % (kind, result))
        request = receiver.requests[-1]
        check(request["method"] == "POST" and request["path"] == path, "%s path %s" % (kind, request["path"]))
        check(request["headers"].get("content-type") == "application/json", kind + " content type")
        check(fields(json.loads(request["body"])), "%s body %s" % (kind, request["body"]))
    check(receiver.requests[5]["headers"].get("authorization") == "Bearer tk_secret", "ntfy token")
    check(receiver.requests[6]["headers"].get("x-gotify-key") == "AppTok", "gotify key")
    check("tk_secret" not in program.cli("--targets").stdout, "--targets shows no token")
    program.add("untrusted", "webhook", receiver.url + "/in")
    result = program.cli("--target-test", "untrusted")
    check(result.returncode == 1 and "certificate" in result.stdout, "untrusted certificate: %s" % result)
    check(len(receiver.requests) == len(cases), "no request reached the receiver without trust")
    receiver.close()


def retries_and_give_up():
    """503, 503, 200 (with Retry-After 1) delivers exactly once; a 404 is
    given up at once with the reason in the log."""
    flaky = Receiver(WORK, statuses=(503, 503, 200), retry_after=1)
    gone = Receiver(WORK, statuses=(404,))
    program = Program("retries", host_block("127.0.0.1", "self", "flaky,gone"))
    program.add("flaky", "webhook", flaky.url + "/hook", "CAFile=" + flaky.ca_file)
    program.add("gone", "webhook", gone.url + "/hook", "CAFile=" + gone.ca_file)
    metrics = free_port()
    program.start(extra=("--metrics", "127.0.0.1:%d" % metrics))
    check(flaky.wait_for(lambda r: any(s == 200 for _, s in r.answered), 20), "flaky delivered")
    check(gone.wait_for(lambda r: len(r.answered) == 1, 10), "gone asked once")
    time.sleep(3)
    scrape = urllib.request.urlopen("http://127.0.0.1:%d/metrics" % metrics, timeout=10).read().decode()
    program.stop()
    for sample in ('sentrel_notifications_total{kind="webhook",result="delivered"} 1',
                   'sentrel_notifications_total{kind="webhook",result="retry"} 2',
                   'sentrel_notifications_total{kind="webhook",result="given_up"} 1',
                   "sentrel_outbox_messages 0"):
        check(sample + "\n" in scrape, "metrics: " + sample)
    keys = {r["headers"].get("idempotency-key") for r in flaky.requests}
    check(len(flaky.requests) == 3 and len(keys) == 1, "three tries of one message: %d" % len(flaky.requests))
    check(len(gone.requests) == 1, "a 404 is not tried again: %d" % len(gone.requests))
    body = json.loads(flaky.requests[-1]["body"])
    check(body["event"] == "renewal" and body["address"] == "127.0.0.1" and body["name"] == "self"
          and body["description"] == "test host" and body["subject"] == "self is back"
          and body["code"] == 0 and ISO.match(body["time"]), "renewal document %s" % body)
    check(re.search(r"Notification to gone given up: HTTP 404", program.log()), "give-up logged")
    check(program.waiting() == [], "outbox empty")
    flaky.close()
    gone.close()


def mail_retry():
    """An alarm mail that the server defers (451) is kept in the outbox and
    retried: it arrives once, and both attempts are in the transfer log."""
    store = os.path.join(WORK, "smtp")
    os.makedirs(store)
    peer = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tests/integration/notify/smtp_peer.py"),
                             "--store", store, "--defer", "1"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = int(peer.stdout.readline().split()[1])
        block = host_block("127.0.0.1", "self").replace(
            "</H>", "<WIA>T</WIA>\r\n<WISE>T</WISE>\r\n<WEA>ops@example.org</WEA>\r\n</H>")
        program = Program("mail", block, ('"ServerName"="127.0.0.1"', '"Port"="%d"' % port,
                                          '"From"="Sentrel <sentrel@monitor.test>"'))
        program.start(extra=("-sl",))
        delivered = os.path.join(store, "1.data")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not os.path.exists(delivered):
            time.sleep(0.2)
        time.sleep(1)
        program.stop()
        check(os.path.exists(delivered) and not os.path.exists(os.path.join(store, "2.data")),
              "the deferred mail arrives once")
        with open(os.path.join(store, "rcpt.log")) as rcpt:
            check(rcpt.read().splitlines() == ["ops@example.org"] * 2, "first attempt and one retry")
        check(program.waiting() == [], "outbox empty after the retry")
        with open(os.path.join(program.data, "smtp.log"), errors="replace") as transfers:
            conversation = transfers.read()
        check("451 4.3.0" in conversation and conversation.count("250 Message accepted") == 1,
              "both attempts in smtp.log")
    finally:
        peer.stdin.close()
        peer.wait(timeout=10)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def restart_and_kill():
    """A message for a receiver that is down waits in the outbox through a
    restart; a kill -9 before the answer loses nothing, one after a 2xx
    sends nothing twice."""
    program = Program("restart", host_block("127.0.0.1", "self", "later"))
    program.add("later", "webhook", "https://127.0.0.1:%d/hook" % free_port(), "CAFile=" +
                os.path.join(WORK, "ca.pem"))
    program.start()
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not program.waiting():
        time.sleep(0.1)
    left = program.waiting()
    program.stop()
    check(len(left) == 1 and program.waiting() == left, "one message kept over the stop")

    slow = Receiver(WORK, delay=2.0)
    program.add("later", "webhook", slow.url + "/hook", "CAFile=" + slow.ca_file)
    program.start()
    check(slow.wait_for(lambda r: any(q["headers"].get("idempotency-key") == left[0]
                                      for q in r.requests), 15), "sent after the restart")
    program.stop(signal.SIGKILL)  # while the receiver holds its answer
    check(left[0] in program.waiting(), "a kill before the answer loses nothing")
    slow.delay = 0
    program.start()
    check(slow.wait_for(lambda r: any(r.requests[i]["headers"].get("idempotency-key") == left[0]
                                      and s == 200 for i, s in r.answered), 15), "delivered at last")
    time.sleep(2)
    program.stop(signal.SIGKILL)  # after the 2xx
    delivered = {slow.requests[i]["headers"].get("idempotency-key") for i, s in slow.answered if s == 200}
    before = len(slow.requests)
    program.start()
    time.sleep(4)
    program.stop()
    again = [r["headers"].get("idempotency-key") for r in slow.requests[before:]]
    check(not delivered & set(again), "nothing answered 2xx is sent again: %s" % again)
    slow.close()


def silent_receiver():
    """A receiver that accepts and never answers holds up no check or log line."""
    silent = Receiver(WORK, hang=True)
    program = Program("silent", host_block("127.0.0.1", "self", "silent"))
    program.add("silent", "webhook", silent.url + "/hook", "CAFile=" + silent.ca_file)
    program.start()
    check(silent.wait_for(lambda r: len(r.requests) == 1, 15), "silent receiver reached")
    time.sleep(6)
    program.stop()
    stamps = re.findall(r"(\d\d):(\d\d):(\d\d).*is online", program.log())
    seconds = [int(h) * 3600 + int(m) * 60 + int(s) for h, m, s in stamps]
    late = [b - a for a, b in zip(seconds, seconds[1:]) if b - a > 3]
    check(len(seconds) >= 5 and not late, "checks every second meanwhile: %s" % seconds)
    silent.close()


def loss_and_renewal():
    """A host in a namespace stops answering and comes back: one loss and
    one renewal document."""
    if os.geteuid() != 0:
        print("skipped: the host that goes down needs root for its namespaces")
        return
    prefix = "snp%d" % os.getpid()
    topology = os.path.join(ROOT, "scripts", "netns-topology.sh")
    subprocess.run([topology, "up", prefix], check=True, timeout=60)
    try:
        # The receiver listens in the client's namespace: this script again, there.
        result = subprocess.run(["ip", "netns", "exec", prefix + "-cli", sys.executable,
                                 os.path.abspath(__file__), SENTREL, ROOT, "--namespace", prefix],
                                capture_output=True, text=True, timeout=120)
        print(result.stdout, result.stderr)
        check(result.returncode == 0, "loss and renewal in the namespace")
    finally:
        subprocess.run([topology, "down", prefix], timeout=60)


def in_namespace(prefix):
    receiver = Receiver(WORK)
    program = Program("netns", host_block("198.18.3.2", "tgt", "ops", "ops"))
    program.add("ops", "webhook", receiver.url + "/hook", "CAFile=" + receiver.ca_file)
    program.start()
    events = lambda r: [json.loads(q["body"])["event"] for q in r.requests]
    check(receiver.wait_for(lambda r: events(r) == ["renewal"], 15), "first reply: renewal")
    tgt = ["ip", "netns", "exec", prefix + "-tgt", "sysctl", "-qw"]
    subprocess.run(tgt + ["net.ipv4.icmp_echo_ignore_all=1"], check=True)
    check(receiver.wait_for(lambda r: events(r) == ["renewal", "loss"], 20), "loss")
    subprocess.run(tgt + ["net.ipv4.icmp_echo_ignore_all=0"], check=True)
    check(receiver.wait_for(lambda r: events(r) == ["renewal", "loss", "renewal"], 20), "renewal")
    time.sleep(1)
    program.stop()
    loss = receiver.json_bodies()[1]
    check(loss["address"] == "198.18.3.2" and loss["name"] == "tgt" and loss["code"] != 0
          and loss["subject"] == "tgt lost" and loss["text"].startswith("Down: ")
          and "198.18.3.2" in loss["status"], "loss document %s" % loss)
    check(len(receiver.requests) == 3, "no more than the three documents")
    receiver.close()


try:
    if shutil.which("openssl") is None:
        print("skipped: the openssl command is not installed")
        sys.exit(77)
    if "--namespace" in sys.argv:
        in_namespace(sys.argv[sys.argv.index("--namespace") + 1])
    else:
        for part in (kinds, retries_and_give_up, mail_retry, restart_and_kill, silent_receiver,
                     loss_and_renewal):
            part()
finally:
    shutil.rmtree(WORK, ignore_errors=True)
print("failures: %d" % len(failures))
sys.exit(1 if failures else 0)
