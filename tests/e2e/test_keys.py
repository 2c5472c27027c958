"""Keys typed for real: Tab moves one cell in the main window's grids, Ctrl+X closes every
window from a text field or a cell editor, a masked field takes typing after a click, and one
invalid value gives one box."""
import unittest

import kjx
import steps

from steps import AFSLUTTET, NEW_ROW_BUTTON


def saved_case(st, number):
    steps.new_case(st, number)
    st.key("F2")
    kjx.wait_until(lambda: steps.case_rows(st, number), what="case %s saved" % number)


class KeysTest(unittest.TestCase):
    def test_tab_moves_one_cell_in_the_events_grid_and_ctrl_x_closes_from_its_editor(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            saved_case(st, "S1")
            d.click(st.main, *NEW_ROW_BUTTON)
            st.key("Tab", "Tab")  # Afsluttet -> Dato -> Tidspunkt
            st.type("0930")
            st.key("Tab")
            st.type("0045")
            st.key("Tab")
            st.type("Opmaaling")
            self.assertEqual(steps.quit_saving(st, r"^Skal den rettede hændelse gemmes"), 0)
            self.assertEqual([(r["STAT_TID"], r["STAT_VAR"], r["STAT_BEM"])
                              for r in kjx.rows(st, "Status.dbf")],
                             [("09:30", "00:45", "Opmaaling")])

    def test_tab_moves_one_cell_in_the_postings_grid(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            saved_case(st, "S1")
            steps.new_posting_row(st, "AB")
            st.key("Tab", "Tab", "Tab")  # Meda. -> Dato -> Vare -> Tekst
            st.type("Skitse")
            self.assertEqual(steps.quit_saving(st, r"^Skal den rettede postering gemmes"), 0)
            self.assertEqual([(r["POST_ANS"], r["POST_BEM"]) for r in kjx.rows(st, "Poster.dbf")],
                             [("AB", "Skitse")])

    def test_ctrl_x_closes_the_time_sheet_the_registers_and_the_cards_from_a_text_field(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            st.key("alt+p", "t")
            steps.initials(st)
            sheet = st.wait_window(r"^Timeseddel$")  # the employee box has the focus
            d.key(sheet, "ctrl+x")
            st.wait_gone(sheet)
            groups = steps.open_register(st, r"^Varegrupper$", "Down", "Return")
            d.key(groups, "ctrl+Insert")
            d.type(groups, "G1")
            steps.close_saving(st, groups, r"^Skal den rettede varegruppe gemmes", "alt+n")
            users = steps.open_register(st, r"^Redigere brugere", "m")
            d.key(users, "ctrl+Insert")
            steps.type_fields(d, users, "ab", "Cand")
            steps.close_saving(st, users, r"^Skal den rettede bruger gemmes", "alt+n")
            self.assertEqual(kjx.rows(st, "VarerG.dbf"), [])
            self.assertEqual(kjx.rows(st, "Bruger.dbf"), [])

    def test_a_click_in_an_empty_masked_field_leaves_the_caret_at_its_start(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            d.click(st.main, AFSLUTTET[0] + 50, AFSLUTTET[1])  # beyond the blanks' end
            st.type("31122030")
            st.key("F2")
            kjx.wait_until(lambda: [r["SAG_AFSLUT"] for r in steps.case_rows(st, "S1")],
                           what="case S1 saved")
            self.assertEqual(str(steps.case_rows(st, "S1")[0]["SAG_AFSLUT"]), "2030-12-31")

    def test_one_invalid_value_gives_one_box(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S1")
            d.click(st.main, *AFSLUTTET)
            st.key("Home")
            st.type("31022026")
            st.key("F2")
            steps.answer(st, r"^'31-02-2026' er ikke en gyldig dato", "Return")
            # The focus is back in the field: emptied, the case saves, and every box the
            # refusal gave has been shown.
            st.key("ctrl+a", "BackSpace", "F2")
            kjx.wait_until(lambda: steps.case_rows(st, "S1"), what="case S1 saved")
            texts = [t for _, t in st.dialogs.asked()]
            self.assertEqual(len([t for t in texts if "er ikke en gyldig dato" in t]), 1, texts)

    def test_an_invalid_number_in_a_posting_gives_one_box(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            saved_case(st, "S1")
            steps.new_posting_row(st, "AB")
            st.key("Tab", "Tab", "Tab", "Tab")  # Meda. -> Dato -> Vare -> Tekst -> Antal
            st.type("abc")
            st.key("Tab")
            steps.answer(st, r"^'abc' er ikke et gyldigt tal", "Return")
            # Ctrl+Tilbage drops the row: every box the refusal gave has been shown then.
            st.key("ctrl+BackSpace", "ctrl+x")
            self.assertEqual(st.wait_exit(), 0)
            texts = [t for _, t in st.dialogs.asked()]
            self.assertEqual(len([t for t in texts if "er ikke et gyldigt tal" in t]), 1, texts)

    def test_a_short_message_box_is_wide_enough_for_its_title(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            saved_case(st, "S1")
            st.key("ctrl+Insert")
            w, _ = st.wait_dialog(r"^Indtast sagsnr")
            d.type(w, "S1")
            d.key(w, "Return")
            box, ask = st.wait_dialog(r"^Sagen S1\s*findes allerede")
            self.assertEqual(ask["caption"], "Morvane Vaktor")
            # The title in the title bar's bold font, its icon and its three buttons need about
            # 250 pixels; a narrower box has its title shortened ("Morva...Vaktor").
            self.assertGreaterEqual(steps.size(d, box)[0], 250)
            d.key(box, "Return")
            st.wait_answer()


if __name__ == "__main__":
    unittest.main()
