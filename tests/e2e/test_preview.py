"""Reports to the preview window and to a PDF file, through the report windows' keys."""
import os
import subprocess
import unittest

import kjx

POSTAL_LIST = r"^ListPostnrForm$"
PREVIEW = r"^Vis udskrift$"


def add_postal_code(st, code, town):
    """Register > Postnr. - bynavne: a new row typed and saved on closing."""
    st.key("alt+r", "p")
    w = st.wait_window(r"^Pstnr\. By$")
    st.key("ctrl+Insert", win=w)
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
    st.key("alt+l", "Down", "Down", "Down", "Down", "Return")
    return st.wait_window(POSTAL_LIST)


class PreviewTest(unittest.TestCase):
    def test_the_preview_appears_every_time(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            add_postal_code(st, "8000", "Aarhus C")
            lst = open_postal_list(st)
            for run in range(10):
                d.key(lst, "Return")  # Vis
                try:
                    preview = st.wait_window(PREVIEW, timeout=30)
                except AssertionError:
                    self.fail("run %d: no preview; windows %s" % (run + 1, st.windows()))
                d.key(preview, "Escape")  # Slut
                st.wait_gone(preview)
            d.key(lst, "Escape")
            st.wait_gone(POSTAL_LIST)
            self.assertEqual(st.quit(keys=("alt+r", "a")), 0)


if __name__ == "__main__":
    unittest.main()
