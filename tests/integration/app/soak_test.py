#!/usr/bin/env python3
"""Soak: the headless runner watches many hosts that go down and come back.

Every host lives in a network namespace of its own, joined to the runner's
namespace by a bridge; it "goes down" by ignoring echo requests and "comes
back" by answering again, each on a random schedule of its own. A real SMTP
server (Debian's python3-aiosmtpd) in the runner's namespace receives the
alarm mails. Each host checks every second; the hosts differ in their
repeat counts and in which alarms send mail, and some go down only briefly,
for fewer checks than their loss repeat count.

At the end:
- every state change is logged exactly once, in order, and nothing else;
- there is one alarm mail per change whose repeat count was reached, and
  none for a change that did not last that long or whose alarm sends no mail.
  How long a host really stayed down is measured around the switches, so a
  slow moment of this script on a loaded machine, or a brief down that the
  quiet end leaves running, is judged by what the runner actually saw;
- memory, threads and open files do not grow: the last quarter of the run
  stays within the first quarter's range (see GROWTH below).

Usage: soak_test.py SENTREL SOURCE_ROOT [--seconds S] [--hosts N] [--report FILE]
Exit 77: skipped (needs root for the namespaces, and python3-aiosmtpd).
"""

import argparse
import os
import random
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

# How much the last quarter may exceed the first one. Threads: not at all.
# Open files: a mail transfer or a log line holds one or two for a moment,
# so the medians are compared. Memory: the resident size may move by the
# allocator's caching, but not by a leak's steady rise.
RSS_SLACK = 1.10
RSS_SLACK_KB = 2048

# Timing rules of the schedule, in seconds. A check comes every 1 to 1.3 s
# (interval 1 s, time-out 300 ms), so a period of 3.5 s is always seen and
# holds at most 4 checks, and a long one holds at least 10.
BRIEF_DOWN = (3.5, 3.5)
LONG_DOWN = (14.0, 20.0)
UP = (6.0, 20.0)
QUIET_END = 20.0  # no change in the last part: the last alarms can arrive
CHECK_SPACING = (1.0, 1.3)

# Host kinds: loss repeat count, renewal repeat count, loss mail, renewal
# mail, brief downs possible.
KINDS = [
    (1, 1, True, True, False),
    (3, 2, True, True, False),
    (8, 1, True, True, True),   # brief downs never reach 8 failed checks
    (2, 1, True, False, False),
]


class Period:
    """One down or up period of a host, as switched by this script."""

    def __init__(self, down, brief, began, done):
        self.down, self.brief = down, brief
        self.began, self.done = began, done
        self.ended = self.ended_done = None

    def end(self, began, done):
        self.ended, self.ended_done = began, done

    def shortest(self):
        return self.ended - self.done

    def longest(self):
        return self.ended_done - self.began


def alarm_mails(period, repeat_count):
    """(fewest, most) alarm mails that a period may bring. A check comes
    every CHECK_SPACING seconds, so a period of length L holds at least
    L // longest spacing checks and at most L // shortest spacing + 1."""
    fewest = 1 if period.shortest() // CHECK_SPACING[1] >= repeat_count else 0
    most = 1 if period.longest() // CHECK_SPACING[0] + 1 >= repeat_count else 0
    return fewest, most


