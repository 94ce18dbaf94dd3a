"""KORW's Jupyter kernel: every cell goes to one `korw --machine` process.

A cell of one line runs as that command typed; a cell of several lines runs as a program
(continuation lines, substitution and GOTO as in RUN) and stops at its first failing line. The
results come back as text without the command echo, a failure as an error with KORW's message,
and every picture as a PNG image. Tab completes command words and vector names; Shift+Tab shows
the help section of the command. The kernel holds no statistics of its own.

korw is found through KORW_EXECUTABLE, else beside the kernel's installed prefix
(PREFIX/share/jupyter/kernels/korw/ -> PREFIX/bin/korw), else on the PATH.
"""

import base64
import json
import os
import shutil
import signal
import subprocess
import sys

# KOR programs have no Python to debug: leaving debugpy out (ipykernel then runs without its
# debugger) saves a third of the kernel's start.
sys.modules.setdefault("debugpy", None)

from ipykernel.kernelbase import Kernel  # noqa: E402

VERSION = "JUN2009"


def find_korw():
    """The korw executable this kernel drives."""
    given = os.environ.get("KORW_EXECUTABLE")
    if given:
        return given
    here = os.path.dirname(os.path.abspath(__file__))
    prefix = os.path.normpath(os.path.join(here, "..", "..", "..", ".."))
    beside = os.path.join(prefix, "bin", "korw")
    if os.access(beside, os.X_OK):
        return beside
    return shutil.which("korw") or "korw"


def output_name(directory):
    """KORWn.OUT, n the smallest positive number without such a file: the console's name."""
    n = 1
    while os.path.exists(os.path.join(directory, "KORW%d.OUT" % n)):
        n += 1
    return os.path.join(directory, "KORW%d.OUT" % n)


class KorwSession:
    """One korw process in machine mode; every request gets one JSON line back."""

    def __init__(self, log):
        self.log = log
        self.kept = output_name(os.getcwd())
        # A session of its own: Jupyter's interrupt signals the kernel's process group, and korw
        # is to get exactly one SIGINT per interrupt, the one the kernel passes on.
        self.process = subprocess.Popen(
            [find_korw(), "--machine", "--out", self.kept],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
        self.ready = self.read()
        self.closed = not self.ready.get("ready", False)

    def send(self, text):
        self.process.stdin.write(text.encode("utf-8", "replace"))
        self.process.stdin.flush()

    def read(self):
        """The next answer; an interrupt on the way is passed on to korw, and the answer waited
        for, so the session keeps its vectors."""
        while True:
            try:
                line = self.process.stdout.readline()
                break
            except KeyboardInterrupt:
                self.interrupt()
        if not line:
            self.closed = True
            return {"closed": True}
        return json.loads(line.decode("utf-8", "replace"))

    def interrupt(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)

    def request(self, text):
        self.send(text)
        return self.read()

    def run(self, code):
        lines = code.split("\n")
        while lines and not lines[-1].strip():
            lines.pop()
        while lines and not lines[0].strip():
            lines.pop(0)
        if len(lines) == 1:
            return self.request("command " + lines[0] + "\n")
        return self.request("program %d\n" % len(lines) + "".join(line + "\n" for line in lines))

    def close(self):
        """Ends the session; the session output is kept where the notebook runs."""
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.read()
                self.process.wait(timeout=10)
            except (OSError, ValueError, subprocess.TimeoutExpired):
                self.process.kill()
        self.closed = True
        return self.kept if os.path.exists(self.kept) else None


class KorwKernel(Kernel):
    implementation = "korw_kernel"
    implementation_version = "1.0"
    language = "kor"
    language_version = VERSION
    language_info = {
        "name": "kor",
        "mimetype": "text/x-kor",
        "file_extension": ".KOR",
        "codemirror_mode": "text",
    }
    banner = "KORW, version %s: the KOR command language" % VERSION

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.korw = None

    def live_session(self):
        if self.korw is None or self.korw.closed:
            self.korw = KorwSession(self.log)
        return self.korw

    def stream(self, text, name="stdout"):
        self.send_response(self.iopub_socket, "stream", {"name": name, "text": text})

    def show_picture(self, path):
        kind = os.path.splitext(path)[1].lower()
        mime = {".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg"}.get(kind)
        if mime is None:
            self.stream("Picture %s is not shown here (only PNG and JPEG are)\n" % path)
            return
        with open(path, "rb") as f:
            data = base64.b64encode(f.read()).decode("ascii")
        self.send_response(
            self.iopub_socket, "display_data", {"data": {mime: data}, "metadata": {}}
        )

    def do_execute(self, code, silent, store_history=True, user_expressions=None,
                   allow_stdin=False):
        if not code.strip():
            return self.ok()
        session = self.live_session()
        if session.closed:
            return self.failed(session.ready.get("error", "KORW did not start"), silent)
        answer = session.run(code)
        if not silent:
            if answer.get("output"):
                self.stream(answer["output"])
            for picture in answer.get("pictures", []):
                self.show_picture(picture)
        if answer.get("closed"):
            kept = session.close()
            if not silent:
                self.stream("The KORW session has ended%s; the next cell starts a new one.\n"
                            % (" (session output kept in %s)" % kept if kept else ""))
        if answer.get("status") == "error":
            return self.failed(answer.get("error", ""), silent)
        return self.ok()

    def ok(self):
        return {"status": "ok", "execution_count": self.execution_count, "payload": [],
                "user_expressions": {}}

    def failed(self, message, silent):
        content = {"ename": "KORW", "evalue": message, "traceback": [message]}
        if not silent:
            self.send_response(self.iopub_socket, "error", content)
        content.update({"status": "error", "execution_count": self.execution_count})
        return content

    def current_line(self, code, cursor_pos):
        before = code[:cursor_pos]
        start = before.rfind("\n") + 1
        return before[start:], start

    def do_complete(self, code, cursor_pos):
        line, line_start = self.current_line(code, cursor_pos)
        answer = self.live_session().request("complete " + line + "\n")
        start = answer.get("start", len(line.encode("utf-8")))
        chars = len(line.encode("utf-8")[:start].decode("utf-8", "ignore"))
        return {"status": "ok", "matches": answer.get("matches", []),
                "cursor_start": line_start + chars, "cursor_end": cursor_pos, "metadata": {}}

    def do_inspect(self, code, cursor_pos, detail_level=0, omit_sections=()):
        line, _ = self.current_line(code, cursor_pos)
        rest = code[cursor_pos:].split("\n", 1)[0]
        words = (line + rest).split()
        text = ""
        if words:
            text = self.live_session().request("help " + words[0] + "\n").get("help", "")
        return {"status": "ok", "found": bool(text), "data": {"text/plain": text} if text else {},
                "metadata": {}}

    def do_shutdown(self, restart):
        if self.korw is not None:
            kept = self.korw.close()
            if kept:
                self.log.warning("KORW session output kept in %s", kept)
                print("KORW session output kept in %s" % kept, file=sys.stderr)
        return {"status": "ok", "restart": restart}


if __name__ == "__main__":
    from ipykernel.kernelapp import IPKernelApp

    IPKernelApp.launch_instance(kernel_class=KorwKernel)
