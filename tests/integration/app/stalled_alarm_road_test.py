#!/usr/bin/env python3
"""While one host's alarm mail hangs on a server that never greets, ten other
hosts go down and come back twice: each of their failure and recovery lines
must reach the log within a moment of the check that found it, in the
headless runner and in the window alike.

The hosts are addresses of a namespace of the test's own, where the rest of
their network is a black hole: deleting an address makes its host fail,
adding it back makes it answer. A line's check time is written in it to the second, so a line is
judged against the second it names (less than 2 s from its start means less
than 1 s late, give or take the line's own second) and against the switch
that caused it.

Usage: stalled_alarm_road_test.py SENTREL SOURCE_ROOT [--window]
Exit 77: skipped (needs root; the window mode needs Xvfb).
"""

import argparse
import datetime
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HOSTS = [f"198.18.50.{n}" for n in range(1, 11)]
# Goes down and up with them, and mails at every loss.
MAILER = "198.18.50.11"
# A check every 1 to 1.3 s with a 300 ms time-out: a switch is seen by the
# next check within about 1.6 s, and its line may be 1 s late on top.
SWITCH_BOUND = 3.0
LINE_BOUND = 2.0
# The C locale's short date and time.
LINE = re.compile(r"^(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d) (\S+) \((\w+)\) is (online|failed)")


