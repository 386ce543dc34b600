"""The real lumivane-viewer binary against real control blocks, under the X server the
test runner provides (Xvfb with openbox). The test plays the host."""
import os
import random
import signal
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from lvblock import (Block, wait_for, COMMAND, HOST_BEAT, INFO, SEARCH, VIEWER_BEAT, VIEW_STATE,  # noqa: E402
                     VC)
from xserver import XServer  # noqa: E402

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))
VIEWER = os.path.join(BIN, "lumivane-viewer")


def _default_end_signals():
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, signal.SIG_DFL)


class Viewer:
    """One viewer process with the trace on; its stderr lines are collected."""

    def __init__(self, *args, env=None):
        e = dict(os.environ, LUMIVANE_TRACE="1")
        e.pop("QT_QPA_PLATFORM", None)
        e.update(env or {})
        # The end signals as a terminal would deliver them, whatever the test runner ignores.
        self.proc = subprocess.Popen([VIEWER, *args], stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     env=e, text=True, preexec_fn=_default_end_signals)
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stderr:
            self.lines.append(line.rstrip("\n"))

    def trace(self, prefix="lumivane: "):
        return [l[len(prefix):] for l in list(self.lines) if l.startswith(prefix)]

    def wait_trace(self, text, timeout=30):
        return wait_for(lambda: any(text in l for l in self.trace()), timeout)

    def wait_exit(self, timeout=30):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._reader.join(timeout=2)


def visible_windows(name):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                         capture_output=True, text=True).stdout
    return out.split()


