#!/usr/bin/env python3
"""An SMTP peer that stalls, as a mail server does in an outage: "silent"
accepts connections and never greets; "after-data" converses up to DATA,
takes the message and then never answers it. Prints "PORT <n>" once
listening on 127.0.0.1 and "DATA" when a message reached it. Ends after
--seconds at the latest."""
import argparse
import socket
import sys
import threading
import time


def serve(conn, mode):
    held = [conn]
    if mode == "silent":
        return held
    conn.sendall(b"220 stall.test ESMTP\r\n")
    reader = conn.makefile("rb")
    for line in reader:
        verb = line[:4].upper()
        if verb in (b"EHLO", b"HELO"):
            conn.sendall(b"250 stall.test\r\n")
        elif verb in (b"MAIL", b"RCPT"):
            conn.sendall(b"250 OK\r\n")
        elif verb == b"DATA":
            conn.sendall(b"354 go ahead\r\n")
            for body in reader:
                if body in (b".\r\n", b".\n"):
                    print("DATA", flush=True)
                    return held  # the final reply never comes
        else:
            conn.sendall(b"250 OK\r\n")
    return held


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=("silent", "after-data"), required=True)
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT", listener.getsockname()[1], flush=True)
    open_connections = []

    def accept():
        while True:
            conn, _ = listener.accept()
            open_connections.extend(serve(conn, args.mode))

    threading.Thread(target=accept, daemon=True).start()
    time.sleep(args.seconds)
    sys.exit(0)


if __name__ == "__main__":
    main()
