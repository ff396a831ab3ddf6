"""Sees and works the windows of a program under Wine, through veltra-driver.exe.

A Driver keeps one `veltra-driver.exe session` running in the Wine prefix
($WINEPREFIX, by default ~/.veltra-wine) and sends it one command per call
(session=False runs the exe once per call instead). Calls return the driver's
JSON records as dicts; a failure raises DriverError with the driver's exit code
and reason. A window is named by a record the driver returned (a dict with
"hwnd"), by a handle (int) or by its caption (str). Time-outs are in
milliseconds, as the driver takes them.

    with Driver() as d:                        # the exe from $VELTRA_DRIVER
        box = d.message_box("Fixture Start")   # {"caption", "text", "icon", "buttons", ...}
        d.click(box, "OK")
"""
import json
import os
import selectors
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pe"))
import runlog  # noqa: E402

DEFAULT_TIMEOUT_MS = 60000
# Starting a program under Wine can take minutes on a slow or busy machine
# (the first one also starts Wine's own services).
WINE_START_SLACK_S = 600


class DriverError(RuntimeError):
    def __init__(self, argv, returncode, message):
        super().__init__(f"veltra-driver {' '.join(argv)}: exit {returncode}: {message}")
        self.argv = argv
        self.returncode = returncode
        self.message = message


