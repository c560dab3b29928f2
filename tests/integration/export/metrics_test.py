#!/usr/bin/env python3
"""The headless runner's metrics endpoint with real peers, inside a network
namespace of the test's own (loopback up, 198.18.99.0/24 blackholed so a
host there never answers; no packet leaves it).

  prometheus  Debian's Prometheus scrapes two Sentrels every second, each with
              an answering and a silent host: sentrel_host_up is 1 and 0 for
              the right hosts, the 95th percentile of loopback round trips is
              under 5 ms, the shipped down-host rule (2 minutes made 3 s)
              fires for both silent hosts and stays while one Sentrel is away
              for 90 s, a host deleted from one goes stale, a description
              change keeps the host's series.
  promtool    `promtool check metrics` accepts 1,024 hosts whose names hold
              quotes, backslashes, line breaks, non-ASCII and non-UTF-8 bytes,
              plain and gzip-compressed (which unpacks to the plain body).
  hostile     200 idle connections, 1 MiB of headers, a reader taking a byte a
              second: checks go on, memory stays bounded, the next scrape works.
  slowloris   64 connections from another address sending a header byte every
              3 s: a scrape every second is still answered within a second.

Usage: metrics_test.py SENTREL SOURCE_ROOT MODE. Exit 77 = skipped.
"""

import ctypes
import gzip
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
import urllib.parse

NS = f"smx{os.getpid()}"
PORTS = iter(range(19600, 19700))  # the namespace's ports are all free


class Failure(Exception):
    pass


def wait_for(seconds, probe, what):
    deadline = time.monotonic() + seconds
    last = None
    while time.monotonic() < deadline:
        last = probe()
        if last:
            return last
        time.sleep(0.2)
    raise Failure(f"{what} (after {seconds} s; last: {last!r})")


def in_ns(*args):
    return ["ip", "netns", "exec", NS, *args]


def enter_namespace(fd):
    """setns(2) of this thread's network (Python 3.11 has no os.setns)."""
    if ctypes.CDLL(None, use_errno=True).setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
        raise OSError(ctypes.get_errno(), "setns")


def host_block(address, name, desc=b"", enabled=True):
    text = lambda s: s if isinstance(s, bytes) else s.encode()
    return (b"<H>\r\n<CHK>" + (b"T" if enabled else b"F") + b"</CHK>\r\n<HIP>" + text(address)
            + b"</HIP>\r\n<HN>" + text(name) + b"</HN>\r\n<HDS>" + text(desc)
            + b"</HDS>\r\n<PI>1</PI>\r\n<TO>300</TO>\r\n</H>\r\n")


class Sentrel:
    """One headless Sentrel in the namespace, as a user of its own."""

    def __init__(self, sentrel, work, name, hosts):
        self.sentrel, self.folder, self.port = sentrel, os.path.join(work, name), next(PORTS)
        self.env = dict(os.environ, HOME=self.folder, XDG_CONFIG_HOME=f"{self.folder}/config",
                        XDG_DATA_HOME=f"{self.folder}/data", XDG_RUNTIME_DIR=f"{self.folder}/run")
        for sub in ("config/Sentrel", "data", "run", "hosts"):
            os.makedirs(f"{self.folder}/{sub}")
        with open(f"{self.folder}/config/Sentrel/registry.reg", "w", newline="") as f:
            f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]\r\n"
                    f"\"PathToData\"=\"{self.folder}/hosts\"\r\n\"PathToLog\"=\"{self.folder}/hosts\"\r\n")
        self.write_hosts(hosts)
        self.process = None

    def write_hosts(self, hosts):
        with open(f"{self.folder}/hosts/sentrel.xml", "wb") as f:
            f.write(b"".join(hosts))

    def start(self):
        with open(f"{self.folder}/out", "wb") as out:
            self.process = subprocess.Popen(
                in_ns(self.sentrel, "--headless", "--ping", "--metrics", f"127.0.0.1:{self.port}"),
                env=self.env, stdout=out, stderr=subprocess.STDOUT)
        wait_for(20, lambda: b"Metrics served on" in open(f"{self.folder}/out", "rb").read(),
                 f"{self.folder}: endpoint started")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as f:  # ip netns exec execs the program
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def scrape(self, timeout=5):
        """(status, body) of GET /metrics, or None when nothing came."""
        r = subprocess.run(in_ns("curl", "-s", "-m", str(timeout), "-w", "\n%{http_code}",
                                 f"http://127.0.0.1:{self.port}/metrics"), capture_output=True)
        body, _, status = r.stdout.rpartition(b"\n")
        return (int(status), body) if r.returncode == 0 else None


