#!/usr/bin/env python3
"""Kill -9 at any moment: the host list and the registry file survive.

Changes the host list again and again through the command line (add,
remove, enable, disable) and lets the headless runner save on its own (it
rewrites the registry file when it stops), while this process kills the
writer with SIGKILL at a random moment: early, in the middle, or close to
the end of its run, where the saving happens. After every kill:

- the data file and the registry file load (a separate reader says so) and
  hold, byte for byte, either the state before the interrupted change or
  the state after it (the state after is what the same change gives when it
  runs to its end on a copy);
- the backup sentrel.BAK is the state before the change or an older one,
  and its time is never later than the data file's;
- no temporary file is left beside them, and the next change runs.

Usage: kill_writer_test.py SENTREL STATE_PROBE [--rounds N] [--seed S]
"""

import argparse
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAIN_FORM = "SOFTWARE\\Sentrel\\MainForm"


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def write_atomically(path, data):
    with open(path + ".test", "wb") as f:
        f.write(data)
    os.replace(path + ".test", path)


class Failure(Exception):
    pass


class Setup:
    """A user of its own: config, data and log folders in one work folder,
    and a shadow copy that runs each change to its end first."""

    def __init__(self, work, sentrel, probe):
        self.work = work
        self.sentrel = sentrel
        self.probe = probe
        self.config = os.path.join(work, "config")
        self.data = os.path.join(work, "data")
        self.shadow_config = os.path.join(work, "shadow-config")
        self.shadow_data = os.path.join(work, "shadow-data")
        for folder in (self.data, self.shadow_data, os.path.join(work, "logs"),
                       os.path.join(work, "run"), os.path.join(work, "home")):
            os.makedirs(folder)
        self.registry = self._write_registry(self.config, self.data)
        self.shadow_registry = self._write_registry(self.shadow_config, self.shadow_data)

    def _write_registry(self, config, data):
        folder = os.path.join(config, "Sentrel")
        os.makedirs(folder, mode=0o700)
        path = os.path.join(folder, "registry.reg")
        # The event log goes elsewhere: only the files under test are in the data folder.
        lines = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel\\Options]",
                 '"PathToData"="%s"' % data, '"PathToLog"="%s"' % os.path.join(self.work, "logs"),
                 '"LogDetail"="1"']
        with open(path, "wb") as f:
            f.write("".join(line + "\r\n" for line in lines).encode())
        os.chmod(path, 0o600)
        return path

    def env(self, shadow=False):
        env = dict(os.environ)
        env.update(HOME=os.path.join(self.work, "home"),
                   XDG_CONFIG_HOME=self.shadow_config if shadow else self.config,
                   XDG_DATA_HOME=os.path.join(self.work, "home"),
                   XDG_RUNTIME_DIR=os.path.join(self.work, "run"))
        # A sanitizer report would be lost in a killed process anyway; keep
        # the exit quick.
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        return env

    def state(self):
        return {name: read(os.path.join(self.data, name)) for name in ("sentrel.xml", "sentrel.BAK")}

    def run_to_end(self, args, shadow):
        started = time.monotonic()
        done = subprocess.run([self.sentrel] + args, env=self.env(shadow), timeout=60,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            raise Failure("%s ended with %d: %s" % (args, done.returncode, done.stderr.decode()))
        return time.monotonic() - started

    def probe_state(self):
        done = subprocess.run([self.probe, self.registry, self.data], env=self.env(), timeout=60,
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Failure("the registry file does not load: " + done.stdout + done.stderr)
        values = dict(line.split(" ", 1) for line in done.stdout.splitlines())
        if values.get("registry") != "ok":
            raise Failure("the registry file is damaged: " + values.get("registry", "?"))
        return values


def wait_for_line(process, timeout):
    """Reads the runner's standard output until its first line, bounded."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], 0.05)
        if ready:
            return process.stdout.readline()
    return b""


def kill_after(process, delay):
    """SIGKILL after `delay` seconds unless it ended first; True when killed."""
    try:
        process.wait(timeout=delay)
        return False
    except subprocess.TimeoutExpired:
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=10)
        return True


def kill_moment(duration, rng):
    # Half the kills land anywhere in the run, half in its last part, where
    # the file is written.
    if rng.random() < 0.5:
        return rng.uniform(0, duration * 1.1)
    return rng.uniform(duration * 0.6, duration * 1.05)


TEMPORARY = re.compile(r"^\.(sentrel\.xml|sentrel\.BAK|sentrel\.state|registry\.reg)\.[A-Za-z0-9]{6}$")


def leftovers(setup):
    """Files beside the data and registry files that are not theirs."""
    expected = {"sentrel.xml", "sentrel.BAK", "registry.reg", "registry.reg.damaged"}
    # The runner's history database keeps itself crash-safe (SQLite's journal).
    expected |= {"history.db", "history.db-wal", "history.db-shm", "history.db-journal"}
    # The states a running Sentrel shows to --list; a killed one leaves them.
    expected.add("sentrel.state")
    found = []
    for folder in (setup.data, os.path.dirname(setup.registry)):
        found += [n for n in os.listdir(folder) if n not in expected]
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sentrel")
    parser.add_argument("probe")
    parser.add_argument("--rounds", type=int, default=300)
    parser.add_argument("--seed", type=int, default=None)
    options = parser.parse_args()
    seed = options.seed if options.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print("seed", seed, flush=True)

    work = tempfile.mkdtemp(prefix="sentrel-kill.")
    setup = Setup(work, options.sentrel, options.probe)
    outcomes = {"before": 0, "after": 0, "same": 0}
    kills = 0
    left_behind = 0
    try:
        # A few hosts, and a registry file that the runner has written once
        # (its own form, with "isPinging" set), so both states of a runner's
        # save are known byte for byte.
        for n in range(3):
            setup.run_to_end(["--add", "127.0.0.%d" % (n + 1), "--desc", "host %d" % n], False)
        runner = subprocess.Popen([setup.sentrel, "--headless", "--ping"], env=setup.env(),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if not wait_for_line(runner, 30):
            raise Failure("the runner did not start")
        started = time.monotonic()
        runner.send_signal(signal.SIGTERM)
        if runner.wait(timeout=30) != 0:
            raise Failure("the runner did not end cleanly")
        stop_time = time.monotonic() - started
        registry_after = read(setup.registry)
        if b'"isPinging"="1"' not in registry_after:
            raise Failure("the runner did not store isPinging")
        registry_before = registry_after.replace(b'"isPinging"="1"', b'"isPinging"="0"')

        hosts = 3
        for round_number in range(options.rounds):
            before = setup.state()
            registry_now = read(setup.registry)
            action = rng.choice(["add", "remove", "enable", "disable", "runner"])
            if action == "add" and hosts >= 8:
                action = "remove"
            if action == "remove" and hosts <= 1:
                action = "add"

            if action == "runner":
                write_atomically(setup.registry, registry_before)
                runner = subprocess.Popen([setup.sentrel, "--headless", "--ping"],
                                          env=setup.env(), stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL)
                if rng.random() < 0.2:
                    killed = kill_after(runner, rng.uniform(0, 0.05))
                else:
                    if not wait_for_line(runner, 30):
                        raise Failure("round %d: the runner did not start" % round_number)
                    runner.send_signal(signal.SIGTERM)
                    killed = kill_after(runner, kill_moment(stop_time, rng))
                runner.stdout.close()
                if not killed and runner.returncode != 0:
                    raise Failure("round %d: the runner ended with %d" % (round_number,
                                                                         runner.returncode))
                allowed = {"sentrel.xml": [before["sentrel.xml"]]}
                registries = [registry_before, registry_after]
                after_hosts = hosts
            else:
                if action == "add":
                    args = ["--add", "127.0.%d.%d" % (rng.randrange(256), rng.randrange(1, 255)),
                            "--desc", "round %d" % round_number]
                else:
                    args = ["--" + action, str(rng.randrange(1, hosts + 1))]
                # The state after: the same change run to its end on a copy.
                for name, data in before.items():
                    target = os.path.join(setup.shadow_data, name)
                    if data is None:
                        if os.path.exists(target):
                            os.remove(target)
                    else:
                        with open(target, "wb") as f:
                            f.write(data)
                duration = setup.run_to_end(args, True)
                after = read(os.path.join(setup.shadow_data, "sentrel.xml"))
                process = subprocess.Popen([setup.sentrel] + args, env=setup.env(),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                killed = kill_after(process, kill_moment(duration, rng))
                if not killed and process.returncode != 0:
                    raise Failure("round %d: %s ended with %d" % (round_number, args,
                                                                  process.returncode))
                allowed = {"sentrel.xml": [before["sentrel.xml"], after]}
                registries = [registry_now]  # the command line does not write it
                after_hosts = hosts + (1 if action == "add" else -1 if action == "remove" else 0)
            kills += killed

            now = setup.state()
            data = now["sentrel.xml"]
            if data not in allowed["sentrel.xml"]:
                raise Failure("round %d (%s): the data file holds neither state" %
                              (round_number, action))
            if read(setup.registry) not in registries:
                raise Failure("round %d (%s): the registry file holds neither state" %
                              (round_number, action))
            if action != "runner":
                if allowed["sentrel.xml"][0] == allowed["sentrel.xml"][1]:
                    outcomes["same"] += 1
                elif data == allowed["sentrel.xml"][1]:
                    outcomes["after"] += 1
                    hosts = after_hosts
                else:
                    outcomes["before"] += 1
            # The backup holds the state before this change or the one
            # before that, and never looks newer than the file.
            if now["sentrel.BAK"] not in (before["sentrel.BAK"], before["sentrel.xml"]):
                raise Failure("round %d (%s): the backup holds a state that was never before"
                              % (round_number, action))
            bak = os.path.join(setup.data, "sentrel.BAK")
            if os.path.exists(bak):
                file_time = os.stat(os.path.join(setup.data, "sentrel.xml")).st_mtime_ns
                if os.stat(bak).st_mtime_ns > file_time:
                    raise Failure("round %d (%s): the backup is newer than the file" %
                                  (round_number, action))
            # A writer killed in the instant between naming a temporary file
            # and renaming it leaves a hidden one, which nothing reads and the
            # next completed write of that file removes.
            extra = leftovers(setup)
            strange = [n for n in extra if not TEMPORARY.match(n)]
            if strange:
                raise Failure("round %d (%s): left behind: %s" % (round_number, action, strange))
            own = [n for n in extra if ("registry" in n) == (action == "runner")]
            if own and not killed:
                raise Failure("round %d (%s): a completed write left %s" %
                              (round_number, action, own))
            left_behind += bool(extra)
            values = setup.probe_state()
            if int(values["hosts"]) != hosts:
                raise Failure("round %d (%s): %s hosts load, %d expected" %
                              (round_number, action, values["hosts"], hosts))

        # A later start runs as usual, and a completed save leaves nothing.
        setup.run_to_end(["--list"], False)
        setup.run_to_end(["--enable", "1"], False)
        if [n for n in leftovers(setup) if "registry" not in n]:
            raise Failure("a completed save left %s" % leftovers(setup))
        print("%d rounds, %d writers killed; changes interrupted before their save: %d, "
              "completed: %d, without effect: %d; rounds with a hidden temporary file "
              "left: %d" % (options.rounds, kills, outcomes["before"], outcomes["after"],
                            outcomes["same"], left_behind))
        return 0
    except (Failure, subprocess.TimeoutExpired) as error:
        print("FAILED:", error)
        print("work folder kept:", work)
        work = None
        return 1
    finally:
        if work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
