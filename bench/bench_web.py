#!/usr/bin/env python3
"""Web pages beside native members, against the real daemon: 10 native members and 200 open
pages (WebSocket members from 127.0.1.1..127.0.1.200) of one group; one native member edits a
title in a loop, waiting for each acknowledgment.

Prints, from one run: the native edit figures (edits/s, acknowledgment latency) without pages
and with the 200 pages open; the time from an edit's acknowledgment (and from its sending) to
its arrival at the last page, p50 and p99; the server's threads and resident memory with 0 and
with 200 pages open, and the memory per page.

Usage: bench_web.py QUORVANE_SERVERD [EDITS]
The pages are read by one thread of this program, so the arrival times include its own work.
"""
import base64
import os
import random
import selectors
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

PAGES, NATIVES = 200, 10
REQUEST_SIZE, TITLE_EDIT, ACKNOWLEDGMENT = 2351, 2, 3000
WAIT = 20.0


def page_address(i):
    return f"127.0.1.{i + 1}"


def native_address(i):
    return f"127.0.2.{i + 1}"


def port_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def free_port_pair():
    for _ in range(200):
        port = random.randint(20000, 49990)
        if port_free(port) and port_free(port + 10):
            return port
    raise RuntimeError("no free port pair")


def server_ini(port, feed_port, datafile):
    users = [f"User_{i + 1}={native_address(i)}::native{i + 1}" for i in range(NATIVES)]
    users += [f"User_{NATIVES + i + 1}={page_address(i)}::page{i + 1}" for i in range(PAGES)]
    lines = [
        "[Options]", "Language=0", "DEBUG=0",
        "[NetWork]", f"Port={port}", "DirectSend=1", "Reconnect=5", "TCPNoDelay=1",
        "CheckInterval_ms=0",
        "[DataBases]", "Count=1", "Alias1=Office",
        "[DataBase - 1]", f"Name={datafile}", "Count=7", "CountArc=0", "Time Begin=9",
        "Time End=18", "Step=0", "Archive Link=0", f"UserCount={len(users)}", *users,
        "[Feed]", f"Port={feed_port}", "Address=127.0.0.1",
    ]
    return "\r\n".join(lines) + "\r\n"


def proc_status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {key} for {pid}")


def wait_until(predicate, what):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise RuntimeError(f"timed out waiting for {what}")


def read_frame(sock):
    head = recv_exactly(sock, 4)
    (length,) = struct.unpack("<i", head)
    return recv_exactly(sock, length)


def recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise RuntimeError("connection closed")
        data += chunk
    return data


class Native:
    def __init__(self, address, port):
        listener = socket.create_server((address, port + 10))
        listener.settimeout(WAIT)
        self.request = socket.create_connection(("127.0.0.1", port), timeout=WAIT,
                                                source_address=(address, 0))
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.back, _ = listener.accept()
        listener.close()
        self.back.settimeout(WAIT)
        self.drain = True
        while struct.unpack_from("<i", read_frame(self.back))[0] != 5000:
            pass

    def start_draining(self):
        """Members that do not edit read (and drop) what the server forwards to them."""
        def run():
            try:
                while self.drain:
                    read_frame(self.back)
            except (OSError, RuntimeError):
                pass
        self.back.settimeout(None)
        threading.Thread(target=run, daemon=True).start()

    def edit_and_wait(self, day, text):
        p = bytearray(REQUEST_SIZE)
        struct.pack_into("<iiid", p, 0, TITLE_EDIT, 0, 0, float(day))
        p[47] = len(text)
        p[48:48 + len(text)] = text
        self.request.sendall(struct.pack("<i", REQUEST_SIZE) + bytes(p))
        while True:
            frame = read_frame(self.back)
            if len(frame) >= 12:
                kind, _, code = struct.unpack_from("<iii", frame)
                if kind == ACKNOWLEDGMENT and code == TITLE_EDIT:
                    return

    def close(self):
        self.drain = False
        for s in (self.request, self.back):
            s.close()


