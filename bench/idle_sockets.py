#!/usr/bin/env python3
"""Opens COUNT connections to 127.0.0.1:PORT from the loopback addresses given, in turn, and
leaves them idle: every second one sends half a request head and nothing more. Writes
"connected N" to STATUS once the connections are made, then, every half second, "open N": how
many the server still holds (neither answered nor closed). Runs until it is killed.

Usage: idle_sockets.py PORT COUNT STATUS SOURCE [SOURCE...]
"""
import os
import resource
import select
import socket
import sys
import time


def write_status(path, text):
    with open(path + ".tmp", "w") as out:
        out.write(text + "\n")
    os.replace(path + ".tmp", path)


def main():
    port, count, status, sources = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    sockets = []
    for i in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((sources[i % len(sources)], 0))
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        sockets.append(s)
    # Wait until every connect has finished (or failed), for at most 30 s.
    poller = select.poll()
    for s in sockets:
        poller.register(s, select.POLLOUT)
    pending = {s.fileno() for s in sockets}
    deadline = time.monotonic() + 30
    while pending and time.monotonic() < deadline:
        for fd, _ in poller.poll(500):
            if fd in pending:
                pending.discard(fd)
                poller.unregister(fd)
    connected = 0
    for i, s in enumerate(sockets):
        if s.fileno() in pending or s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
            continue
        connected += 1
        if i % 2:
            try:
                s.send(b"GET /log/board HTTP/1.1\r\nHo")
            except OSError:
                pass
    write_status(status, "connected %d" % connected)
    # Count the connections that the server still holds open and silent.
    readable = select.poll()
    for s in sockets:
        readable.register(s, select.POLLIN)
    heard = set(pending)
    while True:
        for fd, _ in readable.poll(500):
            heard.add(fd)
            readable.unregister(fd)
        write_status(status, "connected %d open %d" % (connected, len(sockets) - len(heard)))


if __name__ == "__main__":
    main()
