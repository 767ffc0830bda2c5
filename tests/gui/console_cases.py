"""End-to-end cases of the console window: what a user sees and types."""
import time

from harness import Console, Failure, run

BACKGROUND = (252, 252, 252)


def expect(condition, what):
    if not condition:
        raise Failure(what)


def case_opens_with_banner_and_prompt(name):
    with Console(name) as c:
        lines = c.wait_for_prompt()
        expect(any(l.startswith("--== Kel") for l in lines), f"no banner in {lines[:4]!r}")
        expect(any("Type HELP for starting information." in l for l in lines), "no help line")
        x, y, w, h = c.geometry()
        expect((w, h) == (640, 480), f"window is {w}x{h}")


def case_evaluates_what_is_typed(name):
    with Console(name) as c:
        c.wait_for_prompt()
        c.type("1 + 2\n")
        c.wait_for_line("== 3")
        # A bracket left open continues on a cue line; closing it evaluates.
        c.type("[1\n")
        c.type("2]\n")
        # The block keeps the line break typed inside it.
        c.wait_for(lambda ls: "== [1" in ls and "2]" in ls, "the two-line block")
        # Escape drops the line being continued.
        c.type("[3\n")
        time.sleep(0.3)
        c.key("Escape")
        c.wait_for_line("(escape)")
        c.type("1 / 0\n")
        c.wait_for_line("*** Math Error: attempt to divide by zero")
        c.type("quit\n")
        expect(c.wait_exit() == 0, "quit did not end with 0")


def case_resize_changes_the_console_size(name):
    with Console(name) as c:
        c.wait_for_prompt()
        c.type("system/console/size\n")
        before = [l for l in c.wait_for(lambda ls: any(l.startswith("== ") for l in ls), "a size") if l.startswith("== ")]
        c.resize(900, 600)
        time.sleep(0.5)
        c.type("system/console/size\n")
        after = c.wait_for(lambda ls: sum(l.startswith("== ") for l in ls) >= 2, "a second size")
        sizes = [l for l in after if l.startswith("== ")]
        expect(sizes[0] != sizes[1], f"size stayed {sizes[0]}")


def case_paints_background_and_text(name):
    with Console(name) as c:
        c.wait_for_prompt()
        time.sleep(0.5)
        shot = c.screenshot()
        x, y, w, h = c.geometry()
        corner = c.pixels(shot, [(w - 30, h - 30)])[(w - 30, h - 30)]
        expect(corner == BACKGROUND, f"background is {corner}")
        # Some row near the top carries text: a colour darker than the background.
        dark = False
        for row in range(30, 80, 2):
            if any(sum(rgb) < 300 for rgb in c.row_colours(shot, row, w)):
                dark = True
                break
        expect(dark, "no text near the top")


def case_silent_script_shows_no_window(name):
    with Console(name, script="Kel []\nx: 1 + 1\n", find=False) as c:
        expect(c.wait_exit() == 0, "a silent script did not end with 0")
        found = run("xdotool", "search", "--onlyvisible", "--name", "^Kel Console$").stdout.split()
        expect(not found, "a window was shown")


def case_printing_script_stays_at_the_prompt(name):
    with Console(name, script='Kel []\nprint "printed"\n') as c:
        c.wait_for_line("printed")
        c.wait_for_prompt()
        expect(c.process.poll() is None, "the console ended")


def case_close_and_quit_write_the_configuration(name):
    with Console(name) as c:
        c.wait_for_prompt()
        c.key("alt+F4")
        expect(c.wait_exit() == 0, "Alt+F4 did not end with 0")
        expect(c.config.exists(), "no configuration after Alt+F4")
    with Console(name) as c:
        c.wait_for_prompt()
        c.type("quit\n")
        expect(c.wait_exit() == 0, "quit did not end with 0")
        expect(c.config.exists(), "no configuration after quit")
