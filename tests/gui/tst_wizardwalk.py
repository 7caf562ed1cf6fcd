#!/usr/bin/python3
"""The wizard as a screen reader and a keyboard meet it.

Starts the demo program on an X server of its own, with a D-Bus session and
the accessibility bus, walks the pages with key presses alone and checks on
every page what the AT-SPI tree says: the heading and the page it names, the
texts, the named images, the buttons and which of them has the keyboard
focus, where the screen reader's focus went, the progress bar's value during
the transfer, and that every button lies inside the screen (also a small,
scaled one).

  tst_wizardwalk.py --program PATH --flow NAME [--screen WxH] [--scale F]
"""
import argparse
import json
import os
import subprocess
import sys
import time

PREPARATION = ["welcomePage", "changelogPage", "accessoriesPage", "howTo1Page", "howTo2Page",
               "howTo3Page"]
RETRY = ["howTo1Page Return", "howTo2Page Return", "howTo3Page Return", "progressPage"]
# Per flow: the demo's scenario, and each page with the keys pressed on it.
FLOWS = {
    # A failed write, the retry through the preparation pages, its success;
    # every key the wizard answers is pressed on the way.
    "failure-and-retry": ("write-fails", [
        "welcomePage Return", "changelogPage Down PageDown End Home Tab shift+Tab space",
        "accessoriesPage KP_Enter"] + RETRY + ["errorPage:-8 Return"] + RETRY
        + ["successPage Return"]),
    "success": ("healthy", [page + " Return" for page in PREPARATION]
                + ["progressPage", "successPage Return"]),
}

# Per page: the keys of its title ("<page>Title"), its texts and its buttons
# left to right ("<page><suffix>"; the last one has the focus when the page
# shows), and of the names of its images.
PAGES = {page: (page + "Title", [page + t for t in texts], images, [page + b for b in buttons])
         for page, texts, images, buttons in [
             ("welcomePage", ["Content"], [], ["Forward"]),
             ("changelogPage", [], [], ["Back", "Forward"]),
             ("accessoriesPage", [], ["accessoriesPageContent" + n for n in "123"],
              ["Back", "Forward"]),
             ("howTo1Page", ["Content"], [], ["Back", "Forward"]),
             ("howTo2Page", ["Content"], [], ["Back", "Forward"]),
             ("howTo3Page", ["Content"], [], ["Back", "Forward"]),
             ("progressPage", ["Content"], [], []),
             ("errorPage", [], [], ["Exit", "OpenLogFolder", "CopyDetails", "Forward"]),
             ("successPage", ["Content"], ["productName"], ["Exit"])]}

KEYSYMS = {"Return": 0xff0d, "KP_Enter": 0xff8d, "space": 0x20, "Tab": 0xff09,
           "Up": 0xff52, "Down": 0xff54, "PageUp": 0xff55, "PageDown": 0xff56,
           "Home": 0xff50, "End": 0xff57}
SHIFT_MASK = 1
PAGE_TIMEOUT_S = 60
START_TIMEOUT_S = 30
START_GRACE_S = 1


def fail(message):
    raise AssertionError(message)


def outer(args, script=__file__):
    """Starts Xvfb, then the script again inside a D-Bus session, whose
    accessibility bus then knows the display."""
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                               args.screen + "x24"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
    try:
        display = server.stdout.readline().decode().strip()
        if not display:
            fail("Xvfb named no display")
        env = dict(os.environ, DISPLAY=":" + display)
        return subprocess.call(["dbus-run-session", "--", sys.executable, script, "--inner"]
                               + sys.argv[1:], env=env)
    finally:
        server.terminate()
        server.wait()