def run(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sentrel")
    parser.add_argument("root")
    parser.add_argument("--window", action="store_true")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return 77
    if args.window and not shutil.which("Xvfb"):
        print("skipped: Xvfb is not installed")
        return 77

    ns = f"sar{os.getpid()}"
    work = tempfile.mkdtemp(prefix="sentrel-road.")
    procs = []
    try:
        run("ip", "netns", "add", ns)
        for cmd in (["link", "set", "lo", "up"], ["route", "add", "blackhole", "198.18.50.0/24"]):
            run("ip", "-n", ns, *cmd)
        run("ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv4.ping_group_range=0 2147483646")

        def switch(up):
            for address in HOSTS + [MAILER]:
                run("ip", "-n", ns, "addr", "add" if up else "del", f"{address}/32", "dev", "lo",
                    check=False)
            return time.time()

        switch(True)
        env = dict(os.environ, HOME=f"{work}/home", XDG_CONFIG_HOME=f"{work}/config",
                   XDG_DATA_HOME=f"{work}/data", XDG_RUNTIME_DIR=f"{work}/run", TZ="UTC", LC_ALL="C")
        for d in ("home", "config/Sentrel", "data", "run", "hosts"):
            os.makedirs(f"{work}/{d}", mode=0o700)

        peer = subprocess.Popen(["ip", "netns", "exec", ns, "/usr/bin/python3",
                                 f"{args.root}/tests/integration/notify/stalling_smtp_peer.py",
                                 "--mode", "silent", "--seconds", "120"],
                                stdout=subprocess.PIPE, text=True)
        procs.append(peer)
        port = peer.stdout.readline().split()[1]

        with open(f"{work}/config/Sentrel/registry.reg", "w", newline="") as f:
            f.write("\r\n".join([
                "REGEDIT4", "", r"[HKEY_CURRENT_USER\SOFTWARE\Sentrel\Options]",
                f'"PathToData"="{work}/hosts"', f'"PathToLog"="{work}/hosts"', '"LogDetail"="1"',
                '"ServerName"="127.0.0.1"', f'"Port"="{port}"', '"From"="s@monitor.test"', "",
                r"[HKEY_CURRENT_USER\SOFTWARE\Sentrel\MainForm]", '"isPinging"="1"', ""]))
        blocks = ["<H>", "<CHK>T</CHK>", f"<HIP>{MAILER}</HIP>", "<HN>mailer</HN>", "<PI>1</PI>",
                  "<TO>300</TO>", "<DIA>T</DIA>", "<DISE>T</DISE>", "<DEA>ops@example.test</DEA>",
                  "</H>"]
        for n, address in enumerate(HOSTS, 1):
            blocks += ["<H>", "<CHK>T</CHK>", f"<HIP>{address}</HIP>", f"<HN>h{n}</HN>",
                       "<PI>1</PI>", "<TO>300</TO>", "</H>"]
        with open(f"{work}/hosts/sentrel.xml", "w", newline="") as f:
            f.write("\r\n".join(blocks) + "\r\n")

        command = ["ip", "netns", "exec", ns, args.sentrel, "-sl"]
        if args.window:
            # Xvfb picks a free display itself (-displayfd) and writes its number once it
            # accepts clients, so parallel tests never share one. It runs out here, not
            # in the namespace; the program reaches it through its socket file.
            reader, writer = os.pipe()
            procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0",
                                           "1024x768x24", "-nolisten", "tcp"],
                                          pass_fds=(writer,), stderr=subprocess.DEVNULL))
            os.close(writer)
            number = b""
            deadline = time.time() + 10
            while not number.endswith(b"\n") and time.time() < deadline:
                ready, _, _ = select.select([reader], [], [], 0.5)
                if ready:
                    chunk = os.read(reader, 16)
                    if not chunk:
                        break
                    number += chunk
            os.close(reader)
            if not number.strip().isdigit():
                print("FAIL: Xvfb did not start")
                return 1
            env["DISPLAY"] = f":{number.strip().decode()}"
        else:
            command.append("--headless")
        app = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=open(f"{work}/err", "w"))
        procs.append(app)

        log_path = f"{work}/hosts/sentrel.log"
        seen = []  # (arrival, host, online, named second)
        offset = 0

        def poll(seconds):
            nonlocal offset
            end = time.time() + seconds
            while time.time() < end:
                try:
                    with open(log_path, "rb") as f:
                        f.seek(offset)
                        chunk = f.read()
                except FileNotFoundError:
                    chunk = b""
                now = time.time()
                complete = chunk[:chunk.rfind(b"\n") + 1]
                offset += len(complete)
                for raw in complete.decode(errors="replace").splitlines():
                    m = LINE.match(raw)
                    if m and m.group(8) != "mailer":
                        month, day, year, hh, mm, ss = (int(m.group(i)) for i in (1, 2, 3, 4, 5, 6))
                        named = datetime.datetime(2000 + year, month, day, hh, mm, ss,
                                                  tzinfo=datetime.timezone.utc).timestamp()
                        seen.append((now, m.group(8), m.group(9) == "online", named))
                time.sleep(0.05)

        def smtp_began():
            try:
                return "Connect to" in open(f"{work}/hosts/smtp.log", errors="replace").read()
            except FileNotFoundError:
                return False

        for _ in range(100):
            poll(0.1)
            if len({s[1] for s in seen if s[2]}) == len(HOSTS):
                break
        else:
            print("FAILED: the hosts were not all seen answering at the start")
            print(open(f"{work}/err").read())
            return 1

        failures = []
        for round_ in range(2):
            for up in (False, True):
                seen.clear()
                at = switch(up)
                poll(5.0)
                if not smtp_began():
                    failures.append("the loss mail never began its transfer")
                for n in range(1, 11):
                    lines = [s for s in seen if s[1] == f"h{n}" and s[2] == up]
                    if not lines:
                        failures.append(f"round {round_}: h{n} {'recovery' if up else 'failure'} never logged")
                        continue
                    arrival, _, _, named = lines[0]
                    if arrival - at > SWITCH_BOUND:
                        failures.append(f"h{n} logged {arrival - at:.2f} s after its switch")
                    if arrival - named > LINE_BOUND:
                        failures.append(f"h{n} logged {arrival - named:.2f} s after the second it names")
        worst = max((s[0] - s[3] for s in seen), default=0.0)

        start = time.time()
        app.send_signal(signal.SIGTERM)
        try:
            app.wait(timeout=5)
        except subprocess.TimeoutExpired:
            failures.append("SIGTERM did not end the program within 5 s")
        took = time.time() - start
        if failures:
            print("FAILED:\n  " + "\n  ".join(failures))
            print(open(f"{work}/err").read())
            return 1
        print(f"{'window' if args.window else 'headless'}: every line in time "
              f"(last round's worst {worst:.2f} s after its named second); SIGTERM took {took:.2f} s")
        print("PASSED")
        return 0
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                # TERM first: Xvfb then removes its own lock and socket files.
                p.terminate()
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        run("ip", "netns", "del", ns, check=False)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
