"""Ports for a daemon that a Python test or benchmark starts: none is fixed."""
import random
import socket


def port_free(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def free_ports():
    """The server's port (free together with port + 10, where the server connects back) and a
    free port for its feed that is neither of them."""
    for _ in range(200):
        port, feed_port = random.randint(20000, 49990), random.randint(20000, 49999)
        if feed_port in (port, port + 10):
            continue
        if port_free(port) and port_free(port + 10) and port_free(feed_port):
            return port, feed_port
    raise RuntimeError("no free ports")
