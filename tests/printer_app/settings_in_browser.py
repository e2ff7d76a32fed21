#!/usr/bin/env python3
"""Uses a printer's settings page in a real headless browser, as an administrator would.

Drives an already started Chromium over its DevTools protocol (a WebSocket, spoken here
with the standard library only): sets a text watermark in section 1 of the watermark table
with its form, opens a section's form with the keyboard, uploads a PDF page as a new
overlay and waits until the overlay list shows its picture, and saves screenshots at a
desktop's (1280 px) and a phone's (390 px) width. Fails on any JavaScript error, a form
field without a label, or a page wider than the phone.

Usage: settings_in_browser.py DEVTOOLS_PORT PAGE_URL TEXT OVERLAY_PDF OVERLAY_NAME SCREENSHOT_PREFIX
"""
import base64
import json
import os
import socket
import struct
import sys
import time
import urllib.request


class DevTools:
    """A minimal WebSocket client for one DevTools target."""

    def __init__(self, url):
        host_port, path = url[len("ws://"):].split("/", 1)
        host, port = host_port.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {host_port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            answer += self.sock.recv(1)
        if b" 101 " not in answer.split(b"\r\n")[0]:
            raise RuntimeError(f"DevTools refused the WebSocket: {answer!r}")
        self.next_id = 0
        self.events = []
        self.errors = []

    def _read(self, size):
        data = b""
        while len(data) < size:
            chunk = self.sock.recv(size - len(data))
            if not chunk:
                raise RuntimeError("DevTools closed the connection")
            data += chunk
        return data

    def _send(self, text):
        payload = text.encode()
        header = bytearray([0x81])
        if len(payload) < 126:
            header.append(0x80 | len(payload))
        elif len(payload) < 65536:
            header.append(0x80 | 126)
            header += struct.pack(">H", len(payload))
        else:
            header.append(0x80 | 127)
            header += struct.pack(">Q", len(payload))
        mask = os.urandom(4)
        header += mask
        self.sock.sendall(bytes(header) + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def _receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            size = second & 0x7F
            if size == 126:
                size = struct.unpack(">H", self._read(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", self._read(8))[0]
            message += self._read(size)
            if first & 0x80:
                event = json.loads(message)
                # Errors of the page's scripts, whenever they come.
                if event.get("method") == "Runtime.exceptionThrown":
                    self.errors.append(event["params"]["exceptionDetails"].get("text", "exception"))
                elif event.get("method") == "Log.entryAdded" and event["params"]["entry"].get("level") == "error":
                    entry = event["params"]["entry"]
                    if entry.get("source") in ("javascript", "console"):
                        self.errors.append(entry.get("text", "error"))
                return event

    def call(self, method, **params):
        self.next_id += 1
        self._send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = self._receive()
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_for(self, event, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for i, message in enumerate(self.events):
                if message.get("method") == event:
                    del self.events[: i + 1]
                    return message
            self.events.append(self._receive())
        raise RuntimeError(f"no {event} within {timeout} s")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")


def check_page(browser, width):
    """The page at `width`: every field has a label, nothing is wider than the window."""
    unlabelled = browser.evaluate(
        "[...document.querySelectorAll('input:not([type=hidden]),select,textarea')]"
        ".filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label')).map(e => e.id || e.name)")
    if unlabelled:
        raise RuntimeError(f"fields without a label: {unlabelled}")
    wide = browser.evaluate("document.documentElement.scrollWidth")
    if wide > width + 1:
        raise RuntimeError(f"the page is {wide} px wide in a {width} px window")


def screenshot(browser, width, path, mobile):
    browser.call("Emulation.setDeviceMetricsOverride", width=width, height=900, deviceScaleFactor=1, mobile=mobile)
    browser.call("Page.reload")
    browser.wait_for("Page.loadEventFired")
    check_page(browser, width)
    # The whole page, watermarks and overlays.
    height = browser.evaluate("document.documentElement.scrollHeight")
    shot = browser.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                        clip={"x": 0, "y": 0, "width": width, "height": height, "scale": 1})
    with open(path, "wb") as out:
        out.write(base64.b64decode(shot["data"]))


def main():
    port, page_url, text, overlay_pdf, overlay_name, shots = sys.argv[1:7]
    target = None
    for _ in range(150):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=2) as answer:
                targets = [t for t in json.load(answer) if t.get("type") == "page"]
            if targets:
                target = targets[0]
                break
        except OSError:
            pass
        time.sleep(0.1)
    if target is None:
        raise RuntimeError("the browser offers no page to drive")
    browser = DevTools(target["webSocketDebuggerUrl"])
    for domain in ("Page", "Runtime", "Log", "DOM"):
        browser.call(f"{domain}.enable")
    browser.call("Emulation.setDeviceMetricsOverride", width=1280, height=900, deviceScaleFactor=1, mobile=False)
    browser.call("Page.navigate", url=page_url + "?section=1")
    browser.wait_for("Page.loadEventFired")

    # A text watermark in section 1, through the section's form in the table.
    browser.evaluate(
        "(() => {"
        "  document.getElementById('kind-text-1').checked = true;"
        f"  document.getElementById('text-1').value = {json.dumps(text)};"
        "  document.getElementById('angle-1').value = '30';"
        "  document.getElementById('darkness-1').value = '40';"
        "  document.getElementById('placement-1').value = 'centre';"
        "  document.getElementById('save-1').click();"
        "})()")
    browser.wait_for("Page.loadEventFired")
    message = browser.evaluate("document.getElementById('message') ? document.getElementById('message').textContent : ''")
    if "saved" not in message:
        raise RuntimeError(f"the page did not save the watermark: {message!r}")
    shown = browser.evaluate("document.querySelector('#section-1 td[data-label=\"Text or image\"]').textContent")
    if shown != text:
        raise RuntimeError(f"the table shows the text {shown!r}, not {text!r}")
    for _ in range(50):
        if browser.evaluate("document.getElementById('preview-1').complete && "
                            "document.getElementById('preview-1').naturalWidth > 0"):
            break
        time.sleep(0.1)
    else:
        raise RuntimeError("the watermark picture of section 1 did not load")

    # The keyboard opens a section's form: Enter on its focused summary.
    browser.evaluate("document.querySelector('#edit-2 summary').focus()")
    browser.call("Input.dispatchKeyEvent", type="keyDown", key="Enter", code="Enter", windowsVirtualKeyCode=13,
                 text="\r")
    browser.call("Input.dispatchKeyEvent", type="keyUp", key="Enter", code="Enter", windowsVirtualKeyCode=13)
    if not browser.evaluate("document.getElementById('edit-2').open"):
        raise RuntimeError("Enter on the focused 'Edit section 2' did not open its form")

    # A new overlay from a PDF page: upload it under its name and wait for its picture.
    browser.evaluate(f"document.getElementById('overlay-new-name').value = {json.dumps(overlay_name)}")
    document = browser.call("DOM.getDocument")
    node = browser.call("DOM.querySelector", nodeId=document["root"]["nodeId"], selector="#overlay-document")
    browser.call("DOM.setFileInputFiles", files=[overlay_pdf], nodeId=node["nodeId"])
    browser.evaluate("document.getElementById('capture-overlay').click()")
    browser.wait_for("Page.loadEventFired")
    message = browser.evaluate("document.getElementById('message') ? document.getElementById('message').textContent : ''")
    if "Capturing" not in message:
        raise RuntimeError(f"the page did not start the capture: {message!r}")
    picture = f"img[alt='Picture of overlay {overlay_name}']"
    for _ in range(60):
        browser.call("Page.navigate", url=page_url)
        browser.wait_for("Page.loadEventFired")
        if browser.evaluate(f"(() => {{ const i = document.querySelector({json.dumps(picture)});"
                            " return !!i && i.complete && i.naturalWidth > 0; })()"):
            break
        time.sleep(0.5)
    else:
        raise RuntimeError(f"the overlay list shows no picture of {overlay_name}")

    screenshot(browser, 1280, f"{shots}-1280.png", False)
    screenshot(browser, 390, f"{shots}-390.png", True)
    if browser.errors:
        raise RuntimeError(f"JavaScript errors: {browser.errors}")
    print(f"watermark saved, overlay {overlay_name} captured with its picture; screenshots {shots}-*.png")


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # one line for the test's log
        print(f"browser: {error}", file=sys.stderr)
        sys.exit(1)
