"""The real lumivane-viewer against a host that abuses its block. For ten seconds the host
writes random bytes into every field it owns once a millisecond, truncates the block to
nothing and grows it back, removes it and creates a new one under the same name, and
re-creates it with O_TRUNC. The viewer must live through all of it, reach each new block,
and end the orderly way: vsClosed is the last state it writes.

The host writes through a file descriptor, never through a mapping of its own, so the
test itself cannot fault on the block it shrinks."""
import os
import random
import signal
import subprocess
import threading
import time
import unittest

BIN = os.environ.get("LV_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../../build/bin"))
VIEWER = os.path.join(BIN, "lumivane-viewer")
SIZE = 4096
COMMAND, HOST_BEAT, VIEW_STATE, VIEWER_BEAT = 0, 4, 16, 5
VS_CLOSED = 1
INFO = 97
INFO_JSON = b'{"Source":"/nonexistent-lumivane-source","Pattern":"ABC..."}\0'
# Every field the host writes, as (offset, width); the heartbeat is beaten apart.
HOST_FIELDS = [(COMMAND, 1), (32, 65), (INFO, 2049), (2146, 1), (2404, 2), (2407, 257), (2921, SIZE - 2921)]
# vcClose and vcTerminate would end the viewer before the abuse is over.
ENDING_COMMANDS = {2, 5}
ABUSE_SECONDS = 10.0


def _default_end_signals():
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, signal.SIG_DFL)


def wait_for(predicate, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


class Host:
    """The block through a descriptor: created, resized, replaced, written with pwrite."""

    def __init__(self, name):
        self.path = "/dev/shm/" + name
        self.fd = -1
        self.beat = 0
        self.create()

    def create(self, flags=os.O_CREAT | os.O_EXCL):
        fd = os.open(self.path, os.O_RDWR | flags, 0o600)
        os.ftruncate(fd, SIZE)
        if self.fd >= 0:
            os.close(self.fd)
        self.fd = fd
        os.pwrite(self.fd, INFO_JSON, INFO)
        self.beat_once()

    def beat_once(self):
        # Never 0: a block read as zeros must not look like a live host.
        self.beat = self.beat % 255 + 1
        os.pwrite(self.fd, bytes([self.beat]), HOST_BEAT)

    def byte(self, offset):
        return os.pread(self.fd, 1, offset)[0]

    def scribble(self, rng):
        for offset, width in HOST_FIELDS:
            data = bytearray(rng.randbytes(rng.randint(1, width)))
            if offset == COMMAND and data[0] in ENDING_COMMANDS:
                data[0] = 0
            os.pwrite(self.fd, bytes(data), offset)

    def close(self):
        os.close(self.fd)
        try:
            os.unlink(self.path)
        except FileNotFoundError:
            pass


class Viewer:
    def __init__(self, name):
        env = dict(os.environ, LUMIVANE_TRACE="1")
        env.pop("QT_QPA_PLATFORM", None)
        self.proc = subprocess.Popen([VIEWER, name], stderr=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     env=env, text=True, errors="replace", preexec_fn=_default_end_signals)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            self.lines.append(line.rstrip("\n"))

    def trace(self):
        return [l[len("lumivane: "):] for l in list(self.lines) if l.startswith("lumivane: ")]

    def count(self, event):
        return sum(1 for l in self.trace() if l == event)

    def alive(self):
        return self.proc.poll() is None


class BlockAbuseTest(unittest.TestCase):
    def setUp(self):
        self.name = "lvtest-abuse-%d" % os.getpid()
        self.host = Host(self.name)
        self.viewer = Viewer(self.name)

    def tearDown(self):
        if self.viewer.alive():
            self.viewer.proc.kill()
        self.viewer.proc.wait()
        self.viewer.reader.join(timeout=5)
        self.host.close()

    def wait_event(self, event, before):
        self.assertTrue(wait_for(lambda: self.viewer.count(event) > before or not self.viewer.alive()),
                        "no '%s' from the viewer" % event)
        self.assertTrue(self.viewer.alive(), "viewer ended waiting for '%s': %s" % (event, self.viewer.lines[-20:]))

    def abuse(self, rng, seconds):
        """Random fields every millisecond, the heartbeat every 100 ms."""
        end = time.monotonic() + seconds
        next_beat = 0.0
        while time.monotonic() < end:
            self.host.scribble(rng)
            now = time.monotonic()
            if now >= next_beat:
                self.host.beat_once()
                next_beat = now + 0.1
            time.sleep(0.001)
        self.host.beat_once()

    def test_viewer_lives_through_a_hostile_block_and_ends_with_closed(self):
        rng = random.Random(11)
        self.assertTrue(wait_for(lambda: "view state vsIdle" in self.viewer.trace()), self.viewer.lines)
        step = ABUSE_SECONDS / 4

        self.abuse(rng, step)
        # Truncated to nothing, then whole again with zeros, as soon as the viewer noticed.
        shrank, whole = self.viewer.count("control block shrank"), self.viewer.count("control block whole again")
        os.ftruncate(self.host.fd, 0)
        self.wait_event("control block shrank", shrank)
        os.ftruncate(self.host.fd, SIZE)
        os.pwrite(self.host.fd, INFO_JSON, INFO)
        self.host.beat_once()
        self.wait_event("control block whole again", whole)
        self.assertTrue(wait_for(lambda: self.host.byte(VIEW_STATE) != 0), "state not shown again")

        self.abuse(rng, step)
        # Removed, and a new block created under the same name: the viewer moves over.
        replaced = self.viewer.count("control block replaced")
        os.unlink(self.host.path)
        self.host.create()
        self.wait_event("control block replaced", replaced)
        self.assertTrue(wait_for(lambda: self.host.byte(VIEW_STATE) != 0), "no state in the new block")
        first = self.host.byte(VIEWER_BEAT)
        self.assertTrue(wait_for(lambda: self.host.byte(VIEWER_BEAT) != first), "no heartbeat in the new block")

        self.abuse(rng, step)
        # Re-created with O_TRUNC over and over, racing the viewer's reads and writes.
        for _ in range(200):
            self.host.create(os.O_TRUNC)
            self.host.scribble(rng)
        self.abuse(rng, step)

        self.assertTrue(self.viewer.alive(), self.viewer.lines[-20:])
        os.pwrite(self.host.fd, bytes([2]), COMMAND)  # vcClose
        self.viewer.proc.wait(timeout=30)
        self.viewer.reader.join(timeout=5)
        self.assertEqual(self.viewer.proc.returncode, 0, self.viewer.lines[-20:])
        states = [l for l in self.viewer.trace() if l.startswith("view state ")]
        self.assertEqual(states[-1], "view state vsClosed", states[-5:])
        self.assertEqual(self.host.byte(VIEW_STATE), VS_CLOSED)


if __name__ == "__main__":
    unittest.main()
