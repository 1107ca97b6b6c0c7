"""The machine's cache (sandbox/cache.py) in a folder of the test's own: an
entry is made once, made again when it is not whole, never used half-made
after a killed run, made by one run at a time, and of one recipe at a time."""

import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "sandbox"))
import cache  # noqa: E402

RECIPE = {"suite": "test", "packages": ["a", "b"]}


class Cache(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        cache.CACHE = pathlib.Path(self.folder.name)
        self.makings = 0

    def tearDown(self):
        self.folder.cleanup()

    def maker(self, partial):
        self.makings += 1
        (partial / "sub").mkdir()
        (partial / "sub" / "file").write_text("made %d" % self.makings)
        (partial / "link").symlink_to("sub/file")

    def use(self, recipe=RECIPE):
        with cache.entry("test", recipe, self.maker) as content:
            return (content / "sub" / "file").read_text()

    def test_made_once_then_made_again_only_when_not_whole(self):
        self.assertEqual(self.use(), "made 1")
        self.assertEqual(self.use(), "made 1")
        place = cache.folder("test", RECIPE)
        damages = [lambda: (place / cache.MARKER).unlink(),
                   lambda: (place / "content" / "link").unlink(),
                   lambda: (place / "content" / "sub" / "file").write_text("changed size"),
                   lambda: (place / cache.MARKER).write_text("{not json")]
        for made, damage in enumerate(damages, 2):
            damage()
            self.assertEqual(self.use(), "made %d" % made)
        # What runs add beside the listed files does not count.
        (place / "content" / "sub" / "added").write_text("")
        self.assertEqual(self.use(), "made %d" % len(damages + [1]))

    def test_a_cache_that_another_user_can_write_is_not_used(self):
        os.chmod(self.folder.name, 0o777)
        with self.assertRaisesRegex(cache.Failed, "another user"):
            self.use()
        self.assertEqual(self.makings, 0)

    def test_a_run_killed_while_making_leaves_nothing_used(self):
        code = ("import pathlib, sys, time; sys.path.insert(0, %r); import cache; "
                "cache.CACHE = pathlib.Path(%r)\n"
                "def make(partial):\n (partial / 'sub').mkdir(); print('making', flush=True); "
                "time.sleep(60)\n"
                "with cache.entry('test', %r, make): pass\n") % (
                    str(pathlib.Path(cache.__file__).parent), self.folder.name, RECIPE)
        run = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE)
        self.assertEqual(run.stdout.readline(), b"making\n")
        os.kill(run.pid, signal.SIGKILL)
        run.wait()
        self.assertEqual(self.use(), "made 1")

    def test_runs_at_once_make_it_once(self):
        def slow(partial):
            time.sleep(0.5)
            self.maker(partial)
        results = []

        def run():
            with cache.entry("test", RECIPE, slow) as content:
                results.append((content / "sub" / "file").read_text())
        runs = [threading.Thread(target=run) for _ in range(3)]
        [run.start() for run in runs]
        [run.join() for run in runs]
        self.assertEqual((results, self.makings), (["made 1"] * 3, 1))

    def test_another_recipe_replaces_entries_that_no_run_holds(self):
        other, third = dict(RECIPE, suite="other"), dict(RECIPE, suite="third")
        self.use()
        with cache.entry("test", other, self.maker):
            self.use(third)
            self.assertTrue(cache.folder("test", other).exists())
        self.assertFalse(cache.folder("test", RECIPE).exists())
        self.assertEqual(cache.remove_all(), 0)
        self.assertEqual(list(cache.CACHE.iterdir()), [])


if __name__ == "__main__":
    unittest.main()
