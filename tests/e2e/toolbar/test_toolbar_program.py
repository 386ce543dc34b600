"""The whole program's toolbar under the runner's X server (Xvfb + openbox): the reference
host's console window, a real block, the real lumivane-viewer, and a user who types an
identifier into the toolbar with the real keyboard (xdotool)."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from lvblock import Block, wait_for, KEY, TERMINAL  # noqa: E402

TC_CHANGE_KEY_SET = 4
# The name the window manager lists the toolbar under.
TOOLBAR_TITLE = "Lumivane Viewer toolbar"

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout


def visible_windows(pid):
    """Visible top-level windows of the process, as (id, title)."""
    ids = xdotool("search", "--onlyvisible", "--pid", str(pid)).split()
    return [(i, xdotool("getwindowname", i).strip()) for i in ids]


def png(width, height):
    """A small valid RGB PNG, built by hand so the test needs no image library."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\x00" + b"\x20\x60\xa0" * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def geometry(wid):
    out = xdotool("getwindowgeometry", "--shell", wid)
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class ToolbarProgramTest(unittest.TestCase):
    counter = 0

    def setUp(self):
        ToolbarProgramTest.counter += 1
        self.name = "lvtest-toolbar-%d-%d" % (os.getpid(), ToolbarProgramTest.counter)
        # A real archive: one good scan and one that cannot be decoded.
        self.archive = tempfile.mkdtemp(prefix="lv-toolbar-e2e-")
        self.good = os.path.join(self.archive, "1234", "12345678~1.png")
        self.bad = os.path.join(self.archive, "8765", "87654321~1.png")
        for path, data in ((self.good, png(64, 48)), (self.bad, b"\x89PNG\r\n\x1a\n truncated")):
            os.makedirs(os.path.dirname(path))
            with open(path, "wb") as f:
                f.write(data)
        self.block = Block(self.name, info='{"Source":"%s/","Pattern":"****...."}' % self.archive,
                           title_format="Toolbar E2E %s console %%d" % self.name, console_id=4)
        self.block.start_heartbeat()
        self.procs = []
        self.console = self.spawn([os.path.join(BIN, "lumivane-host"), "console", self.name,
                                   "--geometry", "700x300+200+300"], stdout=subprocess.PIPE)
        self.console_id = self.console.stdout.readline().strip()
        env = dict(os.environ, LUMIVANE_TRACE="1")
        env.pop("QT_QPA_PLATFORM", None)
        self.viewer = self.spawn([os.path.join(BIN, "lumivane-viewer"), self.name], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(
            l.rstrip("\n") for l in self.viewer.stderr), daemon=True)
        self.reader.start()

    def traced(self, text, timeout=10):
        return wait_for(lambda: any(text in l for l in list(self.lines)), timeout)

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
        self.reader.join(timeout=2)
        self.block.close()
        shutil.rmtree(self.archive, ignore_errors=True)

    def toolbar(self):
        found = [w for w, title in visible_windows(self.viewer.pid) if title == TOOLBAR_TITLE]
        return found[0] if found else None

    def docked_toolbar(self):
        """The toolbar once it sits on the console (its bottom edge on the console frame's
        top edge, left edges together), else None."""
        bar = self.toolbar()
        if not bar:
            return None
        bx, by, _, bh = geometry(bar)
        info = subprocess.run(["xwininfo", "-id", self.console_id], capture_output=True, text=True).stdout
        fields = dict(l.strip().split(":", 1) for l in info.splitlines() if ":" in l)
        # The window manager's frame: the console's position less its place in the frame.
        fx = int(fields["Absolute upper-left X"]) - int(fields["Relative upper-left X"])
        fy = int(fields["Absolute upper-left Y"]) - int(fields["Relative upper-left Y"])
        return bar if (bx, by + bh) == (fx, fy) else None

    def situation(self):
        """What a failed wait saw: the program's windows, the console and the trace's end."""
        wins = [(w, t, geometry(w)) for w, t in visible_windows(self.viewer.pid)]
        console = subprocess.run(["xwininfo", "-id", self.console_id], capture_output=True,
                                 text=True).stdout
        corner = [l.strip() for l in console.splitlines() if "upper-left" in l]
        return "windows %s; console %s; exit %s; trace %s" % (
            wins, corner, self.viewer.poll(), list(self.lines)[-15:])

    def viewer_shown(self):
        return [w for w, title in visible_windows(self.viewer.pid) if title != TOOLBAR_TITLE]

    def type_into_toolbar(self, text):
        # Where it stands once docked: a click before that may miss the moving strip. The
        # waits allow for a loaded machine, as the X test waits do.
        bar = wait_for(self.docked_toolbar, 20)
        self.assertTrue(bar, "the toolbar never docked: " + self.situation())
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

    def test_identifiers_from_the_toolbar_are_searched_shown_or_reported_unreadable(self):
        self.type_into_toolbar("12345678")
        self.assertTrue(self.traced("search '12345678' found 1: " + self.good), self.lines)
        self.assertTrue(self.traced("image shown " + self.good), self.lines)
        # The viewer window now stands over the toolbar: the next identifier goes into its
        # own identifier box.
        viewer = wait_for(lambda: [w for w, t in visible_windows(self.viewer.pid) if t != TOOLBAR_TITLE and t.startswith("Lumivane Viewer")], 10)
        self.assertTrue(viewer, visible_windows(self.viewer.pid))
        xdotool("mousemove", "--window", viewer[0], "40", "12", "click", "1")
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "20", "87654321")
        xdotool("key", "Return")
        self.assertTrue(self.traced("image failed to load " + self.bad), self.lines)
        self.assertFalse(any("image shown " + self.bad in l for l in self.lines), self.lines)
        self.assertIsNone(self.viewer.poll())

    def test_key_set_chosen_on_the_toolbar_reaches_the_host(self):
        bar = wait_for(self.docked_toolbar, 20)
        self.assertTrue(bar, "the toolbar never docked: " + self.situation())
        x, y, width, _ = geometry(bar)
        # The key set box sits left of the indicator circle at the strip's right end; the
        # keyboard picks the second entry of its list.
        before = {w for w, _ in visible_windows(self.viewer.pid)}
        xdotool("mousemove", str(x + width - 24 - 4 - 64), str(y + 13), "click", "1")
        # Keys sent before the list has opened would go to the closed box (or nowhere):
        # wait for the list's own window.
        opened = wait_for(lambda: [w for w, _ in visible_windows(self.viewer.pid) if w not in before], 10)
        self.assertTrue(opened, "the key set list did not open")
        xdotool("key", "--delay", "100", "Down", "Return")
        self.assertTrue(wait_for(lambda: self.block.byte(TERMINAL) == TC_CHANGE_KEY_SET, 10),
                        self.lines)
        self.assertEqual(self.block.byte(KEY), 1)
        self.assertTrue(self.traced("terminal command tcChangeKeySet key index 1"), self.lines)

    def test_close_and_terminate_end_the_program_while_the_toolbar_is_docked(self):
        # The docking tick shows the toolbar whenever the console is up; it must not bring
        # the closed main window back and keep the program running.
        for command in ("close", "terminate"):
            with self.subTest(command=command):
                if command != "close":
                    self.tearDown()
                    self.setUp()
                self.assertTrue(wait_for(self.toolbar, 20),
                                "the toolbar never showed: " + self.situation())
                self.block.send(command)
                try:
                    code = self.viewer.wait(10)
                except subprocess.TimeoutExpired:
                    code = None
                self.assertEqual(code, 0, "the viewer did not end on " + command)
                self.assertEqual(self.block.state, "vsClosed")

    def test_toolbar_sits_on_the_console(self):
        self.assertTrue(wait_for(self.docked_toolbar, 20), self.situation())

if __name__ == "__main__":
    unittest.main(verbosity=2)