def wine_environment(prefix=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix or env.get("WINEPREFIX") or os.path.expanduser("~/.veltra-wine")
    env["WINEDEBUG"] = "-all"
    # Wine reads program arguments in the locale's character set; UTF-8 keeps every text.
    locale = (env.get("LC_ALL") or env.get("LC_CTYPE") or env.get("LANG") or "").upper()
    if "UTF-8" not in locale and "UTF8" not in locale:
        env["LC_ALL"] = "C.UTF-8"
    return env


def wine_command(program, *args):
    """The command that runs a Windows program under Wine; the program is
    recorded for the test run, and refused when built for another machine."""
    runlog.record(program)
    return ["wine", str(program), *map(str, args)]


def launch(program, *args, prefix=None, stdout=subprocess.DEVNULL):
    """Starts a Windows program under Wine without waiting; its exit code is the Popen's."""
    return subprocess.Popen(wine_command(program, *args), env=wine_environment(prefix),
                            stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.DEVNULL)


def window_arg(window):
    if isinstance(window, dict):
        return "#" + window["hwnd"]
    if isinstance(window, int):
        return "#%d" % window
    if isinstance(window, str):
        return "=" + window
    raise TypeError(f"not a window: {window!r}")


def strip_accelerators(text):
    """The label as a person reads it: "&&" is one "&", a single "&" only underlines."""
    return text.replace("&&", "\0").replace("&", "").replace("\0", "&")


def session_line(argv):
    escaped = (a.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
               for a in argv)
    return ("\t".join(escaped) + "\n").encode("utf-8")


class Driver:
    def __init__(self, exe=None, prefix=None, session=True):
        self.exe = exe or os.environ.get("VELTRA_DRIVER")
        if not self.exe:
            raise ValueError("no driver: pass exe= or set VELTRA_DRIVER")
        self.env = wine_environment(prefix)
        self.use_session = session
        self._session = None
        self._pending = b""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        """Ends the session process, if one runs."""
        if self._session is None:
            return
        try:
            self._session.stdin.close()
        except OSError:
            pass  # it has gone already
        try:
            self._session.wait(30)
        except subprocess.TimeoutExpired:
            self._session.kill()
            self._session.wait()
        self._session.stdout.close()
        self._session = None

    def run(self, command, *args, timeout_ms=DEFAULT_TIMEOUT_MS, options=()):
        argv = [command, "--timeout", str(timeout_ms), *options, "--", *map(str, args)]
        limit_s = timeout_ms / 1000 + WINE_START_SLACK_S
        ask = self._ask_session if self.use_session else self._run_once
        code, lines, message = ask(argv, limit_s)
        if code != 0:
            raise DriverError(argv, code, message)
        return [json.loads(line) for line in lines if line.strip()]

    def _run_once(self, argv, limit_s):
        proc = subprocess.run(wine_command(self.exe, *argv), env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=limit_s)
        errors = proc.stderr.decode("utf-8", "replace")
        # The reason alone, as a session gives it; Wine may have said things before it.
        reason = errors.split("veltra-driver: ", 1)[-1].strip()
        return proc.returncode, proc.stdout.decode("utf-8").splitlines(), reason

    def _ask_session(self, argv, limit_s):
        if self._session is None:
            self._session = subprocess.Popen(wine_command(self.exe, "session"), env=self.env,
                                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                             stderr=subprocess.DEVNULL)
            self._pending = b""
        try:
            self._session.stdin.write(session_line(argv))
            self._session.stdin.flush()
        except OSError:
            self.stop()
            raise DriverError(argv, -1, "the driver session has ended") from None
        deadline = time.monotonic() + limit_s
        lines = []
        while True:
            line = self._read_line(deadline)
            if line is None:
                self._session.kill()
                self.stop()
                raise DriverError(argv, -1, "the driver session ended or did not answer in time")
            record = json.loads(line)
            if set(record) == {"end", "error"}:
                return record["end"], lines, record["error"]
            lines.append(line)

    def _read_line(self, deadline):
        with selectors.DefaultSelector() as selector:
            selector.register(self._session.stdout, selectors.EVENT_READ)
            while b"\n" not in self._pending:
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not selector.select(remaining):
                    return None
                chunk = os.read(self._session.stdout.fileno(), 65536)
                if not chunk:
                    return None
                self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        return line.decode("utf-8")

    def windows(self):
        return self.run("windows")

    def wait_window(self, window, timeout_ms=DEFAULT_TIMEOUT_MS, cls=None):
        options = ("--class", cls) if cls else ()
        return self.run("wait", window_arg(window), timeout_ms=timeout_ms, options=options)[0]

    def wait_gone(self, window, timeout_ms=DEFAULT_TIMEOUT_MS):
        self.run("gone", window_arg(window), timeout_ms=timeout_ms)

    def info(self, window, timeout_ms=DEFAULT_TIMEOUT_MS):
        return self.run("info", window_arg(window), timeout_ms=timeout_ms)[0]

    def controls(self, window, timeout_ms=DEFAULT_TIMEOUT_MS):
        return self.run("controls", window_arg(window), timeout_ms=timeout_ms)

    def control(self, window, control_id, timeout_ms=DEFAULT_TIMEOUT_MS):
        """The one control with that id; a shown one wins over hidden ones."""
        found = [c for c in self.controls(window, timeout_ms) if c["id"] == control_id]
        shown = [c for c in found if c["visible"]] or found
        if len(shown) != 1:
            raise LookupError(f"{len(shown)} controls with id {control_id} in {window!r}")
        return shown[0]

    def message_box(self, caption=None, timeout_ms=DEFAULT_TIMEOUT_MS):
        args = () if caption is None else (window_arg(caption),)
        return self.run("msgbox", *args, timeout_ms=timeout_ms)[0]

    def click(self, window, button, force=False, settle_ms=None):
        """Presses a button given by id (int) or label (str, '&' marks optional)."""
        options = (["--force"] if force else []) + (["--settle", str(settle_ms)] if settle_ms else [])
        return self.run("click", window_arg(window), button, options=options)[0]

    def set_text(self, window, control_id, text, force=False):
        return self.run("settext", window_arg(window), control_id, text,
                        options=("--force",) if force else ())[0]

    def type_text(self, window, control_id, text):
        return self.run("type", window_arg(window), control_id, text)[0]

    def check(self, window, control_id, state=1):
        return self.run("check", window_arg(window), control_id, state)[0]

    def key(self, window, key):
        return self.run("key", window_arg(window), key)[0]

    def close(self, window):
        return self.run("close", window_arg(window))[0]

    def syscommand(self, window, command_id):
        return self.run("syscommand", window_arg(window), command_id)[0]
