"""The harness itself on a real display: a key held down types its letter once, a wait that
times out names the box in the way, and a key or a wait on a window that is there already
runs no X tool for a failure message that is not needed."""
import time
import unittest

import kjx


class HarnessTest(unittest.TestCase):
    def test_a_key_held_past_the_repeat_delay_types_one_letter(self):
        with kjx.Display() as d:
            st = kjx.Station(d, start=False).launch()
            ask = kjx.wait_until(lambda: st.dialogs.next("ask"), what="the folder question")
            self.assertEqual(ask["kind"], "folder", ask)
            w = st.wait_dialog_window(ask)
            # The proposed folder exists while the question shows: its name but the last
            # letter, which is held down for longer than any repeat delay.
            d.type(w, st.data_dir.rstrip("/")[:-1])
            d.activate(w)
            d._run(["xdotool", "keydown", st.data_dir.rstrip("/")[-1]])
            time.sleep(1.5)
            d._run(["xdotool", "keyup", st.data_dir.rstrip("/")[-1]])
            d.key(w, "Return")
            # A repeated letter names a folder that does not exist: the dialog then says so
            # in a box of its own and gives no answer.
            answer = kjx.wait_until(lambda: st.dialogs.next("answer"), timeout=20, what=lambda:
                                    "the folder answer; windows %s" % st.windows())
            self.assertEqual(answer["value"].rstrip("/"), st.data_dir.rstrip("/"))

    def test_a_wait_that_times_out_names_the_box_in_the_way(self):
        with kjx.Display() as d:
            st = kjx.Station(d, start=False).launch()
            ask = kjx.wait_until(lambda: st.dialogs.next("ask"), what="the folder question")
            w = st.wait_dialog_window(ask)
            d.type(w, st.data_dir)
            d.key(w, "Return")
            st.wait_dialog(r"^Skal datafiler oprettes")  # shown, not answered
            with self.assertRaises(kjx.TimeoutError_) as caught:
                st.wait_window(kjx.MAIN_TITLE, timeout=2)
            self.assertIn("Skal datafiler oprettes i mappen", str(caught.exception))
            self.assertIn("in the way", str(caught.exception))

    def test_keys_and_waits_on_a_window_that_is_there_run_few_x_tools(self):
        with kjx.Display() as d:
            wid = d.activate_other()
            real, calls = d._run, []

            def counting(args, **kw):
                calls.append(args[0])
                return real(args, **kw)
            d._run = counting
            d.key(wid, "shift")
            self.assertLessEqual(len(calls), 2, calls)  # is it active; the key
            del calls[:]
            d.wait_window(r"^kjx-other$")
            d.wait_gone(r"^no such window$")
            self.assertLessEqual(len(calls), 2, calls)  # one window list each


if __name__ == "__main__":
    unittest.main()