def in_namespace(action):
    """Runs `action` with this thread's sockets in the test's namespace."""
    home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
    test_ns = os.open(f"/run/netns/{NS}", os.O_RDONLY)
    enter_namespace(test_ns)
    try:
        return action()
    finally:
        enter_namespace(home)
        os.close(home)
        os.close(test_ns)


def exchange(port, request, source="127.0.0.1", timeout=10):
    """Everything the endpoint answers to `request` until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0)) as c:
        c.sendall(request)
        chunks = []
        while chunk := c.recv(1 << 16):
            chunks.append(chunk)
    return b"".join(chunks)


def http_answers(data):
    """[(head, body)] of the answers on one connection (Content-Length bodies)."""
    answers = []
    while data:
        head, _, rest = data.partition(b"\r\n\r\n")
        length = int(re.search(rb"Content-Length: (\d+)", head, re.I).group(1))
        answers.append((head, rest[:length]))
        data = rest[length:]
    return answers


def requests_of(body, address):
    match = re.search(rb'^sentrel_host_requests_total\{address="' + address + rb'"\} (\d+)$', body, re.M)
    return int(match.group(1)) if match else 0


def run_prometheus(sentrel, root, work):
    if not shutil.which("prometheus"):
        print("skipped: Debian's prometheus is not installed")
        return 77
    a = Sentrel(sentrel, work, "a", [host_block("127.0.0.1", "web-a"),
                                     host_block("198.18.99.2", "dark-a"), host_block("127.0.0.2", "gone-a")])
    b = Sentrel(sentrel, work, "b", [host_block("127.0.0.1", "web-b"), host_block("198.18.99.3", "dark-b")])
    prometheus = None
    port = next(PORTS)
    try:
        a.start()
        b.start()
        with open(f"{root}/resources/prometheus/sentrel-rules.yml") as f:
            rules = f.read()
        assert "for: 2m" in rules
        with open(f"{work}/rules.yml", "w") as f:
            f.write(rules.replace("for: 2m", "for: 3s"))
        with open(f"{work}/prometheus.yml", "w") as f:
            f.write(f"global: {{scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}}\n"
                    f"rule_files: [{work}/rules.yml]\n"
                    "scrape_configs:\n  - job_name: sentrel\n    static_configs:\n"
                    f"      - {{targets: ['127.0.0.1:{a.port}'], labels: {{site: a}}}}\n"
                    f"      - {{targets: ['127.0.0.1:{b.port}'], labels: {{site: b}}}}\n")
        with open(f"{work}/prometheus.log", "wb") as log:
            prometheus = subprocess.Popen(
                in_ns("prometheus", f"--config.file={work}/prometheus.yml", f"--storage.tsdb.path={work}/tsdb",
                      f"--web.listen-address=127.0.0.1:{port}", "--log.level=warn"),
                stdout=log, stderr=subprocess.STDOUT)

        def query(expr):
            url = f"http://127.0.0.1:{port}/api/v1/query?" + urllib.parse.urlencode({"query": expr})
            try:
                answer = json.loads(subprocess.run(in_ns("curl", "-s", "-m", "3", url), capture_output=True).stdout)
            except ValueError:
                return None
            return {(r["metric"].get("site"), r["metric"].get("name")): float(r["value"][1])
                    for r in answer["data"]["result"]} if answer.get("status") == "success" else None

        def named(expr):  # series carry the address only; the name joins from the info
            return query(f"{expr} * on (job, instance, address, copy) group_left (name) sentrel_host_info")

        wait_for(30, lambda: named("sentrel_host_up") == {("a", "web-a"): 1, ("a", "dark-a"): 0,
                                                          ("a", "gone-a"): 1, ("b", "web-b"): 1,
                                                          ("b", "dark-b"): 0}, "sentrel_host_up per host")
        wait_for(30, lambda: query('ALERTS{alertname="SentrelHostDown",alertstate="firing"}')
                 == {("a", "dark-a"): 1, ("b", "dark-b"): 1}, "SentrelHostDown firing for the silent hosts")

        # Loopback answers within microseconds; the buckets resolve them.
        p95 = 'histogram_quantile(0.95, sum by (site, le) (rate(sentrel_host_rtt_seconds_bucket{address="127.0.0.1"}[30s])))'
        wait_for(20, lambda: (lambda r: r if r and len(r) == 2 and all(0 < v < 0.005 for v in r.values()) else None)(
            {site: v for (site, _), v in (query(p95) or {}).items()}), "95th percentile of loopback under 5 ms")

        # b is away for 90 s: its down alert must not resolve meanwhile.
        b.stop()
        away = time.monotonic()
        while time.monotonic() - away < 90:
            firing = query('ALERTS{alertname="SentrelHostDown",alertstate="firing",site="b"}')
            if firing is not None and firing != {("b", "dark-b"): 1}:
                raise Failure(f"dark-b's alert after {time.monotonic() - away:.0f} s away: {firing}")
            time.sleep(5)
        b.start()

        # gone-a leaves a's list and web-a gets a description; a comes back.
        a.stop()
        a.write_hosts([host_block("127.0.0.1", "web-a", "now described"), host_block("198.18.99.2", "dark-a")])
        a.start()
        since = time.time()
        wait_for(30, lambda: (named('timestamp(sentrel_host_up{address="127.0.0.1"})') or {}).get(("a", "web-a"), 0) > since,
                 "a scraped again after its restart")
        wait_for(10, lambda: query('sentrel_host_up{site="a",address="127.0.0.2"}') == {}, "the deleted host went stale")
        if query('count_over_time(sentrel_host_up{site="a",address="127.0.0.1"}[5m])') is None or \
                len(query('count_over_time(sentrel_host_up{site="a",address="127.0.0.1"}[5m])')) != 1:
            raise Failure("the description change split web-a's series")
        wait_for(10, lambda: query('sentrel_host_info{site="a",description="now described"}') == {("a", "web-a"): 1},
                 "the new description on the info series")
        print("ok: up per host of both sites, loopback p95 under 5 ms, SentrelHostDown firing and kept through"
              " 90 s away, deleted host stale, one series through a description change")
        return 0
    except Failure:
        print("--- prometheus log\n" + open(f"{work}/prometheus.log", errors="replace").read())
        raise
    finally:
        if prometheus:
            prometheus.terminate()
            prometheus.wait(10)
        a.stop()
        b.stop()


HOSTILE = ['quote " and "" twice', "back\\slash \\\\ \\n \\\"", "line\nbreak\r\nCR LF",
           "Grüße, Привет, 日本語 🙂", "}{=,# HELP sentrel_host_up 1"]


def run_promtool(sentrel, root, work):
    if not shutil.which("promtool"):
        print("skipped: Debian's prometheus (promtool) is not installed")
        return 77
    hosts = []
    for i in range(1022):
        desc = HOSTILE[(i + 1) % 5].encode()
        if i % 7 == 0:
            desc = b"code page \xfc\xe4 " + desc  # a hand-edited file, not UTF-8
        # Hosts past the fourth are unticked: listed, never checked.
        hosts.append(host_block(f"127.0.{i // 250}.{i % 250 + 1}", f"{HOSTILE[i % 5]} {i}", desc, i < 4))
    s = Sentrel(sentrel, work, "many", hosts + [host_block("127.0.0.1", "twin", "same")] * 2)
    try:
        s.start()
        status, body = wait_for(20, s.scrape, "a scrape of 1,024 hosts")
        if status != 200 or b"\nsentrel_hosts 1024\n" not in body:
            raise Failure(f"scrape answered {status} without 1,024 hosts")
        check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True)
        if check.returncode != 0:
            raise Failure("promtool check metrics:\n" + check.stdout.decode() + check.stderr.decode())
        if body.count(b"\nsentrel_host_enabled{") != 1024 or b'copy="2"' not in body:
            raise Failure("not every host has a series of its own")
        # The same scrape plain and compressed, asked on one connection at
        # once so that both come from one rendering (the endpoint serves a
        # body for 250 ms; a machine too busy for that gets another try).
        get = "GET /metrics HTTP/1.1\r\nHost: t\r\n"
        for attempt in range(3):
            answers = in_namespace(lambda: exchange(s.port, (get + "\r\n" + get + "Accept-Encoding: gzip\r\n"
                                                             "Connection: close\r\n\r\n").encode()))
            (plain_head, plain), (gzip_head, packed) = http_answers(answers)
            if b"Content-Encoding: gzip" in plain_head or b"Content-Encoding: gzip" not in gzip_head:
                raise Failure("gzip not served as asked")
            unpacked = gzip.decompress(packed)
            if unpacked == plain:
                break
        else:
            raise Failure(f"the gzip body ({len(unpacked)} bytes unpacked) differs from the plain one ({len(plain)})")
        check = subprocess.run(["promtool", "check", "metrics"], input=unpacked, capture_output=True)
        if check.returncode != 0:
            raise Failure("promtool check metrics, unpacked gzip:\n" + check.stdout.decode() + check.stderr.decode())
        print(f"ok: promtool accepts {len(body)} bytes of 1,024 hostile hosts, plain and as {len(packed)} bytes of gzip")
        return 0
    finally:
        s.stop()


def run_hostile(sentrel, root, work):
    s = Sentrel(sentrel, work, "hostile", [host_block("127.0.0.1", "web")])
    clients = []
    try:
        s.start()
        before = requests_of(wait_for(10, s.scrape, "a first scrape")[1], b"127.0.0.1")
        rss = s.rss_kib()
        home = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        test_ns = os.open(f"/run/netns/{NS}", os.O_RDONLY)
        enter_namespace(test_ns)  # for this thread's sockets only
        try:
            # The idle crowd from one address, the others from another: one
            # client address holds at most 16 connections.
            for _ in range(200):
                idle = socket.socket()
                clients.append(idle)
                idle.settimeout(2)
                try:
                    idle.bind(("127.0.0.2", 0))
                    idle.connect(("127.0.0.1", s.port))
                except OSError:
                    pass  # refused beyond the connection limit: fine
            big = socket.create_connection(("127.0.0.1", s.port), timeout=5, source_address=("127.0.0.3", 0))
            try:
                big.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Fill: " + b"a" * (1 << 20) + b"\r\n\r\n")
                reply = big.recv(64)
            except OSError:
                reply = b""  # cut off: fine, a 200 is not
            big.close()
            if reply.startswith(b"HTTP/1.1 200"):
                raise Failure("a request with 1 MiB of headers was served")
            slow = socket.create_connection(("127.0.0.1", s.port), timeout=5, source_address=("127.0.0.3", 0))
            clients.append(slow)
            slow.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
            for _ in range(3):
                slow.recv(1)
                time.sleep(1)
        finally:
            enter_namespace(home)
            os.close(home)
            os.close(test_ns)
        # Idle clients are dropped after 5 s; then scrapes are served again.
        answer = wait_for(15, lambda: (lambda r: r if r and r[0] == 200 else None)(s.scrape(2)),
                          "a scrape after the hostile clients")
        after = requests_of(answer[1], b"127.0.0.1")
        grown = s.rss_kib() - rss
        if after < before + 3 or grown > 64 * 1024 or s.process.poll() is not None:
            raise Failure(f"requests {before} -> {after}, memory +{grown} KiB")
        print(f"ok: requests {before} -> {after}, memory +{grown} KiB")
        return 0
    finally:
        for c in clients:
            c.close()
        s.stop()


def run_slowloris(sentrel, root, work):
    """64 connections from another address, each sending one header byte
    every 3 s (and coming back when cut), while the scraper's own request
    every second must be answered in under a second."""
    s = Sentrel(sentrel, work, "slow", [host_block("127.0.0.1", "web")])
    attackers = []
    try:
        s.start()
        wait_for(10, s.scrape, "a first scrape")
        request = b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"

        def attack_and_scrape():
            def connect():
                c = socket.socket()
                c.settimeout(0.5)
                try:
                    c.bind(("127.0.0.2", 0))
                    c.connect(("127.0.0.1", s.port))
                except OSError:
                    pass
                return [c, 0]

            attackers.extend(connect() for _ in range(64))
            times, cut = [], 0
            for second in range(24):
                if second % 3 == 0:
                    for i, (c, sent) in enumerate(attackers):
                        try:
                            c.send(request[sent % len(request):][:1])
                            attackers[i][1] += 1
                        except OSError:
                            cut += 1
                            c.close()
                            attackers[i] = connect()
                start = time.monotonic()
                try:
                    answer = exchange(s.port, b"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                                      timeout=1)
                    ok = answer.startswith(b"HTTP/1.1 200")
                except OSError:
                    ok = False
                took = time.monotonic() - start
                times.append(took if ok else None)
                time.sleep(max(0.0, 1 - took))
            return times, cut

        times, cut = in_namespace(attack_and_scrape)
        if None in times or max(times) >= 1:
            raise Failure(f"scrapes under attack (s, None = failed): {times}")
        if cut == 0:
            raise Failure("no slow connection was ever cut")
        print(f"ok: {len(times)} scrapes under 64 slow connections, slowest {max(times) * 1000:.0f} ms;"
              f" {cut} slow connections cut or refused")
        return 0
    finally:
        for c, _ in attackers:
            c.close()
        s.stop()


def main():
    modes = {"prometheus": run_prometheus, "promtool": run_promtool, "hostile": run_hostile,
             "slowloris": run_slowloris}
    if len(sys.argv) != 4 or sys.argv[3] not in modes:
        print(__doc__)
        return 2
    if os.geteuid() != 0 or not shutil.which("curl"):
        print("skipped: needs root (network namespace) and curl")
        return 77
    work = tempfile.mkdtemp(prefix="sentrel-metrics.")
    subprocess.run(["ip", "netns", "add", NS], check=True)
    try:
        subprocess.run(["ip", "-n", NS, "link", "set", "lo", "up"], check=True)
        subprocess.run(["ip", "-n", NS, "route", "add", "blackhole", "198.18.99.0/24"], check=True)
        return modes[sys.argv[3]](sys.argv[1], sys.argv[2], work)
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        subprocess.run(["ip", "netns", "del", NS], check=False)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
