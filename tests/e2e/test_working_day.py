"""A newcomer's working day in the real program, by real keys and clicks, read back from the
tables: the first start, the first employee through the register's own New button, the first
customer, an item group and items, a case with events and postings typed with Tab, Enter,
Ctrl+Ins, Ctrl+Del, D and F2, moving between cases, a menu window opened with an edit pending,
a report to the preview and to a PDF at a typed full path, and a second station on the same
data folder.

The main window fills the 1280x1024 screen of the test's display, so its buttons and tabs
stand at fixed places (steps.py holds them)."""
import os
import subprocess
import unittest

import kjx
import steps
from steps import (close_saving, EVENT_TEXT, FIRST_ROW, MATNR_FIELD, NEW_ROW_BUTTON, POST_ANTAL,
                   POSTINGS_TAB, ROW_STEP)

USERS = r"^Redigere brugere"
CUSTOMERS = r"Rediger kunder/kontakter"
GROUPS = r"^Varegrupper$"
ITEMS = r"^Varer \(Timer, Materialer og Udlæg\)$"
PREVIEW = r"^Vis udskrift$"


def first_employee(st):
    """Register > Medarbejdere, its own " Ny bruger " button, the initials typed first."""
    d = st.display
    reg = steps.open_register(st, USERS, "m")
    steps.click_button(d, reg, 1, 7)  # " Ny bruger (Ctrl-Ins) "
    steps.initials(st, "KB")
    steps.type_fields(d, reg, "kb", "Landinspektør", "Karen", "Berg")
    close_saving(st, reg, r"^Skal den rettede bruger gemmes")


def first_customer(st):
    d = st.display
    reg = steps.open_register(st, CUSTOMERS, "k")
    d.key(reg, "ctrl+Insert")
    steps.type_fields(d, reg, "k1", "Kommunen", "Ole")
    close_saving(st, reg, r"^Skal den rettede kunde gemmes")


def group_and_items(st):
    d = st.display
    reg = steps.open_register(st, GROUPS, "Down", "Return")
    d.key(reg, "ctrl+Insert")
    d.type(reg, "T")
    d.key(reg, "Tab")
    d.type(reg, "Timer")
    close_saving(st, reg, r"^Skal den rettede varegruppe gemmes")
    reg = steps.open_register(st, ITEMS, "v")
    for n, (item, text, price) in enumerate((("T1", "Landinspektør, time", "650"),
                                             ("K1", "Kørsel, km", "3"))):
        d.key(reg, "ctrl+Insert")
        if n:  # the row typed before is settled first
            steps.answer(st, r"^Skal den rettede vare gemmes", "alt+j")
            d.key(reg, "Home")  # the new row starts in the column last used
        d.type(reg, item)
        d.key(reg, "Tab")
        d.type(reg, text)
        d.key(reg, "Tab")
        d.type(reg, price)
        d.key(reg, "Tab", "Tab", "Tab")  # Moms, Konto -> Gruppe
        d.type(reg, "T")
    close_saving(st, reg, r"^Skal den rettede vare gemmes")


def the_case(st, number):
    """A new case typed field by field with Tab and saved with F2."""
    steps.new_case(st, number, ask_initials=False)
    st.key("Tab")  # the case type -> its responsible employee
    for text in ("kb", "Skel mellem to grunde", "12a", "Aarhus", "k1"):
        st.type(text)
        st.key("Tab")
    st.key("F2")
    kjx.wait_until(lambda: steps.case_rows(st, number), what="case %s saved" % number)


def new_row(st, question):
    """Ctrl+Ins in a grid: the row typed before is asked about and saved (Ja); the new row
    starts in its first column."""
    st.key("ctrl+Insert")
    steps.answer(st, question, "alt+j")
    st.key("Home")


def events(st):
    """Two events typed with Tab and ended with Enter, then a blank row made with Ctrl+Ins
    and taken back with Ctrl+Del."""
    st.display.click(st.main, *NEW_ROW_BUTTON)
    for n, (time_, length, text) in enumerate((("0930", "0045", "Opmåling"),
                                               ("1300", "0100", "Skelsyn"))):
        if n:
            new_row(st, r"^Skal den rettede hændelse gemmes")
        st.key("Tab", "Tab")  # Afsluttet -> Dato -> Tidspunkt
        for value in (time_, length):
            st.type(value)
            st.key("Tab")
        st.type(text)
        st.key("Return")
    new_row(st, r"^Skal den rettede hændelse gemmes")
    st.key("ctrl+Delete")
    steps.answer(st, r"^Ønsker du at slette denne hændelse", "alt+j")


