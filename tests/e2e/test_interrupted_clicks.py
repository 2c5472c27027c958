"""Clicks whose press a box interrupted, driven by real clicks: a posting cell holds a value
it refuses, and a click elsewhere takes the focus out of the cell, so the refusal comes up
while the mouse button is still held and takes its release. Once the box is answered, every
button clicked is drawn exactly as before the click (not left pressed), and a click on another
cell of the grid leaves the refused value in its own cell, refused once. The same for a check
box of the employee register, clicked while leaving a postal code found nowhere asks.

There is no way to ask the program how it draws a button, so the screen is read: the inside
of each button, the pointer parked elsewhere, before any click and again after its box
(waited for a bounded time: the button is repainted as the box goes)."""
import os
import re
import subprocess
import unittest

import kjx
import steps
# Importing test_grids also takes openbox's own mouse bindings away, as its clicks need.
from test_grids import MATNR_FIELD, POST_ANTAL, POST_TEXT, ROW1, answer, click

# Points of the screen inside each control (the main window maximised below openbox's title
# bar); each is clicked, and a small rectangle around it is compared. The press on a button
# that takes the focus brings the refusal; Næste, a tab and a column title take no focus:
# their box comes after the release, or (the tab) swallows the press. Drawn as before all the
# same.
ROW_Y = 290  # the header's button row
BUTTONS = [
    ("Gem sag", (65, ROW_Y)),
    ("Ny sag", (456, ROW_Y)),
    ("Søg", (559, ROW_Y)),
    ("Næste", (1083, ROW_Y)),
    ("Gendan (posteringer)", (797, 976)),
    ("Opret faktura post", (1112, 976)),
    ("Hændelser tab", (55, 330)),
    ("Tekst title", (POST_TEXT, 354)),
]
HALF = (24, 5)  # half the width and height of the rectangle compared
PARK = (640, 700)  # the pointer between clicks: the empty part of the postings grid
REFUSED = r"^'1,2,3' er ikke et gyldigt tal i feltet 'Antal'"
REDRAWN = 10  # seconds a button may take to be drawn again after its box
USERS = r"^Redigere brugere"
# The point of the employee register's window (as xdotool counts in it) in the middle of the
# square of "Kan redigere data"; only the square is compared: the focus frame, which the check
# box keeps after the question, is drawn around its text.
CAN_EDIT_BOX = (751, 83)
SQUARE = (4, 4)


def grab(d, point, half=HALF):
    """The pixels of the rectangle around a point of the screen, as raw RGB bytes."""
    x, y = point[0] - half[0], point[1] - half[1]
    r = subprocess.run(["import", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (2 * half[0], 2 * half[1], x, y), "-depth", "8",
                        "rgb:-"], env=d.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=30, check=True)
    return r.stdout


def park(d):
    d._run(["xdotool", "mousemove", str(PARK[0]), str(PARK[1])])
    kjx.wait_until(lambda: d._run(["xdotool", "getmouselocation"]).startswith(
        "x:%d y:%d " % PARK), timeout=10, what="the pointer parked at %r" % (PARK,))


def on_screen(d, wid, point):
    """Where a point of a window (as xdotool counts in it) stands on the screen: the pointer
    is moved there and asked."""
    d._run(["xdotool", "mousemove", "--window", str(wid), str(point[0]), str(point[1])])
    at = re.match(r"x:(\d+) y:(\d+) ", d._run(["xdotool", "getmouselocation"]))
    return int(at.group(1)), int(at.group(2))


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
            st.settle(r"^$")  # nothing more is asked
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

    def test_a_check_box_click_interrupted_by_a_question_leaves_it_drawn_up(self):
        """The employee register: a postal code found nowhere, then a click on the check
        box "Kan redigere data" asks whether to create the code; after Nej the box is drawn
        as before, unticked, and the next click on it is an ordinary one that the row keeps."""
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, USERS, "m")
            steps.click_button(d, reg, 1, 7)  # " Ny bruger (Ctrl-Ins) "
            steps.initials(st, "KB")
            # Initial, Titel, Fornavn, Efternavn, the two address lines, Postnr.
            steps.type_fields(d, reg, "kb", "Landinspektør", "Karen", "Berg", "", "", "9999")
            at = on_screen(d, reg, CAN_EDIT_BOX)
            park(d)
            before = grab(d, at, SQUARE)
            d.click(reg, *CAN_EDIT_BOX)
            steps.answer(st, r"^postnr :9999\s*findes ikke", "alt+n")
            d.wait_active(USERS)
            park(d)
            self.wait_drawn_as_before(d, "Kan redigere data", at, before, SQUARE)
            d.click(reg, *CAN_EDIT_BOX)
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            self.assertEqual([(r["INI"].strip(), r["INI_RET"]) for r in kjx.rows(
                st, "Bruger.dbf")], [("KB", True)], "the next click on the check box")

    def wait_drawn_as_before(self, d, name, point, before, half=HALF):
        seen = [b""]

        def same():
            seen[0] = grab(d, point, half)
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
