"""Drives the real kjsager under its own X server with real X input.

Each test gets its own Xvfb (found through -displayfd, so tests running at once never share a
display) with openbox as window manager, starts the real program on a prepared start-up folder,
finds windows by their titles (wmctrl), sends keys and clicks as real X events (xdotool), follows
the program's message boxes through its dialog transcript (KJ_DIALOG_LOG) and reads the results
back from the tables (dbfread). Every wait polls for a state and is bounded; everything started
here is killed when the test ends, also when it fails.

Environment: KJSAGER (the program), KJ_SOURCE_DIR (the source tree), KJ_E2E_KEEP=1 keeps the
test's folder (its path is printed) for a look afterwards, KJ_E2E_KEEP_FAILED=1 only when the
test failed (with the screen as the failure left it, failure.png).
"""
import atexit
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.environ.get(
    "KJ_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))
import prepare_startup  # noqa: E402

PROGRAM = os.environ.get("KJSAGER", os.path.join(SOURCE_DIR, "build", "program", "kjsager"))
MAIN_TITLE = r"^ ?Morvane Vaktor > "
WAIT = 45.0  # seconds: generous, the machine may be running twice as many jobs as cores

_started = []  # every process started here, killed at exit


class TimeoutError_(AssertionError):
    pass


def wait_until(pred, timeout=WAIT, what="the condition", interval=0.1):
    """Polls pred() until it returns something true and returns that; fails after timeout.
    what names the awaited state in the failure: a text, or a function giving the text,
    called only on a failure (a state description may take several X tool runs)."""
    end = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > end:
            raise TimeoutError_("waited %.0f s for %s" % (timeout, what() if callable(what)
                                                          else what))
        time.sleep(interval)


def _die_with_parent():
    # The children go when the test process goes, even when it is killed outright.
    try:
        ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except OSError:
        pass


def _spawn(args, env=None, log=None, pass_fds=()):
    out = open(log, "ab") if log else subprocess.DEVNULL
    proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                            stderr=subprocess.STDOUT, pass_fds=pass_fds,
                            start_new_session=True, preexec_fn=_die_with_parent)
    if log:
        out.close()
    _started.append(proc)
    return proc


def _kill(proc):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass


@atexit.register
def _kill_all():
    for proc in reversed(_started):
        _kill(proc)


def _read_line(fd, timeout):
    data = b""
    end = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        left = end - time.monotonic()
        if left <= 0:
            raise TimeoutError_("Xvfb did not say its display number")
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 64)
            if not chunk:
                raise AssertionError("Xvfb ended before saying its display number")
            data += chunk
    return data.decode().strip()


def _openbox_rc():
    """openbox's own configuration without its key bindings, so that every key the tests send
    reaches the program (its mouse bindings stay: click to focus and raise)."""
    try:
        with open("/etc/xdg/openbox/rc.xml") as f:
            rc = f.read()
    except OSError:
        return "<openbox_config xmlns=\"http://openbox.org/3.4/rc\"></openbox_config>\n"
    return re.sub(r"<keyboard>.*</keyboard>", "<keyboard></keyboard>", rc, flags=re.S)


_OPENBOX_RC = _openbox_rc()  # a test may adjust it before its Display starts


class Window:
    """One managed top-level window as wmctrl lists it."""

    def __init__(self, wid, pid, title):
        self.id, self.pid, self.title = wid, pid, title

    def __repr__(self):
        return "Window(0x%x, pid %d, %r)" % (self.id, self.pid, self.title)


