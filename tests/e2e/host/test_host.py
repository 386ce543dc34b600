"""lumivane-host against real shared-memory blocks: serve creates and beats a block,
lvtest-fake-viewer writes into it the way the viewer does, watch reports those writes,
and send/set/dump change and read the block."""
import json
import os
import queue
import signal
import subprocess
import tempfile
import threading
import time
import unittest

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))
HOST = os.path.join(BIN, "lumivane-host")
FAKE = os.path.join(BIN, "lvtest-fake-viewer")
TIMEOUT = 10.0


class Proc:
    """A child process whose stdout lines are collected as they come."""

    def __init__(self, *args, stdin=False):
        self.p = subprocess.Popen(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  stdin=subprocess.PIPE if stdin else subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def expect(self, wanted, timeout=TIMEOUT):
        """Waits for a line equal to `wanted` (or, when callable, for which it is true)."""
        match = wanted if callable(wanted) else (lambda line: line == wanted)
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=max(left, 0.01))
            except queue.Empty:
                raise AssertionError(f"no line {wanted!r} within {timeout}s; saw {self.seen!r}")
            if line is None:
                raise AssertionError(f"output ended before {wanted!r}; saw {self.seen!r}; "
                                     f"stderr {self.p.stderr.read()!r}")
            self.seen.append(line)
            if match(line):
                return line

    def step(self, text):
        self.p.stdin.write(text + "\n")
        self.p.stdin.flush()
        """Sends one step and waits until it is done; returns the line it printed, if any."""
        start = len(self.seen)
        self.expect("done " + text)
        printed = self.seen[start:-1]
        return printed[-1] if printed else None

    def stop(self, sig=signal.SIGTERM):
        if self.p.poll() is None:
            self.p.send_signal(sig)
        return self.p.wait(timeout=TIMEOUT)


def run(*args, check=True):
    r = subprocess.run([HOST, *args], capture_output=True, text=True, timeout=TIMEOUT)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} failed ({r.returncode}): {r.stderr}")
    return r


def block_bytes(name):
    with open("/dev/shm/" + name, "rb") as f:
        return f.read()


