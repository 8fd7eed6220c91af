"""The main window, driven as a person would drive it, under Xvfb.

Each test starts rez-udo-server from a copy of the program directory (with a
test engine in place of libocr.so), finds its window by the title, types into
the port box and clicks the start button with xdotool, reads the controls
through the accessibility tree (AT-SPI) and talks to the API on the typed
port. Run under `xvfb-run -a dbus-run-session --`; the CMake file sets the
environment:

  REZ_BIN_DIR           the program directory (build/bin)
  REZ_TEST_ENGINES_DIR  the test engines (build/test_engines)
  REZ_SCREENSHOT_DIR    where the screenshots go (build/)
"""

import ctypes
import ctypes.util
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

import pyatspi
from PIL import Image

BIN_DIR = os.environ.get("REZ_BIN_DIR", "build/bin")
ENGINES_DIR = os.environ.get("REZ_TEST_ENGINES_DIR", "build/test_engines")
SCREENSHOT_DIR = os.environ.get("REZ_SCREENSHOT_DIR", "build")

TITLE = "REZ_UDO服务端V1.0"
IDLE_CAPTION = "服务状态：未开启"
STARTED_PREFIX = "服务状态：启动成功，端口："
PORT_IN_USE_CAPTION = "服务状态：启动失败,启动HTTPAPI服务失败，可能端口被占用"
FATAL_TITLE = "错误"

# Generous: the machine is loaded, and these only bound a wait for an event.
WAIT_SECONDS = 60

# The layout's controls in window coordinates (x, y, width, height).
LAYOUT = {
    "start_button": (8, 16, 88, 40),
    "port_caption": (104, 24, 32, 24),
    "port_box": (136, 24, 40, 24),
    "status_label": (208, 24, 320, 32),
    "banner": (8, 80, 536, 224),
    "group_box": (0, 0, 552, 304),
}


def wait_for(what, probe, seconds=WAIT_SECONDS):
    """Polls `probe` until it returns a true value, which it returns."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.2)


def free_port():
    with socket.socket() as probe:
        probe.bind(("0.0.0.0", 0))
        return probe.getsockname()[1]


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5):
            return True
    except OSError:
        return False


def x_server_log():
    """What the X server wrote (xvfb-run -e), to explain a display that
    cannot be opened."""
    path = os.environ.get("REZ_XVFB_LOG")
    if not path or not os.path.exists(path):
        return "(no log)"
    with open(path, errors="replace") as log:
        return log.read()[-2000:] + "\nDISPLAY=" + os.environ.get("DISPLAY", "")


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True,
                          text=True).stdout


def find_window(name_regex, pid):
    """The visible X window of process `pid` whose name matches, or None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_regex],
                           capture_output=True, text=True).stdout.split()
    for window in found:
        owner = subprocess.run(["xdotool", "getwindowpid", window], capture_output=True,
                               text=True).stdout.strip()
        if owner == str(pid):
            return window
    return None


def close_window(window):
    """Asks the window to close as a window manager's close button does
    (WM_DELETE_WINDOW); Xvfb runs no window manager."""

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.POINTER(Event)]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(None)
    assert display, "cannot open the display"
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", False)
    event.xclient.format = 32
    event.xclient.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", False)
    xlib.XSendEvent(display, int(window), False, 0, ctypes.byref(event))
    xlib.XFlush(display)
    xlib.XCloseDisplay(display)


def accessible_text(accessible):
    """A control's current text, read live (names may be cached)."""
    try:
        text = accessible.queryText()
    except NotImplementedError:
        return accessible.name
    return text.getText(0, -1)


def extents(accessible, coords=pyatspi.WINDOW_COORDS):
    box = accessible.queryComponent().getExtents(coords)
    return (box.x, box.y, box.width, box.height)


def descendants(accessible):
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


