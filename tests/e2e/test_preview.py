"""Reports to the preview window and to a PDF file, through the report windows' keys."""
import os
import subprocess
import unittest

import kjx

POSTAL_LIST = r"^ListPostnrForm$"
PREVIEW = r"^Vis udskrift$"
VIS_BUTTON = (60, 93)  # "Vis" in the report window
PRINT_BUTTON = (839, 30)  # " Udskriv " in the preview's top panel (the window is maximised)


def add_postal_code(st, code, town, first=True):
    """Register > Postnr. - bynavne: a new row typed and saved on closing (the first change
    of the session asks for the initials)."""
    st.menu("r", "p")
    w = st.wait_window(r"^Pstnr\. By$")
    st.key("ctrl+Insert", win=w)
    if first:
        st.answer_initials("AB")
    st.type(code, win=w)
    st.key("Tab", win=w)
    st.type(town, win=w)
    st.key("ctrl+x", win=w)
    box, _ = st.wait_dialog(r"^Skal det rettede postnr gemmes")
    st.key("alt+j", win=box)
    st.wait_gone(w)


def open_postal_list(st):
    """Lister > Liste over postnr. / bynavne; returns the report window."""
    st.menu("l", "Down", "Down", "Down", "Down", "Return")
    return st.wait_window(POSTAL_LIST)


class PreviewTest(unittest.TestCase):
    def test_the_preview_appears_every_time(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            add_postal_code(st, "8000", "Aarhus C")
            lst = open_postal_list(st)
            for run in range(25):
                d.click(lst, VIS_BUTTON[0], VIS_BUTTON[1])
                try:
                    preview = st.wait_window(PREVIEW, timeout=30)
                except AssertionError:
                    self.fail("run %d: no preview; windows %s" % (run + 1, st.windows()))
                d.key(preview, "Escape")  # Slut
                st.wait_gone(preview)
            d.key(lst, "Escape")
            st.wait_gone(POSTAL_LIST)
            self.assertEqual(st.quit(keys=("alt", "r", "a")), 0)


    def test_a_pdf_at_a_typed_full_path_is_written(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            add_postal_code(st, "8000", "Aarhus C")
            lst = open_postal_list(st)
            d.key(lst, "Return")  # Vis
            preview = st.wait_window(PREVIEW)
            # The preview's own " Udskriv " button; no printer here, so the PDF is asked for.
            d.click(preview, PRINT_BUTTON[0], PRINT_BUTTON[1])
            box, ask = st.wait_dialog(r"^Gem udskriften som PDF$")
            # A long path typed at a user's pace: the dialog is up for several seconds.
            folder = os.path.join(d.tmp, "Udskrifter til kunden", "Postnumre og bynavne")
            os.makedirs(folder)
            pdf = os.path.join(folder, "liste over postnumre.pdf")
            d.type(box, pdf, delay=100)
            d.key(box, "Return")
            self.assertEqual(st.wait_answer()["value"], pdf)
            kjx.wait_until(lambda: os.path.exists(pdf) and os.path.getsize(pdf) > 0,
                           what="the PDF file")
            d.key(preview, "Escape")
            st.wait_gone(preview)
            text = subprocess.run(["pdftotext", pdf, "-"], stdout=subprocess.PIPE,
                                  check=True).stdout.decode()
            self.assertIn("Liste over postnr. / by", text)
            self.assertIn("Aarhus C", text)


if __name__ == "__main__":
    unittest.main()