class Walk:
    def __init__(self, args):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib
        self.Atspi, self.GLib = Atspi, GLib
        # Roles are compared as the program reports them, not by their names,
        # which at-spi2-core renamed (2.56 calls a push button "button").
        self.Role = Atspi.Role
        self.args = args
        folder = os.path.dirname(args.program)
        with open(os.path.join(folder, "Resources", "text_copy.json"), encoding="utf-8") as f:
            self.copy = json.load(f)["copy"]
        w, h = (int(v) for v in args.screen.split("x"))
        self.screen = (w / args.scale, h / args.scale)
        self.focus_events = []
        self.value_events = []
        self.listeners = []
        self.scenario, self.steps = FLOWS[args.flow]
        self.program = None

    def start(self):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                   QT_SCALE_FACTOR=str(self.args.scale))
        self.program = subprocess.Popen([self.args.program, "--scenario", self.scenario],
                                        env=env, cwd=os.path.dirname(self.args.program))
        # Asked for before the program has found the accessibility bus, the
        # registry can leave Qt's bridge without a connection: the first query
        # waits a moment, and listening starts once the program is on the bus.
        time.sleep(START_GRACE_S)
        self.app = self.wait_for(self.find_app, START_TIMEOUT_S, "the program on the bus")
        self.listen("object:state-changed:focused", self.on_focus)
        self.listen("object:property-change:accessible-value", self.on_value)

    def listen(self, event, callback):
        listener = self.Atspi.EventListener.new(callback)
        listener.register(event)
        self.listeners.append(listener)

    def on_focus(self, event):
        if event.detail1 == 1 and event.source:
            self.focus_events.append((event.source.get_role(), event.source.get_name()))

    def on_value(self, event):
        if event.source and event.source.get_role() == self.Role.PROGRESS_BAR:
            self.value_events.append(event.source.get_value_iface().get_current_value())

    def text(self, key):
        return self.copy[key]

    def pump(self, seconds):
        context = self.GLib.MainContext.default()
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            while context.iteration(False):
                pass
            time.sleep(0.02)

    def wait_for(self, probe, timeout, what):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            result = probe()
            if result:
                return result
            if self.program.poll() is not None:
                fail(f"the program ended while waiting for {what}")
            self.pump(0.1)
        fail(f"timed out waiting for {what}")

    def find_app(self):
        desktop = self.Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app and app.get_name() == os.path.basename(self.args.program) and \
                    app.get_child_count() > 0:
                return app
        return None

    def showing(self):
        """(role, name, description, state set, object) of every shown
        object below the window, in tree order."""
        found = []
        Showing = self.Atspi.StateType.SHOWING

        def visit(node):
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is None or not child.get_state_set().contains(Showing):
                    continue
                found.append((child.get_role(), child.get_name(),
                              child.get_description(), child.get_state_set(), child))
                visit(child)
        visit(self.app.get_child_at_index(0))
        return found

    def press(self, key):
        synth = self.Atspi.KeySynthType
        if key.startswith("shift+"):
            self.Atspi.generate_keyboard_event(SHIFT_MASK, None, synth.LOCKMODIFIERS)
            self.Atspi.generate_keyboard_event(KEYSYMS[key[6:]], None, synth.SYM)
            self.Atspi.generate_keyboard_event(SHIFT_MASK, None, synth.UNLOCKMODIFIERS)
        else:
            self.Atspi.generate_keyboard_event(KEYSYMS[key], None, synth.SYM)
        self.pump(0.3)

    def focused_button(self):
        for role, name, _, states, _ in self.showing():
            if role == self.Role.PUSH_BUTTON and states.contains(self.Atspi.StateType.FOCUSED):
                return name
        return None

    def scroll_value(self):
        for role, _, _, _, node in self.showing():
            if role == self.Role.SCROLL_BAR:
                value = node.get_value_iface()
                return value.get_current_value(), value.get_maximum_value()
        fail("the changelog shows no scroll bar")

    def check_page(self, step):
        page, _, code = step.partition(":")
        title_key, text_keys, image_keys, button_keys = PAGES[page]
        title = self.text(title_key)

        def shown():
            nodes = self.showing()
            return nodes if (self.Role.HEADING, title) in [(r, n) for r, n, *_ in nodes] else None
        nodes = self.wait_for(shown, PAGE_TIMEOUT_S, page)
        self.pump(0.3)
        nodes = self.showing()
        Role = self.Role
        names = lambda role: [n for r, n, *_ in nodes if r == role]  # noqa: E731
        if names(Role.HEADING) != [title]:
            fail(f"{page}: headings {names(Role.HEADING)}")
        # The page is a dialog named by its title, which a screen reader
        # reads with the page's texts when its focus enters the page.
        if names(Role.DIALOG) != [title]:
            fail(f"{page}: dialogs {names(Role.DIALOG)}")
        for key in text_keys:
            if self.text(key) not in names(Role.LABEL):
                fail(f"{page}: no text {key!r} in {names(Role.LABEL)}")
        images = [self.text(key) for key in image_keys]
        # The product logo of the top row names the product on every page.
        if names(Role.IMAGE) != [self.text("productName")] + images:
            fail(f"{page}: images {names(Role.IMAGE)}")
        buttons = [self.text(key) for key in button_keys]
        if names(Role.PUSH_BUTTON) != buttons:
            fail(f"{page}: buttons {names(Role.PUSH_BUTTON)}, not {buttons}")
        if buttons and self.wait_for(self.focused_button, 5, "a focused button") != buttons[-1]:
            fail(f"{page}: {self.focused_button()} has the focus, not {buttons[-1]}")
        # The screen reader's focus goes with the keyboard's, or to the page
        # without buttons (the first page appears before anyone listens).
        focus = (Role.PUSH_BUTTON, buttons[-1]) if buttons else (Role.DIALOG, title)
        if step != self.steps[0].split()[0] and focus not in self.focus_events[-1:]:
            fail(f"{page}: screen reader focus went to {self.focus_events}")
        width, height = self.screen
        for role, name, _, _, node in nodes:
            box = node.get_extents(self.Atspi.CoordType.SCREEN)
            if role == Role.PUSH_BUTTON and not (0 <= box.x and box.x + box.width <= width and
                                              0 <= box.y and box.y + box.height <= height):
                fail(f"{page}: button {name!r} leaves the {width}x{height} screen: {box.x},"
                     f"{box.y} {box.width}x{box.height}")
        if page == "errorPage":
            self.check_error(names(Role.LABEL), int(code))
            described = [d for r, n, d, *_ in nodes if n == self.text("errorPageCopyDetails")]
            if described != [self.text("errorPageCopyDetailsDescription")]:
                fail(f"errorPage: the copy button is described as {described}")
        if page == "progressPage":
            self.check_progress(title)

    def check_error(self, texts, code):
        advice = self.text(f"errorAdvice{code}")
        if not any(t.endswith(f"\nError {code}") for t in texts) or advice not in texts:
            fail(f"errorPage: texts {texts}")
        # A write that stopped says what it may have left on the accessory.
        if (self.text("errorPageWriteStopped") in texts) != (code in (-8, -12, -17)):
            fail(f"errorPage: texts {texts}")

    def check_progress(self, title):
        self.value_events.clear()

        def ring():
            bars = [node for r, n, _, _, node in self.showing()
                    if r == self.Role.PROGRESS_BAR and n == title]
            return bars[0] if bars else None
        value = ring().get_value_iface()
        if (value.get_minimum_value(), value.get_maximum_value()) != (0.0, 1.0):
            fail("progressPage: the ring's range is not 0 to 1")
        self.wait_for(lambda: 0 < value.get_current_value() < 1, PAGE_TIMEOUT_S,
                      "a value during the transfer")
        self.wait_for(lambda: len(self.value_events) >= 2, PAGE_TIMEOUT_S,
                      "announced value changes")

    def check_changelog_keys(self, key):
        before = self.scroll_value()
        self.press(key)
        after = self.scroll_value()
        expected = {"Down": after[0] > before[0], "PageDown": after[0] > before[0],
                    "End": after[0] == after[1], "Home": after[0] == 0}[key]
        if not expected:
            fail(f"changelogPage: {key} scrolled from {before[0]} to {after[0]}")

    def run(self):
        self.start()
        for line in self.steps:
            step, *keys = line.split()
            print("page", step, flush=True)
            self.check_page(step)
            for key in keys:
                if step == "changelogPage" and key in ("Down", "PageDown", "End", "Home"):
                    self.check_changelog_keys(key)
                    continue
                focus_before = self.focused_button()
                self.focus_events.clear()
                self.press(key)
                if key in ("Tab", "shift+Tab") and self.focused_button() == focus_before:
                    fail(f"{step}: {key} left the focus on {focus_before}")
        # The last key closed the window, which ends the program.
        if self.program.wait(PAGE_TIMEOUT_S) != 0:
            fail(f"the program ended with {self.program.returncode}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--flow", choices=sorted(FLOWS), required=True)
    parser.add_argument("--screen", default="1280x1024")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--inner", action="store_true")
    args = parser.parse_args()
    if not args.inner:
        return outer(args)
    walk = Walk(args)
    try:
        walk.run()
    except AssertionError as error:
        print("FAIL:", error, flush=True)
        return 1
    finally:
        if walk.program and walk.program.poll() is None:
            walk.program.kill()
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
