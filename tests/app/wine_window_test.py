#!/usr/bin/env python3
"""The Windows window under wine, driven from the Linux side.

Runs on an X server with a window manager (CTest starts it under xvfb-run and
scripts/with-openbox), with a Chinese locale, so that wine's system code page
is 936:

1. starts the sample service on 127.0.0.1 with a note of three pictures and a
   note without any, and runs the window's own test program under wine with
   the service described in its environment (the window's looks, its change
   notice, the message box, the pump, closing, and pasting a share text that
   runs the whole workflow);
2. starts the program itself under wine and checks what the X server and the
   window manager see: the caption "by：Tuvelko", a frame that cannot be
   resized or maximised, the window centred; closes it as the user would and
   expects exit code 0. A screenshot of the screen is left in the scratch
   folder (window.png).

  wine_window_test.py --test-program T.exe --program notepics.exe --scratch DIR
"""

import argparse
import ctypes
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE_SERVICE = os.path.join(ROOT, "tools", "sample_service", "sample_service.py")
CAPTION = "by：Tuvelko"
LOCALE = "zh_CN.UTF-8"

failures = []


def check(condition, what):
    print(("ok      " if condition else "FAILED  ") + what, flush=True)
    if not condition:
        failures.append(what)


def wine_command():
    """scripts/wine-run when the build has it (own prefix, retries wine's own
    loopback flake), else wine itself with a prefix in the scratch folder."""
    runner = os.path.join(ROOT, "scripts", "wine-run")
    if os.access(runner, os.X_OK):
        return [runner]
    return [shutil.which("wine64") or shutil.which("wine") or "wine"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start_sample_service(scratch):
    pictures = os.path.join(scratch, "served")
    os.makedirs(pictures, exist_ok=True)
    identifiers = ["1040g2sg30abc", "1040g2sg30def", "1040g2sg30ghi"]
    for number, identifier in enumerate(identifiers):
        with open(os.path.join(pictures, identifier), "wb") as file:
            file.write(b"\x89PNG\r\n\x1a\n" + bytes([number]) * (1000 + 4096 * number))
    service = subprocess.Popen(
        [sys.executable, SAMPLE_SERVICE, "--note", "withpictures=" + ",".join(identifiers),
         "--note", "nopictures=", "--pictures", pictures],
        stdout=subprocess.PIPE, text=True, encoding="utf-8")
    described = {"share_text": {}}
    for line in service.stdout:
        line = line.rstrip("\n")
        if line == "ready":
            break
        key, _, value = line.partition(" ")
        if key == "share_text":
            note, _, text = value.partition(" ")
            described["share_text"][note] = text
        else:
            described[key] = value
    environment = {
        "NOTEPICS_SAMPLE_WEB_ORIGIN": described["web_origin"],
        "NOTEPICS_SAMPLE_PICTURE_ORIGIN": described["picture_origin"],
        "NOTEPICS_SAMPLE_SHARE_TEXT": described["share_text"]["withpictures"],
        "NOTEPICS_SAMPLE_EMPTY_SHARE_TEXT": described["share_text"]["nopictures"],
        "NOTEPICS_SAMPLE_PICTURES": ",".join(identifiers),
        "NOTEPICS_SAMPLE_PICTURE_DIR": windows_path(pictures),
    }
    return service, environment


def run_window_test_program(test_program, environment, scratch):
    # Into a file, not a pipe: wine's own background processes may hold a
    # pipe open long after the program has ended.
    log_path = os.path.join(scratch, "window_test.log")
    with open(log_path, "wb") as log:
        returncode = subprocess.run(wine_command() + [test_program], env=environment,
                                    stdout=log, stderr=subprocess.STDOUT,
                                    timeout=300).returncode
    with open(log_path, encoding="utf-8", errors="replace") as log:
        output = log.read()
    print(output, flush=True)
    check(returncode == 0, "window test program under wine exits with 0")
    check("[  SKIPPED ]" not in output, "no test of the window test program was skipped")
    check(re.search(r"\[  PASSED  \] \d+ tests?\.", output) is not None,
          "window test program reports its tests passed")


def output_of(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          encoding="utf-8", errors="replace",
                          env=dict(os.environ, LC_ALL="C.UTF-8")).stdout


def numbers_after(text, label):
    at = text.find(label)
    if at < 0:
        return []
    line = text[at + len(label):].split("\n", 1)[0]
    return [int(n) for n in re.findall(r"-?\d+", line)]


def window_with_caption(caption):
    for window in re.findall(r"0x[0-9a-fA-F]+", output_of("xprop", "-root", "_NET_CLIENT_LIST")):
        if f'= "{caption}"' in output_of("xprop", "-id", window, "_NET_WM_NAME"):
            return window
    return None


def request_close(window):
    """Asks the window manager to close `window`, as its close button does."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x11.XOpenDisplay(None)
    if not display:
        return False
    event = Event()
    event.client.type = 33  # ClientMessage
    event.client.window = int(window, 16)
    event.client.message_type = x11.XInternAtom(display, b"_NET_CLOSE_WINDOW", 0)
    event.client.format = 32
    event.client.data[0] = 0  # CurrentTime
    event.client.data[1] = 2  # on the user's behalf
    substructure_redirect_and_notify = (1 << 20) | (1 << 19)
    x11.XSendEvent(display, x11.XDefaultRootWindow(display), 0,
                   substructure_redirect_and_notify, ctypes.byref(event))
    x11.XCloseDisplay(display)
    return True


def run_program(program, environment, scratch):
    process = subprocess.Popen(wine_command() + [program], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = None
        deadline = time.monotonic() + 120
        while window is None and time.monotonic() < deadline and process.poll() is None:
            window = window_with_caption(CAPTION)
            if window is None:
                time.sleep(0.2)
        check(window is not None, f'the program shows a window with the caption "{CAPTION}"')
        if window is None:
            return
        time.sleep(1)  # let wine and the window manager finish drawing
        subprocess.run(["import", "-window", "root", os.path.join(scratch, "window.png")],
                       stderr=subprocess.DEVNULL)

        names = output_of("xprop", "-id", window, "WM_NAME", "_NET_WM_NAME")
        print(names, end="", flush=True)
        check(f'_NET_WM_NAME(UTF8_STRING) = "{CAPTION}"' in names, "caption as UTF-8 on the server")

        info = output_of("xwininfo", "-id", window)
        extents = numbers_after(output_of("xprop", "-id", window, "_NET_FRAME_EXTENTS"), "= ")
        check(len(extents) == 4 and extents[2] > 0, "the window manager draws a title bar")
        width = numbers_after(info, "Width:")
        height = numbers_after(info, "Height:")
        left = numbers_after(info, "Absolute upper-left X:")
        top = numbers_after(info, "Absolute upper-left Y:")
        if len(extents) == 4 and width and height and left and top:
            outer = (width[0] + extents[0] + extents[1], height[0] + extents[2] + extents[3])
            print(f"client {width[0]}x{height[0]}, frame {extents}, outer {outer[0]}x{outer[1]}, "
                  f"at {left[0] - extents[0]},{top[0] - extents[2]}", flush=True)
            root = output_of("xwininfo", "-root")
            screen = (numbers_after(root, "Width:")[0], numbers_after(root, "Height:")[0])
            centre = (left[0] - extents[0] + outer[0] / 2, top[0] - extents[2] + outer[1] / 2)
            # Wine centres the Windows frame of 331x84; the window manager's
            # frame replaces it, so the centre, not the corner, is compared.
            check(abs(centre[0] - screen[0] / 2) <= 8 and abs(centre[1] - screen[1] / 2) <= 16,
                  f"the window is centred on the {screen[0]}x{screen[1]} screen")

        hints = output_of("xprop", "-id", window, "WM_NORMAL_HINTS")
        minimum = numbers_after(hints, "minimum size:")
        check(len(minimum) == 2 and minimum == numbers_after(hints, "maximum size:"),
              "the frame is fixed (minimum size = maximum size)")
        actions = output_of("xprop", "-id", window, "_NET_WM_ALLOWED_ACTIONS")
        for action in ("_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_MINIMIZE", "_NET_WM_ACTION_CLOSE"):
            check(action in actions, f"the window manager offers {action}")
        for action in ("_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE"):
            check(action not in actions, f"the window manager does not offer {action}")

        check(request_close(window), "close requested through the window manager")
        try:
            code = process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, f"the program exits with 0 when closed (got {code})")
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--test-program", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--scratch", required=True)
    options = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        print("wine_window_test: no X server in DISPLAY", file=sys.stderr)
        return 2
    if subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, text=True).stdout.lower().find(
            "zh_cn.utf8") < 0:
        print(f"wine_window_test: the locale {LOCALE} is missing "
              f"(localedef -i zh_CN -f UTF-8 {LOCALE}; scripts/setup makes it)", file=sys.stderr)
        return 2
    os.makedirs(options.scratch, exist_ok=True)
    environment = dict(os.environ, LANG=LOCALE, LC_ALL=LOCALE)
    # A prefix of its own, so that its wine server, which runs on this test's
    # X server and locale, is not shared with the tests that run beside it.
    environment["WINEPREFIX"] = os.path.join(os.path.abspath(options.scratch), "wineprefix")

    service, described = start_sample_service(options.scratch)
    try:
        run_window_test_program(options.test_program, dict(environment, **described),
                                options.scratch)
        run_program(options.program, environment, options.scratch)
    finally:
        service.terminate()
        service.wait()
        # The prefix's wine server and its helpers go with the X server.
        wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
        subprocess.run([wineserver, "-k"], env=environment, stderr=subprocess.DEVNULL)

    if failures:
        print(f"wine_window_test: {len(failures)} check(s) failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
