"""A private X server (Xvfb) for one test case, with the openbox window manager started
with it or later. A case that owns its display starts clean whatever an earlier case left
behind, and a case can start the window manager after the program, as a desktop session
that starts both together may."""
import os
import subprocess
import time


class XServer:
    def __init__(self, window_manager=True, screen="1600x1000x24"):
        read_end, write_end = os.pipe()
        # The server picks a free display itself and writes its number, so servers
        # started side by side never collide.
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                                      "-nolisten", "tcp"], pass_fds=(write_end,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self.xvfb.kill()
            self.xvfb.wait()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.wm = None
        if window_manager:
            self.start_window_manager()

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
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if wait:
            deadline = time.monotonic() + 30
            while not self.window_manager_ready():
                if time.monotonic() > deadline or self.wm.poll() is not None:
                    raise RuntimeError("openbox did not start on " + self.display)
                time.sleep(0.02)

    def visible_windows(self, name):
        return self.run("xdotool", "search", "--onlyvisible", "--name", name).split()

    def stop(self):
        for p in (self.wm, self.xvfb):
            if p is not None and p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
