"""docs/first-session.md run as written: its sh blocks, in order, in one shell with a home of
its own, under the runner's X server. The page's worked example must hold: the search finds
the .tif, .png and .jpg of 12345678 and not the .tiff or .jpeg copies."""
import os
import re
import signal
import subprocess
import tempfile
import unittest

SOURCE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
PAGE = os.path.join(SOURCE, "docs", "first-session.md")
BIN = os.environ.get("LV_BIN_DIR", os.path.join(SOURCE, "build", "bin"))


def commands():
    with open(PAGE, encoding="utf-8") as f:
        text = f.read()
    return re.findall(r"^```sh\n(.*?)^```", text, flags=re.S | re.M)


@unittest.skipUnless(os.environ.get("DISPLAY"), "needs the runner's X server (scripts/with-x)")
class FirstSession(unittest.TestCase):
    def test_every_command_runs_and_the_example_holds(self):
        blocks = commands()
        self.assertGreaterEqual(len(blocks), 4, "the page lost its commands")
        script = "set -euo pipefail\n" + "\n".join(blocks)
        # The page names the programs as build/bin/; a sanitizer or other build leg keeps
        # them elsewhere.
        script = script.replace("build/bin/", BIN.rstrip("/") + "/")
        with tempfile.TemporaryDirectory() as home:
            env = dict(os.environ, HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"))
            env.pop("QT_QPA_PLATFORM", None)
            env.pop("LUMIVANE_TRACE", None)
            # Files, not pipes: what the page starts in the background must not hold the
            # test; its session is ended whatever happens.
            out_path = os.path.join(home, "session.out")
            err_path = os.path.join(home, "session.err")
            with open(out_path, "w") as out, open(err_path, "w") as err:
                proc = subprocess.Popen(["bash", "-c", script], cwd=SOURCE, env=env, stdout=out,
                                        stderr=err, start_new_session=True)
                try:
                    returncode = proc.wait(timeout=240)
                except subprocess.TimeoutExpired:
                    returncode = None
                finally:
                    try:
                        os.killpg(proc.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                    proc.wait()
            with open(out_path) as f:
                stdout = f.read()
            with open(err_path) as f:
                stderr = f.read()
            log = ""
            path = os.path.join(home, "lumivane-try", "viewer.log")
            if os.path.exists(path):
                with open(path, encoding="utf-8", errors="replace") as f:
                    log = f.read()
            self.assertEqual(returncode, 0, "stdout:\n%s\nstderr:\n%s\nviewer:\n%s" % (stdout, stderr, log))
            found = [l for l in log.splitlines() if "search '12345678' found" in l]
            self.assertTrue(found, log)
            line = found[-1]
            self.assertIn("found 3:", line)
            for counted in ("12345678~1.tif", "12345678~2.png", "12345678~3.jpg"):
                self.assertIn(counted, line)
            for left_out in ("12345678~4.tiff", "12345678~5.jpeg"):
                self.assertNotIn(left_out, line)
            # The shell saw the lines the page says it would.
            self.assertIn("12345678~4.tiff", stdout)
            self.assertIn("found 3", stdout)
            # The viewer showed the first file and ended on the host's terminate.
            self.assertIn("image shown", log)
            self.assertIn("vsClosed", log)
            # Opened without a host: the named file first.
            with open(os.path.join(home, "lumivane-try", "open.log"), encoding="utf-8",
                      errors="replace") as f:
                opened = f.read()
            shown = [l for l in opened.splitlines() if "image shown" in l]
            self.assertTrue(shown and "12345678~2.png" in shown[0], opened)

    def test_the_readme_links_the_page(self):
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            self.assertIn("docs/first-session.md", f.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