class Display:
    """An X server of the test's own with a window manager; use as a context manager."""

    def __init__(self, width=1280, height=1024):
        self.size = (width, height)
        self.tmp = None
        self.env = None
        self._other = None
        self._stations = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        # A time-out also keeps where each program waited and which windows were mapped.
        self.close(failed=exc[0] is not None,
                   timed_out=exc[0] is not None and issubclass(exc[0], TimeoutError_))
        return False

    def start(self):
        self.tmp = tempfile.mkdtemp(prefix="kje2e-")
        read_end, write_end = os.pipe()
        try:
            self._xvfb = _spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                 "%dx%dx24" % self.size, "-nolisten", "tcp", "-noreset"],
                                log=os.path.join(self.tmp, "xvfb.log"), pass_fds=(write_end,))
            os.close(write_end)
            self.name = ":" + _read_line(read_end, WAIT)
        finally:
            os.close(read_end)
        env = dict(os.environ)
        for k in ("XAUTHORITY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LANGUAGE"):
            env.pop(k, None)
        real_home = os.path.expanduser("~")
        env.update(DISPLAY=self.name, HOME=self.tmp, XDG_CONFIG_HOME=self.tmp + "/config",
                   XDG_CACHE_HOME=env.get("XDG_CACHE_HOME", real_home + "/.cache"),
                   XDG_RUNTIME_DIR=self.tmp)
        os.chmod(self.tmp, 0o700)
        self.env = env
        rc = os.path.join(self.tmp, "openbox-rc.xml")
        with open(rc, "w") as f:
            f.write(_OPENBOX_RC)
        self._wm = _spawn(["openbox", "--sm-disable", "--config-file", rc], env=env,
                          log=os.path.join(self.tmp, "openbox.log"))
        wait_until(lambda: "Openbox" in self._run(["wmctrl", "-m"], check=False),
                   what="openbox on " + self.name)
        # A key is pressed and released by two events; on a busy machine the release may come
        # later than the server's repeat delay, which would type the key twice or more.
        self._run(["xset", "r", "off"])
        self._add_danish_letters()

    def _add_danish_letters(self):
        """Gives æ, ø and å keys of their own, as on a Danish keyboard. Without them xdotool
        types each such letter by remapping a spare keycode for the moment of the key press,
        and a busy program may read the key before the new mapping reaches it (the letter is
        then lost)."""
        free = []
        for line in self._run(["xmodmap", "-pke"]).splitlines():
            code, _, syms = line.partition("=")
            if not syms.strip() and int(code.split()[1]) > 8:
                free.append(int(code.split()[1]))
        letters = [("ae", "AE"), ("oslash", "Oslash"), ("aring", "Aring")]
        args = []
        for code, (lower, upper) in zip(free, letters):
            args += ["-e", "keycode %d = %s %s" % (code, lower, upper)]
        self._run(["xmodmap"] + args)

    def close(self, failed=False, timed_out=False):
        if failed and self.env:
            try:  # the screen as the failure left it, for a look afterwards
                self.screenshot(os.path.join(self.tmp, "failure.png"))
            except Exception:  # noqa: BLE001 - the failure itself matters more
                pass
            if timed_out:
                self._keep_waiting_state()
        for st in reversed(self._stations):
            st.kill()
        for proc in (self._other, getattr(self, "_wm", None), getattr(self, "_xvfb", None)):
            if proc:
                _kill(proc)
        if self.tmp:
            if os.environ.get("KJ_E2E_KEEP") or (failed and os.environ.get("KJ_E2E_KEEP_FAILED")):
                print("kept " + self.tmp, file=sys.stderr)
            else:
                shutil.rmtree(self.tmp, ignore_errors=True)

    def _keep_waiting_state(self):
        """After a time-out: every running station's threads' stacks and the map state of
        every named window, written to the test's folder and told on stderr (the folder is
        removed unless kept)."""
        try:
            maps = window_map_states(self)
            with open(os.path.join(self.tmp, "windows.txt"), "w") as f:
                f.write(maps)
            told = ["windows and their map states:\n" + maps]
            for st in self._stations:
                if st.proc is None or st.proc.poll() is not None:
                    continue
                stack = program_stack(st.proc.pid)
                with open(os.path.join(self.tmp, st.name + "-stack.txt"), "w") as f:
                    f.write(stack)
                told.append("%s (pid %d) waits in:\n%s" % (st.name, st.proc.pid, stack[-6000:]))
            print("\n".join(told), file=sys.stderr)
        except Exception as e:  # noqa: BLE001 - the failure itself matters more
            print("could not keep the waiting state: %s" % e, file=sys.stderr)

    def in_the_way(self):
        """The boxes the stations show and nobody answered, for a failure's message."""
        boxes = []
        for st in self._stations:
            boxes += ["%s box %r: %r" % (st.name, caption, text)
                      for caption, text in st.dialogs.open_boxes()]
        return "; in the way: " + ", ".join(boxes) if boxes else ""

    # --- X tools -------------------------------------------------------------------------

    def _run(self, args, check=True, timeout=30):
        try:
            r = subprocess.run(args, env=self.env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=timeout)
        except subprocess.TimeoutExpired:
            if check:
                raise
            return ""
        if check and r.returncode != 0:
            raise AssertionError("%s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace")))
        return r.stdout.decode("utf-8", errors="replace")

    def windows(self, pid=None):
        """The managed (mapped) top-level windows, oldest first; of one process with pid."""
        out = self._run(["wmctrl", "-lp"], check=False)
        found = []
        for line in out.splitlines():
            m = re.match(r"^(0x[0-9a-fA-F]+)\s+-?\d+\s+(\d+)\s+\S+ ?(.*)$", line)
            if m and (pid is None or int(m.group(2)) == pid):
                found.append(Window(int(m.group(1), 16), int(m.group(2)), m.group(3)))
        return found

    def find(self, title_regex, pid=None):
        """The newest window whose title matches, or None."""
        hits = [w for w in self.windows(pid) if re.search(title_regex, w.title)]
        return hits[-1] if hits else None

    def wait_window(self, title_regex, timeout=WAIT, pid=None):
        """Waits for a window whose title matches; returns its id."""
        return wait_until(lambda: self.find(title_regex, pid), timeout,
                          lambda: "a window titled /%s/ (have %s)%s" % (
                              title_regex, self.windows(pid), self.in_the_way())).id

    def wait_gone(self, what, timeout=WAIT, pid=None):
        """Waits until no window matches a title regex (or, given an id, that window is gone)."""
        if isinstance(what, int):
            pred = lambda: all(w.id != what for w in self.windows(pid))  # noqa: E731
        else:
            pred = lambda: self.find(what, pid) is None  # noqa: E731
        wait_until(pred, timeout, lambda: "window %r to go (have %s)%s" % (
            what, self.windows(pid), self.in_the_way()))

    def active(self):
        """The id of the active window, or None."""
        out = self._run(["xdotool", "getactivewindow"], check=False).strip()
        return int(out) if out.isdigit() else None

    def title(self, wid):
        for w in self.windows():
            if w.id == wid:
                return w.title
        return None

    def wait_active(self, title_regex, timeout=WAIT):
        """Waits until the active window's title matches; returns its id."""
        def pred():
            wid = self.active()
            t = self.title(wid) if wid else None
            return wid if t is not None and re.search(title_regex, t) else None
        return wait_until(pred, timeout, lambda: "an active window titled /%s/ (active: %r)%s" % (
            title_regex, self.title(self.active()), self.in_the_way()))

    def activate(self, wid, timeout=WAIT):
        """Makes the window active and checks that it is, before any key goes to it."""
        def pred():
            if self.active() == wid:
                return True
            self._run(["xdotool", "windowactivate", "--sync", str(wid)], check=False, timeout=10)
            return self.active() == wid
        wait_until(pred, timeout, lambda: "window 0x%x (%r) to become active; active: %r; "
                   "windows: %s%s" % (wid, self.title(wid), self.title(self.active()),
                                      self.windows(), self.in_the_way()), interval=0.3)

    def key(self, wid, *keys):
        """Real key presses to the window, e.g. key(w, "ctrl+Insert", "Tab")."""
        self.activate(wid)
        self._run(["xdotool", "key", "--delay", "40"] + list(keys))

    def type(self, wid, text, delay=40):
        """Types text into the window as real key presses, delay milliseconds apart."""
        self.activate(wid)
        self._run(["xdotool", "type", "--delay", str(delay), "--", text],
                  timeout=60 + len(text) * delay / 1000.0)

    def click(self, wid, x, y, button=1):
        """A real mouse click at (x, y) inside the window."""
        self.activate(wid)
        self._run(["xdotool", "mousemove", "--window", str(wid), str(x), str(y),
                   "click", str(button)])

    def activate_other(self):
        """Switches to another X client's window (made once per display); returns its id."""
        if self._other is None or self._other.poll() is not None:
            self._other = _spawn(["xmessage", "-title", "kjx-other", "Et andet program"],
                                 env=self.env, log=os.path.join(self.tmp, "other.log"))
        wid = self.wait_window(r"^kjx-other$")
        self.activate(wid)
        return wid

    def screenshot(self, path, wid=None):
        """The whole screen, or one window, as a picture file (by its suffix, e.g. .png)."""
        self._run(["import", "-window", "root" if wid is None else str(wid), path])
        return path


