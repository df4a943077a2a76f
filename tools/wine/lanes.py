#!/usr/bin/env python3
"""Runs the Windows tests of one or more build trees in parallel lanes.

A lane is a Wine environment of its own (tools/wine/wine-env.sh): its prefix (so its registry,
profile and cache files), its X display and its COM-port links. A lane runs one test at a time,
so the tests' RESOURCE_LOCKs ("serial", "display") hold within it, and lanes share nothing that a
test writes. Each test runs through ctest (`ctest -R ^name$`), so every test property applies
(timeouts, environment, skip and will-fail codes); a test added to a tree lands in some lane
without further ado.

    lanes.py [--lanes N] [-R REGEX] [--logs DIR] TREE[:ARCH]...

TREE is a build tree (build/win), ARCH win32 (default) or win64. N lanes (default: the
environment variable DORVEX_TEST_LANES, else twice the number of cores) serve all trees; lane K
keeps its environment in build/lanes/K/wine (wine64). The first lane of an architecture boots a
fresh prefix, the others copy it. A free lane takes the longest test left, by the durations of
earlier runs (TREE/Testing/Temporary/LaneTimes.json), else by those measured here for the longer
tests (tools/wine/lane_times.json, for a fresh clone), else by the test's COST property, else
20 s; once its tree has no test left, it moves to the tree with the most work left per lane.
Prints a line per finished test, the output of each failed one, and ends with
"lanes: P passed, F failed". Exit status 0 when nothing failed.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_ENV = os.path.join(ROOT, "tools", "wine", "wine-env.sh")
DEFAULT_SECONDS = 20.0
TIMES_FILE = os.path.join("Testing", "Temporary", "LaneTimes.json")
# Durations of the longer tests as measured here, for a tree that has no runs of its own yet (a
# fresh clone), so that its longest tests start first there too.
SEED_TIMES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lane_times.json")

# Runs in a lane's own bash: prepares the environment, hands it over as one JSON line, and
# keeps it (Xvfb, wineserver) until the runner closes the pipe.
LANE_SCRIPT = r'''
source "$1" || exit 1
wine_env_start "$2" "$3" >&2 || exit 1
trap wine_env_stop EXIT
python3 -c 'import json, os; print(json.dumps(dict(os.environ)), flush=True)'
read -r _ || true
'''


def read_times(path):
    try:
        with open(path) as f:
            return {name: float(seconds) for name, seconds in json.load(f).items()}
    except (OSError, ValueError, AttributeError):
        return {}


class Tree:
    def __init__(self, spec, regex=None):
        path, _, arch = spec.partition(":")
        self.path = os.path.abspath(path)
        self.arch = arch or "win32"
        self.name = os.path.relpath(self.path, ROOT)
        listing = subprocess.run(["ctest", "--test-dir", self.path, "-N", "--show-only=json-v1"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True)
        self.tests = []
        for test in json.loads(listing.stdout).get("tests", []):
            properties = {p["name"]: p["value"] for p in test.get("properties", [])}
            if regex and not re.search(regex, test["name"]):
                continue
            self.tests.append((test["name"], properties))
        self.seed = read_times(SEED_TIMES)
        self.times = read_times(os.path.join(self.path, TIMES_FILE))
        self.pending = sorted((t for t in self.tests), key=lambda t: -self.estimate(t))
        self.lanes = 0
        self.template = None  # prefix of the first lane, once it is ready
        self.template_ready = threading.Event()
        self.template_claimed = False
        self.claim_lock = threading.Lock()

    def estimate(self, test):
        name, properties = test
        if name in self.times:
            return float(self.times[name])
        if name in self.seed:
            return float(self.seed[name])
        try:
            return float(properties.get("COST", DEFAULT_SECONDS)) or DEFAULT_SECONDS
        except (TypeError, ValueError):
            return DEFAULT_SECONDS

    def work_left(self):
        return sum(self.estimate(t) for t in self.pending)


class Lane:
    """A Wine environment kept by a bash process until stop()."""

    def __init__(self, number, tree, logs):
        self.number, self.tree = number, tree
        self.log_path = os.path.join(logs, "lane%d-%s.log" % (number, tree.arch))
        self.process = None
        self.env = None

    def start(self):
        tree = self.tree
        env = dict(os.environ)
        env.pop("DORVEX_WINE_TEMPLATE", None)
        with tree.claim_lock:
            self.makes_template = not tree.template_claimed
            tree.template_claimed = True
        if not self.makes_template:
            tree.template_ready.wait()
            if tree.template is None:
                raise RuntimeError("the first lane of %s did not start" % tree.name)
            env["DORVEX_WINE_TEMPLATE"] = tree.template
        env["DORVEX_WINE_ROOT"] = os.path.join(ROOT, "build", "lanes", str(self.number), "wine")
        started = time.time()
        try:
            with open(self.log_path, "a") as log:
                self.process = subprocess.Popen(["bash", "-c", LANE_SCRIPT, "lane", WINE_ENV, "fresh", tree.arch],
                                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, env=env,
                                                text=True, start_new_session=True)
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError("lane %d (%s) did not start; see %s" % (self.number, tree.arch, self.log_path))
            self.env = json.loads(line)
        finally:
            if self.makes_template:
                if self.env is not None:
                    tree.template = self.env["WINEPREFIX"]
                tree.template_ready.set()
        return time.time() - started

    def stop(self):
        if self.process is None:
            return
        try:
            self.process.stdin.close()
            self.process.wait(timeout=120)
        except (OSError, subprocess.TimeoutExpired):
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except OSError:
                pass
            self.process.wait()
        self.process = None


class Runner:
    def __init__(self, trees, lanes, logs):
        self.trees, self.lane_count, self.logs = trees, lanes, logs
        self.lock = threading.Lock()
        self.total = sum(len(t.tests) for t in trees)
        self.done = 0
        self.failed = []
        self.results = {t.name: [0, 0] for t in trees}  # passed, failed
        self.started = time.time()
        self.running = set()  # test processes, stopped on an interrupt

    def say(self, text):
        with self.lock:
            print(text, flush=True)

    def choose(self, current):
        """The tree a free lane serves next: its own while it has tests left, else the one
        with the most work left per lane (a tree without a lane first)."""
        with self.lock:
            if current is not None and current.pending:
                return current
            left = [t for t in self.trees if t.pending]
            if not left:
                return None
            best = max(left, key=lambda t: (t.lanes == 0, t.work_left() / (t.lanes + 1)))
            best.lanes += 1
            if current is not None:
                current.lanes -= 1
            return best

    def take(self, tree):
        with self.lock:
            return tree.pending.pop(0) if tree.pending else None

    def run_test(self, lane, test):
        tree = lane.tree
        name, properties = test
        log_path = os.path.join(self.logs, name + ".log")
        limit = float(properties.get("TIMEOUT", 1500)) + 300
        # -V: the log keeps what a passing test printed too (its counts, its longest waits).
        command = ["ctest", "--test-dir", tree.path, "-R", "^%s$" % re.escape(name), "-V",
                   "--timeout", "900", "--no-tests=error"]
        started = time.time()
        with open(log_path, "w") as log:
            log.write("lane %d: DISPLAY=%s WINEPREFIX=%s\n" % (lane.number, lane.env.get("DISPLAY"),
                                                            lane.env.get("WINEPREFIX")))
            log.flush()
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                       env=lane.env, start_new_session=True)
            with self.lock:
                self.running.add(process)
            try:
                status = process.wait(timeout=limit)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                status = None
                log.write("\nlanes: killed after %.0f s\n" % limit)
            finally:
                with self.lock:
                    self.running.discard(process)
        seconds = time.time() - started
        with open(log_path, errors="replace") as f:
            output = f.read()
        passed = status == 0
        verdict = "Passed" if passed else ("Killed" if status is None else "Failed")
        if passed and re.search(r"\*\*\*Skipped|Not Run", output):
            verdict = "Skipped"
        with self.lock:
            self.done += 1
            self.results[tree.name][0 if passed else 1] += 1
            tree.times[name] = round(seconds, 1)
            if not passed:
                self.failed.append(name)
            line = "%3d/%d %-44s %-7s %7.1f s  lane %d" % (self.done, self.total, name, verdict, seconds, lane.number)
            print(line, flush=True)
            if not passed:
                lines = output.rstrip().splitlines()
                print("---- output of %s (%s%s)" % (name, log_path,
                                                  ", its last 300 lines" if len(lines) > 300 else ""))
                print("\n".join(lines[-300:]))
                print("----", flush=True)

    def slot(self, number):
        lane = None
        tree = None
        try:
            while True:
                tree_next = self.choose(tree)
                if tree_next is None:
                    break
                if lane is None or tree_next is not tree:
                    if lane is not None:
                        lane.stop()
                    tree = tree_next
                    lane = Lane(number, tree, self.logs)
                    try:
                        seconds = lane.start()
                    except (RuntimeError, ValueError) as error:
                        self.say("lane %d: %s" % (number, error))
                        lane = None
                        self.fail_rest(tree, str(error))
                        continue
                    self.say("lane %d: %s environment ready in %.0f s (DISPLAY %s, %s)" %
                             (number, tree.arch, seconds, lane.env.get("DISPLAY"),
                              os.path.relpath(lane.env.get("WINEPREFIX", "?"), ROOT)))
                test = self.take(tree)
                if test is not None:
                    self.run_test(lane, test)
        finally:
            if lane is not None:
                lane.stop()

    def fail_rest(self, tree, reason):
        with self.lock:
            while tree.pending:
                name, _ = tree.pending.pop(0)
                self.done += 1
                self.results[tree.name][1] += 1
                self.failed.append(name)
                print("%3d/%d %-44s Not run (%s)" % (self.done, self.total, name, reason), flush=True)

    def run(self):
        threads = [threading.Thread(target=self.slot, args=(n,), daemon=True) for n in range(1, self.lane_count + 1)]
        for thread in threads:
            thread.start()
        try:
            for thread in threads:
                while thread.is_alive():
                    thread.join(1)
        except BaseException:
            # Interrupted: end the running tests; the lanes end their environments when this
            # process's pipes close.
            with self.lock:
                for process in self.running:
                    try:
                        os.killpg(process.pid, signal.SIGKILL)
                    except OSError:
                        pass
            raise
        for tree in self.trees:
            try:
                with open(os.path.join(tree.path, TIMES_FILE), "w") as f:
                    json.dump(tree.times, f, indent=0, sort_keys=True)
            except OSError:
                pass
        passed = sum(p for p, _ in self.results.values())
        failed = sum(f for _, f in self.results.values())
        print()
        for tree in self.trees:
            p, f = self.results[tree.name]
            print("%s: %d passed, %d failed" % (tree.name, p, f))
        if self.failed:
            print("Failed: " + " ".join(self.failed))
        print("Windows tests in %d lanes: %.0f s" % (self.lane_count, time.time() - self.started))
        print("lanes: %d passed, %d failed" % (passed, failed), flush=True)
        return failed == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("trees", nargs="+", metavar="TREE[:ARCH]")
    parser.add_argument("--lanes", type=int,
                        default=int(os.environ.get("DORVEX_TEST_LANES") or 2 * (os.cpu_count() or 1)))
    parser.add_argument("-R", "--regex", help="only the tests whose names match")
    parser.add_argument("--logs", default=os.path.join(ROOT, "build", "test-logs"))
    args = parser.parse_args()
    os.makedirs(args.logs, exist_ok=True)
    trees = [Tree(spec, args.regex) for spec in args.trees]
    runner = Runner(trees, max(1, args.lanes), args.logs)
    # A lane thread left running at an interrupt still stops its environment (finally above).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    return 0 if runner.run() else 1


if __name__ == "__main__":
    sys.exit(main())
