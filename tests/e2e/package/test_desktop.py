"""The desktop's way in, as installed (cmake --install into a throw-away root): the entry
and the AppStream record pass their validators, the icon is in the hicolor theme at the
sizes the entry's Icon key needs, and the entry's Exec line, with %F expanded as a desktop
expands it, starts the installed viewer on the files given (under the runner's X server)."""
import os
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "program"))
from lvblock import wait_for  # noqa: E402
from test_program import write_png  # noqa: E402

BUILD = os.path.abspath(os.environ["LV_BUILD_DIR"])
ENTRY = "usr/share/applications/lumivane-viewer.desktop"
METAINFO = "usr/share/metainfo/example.lumivane.viewer.metainfo.xml"


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=kw.pop("timeout", 120), **kw)


def desktop_entry(path):
    """The keys of the [Desktop Entry] group."""
    keys, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                keys[key.strip()] = value.strip()
    return keys


def expand_exec(exec_line, files):
    """The command a desktop runs for the entry's Exec line and these files: %F becomes one
    argument per file, %% a percent sign; the other field codes go away."""
    command = []
    for word in shlex.split(exec_line):
        if word == "%F":
            command.extend(files)
        elif word in ("%f", "%u", "%U", "%i", "%c", "%k"):
            command.extend(files[:1] if word in ("%f", "%u") else [])
        else:
            command.append(word.replace("%%", "%"))
    return command


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class DesktopEntry(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lv-desktop-")
        cls.root = os.path.join(cls.tmp, "root")
        p = run("cmake", "--install", BUILD, "--prefix", "/usr", env=dict(os.environ, DESTDIR=cls.root))
        if p.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + p.stdout + p.stderr)
        cls.entry = desktop_entry(os.path.join(cls.root, ENTRY))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_validators_accept_the_entry_and_the_record(self):
        p = run("desktop-file-validate", os.path.join(self.root, ENTRY))
        self.assertEqual((p.returncode, p.stdout + p.stderr), (0, ""))
        p = run("appstreamcli", "validate", "--no-net", "--pedantic", os.path.join(self.root, METAINFO))
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        self.assertNotRegex(p.stdout, r"(?m)^[EW]:", p.stdout)
        # The record, the entry it launches and the icon, read together as installed.
        p = run("appstreamcli", "validate-tree", "--no-net", self.root)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        self.assertIn("example.lumivane.viewer", p.stdout)  # the record was found there
        self.assertNotRegex(p.stdout, r"(?m)^[EW]:", p.stdout)

    def test_entry_opens_the_images_the_viewer_shows(self):
        self.assertEqual(self.entry["Exec"], "lumivane-viewer --open %F")
        self.assertEqual(self.entry["MimeType"], "image/tiff;image/png;image/jpeg;")
        self.assertEqual(self.entry["Type"], "Application")
        self.assertEqual(self.entry["Terminal"], "false")

    def test_icon_is_in_the_hicolor_theme_at_every_size(self):
        icons = os.path.join(self.root, "usr/share/icons/hicolor")
        name = self.entry["Icon"]
        self.assertTrue(os.path.isfile(os.path.join(icons, "scalable/apps", name + ".svg")))
        for size in (48, 256):
            with self.subTest(size=size):
                path = os.path.join(icons, "%dx%d/apps" % (size, size), name + ".png")
                self.assertEqual(png_size(path), (size, size))

    def test_exec_line_opens_the_files_a_desktop_passes(self):
        files = os.path.join(self.tmp, "files")
        os.makedirs(files)
        # One file of each type the entry declares, one with a space in its name, and a
        # sibling that is not passed.
        write_png(os.path.join(files, "scan 2.png"), 60, 80)
        write_png(os.path.join(files, "sibling.png"), 60, 80)
        for out in ("a.tif", "b.jpg"):
            self.assertEqual(run("convert", os.path.join(files, "scan 2.png"), os.path.join(files, out)).returncode, 0)
        passed = [os.path.join(files, n) for n in ("b.jpg", "scan 2.png", "a.tif")]
        command = expand_exec(self.entry["Exec"], passed)
        self.assertEqual(command[:2], ["lumivane-viewer", "--open"])
        env = dict(os.environ, PATH=os.path.join(self.root, "usr/bin") + os.pathsep + os.environ["PATH"],
                   LUMIVANE_TRACE="1", XDG_DATA_HOME=os.path.join(self.tmp, "data"))
        env.pop("QT_QPA_PLATFORM", None)
        self.assertEqual(shutil.which(self.entry["TryExec"], path=env["PATH"]),
                         os.path.join(self.root, "usr/bin/lumivane-viewer"))
        viewer = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        lines = []
        try:
            threading.Thread(target=lambda: [lines.append(l.rstrip("\n")) for l in viewer.stderr], daemon=True).start()

            def shown(name):
                return lambda: any(l.endswith("image shown " + os.path.join(files, name)) for l in lines)
            # The first file passed is shown first; the list holds the files passed.
            self.assertTrue(wait_for(shown("b.jpg"), 60), lines)
            windows = run("xdotool", "search", "--onlyvisible", "--pid", str(viewer.pid)).stdout.split()
            self.assertEqual(len(windows), 1, lines)
            for name in ("scan 2.png", "a.tif"):
                run("xdotool", "windowactivate", "--sync", windows[0])
                run("xdotool", "key", "--clearmodifiers", "Right")
                self.assertTrue(wait_for(shown(name), 30), lines)
            self.assertFalse(any("sibling.png" in l for l in lines), lines)
            viewer.send_signal(signal.SIGTERM)
            self.assertEqual(viewer.wait(30), 0, lines)
        finally:
            if viewer.poll() is None:
                viewer.kill()
                viewer.wait()


if __name__ == "__main__":
    unittest.main(verbosity=2)
