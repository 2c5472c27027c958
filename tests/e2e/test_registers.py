"""The card registers (employees, customers) driven with real keys and clicks: new cards typed
with Tab, the search with a card being typed, the registers' modality, and the case header's
"findes ikke, skal denne oprettes ?" opening a register on a new record with the key."""
import unittest

import kjx
import steps

USERS = r"^Redigere brugere"
CUSTOMERS = r"Rediger kunder/kontakter"
KEY_FIELD_END = (225, 28)  # the first card's key field, right of its text, in the window


def users(st):
    return [(r["INI"], r["INI_TITEL"], r["INI_FNAVN"], r["INI_ENAVN"], r["INI_RET"])
            for r in kjx.rows(st, "Bruger.dbf")]


def users_register_for_unknown_responsible(st, case, initials):
    """A new case whose responsible employee is typed as initials found nowhere; Ja to
    creating it and to saving the case first opens the users' register on the new card."""
    steps.new_case(st, case)
    st.key("Tab")  # the new case's type -> its responsible employee
    st.type(initials)
    st.key("Tab")
    steps.answer(st, r"^Brugeren :%s\s+findes ikke" % initials.upper(), "alt+j")
    steps.answer(st, r"^Data er ændret", "alt+j")
    return st.wait_window(USERS)


class RegistersTest(unittest.TestCase):
    def test_first_user_through_the_new_button_typed_with_tab(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, USERS, "m")
            steps.click_button(d, reg, 1, 7)  # " Ny bruger (Ctrl-Ins) "
            steps.initials(st)
            steps.type_fields(d, reg, "ab", "Cand", "Karen", "Berg")
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            # Nobody ticked "Kan redigere data": stored as false, not blank.
            self.assertEqual(users(st), [("AB", "Cand", "Karen", "Berg", False)])

    def test_customer_card_made_with_ctrl_ins_typed_with_tab(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, CUSTOMERS, "k")
            d.key(reg, "ctrl+Insert")
            steps.initials(st)
            steps.type_fields(d, reg, "k1", "Firma", "Ole")
            steps.close_saving(st, reg, r"^Skal den rettede kunde gemmes")
            self.assertEqual([(r["MAK_ID"], r["MAK_TITEL"], r["MAK_FNAVN"])
                              for r in kjx.rows(st, "Kunde.dbf")], [("K1", "Firma", "Ole")])

    def test_search_settles_the_card_being_typed(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, USERS, "m")
            d.key(reg, "ctrl+Insert")
            steps.initials(st)
            d.type(reg, "gh")
            d.key(reg, "Tab", "Tab")
            d.type(reg, "Gitte")
            steps.click_button(d, reg, 4, 7)  # " Søg "
            steps.answer(st, r"^Skal den rettede bruger gemmes", "alt+j")
            w, _ = st.wait_dialog(r"søges i alle felter i brugerdata")
            d.type(w, "Gitte")
            d.key(w, "Return")
            st.wait_answer()
            d.key(reg, "ctrl+x")
            st.wait_gone(reg)
            self.assertEqual([u[:3] for u in users(st)], [("GH", "", "Gitte")])

    def test_card_keys_work_right_after_a_search(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, USERS, "m")
            d.key(reg, "ctrl+Insert")
            steps.initials(st)
            steps.type_fields(d, reg, "ab", "Cand", "Anne")
            steps.click_button(d, reg, 4, 7)  # " Søg "
            steps.answer(st, r"^Skal den rettede bruger gemmes", "alt+j")
            w, _ = st.wait_dialog(r"søges i alle felter i brugerdata")
            d.type(w, "Anne")
            d.key(w, "Return")
            st.wait_answer()
            # Straight on with the keys: a new card, typed, saved.
            d.key(reg, "ctrl+Insert")
            steps.type_fields(d, reg, "cd", "", "Carl")
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            self.assertEqual(sorted(u[:3] for u in users(st)),
                             [("AB", "Cand", "Anne"), ("CD", "", "Carl")])

    def test_a_key_typed_after_the_key_the_register_was_opened_with(self):
        # The caret of a masked key field that already holds text stands just after it, so
        # what is typed adds to the key instead of being dropped past the mask's blanks.
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = users_register_for_unknown_responsible(st, "S1", "xy")
            steps.type_fields(d, reg, "z", "Dr")
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            self.assertEqual([u[:2] for u in users(st)], [("XYZ", "Dr")])

    def test_a_click_past_the_typed_key_adds_to_it(self):
        # A click in a masked field beyond its text puts the caret just after the text, not
        # after the mask's blanks, where every key typed would be dropped.
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = steps.open_register(st, USERS, "m")
            d.key(reg, "ctrl+Insert")
            steps.initials(st)
            steps.type_fields(d, reg, "ab", "Cand")
            d.click(reg, *KEY_FIELD_END)
            d.type(reg, "c")
            d.key(reg, "Tab")
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            self.assertEqual([u[:2] for u in users(st)], [("ABC", "Cand")])

    def test_card_registers_are_modal(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            for keys, title in (("m", USERS), ("k", CUSTOMERS)):
                reg = steps.open_register(st, title, keys)
                state = d._run(["xprop", "-id", str(reg), "_NET_WM_STATE"])
                self.assertIn("_NET_WM_STATE_MODAL", state, title)
                d.key(reg, "ctrl+x")
                st.wait_gone(reg)

    def test_unknown_responsible_opens_the_register_on_a_new_record_with_the_key(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            reg = users_register_for_unknown_responsible(st, "S1", "xy")
            steps.type_fields(d, reg, "", "Dr", "Xena")
            steps.close_saving(st, reg, r"^Skal den rettede bruger gemmes")
            self.assertEqual([u[:3] for u in users(st)], [("XY", "Dr", "Xena")])
            st.key("F2")
            kjx.wait_until(lambda: [r["SAG_ANSVAR"] for r in steps.case_rows(st, "S1")]
                           == ["XY"], what="case S1 saved with XY")

    def test_a_case_is_never_saved_with_a_responsible_found_nowhere(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            steps.new_case(st, "S2")
            st.key("Tab")
            st.type("qq")
            st.key("Tab")
            steps.answer(st, r"^Brugeren :QQ\s+findes ikke", "alt+n")
            st.key("F2")
            steps.answer(st, r"^Brugeren :QQ\s+findes ikke$", "Return")
            # The focus is back in the responsible field: emptied, the case saves.
            st.key("ctrl+a", "BackSpace", "F2")
            kjx.wait_until(lambda: steps.case_rows(st, "S2"), what="case S2 saved")
            self.assertEqual([r["SAG_ANSVAR"] for r in steps.case_rows(st, "S2")], [""])

    def test_new_row_in_a_grid_register_starts_in_a_column_that_takes_typing(self):
        with kjx.Display() as d:
            st = kjx.Station(d)
            groups = steps.open_register(st, r"^Varegrupper$", "Down", "Return")
            d.key(groups, "ctrl+Insert")
            steps.initials(st)
            d.type(groups, "G1")
            steps.close_saving(st, groups, r"^Skal den rettede varegruppe gemmes")
            groups = steps.open_register(st, r"^Varegrupper$", "Down", "Return")
            d.key(groups, "End")  # the last column: a stamp, read-only
            d.key(groups, "ctrl+Insert")
            d.type(groups, "G2")
            steps.close_saving(st, groups, r"^Skal den rettede varegruppe gemmes")
            self.assertEqual(sorted(r["ID"] for r in kjx.rows(st, "VarerG.dbf")), ["G1", "G2"])


if __name__ == "__main__":
    unittest.main()