def postings(st):
    """Two postings typed with Tab, the second one's D/K typed as D; a blank row made with
    Ctrl+Ins and taken back with Ctrl+Del."""
    st.display.click(st.main, *POSTINGS_TAB)
    st.display.click(st.main, *NEW_ROW_BUTTON)
    for n, (item, text, count) in enumerate((("T1", "Skitse", "6"), ("K1", "Kørsel", "42"))):
        if n:
            new_row(st, r"^Skal den rettede postering gemmes")
        st.type("kb")
        st.key("Tab", "Tab")  # Meda. -> Dato -> Vare
        for value in (item, text, count):
            st.type(value)
            st.key("Tab")
    st.key("Tab", "Tab", "Tab")  # Stk.pris -> Moms sats -> Rabat -> D/K
    st.type("D")
    new_row(st, r"^Skal den rettede postering gemmes")
    st.key("ctrl+Delete")
    steps.answer(st, r"^Ønsker du at slette denne postering", "alt+j")


def cell(st, column_x, row=0):
    """A click on a cell of the visible grid (rows from the top)."""
    st.display.click(st.main, column_x, FIRST_ROW + row * ROW_STEP)


def menu_window_with_a_pending_edit(st):
    """A second case, back to the first with Ctrl+PgUp, a count typed into its first posting
    and, still in the cell, Register > Varegrupper: the posting is asked about first."""
    st.display.click(st.main, *MATNR_FIELD)  # out of the grid, into the case header
    steps.new_case(st, "S2", ask_initials=False)
    st.key("F2")
    kjx.wait_until(lambda: steps.case_rows(st, "S2"), what="case S2 saved")
    st.key("ctrl+Prior")  # Første: S1
    cell(st, POST_ANTAL)
    st.key("ctrl+a")
    st.type("7")
    st.menu("r", "Down", "Return")  # Register > Varegrupper
    steps.answer(st, r"^Skal den rettede postering gemmes", "alt+j")
    reg = st.wait_window(GROUPS)
    st.display.key(reg, "ctrl+x")
    st.wait_gone(reg)


def customer_list(st, pdf):
    """Lister > Liste over kunder: Vis to the preview, then Udskriv to a PDF at a full path
    typed into the file dialog."""
    d = st.display
    st.menu("l", "Down", "Down", "Down", "Return")
    lst = st.wait_window(r"^Liste over kunder$")
    d.key(lst, "Return")  # Vis
    preview = st.wait_window(PREVIEW)
    d.key(preview, "Escape")
    st.wait_gone(preview)
    d.key(lst, "Tab", "Tab", "space")  # Udskriv
    box, _ = st.wait_dialog(r"^Gem udskriften som PDF$")
    d.type(box, pdf, delay=80)
    d.key(box, "Return")
    kjx.wait_until(lambda: os.path.exists(pdf) and os.path.getsize(pdf) > 0, what="the PDF")
    d.key(lst, "Escape")
    st.wait_gone(lst)


def second_station_event(d, first):
    """A second station on the same data folder adds an event to the first case and closes
    with Ctrl+X."""
    st = kjx.Station(d, data_dir=first.data_dir)
    cell(st, EVENT_TEXT)
    st.key("ctrl+Insert")
    steps.initials(st, "KB")
    st.key("Home", "Tab", "Tab")
    for value in ("1500", "0030"):
        st.type(value)
        st.key("Tab")
    st.type("Afsætning")
    st.key("ctrl+x")
    steps.answer(st, r"^Skal den rettede hændelse gemmes", "alt+j")
    return st.wait_exit()


