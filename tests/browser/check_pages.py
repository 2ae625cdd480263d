#!/usr/bin/env python3
"""Opens result pages in headless Chromium and checks their DOM.

    check_pages.py FOLDER

FOLDER holds NAME.html (a page as the handler made it), NAME.reply (the
bytes the server sent, empty for a page of a failure alone) and, for a page
whose reply was cut, NAME.cut. For each page, Chromium's DOM must hold only
the page's own elements (those of the same page without the reply: no
element or attribute came from the reply), the text at the start of its PRE
element must read back as the reply (with HTML's line-end normalisation;
the head of it, in whole lines, when cut), its title must be the page's
own, and no script may have run. One browser serves every page, driven over the DevTools protocol on a
pipe. Exits 0 when every page holds, 1 when one does not, and 77 when
Chromium cannot be started here.
"""
import json
import os
import pathlib
import select
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
TITLE = "WhoIs protocol"
# Resolves no name and reaches no proxy: nothing a page names is fetched.
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
    "--remote-debugging-pipe",
]
# The page's elements in document order, each with its attributes, its reply
# text, title and scripts (any script would have come from the reply).
SKELETON = """JSON.stringify({
  elements: Array.from(document.querySelectorAll('*')).map(e =>
      e.tagName + Array.from(e.attributes).map(a => ' ' + a.name + '=' + a.value).join('')),
  reply: (() => {
    const pre = document.querySelector('pre');
    if (!pre) return null;
    let text = '';
    for (const node of pre.childNodes) {
      if (node.nodeType !== Node.TEXT_NODE) break;
      text += node.data;
    }
    return text;
  })(),
  title: document.title,
  scripts: document.scripts.length
})"""


class Browser:
    """Chromium with its DevTools protocol on file descriptors 3 and 4."""

    def __init__(self, program):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        # Out of the way of 3 and 4, which the child gets them as.
        ends = [os.dup2(fd, 100 + i) for i, fd in enumerate((to_browser_read, from_browser_write))]
        for fd in (to_browser_read, from_browser_write):
            os.close(fd)

        def wire():
            os.dup2(ends[0], 3)
            os.dup2(ends[1], 4)

        self.profile = tempfile.mkdtemp(prefix="hollin-chromium-")
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS="disabled:")
        self.process = subprocess.Popen(
            [program, *CHROMIUM_FLAGS, "--user-data-dir=" + self.profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            preexec_fn=wire, close_fds=False, env=env)
        for fd in ends:
            os.close(fd)
        self.buffer = b""
        self.next_id = 0
        self.session = None
        self.dialogs = 0  # alert, confirm or prompt: only a script opens one

    def close(self):
        try:
            os.close(self.to_browser)
        except OSError:
            pass
        self.process.kill()
        self.process.wait()
        os.close(self.from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)

    def receive(self):
        while b"\0" not in self.buffer:
            if not select.select([self.from_browser], [], [], 60)[0]:
                raise TimeoutError("Chromium did not answer for a minute")
            chunk = os.read(self.from_browser, 65536)
            if not chunk:
                raise EOFError("Chromium closed its DevTools pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session is not None:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        return self.next_id

    def call(self, method, params=None, until_event=None):
        """Sends a command and returns its result; with `until_event`, also
        waits for that event of the session."""
        awaited = self.send(method, params)
        result = None
        event_seen = until_event is None
        while result is None or not event_seen:
            reply = self.receive()
            if reply.get("method") == "Page.javascriptDialogOpening":
                self.dialogs += 1
                self.send("Page.handleJavaScriptDialog", {"accept": False})
            elif reply.get("id") == awaited:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                result = reply["result"]
            elif reply.get("method") == until_event:
                event_seen = True
        return result

    def open_tab(self):
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable")

    def skeleton(self, path):
        self.call("Page.navigate", {"url": path.as_uri()}, until_event="Page.loadEventFired")
        value = self.call("Runtime.evaluate", {"expression": SKELETON, "returnByValue": True})
        return json.loads(value["result"]["value"])


def reference_page(page):
    """The page without its reply: the header line, then everything from the
    first markup after it (the reply, escaped, holds none)."""
    header_end = page.index(b"\n") + 1
    return page[:header_end] + page[page.index(b"<", header_end):]


def as_read_back(reply):
    # A page has no charset: the browser reads it as windows-1252, and HTML
    # turns CR LF and lone CR into LF.
    text = reply.decode("cp1252", errors="replace")
    return text.replace("\r\n", "\n").replace("\r", "\n")


def check(browser, folder, name):
    page = (folder / f"{name}.html").read_bytes()
    reply = (folder / f"{name}.reply").read_bytes()
    reference = folder / f"{name}.reference.html"
    reference.write_bytes(reference_page(page))
    browser.dialogs = 0
    seen = browser.skeleton(folder / f"{name}.html")
    script_ran = browser.dialogs != 0
    expected = browser.skeleton(reference)
    faults = []
    if seen["elements"] != expected["elements"]:
        faults.append(f"elements {seen['elements']} instead of {expected['elements']}")
    sent = as_read_back(reply)
    if (folder / f"{name}.cut").exists():
        # A cut page keeps the start of the reply, ending on a line feed (one
        # added at the cut when it fell inside a line).
        kept = seen["reply"]
        if not (kept.endswith("\n") and len(kept) > len(sent) // 4
                and (sent.startswith(kept) or sent.startswith(kept[:-1]))):
            faults.append(f"the cut reply reads back as {seen['reply'][-200:]!r} at its end")
    elif seen["reply"] != sent:
        faults.append(f"reply text reads back as {seen['reply']!r}, not {sent!r}")
    if seen["title"] != TITLE:
        faults.append(f"title {seen['title']!r}")
    if seen["scripts"] != 0 or script_ran:
        faults.append("a script is in the page")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = pathlib.Path(sys.argv[1]).resolve()
    program = shutil.which("chromium") or shutil.which("chromium-browser")
    if program is None:
        print("check_pages: no chromium on PATH: skipped")
        return SKIP
    try:
        browser = Browser(program)
        browser.open_tab()
    except (OSError, EOFError, RuntimeError, TimeoutError) as error:
        print(f"check_pages: Chromium cannot run here ({error}): skipped")
        return SKIP
    failed = 0
    try:
        for page in sorted(folder.glob("*.html")):
            if page.name.endswith(".reference.html"):
                continue
            name = page.name[: -len(".html")]
            faults = check(browser, folder, name)
            print(f"check_pages: {name}: " + ("; ".join(faults) if faults else "as sent"))
            failed += bool(faults)
    finally:
        browser.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
