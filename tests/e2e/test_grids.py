"""The main window's events and postings grids and case header driven by real keys and clicks:
a delete on a new row, a menu window opened with a value still in a cell, rows and cases that
another station deleted, the moves of the case-number field and a navigation click while a row
is being edited. Results are read back from the tables.

The main window is maximised on the test's own 1280x1024 screen, so its controls stand at
fixed places; the points below are where a user would click. They are points of the screen,
as this file's click() moves the pointer in the root window: the main window's client area,
where steps.py's points count from, starts below openbox's title bar."""
import os
import re
import unittest

import kjx
import steps

# openbox's own button bindings on the client area hold the press, and the program then never
# sees the click: the tests click with openbox's defaults.
kjx._OPENBOX_RC = re.sub(r"<mouse>.*</mouse>", "", kjx._OPENBOX_RC, flags=re.S)

TITLE_BAR = 19  # openbox's title bar above the client area


def on_screen(point):
    """A point of the main window's client area as a point of the screen."""
    return point[0], point[1] + TITLE_BAR


SAGSNR_FIELD = (190, 66)
MATNR_FIELD = on_screen(steps.MATNR_FIELD)
NEXT_BUTTON = (1083, 290)
POSTINGS_TAB = on_screen(steps.POSTINGS_TAB)
# "Ny hændelse" / "Ny postering" while the tab has no rows; a pixel above the point the
# client-area tests click in the same button.
NEW_ROW_BUTTON = (167, 665)
ROW1 = steps.FIRST_ROW + TITLE_BAR  # first row of either grid
EVENT_TEXT = steps.EVENT_TEXT       # the events grid's "Hændelse" column
POST_TEXT = 430                     # the postings grid's "Tekst" column
POST_ANTAL = steps.POST_ANTAL       # the postings grid's "Antal" column


def pointer(d):
    """Where the pointer stands on the screen."""
    out = d._run(["xdotool", "getmouselocation", "--shell"])
    at = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(at["X"]), int(at["Y"])


def click(st, point):
    """A real click at a point of the screen, the main window active. The pointer is moved
    only when it stands elsewhere, and its arrival is polled: "mousemove --sync" to the
    point where it already stands waits for a motion that never comes (about 15 s)."""
    d = st.display
    d.activate(st.main)
    if pointer(d) != tuple(point):
        d._run(["xdotool", "mousemove", str(point[0]), str(point[1])])
        kjx.wait_until(lambda: pointer(d) == tuple(point), timeout=10,
                       what="the pointer at %r" % (point,))
    d._run(["xdotool", "click", "1"])


def answer(st, text_regex, keys="alt+j", back=True, tables=None):
    """Waits for the program's dialog whose text matches and answers it with keys. A
    failure says what the tables hold (tables(), or every table), and the screen at that
    moment is kept beside the test's other files (KJ_E2E_KEEP_FAILED=1 keeps them)."""
    try:
        return steps.answer_and_wait(st, text_regex, keys, back, tables=tables)
    except AssertionError:
        try:
            st.display.screenshot(os.path.join(st.display.tmp, "answer-failed.png"))
        except Exception:  # noqa: BLE001 - the failure itself is what must be seen
            pass
        raise


def login(st):
    """The update initials, asked the first time something is written."""
    pw = st.wait_window(r"^Password Dialog$")
    st.display.type(pw, "AB")
    st.display.key(pw, "Return")
    st.wait_gone(r"^Password Dialog$")


def new_case(st, number, first=True):
    st.key("ctrl+Insert")
    w, _ = st.wait_dialog(r"^Indtast sagsnr")
    st.display.type(w, number)
    st.display.key(w, "Return")
    if first:
        login(st)
    kjx.wait_until(lambda: any(r["SAGS_NR"] == number for r in kjx.rows(st, "Sager.dbf")),
                   what="case %s in Sager.dbf" % number)


def delete_new_row(st, column, question):
    """Ctrl+Ins and at once Ctrl+Del in a grid's first row, the delete's question answered."""
    click(st, (column, ROW1))
    st.key("ctrl+Insert")
    st.key("ctrl+Delete")
    answer(st, question)


def live(st, table, field):
    return [r[field].strip() for r in kjx.rows(st, table)]


def save_row_by_leaving(st, question, back=True):
    """Leaves the grid for the header: the row's question, answered Ja."""
    click(st, MATNR_FIELD)
    answer(st, question, back=back)


def event(st, text):
    click(st, NEW_ROW_BUTTON)
    click(st, (EVENT_TEXT, ROW1))
    st.type(text)
    save_row_by_leaving(st, r"^Skal den rettede hændelse gemmes")
    kjx.wait_until(lambda: text in live(st, "Status.dbf", "STAT_BEM"), what="the event")


def posting(st, text):
    click(st, POSTINGS_TAB)
    click(st, NEW_ROW_BUTTON)
    click(st, (POST_TEXT, ROW1))
    st.type(text)
    save_row_by_leaving(st, r"^Skal den rettede postering gemmes")
    kjx.wait_until(lambda: text in live(st, "Poster.dbf", "POST_BEM"), what="the posting")


