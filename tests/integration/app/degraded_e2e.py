#!/usr/bin/python3
"""End to end: degraded service with a host whose answers the test delays.

A client namespace runs the headless engine against one host in a target
namespace, where a user-space responder answers echo requests after the
delay this test sets. The host is degraded above 200 ms on average over its
latest 3 requests and recovers below 160 ms:

  fast (20 ms)                      nothing
  slow (400 ms)                     "is degraded" once, the gauge 1, one
                                    "degraded" event to the host's web hook
  140, 260, 180 ms in turn          nothing more (averages of 193 ms: under
                                    the threshold, above its 80 %)
  fast again                        "is no longer degraded" once, the gauge 0,
                                    one "recovered" event
  150, 230, 170 ms in turn          nothing more (averages below 200 ms)

Usage: degraded_e2e.py SENTREL SOURCE_ROOT. Exit 77 = skipped.
"""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import json
import time

CLI_ADDRESS = "198.18.61.2"
HOST_ADDRESS = "198.18.61.1"
METRICS_PORT = 9741


class Failure(Exception):
    pass


# The notification tests' HTTPS receiver, run in the client namespace where
# Sentrel can reach it; each request's JSON body comes back as a line.
RECEIVER = """
import json, sys, time
sys.path.insert(0, sys.argv[1])
from https_receiver import Receiver
receiver = Receiver(sys.argv[2])
print(receiver.url, receiver.ca_file, flush=True)
seen = 0
while True:
    bodies = receiver.json_bodies()
    for body in bodies[seen:]:
        print(json.dumps(body), flush=True)
    seen = len(bodies)
    time.sleep(0.1)
"""


