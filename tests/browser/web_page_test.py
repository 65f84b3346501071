#!/usr/bin/env python3
"""The web page in real headless Chromium against the real daemon: the page of a member loads
and shows the group's week with the slot labels of its grid, today marked; a stranger gets 403;
a page of a foreign origin cannot open the page connection; the page comes back after the
server restarts.

Usage: web_page_test.py QUORVANE_SERVERD [SCREENSHOT.png]
"""
import http.client
import http.server
import threading
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from free_ports import free_ports  # noqa: E402
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.support.ui import WebDriverWait

WAIT = 15  # seconds, for every wait of this test


def server_ini(port, feed_port):
    lines = [
        "[Options]", "Language=0", "DEBUG=0",
        "[NetWork]", f"Port={port}", "DirectSend=1", "Reconnect=5", "TCPNoDelay=1",
        "CheckInterval_ms=0",
        "[DataBases]", "Count=1", "Alias1=Office",
        "[DataBase - 1]", "Name=", "Count=7", "CountArc=0", "Time Begin=9", "Time End=20",
        "Step=0", "Archive Link=0", "UserCount=2", "User_1=127.0.0.1::alice",
        "User_2=127.0.0.3::bob",
        "[Feed]", f"Port={feed_port}", "Address=127.0.0.1",
    ]
    return "\r\n".join(lines) + "\r\n"


class Daemon:
    def __init__(self, binary, directory):
        self.binary, self.directory = binary, directory
        self.out_path = os.path.join(directory, "stdout.txt")
        self.proc = None

    def start(self):
        with open(self.out_path, "ab") as out:
            self.proc = subprocess.Popen([self.binary, "--dir", self.directory], stdout=out,
                                         stderr=subprocess.STDOUT)
        self.wait_for("Feed: listening", times=self.count("Feed: listening") + 1)

    def output(self):
        with open(self.out_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def count(self, text):
        return self.output().count(text) if os.path.exists(self.out_path) else 0

    def wait_for(self, text, times=1):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if self.count(text) >= times:
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError(f"daemon never said {text!r}:\n{self.output()}")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(WAIT)


def http_status(source, port, path):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT,
                                      source_address=(source, 0))
    try:
        conn.request("GET", path)
        return conn.getresponse().status
    finally:
        conn.close()


def browser(profile):
    options = Options()
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--window-size=1400,900",
                f"--user-data-dir={profile}"]:
        options.add_argument(arg)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(WAIT)
    driver.set_script_timeout(WAIT)
    return driver


def serve_foreign_page(feed_port):
    """Another site on another port of this machine: its page tries to open the page connection."""
    body = ("<title>waiting</title><script>"
            f"const ws = new WebSocket('ws://127.0.0.1:{feed_port}/ws');"
            "ws.onopen = () => { document.title = 'opened'; };"
            "ws.onerror = () => { document.title = 'refused'; };</script>").encode()

    class Page(http.server.BaseHTTPRequestHandler):
        timeout = WAIT  # seconds a connection may stay silent

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    # Threads of its own per connection: a connection Chromium opens ahead and keeps idle must
    # not hold up serving the page or the shutdown at the end.
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def week_shown(driver):
    days = driver.find_elements(By.CSS_SELECTOR, "#week .day")
    return len(days) == 7 and all(d.find_elements(By.CSS_SELECTOR, ".slot .time") for d in days)


def main():
    binary = sys.argv[1]
    screenshot = sys.argv[2] if len(sys.argv) > 2 else None
    with tempfile.TemporaryDirectory() as directory, tempfile.TemporaryDirectory() as profile:
        port, feed_port = free_ports()
        with open(os.path.join(directory, "Server.ini"), "w", newline="") as f:
            f.write(server_ini(port, feed_port))
        daemon = Daemon(binary, directory)
        daemon.start()
        driver = None
        try:
            # A stranger is refused; a reader would get the status page.
            assert http_status("127.0.0.20", feed_port, "/") == 403
            assert http_status("127.0.0.3", feed_port, "/") == 200

            driver = browser(profile)
            page = f"http://127.0.0.1:{feed_port}/"
            driver.get(page)
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(week_shown)
            heading = driver.find_element(By.ID, "group").text
            assert "Office" in heading and "alice" in heading, heading
            first = driver.find_elements(By.CSS_SELECTOR, "#week .day")[0]
            labels = [e.text.strip() for e in first.find_elements(By.CSS_SELECTOR, ".slot .time")]
            assert labels[0] == "9.00" and "10.00" in labels and "20.00" in labels, labels
            assert len(driver.find_elements(By.CSS_SELECTOR, "#week .day.today")) == 1
            online = driver.find_element(By.ID, "online").text
            assert "alice" in online and "bob" in online, online
            if screenshot:
                driver.save_screenshot(screenshot)

            # Forward by a week and back.
            shown = driver.find_element(By.ID, "range").text
            driver.find_element(By.ID, "next").click()
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: d.find_element(By.ID, "range").text != shown)
            assert not driver.find_elements(By.CSS_SELECTOR, "#week .day.today")
            driver.find_element(By.ID, "prev").click()
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: d.find_element(By.ID, "range").text == shown)

            # The page reconnects after a restart of the server and reads its week again.
            daemon.stop()
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: d.find_element(By.ID, "connection").get_attribute("class") == "offline")
            daemon.start()
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(
                lambda d: d.find_element(By.ID, "connection").get_attribute("class") == "online")
            WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(week_shown)

            # A page of another origin cannot open the page connection.
            refusals = daemon.count("foreign origin")
            foreign = serve_foreign_page(feed_port)
            try:
                driver.get(f"http://127.0.0.1:{foreign.server_address[1]}/")
                WebDriverWait(driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)).until(lambda d: d.title in ("opened", "refused"))
                assert driver.title == "refused", driver.title
                daemon.wait_for("foreign origin", times=refusals + 1)
            finally:
                foreign.shutdown()
                foreign.server_close()
        finally:
            if driver:
                driver.quit()
            daemon.stop()
    print("web page test passed")


if __name__ == "__main__":
    main()