class DialogLog:
    """The program's dialog transcript: one line per dialog shown and per answer given."""

    def __init__(self, path):
        self.path = path
        self.offset = 0

    def entries(self, start=0):
        """(end offset, fields) of every line from byte offset start."""
        try:
            with open(self.path, "rb") as f:
                f.seek(start)
                data = f.read()
        except FileNotFoundError:
            return []
        result, pos = [], start
        for raw in data.split(b"\n")[:-1]:  # a line being written has no newline yet
            pos += len(raw) + 1
            fields = [_unescape(x) for x in raw.decode("utf-8", errors="replace").split("\t")]
            result.append((pos, fields))
        return result

    def next(self, kind="ask", regex=None):
        """The first new line of kind ("ask" or "answer") matching regex (caption or text of
        a dialog, button or value of an answer); moves past it. None while there is none."""
        for end, fields in self.entries(self.offset):
            if fields[0] != kind:
                continue
            if regex is None or any(re.search(regex, f) for f in fields[1:]):
                self.offset = end
                if kind == "ask":
                    return {"kind": fields[1], "caption": fields[2], "text": fields[3],
                            "value": fields[4] if len(fields) > 4 else ""}
                return {"button": int(fields[1]), "value": fields[2] if len(fields) > 2 else ""}
        return None

    def asked(self):
        """Every dialog shown so far: list of (caption, text)."""
        return [(f[2], f[3]) for _, f in self.entries(0) if f[0] == "ask"]

    def open_boxes(self):
        """The dialogs shown and not answered yet, outermost first: list of (caption, text).
        A dialog shown from within another is answered before it."""
        shown = []
        for _, f in self.entries(0):
            if f[0] == "ask":
                shown.append((f[2], f[3]))
            elif f[0] == "answer" and shown:
                shown.pop()
        return shown