class GridsTest(unittest.TestCase):
    def test_delete_on_a_new_empty_row_keeps_the_saved_row(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            new_case(st, "S1")
            event(st, "syn")
            delete_new_row(st, EVENT_TEXT, r"^Ønsker du at slette denne hændelse")
            posting(st, "tid")
            delete_new_row(st, POST_TEXT, r"^Ønsker du at slette denne postering")
            st.check_running()
            self.assertEqual(live(st, "Status.dbf", "STAT_BEM"), ["syn"])
            self.assertEqual(live(st, "Poster.dbf", "POST_BEM"), ["tid"])
            self.assertEqual(kjx.rows(st, "Status.dbf", deleted=True), [])
            self.assertEqual(kjx.rows(st, "Poster.dbf", deleted=True), [])

    def test_menu_window_settles_the_value_in_a_cell_first(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            new_case(st, "S1")
            posting(st, "tid")
            click(st, (POST_ANTAL, ROW1))
            st.key("ctrl+a")
            st.type("6")
            st.key("alt+r", "Down", "Return")  # Register > Varegrupper
            answer(st, r"^Skal den rettede postering gemmes", back=False)
            reg = st.wait_window(r"^Varegrupper")
            d.key(reg, "ctrl+x")
            st.wait_gone(r"^Varegrupper")
            st.check_running()
            posts = kjx.rows(st, "Poster.dbf")
            self.assertEqual([(p["POST_BEM"].strip(), p["POST_ANTAL"]) for p in posts],
                             [("tid", 6)])
            self.assertEqual(st.quit(), 0, st.output())

    def test_rows_and_cases_deleted_by_another_station_are_not_written(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            new_case(st, "S1")
            posting(st, "tid")
            other = kjx.Station(d, data_dir=st.data_dir)
            click(other, POSTINGS_TAB)
            click(other, (POST_TEXT, ROW1))
            other.key("ctrl+Delete")
            login(other)
            answer(other, r"^Ønsker du at slette denne postering")
            kjx.wait_until(lambda: not kjx.rows(st, "Poster.dbf"), what="the posting deleted")
            # This station still shows the posting and edits it.
            click(st, (POST_TEXT, ROW1))
            st.key("ctrl+a")
            st.type("rettet")
            save_row_by_leaving(st, r"^Skal den rettede postering gemmes", back=False)
            answer(st, r"^Rækken er slettet af en anden bruger", "Return")
            self.assertEqual(kjx.rows(st, "Poster.dbf"), [])
            # The case itself: deleted there, then edited and saved here.
            click(other, MATNR_FIELD)
            other.key("ctrl+Delete")
            answer(other, r"^Ønsker du at slette denne sag")
            kjx.wait_until(lambda: not kjx.rows(st, "Sager.dbf"), what="the case deleted")
            click(st, MATNR_FIELD)
            st.type("77")
            st.key("F2")
            answer(st, r"^Sagen er slettet af en anden bruger", "Return")
            self.assertEqual([r["SAG_MATNR"].strip() for r in
                              kjx.rows(st, "Sager.dbf", deleted=True)], [""])
            # Nor written back as a live case of its own.
            self.assertEqual(kjx.rows(st, "Sager.dbf"), [])
            st.check_running()

    def test_case_number_field_moves_save_the_pending_header_edit(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            new_case(st, "S1")
            new_case(st, "S2", first=False)
            new_case(st, "S3", first=False)
            click(st, SAGSNR_FIELD)
            st.key("ctrl+Prior")  # the first case, S1
            click(st, MATNR_FIELD)
            st.type("11")
            click(st, SAGSNR_FIELD)
            st.key("Next")  # PgDn: S2
            click(st, MATNR_FIELD)
            st.type("22")
            click(st, SAGSNR_FIELD)
            st.key("ctrl+a")
            st.type("S3")
            st.key("Tab")
            click(st, MATNR_FIELD)
            st.type("33")
            st.key("F2")
            kjx.wait_until(lambda: self.matnr(st) == {"S1": "11", "S2": "22", "S3": "33"},
                           what="each case's own number saved: %r" % self.matnr(st))

    def test_navigation_click_with_a_pending_row_saves_it_and_moves(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            new_case(st, "S1")
            new_case(st, "S2", first=False)
            click(st, SAGSNR_FIELD)
            st.key("ctrl+Prior")  # S1
            event(st, "syn")
            click(st, (EVENT_TEXT, ROW1))
            st.key("ctrl+a")
            st.type("rettet")
            click(st, NEXT_BUTTON)
            answer(st, r"^Skal den rettede hændelse gemmes")
            kjx.wait_until(lambda: live(st, "Status.dbf", "STAT_BEM") == ["rettet"],
                           what="the row saved")
            # One click moved to S2: what is typed now lands there.
            click(st, MATNR_FIELD)
            st.type("42")
            st.key("F2")
            kjx.wait_until(lambda: self.matnr(st).get("S2") == "42",
                           what="S2 changed by the next edit: %r" % self.matnr(st))
            self.assertEqual(self.matnr(st).get("S1"), "")

    @staticmethod
    def matnr(st):
        return {r["SAGS_NR"].strip(): r["SAG_MATNR"].strip() for r in kjx.rows(st, "Sager.dbf")}


if __name__ == "__main__":
    unittest.main()
