#!/usr/bin/env python3
"""Web pages beside native members, against the real daemon: 10 native members and 200 open
pages (WebSocket members from 127.0.1.1..127.0.1.200) of one group; one native member edits a
title in a loop, waiting for each acknowledgment.

Prints, from one run: the native edit figures (edits/s, acknowledgment latency) without pages
and with the 200 pages open; the time from an edit's acknowledgment (and from its sending) to
its arrival at the last page, p50 and p99; the server's threads and resident memory with 0 and
with 200 pages open, and the memory per page.

Usage: bench_web.py QUORVANE_SERVERD [EDITS]
The pages are read by one process of this program, on the same two cores as the server, so the
arrival times include its own work.
"""
import base64
import multiprocessing
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from free_ports import free_ports  # noqa: E402

PAGES, NATIVES = 200, 10
REQUEST_SIZE, TITLE_EDIT, ACKNOWLEDGMENT = 2351, 2, 3000
WAIT = 20.0


def page_address(i):
    return f"127.0.1.{i + 1}"


def native_address(i):
    return f"127.0.2.{i + 1}"


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


def cpu_seconds(pid):
    """User and system CPU time the process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


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
    """Open WebSocket pages, read in a process of their own (so that their reading does not hold
    the editor's interpreter); for each title it reports when the last page received it."""

    def __init__(self, feed_port):
        self.feed_port = feed_port
        self.reports, child_end = multiprocessing.Pipe(duplex=False)
        self.process = multiprocessing.Process(target=self.run, args=(child_end,), daemon=True)
        self.process.start()
        child_end.close()
        self.next_report(WAIT)  # every page attached

    def next_report(self, limit):
        if not self.reports.poll(limit):
            raise RuntimeError("the pages did not report in time")
        report = self.reports.recv()
        if isinstance(report, str):
            raise RuntimeError(report)
        return report

    def run(self, report):
        try:
            selector = selectors.DefaultSelector()
            for i in range(PAGES):
                selector.register(*self.open(page_address(i)))
            arrivals, attached = {}, 0
            while True:
                for key, _ in selector.select(1.0):
                    chunk = key.fileobj.recv(65536)
                    now = time.perf_counter()
                    if not chunk:
                        report.send(f"a page was closed by the server")
                        return
                    key.data[0] += chunk
                    for payload in take_messages(key.data):
                        if b'"type":"online"' in payload:
                            # The status table comes once the page is attached to the group.
                            attached += 1
                            if attached == PAGES:
                                report.send(("attached", now))
                        marker = payload.find(b'"text":"bench-')
                        if b'"type":"title"' in payload and marker >= 0:
                            title = payload[marker + 8:payload.index(b'"', marker + 8)]
                            arrivals[title] = arrivals.get(title, 0) + 1
                            if arrivals[title] == PAGES:
                                del arrivals[title]
                                report.send((title.decode(), now))
        except (OSError, RuntimeError) as e:
            report.send(f"pages: {e}")

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
        return s, selectors.EVENT_READ, [rest]

    def close(self):
        self.process.terminate()
        self.process.join(WAIT)


def take_messages(state):
    """The complete server frames (unmasked) at the front of state[0], taken off it."""
    data, messages = state[0], []
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
        messages.append(data[offset:offset + length])
        data = data[offset + length:]
    state[0] = data
    return messages


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def run_edits(editor, count, tag, pages=None):
    """count edits, each after the previous acknowledgment. Returns edits/s and the
    acknowledgment latencies; with pages, each edit also waits for its arrival at the last page
    and the times from the acknowledgment and from the sending to it are returned too."""
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
            arrived, last = pages.next_report(WAIT)
            if arrived != title:
                raise RuntimeError(f"{arrived} reached every page while waiting for {title}")
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
        port, feed_port = free_ports()
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
            run_edits(editor, 50, "warm")
            threads0, rss0 = proc_status(daemon.pid, "Threads"), proc_status(daemon.pid, "VmRSS")
            cpu = cpu_seconds(daemon.pid)
            rate0, acks0, _, _ = run_edits(editor, edits, "a")
            cpu0 = cpu_seconds(daemon.pid) - cpu

            pages = Pages(feed_port)
            threads1, rss1 = proc_status(daemon.pid, "Threads"), proc_status(daemon.pid, "VmRSS")
            # The native figures with the pages open: edits back to back, as without them.
            cpu = cpu_seconds(daemon.pid)
            rate1, acks1, _, _ = run_edits(editor, edits, "b")
            for _ in range(edits):
                pages.next_report(WAIT)
            cpu1 = cpu_seconds(daemon.pid) - cpu
            _, _, after_ack, after_send = run_edits(editor, edits, "c", pages)

            print(f"edits per run: {edits}, {NATIVES} native members, {PAGES} pages")
            print(f"native edits without pages: {rate0:.0f} edits/s, ack p50 "
                  f"{ms(percentile(acks0, 50))}, p99 {ms(percentile(acks0, 99))}")
            print(f"native edits with {PAGES} pages: {rate1:.0f} edits/s, ack p50 "
                  f"{ms(percentile(acks1, 50))}, p99 {ms(percentile(acks1, 99))}"
                  f" ({(rate1 / rate0 - 1) * 100:+.1f} % edits/s)")
            print(f"server CPU per edit: {ms(cpu0 / edits)} without pages, "
                  f"{ms(cpu1 / edits)} with {PAGES} pages")
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
