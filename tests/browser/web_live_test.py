#!/usr/bin/env python3
"""Live editing in real headless Chromium against the real daemon: two pages of two members of
one group and one native client of that group. Each page shows the other's member as on the web
page (not on line: that counts the office clients' sessions), until that page goes. An edit in
page A reaches page B and the native client; an edit of the native client reaches both pages; a Russian title typed in a page reaches
the native client in CP1251 and reads back as the same text; a page shows "saving" until the
acknowledgment and then the saved text; a refused edit shows why and restores the text.

Page A comes straight from 127.0.0.1. Chromium cannot choose its source address, so page B comes
through a small forwarding proxy of this test that the server trusts ([Feed] Proxy) and that
names the member's address in X-Forwarded-For.

Usage: web_live_test.py QUORVANE_SERVERD [SCREENSHOT.png]
"""
import datetime
import os
import queue
import socket
import struct
import sys
import tempfile
import threading
import time

# The helpers of the first browser test are imported from its file; no byte code beside it.
sys.dont_write_bytecode = True

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.support.ui import WebDriverWait

from web_page_test import WAIT, Daemon, browser, free_ports, week_shown

PROXY_ADDRESS = "127.0.0.2"
NATIVE_ADDRESS = "127.0.0.4"
REQUEST_SIZE = 2351
TITLE_EDIT, SLOT_EDIT, ACKNOWLEDGMENT = 2, 4, 3000
DATE_OFFSET, TEXT_OFFSET, SLOT_TIME_OFFSET = 12, 47, 41
EPOCH = datetime.date(1899, 12, 30)  # day 0 of the clients' dates


def server_ini(port, feed_port, broken_datafile, datafile):
    lines = [
        # ApplicationCharset 4: the office's texts are in the Russian code page (CP1251).
        "[Options]", "ApplicationCharset=4", "Language=0", "DEBUG=0",
        "[NetWork]", f"Port={port}", "DirectSend=1", "Reconnect=5", "TCPNoDelay=1",
        "CheckInterval_ms=0",
        "[DataBases]", "Count=2", "Alias1=Office", "Alias2=Broken",
        "[DataBase - 1]", f"Name={datafile}", "Count=7", "CountArc=0", "Time Begin=9",
        "Time End=18", "Step=0", "Archive Link=0", "UserCount=3", "User_1=127.0.0.1::alice",
        "User_2=127.0.0.3::bob", f"User_3={NATIVE_ADDRESS}::carol",
        "[DataBase - 2]", f"Name={broken_datafile}", "Count=7", "CountArc=0",
        "Time Begin=9", "Time End=18", "Step=0", "Archive Link=0", "UserCount=1",
        "User_1=127.0.0.5::dave",
        "[Feed]", f"Port={feed_port}", "Address=127.0.0.1", f"Proxy={PROXY_ADDRESS}",
    ]
    return "\r\n".join(lines) + "\r\n"


class ForwardingProxy:
    """Listens on 127.0.0.1, connects to the feed from PROXY_ADDRESS and adds X-Forwarded-For to
    every request head; after a WebSocket upgrade it passes the bytes through unchanged."""

    def __init__(self, feed_port, forwarded):
        self.feed_port, self.forwarded = feed_port, forwarded.encode()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        self.lock = threading.Lock()
        threading.Thread(target=self.accept, daemon=True).start()

    def close(self):
        self.listener.close()
        with self.lock:
            for s in self.sockets:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                s.close()

    def keep(self, s):
        with self.lock:
            self.sockets.append(s)
        return s

    def accept(self):
        while True:
            try:
                browser_side, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(self.keep(browser_side),),
                             daemon=True).start()

    def serve(self, browser_side):
        try:
            server_side = self.keep(socket.create_connection(
                ("127.0.0.1", self.feed_port), timeout=WAIT, source_address=(PROXY_ADDRESS, 0)))
            server_side.settimeout(None)
        except OSError:
            browser_side.close()
            return
        threading.Thread(target=pipe, args=(server_side, browser_side), daemon=True).start()
        pending = b""
        try:
            while True:
                while b"\r\n\r\n" not in pending:
                    data = browser_side.recv(65536)
                    if not data:
                        return
                    pending += data
                head, pending = pending.split(b"\r\n\r\n", 1)
                fields = [line.split(b":", 1) for line in head.split(b"\r\n")[1:]]
                length = next((int(v) for k, v in fields if k.strip().lower() == b"content-length"),
                              0)
                upgrade = any(k.strip().lower() == b"upgrade" for k, _ in fields)
                server_side.sendall(head + b"\r\nX-Forwarded-For: " + self.forwarded + b"\r\n\r\n")
                while len(pending) < length:
                    data = browser_side.recv(65536)
                    if not data:
                        return
                    pending += data
                server_side.sendall(pending[:length])
                pending = pending[length:]
                if upgrade:
                    server_side.sendall(pending)
                    pipe(browser_side, server_side)
                    return
        except OSError:
            pass
        finally:
            shut(server_side)


def shut(s):
    try:
        s.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