class HostTest(unittest.TestCase):
    counter = 0

    def setUp(self):
        HostTest.counter += 1
        self.name = f"lvtest-host-{os.getpid()}-{HostTest.counter}"
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.p.poll() is None:
                p.p.kill()
            p.p.wait()
            for stream in (p.p.stdin, p.p.stdout, p.p.stderr):
                if stream:
                    stream.close()
        if os.path.exists("/dev/shm/" + self.name):
            os.unlink("/dev/shm/" + self.name)

    def start(self, *args, stdin=False):
        p = Proc(*args, stdin=stdin)
        self.procs.append(p)
        return p

    def serve(self, *extra):
        s = self.start(HOST, "serve", self.name, *extra)
        s.expect("ready " + self.name)
        return s

    def wait_for(self, condition, what, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("timed out waiting for " + what)
            time.sleep(0.02)

    def test_watch_reports_each_viewer_write(self):
        self.serve("--search", "12345678")
        watch = self.start(HOST, "watch", self.name, "--interval", "20")
        watch.expect(lambda l: l.startswith(f"watching {self.name}: view state vsUnknown (0)"))
        viewer = self.start(FAKE, self.name, stdin=True)
        viewer.expect("opened " + self.name)
        watch.expect("view state vsOpening (2)")
        # Each step is in the block before the next one starts, so every change gets its line.
        steps = [
            ("state=vsIdle", "view state vsIdle (5)"),
            ("heartbeat=7", "viewer heartbeat 7"),
            ("capture=/tmp/capture 1.txt", 'terminal command tcCapture (1) file "/tmp/capture 1.txt" state cfsStartingCapture (2)'),
            ("printer=PDF \"Office\"", 'terminal command tcChangePrinterName (3) printer "PDF \\"Office\\""'),
            ("key=3", "terminal command tcChangeKeySet (4) key 3"),
            # The same terminal command again: only its operand changes.
            ("key=5", "key index 5"),
            ("stop-capture", "terminal command tcStopCapture (2)"),
            ("heartbeat=8", "viewer heartbeat 8"),
            ("state=vsOpen", "view state vsOpen (4)"),
        ]
        for step, line in steps:
            with self.subTest(step=step):
                viewer.step(step)
                watch.expect(line)
        viewer.step("exit")
        self.assertEqual(viewer.p.wait(timeout=TIMEOUT), 0)
        watch.expect("view state vsClosed (1)")

    def test_every_command_is_taken_by_the_viewer(self):
        self.serve()
        viewer = self.start(FAKE, self.name, stdin=True)
        viewer.expect("opened " + self.name)
        watch = self.start(HOST, "watch", self.name, "--interval", "10", "--no-viewer-heartbeat")
        watch.expect(lambda l: l.startswith("watching"))
        for word, value in [("open", "vcOpen (1)"), ("close", "vcClose (2)"), ("hide", "vcHide (3)"),
                            ("terminate", "vcTerminate (5)"), ("connected", "vcConnected (6)"),
                            ("9", "?9 (9)")]:
            with self.subTest(command=word):
                r = run("send", self.name, word)
                self.assertEqual(r.stdout.strip(), "sent " + value)
                self.assertEqual(block_bytes(self.name)[0], int(value.split("(")[1].rstrip(")")))
                watch.expect("command " + value)
                self.assertEqual(viewer.step("take"), "took " + value)
                watch.expect("command vcHandled (4) takes " + value)

    def test_send_wait_reports_whether_the_command_was_taken(self):
        self.serve()
        viewer = self.start(FAKE, self.name, stdin=True)
        viewer.expect("opened " + self.name)
        viewer.p.stdin.write("wait-command=5000\n")
        viewer.p.stdin.flush()
        r = run("send", self.name, "hide", "--wait", "5000")
        self.assertIn("taken: vcHandled (4)", r.stdout)
        viewer.expect("took vcHide (3)")
        # vcHandled over vcHandled leaves the byte as it was: the viewer's poll shows in
        # its heartbeat, which it writes in the same poll that takes the command.
        send = Proc(HOST, "send", self.name, "handled", "--wait", "5000")
        send.expect("sent vcHandled (4)")
        viewer.step("heartbeat=77")
        viewer.step("take")
        self.assertEqual(send.expect(lambda l: l.startswith("taken")), "taken: vcHandled (4)")
        self.assertEqual(send.p.wait(timeout=TIMEOUT), 0)
        # Nobody takes this one.
        r = run("send", self.name, "open", "--wait", "300", check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("not taken", r.stderr)

    def test_set_and_dump_round_trip_and_the_viewer_reads_the_same(self):
        self.serve()
        info = '{"Source":"/scans/","Pattern":"****...."}'
        run("set", self.name, "--search", "4711", "--info", info, "--console-id", "0x1234",
            "--title-format", "Console %d", "--connection", "Bank 7", "--capture-state", "capturing",
            "--key", "2")
        data = block_bytes(self.name)
        self.assertEqual(data[2404:2406], b"\x34\x12")
        self.assertEqual(data[32:37], b"4711\0")
        dump = json.loads(run("dump", self.name, "--json").stdout)
        self.assertEqual(dump["SearchText"], "4711")
        self.assertEqual(dump["ImageInformation"], info)
        self.assertEqual(dump["ConsoleInstanceId"], 0x1234)
        self.assertEqual(dump["CallingWindowNameFormat"], "Console %d")
        self.assertEqual(dump["ConnectionName"], "Bank 7")
        self.assertEqual(dump["CaptureFileState"], "cfsCapturing")
        self.assertEqual(dump["KeyIndex"], 2)
        text = run("dump", self.name).stdout
        self.assertIn('SearchText: "4711"\n', text)
        self.assertIn("ConsoleInstanceId: 4660\n", text)
        viewer = self.start(FAKE, self.name, "print")
        self.assertEqual(viewer.expect(lambda l: l.startswith("search=")),
                         "search=4711 console=4660 format=Console %d connection=Bank 7 "
                         "capture-state=3 key=2 source=/scans/ pattern=****....")

    def test_set_keeps_slot_limits(self):
        self.serve()
        # 62 ASCII bytes and a 3-byte character: 65 bytes, one too many; the character goes whole.
        long_search = "1" * 62 + "\u20ac"
        r = run("set", self.name, "--search", long_search)
        self.assertIn("cut", r.stderr)
        data = block_bytes(self.name)
        self.assertEqual(data[32:32 + 63], b"1" * 62 + b"\0")
        self.assertEqual(data[97], 0, "the search text ran into the image information")
        run("set", self.name, "--info", "{}")
        r = run("set", self.name, "--info", '{"Source":"' + "x" * 2040 + '"}', check=False)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(block_bytes(self.name)[97:100], b"{}\0", "a refused text must not be written")
        r = run("set", self.name, "--info", "[1]")
        self.assertIn("not a valid Object", r.stderr)

    def test_heartbeat_moves_pauses_and_resumes(self):
        fd, pause_file = tempfile.mkstemp()
        os.close(fd)
        os.unlink(pause_file)
        serve = self.serve("--pause-file", pause_file)
        beat = lambda: block_bytes(self.name)[4]
        for pause, resume in [(lambda: serve.p.send_signal(signal.SIGUSR1), lambda: serve.p.send_signal(signal.SIGUSR2)),
                              (lambda: open(pause_file, "w").close(), lambda: os.unlink(pause_file))]:
            first = beat()
            self.wait_for(lambda: beat() != first, "the heartbeat to move")
            pause()
            held = int(serve.expect(lambda l: l.startswith("heartbeat paused at ")).split()[-1])
            # Several of the 100 ms periods pass without a change.
            for _ in range(6):
                self.assertEqual(beat(), held)
                time.sleep(0.1)
            resume()
            serve.expect("heartbeat resumed")
            self.wait_for(lambda: beat() != held, "the heartbeat to move again")

    def test_serve_writes_its_fields_and_removes_the_block_on_exit(self):
        serve = self.serve("--search", "12345678", "--console-id", "7", "--title-format", "Lumivane Console %d",
                           "--connection", "demo", "--info", '{"Source":"/a/"}')
        dump = json.loads(run("dump", self.name, "--json").stdout)
        self.assertEqual((dump["SearchText"], dump["ConsoleInstanceId"], dump["CallingWindowNameFormat"],
                          dump["ConnectionName"], dump["ImageInformation"], dump["ViewState"]),
                         ("12345678", 7, "Lumivane Console %d", "demo", '{"Source":"/a/"}', "vsUnknown"))
        self.assertEqual(os.path.getsize("/dev/shm/" + self.name), 4096)
        watch = self.start(HOST, "watch", self.name, "--no-viewer-heartbeat")
        watch.expect(lambda l: l.startswith("watching"))
        self.assertEqual(serve.stop(signal.SIGINT), 0)
        serve.expect("removed " + self.name)
        self.assertFalse(os.path.exists("/dev/shm/" + self.name))
        watch.expect("block removed")
        self.assertEqual(watch.p.wait(timeout=TIMEOUT), 0)

    def test_serve_starts_the_viewer_with_the_block_name(self):
        serve = self.start(HOST, "serve", self.name, "--search", "99", "--exit-with-viewer",
                           "--viewer", FAKE, "state=vsIdle", "print")
        serve.expect("search=99 console=0 format= connection= capture-state=0 key=0 source=- pattern=-")
        serve.expect("viewer exited with status 0")
        self.assertEqual(serve.p.wait(timeout=TIMEOUT), 0)
        self.assertFalse(os.path.exists("/dev/shm/" + self.name))

    def test_serve_ends_a_running_viewer_with_terminate(self):
        serve = self.start(HOST, "serve", self.name, "--viewer", FAKE, "wait-command=20000")
        serve.expect("opened " + self.name)
        serve.stop()
        serve.expect("took vcTerminate (5)")
        serve.expect("viewer exited with status 0")

    def test_serve_and_watch_survive_the_block_shrinking_and_being_replaced(self):
        path = "/dev/shm/" + self.name
        serve = self.serve("--interval", "20")
        watch = self.start(HOST, "watch", self.name, "--interval", "20", "--no-viewer-heartbeat")
        watch.expect(lambda l: l.startswith("watching"))
        beat = lambda: block_bytes(self.name)[4]

        def moving(what):
            first = beat()
            self.wait_for(lambda: beat() != first, what)

        os.truncate(path, 0)
        serve.expect("block shrank below 4096 bytes")
        watch.expect("block shrank below 4096 bytes")
        os.truncate(path, 4096)
        serve.expect("block whole again")
        watch.expect("block whole again")
        moving("the heartbeat to move again in the regrown block")

        os.unlink(path)
        with open(path, "wb") as f:
            f.write(bytes(4096))
        serve.expect("block replaced by a new one of the same name")
        watch.expect("block replaced by a new one of the same name")
        moving("the heartbeat to move in the new block")

        # Re-created with O_TRUNC, over and over, racing the heartbeat writes.
        for _ in range(50):
            with open(path, "wb") as f:
                f.write(bytes(4096))
        moving("the heartbeat to move after the re-creations")
        self.assertIsNone(serve.p.poll(), "serve ended")
        self.assertIsNone(watch.p.poll(), "watch ended")
        self.assertEqual(serve.stop(signal.SIGINT), 0)
        serve.expect("removed " + self.name)
        watch.expect("block removed")

    def test_usage_and_errors(self):
        for command in ["serve", "send", "set", "dump", "watch"]:
            with self.subTest(command=command):
                r = run(command, "--help")
                self.assertTrue(r.stdout.startswith("usage: lumivane-host " + command), r.stdout)
        # On Linux the serve help names the block's file and the pause signals (the
        # Windows build says what stands for them there: tests/win32).
        serve_help = run("serve", "--help").stdout
        for word in ["/dev/shm/NAME", "SIGUSR1", "SIGUSR2", "SIGTERM"]:
            with self.subTest(serve_help=word):
                self.assertIn(word, serve_help)
        with self.subTest("--version"):
            self.assertRegex(run("--version").stdout, r"^lumivane-host \d+(\.\d+)+\n$")
            self.assertIn("--version", run("--help").stdout)
        missing = f"lvtest-host-missing-{os.getpid()}"
        for args in [("send", missing, "open"), ("set", missing, "--search", "1"), ("dump", missing)]:
            with self.subTest(args=args):
                r = run(*args, check=False)
                self.assertEqual(r.returncode, 1)
                self.assertIn("no control block named", r.stderr)
        self.serve()
        for args in [("send", self.name, "bogus"), ("set", self.name, "--key", "256"),
                     ("set", self.name, "--console-id", "-1"), ("serve", self.name, "--interval", "x")]:
            with self.subTest(args=args):
                self.assertNotEqual(run(*args, check=False).returncode, 0)


if __name__ == "__main__":
    unittest.main()
