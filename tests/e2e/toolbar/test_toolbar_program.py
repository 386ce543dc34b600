"""The whole program's toolbar under the runner's X server (Xvfb + openbox): the reference
host's console window, a real block, the real lumivane-viewer, and a user who types an
identifier into the toolbar with the real keyboard (xdotool)."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "app"))
from lvblock import Block, wait_for  # noqa: E402

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout


def visible_windows(pid):
    """Visible top-level windows of the process, as (id, title)."""
    ids = xdotool("search", "--onlyvisible", "--pid", str(pid)).split()
    return [(i, xdotool("getwindowname", i).strip()) for i in ids]


def geometry(wid):
    out = xdotool("getwindowgeometry", "--shell", wid)
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class ToolbarProgramTest(unittest.TestCase):
    counter = 0

    def setUp(self):
        ToolbarProgramTest.counter += 1
        self.name = "lvtest-toolbar-%d-%d" % (os.getpid(), ToolbarProgramTest.counter)
        self.block = Block(self.name, info='{"Source":"/nonexistent/","Pattern":"****...."}',
                           title_format="Toolbar E2E %s console %%d" % self.name, console_id=4)
        self.block.start_heartbeat()
        self.procs = []
        self.console = self.spawn([os.path.join(BIN, "lumivane-host"), "console", self.name,
                                   "--geometry", "700x300+200+300"], stdout=subprocess.PIPE)
        self.console_id = self.console.stdout.readline().strip()
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        self.viewer = self.spawn([os.path.join(BIN, "lumivane-viewer"), self.name], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def spawn(self, args, **kw):
        p = subprocess.Popen(args, text=True, **kw)
        self.procs.append(p)
        return p

    def tearDown(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
                p.wait()
            if p.stdout:
                p.stdout.close()
        self.block.close()

    def toolbar(self):
        found = [w for w, title in visible_windows(self.viewer.pid) if title == "Form1"]
        return found[0] if found else None

    def viewer_shown(self):
        return [w for w, title in visible_windows(self.viewer.pid) if title != "Form1"]

    def type_into_toolbar(self, text):
        bar = wait_for(self.toolbar, 10)
        self.assertTrue(bar, "the toolbar never showed")
        x, y, _, _ = geometry(bar)
        # Click into the identifier box (the strip's left end), then type as a user does.
        xdotool("mousemove", str(x + 40), str(y + 13), "click", "1")
        xdotool("type", "--delay", "20", text)
        xdotool("key", "Return")

    def test_enter_with_an_identifier_shows_the_viewer_window(self):
        self.assertEqual(self.viewer_shown(), [])
        self.type_into_toolbar("12345678")
        self.assertTrue(wait_for(self.viewer_shown, 10), visible_windows(self.viewer.pid))
        self.assertIsNone(self.viewer.poll())

    def test_toolbar_sits_on_the_console(self):
        bar = wait_for(self.toolbar, 10)
        self.assertTrue(bar)

        def docked():
            bx, by, _, bh = geometry(self.toolbar())
            info = subprocess.run(["xwininfo", "-id", self.console_id], capture_output=True, text=True).stdout
            fields = dict(l.strip().split(":", 1) for l in info.splitlines() if ":" in l)
            # The window manager's frame: the console's position less its place in the frame.
            fx = int(fields["Absolute upper-left X"]) - int(fields["Relative upper-left X"])
            fy = int(fields["Absolute upper-left Y"]) - int(fields["Relative upper-left Y"])
            return (bx, by + bh) == (fx, fy)

        self.assertTrue(wait_for(docked, 10))


if __name__ == "__main__":
    unittest.main(verbosity=2)
