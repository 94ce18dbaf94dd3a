"""The KORW kernel through Jupyter's messaging protocol: the standard checks of
jupyter_kernel_test, then what a notebook user relies on (programs, pictures, interrupt,
restart)."""

import time
import unittest

import jupyter_kernel_test as jkt
from jupyter_client.manager import start_new_kernel


class KorwKernelTests(jkt.KernelTests):
    kernel_name = "korw"
    language_name = "kor"
    file_extension = ".KOR"
    code_hello_world = "REMARK hello, world"
    completion_samples = [
        {"text": "LISTP", "matches": {"LISTPARAMETERS"}},
        {"text": "fitlo", "matches": {"FITLOGITLINEAR", "FITLOGLINEAR"}},
    ]
    code_generate_error = "LIST nosuchvector"
    code_display_data = [{"code": "VARIATE px 5\nCOMPUTE px = #\nPLOT px px", "mime": "image/png"}]
    code_inspect_sample = "SUMMARY x"


def run(kc, code, timeout=30):
    """Executes a cell; the reply and the output messages of the cell. (After a failed cell the
    kernel aborts the cells already waiting unless stop_on_error is off; these tests send their
    next cell at once.)"""
    msg_id = kc.execute(code, stop_on_error=False)
    reply = kc.get_shell_msg(timeout=timeout)
    while reply["parent_header"].get("msg_id") != msg_id:  # a kernel_info reply of the start
        reply = kc.get_shell_msg(timeout=timeout)
    outputs = []
    while True:
        msg = kc.get_iopub_msg(timeout=timeout)
        if msg["parent_header"].get("msg_id") != msg_id:
            continue
        if msg["msg_type"] == "status" and msg["content"]["execution_state"] == "idle":
            return reply["content"], outputs
        if msg["msg_type"] in ("stream", "display_data", "error"):
            outputs.append(msg)


def text_of(outputs):
    return "".join(m["content"]["text"] for m in outputs if m["msg_type"] == "stream")


class NotebookUse(unittest.TestCase):
    def setUp(self):
        self.km, self.kc = start_new_kernel(kernel_name="korw")

    def tearDown(self):
        self.kc.stop_channels()
        self.km.shutdown_kernel(now=True)

    def test_program_cells_stop_at_their_first_failing_line(self):
        reply, outputs = run(self.kc, "VARIATE a 3\nCOMPUTE a = # * 2\nLIST a\nLIST nosuch\nLIST a")
        self.assertEqual(reply["status"], "error")
        self.assertEqual(reply["evalue"], "Invalid identifier NOSUCH (line 4)")
        self.assertEqual(text_of(outputs), "          A\n     2.0000\n     4.0000\n     6.0000\n")
        self.assertEqual(outputs[-1]["msg_type"], "error")

    def test_continuation_lines_and_confirmations(self):
        reply, outputs = run(self.kc, "VARIATE b 2\nCOMPUTE b = # \\\n + 10\nLIST b")
        self.assertEqual(reply["status"], "ok")
        self.assertIn("11.0000", text_of(outputs))
        reply, _ = run(self.kc, "SHELL notes.txt")
        self.assertEqual(reply["status"], "error")

    def test_interrupt_stops_the_program_and_keeps_the_vectors(self):
        run(self.kc, "VARIATE kept 4")
        msg_id = self.kc.execute("%top\nREMARK loop\nGOTO %top 1", stop_on_error=False)
        time.sleep(1.0)
        self.km.interrupt_kernel()
        reply = self.kc.get_shell_msg(timeout=30)
        while reply["parent_header"].get("msg_id") != msg_id:
            reply = self.kc.get_shell_msg(timeout=30)
        self.assertEqual(reply["content"]["status"], "error")
        self.assertIn("Escape from keyboard", reply["content"]["evalue"])
        reply, outputs = run(self.kc, "LIST1 kept")
        self.assertEqual(reply["status"], "ok")
        self.assertIn("KEPT", text_of(outputs))

    def test_quit_ends_the_session_and_the_next_cell_starts_a_new_one(self):
        run(self.kc, "VARIATE gone 2")
        reply, outputs = run(self.kc, "QUIT")
        self.assertEqual(reply["status"], "ok")
        self.assertIn("The KORW session has ended", text_of(outputs))
        reply, _ = run(self.kc, "LIST gone")
        self.assertEqual(reply["status"], "error")

    def test_restart_starts_a_fresh_session(self):
        run(self.kc, "VARIATE old 2")
        self.km.restart_kernel(now=True)
        self.kc.wait_for_ready(timeout=30)
        reply, _ = run(self.kc, "LIST old")
        self.assertEqual(reply["status"], "error")

    def test_short_cells_are_quick(self):
        run(self.kc, "VARIATE q 10")
        start = time.monotonic()
        for _ in range(100):
            run(self.kc, "LIST1 q")
        per_cell = (time.monotonic() - start) / 100
        print("\n%.1f ms per short cell" % (per_cell * 1000))
        self.assertLess(per_cell, 0.5)


if __name__ == "__main__":
    unittest.main()
