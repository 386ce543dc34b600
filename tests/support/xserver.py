"""A private X server (Xvfb) for one test case, with the openbox window manager started
with it or later. A case that owns its display starts clean whatever an earlier case left
behind, and a case can start the window manager after the program, as a desktop session
that starts both together may."""
import os
import subprocess
import tempfile
import time


class XServer:
    def __init__(self, window_manager=True, screen="1600x1000x24"):
        self.screen = screen
        self.xvfb = None
        self.wm = None
        self.wm_error = ""
        # Servers started side by side by other tests can take a display number from under
        # a new one (its socket gone before a client connects), and a window manager then
        # ends at once: such a server is replaced, with its window manager.
        for _ in range(3):
            if self._start_server() and (not window_manager or self._window_manager_started()):
                return
            self._end(self.wm)
            self._end(self.xvfb)
        raise RuntimeError("Xvfb with openbox did not start: " + self.wm_error)

    def _start_server(self):
        read_end, write_end = os.pipe()
        # The server picks a free display itself and writes its number.
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                                      "-nolisten", "tcp"], pass_fds=(write_end,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        self.display = ":" + number
        deadline = time.monotonic() + 20
        while number and self.xvfb.poll() is None and time.monotonic() < deadline:
            if self.connectable():
                return True
            time.sleep(0.05)
        self._end(self.xvfb)
        return False

    def connectable(self):
        return subprocess.run(["xprop", "-root", "-len", "0", "_NET_SUPPORTING_WM_CHECK"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=self.env()).returncode == 0

    def env(self, base=None):
        e = dict(os.environ if base is None else base)
        e["DISPLAY"] = self.display
        return e

    def run(self, *args):
        """A command's standard output, run against this display."""
        return subprocess.run(list(args), capture_output=True, text=True, env=self.env()).stdout

    def window_manager_ready(self):
        return "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")

    def _window_manager_started(self):
        """Starts openbox on this display and waits until it manages it."""
        # Its messages go to a file, not a pipe nobody reads while the test runs.
        log = tempfile.TemporaryFile(mode="w+")
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                   stdout=subprocess.DEVNULL, stderr=log)
        with log:
            deadline = time.monotonic() + 30
            while self.wm.poll() is None and time.monotonic() < deadline:
                if self.window_manager_ready():
                    return True
                time.sleep(0.02)
            self._end(self.wm)
            # Why it ended, for the failure's message.
            log.seek(0)
            self.wm_error = "openbox on %s: %s" % (self.display, log.read().strip())
        return False

    def start_window_manager(self, wait=True):
        """The window manager, on a display the program already uses."""
        if not wait:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return
        for _ in range(3):
            if self._window_manager_started():
                return
        raise RuntimeError("openbox did not start: " + self.wm_error)

    def visible_windows(self, name):
        return self.run("xdotool", "search", "--onlyvisible", "--name", name).split()

    @staticmethod
    def _end(p):
        if p is not None and p.poll() is None:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def stop(self):
        for p in (self.wm, self.xvfb):
            self._end(p)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
