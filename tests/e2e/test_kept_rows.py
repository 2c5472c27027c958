"""Every row a user types is kept, driven by real keys and clicks: a stakeholder being typed
when a menu window opens (on a first and on a second case), each new stakeholder starting in
its role column, a responsible code found nowhere with Næste, PgDn and closing, and a value its
cell refuses with Ctrl+Ins. Where a step waits for a question, a failure names what the tables
then hold, so it says what was lost."""
import unittest

import kjx
import steps

# Points of the main window's client area (see steps.py).
STAKEHOLDERS_TAB = (233, 311)
NEW_STAKEHOLDER = (92, 646)  # " Ny Interessent (Ctrl-Ins) " while the case has none
SAGSNR_FIELD = (190, 47)
ANSVAR_FIELD = (199, 75)
NEXT_BUTTON = (1081, 271)
POST_TEXT = 430  # the postings grid's "Tekst" column
ROW1 = steps.FIRST_ROW


def answer(st, text_regex, key, tables, back=True):
    """Answers the question with key; when it does not come, the failure names what the
    tables hold."""
    names = list(tables)
    return steps.answer_and_wait(
        st, text_regex, key, back,
        tables=lambda: {t: [{k: v for k, v in r.items() if v not in ("", None)}
                            for r in kjx.rows(st, t)] for t in names})


def wait_for(value, expected, what):
    """Polls value() until it equals expected; a failure names the last value seen."""
    seen = []

    def pred():
        seen[:] = [value()]
        return seen[0] == expected
    try:
        kjx.wait_until(pred, what=what)
    except kjx.TimeoutError_ as e:
        raise AssertionError("%s: have %r, want %r" % (e, seen[0], expected)) from None


def stakeholders(st):
    """Every stored stakeholder row as (case, role, ID), sorted: a row stored twice shows."""
    return sorted((r["INT_SAG"].strip(), r["INT_TEKST"].strip(), r["INT_ID"].strip())
                  for r in kjx.rows(st, "Interessent.dbf"))


def cases(st):
    return {r["SAGS_NR"].strip(): (r["SAG_ANSVAR"].strip(), r["SAG_MATNR"].strip())
            for r in kjx.rows(st, "Sager.dbf")}


def question_before_window(st, text_regex, title_regex, key, what):
    """Waits for a question and answers it with key; when the window comes up first (the
    question never asked: nothing to save), fails at once naming the stored stakeholders."""
    def pred():
        st.check_running()
        ask = st.dialogs.next("ask", text_regex)
        if ask is not None:
            return ask
        if st.display.find(title_regex, st.proc.pid) is not None:
            raise AssertionError("%s: the window came without /%s/; stakeholders %r" % (
                what, text_regex, stakeholders(st)))
        return None
    ask = kjx.wait_until(pred, what="/%s/ before /%s/" % (text_regex, title_regex))
    w = st.wait_dialog_window(ask)
    st.display.key(w, key)
    st.wait_answer()
    st.display.wait_gone(w)


