"""The real lumivane-viewer opened on files or a folder without a host (--open), under the
X server the test runner provides (Xvfb with openbox): the viewer window alone, the list
in natural order starting at the file opened, the keys moving through it, the end when
the window closes, a placement of its own; and clear failures for paths that show
nothing, said before any display is needed."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from lvblock import wait_for  # noqa: E402
from test_program import VIEWER, Viewer, write_png  # noqa: E402

PLACEMENT = "%00opened-files.LumivaneViewerForm.json"


def shared_memory():
    """The shared-memory objects a viewer could have taken "--open" or a path for a block
    name (other programs on the machine make blocks of their own meanwhile)."""
    return {n for n in os.listdir("/dev/shm") if n.startswith("--") or n.startswith("lv-open-")
            or n.endswith(".png")}


class OpenTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lv-open-")
        self.scans = os.path.join(self.tmp, "scans")
        os.makedirs(self.scans)
        for name in ("p10.png", "p2.png", "p1.png", "p3.png"):
            write_png(os.path.join(self.scans, name), 60, 80)
        open(os.path.join(self.scans, "notes.txt"), "w").close()
        os.makedirs(os.path.join(self.tmp, "empty"))
        self.data = os.path.join(self.tmp, "data")
        self.viewers = []

    def tearDown(self):
        for v in self.viewers:
            v.kill()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def scan(self, name):
        return os.path.join(self.scans, name)

    def start(self, *paths):
        v = Viewer("--open", *paths, env={"XDG_DATA_HOME": self.data})
        self.viewers.append(v)
        return v

    def window_of(self, v):
        """The one visible window of the process, once it is there."""
        found = []

        def shown():
            found[:] = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(v.proc.pid)],
                                      capture_output=True, text=True).stdout.split()
            return len(found) > 0
        self.assertTrue(wait_for(shown, 30), v.lines)
        return found

    def shown(self, v, name, timeout=30):
        self.assertTrue(v.wait_trace("image shown " + self.scan(name), timeout), v.lines)

    def key(self, window, key):
        subprocess.run(["xdotool", "windowactivate", "--sync", window], check=True, timeout=30)
        subprocess.run(["xdotool", "key", "--clearmodifiers", key], check=True, timeout=30)

    def test_paths_that_show_nothing_fail_clearly_without_a_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["QT_QPA_PLATFORM"] = "xcb"  # would fail at once if a window system were needed
        cases = [
            # paths, status, what stderr says
            ([], 2, ["--open needs at least one image file or folder"]),
            ([self.scan("p99.png")], 1, ["'%s': no such file or folder" % self.scan("p99.png"), "nothing to show"]),
            ([self.scan("notes.txt")], 1, ["not an image the viewer opens (.tif, .tiff, .png, .jpg, .jpeg, .lva)"]),
            ([os.path.join(self.tmp, "empty")], 1, ["the folder holds no image the viewer opens"]),
            ([self.scan("notes.txt"), self.scan("gone.png")], 1, ["not an image", "no such file"]),
            # Something to show: the paths pass, and only the display is missing.
            ([self.scan("p2.png"), self.scan("gone.png")], 1, ["no such file", "cannot open display"]),
        ]
        for paths, status, says in cases:
            with self.subTest(paths=paths):
                before = shared_memory()
                p = subprocess.run([VIEWER, "--open", *paths], capture_output=True, text=True, env=env,
                                   timeout=60)
                self.assertEqual(p.returncode, status, p.stderr)
                for text in says:
                    self.assertIn(text, p.stderr)
                self.assertTrue(all(line.startswith("lumivane-viewer: ") for line in p.stderr.splitlines()),
                                p.stderr)
                self.assertEqual(shared_memory() - before, set())

    def test_a_file_shows_its_folder_in_natural_order_from_that_file(self):
        before = shared_memory()
        v = self.start(self.scan("p2.png"))
        self.shown(v, "p2.png")
        # The viewer window alone: no toolbar, no block.
        windows = self.window_of(v)
        self.assertEqual(len(windows), 1, windows)
        self.assertEqual(subprocess.run(["xdotool", "getwindowname", windows[0]], capture_output=True,
                                        text=True).stdout.strip(), "Lumivane Viewer")
        self.assertEqual(shared_memory() - before, set())
        # The next images in natural order, then the first.
        for key, name in (("Right", "p3.png"), ("Right", "p10.png"), ("Home", "p1.png")):
            self.key(windows[0], key)
            self.shown(v, name)
        # Closing the window ends the program, its placement kept under its own name.
        subprocess.run(["wmctrl", "-i", "-c", windows[0]], check=True, timeout=30)
        self.assertEqual(v.wait_exit(30), 0, v.lines)
        screen = os.path.join(self.data, "lumivane-viewer", "screen")
        self.assertEqual(sorted(f for f in os.listdir(screen) if f.endswith(".json")), [PLACEMENT])

    def test_a_folder_shows_its_images_from_the_first(self):
        v = self.start(self.scans + "/")
        self.shown(v, "p1.png")
        self.key(self.window_of(v)[0], "End")
        self.shown(v, "p10.png")
        v.proc.send_signal(signal.SIGTERM)
        self.assertEqual(v.wait_exit(30), 0, v.lines)


if __name__ == "__main__":
    unittest.main(verbosity=2)
