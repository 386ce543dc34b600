"""A private X server (Xvfb) for one test case, with the openbox window manager started
with it or later. A case that owns its display starts clean whatever an earlier case left
behind, and a case can start the window manager after the program, as a desktop session
that starts both together may."""
import os
import subprocess
import time


class XServer:
    def __init__(self, window_manager=True, screen="1600x1000x24"):
        self.screen = screen
        self.xvfb = None
        self.wm = None
        # Servers started side by side by other tests can take a display number from under
        # a new one (its socket gone before a client connects): such a server is replaced.
        for _ in range(3):
            if self._start_server():
                break
        else:
            raise RuntimeError("Xvfb did not start")
        if window_manager:
            self.start_window_manager()

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

    def start_window_manager(self, wait=True):
        # openbox that cannot reach the display (see above) ends at once: started again.
        for _ in range(3):
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if not wait:
                return
            deadline = time.monotonic() + 30
            while self.wm.poll() is None and time.monotonic() < deadline:
                if self.window_manager_ready():
                    return
                time.sleep(0.02)
            self._end(self.wm)
        raise RuntimeError("openbox did not start on " + self.display)

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
