#!/usr/bin/env python3
"""Benchmark (not a test) of the metrics endpoint under a full load.

A headless Sentrel checks 1,024 hosts every second (loopback addresses in a
network namespace of its own, so nothing leaves the machine) and serves
metrics; this program scrapes it as Prometheus does (a fresh connection
each time), in both formats, plain and gzip-compressed, and prints:

- the time to serve one scrape, median and maximum over N scrapes, measured
  from sending the request to the last byte of the answer;
- the CPU one scrape costs, from the endpoint thread's own CPU time (it
  renders and serves every scrape and does nothing else), and what that adds
  at a 15 s scrape interval, beside the CPU of the whole process;
- the size of one scrape in both formats, plain and gzip-compressed.

Usage (root): metrics_bench.py SENTREL [--hosts N] [--scrapes N]
Build SENTREL with the release preset for figures worth comparing.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

OPEN_METRICS = "application/openmetrics-text;version=1.0.0,text/plain;version=0.0.4;q=0.5"
TICKS = os.sysconf("SC_CLK_TCK")


def enter_namespace(fd):
    if ctypes.CDLL(None, use_errno=True).setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
        raise OSError(ctypes.get_errno(), "setns")


def cpu_seconds(stat_path):
    with open(stat_path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def endpoint_thread(pid, before):
    """The thread that appeared when the endpoint started."""
    for tid in os.listdir(f"/proc/{pid}/task"):
        if tid not in before:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                if "MHD" in f.read():
                    return tid
    return None


def scrape(port, accept, gzip):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        request = (f"GET /metrics HTTP/1.1\r\nHost: bench\r\nAccept: {accept}\r\n"
                   + ("Accept-Encoding: gzip\r\n" if gzip else "") + "Connection: close\r\n\r\n").encode()
        start = time.perf_counter()
        s.sendall(request)
        chunks = []
        while chunk := s.recv(1 << 16):
            chunks.append(chunk)
        elapsed = time.perf_counter() - start
    answer = b"".join(chunks)
    head, _, body = answer.partition(b"\r\n\r\n")
    if not head.startswith(b"HTTP/1.1 200") or (b"Content-Encoding: gzip" in head) != gzip:
        raise RuntimeError("scrape failed: " + head[:80].decode(errors="replace"))
    return elapsed, body


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sentrel")
    parser.add_argument("--hosts", type=int, default=1024)
    parser.add_argument("--scrapes", type=int, default=100)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("needs root (network namespace)")
        return 2

    ns = f"smb{os.getpid()}"
    work = tempfile.mkdtemp(prefix="sentrel-metrics-bench.")
    subprocess.run(["ip", "netns", "add", ns], check=True)
    process = None
    try:
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=f"{work}/config",
                   XDG_DATA_HOME=f"{work}/data", XDG_RUNTIME_DIR=f"{work}/run")
        for sub in ("config/Sentrel", "data", "run", "hosts"):
            os.makedirs(f"{work}/{sub}")
        with open(f"{work}/config/Sentrel/registry.reg", "w", newline="") as f:
            f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]\r\n"
                    f"\"PathToData\"=\"{work}/hosts\"\r\n\"PathToLog\"=\"{work}/hosts\"\r\n"
                    "\"LogDetail\"=\"0\"\r\n")
        with open(f"{work}/hosts/sentrel.xml", "w", newline="") as f:
            for i in range(args.hosts):
                f.write(f"<H>\r\n<CHK>T</CHK>\r\n<HIP>127.0.{i // 250}.{i % 250 + 1}</HIP>\r\n"
                        f"<HN>host-{i:04d}.site.example</HN>\r\n<HDS>rack {i // 40}, room 2</HDS>\r\n"
                        "<PI>1</PI>\r\n<TO>1000</TO>\r\n</H>\r\n")
        port = 19639
        out = open(f"{work}/out", "wb")
        process = subprocess.Popen(["ip", "netns", "exec", ns, args.sentrel, "--headless", "--ping",
                                    "--metrics", f"127.0.0.1:{port}"],
                                   env=env, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while b"Metrics served on" not in open(f"{work}/out", "rb").read():
            if time.monotonic() > deadline or process.poll() is not None:
                raise RuntimeError("the endpoint did not start")
            time.sleep(0.2)
        thread = endpoint_thread(process.pid, set())
        time.sleep(5)  # every host checked a few times

        fd = os.open(f"/run/netns/{ns}", os.O_RDONLY)
        enter_namespace(fd)
        thread_stat = f"/proc/{process.pid}/task/{thread}/stat" if thread else None
        process_stat = f"/proc/{process.pid}/stat"
        print(f"hosts: {args.hosts}, checked every second; {args.scrapes} scrapes of each kind, "
              "a fresh rendering each time")
        process_cpu0 = cpu_seconds(process_stat)
        wall0 = time.monotonic()
        for name, accept, gzip in (("OpenMetrics", OPEN_METRICS, False), ("OpenMetrics, gzip", OPEN_METRICS, True),
                                   ("text 0.0.4", "text/plain", False), ("text 0.0.4, gzip", "text/plain", True)):
            times = []
            thread_cpu0 = cpu_seconds(thread_stat) if thread_stat else None
            body = b""
            for _ in range(args.scrapes):
                time.sleep(0.3)  # past the endpoint's 250 ms reuse of a rendered body
                elapsed, body = scrape(port, accept, gzip)
                times.append(elapsed)
            ms = sorted(t * 1000 for t in times)
            line = (f"{name:18} time median {statistics.median(ms):6.2f} ms, max {ms[-1]:6.2f} ms; "
                    f"size {len(body) / 1024:7.1f} KiB")
            if thread_stat:
                per_scrape = (cpu_seconds(thread_stat) - thread_cpu0) / args.scrapes
                line += f"; endpoint CPU {per_scrape * 1000:.2f} ms a scrape ({per_scrape / 15 * 100:.3f} % of a core at 15 s)"
            print(line)
        if not thread_stat:
            print("endpoint thread not found: no CPU per scrape")
        process_cpu = cpu_seconds(process_stat) - process_cpu0
        print(f"whole process meanwhile (1,024 checks a second and the scrapes): "
              f"{process_cpu / (time.monotonic() - wall0) * 100:.1f} % of one core")
        return 0
    finally:
        if process and process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        subprocess.run(["ip", "netns", "del", ns], check=False)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
