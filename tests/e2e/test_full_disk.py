"""A full disk while the program starts: the data folder on a small file system of the test's
own (a tmpfs in a mount namespace of this test process, which the program inherits). The
start creates the data files, or builds an index that is missing, on a disk with too little
room: one box tells it in Danish, the program ends cleanly (exit 1, never "Program halted."),
the tables are as they were, and once room is freed the next start reaches its main window
and saves."""
import ctypes
import os
import re
import shutil
import tempfile
import time
import unittest

import kjx
from test_preview import add_postal_code

CLONE_NEWNS = 0x00020000
MS_REC, MS_PRIVATE = 0x4000, 0x40000
FULL = r"Disken er fuld"
_libc = ctypes.CDLL("libc.so.6", use_errno=True)


def _own_mounts():
    """Gives this process mounts of its own (once), so that a mount made here goes with it;
    the reason it cannot, or None."""
    if getattr(_own_mounts, "why", False) is not False:
        return _own_mounts.why
    why = None
    if _libc.unshare(CLONE_NEWNS) != 0 or \
            _libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        why = "no mount namespace here: " + os.strerror(ctypes.get_errno())
    _own_mounts.why = why
    return why


class SmallDisk:
    """A tmpfs of size_kb on a fresh folder; fill() leaves at most free_kb free."""

    def __init__(self, size_kb):
        self.path = None
        why = _own_mounts()
        if why:
            raise unittest.SkipTest(why)
        self.path = tempfile.mkdtemp(prefix="kj-disk-")
        opts = ("size=%dk" % size_kb).encode()
        if _libc.mount(b"tmpfs", self.path.encode(), b"tmpfs", 0, opts) != 0:
            why = "cannot mount a tmpfs: " + os.strerror(ctypes.get_errno())
            os.rmdir(self.path)
            self.path = None
            raise unittest.SkipTest(why)

    def free_kb(self):
        st = os.statvfs(self.path)
        return st.f_bavail * st.f_frsize // 1024

    def fill(self, free_kb=0):
        with open(os.path.join(self.path, "filler"), "ab") as f:
            while self.free_kb() > free_kb:
                try:
                    f.write(b"x" * 1024 * max(1, min(64, self.free_kb() - free_kb)))
                    f.flush()
                except OSError:
                    break

    def free(self):
        os.unlink(os.path.join(self.path, "filler"))

    def close(self):
        if self.path:
            _libc.umount2(self.path.encode(), 2)  # MNT_DETACH
            shutil.rmtree(self.path, ignore_errors=True)


def files_of(folder):
    """Every file of a folder with its bytes."""
    result = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


def box_window(st, ask):
    """The window of a box from the transcript: titled with its caption and modal (the
    start-up window has the same title)."""
    title = "^" + re.escape(ask["caption"].strip()) + "$"

    def modal():
        for w in st.windows():
            if re.search(title, w.title) and "_NET_WM_STATE_MODAL" in st.display._run(
                    ["xprop", "-id", str(w.id), "_NET_WM_STATE"], check=False):
                return w.id
        return None
    return kjx.wait_until(modal, kjx.WAIT, "the box %r (windows %s)" % (ask, st.windows()))


def start_to_the_box(st, regex):
    """Starts the station's program and answers the first start's questions (the data folder,
    creating the data files) until a box matching regex comes; returns it (ask) with its
    window."""
    st.launch()
    d = st.display
    end = time.monotonic() + 2 * kjx.WAIT
    while True:
        st.check_running()
        if d.find(kjx.MAIN_TITLE, st.proc.pid) is not None:
            raise AssertionError("main window over a full disk; dialogs %s" % st.dialogs.asked())
        if time.monotonic() > end:
            raise kjx.TimeoutError_("no box /%s/; dialogs: %s" % (regex, st.dialogs.asked()))
        ask = st.dialogs.next("ask")
        if ask is None:
            time.sleep(0.1)
        elif st.answer_first_start(ask):
            pass
        elif re.search(regex, ask["text"]):
            return ask, box_window(st, ask)
        else:
            raise AssertionError("unexpected box at start: %r" % (ask,))


class FullDiskAtStartTest(unittest.TestCase):
    def setUp(self):
        self.disk = SmallDisk(4096)
        self.addCleanup(self.disk.close)
        self.data = os.path.join(self.disk.path, "SagsData") + "/"
        os.makedirs(self.data)

    def ends_with_the_box(self, st, head, before):
        """The start meets the full disk: the Danish box (its text matching head), then a
        clean end; the data folder holds what it held before (a dict of files, or None: not
        checked)."""
        ask, box = start_to_the_box(st, FULL)
        text = ask["text"]
        self.assertRegex(text, head)
        self.assertIn("Frigør plads på disken", text)
        self.assertIn("intet andet er gået tabt" if "oprettes" in text else "intet er gået tabt",
                      text)
        self.assertNotIn("Error #", text.split("Oplysninger til leverandøren:")[0])
        self.assertNotIn("Could not", text.split("Oplysninger til leverandøren:")[0])
        st.display.key(box, "Return")
        st.wait_answer()
        self.assertEqual(st.wait_exit(), 1, st.output()[-2000:])
        captions = [c for c, _ in st.dialogs.asked()]
        self.assertNotIn("Program halted.", captions, st.dialogs.asked())
        self.assertEqual([t for _, t in st.dialogs.asked() if re.search(FULL, t)], [text])
        if before is not None:
            now = files_of(self.data)
            self.assertEqual(sorted(now), sorted(before))
            for name in before:
                self.assertTrue(now[name] == before[name], name + " changed")

    def starts_and_saves(self, d, codes):
        """Room again: the next start reaches its main window and saves a postal code."""
        st = kjx.Station(d, data_dir=self.data)
        add_postal_code(st, "9000", "Aalborg")
        self.assertEqual(st.quit(keys=("alt", "r", "a")), 0, st.dialogs.asked())
        self.assertNotIn("Program halted.", [c for c, _ in st.dialogs.asked()])
        self.assertEqual(sorted(r["PST_NR"].strip() for r in kjx.rows(st, "PostBy.dbf")),
                         sorted(codes + ["9000"]))

    def test_creating_the_data_files_on_a_full_disk(self):
        # No room at all, then room for some of the files but not all of them: a start cut
        # short leaves nothing that the next start cannot use.
        with kjx.Display() as d:
            for leave_kb in (0, 96):
                self.disk.fill(leave_kb)
                st = kjx.Station(d, data_dir=self.data, start=False)
                self.ends_with_the_box(st, "^Tabellen " + re.escape(self.data) +
                                       r"\w+\.dbf kunne ikke oprettes\.\r\nDisken er fuld: " +
                                       re.escape(self.data) + "\r\n", None)
                self.disk.free()
            self.starts_and_saves(d, [])

    def test_building_a_missing_index_on_a_full_disk(self):
        with kjx.Display() as d:
            st = kjx.Station(d, data_dir=self.data)
            add_postal_code(st, "8000", "Aarhus C")
            self.assertEqual(st.quit(keys=("alt", "r", "a")), 0, st.dialogs.asked())
            for name in ("PostBy.MDX", "Sager.MDX"):
                os.unlink(os.path.join(self.data, name))
            before = files_of(self.data)
            self.disk.fill(0)
            again = kjx.Station(d, startup_dir=st.startup_dir, data_dir=self.data, start=False)
            self.ends_with_the_box(again, "^Kunne ikke initialisere datafiler: Disken er fuld: " +
                                   re.escape(self.data) + "\r\n", before)
            self.disk.free()
            self.starts_and_saves(d, ["8000"])


if __name__ == "__main__":
    unittest.main()
