#!/usr/bin/env python3
"""Sets a text watermark through a printer's settings page in a real headless browser.

Drives an already started Chromium over its DevTools protocol (a WebSocket, spoken here
with the standard library only): opens the page, fills in the watermark form, submits it,
checks the page's answer and the preview picture, and saves a screenshot.

Usage: set_watermark_in_browser.py DEVTOOLS_PORT PAGE_URL TEXT SCREENSHOT
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
                return json.loads(message)

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


def main():
    port, page_url, text, screenshot = sys.argv[1:5]
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
    browser.call("Page.enable")
    browser.call("Page.navigate", url=page_url)
    browser.wait_for("Page.loadEventFired")

    # Fill in the form as a user would, and submit it with its button.
    browser.evaluate(
        "(() => {"
        f"  document.querySelector('input[name=kind][value=text]').checked = true;"
        f"  document.getElementById('text').value = {json.dumps(text)};"
        "  document.getElementById('angle').value = '30';"
        "  document.getElementById('darkness').value = '40';"
        "  document.getElementById('placement').value = 'centre';"
        "  document.getElementById('save-watermark').click();"
        "})()")
    browser.wait_for("Page.loadEventFired")
    message = browser.evaluate("document.getElementById('message') ? document.getElementById('message').textContent : ''")
    if "saved" not in message:
        raise RuntimeError(f"the page did not save the watermark: {message!r}")
    shown = browser.evaluate("document.getElementById('text').value")
    if shown != text:
        raise RuntimeError(f"the page shows the text {shown!r}, not {text!r}")
    # The preview picture must have loaded as an image.
    for _ in range(50):
        if browser.evaluate("document.getElementById('preview').complete && "
                            "document.getElementById('preview').naturalWidth > 0"):
            break
        time.sleep(0.1)
    else:
        raise RuntimeError("the watermark preview picture did not load")

    shot = browser.call("Page.captureScreenshot", format="png")
    with open(screenshot, "wb") as out:
        out.write(base64.b64decode(shot["data"]))
    print(f"saved: {message.strip()}; screenshot {screenshot}")


if __name__ == "__main__":
    try:
        main()
    except Exception as error:  # one line for the test's log
        print(f"browser: {error}", file=sys.stderr)
        sys.exit(1)
