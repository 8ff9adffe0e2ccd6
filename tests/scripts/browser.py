"""Headless Chromium driven over its DevTools pipe, for tests that open a page
the way a reader's browser does: what the browser logged, what it tried to
fetch, where each chart landed, and a screenshot of the whole page.

The pipe (--remote-debugging-pipe) takes JSON commands on the browser's fd 3
and answers on its fd 4, each message ended by a zero byte."""

import base64
import fcntl
import json
import os
import select
import subprocess
import time
from dataclasses import dataclass, field

# Where each chart (a figure holding an SVG) landed, in CSS pixels of the page.
CHART_BOXES = """JSON.stringify([...document.querySelectorAll('figure.chart')].map(f => {
    const s = f.querySelector('svg'), r = s ? s.getBoundingClientRect() : null;
    return {id: f.id, x: r ? r.x + scrollX : 0, y: r ? r.y + scrollY : 0, width: r ? r.width : 0,
            height: r ? r.height : 0};
}))"""


def _moved_high(fd):
    """The same pipe end at a number above 10 (the old one closed), so that
    moving it to fd 3 or 4 in the browser never closes the other."""
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
    os.close(fd)
    return moved


class BrowserError(Exception):
    """The browser did not answer as asked."""


@dataclass
class Visit:
    """What opening a page gave: the console and log entries and exceptions
    the browser reported, the URLs it requested, each chart's box and a PNG of
    the whole page."""
    problems: list = field(default_factory=list)
    requests: list = field(default_factory=list)
    charts: list = field(default_factory=list)
    screenshot: bytes = b""


class Browser:
    """One headless Chromium; use as a context manager. `log` takes its stderr."""

    def __init__(self, executable, profile_dir, log, timeout=120):
        self.deadline = time.monotonic() + timeout
        commands_read, self.commands = os.pipe()
        self.answers, answers_write = os.pipe()
        commands_read, answers_write = (_moved_high(fd) for fd in (commands_read, answers_write))
        flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-extensions", "--no-first-run",
                 "--hide-scrollbars", "--mute-audio", f"--user-data-dir={profile_dir}",
                 "--remote-debugging-pipe", "about:blank"]
        # The browser reads fd 3 and writes fd 4; bash puts the pipes there.
        self.process = subprocess.Popen(
            ["bash", "-c", 'exec "$@" 3<&"$R" 4>&"$W" {R}<&- {W}>&-', "browser", executable, *flags],
            env={**os.environ, "R": str(commands_read), "W": str(answers_write)},
            pass_fds=(commands_read, answers_write), stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        os.close(commands_read)
        os.close(answers_write)
        self.pending = b""
        self.events = []
        self.last_id = 0

    def __enter__(self):
        return self

    def __exit__(self, *_):
        try:
            self.send("Browser.close")
        except (BrowserError, OSError):
            pass
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.answers)

    def _read_message(self):
        while b"\0" not in self.pending:
            left = self.deadline - time.monotonic()
            if left <= 0 or not select.select([self.answers], [], [], left)[0]:
                raise BrowserError("the browser did not answer in time")
            chunk = os.read(self.answers, 1 << 20)
            if not chunk:
                raise BrowserError(f"the browser closed its pipe (exit status {self.process.poll()})")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, params=None, session=None):
        """Sends one command and returns its result; events that arrive
        meanwhile are kept in `events`."""
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            answer = self._read_message()
            if answer.get("id") != self.last_id:
                self.events.append(answer)
                continue
            if "error" in answer:
                raise BrowserError(f"{method}: {answer['error']}")
            return answer.get("result", {})

    def wait_for(self, method, session):
        """Waits for an event of the session (already arrived or to come)."""
        while True:
            for event in self.events:
                if event.get("method") == method and event.get("sessionId") == session:
                    return event
            self.events.append(self._read_message())

    def visit(self, url, width=1280, height=900):
        """Opens `url` in a new tab of `width` CSS pixels and reports what happened."""
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Runtime", "Log", "Page", "Network"):
            self.send(f"{domain}.enable", session=session)
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False}, session)
        self.send("Page.navigate", {"url": url}, session)
        self.wait_for("Page.loadEventFired", session)
        boxes = self.send("Runtime.evaluate", {"expression": CHART_BOXES, "returnByValue": True}, session)
        size = self.send("Page.getLayoutMetrics", session=session)["cssContentSize"]
        shot = self.send("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}}, session)
        visit = Visit(charts=json.loads(boxes["result"]["value"]), screenshot=base64.b64decode(shot["data"]))
        self._sort_events(visit, session)
        return visit

    def _sort_events(self, visit, session):
        for event in self.events:
            if event.get("sessionId") != session:
                continue
            method, params = event.get("method"), event.get("params", {})
            if method == "Runtime.consoleAPICalled":
                visit.problems.append(f"console.{params.get('type')}: {params.get('args')}")
            elif method == "Runtime.exceptionThrown":
                visit.problems.append(f"exception: {params.get('exceptionDetails')}")
            elif method == "Log.entryAdded" and params["entry"].get("level") in ("error", "warning"):
                visit.problems.append(f"log {params['entry'].get('level')}: {params['entry'].get('text')}")
            elif method == "Network.requestWillBeSent":
                visit.requests.append(params["request"]["url"])
            elif method == "Network.loadingFailed":
                visit.problems.append(f"loading failed: {params.get('errorText')}")
