"""Shared set-up of the simulator tests: the binary from argv, a temporary directory,
and a helper that starts a simulator with a trace."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sim_client import SimProcess  # noqa: E402

SIM = None


class SimTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="dorvex-sim-test-")
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, *args):
        trace = os.path.join(self.tmp, "trace%d.txt" % len(self.sims))
        sim = SimProcess(SIM, *args, trace=trace)
        self.sims.append(sim)
        return sim

    def trace_lines(self, sim, prefix):
        return [line for line in sim.trace() if line.startswith(prefix)]


def main():
    global SIM
    SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
