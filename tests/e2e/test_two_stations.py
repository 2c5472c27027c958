"""Two stations on one data folder, by real keys: a register row that one station edits while
the other deletes it, in a card register and in a grid register. The change is not written
into the deleted record, and the user is told that nothing was saved."""
import unittest

import kjx
import steps

EFTERNAVN = (668, 28)  # the customer card's "Efternavn" field

# Per register: its title, its key after Alt+R, the table, the key and a text field, the row
# made first (typed with Tab), the questions on saving and on deleting.
REGISTERS = (
    dict(title=r"Rediger kunder/kontakter", keys=("k",), table="Kunde.dbf", key="MAK_ID",
         field="MAK_ENAVN", row=("k1", "Kommunen"), saved=("K1", ""),
         save=r"^Skal den rettede kunde gemmes", delete=r"^Skal denne kunde slettes"),
    dict(title=r"^Pstnr\. By$", keys=("p",), table="PostBy.dbf", key="PST_NR", field="PST_BY",
         row=("8000", "Aarhus C"), saved=("8000", "Aarhus C"),
         save=r"^Skal det rettede postnr", delete=r"^Ønsker du at slette dette postnr"),
)


def make_row(st, reg_case):
    d = st.display
    reg = steps.open_register(st, reg_case["title"], *reg_case["keys"])
    d.key(reg, "ctrl+Insert")
    steps.initials(st, "KB")
    steps.type_fields(d, reg, *reg_case["row"])
    steps.close_saving(st, reg, reg_case["save"])


def start_an_edit(st, reg_case):
    """The register on its first row, a text field changed and not saved; the window's id."""
    d = st.display
    reg = steps.open_register(st, reg_case["title"], *reg_case["keys"])
    if reg_case["table"] == "Kunde.dbf":
        d.click(reg, *EFTERNAVN)
        d.type(reg, "Hansen")
    else:  # the grid starts in the row's first cell
        d.key(reg, "Tab", "ctrl+a")
        d.type(reg, "Hansen")
    return reg


def delete_first_row(st, reg_case):
    """The register on its first row, Ctrl+Del, Ja; closed again."""
    d = st.display
    reg = steps.open_register(st, reg_case["title"], *reg_case["keys"])
    d.key(reg, "ctrl+Delete")
    steps.initials(st, "KB")
    steps.answer(st, reg_case["delete"], "alt+j")
    d.key(reg, "ctrl+x")
    st.wait_gone(reg)


class TwoStationsTest(unittest.TestCase):
    def test_a_register_row_deleted_by_the_other_station_is_not_written_when_saved(self):
        for reg_case in REGISTERS:
            with self.subTest(table=reg_case["table"]), kjx.Display() as d:
                st = kjx.Station(d)
                make_row(st, reg_case)
                other = kjx.Station(d, data_dir=st.data_dir)
                reg = start_an_edit(st, reg_case)
                delete_first_row(other, reg_case)
                kjx.wait_until(lambda: not kjx.rows(st, reg_case["table"]),
                               what="the row deleted by the other station")
                d.key(reg, "ctrl+x")
                steps.answer(st, reg_case["save"], "alt+j", gone=reg)
                steps.answer(st, r"^Rækken er slettet af en anden bruger, intet er gemt",
                             "Return", gone=reg)
                st.wait_gone(reg)
                # The deleted record keeps what it held when it was deleted; no live row.
                self.assertEqual([(r[reg_case["key"]], r[reg_case["field"]]) for r in
                                  kjx.rows(st, reg_case["table"], deleted=True)],
                                 [reg_case["saved"]])
                self.assertEqual(kjx.rows(st, reg_case["table"]), [])
                self.assertEqual(other.quit(), 0)
                self.assertEqual(st.quit(), 0, st.dialogs.asked())


if __name__ == "__main__":
    unittest.main()
