"""Steps the register and key tests share: opening a register from the menu, the update
initials asked for the first change, a new case from the header, a button in a window's
button row, a question answered with a key, fields typed with Tab, a window closed with
Ctrl+X saving its row, and a new posting row in the main window."""
import re

import kjx

# Points of the main window, relative to its client area (as Display.click takes them). The
# window fills the 1280x1024 screen of the test's display, below openbox's 19-pixel title
# bar, so its controls stand at fixed places.
NEW_ROW_BUTTON = (167, 647)  # " Ny hændelse (Ctrl-Ins) " / " Ny postering (Ctrl-Ins) "
EVENTS_TAB = (55, 311)
POSTINGS_TAB = (145, 311)
MATNR_FIELD = (199, 169)
AFSLUTTET = (200, 226)  # the closing-date field of the case header
FIRST_ROW, ROW_STEP = 354, 19  # the grids' rows
EVENT_TEXT = 600  # the events grid's "Hændelse" column
POST_ANTAL = 580  # the postings grid's "Antal" column


def initials(st, ini="AB"):
    """Answers the login dialog that the first change of a run asks for."""
    w = st.wait_window(r"^Password Dialog$")
    st.display.type(w, ini)
    st.display.key(w, "Return")
    st.wait_gone(w)


def answer(st, text_regex, key, gone=None, tables=None):
    """Waits for a question or message and answers it with a key (e.g. "alt+j"); gone and
    tables as for Station.wait_dialog."""
    w, ask = st.wait_dialog(text_regex, gone=gone, tables=tables)
    st.display.key(w, key)
    st.wait_answer()
    return ask


def answer_and_wait(st, text_regex, key, back=True, tables=None):
    """answer(), then waits until the dialog is gone and, with back, the main window is
    active again with its focus given back: only then do the next keys and clicks land
    where the user means them."""
    w, ask = st.wait_dialog(text_regex, tables=tables)
    st.display.key(w, key)
    st.wait_answer()
    st.display.wait_gone(w)
    if back:
        st.display.wait_active(kjx.MAIN_TITLE)
    return ask


def open_register(st, title_regex, *keys):
    """Opens a window through the Register menu with keys after Alt+R; returns its id."""
    st.key("alt+r", *keys)
    return st.wait_window(title_regex)


def size(d, wid):
    out = d._run(["xdotool", "getwindowgeometry", str(wid)])
    m = re.search(r"Geometry: (\d+)x(\d+)", out)
    return int(m.group(1)), int(m.group(2))


def click_button(d, wid, index, count):
    """Clicks button index of the count buttons spread over the bottom row of a register."""
    width, height = size(d, wid)
    margin = 11
    step = (width - 2 * margin) / count
    d.click(wid, int(margin + (index + 0.5) * step), height - 24)


def new_case(st, number, ask_initials=True):
    """A new case through Ctrl+Insert and its number; the case stays in the header, unsaved."""
    st.key("ctrl+Insert")
    w, _ = st.wait_dialog(r"^Indtast sagsnr")
    st.display.type(w, number)
    st.display.key(w, "Return")
    st.wait_answer()
    if ask_initials:
        initials(st)


def case_rows(st, number):
    return [r for r in kjx.rows(st, "Sager.dbf") if r["SAGS_NR"].strip() == number]


def type_fields(d, win, *texts):
    """Types texts into a window's fields with Tab between them; an empty text types
    nothing (the field is passed over)."""
    for n, text in enumerate(texts):
        if n:
            d.key(win, "Tab")
        if text:
            d.type(win, text)


def close_saving(st, win, question, key="alt+j", tables=None):
    """Ctrl+X on a window, its question about the row typed answered with key (Ja). A window
    that closes without the question fails at once, saying what the tables hold."""
    st.display.key(win, "ctrl+x")
    answer(st, question, key, gone=win, tables=tables)
    st.wait_gone(win)


def quit_saving(st, question):
    """Ctrl+X in the main window, its question about the row typed answered Ja; the
    program's exit code."""
    st.key("ctrl+x")
    answer(st, question, "alt+j")
    return st.wait_exit()


def new_posting_row(st, initials):
    """The postings tab, its new-row button, and the employee's initials typed into the
    new row's first cell."""
    st.display.click(st.main, *POSTINGS_TAB)
    st.display.click(st.main, *NEW_ROW_BUTTON)
    st.type(initials)