def _unescape(field):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1),
                                                                       m.group(1)), field)


class Station:
    """The real program on a start-up folder of its own, answered through its first start
    with real keys, up to its main window. Data folder: the start-up folder's SagsData/, or
    data_dir (e.g. another station's, for a second station on the same data)."""

    _count = 0

    def __init__(self, display, startup_dir=None, data_dir=None, start=True):
        Station._count += 1
        self.display = display
        self.name = "station%d" % Station._count
        self.startup_dir = prepare_startup.prepare(
            startup_dir or os.path.join(display.tmp, self.name), data_dir)
        self.data_dir = prepare_startup._slash(os.path.abspath(data_dir)) if data_dir \
            else self.startup_dir + "SagsData/"
        self.dialogs = DialogLog(os.path.join(display.tmp, self.name + "-dialogs.log"))
        self.log = os.path.join(display.tmp, self.name + ".log")
        self.proc = None
        self.main = None
        display._stations.append(self)
        if start:
            self.start()

    def start(self):
        self.launch()
        self._first_start()
        self.main = self.display.wait_window(MAIN_TITLE, pid=self.proc.pid)
        return self

    def launch(self):
        """Starts the program and returns at once (start() also answers the first start)."""
        env = dict(self.display.env, LANG="da_DK.UTF-8", QT_QPA_PLATFORM="xcb",
                   KJ_DIALOG_LOG=self.dialogs.path)
        self.proc = _spawn([PROGRAM, "T3=" + self.startup_dir], env=env, log=self.log)
        return self

    def _first_start(self):
        """Answers the first start's questions (the data folder, creating the data files)
        until the main window shows."""
        d = self.display
        end = time.monotonic() + 2 * WAIT
        while d.find(MAIN_TITLE, self.proc.pid) is None:
            self.check_running()
            if time.monotonic() > end:
                raise TimeoutError_("no main window; dialogs: %s" % self.dialogs.asked())
            ask = self.dialogs.next("ask")
            if ask is None:
                time.sleep(0.1)
            elif not self.answer_first_start(ask):
                raise AssertionError("unexpected question at start: %r" % (ask,))

    def answer_first_start(self, ask):
        """Answers ask when it is one of the first start's questions (the data folder,
        creating the data files); False when it is another."""
        d = self.display
        if ask["kind"] == "folder":
            w = self.wait_dialog_window(ask)
            d.type(w, self.data_dir)
            d.key(w, "Return")
        elif re.search(r"^Skal datafiler oprettes", ask["text"]):
            d.key(self.wait_dialog_window(ask), "alt+j")
        else:
            return False
        return True

    def check_running(self):
        if self.proc.poll() is not None:
            raise AssertionError("%s ended (exit %s); dialogs %s; output: %s" % (
                self.name, self.proc.returncode, self.dialogs.asked(), self.output()[-2000:]))

    def output(self):
        with open(self.log, "rb") as f:
            return f.read().decode("utf-8", errors="replace")

    def windows(self):
        return self.display.windows(self.proc.pid)

    def wait_window(self, title_regex, timeout=WAIT):
        return self.display.wait_window(title_regex, timeout, pid=self.proc.pid)

    def wait_gone(self, what, timeout=WAIT):
        self.display.wait_gone(what, timeout, pid=self.proc.pid)

    def wait_dialog_window(self, ask, timeout=WAIT):
        """The window of a dialog from the transcript: titled with its caption."""
        title = "^" + re.escape(ask["caption"].strip()) + "$" if ask["caption"].strip() else "."
        return self.wait_window(title, timeout)

    def wait_dialog(self, text_regex, timeout=WAIT, gone=None, tables=None):
        """Waits for the program to show a dialog whose caption or text matches; returns
        (window id, {"kind", "caption", "text", "value"}). With gone (a window id), a window
        that closes without the dialog fails at once instead of after the time-out. A failure
        says what the tables hold: tables() when given (e.g. the rows the question was to
        save), else every table of the data folder."""
        def pred():
            self.check_running()
            ask = self.dialogs.next("ask", text_regex)
            if ask is None and gone is not None and \
                    all(w.id != gone for w in self.display.windows(self.proc.pid)):
                ask = self.dialogs.next("ask", text_regex)  # shown as the window went
                if ask is None:
                    raise AssertionError("window 0x%x closed without a dialog /%s/; %s" % (
                        gone, text_regex, self._tables_now(tables)))
            return ask
        try:
            ask = wait_until(pred, timeout, lambda: "a dialog /%s/ (dialogs so far: %s)%s" % (
                text_regex, self.dialogs.asked(), self.display.in_the_way()))
        except TimeoutError_ as e:
            raise TimeoutError_("%s; %s" % (e, self._tables_now(tables))) from None
        return self.wait_dialog_window(ask, timeout), ask

    def _tables_now(self, tables=None):
        """What the tables hold now, for a failure's message."""
        try:
            if tables is not None:
                return "tables now: %s" % (tables(),)
            return "tables now: %s" % table_summary(self.data_dir)
        except Exception as e:  # noqa: BLE001 - the failure itself matters more
            return "tables unreadable: %s" % e

    def settle(self, boxes_regex, key="Return", timeout=WAIT, win=None):
        """Answers every box that comes up (each must match boxes_regex) with key, until no
        box is open and the window (the main window unless given) has been active for
        several polls in a row; returns the texts answered."""
        answered, quiet = [], [0]

        def pred():
            self.check_running()
            ask = self.dialogs.next("ask")
            if ask is not None:
                if not re.search(boxes_regex, ask["text"]):
                    raise AssertionError("unexpected box %r" % (ask,))
                self.display.key(self.wait_dialog_window(ask), key)
                self.wait_answer()
                answered.append(ask["text"])
                quiet[0] = 0
                return False
            entries = [f[0] for _, f in self.dialogs.entries(0)]
            idle = entries.count("ask") == entries.count("answer")
            active = self.display.active() == (win or self.main)
            quiet[0] = quiet[0] + 1 if idle and active else 0
            return quiet[0] >= 5
        wait_until(pred, timeout, lambda: "the program to settle (windows %s)%s" % (
            self.windows(), self.display.in_the_way()))
        return answered

    def wait_answer(self, timeout=WAIT):
        """Waits for the answer to the dialog last waited for: {"button", "value"}."""
        return wait_until(lambda: self.dialogs.next("answer"), timeout, "a dialog's answer")

    def answer_initials(self, initials, timeout=WAIT):
        """The initials question ("Password Dialog") before a change is written: types the
        initials and OK."""
        w = self.wait_window(r"^Password Dialog$", timeout)
        self.display.type(w, initials)
        self.display.key(w, "Return")
        self.wait_gone(w)

    def key(self, *keys, win=None):
        self.display.key(win or self.main, *keys)

    def menu(self, *keys):
        """A main-menu command by keys: Alt pressed alone puts the keys in the menu bar, then
        the menu's and the item's letters (or arrow keys) and Enter. Alt+letter at once
        would reach a field label first where the two share a letter (A&fsluttet and
        &Funktion)."""
        self.display.key(self.main, "alt", *keys)

    def type(self, text, win=None, delay=40):
        self.display.type(win or self.main, text, delay)

    def quit(self, keys=("ctrl+x",), wait=True, timeout=WAIT):
        """Closes the program through its main window with real keys (Ctrl+X; or e.g.
        ("alt", "r", "a") for Register > Afslut); with wait, waits for the process to end
        and returns its exit code."""
        self.display.key(self.main, *keys)
        return self.wait_exit(timeout) if wait else None

    def wait_exit(self, timeout=WAIT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError_("%s still runs %.0f s after closing; windows %s; dialogs %s" % (
                self.name, timeout, self.windows(), self.dialogs.asked()))

    def kill(self):
        if self.proc:
            _kill(self.proc)


def rows(where, table, deleted=False, encoding="cp850"):
    """The records of a table as dicts (a Station or a data folder). Deleted records are
    left out, or with deleted=True only they are given. The tables hold their text in the
    DOS code page 850."""
    import dbfread
    folder = where.data_dir if isinstance(where, Station) else where
    path = os.path.join(folder, table)
    if not os.path.exists(path):  # the program names its files; be lenient on case
        for name in os.listdir(folder):
            if name.lower() == table.lower():
                path = os.path.join(folder, name)
    dbf = dbfread.DBF(path, load=True, ignore_missing_memofile=True, encoding=encoding,
                      char_decode_errors="replace")
    return [dict(r) for r in (dbf.deleted if deleted else dbf.records)]


def window_map_states(display):
    """Every named X window below the root with its map state, one a line: which window
    shows, which does not (a box the window manager never mapped)."""
    lines = []
    tree = display._run(["xwininfo", "-root", "-tree"], check=False)
    for m in re.finditer(r"^\s+(0x[0-9a-f]+) (\".*?\"):", tree, flags=re.M):
        info = display._run(["xwininfo", "-id", m.group(1)], check=False)
        state = re.search(r"Map State: (\S+)", info)
        lines.append("%s %s %s" % (m.group(1), state.group(1) if state else "?", m.group(2)))
    return "\n".join(lines) + "\n"


def program_stack(pid):
    """The stacks of a running program's threads: gdb's, else eu-stack's, else what /proc
    tells of each thread (its state and the kernel function it waits in)."""
    for args in (["gdb", "-batch", "-nx", "-p", str(pid), "-ex", "thread apply all bt 30"],
                 ["eu-stack", "-p", str(pid)]):
        if shutil.which(args[0]):
            try:
                r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, timeout=90)
                text = r.stdout.decode("utf-8", errors="replace")
                if "#0" in text or "TID" in text:
                    return text
            except subprocess.TimeoutExpired:
                pass
    parts = []
    for tid in sorted(os.listdir("/proc/%d/task" % pid)):
        base = "/proc/%d/task/%s/" % (pid, tid)
        try:
            with open(base + "stat") as f:
                stat = f.read().split()
            with open(base + "wchan") as f:
                wchan = f.read()
            parts.append("thread %s state %s waits in %s" % (tid, stat[2], wchan))
        except OSError:
            continue
    return "\n".join(parts) + "\n"