class HookEvents:
    """The events the web hook receiver got, in order."""

    def __init__(self, process):
        self.events = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self.read, args=(process.stdout,), daemon=True)
        self.thread.start()

    def read(self, stream):
        for line in stream:
            with self.lock:
                self.events.append(json.loads(line)["event"])

    def expect(self, events, phase, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with self.lock:
                if len(self.events) >= len(events):
                    break
            time.sleep(0.1)
        time.sleep(0.5)  # nothing more arrives
        with self.lock:
            if self.events != events:
                raise Failure("%s: the web hook got %r, expected %r" % (phase, self.events, events))


def run(*args, check=True):
    return subprocess.run(args, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


class Namespaces:
    def __init__(self, prefix):
        self.cli = prefix + "c"
        self.tgt = prefix + "t"

    def up(self):
        for ns in (self.cli, self.tgt):
            run("ip", "netns", "add", ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
        run("ip", "link", "add", "c0", "netns", self.cli, "type", "veth", "peer", "name", "t0",
            "netns", self.tgt)
        run("ip", "-n", self.cli, "addr", "add", CLI_ADDRESS + "/24", "dev", "c0")
        run("ip", "-n", self.tgt, "addr", "add", HOST_ADDRESS + "/24", "dev", "t0")
        run("ip", "-n", self.cli, "link", "set", "c0", "up")
        run("ip", "-n", self.tgt, "link", "set", "t0", "up")
        run("ip", "netns", "exec", self.cli, "sysctl", "-qw",
            "net.ipv4.ping_group_range=0 2147483646")
        run("ip", "netns", "exec", self.tgt, "sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1")

    def down(self):
        for ns in (self.cli, self.tgt):
            run("ip", "netns", "del", ns, check=False)


def log_lines(log, word):
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            return [l.strip() for l in f if word in l]
    except FileNotFoundError:
        return []


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    sentrel, root = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return 77
    work = tempfile.mkdtemp(prefix="sentrel-degraded.")
    nets = Namespaces("dg%d" % os.getpid())
    responder = runner = receiver = None
    try:
        nets.up()
        responder = subprocess.Popen(
            ["ip", "netns", "exec", nets.tgt, "/usr/bin/python3",
             os.path.join(root, "tests", "integration", "app", "delayed_echo_responder.py"), "20"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        ready, _, _ = select.select([responder.stdout], [], [], 10)
        if not ready or responder.stdout.readline().strip() != b"READY":
            raise Failure("the responder did not start")

        def set_delay(ms):
            responder.stdin.write(b"%d\n" % ms)
            responder.stdin.flush()

        hosts = os.path.join(work, "hosts")
        config = os.path.join(work, "config", "Sentrel")
        for folder in (hosts, config, os.path.join(work, "run"), os.path.join(work, "certs")):
            os.makedirs(folder)
        receiver = subprocess.Popen(
            ["ip", "netns", "exec", nets.cli, "/usr/bin/python3", "-c", RECEIVER,
             os.path.join(root, "tests", "integration", "notify"), os.path.join(work, "certs")],
            stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([receiver.stdout], [], [], 60)
        words = receiver.stdout.readline().split() if ready else []
        if len(words) != 2:
            raise Failure("the web hook receiver did not start")
        hook_url, ca_file = words
        hook = HookEvents(receiver)
        registry = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]",
                    '"PathToData"="%s"' % hosts, '"PathToLog"="%s"' % hosts,
                    '"LogDetail"="2"', '"LogSize"="0"']
        with open(os.path.join(config, "registry.reg"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in registry))
        block = ["<H>", "<CHK>T</CHK>", "<HIP>%s</HIP>" % HOST_ADDRESS, "<HN>slowhost</HN>",
                 "<PI>1</PI>", "<TO>2000</TO>", "<DGL>200</DGL>", "<DGN>3</DGN>",
                 "<DGHK>ops</DGHK>", "</H>"]
        with open(os.path.join(hosts, "sentrel.xml"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in block))
        log = os.path.join(hosts, "sentrel.log")
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=work, XDG_RUNTIME_DIR=os.path.join(work, "run"))
        added = subprocess.run([sentrel, "--target-add", "ops", "webhook", hook_url + "/hook",
                                "CAFile=" + ca_file], env=env, capture_output=True)
        if added.returncode != 0:
            raise Failure("--target-add: %s" % added.stderr.decode())
        out = open(os.path.join(work, "out"), "wb")
        runner = subprocess.Popen(["ip", "netns", "exec", nets.cli, sentrel, "--headless", "--ping",
                                   "--metrics", "127.0.0.1:%d" % METRICS_PORT],
                                  env=env, stdout=out, stderr=subprocess.STDOUT)

        def replies(count, delay, seconds=30):
            """Sets the delay (ms or a list taken in turn) and waits for `count` more replies."""
            delays = delay if isinstance(delay, list) else [delay]
            start = len(log_lines(log, "is online"))
            deadline = time.monotonic() + seconds
            seen = start
            set_delay(delays[0])
            while seen - start < count:
                if time.monotonic() > deadline:
                    raise Failure("%d of %d replies within %d s" % (seen - start, count, seconds))
                if runner.poll() is not None:
                    raise Failure("sentrel ended with %d" % runner.returncode)
                time.sleep(0.05)
                now = len(log_lines(log, "is online"))
                if now != seen:
                    seen = now
                    set_delay(delays[(seen - start) % len(delays)])

        def gauge():
            body = run("ip", "netns", "exec", nets.cli, "/usr/bin/python3", "-c",
                       "import urllib.request;print(urllib.request.urlopen("
                       "'http://127.0.0.1:%d/metrics', timeout=5).read().decode())" % METRICS_PORT
                       ).stdout.decode()
            match = re.search(r'^sentrel_host_degraded\{address="%s"\} (\d)$' % HOST_ADDRESS, body,
                              re.M)
            if not match:
                raise Failure("no sentrel_host_degraded in the scrape")
            return int(match.group(1))

        def expect(lines, phase):
            got = log_lines(log, "degraded")
            if len(got) != len(lines) or any(want not in line for want, line in zip(lines, got)):
                raise Failure("%s: the log says %r, expected %r" % (phase, got, lines))
            print("ok: %s (%d degradation lines)" % (phase, len(got)), flush=True)

        replies(4, 20)
        expect([], "fast replies")
        if gauge() != 0:
            raise Failure("degraded while fast")
        replies(4, 400)
        expect(["is degraded: average "], "slow replies")
        hook.expect(["degraded"], "slow replies")
        if gauge() != 1:
            raise Failure("sentrel_host_degraded is not 1 while degraded")
        # Single replies on both sides of the threshold, every average of
        # three under it but above its 80 %: no recovery yet.
        replies(8, [140, 260, 180])
        expect(["is degraded"], "flapping around the threshold")
        replies(4, 20)
        expect(["is degraded", "is no longer degraded"], "fast again")
        hook.expect(["degraded", "recovered"], "fast again")
        if gauge() != 0:
            raise Failure("sentrel_host_degraded is not 0 after the recovery")
        # Single replies above the threshold again, every average of three
        # below it.
        replies(8, [150, 230, 170])
        expect(["is degraded", "is no longer degraded"], "flapping around the threshold again")
        hook.expect(["degraded", "recovered"], "flapping around the threshold again", 1)

        runner.terminate()
        runner.wait(timeout=20)
        runner = None
        # The history keeps the one degraded period, ended.
        history = subprocess.run([sentrel, "--history", "1"], env=env, capture_output=True,
                                 text=True).stdout
        periods = re.findall(r"^  \S+ \S+  to \S+ \S+  ", history.split("Degraded:\n")[-1], re.M)
        if "Degraded:\n" not in history or len(periods) != 1:
            raise Failure("--history does not show one degraded period:\n" + history)
        print("ok: --history shows the degraded period", flush=True)
        print("PASSED")
        return 0
    except Failure as failure:
        print("FAILED: %s" % failure)
        try:
            with open(os.path.join(work, "hosts", "sentrel.log"), encoding="utf-8",
                      errors="replace") as f:
                sys.stdout.write(f.read()[-4000:])
        except OSError:
            pass
        return 1
    finally:
        if runner is not None:
            runner.kill()
            runner.wait()
        if receiver is not None:
            receiver.kill()
            receiver.wait()
        if responder is not None:
            responder.stdin.close()
            responder.kill()
            responder.wait()
        nets.down()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