class Pages:
    """Open WebSocket pages, read by one thread; records when each page saw each title."""

    def __init__(self, feed_port):
        self.feed_port = feed_port
        self.selector = selectors.DefaultSelector()
        self.arrivals = {}  # title -> list of arrival times
        self.lock = threading.Lock()
        self.sockets = []
        self.attached = 0  # pages that received the status table, sent once they are attached
        self.running = True

    def open(self, address):
        s = socket.create_connection(("127.0.0.1", self.feed_port), timeout=WAIT,
                                     source_address=(address, 0))
        key = base64.b64encode(os.urandom(16)).decode()
        origin = f"http://127.0.0.1:{self.feed_port}"
        s.sendall((f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{self.feed_port}\r\n"
                   f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                   f"Sec-WebSocket-Version: 13\r\nOrigin: {origin}\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = s.recv(4096)
            if not chunk:
                raise RuntimeError(f"page of {address} closed during the upgrade")
            head += chunk
        status, rest = head.split(b"\r\n\r\n", 1)
        if b" 101 " not in status.split(b"\r\n")[0]:
            raise RuntimeError(f"page of {address}: {status.splitlines()[0]!r}")
        s.setblocking(False)
        self.sockets.append(s)
        self.selector.register(s, selectors.EVENT_READ, [rest])

    def run(self):
        while self.running:
            for key, _ in self.selector.select(0.1):
                try:
                    chunk = key.fileobj.recv(65536)
                except BlockingIOError:
                    continue
                now = time.perf_counter()
                if not chunk:
                    self.selector.unregister(key.fileobj)
                    continue
                key.data[0] += chunk
                self.take_messages(key.data, now)

    def take_messages(self, state, now):
        data = state[0]
        while len(data) >= 2:
            length, offset = data[1] & 0x7F, 2
            if length == 126:
                if len(data) < 4:
                    break
                length, offset = struct.unpack_from(">H", data, 2)[0], 4
            elif length == 127:
                if len(data) < 10:
                    break
                length, offset = struct.unpack_from(">Q", data, 2)[0], 10
            if len(data) < offset + length:
                break
            payload = data[offset:offset + length]
            data = data[offset + length:]
            if b'"type":"online"' in payload:
                with self.lock:
                    self.attached += 1
            marker = payload.find(b'"text":"bench-')
            if b'"type":"title"' in payload and marker >= 0:
                end = payload.index(b'"', marker + 8)
                title = payload[marker + 8:end].decode()
                with self.lock:
                    self.arrivals.setdefault(title, []).append(now)
        state[0] = data

    def received(self, title):
        with self.lock:
            return len(self.arrivals.get(title, []))

    def close(self):
        self.running = False
        for s in self.sockets:
            s.close()


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def run_edits(editor, count, pages=None, tag="x"):
    """count edits, each after the previous acknowledgment; returns edits/s, ack latencies and,
    with pages, (ack -> last page, send -> last page) per edit."""
    day = 46000 + random.randint(0, 1000)
    acks, after_ack, after_send = [], [], []
    start = time.perf_counter()
    for i in range(count):
        title = f"bench-{tag}{i}"
        sent = time.perf_counter()
        editor.edit_and_wait(day, title.encode())
        acked = time.perf_counter()
        acks.append(acked - sent)
        if pages:
            wait_until(lambda: pages.received(title) >= PAGES, f"{title} at every page")
            with pages.lock:
                last = max(pages.arrivals[title])
            after_ack.append(last - acked)
            after_send.append(last - sent)
    elapsed = time.perf_counter() - start
    return count / elapsed, acks, after_ack, after_send


def ms(seconds):
    return f"{seconds * 1000:.2f} ms"


def main():
    binary = sys.argv[1]
    edits = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    with tempfile.TemporaryDirectory() as directory:
        port, feed_port = free_port_pair(), free_port_pair()
        with open(os.path.join(directory, "Server.ini"), "w", newline="") as f:
            f.write(server_ini(port, feed_port, os.path.join(directory, "office.qdb")))
        out = open(os.path.join(directory, "stdout.txt"), "wb")
        daemon = subprocess.Popen([binary, "--dir", directory], stdout=out,
                                  stderr=subprocess.STDOUT)
        natives, pages = [], None
        try:
            log = os.path.join(directory, "stdout.txt")
            wait_until(lambda: "Feed: listening" in open(log, errors="replace").read(),
                       "the feed to listen")
            natives = [Native(native_address(i), port) for i in range(NATIVES)]
            for native in natives[1:]:
                native.start_draining()
            editor = natives[0]
            run_edits(editor, 50, tag="warm")
            threads0, rss0 = proc_status(daemon.pid, "Threads"), proc_status(daemon.pid, "VmRSS")
            rate0, acks0, _, _ = run_edits(editor, edits, tag="a")

            pages = Pages(feed_port)
            for i in range(PAGES):
                pages.open(page_address(i))
            reader = threading.Thread(target=pages.run, daemon=True)
            reader.start()
            wait_until(lambda: pages.attached >= PAGES, "every page to be attached")
            run_edits(editor, 20, pages, tag="warm")
            threads1, rss1 = proc_status(daemon.pid, "Threads"), proc_status(daemon.pid, "VmRSS")
            rate1, acks1, after_ack, after_send = run_edits(editor, edits, pages, tag="b")

            print(f"edits per run: {edits}, {NATIVES} native members, {PAGES} pages")
            print(f"native edits without pages: {rate0:.0f} edits/s, ack p50 "
                  f"{ms(percentile(acks0, 50))}, p99 {ms(percentile(acks0, 99))}")
            print(f"native edits with {PAGES} pages: {rate1:.0f} edits/s, ack p50 "
                  f"{ms(percentile(acks1, 50))}, p99 {ms(percentile(acks1, 99))}"
                  f" ({(rate1 / rate0 - 1) * 100:+.1f} % edits/s)")
            print(f"acknowledgment -> last page: p50 {ms(percentile(after_ack, 50))}, "
                  f"p99 {ms(percentile(after_ack, 99))}")
            print(f"sent -> last page: p50 {ms(percentile(after_send, 50))}, "
                  f"p99 {ms(percentile(after_send, 99))}")
            print(f"server threads: {threads0} with 0 pages, {threads1} with {PAGES} pages")
            print(f"server RSS: {rss0} KiB with 0 pages, {rss1} KiB with {PAGES} pages, "
                  f"{(rss1 - rss0) / PAGES:.1f} KiB per page")
        finally:
            if pages:
                pages.close()
            for native in natives:
                native.close()
            daemon.terminate()
            try:
                daemon.wait(WAIT)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait()
            out.close()


if __name__ == "__main__":
    main()
