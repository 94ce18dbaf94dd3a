"""korw --machine through its protocol: every request answered by one JSON line, the questions
answered without touching the session output, SIGINT stopping only what runs."""

import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

KORW = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build/korw")


class Machine:
    def __init__(self, directory, out, env=None):
        self.process = subprocess.Popen(
            [KORW, "--machine", "--out", out], cwd=directory, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.first = self.read()

    def read(self):
        line = self.process.stdout.readline()
        return json.loads(line) if line else None

    def send(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def ask(self, text):
        self.send(text)
        return self.read()

    def close(self):
        self.process.stdin.close()
        last = self.read()
        return last, self.process.wait(timeout=10)


class MachineMode(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.out = os.path.join(self.dir, "kept.OUT")
        self.m = Machine(self.dir, self.out)

    def tearDown(self):
        if self.m.process.poll() is None:
            self.m.process.kill()
            self.m.process.wait()

    def test_results_errors_pictures_and_programs_are_framed(self):
        self.assertTrue(self.m.first["ready"])
        self.assertEqual(self.m.first["directory"], os.path.realpath(self.dir))
        a = self.m.ask("command VARIATE x 3\n")
        self.assertEqual((a["status"], a["output"], a["error"]), ("ok", "", ""))
        a = self.m.ask("command x=#*2\n")
        self.assertEqual(a["status"], "ok")
        a = self.m.ask("command list x\n")
        self.assertEqual(a["output"], "          X\n     2.0000\n     4.0000\n     6.0000\n")
        a = self.m.ask("command LIST nosuch\n")
        self.assertEqual((a["status"], a["error"], a["output"]),
                         ("error", "Invalid identifier NOSUCH", ""))
        # A program: a continuation line, a jump, and a stop at the first failing line.
        a = self.m.ask("program 7\nVARIATE y 2\nCOMPUTE y = # \\\n + 1\nGOTO %skip 1\n"
                       "LIST nosuch\n%skip\nLIST y\n")
        self.assertEqual(a["status"], "ok")
        self.assertEqual(a["output"], "          Y\n     2.0000\n     3.0000\n")
        a = self.m.ask("program 2\nLIST nosuch\nLIST y\n")
        self.assertEqual((a["status"], a["error"]), ("error", "Invalid identifier NOSUCH (line 1)"))
        a = self.m.ask("command PLOT x x\n")
        self.assertEqual(len(a["pictures"]), 1)
        with open(a["pictures"][0], "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        # The pictures of a request go at the next one; a three-dimensional plot is shown in its
        # first view, and nothing waits for a key.
        self.m.ask("command VARIATE z 3\n")
        self.assertFalse(os.path.exists(a["pictures"][0]))
        self.m.ask("command z=#*#\n")
        three = self.m.ask("command PLOT x z x\n")
        self.assertEqual((three["status"], len(three["pictures"])), ("ok", 1))
        # Confirmations are answered No; files are not opened or edited.
        self.assertEqual(self.m.ask("command SHELL x.txt\n")["status"], "error")
        self.assertEqual(self.m.ask("command EDIT prog\n")["status"], "error")
        a = self.m.ask("command QUIT\n")
        self.assertTrue(a["closed"])
        self.assertEqual(self.m.read(), {"closed": True, "kept": True})
        self.assertEqual(self.m.process.wait(timeout=10), 0)
        with open(self.out) as f:
            self.assertIn("KORW> LIST nosuch\n *** ERROR - Invalid identifier NOSUCH ***\n",
                          f.read())

    def test_questions_leave_the_session_output_alone(self):
        self.m.ask("command VARIATE height 4\n")
        self.m.ask("command FACTOR sex 4 2\n")
        self.assertEqual(self.m.ask("vectors\n")["vectors"], [
            {"name": "HEIGHT", "kind": "variate", "length": 4, "levels": 0},
            {"name": "SEX", "kind": "factor", "length": 4, "levels": 2}])
        self.assertEqual(self.m.ask("complete fitlo\n"),
                         {"matches": ["FITLOGITLINEAR", "FITLOGLINEAR"], "start": 0})
        self.assertEqual(self.m.ask("complete LIST he\n"), {"matches": ["HEIGHT"], "start": 5})
        self.assertEqual(self.m.ask("complete x=s\n")["matches"], [])
        self.assertEqual(self.m.ask("complete COMPUTE h=s\n"), {"matches": ["SEX"], "start": 10})
        help_text = self.m.ask("help summ\n")["help"]
        self.assertTrue(help_text.startswith("SUMMARY\n=======\n\nSyntax:   SUMMARY"))
        self.assertEqual(self.m.ask("help nosuchcommand\n"), {"help": ""})
        last, status = self.m.close()
        self.assertEqual((last, status), ({"closed": True, "kept": True}, 0))
        with open(self.out) as f:
            text = f.read()
        self.assertNotIn("SUMMARY", text)
        self.assertNotIn("HEIGHT\n", text)

    def test_sigint_stops_only_what_runs(self):
        self.m.ask("command VARIATE kept 2\n")
        self.m.process.send_signal(signal.SIGINT)  # idle: ignored
        time.sleep(0.2)
        self.m.send("program 3\n%top\nREMARK loop\nGOTO %top 1\n")
        # One interrupt may arrive twice (from the client and to its process group). On a loaded
        # machine the program may not have started when the first pair comes, so the pair is
        # sent again until the answer is there.
        while True:
            self.m.process.send_signal(signal.SIGINT)
            self.m.process.send_signal(signal.SIGINT)
            if select.select([self.m.process.stdout], [], [], 0.5)[0]:
                break
        a = self.m.read()
        self.assertEqual(a["status"], "error")
        self.assertTrue(a["error"].startswith("Escape from keyboard (loop "), a["error"])
        a = self.m.ask("command LIST1 kept\n")
        self.assertEqual((a["status"], a["output"]), ("ok", "KEPT\n     0.0000     0.0000\n"))
        self.assertIsNone(self.m.process.poll())
        self.m.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.m.read(), {"closed": True, "kept": True})
        self.assertEqual(self.m.process.wait(timeout=10), 1)


    def test_sigint_stops_a_fit_and_keeps_the_last_one(self):
        self.m.close()
        # Every poll of a long loop sleeps, so that the fit is still running when SIGINT comes.
        env = dict(os.environ, KORW_TEST_POLL_SLEEP="400")
        self.m = Machine(self.dir, self.out, env)
        self.m.ask("command VARIATE x 20\n")
        self.m.ask("command x=#\n")
        self.m.ask("command y=[0 0 1 0 1 1 0 1 1 1 0 1 1 1 1 0 1 1 1 1]\n")
        self.assertEqual(self.m.ask("command FITLINEARNORMAL y = 1 + x\n")["status"], "ok")
        before = self.m.ask("command LISTPARAMETERS\n")["output"]
        self.m.send("command FITLOGITLINEAR y = 1 + x\n")
        while True:
            self.m.process.send_signal(signal.SIGINT)
            if select.select([self.m.process.stdout], [], [], 0.5)[0]:
                break
        a = self.m.read()
        self.assertEqual((a["status"], a["error"]), ("error", "Interrupted by the user"))
        self.assertEqual(self.m.ask("command LISTPARAMETERS\n")["output"], before)
        self.assertEqual(len(self.m.ask("vectors\n")["vectors"]), 2)


if __name__ == "__main__":
    unittest.main()
