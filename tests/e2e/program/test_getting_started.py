"""A first start of the real lumivane-viewer as a new user makes it: without a display it says
so and fails with status 1; without a block, or with a name no host created, it says in one
line which block is missing and the host command that creates it, then goes on running; with
a block a host created it says nothing of the kind."""
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from lvblock import Block, wait_for  # noqa: E402

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))
VIEWER = os.path.join(BIN, "lumivane-viewer")


class Started:
    """The viewer running with its stderr read line by line."""

    def __init__(self, args, env):
        self.proc = subprocess.Popen([VIEWER, *args], stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     env=env, text=True)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            self.lines.append(line.rstrip("\n"))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.reader.join(timeout=5)
        self.proc.stderr.close()


def x_env():
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("LUMIVANE_TRACE", None)
    return env


class NoDisplay(unittest.TestCase):
    def test_says_cannot_open_display_and_exits_1(self):
        base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        cases = [
            # environment changes, what the line names
            ({}, "DISPLAY is not set"),
            ({"DISPLAY": ":4321"}, "':4321'"),
            ({"DISPLAY": ":4321", "QT_QPA_PLATFORM": "xcb"}, "':4321'"),
        ]
        for extra, names in cases:
            with self.subTest(env=extra):
                env = dict(base, **extra)
                if "QT_QPA_PLATFORM" not in extra:
                    env.pop("QT_QPA_PLATFORM", None)
                p = subprocess.run([VIEWER, "lvtest-nodisplay"], capture_output=True, text=True, env=env,
                                   timeout=60)
                self.assertEqual(p.returncode, 1, p.stderr)
                self.assertIn("cannot open display", p.stderr)
                self.assertIn(names, p.stderr)


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs the runner's X server (scripts/with-x)")
class MissingBlock(unittest.TestCase):
    def test_one_line_names_the_block_and_the_host_command_then_runs_on(self):
        name = "lvtest-start-%d" % os.getpid()
        cases = [
            # arguments, words the one line must hold
            ([], ["no control block name given", "lumivane-host serve NAME"]),
            ([name + "-none"], ["no control block '%s-none'" % name,
                                "lumivane-host serve %s-none" % name]),
            ([name + "-none", "12345678"], ["no control block '%s-none'" % name]),
        ]
        for args, words in cases:
            with self.subTest(args=args):
                v = Started(args, x_env())
                try:
                    self.assertTrue(wait_for(lambda: any("control block" in l for l in v.lines), 20), v.lines)
                    notices = [l for l in v.lines if "control block" in l]
                    self.assertEqual(len(notices), 1, v.lines)
                    for w in words:
                        self.assertIn(w, notices[0])
                    self.assertTrue(notices[0].startswith("lumivane-viewer: "), notices[0])
                    # It goes on as before: still running a moment later.
                    time.sleep(1)
                    self.assertIsNone(v.proc.poll(), v.lines)
                finally:
                    v.stop()
                self.assertFalse(os.path.exists("/dev/shm/%s-none" % name))

    def test_a_block_a_host_created_gets_no_notice(self):
        name = "lvtest-start-ok-%d" % os.getpid()
        block = Block(name)
        block.start_heartbeat()
        try:
            env = x_env()
            env["LUMIVANE_TRACE"] = "1"
            v = Started([name], env)
            try:
                # The trace says when the viewer has started on the block.
                self.assertTrue(wait_for(lambda: any("vsIdle" in l for l in v.lines), 20), v.lines)
                self.assertFalse([l for l in v.lines if "no control block" in l], v.lines)
            finally:
                v.stop()
        finally:
            block.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
