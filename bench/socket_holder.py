#!/usr/bin/env python3
"""Holds a listening socket as systemd does for a socket-activated service, and restarts the
server on it: starts COMMAND with the socket as descriptor 3 (LISTEN_FDS=1, LISTEN_PID its own
process id), and every EVERY seconds sends it SIGTERM, waits for it to exit and starts it again
at once on the same socket, RESTARTS times; then stops the last one. While no server runs, new
connections wait in the socket's queue, as under systemd. Prints one line per restart with the
time the socket had no server, and exits with the first non-zero exit status of a server.

Usage: socket_holder.py PORT RESTARTS EVERY COMMAND...
"""
import os
import signal
import socket
import subprocess
import sys
import time


def start(command):
    # sh sets LISTEN_PID to its own process id, which exec keeps for the server.
    return subprocess.Popen(
        ["sh", "-c", 'LISTEN_PID=$$ LISTEN_FDS=1 exec "$@"', "sh"] + command,
        pass_fds=(3,), stdout=subprocess.DEVNULL)


def main():
    port, restarts, every = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    command = sys.argv[4:]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4096)
    if listener.fileno() != 3:
        os.dup2(listener.fileno(), 3)
    status = 0
    server = start(command)
    for i in range(restarts + 1):
        time.sleep(every)
        stopped = time.monotonic()
        server.send_signal(signal.SIGTERM)
        code = server.wait()
        status = status or code
        if i == restarts:
            break
        server = start(command)
        print(f"restart {i + 1}: server exited {code}; "
              f"{(time.monotonic() - stopped) * 1000:.0f} ms from SIGTERM to the new server",
              flush=True)
    sys.exit(status)


if __name__ == "__main__":
    main()