class Program:
    """rez-udo-server run from a copy of the program directory.

    `engine` names the test engine that replaces libocr.so, or is None to
    leave the program without an engine."""

    def __init__(self, engine):
        self.directory = tempfile.mkdtemp(prefix="rez-window-test-")
        shutil.copytree(BIN_DIR, self.directory, dirs_exist_ok=True)
        engine_path = os.path.join(self.directory, "libocr.so")
        if os.path.exists(engine_path):
            os.remove(engine_path)
        if engine is not None:
            shutil.copy(os.path.join(ENGINES_DIR, engine, "libocr.so"), engine_path)
        self.engine_log = os.path.join(self.directory, "engine.log")
        environment = dict(os.environ, REZ_TEST_ENGINE_LOG=self.engine_log)
        environment.pop("LD_LIBRARY_PATH", None)
        self.output = open(os.path.join(self.directory, "output.log"), "wb")
        self.process = subprocess.Popen([os.path.join(self.directory, "rez-udo-server")],
                                        stdout=self.output, stderr=subprocess.STDOUT,
                                        env=environment)

    def wait_for_window(self, name_regex="^" + TITLE + "$"):
        return wait_for("a window named " + name_regex,
                        lambda: self.check_running() and find_window(name_regex, self.process.pid))

    def check_running(self):
        if self.process.poll() is not None:
            raise AssertionError("the program ended with status %d:\n%s\nX server: %s" %
                                 (self.process.returncode, self.log(), x_server_log()))
        return True

    def log(self):
        self.output.flush()
        with open(os.path.join(self.directory, "output.log"), "rb") as output:
            return output.read().decode("utf-8", "replace")

    def engine_calls(self):
        if not os.path.exists(self.engine_log):
            return []
        with open(self.engine_log) as log:
            return log.read().split("\n")[:-1]

    def accessible_application(self):
        def probe():
            self.check_running()
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                application = desktop.getChildAtIndex(i)
                if application is not None and application.get_process_id() == self.process.pid:
                    return application
            return None

        return wait_for("the program in the accessibility tree", probe)

    def accessible_window(self, title=None, role=None):
        def probe():
            application = self.accessible_application()
            for i in range(application.childCount):
                window = application.getChildAtIndex(i)
                if window is None:
                    continue
                if (title is None or window.name == title) and (role is None or
                                                                window.getRole() == role):
                    return window
            return None

        return wait_for("the window %s in the accessibility tree" % (title or role), probe)

    def wait_for_exit(self):
        try:
            return self.process.wait(timeout=WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the program did not end:\n" + self.log())

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.output.close()
        shutil.rmtree(self.directory, ignore_errors=True)


class MainWindow:
    """The main window's controls, as an operator sees and uses them."""

    def __init__(self, program):
        self.program = program
        self.window = program.wait_for_window()
        frame = program.accessible_window(TITLE)
        controls = {}
        for accessible in descendants(frame):
            role = accessible.getRole()
            name = accessible.name
            if role == pyatspi.ROLE_PUSH_BUTTON:
                controls["start_button"] = accessible
            elif role == pyatspi.ROLE_TEXT:
                controls["port_box"] = accessible
            elif role == pyatspi.ROLE_LABEL and name.startswith("端口"):
                controls["port_caption"] = accessible
            elif role == pyatspi.ROLE_LABEL and name.startswith("服务状态"):
                controls["status_label"] = accessible
            elif role == pyatspi.ROLE_ICON:
                controls["banner"] = accessible
            elif role == pyatspi.ROLE_PANEL and extents(accessible)[2:] == (552, 304):
                controls.setdefault("group_box", accessible)
        self.controls = controls

    def caption(self):
        return accessible_text(self.controls["status_label"])

    def port_text(self):
        return accessible_text(self.controls["port_box"])

    def click(self, x, y):
        xdotool("mousemove", "--window", self.window, x, y)
        xdotool("click", 1)

    def type_port(self, text):
        x, y, width, height = LAYOUT["port_box"]
        self.click(x + width // 2, y + height // 2)
        xdotool("key", "ctrl+a", "BackSpace")
        wait_for("the port box to empty", lambda: self.port_text() == "")
        xdotool("type", "--delay", 60, text)
        wait_for("the port box to show " + text, lambda: self.port_text() == text)

    def press_start(self, expected_caption):
        x, y, width, height = LAYOUT["start_button"]
        self.click(x + width // 2, y + height // 2)
        return wait_for("the caption " + expected_caption,
                        lambda: self.caption() == expected_caption)

    def screenshot(self, file_name):
        path = os.path.join(SCREENSHOT_DIR, file_name)
        subprocess.run(["import", "-window", self.window, path], check=True)
        return Image.open(path).convert("RGB")

    def close(self):
        close_window(self.window)


def recognise(port, code="QUJD", length=6):
    url = "http://127.0.0.1:%d/vexo/?code=%s&length=%d" % (port, code, length)
    with urllib.request.urlopen(url, timeout=WAIT_SECONDS) as response:
        return response.status, response.read().decode("utf-8")


def is_blue(pixel, margin=25):
    red, green, blue = pixel
    return blue > red + margin and blue >= green


class WindowTest(unittest.TestCase):
    def start(self, engine="hex"):
        program = Program(engine)
        self.addCleanup(program.stop)
        return program

    def test_start_on_typed_port_then_close(self):
        program = self.start()
        window = MainWindow(program)
        self.assertEqual(xdotool("getwindowname", window.window).strip(), TITLE)
        geometry = xdotool("getwindowgeometry", window.window)
        self.assertIn("Position: 50,50", geometry)
        self.assertIn("Geometry: 555x332", geometry)
        self.assertEqual(window.caption(), IDLE_CAPTION)
        self.assertEqual(window.port_text(), "8888")
        self.assertEqual(accessible_text(window.controls["start_button"]), "启动服务端")
        self.assertEqual(accessible_text(window.controls["port_caption"]), "端口：")
        # The created event initialised the engine, once, before any press.
        self.assertEqual(program.engine_calls(), ["init"])

        for name, (x, y, width, height) in LAYOUT.items():
            with self.subTest(control=name):
                ax, ay, awidth, aheight = extents(window.controls[name])
                self.assertEqual((ax, ay), (x, y))
                if name in ("port_caption", "status_label"):
                    # A label is as large as its text at the toolkit's font
                    # needs; it never shrinks below the layout's size.
                    self.assertGreaterEqual(awidth, width)
                    self.assertGreaterEqual(aheight, height)
                else:
                    self.assertEqual((awidth, aheight), (width, height))

        port = free_port()
        window.type_port(str(port))
        window.press_start(STARTED_PREFIX + str(port))
        self.assertEqual(recognise(port), (200, "code:414243"))
        self.assertEqual(program.engine_calls(), ["init", "ocr 3"])

        image = window.screenshot("window-screenshot.png")
        self.assertEqual(image.size, (555, 332))
        # The blue theme: the start button's lower half and the group box's
        # border; the banner fills the picture box.
        self.assertTrue(is_blue(image.getpixel((30, 50))), image.getpixel((30, 50)))
        self.assertTrue(is_blue(image.getpixel((300, 0))), image.getpixel((300, 0)))
        self.assertTrue(is_blue(image.getpixel((20, 290))), image.getpixel((20, 290)))
        # The window itself keeps the toolkit's background.
        self.assertFalse(is_blue(image.getpixel((400, 70))), image.getpixel((400, 70)))

        window.close()
        self.assertEqual(program.wait_for_exit(), 0, program.log())
        self.assertFalse(port_accepts(port), "the port is still open after the exit")

    def test_port_in_use_shows_failure_then_a_free_port_starts(self):
        program = self.start()
        window = MainWindow(program)
        with socket.socket() as holder:
            holder.bind(("0.0.0.0", 0))
            holder.listen()
            taken = holder.getsockname()[1]
            window.type_port(str(taken))
            window.press_start(PORT_IN_USE_CAPTION)
            window.screenshot("window-screenshot-port-in-use.png")
            # Another press on the same taken port fails the same way.
            window.press_start(PORT_IN_USE_CAPTION)

        # The window is still usable: edit the port and press again.
        port = free_port()
        window.type_port(str(port))
        window.press_start(STARTED_PREFIX + str(port))
        self.assertEqual(recognise(port), (200, "code:414243"))
        window.close()
        self.assertEqual(program.wait_for_exit(), 0, program.log())
        self.assertFalse(port_accepts(port))

    def test_closing_without_a_start_exits_zero(self):
        program = self.start()
        window = MainWindow(program)
        window.close()
        self.assertEqual(program.wait_for_exit(), 0, program.log())
        self.assertEqual(program.engine_calls(), ["init"])

    def fatal_box(self, program):
        """Finds the fatal box; returns its X window and its accessible."""
        box = program.wait_for_window("^" + FATAL_TITLE + "$")
        self.assertEqual(xdotool("getwindowname", box).strip(), FATAL_TITLE)
        # GTK names a message box after its type ("Error"), not its title.
        accessible = program.accessible_window(role=pyatspi.ROLE_ALERT)
        return box, accessible

    def press_ok(self, box):
        buttons = [a for a in descendants(box) if a.getRole() == pyatspi.ROLE_PUSH_BUTTON]
        self.assertEqual(len(buttons), 1, "the box has exactly one button")
        x, y, width, height = extents(buttons[0], pyatspi.DESKTOP_COORDS)
        xdotool("mousemove", x + width // 2, y + height // 2)
        xdotool("click", 1)

    def box_text(self, box):
        return "\n".join(accessible_text(a) for a in descendants(box)
                         if a.getRole() == pyatspi.ROLE_LABEL)

    def test_missing_engine_shows_the_fatal_box_at_window_creation(self):
        program = self.start(engine=None)
        box_window, box = self.fatal_box(program)
        text = self.box_text(box)
        self.assertIn("运行时出错!", text)
        self.assertIn("错误信息：无法找到指定DLL库文件“libocr.so”中的输出命令“init”", text)
        self.assertIn("0, 0", text)
        self.assertNotIn("\r", text)
        subprocess.run(["import", "-window", box_window,
                        os.path.join(SCREENSHOT_DIR, "fatal-box-screenshot.png")], check=True)
        self.press_ok(box)
        self.assertEqual(program.wait_for_exit(), 255, program.log())

    def raise_fault_on_a_worker(self):
        """Starts the service with the init_only engine, which has no `ocr`,
        and sends a request: its recognition, on a worker thread, is fatal.
        Returns the window and the box."""
        program = self.start(engine="init_only")
        window = MainWindow(program)
        port = free_port()
        window.type_port(str(port))
        window.press_start(STARTED_PREFIX + str(port))

        def request():
            try:
                recognise(port)
            except OSError:
                pass  # the process ends without answering

        threading.Thread(target=request, daemon=True).start()
        box_window, box = self.fatal_box(program)
        self.assertIn("无法找到指定DLL库文件“libocr.so”中的输出命令“ocr”", self.box_text(box))
        return program, window, box

    def test_fatal_fault_on_a_worker_shows_the_box_on_the_window_thread(self):
        program, window, box = self.raise_fault_on_a_worker()
        # Only the worker waits for the box: the window goes on working.
        window.type_port("1234")
        self.assertTrue(program.check_running())
        self.press_ok(box)
        self.assertEqual(program.wait_for_exit(), 255, program.log())

    def test_closing_the_window_while_a_workers_box_is_open_ends_the_process(self):
        # The service stop waits for the workers; the worker waiting for its
        # box must not keep the process alive: its text goes to standard error.
        program, window, box = self.raise_fault_on_a_worker()
        window.close()
        self.assertEqual(program.wait_for_exit(), 255, program.log())
        self.assertIn("无法找到指定DLL库文件“libocr.so”中的输出命令“ocr”", program.log())

if __name__ == "__main__":
    unittest.main()
