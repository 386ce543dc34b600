"""The Debian package as a user gets it: CPack builds it from the finished build, its
Depends are satisfiable on this system, and the programs unpacked from it with `dpkg -x`
run: the packaged host serves a block, the packaged viewer starts against it under the
runner's X server, reports its states and ends on the host's close command."""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from lvblock import wait_for  # noqa: E402

BUILD = os.environ["LV_BUILD_DIR"]


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=kw.pop("timeout", 300), **kw)


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="lv-package-")
        p = run("cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", cls.tmp)
        if p.returncode != 0:
            raise AssertionError("cpack failed:\n" + p.stdout + p.stderr)
        debs = glob.glob(os.path.join(cls.tmp, "*.deb"))
        if len(debs) != 1:
            raise AssertionError("expected one .deb, found %r" % debs)
        cls.deb = debs[0]
        cls.root = os.path.join(cls.tmp, "root")
        p = run("dpkg", "-x", cls.deb, cls.root)
        if p.returncode != 0:
            raise AssertionError(p.stderr)
        cls.bin = os.path.join(cls.root, "usr", "bin")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_programs_in_bin_and_nothing_from_the_build_tree(self):
        for program in ("lumivane-viewer", "lumivane-host"):
            with self.subTest(program):
                path = os.path.join(self.bin, program)
                self.assertTrue(os.access(path, os.X_OK), path)
                dynamic = run("readelf", "-d", path).stdout
                self.assertNotIn(BUILD, dynamic)  # no RPATH into the build folder
                self.assertNotIn(os.path.dirname(os.path.abspath(BUILD)), dynamic)

    def test_depends_names_the_linked_libraries_and_installs_here(self):
        depends = self.field("Depends")
        for package in ("libc6", "libqt6widgets6", "libqt6gui6", "libtiff6", "libjpeg62-turbo", "libxcb1"):
            self.assertRegex(depends, r"(^|, )%s( |,|$)" % re.escape(package), depends)
        # apt resolves every dependency of the package on this Debian system.
        p = run("apt-get", "install", "--simulate", "--no-install-recommends", self.deb)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        self.assertIn("lumivane-viewer", p.stdout)
        self.assertEqual(self.field("Version"), run(os.path.join(self.bin, "lumivane-viewer"),
                                                    "--version").stdout.split()[-1])

    def test_packaged_host_and_viewer_work_together(self):
        host = os.path.join(self.bin, "lumivane-host")
        viewer = os.path.join(self.bin, "lumivane-viewer")
        name = "lvtest-package-%d" % os.getpid()
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(self.tmp, "data"))
        env.pop("QT_QPA_PLATFORM", None)
        serve = subprocess.Popen([host, "serve", name, "--search", "ABC123", "--info", '{"Source":"/nonexistent/","Pattern":"ABC..."}',
                                  "--exit-with-viewer", "--viewer", viewer],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        watch = None
        try:
            self.assertEqual(serve.stdout.readline().strip(), "ready " + name)
            watch = subprocess.Popen([host, "watch", name, "--for", "60"], stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
            lines = []

            def saw(text):
                def check():
                    return any(text in l for l in lines)
                return check

            import threading
            reader = threading.Thread(target=lambda: [lines.append(l.rstrip()) for l in watch.stdout], daemon=True)
            reader.start()
            self.assertTrue(wait_for(saw("vsIdle"), 30), lines)
            # The viewer takes the host's open (the byte goes to vcHandled) ...
            self.assertEqual(run(host, "send", name, "open", "--wait", "5000").returncode, 0)
            # ... and ends on its close, vsClosed last, and the host with it.
            self.assertEqual(run(host, "send", name, "close", "--wait", "5000").returncode, 0)
            self.assertTrue(wait_for(saw("vsClosed"), 30), lines)
            self.assertEqual(serve.wait(30), 0)
        finally:
            for p in (serve, watch):
                if p and p.poll() is None:
                    p.terminate()
                    p.wait(10)


if __name__ == "__main__":
    unittest.main(verbosity=2)