def table_summary(folder, limit=3000):
    """Every table of a data folder with its live rows (fields left blank left out), short
    enough for a failure's message: what was saved, and so what was lost."""
    parts = []
    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith(".dbf"):
            continue
        try:
            recs = rows(folder, name)
        except Exception as e:  # noqa: BLE001 - one unreadable table is named, not fatal
            parts.append("%s: unreadable (%s)" % (name, e))
            continue
        if recs:
            shown = [{k: v for k, v in r.items() if v not in ("", None, 0, False)
                      and not re.search(r"(OPRET|AJOUR|_INI)$", k)} for r in recs]
            parts.append("%s: %s" % (name, shown))
    text = "; ".join(parts) or "every table empty"
    return text if len(text) <= limit else text[:limit] + " ..."


class HeldExclusive:
    """Holds a table file open exclusively, as another station's exclusive open does (a
    write lock on the share byte every open of the engine locks); a context manager."""

    SHARE_BYTE = 1 << 62

    def __init__(self, path):
        import fcntl
        import struct
        self.fd = os.open(path, os.O_RDWR | os.O_CLOEXEC)
        lock = struct.pack("hhqqi4x", fcntl.F_WRLCK, os.SEEK_SET, self.SHARE_BYTE, 1, 0)
        try:
            fcntl.fcntl(self.fd, fcntl.F_OFD_SETLK, lock)
        except OSError:
            os.close(self.fd)
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()
        return False

    def release(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
