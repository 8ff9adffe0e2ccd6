"""Headless Chromium driven over its DevTools pipe, for tests that open a page
as a reader's browser does: what the browser reported, what it requested,
where each chart landed and how large its drawing is, the tables' rendered
text, and a screenshot of the whole page.

With --remote-debugging-pipe the browser reads JSON commands on its fd 3 and
answers on its fd 4, each message ended by a zero byte."""

import base64
import fcntl
import json
import os
import select
import subprocess
import time

# Each chart's SVG box in CSS pixels of the page.
CHART_BOXES = """JSON.stringify([...document.querySelectorAll('figure.chart')].map(f => {
    const r = f.querySelector('svg').getBoundingClientRect();
    const drawn = f.querySelector('svg').getBBox();
    return {id: f.id, x: r.x + scrollX, y: r.y + scrollY, width: r.width, height: r.height,
            drawn_width: drawn.width, drawn_height: drawn.height};
}))"""
# Each section's tables as a reader sees them: per row the first line of every cell's rendered text.
TABLES = """JSON.stringify(Object.fromEntries([...document.querySelectorAll('section')].map(s => [s.id,
    [...s.querySelectorAll('table')].map(t => [...t.rows].map(r => [...r.cells].map(
        c => c.innerText.split('\\n')[0].trim())))])))"""


class BrowserError(Exception):
    """The browser did not answer as asked."""


def _moved_high(fd):
    """The same pipe end at fd 10 or above (the old one closed), so that putting
    it at fd 3 or 4 in the browser never closes the other."""
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return moved


class Browser:
    """One headless Chromium, as a context manager; `log` takes its output."""

    def __init__(self, executable, profile_dir, log, timeout=120):
        self.deadline = time.monotonic() + timeout
        commands_read, self.commands = os.pipe()
        self.answers, answers_write = os.pipe()
        commands_read, answers_write = _moved_high(commands_read), _moved_high(answers_write)
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-extensions", "--no-first-run",
                 "--hide-scrollbars", f"--user-data-dir={profile_dir}", "--remote-debugging-pipe", "about:blank"]
        self.process = subprocess.Popen(
            ["bash", "-c", 'exec "$@" 3<&"$R" 4>&"$W" {R}<&- {W}>&-', "browser", executable, *flags],
            env={**os.environ, "R": str(commands_read), "W": str(answers_write)},
            pass_fds=(commands_read, answers_write), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        os.close(commands_read)
        os.close(answers_write)
        self.pending, self.events, self.last_id = b"", [], 0

    def __enter__(self):
        return self

    def __exit__(self, *_):
        try:
            self.send("Browser.close")
            self.process.wait(timeout=15)
        except (BrowserError, OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.answers)

    def _next_message(self):
        while b"\0" not in self.pending:
            left = self.deadline - time.monotonic()
            if left <= 0 or not select.select([self.answers], [], [], left)[0]:
                raise BrowserError("the browser did not answer in time")
            chunk = os.read(self.answers, 1 << 20)
            if not chunk:
                raise BrowserError("the browser closed its pipe")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=None):
        """One command's result; events that come meanwhile go to `events`."""
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        os.write(self.commands, json.dumps({**message, **({"sessionId": session} if session else {})}).encode() + b"\0")
        while (answer := self._next_message()).get("id") != self.last_id:
            self.events.append(answer)
        if "error" in answer:
            raise BrowserError(f"{method}: {answer['error']}")
        return answer.get("result", {})

    def wait_for(self, method, session):
        while not any(e.get("method") == method and e.get("sessionId") == session for e in self.events):
            self.events.append(self._next_message())

    def visit(self, url, width=1280, height=900):
        """Opens `url` in a new tab `width` CSS pixels wide. Returns (problems:
        console calls, exceptions, error and warning log entries and failed
        loads; requested URLs; chart boxes; {section id: its tables' rows of
        cell texts}; PNG of the whole page)."""
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Runtime", "Log", "Page", "Network"):
            self.send(f"{domain}.enable", session=session)
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False}, session)
        self.send("Page.navigate", {"url": url}, session)
        self.wait_for("Page.loadEventFired", session)
        boxes = self.send("Runtime.evaluate", {"expression": CHART_BOXES, "returnByValue": True}, session)
        tables = self.send("Runtime.evaluate", {"expression": TABLES, "returnByValue": True}, session)
        size = self.send("Page.getLayoutMetrics", session=session)["cssContentSize"]
        shot = self.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True, "clip": {
            "x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}}, session)
        problems, requests = [], []
        for event in (e for e in self.events if e.get("sessionId") == session):
            method, params = event["method"], event.get("params", {})
            entry = params.get("entry", {})
            if method in ("Runtime.consoleAPICalled", "Runtime.exceptionThrown", "Network.loadingFailed") or \
                    (method == "Log.entryAdded" and entry.get("level") in ("error", "warning")):
                problems.append(f"{method}: {params}")
            elif method == "Network.requestWillBeSent":
                requests.append(params["request"]["url"])
        return (problems, requests, json.loads(boxes["result"]["value"]), json.loads(tables["result"]["value"]),
                base64.b64decode(shot["data"]))