class WorkingDayTest(unittest.TestCase):
    def test_a_new_row_in_a_grid_register_keeps_the_row_being_typed(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, r"^Pstnr\. By$", "p")
            d.key(reg, "ctrl+Insert")
            steps.initials(st, "KB")
            d.type(reg, "8000")
            d.key(reg, "Tab")
            d.type(reg, "Aarhus C")
            d.key(reg, "ctrl+Insert")  # the next row: the one typed is asked about first
            steps.answer(st, r"^Skal det rettede postnr gemmes", "alt+j")
            d.key(reg, "Home")
            d.type(reg, "9000")
            d.key(reg, "Tab")
            d.type(reg, "Aalborg")
            close_saving(st, reg, r"^Skal det rettede postnr gemmes")
            self.assertEqual(sorted((r["PST_NR"].strip(), r["PST_BY"].strip())
                                    for r in kjx.rows(st, "PostBy.dbf")),
                             [("8000", "Aarhus C"), ("9000", "Aalborg")])

    # Initials typed in lower case into a posting are stored as the employee's ('KB').
    def test_initials_typed_into_a_posting_are_stored_upper_case(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            first_employee(st)
            steps.new_case(st, "S1", ask_initials=False)
            st.key("F2")
            kjx.wait_until(lambda: steps.case_rows(st, "S1"), what="case S1 saved")
            steps.new_posting_row(st, "kb")
            st.key("Tab", "Tab", "Tab")  # Meda. -> Dato -> Vare -> Tekst
            st.type("Skitse")
            self.assertEqual(steps.quit_saving(st, r"^Skal den rettede postering gemmes"), 0)
            self.assertEqual([r["POST_ANS"] for r in kjx.rows(st, "Poster.dbf")], ["KB"])

    def test_a_newcomers_working_day_on_two_stations(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            first_employee(st)
            first_customer(st)
            group_and_items(st)
            self.assertEqual([(r["INI"], r["INI_FNAVN"]) for r in kjx.rows(st, "Bruger.dbf")],
                             [("KB", "Karen")])
            self.assertEqual([(r["MAK_ID"], r["MAK_TITEL"]) for r in kjx.rows(st, "Kunde.dbf")],
                             [("K1", "Kommunen")])
            self.assertEqual([r["ID"] for r in kjx.rows(st, "VarerG.dbf")], ["T"])
            self.assertEqual(sorted((r["TMU_ID"], r["TMU_PRIS"]) for r in kjx.rows(st, "Varer.dbf")),
                             [("K1", 3), ("T1", 650)])
            the_case(st, "S1")
            self.assertEqual([(r["SAG_ANSVAR"], r["SAG_KUNDE"], r["SAGS_BEM"].strip(),
                               r["SAG_MATNR"]) for r in steps.case_rows(st, "S1")],
                             [("KB", "K1", "Skel mellem to grunde", "12a")])
            events(st)
            self.assertEqual(sorted((r["STAT_SAG"], r["STAT_TID"], r["STAT_VAR"], r["STAT_BEM"])
                                    for r in kjx.rows(st, "Status.dbf")),
                             [("S1", "09:30", "00:45", "Opmåling"),
                              ("S1", "13:00", "01:00", "Skelsyn")])
            self.assertEqual(kjx.rows(st, "Status.dbf", deleted=True), [])
            postings(st)
            kjx.wait_until(lambda: len(kjx.rows(st, "Poster.dbf")) == 2, what="two postings")
            self.assertEqual(sorted((r["POST_SAG"], r["POST_ANS"], r["POST_TMU"],
                                     r["POST_BEM"],
                                     r["POST_ANTAL"], r["POST_DK"])
                                    for r in kjx.rows(st, "Poster.dbf")),
                             [("S1", "KB", "K1", "Kørsel", 42, "D"),
                              ("S1", "KB", "T1", "Skitse", 6, "D")])
            menu_window_with_a_pending_edit(st)
            st.check_running()
            # The row in the grid's first line took the 7, the other kept its count, and no
            # blank posting was added.
            counts = sorted((r["POST_BEM"], r["POST_ANTAL"]) for r in kjx.rows(st, "Poster.dbf"))
            self.assertIn(counts, ([("Kørsel", 7), ("Skitse", 6)], [("Kørsel", 42), ("Skitse", 7)]))
            pdf = os.path.join(d.tmp, "Udskrifter", "kunder den 7. december.pdf")
            os.makedirs(os.path.dirname(pdf))
            customer_list(st, pdf)
            text = subprocess.run(["pdftotext", pdf, "-"], stdout=subprocess.PIPE,
                                  check=True).stdout.decode()
            self.assertIn("Liste over kunder", text)
            self.assertIn("K1", text)
            self.assertIn("Ole", text)
            self.assertEqual(second_station_event(d, st), 0)
            self.assertEqual(st.quit(), 0, st.dialogs.asked())
            self.assertEqual(sorted((r["STAT_SAG"], r["STAT_BEM"])
                                    for r in kjx.rows(st, "Status.dbf")),
                             [("S1", "Afsætning"), ("S1", "Opmåling"), ("S1", "Skelsyn")])
            self.assertEqual(sorted(r["SAGS_NR"] for r in kjx.rows(st, "Sager.dbf")),
                             ["S1", "S2"])
            self.assertEqual([a for a in st.dialogs.asked() if a[0] == "Program halted."], [])


if __name__ == "__main__":
    unittest.main()