def pipe(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    shut(target)


class NativeClient:
    """A member's office program: frames (int32 length, payload) to the server's port from its
    own address; the server connects back to port + 10 and sends its frames there."""

    def __init__(self, address, port):
        self.frames = queue.Queue()
        back_listener = socket.create_server((address, port + 10))
        back_listener.settimeout(WAIT)
        self.request = socket.create_connection(("127.0.0.1", port), timeout=WAIT,
                                                source_address=(address, 0))
        self.back, _ = back_listener.accept()
        back_listener.close()
        self.back.settimeout(None)
        threading.Thread(target=self.receive, daemon=True).start()

    def receive(self):
        data = b""
        try:
            while True:
                chunk = self.back.recv(65536)
                if not chunk:
                    return
                data += chunk
                while len(data) >= 4:
                    (length,) = struct.unpack_from("<i", data)
                    if len(data) < 4 + length:
                        break
                    self.frames.put(data[4:4 + length])
                    data = data[4 + length:]
        except OSError:
            return

    def send(self, payload):
        self.request.sendall(struct.pack("<i", len(payload)) + payload)

    def wait_frame(self, matches, what):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            try:
                frame = self.frames.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            if matches(frame):
                return frame
        raise AssertionError(f"the native client never received {what}")

    def close(self):
        for s in (self.request, self.back):
            shut(s)
            s.close()


def day_number(iso):
    return (datetime.date.fromisoformat(iso) - EPOCH).days


def edit_request(code, iso, text, slot=0, time_label=b""):
    p = bytearray(REQUEST_SIZE)
    struct.pack_into("<iiid", p, 0, code, slot, 0, float(day_number(iso)))
    p[SLOT_TIME_OFFSET] = len(time_label)
    p[SLOT_TIME_OFFSET + 1:SLOT_TIME_OFFSET + 1 + len(time_label)] = time_label
    p[TEXT_OFFSET] = len(text)
    p[TEXT_OFFSET + 1:TEXT_OFFSET + 1 + len(text)] = text
    return bytes(p)


def is_title_edit(frame, iso, text):
    return (len(frame) == REQUEST_SIZE and struct.unpack_from("<i", frame)[0] == TITLE_EDIT
            and struct.unpack_from("<d", frame, DATE_OFFSET)[0] == day_number(iso)
            and frame[TEXT_OFFSET + 1:TEXT_OFFSET + 1 + frame[TEXT_OFFSET]] == text)


def is_ack(frame, code):
    if len(frame) < 12:
        return False
    kind, _, acknowledged = struct.unpack_from("<iii", frame)
    return kind == ACKNOWLEDGMENT and acknowledged == code


def day_box(driver, iso):
    return driver.find_element(By.CSS_SELECTOR, f'#week .day[data-date="{iso}"]')


def title_of(driver, iso):
    return day_box(driver, iso).find_element(By.CSS_SELECTOR, ".field.title").text


def slot_texts(driver, iso):
    return [e.text for e in day_box(driver, iso).find_elements(By.CSS_SELECTOR, ".slot-text")]


def watch_saving(driver):
    """Records in the page whether any field went through the "saving" state."""
    driver.execute_script(
        "window.sawSaving = false;"
        "new MutationObserver(() => { if (document.querySelector('.field.saving'))"
        " window.sawSaving = true; }).observe(document.body,"
        " {subtree: true, attributes: true, childList: true});")


def type_into(driver, field, text):
    field.click()
    entry = WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: field.find_element(By.TAG_NAME, "input"))
    entry.send_keys(Keys.CONTROL, "a")
    entry.send_keys(text + Keys.ENTER)


def edit_title(driver, iso, text):
    watch_saving(driver)
    field = day_box(driver, iso).find_element(By.CSS_SELECTOR, ".field.title")
    type_into(driver, field, text)
    # The acknowledgment comes after the journal sync; then the field shows the saved text.
    WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
        lambda d: not d.find_elements(By.CSS_SELECTOR, ".field.saving") and title_of(d, iso) == text)
    assert driver.execute_script("return window.sawSaving"), "no saving state was shown"
    assert not driver.find_elements(By.CSS_SELECTOR, ".field.refused")


def presence_of(driver, name):
    """The class of the member in the page's list: "on", "web" (only a page open) or "off"."""
    for span in driver.find_elements(By.CSS_SELECTOR, "#online .user"):
        if span.text == name:
            return span.get_attribute("class").split()[-1]
    return None


def open_page(driver, url):
    driver.get(url)
    WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(week_shown)
    WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
        lambda d: d.find_element(By.ID, "connection").get_attribute("class") == "online")


