"""The example host of docs/protocol.md, run as an integrator would run it: against the
real viewer it creates the block, the viewer shows the identifier's image (vsOpen), takes
hide and open, and ends on close with vsClosed last; the host then removes the block.
Against a viewer that never comes up it gives up with a failure instead of waiting for
ever, and still removes the block."""
import os
import struct
import subprocess
import tempfile
import unittest
import zlib

BIN = os.environ["LV_BIN_DIR"]
HOST = os.path.join(BIN, "minimal-host")
VIEWER = os.path.join(BIN, "lumivane-viewer")


def png(path, width=64, height=32):
    """A small grey PNG, written by hand so the test needs no imaging library."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"\x80" * width for _ in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class MinimalHost(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="lv-minimal-host-")
        self.scans = os.path.join(self.tmp.name, "scans") + "/"
        os.makedirs(os.path.join(self.scans, "ABCD"))
        png(os.path.join(self.scans, "ABCD", "ABCD1234~1.png"))
        self.env = dict(os.environ, XDG_DATA_HOME=os.path.join(self.tmp.name, "data"))
        self.env.pop("QT_QPA_PLATFORM", None)

    def tearDown(self):
        self.tmp.cleanup()

    def run_host(self, name, viewer):
        p = subprocess.run([HOST, name, self.scans, "ABCD1234", *viewer], capture_output=True,
                           text=True, env=self.env, timeout=200)
        states = [int(line.split()[2].rstrip(",")) for line in p.stdout.splitlines()
                  if line.startswith("view state ")]
        return p, states

    def test_sessions(self):
        cases = [
            # name, viewer command, exit status, whether the viewer showed the image
            ("real viewer", [VIEWER], 0, True),
            ("viewer that ends at once", ["/bin/false"], 1, False),
            ("viewer that cannot start", [os.path.join(self.tmp.name, "missing")], 1, False),
        ]
        for label, viewer, status, shown in cases:
            with self.subTest(label):
                name = "lvtest-minimal-%d-%d" % (os.getpid(), len(label))
                p, seen = self.run_host(name, viewer)
                self.assertEqual(p.returncode, status, p.stdout + p.stderr)
                self.assertEqual(4 in seen, shown, p.stdout)  # vsOpen: the image is shown
                if shown:
                    self.assertEqual(seen[-1], 1, p.stdout)  # vsClosed is the last state
                    self.assertIn("viewer ended", p.stdout)
                self.assertFalse(os.path.exists("/dev/shm/" + name), "block left behind")

if __name__ == "__main__":
    unittest.main(verbosity=2)
