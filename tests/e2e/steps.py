"""Steps the register and key tests share: opening a register from the menu, the update
initials asked for the first change, a new case from the header, a button in a window's
button row, and a question answered with a key."""
import re

import kjx


def initials(st, ini="AB"):
    """Answers the login dialog that the first change of a run asks for."""
    w = st.wait_window(r"^Password Dialog$")
    st.display.type(w, ini)
    st.display.key(w, "Return")
    st.wait_gone(w)


def answer(st, text_regex, key):
    """Waits for a question or message and answers it with a key (e.g. "alt+j")."""
    w, ask = st.wait_dialog(text_regex)
    st.display.key(w, key)
    st.wait_answer()
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