def write_png(path, width, height):
    """A small grey picture, written without any imaging library."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    rows = b"".join(b"\0" + bytes([(x * 4) % 256 for x in range(width)]) for _ in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def waits_in_pause(pid):
    """Whether a thread of the process sits in the pause system call (x86-64: 34)."""
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/syscall" % (pid, tid)) as f:
                if f.read().split()[0] == "34":
                    return True
        except (OSError, IndexError):
            pass
    return False


class ProgramTest(unittest.TestCase):
    counter = 0

    def setUp(self):
        ProgramTest.counter += 1
        self.name = "lvtest-app-%d-%d" % (os.getpid(), ProgramTest.counter)
        self.block = Block(self.name)
        self.block.start_heartbeat()
        self.viewers = []

    def tearDown(self):
        for v in self.viewers:
            v.kill()
        self.block.close()

    def start(self, *args, **kw):
        v = Viewer(self.name, *args, **kw)
        self.viewers.append(v)
        return v

    def ready(self, v):
        self.assertTrue(v.wait_trace("view state vsIdle"), v.lines)

    def test_start_writes_opening_then_idle_and_beats(self):
        v = self.start()
        self.ready(v)
        states = [l for l in v.trace() if l.startswith("view state")]
        self.assertEqual(states[:2], ["view state vsOpening", "view state vsIdle"])
        # The heartbeat moves forward on its own. Its exact rule (starts at 1, one step per
        # tick, at least 200 ms apart, wraps after 254) is checked with an injected clock in
        # tests/unit/viewcontrol; a wall clock read here would only measure the machine's
        # load.
        values = [self.block.byte(VIEWER_BEAT)]

        def moved():
            beat = self.block.byte(VIEWER_BEAT)
            if beat != values[-1]:
                values.append(beat)
            return len(values) >= 4

        self.assertTrue(wait_for(moved, 30), values)
        self.assertTrue(all(0 < (b - a) % 255 < 128 for a, b in zip(values, values[1:])), values)

    def test_every_poll_acknowledges_and_commands_act(self):
        v = self.start()
        self.ready(v)
        self.block.send(0)
        self.assertTrue(wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20))
        # vcConnected lifts only vsUnknown to vsIdle.
        self.block.set_byte(VIEW_STATE, 4)
        self.block.send("connected")
        self.assertTrue(wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20))
        self.assertEqual(self.block.state, "vsOpen")
        self.block.set_byte(VIEW_STATE, 0)
        self.block.send("connected")
        self.assertTrue(wait_for(lambda: self.block.state == "vsIdle", 20))
        # A byte outside the commands is taken with no effect.
        self.block.send(7)
        self.assertTrue(wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20))
        self.assertEqual(self.block.state, "vsIdle")
        self.assertIsNone(v.proc.poll())

    def test_open_shows_and_hide_hides_the_viewer_window(self):
        v = self.start()
        self.ready(v)
        self.assertEqual(visible_windows("^Lumivane Viewer$"), [])
        self.block.send("open")
        self.assertTrue(wait_for(lambda: visible_windows("^Lumivane Viewer$"), 20))
        self.block.send("hide")
        self.assertTrue(wait_for(lambda: not visible_windows("^Lumivane Viewer$"), 20))
        self.assertIsNone(v.proc.poll())

    def test_every_end_writes_closed_and_nothing_before_it(self):
        # However the end comes, and whether the viewer window is shown or not, the host
        # sees vsClosed as the one state written from the end request on.
        def pause_heartbeat(v):
            self.block.pause_heartbeat()

        def send(command):
            return lambda v: self.block.send(command)

        def signal_(sig):
            return lambda v: v.proc.send_signal(sig)

        cases = [
            ("close, window hidden", False, send("close")),
            ("terminate, window hidden", False, send("terminate")),
            ("close, window shown", True, send("close")),
            ("terminate, window shown", True, send("terminate")),
            ("host heartbeat stops, window shown", True, pause_heartbeat),
            ("SIGTERM, window shown", True, signal_(signal.SIGTERM)),
            ("SIGINT, window shown", True, signal_(signal.SIGINT)),
            ("SIGHUP, window shown", True, signal_(signal.SIGHUP)),
        ]
        for title, shown, end in cases:
            with self.subTest(title):
                self.block.resume_heartbeat()
                data = tempfile.mkdtemp(prefix="lvtest-data-")
                self.addCleanup(shutil.rmtree, data, True)
                v = self.start(env={"XDG_DATA_HOME": data})
                self.ready(v)
                if shown:
                    self.block.send("open")
                    self.assertTrue(wait_for(lambda: visible_windows("^Lumivane Viewer$"), 20), v.lines)
                    self.assertTrue(v.wait_trace("view state vsOpen"), v.lines)
                before = len(v.trace())
                end(v)
                self.assertEqual(v.wait_exit(20), 0, v.lines)
                v._reader.join(timeout=2)
                states = [l for l in v.trace()[before:] if l.startswith("view state")]
                self.assertEqual(states, ["view state vsClosed"], v.lines)
                self.assertEqual(self.block.state, "vsClosed")
                # A window left open keeps its placement, as a close by the user does.
                saved = [os.path.join(d, f) for d, _, files in os.walk(data) for f in files
                         if os.path.basename(d) == "screen"]
                self.assertEqual(bool(saved), shown, saved)

    def test_a_folder_that_never_answers_does_not_hold_the_end(self):
        # The images live on a share that stopped answering: the search's worker never
        # comes back from opening the folder. The host's close still ends the program.
        dead = tempfile.mkdtemp(prefix="lv-dead-share-")
        self.addCleanup(shutil.rmtree, dead, True)
        os.makedirs(os.path.join(dead, "1234"))
        self.block.set_string(INFO, '{"Source":"%s/","Pattern":"****...."}' % dead)
        env = {"LD_PRELOAD": os.environ["LV_STUCK_FOLDER_LIB"],
               # The sanitizer build wants its runtime first; the stand-in comes before it.
               "ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"}
        v = self.start("12345678", env=env)
        self.ready(v)
        self.assertTrue(wait_for(lambda: visible_windows("^Lumivane Viewer$"), 20), v.lines)
        # A thread of the program waits in the stand-in's pause(); the window still answers.
        self.assertTrue(wait_for(lambda: waits_in_pause(v.proc.pid), 20), v.lines)
        self.block.send(0)
        self.assertTrue(wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20))
        self.block.send("close")
        self.assertEqual(v.wait_exit(40), 0, v.lines)
        self.assertEqual(self.block.state, "vsClosed")
        v._reader.join(timeout=2)
        self.assertIn("lumivane: a worker held the end; ending without it", v.lines)

    def test_stopped_host_heartbeat_ends_the_viewer(self):
        v = self.start()
        self.ready(v)
        self.block.pause_heartbeat()
        beat = self.block.byte(VIEWER_BEAT)
        # The check runs on every 25th heartbeat and compares with one beat earlier, so the
        # viewer beats at least once more before it ends. When, on the clock, is the rule
        # checked exactly with an injected clock in tests/unit/viewcontrol.
        self.assertEqual(v.wait_exit(60), 0, v.lines)
        self.assertNotEqual(self.block.byte(VIEWER_BEAT), beat)
        self.assertTrue(any("heartbeat stopped" in l for l in v.trace()), v.lines)
        self.assertEqual(self.block.state, "vsClosed")

    def test_name_without_block_ends_after_7_5_s_and_creates_none(self):
        name = self.name + "-missing"
        started = time.monotonic()
        v = Viewer(name)
        self.viewers.append(v)
        self.assertEqual(v.wait_exit(20), 0, v.lines)
        self.assertGreater(time.monotonic() - started, 6.5)
        self.assertFalse(os.path.exists("/dev/shm/" + name))

    def test_invalid_image_information_fails_cleanly(self):
        self.block.set_string(97, "[1,2,3]")
        v = self.start(env={"LUMIVANE_ERROR_TIMEOUT_MS": "200"})
        code = v.wait_exit(20)
        self.assertNotIn(code, (None, 0), v.lines)
        self.assertEqual(self.block.state, "vsClosed")
        self.assertTrue(any("not a valid Object" in l for l in v.lines), v.lines)

    def test_command_line_maximises_only_as_the_table_says(self):
        cases = [
            (("ABC123",), True, False),
            (("ABC123", "Screen", "max"), True, True),
            (("ABC123", "screen", "MAX"), True, False),
            (("ABC123", "fullscreen", "max"), True, True),
            (("SCREEN", "max"), False, False),
            ((), False, False),
            # Every word belongs to the host: a search text that looks like a toolkit
            # option is still the search text, and the words after it still count.
            (("-reverse", "screen", "max"), True, True),
        ]
        for args, shown, maximised in cases:
            # Each row on a display of its own, its viewer ended and reaped before the
            # display goes: a row that is slow or fails leaves nothing for the next one.
            with self.subTest(args=args), XServer() as x:
                v = self.start(*args, env={"DISPLAY": x.display})
                try:
                    self.ready(v)
                    self.check_start_up_window(x, v, shown, maximised)
                    self.block.send("terminate")
                    self.assertEqual(v.wait_exit(30), 0, v.lines)
                finally:
                    v.kill()

    def check_start_up_window(self, x, v, shown, maximised):
        if shown:
            wins = wait_for(lambda: x.visible_windows("^Lumivane Viewer$"), 20)
            self.assertEqual(len(wins), 1, v.lines)

            def states():
                return x.run("xprop", "-id", wins[0], "_NET_WM_STATE")

            self.assertTrue(wait_for(lambda: ("MAXIMIZED_VERT" in states()) == maximised, 20), states())
        else:
            # The start-up choice is made before the first state tick. Once a command sent
            # now has been taken, a window it opened has been asked for; once a second one
            # has, the window manager has had a whole tick to map it.
            for _ in range(2):
                self.block.send("connected")
                self.assertTrue(wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20), v.lines)
            self.assertEqual(x.visible_windows("^Lumivane Viewer$"), [])

    def test_windows_are_shown_when_the_window_manager_arrives_after_the_program(self):
        # A desktop session may start the host (and so the viewer) together with the window
        # manager. The program starts first here; openbox follows 0.1 to 1 s later. The
        # viewer must still come up with the start-up identifier shown, and answer vcOpen.
        images = tempfile.mkdtemp(prefix="lv-late-wm-")
        self.addCleanup(shutil.rmtree, images, True)
        os.makedirs(os.path.join(images, "1234"))
        write_png(os.path.join(images, "1234", "12345678~1.png"), 64, 48)
        self.block.set_string(INFO, '{"Source":"%s/","Pattern":"****...."}' % images)
        for delay in (0.0, 0.1, 0.2, 0.3, 0.5, 0.7, 1.0):
            with self.subTest(delay=delay), XServer(window_manager=False) as x:
                self.block.set_byte(VIEW_STATE, 0)
                v = self.start("12345678", env={"DISPLAY": x.display})
                try:
                    # The window manager's start is what is delayed; nothing is asserted on
                    # a time.
                    time.sleep(delay)
                    x.start_window_manager()
                    self.assertTrue(wait_for(lambda: x.visible_windows("^Lumivane Viewer$"), 30), v.lines)
                    self.assertTrue(wait_for(lambda: self.block.state == "vsOpen", 30), v.lines)
                    self.block.send("hide")
                    self.assertTrue(wait_for(lambda: not x.visible_windows("^Lumivane Viewer$"), 30))
                    self.block.send("open")
                    self.assertTrue(wait_for(lambda: x.visible_windows("^Lumivane Viewer$"), 30), v.lines)
                    self.block.send("terminate")
                    self.assertEqual(v.wait_exit(30), 0, v.lines)
                finally:
                    v.kill()

    def test_command_storm_loses_nothing(self):
        v = self.start()
        self.ready(v)
        rng = random.Random(20261210)
        stored = []
        end = time.monotonic() + 12
        while time.monotonic() < end:
            # Store a command only once the previous one was taken, at a random moment
            # relative to the viewer's 300 ms poll. Bytes 7.. have no effect.
            if not wait_for(lambda: self.block.byte(COMMAND) == VC["handled"], 20, 0.001):
                self.fail("viewer stopped acknowledging")
            time.sleep(rng.uniform(0, 0.35))
            value = rng.randrange(7, 250)
            self.block.send(value)
            stored.append(value)
        def taken():
            return [int(m.group(1)) for l in v.trace() for m in [re.match(r"command taken \?(\d+)$", l)] if m]

        # The last command's line is written when it is taken; wait for it, not for a time.
        wait_for(lambda: len(taken()) >= len(stored), 20)
        self.assertEqual(taken(), stored)
        self.assertGreater(len(stored), 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
