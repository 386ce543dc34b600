"""The real lumivane-viewer asked for its usage or version: it answers on standard output
and leaves at once with status 0, without a display and without touching a block named
after the option."""
import os
import subprocess
import unittest

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))
VIEWER = os.path.join(BIN, "lumivane-viewer")


def run(*args):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env["QT_QPA_PLATFORM"] = "xcb"  # would fail at once if a window system were needed
    return subprocess.run([VIEWER, *args], capture_output=True, text=True, env=env, timeout=30)


class InformationOptions(unittest.TestCase):
    def test_answers_and_exits_zero(self):
        cases = [
            # option, words the answer must hold
            (["--help"], ["Usage: lumivane-viewer NAME", "screen", "max", "--version"]),
            (["--version"], ["lumivane-viewer "]),
            (["--help", "12345"], ["Usage: lumivane-viewer NAME"]),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                before = set(os.listdir("/dev/shm"))
                p = run(*args)
                self.assertEqual(p.returncode, 0, p.stderr)
                for w in words:
                    self.assertIn(w, p.stdout)
                self.assertEqual(p.stderr, "")
                self.assertFalse(any(n.startswith("--") for n in set(os.listdir("/dev/shm")) - before))

    def test_version_names_a_number(self):
        out = run("--version").stdout.strip()
        self.assertRegex(out, r"^lumivane-viewer \d+\.\d+(\.\d+)*$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
