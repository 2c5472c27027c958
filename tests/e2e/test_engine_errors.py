"""Engine errors once the main window is up: the message is shown and the program goes on
(never "Program halted." and the end of the process)."""
import os
import unittest

import kjx
from test_preview import add_postal_code

POSTAL_REGISTER = r"^Pstnr\. By$"


def damage(path, keep=1024):
    """Overwrites an index file's pages behind its headers, as a disk fault would."""
    size = os.path.getsize(path)
    with open(path, "r+b") as f:
        f.seek(keep)
        f.write(b"\xff" * (size - keep))


class EngineErrorTest(unittest.TestCase):
    def test_a_damaged_index_in_an_open_register_is_reported_and_mended(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            add_postal_code(st, "8000", "Aarhus C")
            st.menu("r", "p")
            reg = st.wait_window(POSTAL_REGISTER)
            damage(os.path.join(st.data_dir, "PostBy.MDX"))
            st.key("ctrl+Insert", win=reg)
            box, ask = st.wait_dialog(r"^Indeksfilen .*PostBy\.MDX er beskadiget\.")
            self.assertNotEqual(ask["caption"], "Program halted.")
            self.assertIn("Error # 222 (Corrupted index file)", ask["text"])  # as detail
            d.key(box, "Return")
            st.wait_answer()
            st.check_running()
            st.key("ctrl+x", win=reg)  # closing reads the index again: said again
            st.settle(r"^Indeksfilen .* er beskadiget\.")
            self.assertIsNone(d.find(POSTAL_REGISTER, st.proc.pid))
            # Funktion > Genskab indeks mends the index, and the register works again.
            st.menu("f", "g")
            box, _ = st.wait_dialog(r"^Ønsker du at genskabe alle index")
            d.key(box, "alt+j")
            st.wait_answer()
            add_postal_code(st, "9000", "Aalborg", first=False)
            self.assertEqual(st.quit(keys=("alt", "r", "a")), 0, st.dialogs.asked())
            self.assertEqual(sorted(r["PST_NR"].strip() for r in kjx.rows(st, "PostBy.dbf")),
                             ["8000", "9000"])
            self.assertEqual([a for a in st.dialogs.asked() if a[0] == "Program halted."], [])


if __name__ == "__main__":
    unittest.main()