def main():
    binary = sys.argv[1]
    screenshot = sys.argv[2] if len(sys.argv) > 2 else None
    with tempfile.TemporaryDirectory() as directory, \
            tempfile.TemporaryDirectory() as profile_a, \
            tempfile.TemporaryDirectory() as profile_b:
        # A regular file where the broken group's datafile directory should be.
        not_a_directory = os.path.join(directory, "not-a-directory")
        open(not_a_directory, "w").close()
        port, feed_port = free_ports()
        with open(os.path.join(directory, "Server.ini"), "w", newline="") as f:
            f.write(server_ini(port, feed_port, os.path.join(not_a_directory, "broken.qdb"),
                               os.path.join(directory, "office.qdb")))
        daemon = Daemon(binary, directory)
        daemon.start()
        page_a = page_b = native = None
        proxies = []
        try:
            proxies = [ForwardingProxy(feed_port, "127.0.0.3"),
                       ForwardingProxy(feed_port, "127.0.0.5")]
            page_a, page_b = browser(profile_a), browser(profile_b)
            open_page(page_a, f"http://127.0.0.1:{feed_port}/")
            open_page(page_b, f"http://127.0.0.1:{proxies[0].port}/")
            assert "bob" in page_b.find_element(By.ID, "group").text
            # Bob has only his page open: not on line for the office, on the web for the pages.
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: presence_of(d, "bob") == "web")
            assert presence_of(page_b, "alice") == "web", presence_of(page_b, "alice")
            native = NativeClient(NATIVE_ADDRESS, port)
            native.wait_frame(lambda f: struct.unpack_from("<i", f)[0] == 5000 if f else False,
                              "the status table")
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: presence_of(d, "carol") == "on")
            monday = page_a.find_element(By.CSS_SELECTOR, "#week .day").get_attribute("data-date")
            day = [(datetime.date.fromisoformat(monday) + datetime.timedelta(i)).isoformat()
                   for i in range(7)]

            # Page A's edit: "saving", then the saved text; page B and the native client get it.
            edit_title(page_a, day[0], "Planning")
            WebDriverWait(page_b, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: title_of(d, day[0]) == "Planning")
            native.wait_frame(lambda f: is_title_edit(f, day[0], b"Planning"), "page A's title")

            # The native client's edit, in CP1251, appears in both pages in UTF-8.
            native.send(edit_request(TITLE_EDIT, day[1], "Отпуск".encode("cp1251")))
            native.wait_frame(lambda f: is_ack(f, TITLE_EDIT), "the acknowledgment")
            for page in (page_a, page_b):
                WebDriverWait(page, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: title_of(d, day[1]) == "Отпуск")
            native.send(edit_request(SLOT_EDIT, day[1], b"Standup", slot=2, time_label=b"10.00"))
            for page in (page_a, page_b):
                WebDriverWait(page, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: "Standup" in slot_texts(d, day[1]))

            # A Russian title typed in page B reaches the native client in CP1251 and reads
            # back from the server as the same text.
            edit_title(page_b, day[2], "Совещание отдела")
            native.wait_frame(
                lambda f: is_title_edit(f, day[2], "Совещание отдела".encode("cp1251")),
                "page B's Russian title in CP1251")
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: title_of(d, day[2]) == "Совещание отдела")
            page_b.find_element(By.ID, "next").click()
            WebDriverWait(page_b, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: not d.find_elements(By.CSS_SELECTOR, f'.day[data-date="{day[2]}"]'))
            page_b.find_element(By.ID, "prev").click()
            WebDriverWait(page_b, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: title_of(d, day[2]) == "Совещание отдела")

            # A slot typed in page A reaches page B.
            slot = day_box(page_a, day[3]).find_elements(By.CSS_SELECTOR, ".slot-text")[2]
            type_into(page_a, slot, "Review")
            WebDriverWait(page_b, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: slot_texts(d, day[3])[2] == "Review")
            edit_title(page_a, day[4], "Release")
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: slot_texts(d, day[3])[2] == "Review")
            if screenshot:
                page_a.save_screenshot(screenshot)

            # A day more than ten years ahead is refused: the page says why and shows the text
            # the field had.
            weeks = 523
            far = (datetime.date.fromisoformat(monday) + datetime.timedelta(weeks * 7)).isoformat()
            page_a.execute_script(
                f"for (let i = 0; i < {weeks}; ++i) document.getElementById('next').click();")
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: d.find_element(By.ID, "range").text.startswith(far) and week_shown(d))
            field = day_box(page_a, far).find_element(By.CSS_SELECTOR, ".field.title")
            before = field.text
            type_into(page_a, field, "Too far")
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: "refused" in field.get_attribute("class"))
            assert field.text == before, field.text
            notice = page_a.find_element(By.ID, "notice").text
            assert notice.startswith("Not saved: ") and "years ahead" in notice, notice

            # A group whose datafile cannot be created: its member's page says why.
            page_b.get(f"http://127.0.0.1:{proxies[1].port}/")
            WebDriverWait(page_b, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: "Not a directory" in d.find_element(By.ID, "notice").text)
            assert "dave" in page_b.find_element(By.ID, "group").text
            # Bob's page of the office group is gone: page A shows him off line.
            WebDriverWait(page_a, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: presence_of(d, "bob") == "off")
        finally:
            for driver in (page_a, page_b):
                if driver:
                    driver.quit()
            if native:
                native.close()
            for proxy in proxies:
                proxy.close()
            daemon.stop()
    print("web live test passed")


if __name__ == "__main__":
    main()