class KeptRowsTest(unittest.TestCase):
    def test_each_new_stakeholder_starts_in_its_role_column(self):
        """The usual rhythm, role, Tab, ID, Tab, leaves the cursor on the read-only name;
        the next new row (Ctrl+Ins) starts in the role column again, so that its keys land."""
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            d.click(st.main, *STAKEHOLDERS_TAB)
            d.click(st.main, *NEW_STAKEHOLDER)
            for n, (role, ident) in enumerate((("Rekvirent", "K1001"), ("Nabo", "K2002"))):
                if n:
                    st.key("ctrl+Insert")
                    answer(st, r"^Skal den rettede postering gemmes", "alt+j",
                           ["Interessent.dbf"])
                st.type(role)
                st.key("Tab")
                st.type(ident)
                st.key("Tab")  # onto the read-only name
            st.key("alt+r", "Down", "Return")  # Register > Varegrupper settles the row
            question_before_window(st, r"^Skal den rettede postering gemmes", r"^Varegrupper",
                                   "alt+j", "the second stakeholder")
            groups = st.wait_window(r"^Varegrupper")
            self.assertEqual(stakeholders(st), [("S1", "Nabo", "K2002"),
                                                ("S1", "Rekvirent", "K1001")])
            d.key(groups, "ctrl+x")
            st.wait_gone(groups)
            st.check_running()


    def test_a_stakeholder_being_typed_is_settled_before_a_menu_window_on_each_case(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            typed = []
            for number, role, ident in (("S1", "Rekvirent", "K1001"),
                                        ("S2", "Landmaaler", "K2002")):
                if number == "S2":  # a second case, its first stakeholder
                    d.click(st.main, *steps.MATNR_FIELD)
                    steps.new_case(st, "S2", ask_initials=False)
                d.click(st.main, *STAKEHOLDERS_TAB)
                d.click(st.main, *NEW_STAKEHOLDER)
                st.type(role)
                st.key("Tab")
                st.type(ident)
                st.key("Tab")  # the row still pending
                st.key("alt+r", "Down", "Return")  # Register > Varegrupper
                answer(st, r"^Skal den rettede postering gemmes", "alt+j",
                       ["Interessent.dbf"], back=False)
                groups = st.wait_window(r"^Varegrupper")
                d.key(groups, "ctrl+x")
                st.wait_gone(groups)
                typed.append((number, role, ident))
                wait_for(lambda: stakeholders(st), sorted(typed), "the stakeholders saved whole")
            st.check_running()

    def test_a_code_found_nowhere_stops_next_and_pgdn_and_gendan_takes_it_back(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            steps.new_case(st, "S2", ask_initials=False)
            d.click(st.main, *SAGSNR_FIELD)
            st.key("ctrl+Prior")  # S1
            d.click(st.main, *ANSVAR_FIELD)
            st.type("xy")
            st.key("Tab")
            create = r"^Brugeren :XY +findes ikke\s+skal denne oprettes"
            refused = r"^Brugeren :XY +findes ikke$"
            answer(st, create, "alt+n", ["Sager.dbf"])
            d.click(st.main, *NEXT_BUTTON)
            answer(st, refused, "Return", ["Sager.dbf"])
            self.assertEqual(cases(st), {"S1": ("", ""), "S2": ("", "")}, "after Næste")
            # Leaving Ansvarlig with the code already offered for creating asks nothing more.
            d.click(st.main, *SAGSNR_FIELD)
            st.key("Next")
            answer(st, refused, "Return", ["Sager.dbf"])
            self.assertEqual(cases(st), {"S1": ("", ""), "S2": ("", "")}, "after PgDn")
            # Closing: the box, then the question, each once; Ja keeps the window with the
            # case to be mended, and no box comes a second time.
            before = len(st.dialogs.asked())
            st.key("ctrl+x")
            answer(st, refused, "Return", ["Sager.dbf"], back=False)
            answer(st, r"^Data er ændret, skal de gemmes", "alt+j", ["Sager.dbf"], back=False)
            st.settle(r"^$")  # a box now (the refusal again) fails at once
            self.assertEqual([t for _, t in st.dialogs.asked()[before:]],
                             ["Brugeren :XY   findes ikke", "Data er ændret, skal de gemmes?"])
            st.check_running()
            self.assertEqual(cases(st), {"S1": ("", ""), "S2": ("", "")}, "after closing")
            # Still S1, in edit: Gendan takes the code back, and the next change lands there.
            st.key("ctrl+BackSpace")
            d.click(st.main, *steps.MATNR_FIELD)
            st.type("11")
            st.key("F2")
            wait_for(lambda: cases(st), {"S1": ("", "11"), "S2": ("", "")},
                     "S1 saved without the code")
            self.assertEqual(st.quit(), 0, st.output())

    def test_a_refused_cell_value_keeps_its_row_through_ctrl_ins(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            d.click(st.main, *steps.POSTINGS_TAB)
            d.click(st.main, *steps.NEW_ROW_BUTTON)
            d.click(st.main, POST_TEXT, ROW1)
            st.type("vigtig tekst")
            d.click(st.main, steps.POST_ANTAL, ROW1)
            st.type("1,2,3")
            st.key("ctrl+Insert")
            answer(st, r"^'1,2,3' er ikke et gyldigt tal i feltet 'Antal'", "Return",
                   ["Poster.dbf"])
            # The value is still in its cell: mended there, the row is asked about and saved.
            st.key("ctrl+a")
            st.type("3")
            st.key("ctrl+Insert")
            answer(st, r"^Skal den rettede postering gemmes", "alt+j", ["Poster.dbf"])
            wait_for(lambda: [(r["POST_BEM"].strip(), r["POST_ANTAL"])
                              for r in kjx.rows(st, "Poster.dbf")],
                     [("vigtig tekst", 3)], "the row saved whole")
            st.check_running()


if __name__ == "__main__":
    unittest.main()
