"""A fresh station: the first start's questions answered with real keys, the main window, and
closing through the keys; the data files are there afterwards."""
import os
import unittest

import kjx

TABLES = ["Bruger.dbf", "Kunde.dbf", "Sager.dbf", "Status.dbf", "Poster.dbf", "Varer.dbf",
          "VarerG.dbf", "PostBy.dbf", "Interessent.dbf"]


class StartTest(unittest.TestCase):
    def test_first_start_creates_the_data_files_and_closes_on_its_keys(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            asked = [text for _, text in st.dialogs.asked()]
            self.assertTrue(any(t.startswith("Skal datafiler oprettes") for t in asked), asked)
            self.assertIn(st.data_dir, d.title(st.main) + st.output() + " ".join(asked))
            # Register > Afslut (its shortcut Ctrl+X) closes the program without a question.
            self.assertEqual(st.quit(keys=("alt", "r", "a")), 0, st.output())
            self.assertEqual([a for a in st.dialogs.asked() if a[1] not in asked], [])
            for table in TABLES:
                self.assertTrue(os.path.exists(os.path.join(st.data_dir, table)), table)
            self.assertEqual(kjx.rows(st, "Sager.dbf"), [])

    def test_ctrl_x_closes_while_a_text_field_has_the_focus(self):
        with kjx.Display() as d:
            st = kjx.Station(d)  # the case number field has the focus
            self.assertEqual(st.quit(timeout=15), 0)


if __name__ == "__main__":
    unittest.main()
