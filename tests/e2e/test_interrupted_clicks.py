"""Clicks whose press a box interrupted, driven by real clicks: a posting cell holds a value
it refuses, and a click elsewhere takes the focus out of the cell, so the refusal comes up
while the mouse button is still held and takes its release. Once the box is answered, every
button clicked is drawn exactly as before the click (not left pressed), and a click on another
cell of the grid leaves the refused value in its own cell, refused once.

There is no way to ask the program how it draws a button, so the screen is read: the inside
of each button, the pointer parked elsewhere, before any click and again after its box
(waited for a bounded time: the button is repainted as the box goes)."""
import os
import subprocess
import unittest

import kjx
import steps
from test_grids import MATNR_FIELD, POST_ANTAL, POST_TEXT, ROW1, answer, click

# Points of the screen inside each button (the main window maximised below openbox's title
# bar); each is clicked, and a small rectangle around it is compared.
ROW_Y = 290  # the header's button row
BUTTONS = [
    ("Gem sag", (65, ROW_Y)),
    ("Ny sag", (456, ROW_Y)),
    ("Søg", (559, ROW_Y)),
    ("Næste", (1083, ROW_Y)),
    ("Gendan (posteringer)", (797, 976)),
    ("Opret faktura post", (1112, 976)),
]
HALF = (24, 5)  # half the width and height of the rectangle compared
PARK = (640, 700)  # the pointer between clicks: the empty part of the postings grid
REFUSED = r"^'1,2,3' er ikke et gyldigt tal i feltet 'Antal'"
REDRAWN = 10  # seconds a button may take to be drawn again after its box


def grab(d, point):
    """The pixels of the rectangle around a point of the screen, as raw RGB bytes."""
    x, y = point[0] - HALF[0], point[1] - HALF[1]
    r = subprocess.run(["import", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (2 * HALF[0], 2 * HALF[1], x, y), "-depth", "8",
                        "rgb:-"], env=d.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=30, check=True)
    return r.stdout


def park(d):
    d._run(["xdotool", "mousemove", str(PARK[0]), str(PARK[1])])
    kjx.wait_until(lambda: d._run(["xdotool", "getmouselocation"]).startswith(
        "x:%d y:%d " % PARK), timeout=10, what="the pointer parked at %r" % (PARK,))


def refused_posting(st):
    """A changed header (so that Gem is enabled) and a new posting whose Antal holds a value
    the cell refuses, its editor still open."""
    click(st, MATNR_FIELD)
    st.type("12")
    st.display.click(st.main, *steps.POSTINGS_TAB)
    st.display.click(st.main, *steps.NEW_ROW_BUTTON)
    click(st, (POST_TEXT, ROW1))
    st.type("tekst")
    click(st, (POST_ANTAL, ROW1))
    st.type("1,2,3")


class InterruptedClicksTest(unittest.TestCase):
    def test_a_click_interrupted_by_the_refusal_leaves_each_button_drawn_up(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            refused_posting(st)
            park(d)
            looks = {name: grab(d, point) for name, point in BUTTONS}
            for name, point in BUTTONS:
                click(st, point)
                answer(st, REFUSED, "Return", tables=lambda: kjx.rows(st, "Poster.dbf"))
                park(d)
                self.wait_drawn_as_before(d, name, point, looks[name])
            st.check_running()
            self.assertEqual(kjx.rows(st, "Poster.dbf"), [], "a refused row was stored")

    def test_a_click_on_another_cell_refuses_once_and_keeps_the_cell(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            refused_posting(st)
            before = len(st.dialogs.asked())
            click(st, (POST_TEXT, ROW1))
            answer(st, REFUSED, "Return", back=False,
                   tables=lambda: kjx.rows(st, "Poster.dbf"))
            try:
                st.settle(r"^$")  # a box now (the refusal again) fails at once
            except AssertionError as e:
                self.fail("after the refusal was answered: %s" % e)
            self.assertEqual(len(st.dialogs.asked()), before + 1)
            # The keys go on in Antal, its editor open: mended there, the row is saved whole.
            st.key("ctrl+a")
            st.type("3")
            click(st, MATNR_FIELD)
            answer(st, r"^Skal den rettede postering gemmes", tables=lambda: kjx.rows(
                st, "Poster.dbf"))
            kjx.wait_until(lambda: [(r["POST_BEM"].strip(), r["POST_ANTAL"]) for r in
                                    kjx.rows(st, "Poster.dbf")] == [("tekst", 3)],
                           what=lambda: "the row saved whole: %r" % kjx.rows(st, "Poster.dbf"))
            st.check_running()

    def wait_drawn_as_before(self, d, name, point, before):
        seen = [b""]

        def same():
            seen[0] = grab(d, point)
            return seen[0] == before
        try:
            kjx.wait_until(same, timeout=REDRAWN, what="the button %s drawn up" % name)
        except kjx.TimeoutError_:
            differ = sum(a != b for a, b in zip(seen[0], before))
            for suffix, data in (("before", before), ("after", seen[0])):
                with open(os.path.join(d.tmp, "%s-%s.rgb" % (name, suffix)), "wb") as f:
                    f.write(data)
            self.fail("%s stays drawn as pressed after the box was answered: %d of %d "
                      "bytes of its face differ from before the click" % (
                          name, differ, len(before)))


if __name__ == "__main__":
    unittest.main()
