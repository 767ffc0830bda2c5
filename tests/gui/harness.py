"""Drives kel.exe's console window under Wine on the X display in DISPLAY.

A Console starts kel.exe with a transcript file (KEL_TRANSCRIPT: the
terminal writes its lines there whenever it waits for input and at exit),
after removing the console's configuration from the Wine prefix (Wine sets
APPDATA from the prefix, so the cases share that folder and run one at a
time), finds the window by its
title, types with xdotool, waits for lines of the transcript up to a
deadline, and reads pixels of screenshots cropped to the window. Only the
processes a Console started are ended, by their process ids.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
KEL_EXE = ROOT / "build" / "win" / "kel.exe"
WINE = "/usr/lib/wine/wine64"
ARTIFACTS = ROOT / "build" / "gui-artifacts"
TITLE = "^Kel Console$"
PREFIX = Path(os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix"))


def config_folder():
    """The console's configuration folder in the prefix's user profile."""
    users = sorted((PREFIX / "drive_c" / "users").glob("*/AppData/Roaming"))
    users = [u for u in users if u.parent.parent.name != "Public"]
    return (users[0] if users else PREFIX) / "Kel" / "Kel-Console"


class Failure(Exception):
    pass


def windows_path(path):
    """Wine shows the Linux root as drive Z:."""
    return "Z:" + str(path).replace("/", "\\")


def run(*command, timeout=20):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout)


class Console:
    def __init__(self, name, script=None, extra_env=None, find=True, timeout=60):
        """script: the text of a script to run, written into the case's folder."""
        self.name = name
        self.dir = Path(tempfile.mkdtemp(prefix="kel-gui-"))
        args = []
        if script is not None:
            (self.dir / "script.kel").write_text(script, encoding="utf-8")
            args.append(windows_path(self.dir / "script.kel"))
        self.transcript = self.dir / "transcript.txt"
        self.config = config_folder() / "console-cfg.kel"
        shutil.rmtree(self.config.parent, ignore_errors=True)
        env = dict(os.environ)
        env.update(
            KEL_TRANSCRIPT=windows_path(self.transcript),
            WINE_D3D_CONFIG="renderer=vulkan",
            WINEDEBUG="-all",
        )
        env.update(extra_env or {})
        self.process = subprocess.Popen(
            [WINE, str(KEL_EXE), *args],
            env=env,
            cwd=self.dir,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            start_new_session=True,
        )
        self.window = None
        if find:
            self.window = self.find_window(timeout)

    # ---- the window

    def find_window(self, timeout=60):
        try:
            found = run("xdotool", "search", "--sync", "--onlyvisible", "--name", TITLE, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"no window titled {TITLE!r} within {timeout} s")
        ids = found.stdout.split()
        if not ids:
            raise Failure(f"no window titled {TITLE!r}")
        return ids[-1]

    def geometry(self):
        """(x, y, width, height) of the window on the screen."""
        out = run("xdotool", "getwindowgeometry", "--shell", self.window).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def focus(self):
        # Xvfb has no window manager to activate windows: focus is given.
        run("xdotool", "windowfocus", "--sync", self.window)

    def type(self, text):
        """Types the text; a newline is the Enter key."""
        self.focus()
        for i, part in enumerate(text.split("\n")):
            if i:
                self.key("Return")
            if part:
                run("xdotool", "type", "--delay", "20", part)

    def key(self, *keys):
        self.focus()
        run("xdotool", "key", "--delay", "30", *keys)

    def resize(self, width, height):
        run("xdotool", "windowsize", "--sync", self.window, str(width), str(height))

    # ---- what the terminal shows

    def lines(self):
        try:
            return self.transcript.read_text(encoding="utf-8").split("\n")
        except FileNotFoundError:
            return []

    def wait_for(self, test, what, timeout=30):
        """Polls the transcript until test(lines) holds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            lines = self.lines()
            if test(lines):
                return lines
            if self.process.poll() is not None and not test(self.lines()):
                raise Failure(f"kel.exe ended ({self.process.returncode}) waiting for {what}")
            time.sleep(0.1)
        raise Failure(f"no {what} within {timeout} s; transcript: {self.lines()[-8:]!r}")

    def wait_for_line(self, line, timeout=30):
        return self.wait_for(lambda lines: line in lines, repr(line), timeout)

    def wait_for_prompt(self, count=1, timeout=30):
        """Waits until `count` lines start with the prompt ">> "."""
        return self.wait_for(
            lambda lines: sum(1 for l in lines if l.startswith(">> ")) >= count, f"{count} prompts", timeout
        )

    # ---- pixels

    def screenshot(self, path=None):
        x, y, w, h = self.geometry()
        path = path or self.dir / "shot.png"
        run("import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", str(path), timeout=30)
        return path

    def pixels(self, shot, points):
        """The (r, g, b) of each (x, y) of the screenshot."""
        out = {}
        for px, py in points:
            text = run("convert", str(shot), "-crop", f"1x1+{px}+{py}", "-depth", "8", "txt:").stdout
            m = re.search(r"\((\d+),(\d+),(\d+)", text.split("\n", 1)[-1])
            out[(px, py)] = tuple(int(v) for v in m.groups()) if m else None
        return out

    def row_colours(self, shot, y, width):
        """The set of colours along row y."""
        text = run("convert", str(shot), "-crop", f"{width}x1+0+{y}", "-depth", "8", "txt:").stdout
        return {tuple(int(v) for v in m.groups()) for m in re.finditer(r"\((\d+),(\d+),(\d+)", text)}

    # ---- the end

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"kel.exe did not end within {timeout} s")

    def keep_failure(self):
        """Keeps a screenshot and the transcript of a failed case."""
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        try:
            if self.window:
                self.screenshot(ARTIFACTS / f"{self.name}.png")
            else:
                run("import", "-window", "root", str(ARTIFACTS / f"{self.name}.png"), timeout=30)
        except Exception:
            pass
        if self.transcript.exists():
            shutil.copy(self.transcript, ARTIFACTS / f"{self.name}.txt")

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if kind is not None:
            self.keep_failure()
        self.close()
        return False