def run(*args, check=True):
    return subprocess.run(args, check=check, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Namespaces:
    """PREFIX-cli with a bridge, PREFIX-hN for each host on it. The names
    follow scripts/netns-topology.sh, whose "clean" removes what a killed
    run left behind."""

    def __init__(self, root, prefix, hosts):
        self.root = root
        self.prefix = prefix
        self.cli = prefix + "-cli"
        self.hosts = [prefix + "-h%d" % i for i in range(hosts)]
        self.made = []

    def up(self):
        subprocess.run([os.path.join(self.root, "scripts", "netns-topology.sh"), "clean"],
                       check=False)
        for ns in [self.cli] + self.hosts:
            run("ip", "netns", "add", ns)
            self.made.append(ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
            run("ip", "netns", "exec", ns, "sysctl", "-qw", "net.ipv4.icmp_ratelimit=0",
                "net.ipv4.icmp_msgs_per_sec=100000", "net.ipv4.icmp_msgs_burst=100000")
        run("ip", "netns", "exec", self.cli, "sysctl", "-qw",
            "net.ipv4.ping_group_range=0 2147483646")
        run("ip", "-n", self.cli, "link", "add", "br0", "type", "bridge")
        run("ip", "-n", self.cli, "addr", "add", "198.18.16.1/20", "dev", "br0")
        run("ip", "-n", self.cli, "link", "set", "br0", "up")
        for i, ns in enumerate(self.hosts):
            run("ip", "-n", self.cli, "link", "add", "v%d" % i, "type", "veth", "peer", "name",
                "t0", "netns", ns)
            run("ip", "-n", self.cli, "link", "set", "v%d" % i, "master", "br0", "up")
            run("ip", "-n", ns, "addr", "add", self.address(i) + "/20", "dev", "t0")
            run("ip", "-n", ns, "link", "set", "t0", "up")

    @staticmethod
    def address(i):
        return "198.18.%d.%d" % (16 + (10 + i) // 250, (10 + i) % 250 + 1)

    def answer(self, i, on):
        run("ip", "netns", "exec", self.hosts[i], "sysctl", "-qw",
            "net.ipv4.icmp_echo_ignore_all=%d" % (0 if on else 1))

    def down(self):
        for ns in self.made:
            run("ip", "netns", "del", ns, check=False)


def host_block(i, address, kind):
    loss_rc, renewal_rc, loss_mail, renewal_mail, _ = KINDS[kind]
    lines = ["<H>", "<CHK>T</CHK>", "<HIP>%s</HIP>" % address, "<HN>h%d</HN>" % i, "<PI>1</PI>",
             "<TO>300</TO>", "<GTIM>1250</GTIM>", "<LTIM>1666</LTIM>", "<YTIM>2500</YTIM>",
             "<OTIM>5000</OTIM>", "<WIA>T</WIA>"]
    if renewal_rc > 1:
        lines.append("<WRC>%d</WRC>" % renewal_rc)
    if renewal_mail:
        lines += ["<WISE>T</WISE>", "<WEA>ops@example.test</WEA>"]
    lines += ["<WSBJ>%HostName% back</WSBJ>", "<DIA>T</DIA>"]
    if loss_rc > 1:
        lines.append("<DRC>%d</DRC>" % loss_rc)
    if loss_mail:
        lines += ["<DISE>T</DISE>", "<DEA>ops@example.test</DEA>"]
    lines += ["<DSBJ>%HostName% lost</DSBJ>", "</H>"]
    return "".join(line + "\r\n" for line in lines)


def sample(pid):
    """Resident kB, threads, open descriptors of a process; None when gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        fds = len(os.listdir("/proc/%d/fd" % pid))
        return int(status["VmRSS"].split()[0]), int(status["Threads"]), fds
    except (OSError, KeyError, ValueError):
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sentrel")
    parser.add_argument("root")
    parser.add_argument("--seconds", type=float, default=90)
    parser.add_argument("--hosts", type=int, default=12)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--report", default=None)
    options = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return 77
    if subprocess.run(["/usr/bin/python3", "-c", "import aiosmtpd"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        print("skipped: Debian's python3-aiosmtpd is not installed")
        return 77
    if options.seconds < 4 * QUIET_END:
        print("--seconds must be at least %d" % (4 * QUIET_END))
        return 2
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)

    work = tempfile.mkdtemp(prefix="sentrel-soak.")
    nets = Namespaces(options.root, "snp%d" % os.getpid(), options.hosts)
    smtp = runner = None
    report = []

    def say(text):
        print(text, flush=True)
        report.append(text)

    say("seed %d, %d hosts, %.0f s" % (seed, options.hosts, options.seconds))
    try:
        nets.up()
        mail = os.path.join(work, "mail")
        os.makedirs(mail)
        smtp = subprocess.Popen(
            ["ip", "netns", "exec", nets.cli, "/usr/bin/python3",
             os.path.join(options.root, "tests", "integration", "notify", "smtp_peer.py"),
             "--store", mail, "--mechanisms", ""],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        ready, _, _ = select.select([smtp.stdout], [], [], 20)
        line = smtp.stdout.readline().decode() if ready else ""
        if not line.startswith("PORT "):
            raise RuntimeError("the SMTP peer did not start")
        port = int(line.split()[1])

        hosts_folder = os.path.join(work, "hosts")
        config = os.path.join(work, "config", "Sentrel")
        for folder in (hosts_folder, config, os.path.join(work, "run")):
            os.makedirs(folder)
        registry = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]",
                    '"PathToData"="%s"' % hosts_folder, '"PathToLog"="%s"' % hosts_folder,
                    '"LogDetail"="1"', '"LogSize"="64"', '"ServerName"="127.0.0.1"',
                    '"Port"="%d"' % port, '"From"="Sentrel <sentrel@monitor.test>"']
        with open(os.path.join(config, "registry.reg"), "w", newline="") as f:
            f.write("".join(line + "\r\n" for line in registry))
        kinds = [i % len(KINDS) for i in range(options.hosts)]
        with open(os.path.join(hosts_folder, "sentrel.xml"), "w", newline="") as f:
            for i in range(options.hosts):
                f.write(host_block(i, nets.address(i), kinds[i]))

        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_DATA_HOME=work, XDG_RUNTIME_DIR=os.path.join(work, "run"))
        out = open(os.path.join(work, "out"), "wb")
        runner = subprocess.Popen(["ip", "netns", "exec", nets.cli, options.sentrel,
                                   "--headless", "--ping"], env=env, stdout=out,
                                  stderr=subprocess.STDOUT)
        start = time.monotonic()
        end = start + options.seconds
        quiet = end - QUIET_END

        # The schedule: every host starts up; each period's length is drawn
        # when it starts. Each period keeps when its switch began and was
        # done, and the same for the switch that ended it.
        up = [True] * options.hosts
        periods = [[] for _ in range(options.hosts)]
        next_change = [start + rng.uniform(*UP) for _ in range(options.hosts)]
        samples = []
        next_sample = start
        while time.monotonic() < end:
            now = time.monotonic()
            if now >= next_sample:
                figures = sample(runner.pid)
                if figures is None:
                    raise RuntimeError("the runner ended early")
                samples.append((now - start,) + figures)
                next_sample += 1.0
            for i in range(options.hosts):
                if now < next_change[i] or now >= quiet:
                    continue
                if up[i]:
                    brief = KINDS[kinds[i]][4] and rng.random() < 0.5
                    length = rng.uniform(*(BRIEF_DOWN if brief else LONG_DOWN))
                else:
                    brief = False
                    length = rng.uniform(*UP)
                began = time.monotonic()
                nets.answer(i, not up[i])
                done = time.monotonic()
                if periods[i]:
                    periods[i][-1].end(began, done)
                periods[i].append(Period(up[i], brief, began, done))
                up[i] = not up[i]
                next_change[i] = time.monotonic() + length
            time.sleep(0.05)

        stopped = time.monotonic()
        for host_periods in periods:
            if host_periods and host_periods[-1].ended is None:
                host_periods[-1].end(stopped, stopped)
        runner.send_signal(signal.SIGTERM)
        if runner.wait(timeout=30) != 0:
            raise RuntimeError("the runner ended with %d" % runner.returncode)
        runner = None
        out.close()
        smtp.stdin.close()
        smtp.wait(timeout=10)
        smtp = None

        failures = check(work, options.hosts, kinds, periods, say)
        failures += check_growth(samples, say)
        changes = sum(len(p) for p in periods) + options.hosts
        say("state changes made: %d (%d brief downs)" %
            (changes, sum(1 for p in periods for period in p if period.brief)))
        if failures:
            say("FAILED:\n  " + "\n  ".join(failures))
            say("work folder kept: " + work)
            work = None
            return 1
        say("passed")
        return 0
    finally:
        if runner is not None:
            runner.kill()
            runner.wait()
        if smtp is not None:
            smtp.kill()
            smtp.wait()
        nets.down()
        if options.report:
            with open(options.report, "w") as f:
                f.write("\n".join(report) + "\n")
        if work:
            shutil.rmtree(work, ignore_errors=True)


def check(work, hosts, kinds, periods, say):
    """Log lines and mails against the schedule."""
    failures = []
    with open(os.path.join(work, "hosts", "sentrel.log"), "rb") as f:
        log = f.read().decode("latin-1")
    logged = [[] for _ in range(hosts)]
    others = 0
    for line in log.splitlines():
        found = re.search(r"\(h(\d+)\) is (online|failed)", line)
        if found:
            logged[int(found.group(1))].append(found.group(2) == "failed")
        elif line.strip():
            others += 1
    if others:
        failures.append("%d log lines that are no state change" % others)

    mails = {}
    for name in os.listdir(os.path.join(work, "mail")):
        if not name.endswith(".data"):
            continue
        with open(os.path.join(work, "mail", name), "rb") as f:
            found = re.search(rb"^Subject: h(\d+) (lost|back)\r?$", f.read(), re.M)
        if not found:
            failures.append("mail %s without an alarm subject" % name)
            continue
        key = (int(found.group(1)), found.group(2) == b"lost")
        mails[key] = mails.get(key, 0) + 1

    mail_count = sum(mails.values())
    for i in range(hosts):
        _, _, loss_mail, renewal_mail, _ = KINDS[kinds[i]]
        # The first result after the start is a change too: every host
        # starts up.
        expected = [False] + [period.down for period in periods[i]]
        if logged[i] != expected:
            failures.append("h%d: logged %s, changed %s" % (i, logged[i], expected))
        loss_rc, renewal_rc = KINDS[kinds[i]][:2]
        downs = [alarm_mails(p, loss_rc) for p in periods[i] if p.down]
        ups = [(1, 1)] + [alarm_mails(p, renewal_rc) for p in periods[i] if not p.down]
        want = {True: downs if loss_mail else [], False: ups if renewal_mail else []}
        for lost in (True, False):
            got = mails.get((i, lost), 0)
            fewest = sum(f for f, _ in want[lost])
            most = sum(m for _, m in want[lost])
            if not fewest <= got <= most:
                failures.append("h%d: %d %s mails, %s expected" %
                                (i, got, "loss" if lost else "renewal",
                                 fewest if fewest == most else "%d to %d" % (fewest, most)))
    say("log lines: %d state changes; alarm mails: %d" % (sum(len(x) for x in logged), mail_count))
    return failures


def check_growth(samples, say):
    failures = []
    quarter = len(samples) // 4
    if quarter < 3:
        return ["too few samples (%d)" % len(samples)]
    first, last = samples[:quarter], samples[-quarter:]

    def figures(part, index):
        values = [s[index] for s in part]
        return min(values), statistics.median(values), max(values)

    names = {1: "resident kB", 2: "threads", 3: "open files"}
    for index, name in names.items():
        f, l = figures(first, index), figures(last, index)
        say("%-12s first quarter min/median/max %s, last quarter %s" % (name, f, l))
    rss_first, rss_last = figures(first, 1), figures(last, 1)
    if rss_last[1] > rss_first[2] * RSS_SLACK + RSS_SLACK_KB:
        failures.append("memory grew: last quarter median %d kB over first quarter max %d kB"
                        % (rss_last[1], rss_first[2]))
    # A mail transfer has a thread of its own while it runs, so one sample
    # may hold one more; a leak shows in the median.
    if figures(last, 2)[1] > figures(first, 2)[2]:
        failures.append("threads grew")
    if figures(last, 3)[1] > figures(first, 3)[1]:
        failures.append("open files grew")
    return failures


if __name__ == "__main__":
    sys.exit(main())
