#!/usr/bin/python3
"""The wizard as Orca reads it aloud.

On tst_wizardwalk.py's X server and D-Bus session, starts speech-dispatcher
with a speech module that appends what it is given to say to a file, then
Orca, then the demo program, once to a successful and once to a failed write;
walks each flow with Return alone and checks on every page that Orca says, in
this order, the page's title, its texts and its focused button as the text
copy has them. A failed write must never be announced as 100 percent.

Orca refuses to start beside another Orca of the same user, and that one is
the person's own, never stopped here: the test then reports itself skipped
(status 77), naming it.

  tst_orca.py --program PATH
"""
import argparse
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

from tst_wizardwalk import KEYSYMS, fail, outer

ERROR_CODE = -8
PREPARATION = ["welcomePage", "changelogPage", "accessoriesPage", "howTo1Page", "howTo2Page",
               "howTo3Page", "progressPage"]
# Per run: the demo's scenario and the pages it shows.
FLOWS = {"healthy": PREPARATION + ["successPage"], "write-fails": PREPARATION + ["errorPage"]}
# Per page: the keys in the text copy of its texts and of its focused button,
# which Orca says after the page's title ("<page>Title"). "errorPageText" is
# the error page's text as it shows it: the engine's message and the code;
# after a write that stopped, the accessory's state follows it.
PAGES = {
    "welcomePage": (["welcomePageContent"], "welcomePageForward"),
    "changelogPage": ([], "changelogPageForward"),
    "accessoriesPage": (["accessoriesPageContent" + n for n in "123"], "accessoriesPageForward"),
    "howTo1Page": (["howTo1PageContent"], "howTo1PageForward"),
    "howTo2Page": (["howTo2PageContent"], "howTo2PageForward"),
    "howTo3Page": (["howTo3PageContent"], "howTo3PageForward"),
    "progressPage": (["progressPageContent"], None),
    "successPage": (["successPageContent"], "successPageExit"),
    "errorPage": (["errorPageText", "errorPageWriteStopped", f"errorAdvice{ERROR_CODE}"],
                  "errorPageForward"),
}
SPEECH_TIMEOUT_S = 60
# tst_orca's SKIP_RETURN_CODE in CMakeLists.txt.
SKIPPED = 77
# What Orca prints, untranslated (LC_ALL=C.UTF-8), when it refuses to start
# beside another Orca.
REFUSAL = "Another screen reader process is already running"

# Orca's own start of speech-dispatcher hangs without a terminal; this one
# plays into ALSA's null device, and its only module writes instead of
# speaking: each part of a message after a record separator and the number of
# the process that handles the whole message, the text as Orca sent it.
SPEECHD_CONF = """AddModule "tavrinlog" "sd_generic" "{folder}/tavrinlog.conf"
DefaultModule "tavrinlog"
DefaultLanguage "en"
AudioOutputMethod "alsa"
"""
MODULE_CONF = """GenericExecuteSynth "printf '\\\\036%s\\\\n%s\\\\n' $PPID \\'$DATA\\' >> {spoken}"
GenericLanguage "en" "en" "utf-8"
AddVoice "en" "MALE1" "log"
DefaultVoice "log"
GenericMaxChunkLength 1000000
GenericDelimiters ""
"""


class Skip(Exception):
    """Why the test cannot run on this machine now."""


def other_orcas():
    """The processes of this user named orca, found as Orca itself looks for
    them before it refuses to start."""
    found = subprocess.run(["pgrep", "-u", str(os.getuid()), "-x", "orca"],
                           stdout=subprocess.PIPE, text=True, check=False)
    return found.stdout.split()


def words(text):
    return " ".join(text.split())


class Listener:
    def __init__(self, args, home):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self.Atspi = Atspi
        self.args = args
        with open(os.path.join(os.path.dirname(args.program), "Resources", "text_copy.json"),
                  encoding="utf-8") as f:
            self.copy = json.load(f)["copy"]
        self.spoken_file = os.path.join(home, "spoken")
        self.orca_output = os.path.join(home, "orca.out")
        self.socket = os.path.join(home, "speechd.sock")
        speechd = os.path.join(home, ".config", "speech-dispatcher")
        os.makedirs(speechd)
        files = {os.path.join(home, ".asoundrc"): "pcm.!default { type null }\n",
                 os.path.join(speechd, "speechd.conf"): SPEECHD_CONF.format(folder=speechd),
                 os.path.join(speechd, "tavrinlog.conf"): MODULE_CONF.format(
                     spoken=self.spoken_file)}
        for path, text in files.items():
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        self.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                        XDG_CACHE_HOME=os.path.join(home, ".cache"),
                        SPEECHD_ADDRESS="unix_socket:" + self.socket)
        self.processes = []
        self.program = None

    def spawn(self, command, stdout=subprocess.DEVNULL):
        self.processes.append(subprocess.Popen(command, env=self.env, stdout=stdout,
                                               stderr=subprocess.DEVNULL))

    def speechd_listens(self):
        with socket.socket(socket.AF_UNIX) as client:
            return client.connect_ex(self.socket) == 0

    def spoken(self):
        """Everything said so far. Handed a message quickly after a longer
        one, speech-dispatcher 0.11 passes on, after the line "." that ends
        the message, what is left of the longer one: that is not said."""
        try:
            with open(self.spoken_file, encoding="utf-8") as f:
                parts = f.read().split("\036")[1:]
        except FileNotFoundError:
            return ""
        said, message, ended = [], None, False
        for part in parts:
            handler, _, text = part.partition("\n")
            ended = ended and handler == message
            message, lines = handler, text.split("\n")
            if not ended:
                ended = "." in lines
                said += lines[:lines.index(".")] if ended else lines
        return words(" ".join(said))

    def wait_for(self, probe, what):
        end = time.monotonic() + SPEECH_TIMEOUT_S
        while time.monotonic() < end:
            result = probe()
            if result:
                return result
            ended = [p.args[0] for p in filter(None, self.processes + [self.program])
                     if p.poll() is not None]
            if ended:
                fail(f"{ended} ended while waiting for {what}")
            time.sleep(0.1)
        fail(f"timed out waiting for {what}; Orca said: {self.spoken()}")

    def phrases(self, page):
        texts, button = PAGES[page]
        phrases = [self.copy[page + "Title"] + " dialog"] + [self.copy[key] for key in texts]
        # Orca names the role as the AT-SPI library does: "push button" in
        # at-spi2-core 2.46 (Debian 12), "button" in 2.56 (Debian 13).
        role = self.Atspi.role_get_name(self.Atspi.Role.PUSH_BUTTON)
        phrases += [f"{self.copy[button]} {role}"] if button else []
        return [words(p) for p in phrases]

    def said_in_order(self, phrases, start):
        """The end of the phrases said in this order from start on, or 0."""
        spoken, end = self.spoken(), start
        for phrase in phrases:
            found = spoken.find(phrase, end)
            if found < 0:
                return 0
            end = found + len(phrase)
        return end

    def error_text(self):
        """The error page's text, which ends with its code, as it shows."""
        def labels(node):
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    yield child
                    yield from labels(child)
        desktop = self.Atspi.get_desktop(0)
        return next((n.get_name() for n in labels(desktop) if n.get_role() == self.Atspi.Role.LABEL
                     and n.get_name().endswith(f"\nError {ERROR_CODE}")), None)

    def run(self):
        others = other_orcas()
        if others:
            raise Skip(f"another Orca of this user runs (process {', '.join(others)}), "
                       "and Orca starts no second one")
        self.spawn(["speech-dispatcher", "--run-single", "--timeout", "0", "--socket-path",
                    self.socket])
        self.wait_for(self.speechd_listens, "speech-dispatcher")
        with open(self.orca_output, "w", encoding="utf-8") as output:
            self.spawn(["orca"], stdout=output)
        # Orca says that it is on once it listens to the desktop.
        try:
            self.wait_for(self.spoken, "Orca's first words")
        except AssertionError:
            # One that started after the look above.
            with open(self.orca_output, encoding="utf-8") as output:
                if REFUSAL in output.read():
                    raise Skip("another Orca of this user started meanwhile, and Orca "
                               "starts no second one") from None
            raise
        for scenario, pages in FLOWS.items():
            print("run", scenario, flush=True)
            self.walk(scenario, pages)

    def walk(self, scenario, pages):
        env = dict(self.env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        self.program = subprocess.Popen([self.args.program, "--scenario", scenario], env=env,
                                        cwd=os.path.dirname(self.args.program))
        start = begin = len(self.spoken())
        for page in pages:
            if page == "errorPage":
                self.copy["errorPageText"] = self.wait_for(self.error_text, "the error text")
            end = self.wait_for(lambda: self.said_in_order(self.phrases(page), start), page)
            print(f"{page}: {self.spoken()[start:end]}", flush=True)
            start = end
            if PAGES[page][1] and page != pages[-1]:
                self.Atspi.generate_keyboard_event(KEYSYMS["Return"], None,
                                                   self.Atspi.KeySynthType.SYM)
        # Texts are read as words: a symbol between them would be named.
        if "middle dot" in self.spoken()[begin:]:
            fail("Orca named a middle dot")
        # A successful write may be announced as complete, a failed one never.
        if scenario != "healthy" and "100 percent" in self.spoken()[begin:]:
            fail("Orca said 100 percent of a failed write")
        self.program.terminate()
        if self.program.wait(SPEECH_TIMEOUT_S) != 0:
            fail(f"the program ended with {self.program.returncode}")

    def stop(self):
        for process in filter(None, [self.program] + self.processes[::-1]):
            if process.poll() is None:
                process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--screen", default="1280x1024")
    parser.add_argument("--inner", action="store_true")
    args = parser.parse_args()
    if not args.inner:
        return outer(args, __file__)
    with tempfile.TemporaryDirectory(prefix="tst_orca-") as home:
        listener = Listener(args, home)
        try:
            listener.run()
        except AssertionError as error:
            print("FAIL:", error, flush=True)
            return 1
        except Skip as reason:
            print("SKIP:", reason, flush=True)
            return SKIPPED
        finally:
            listener.stop()
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
