#!/usr/bin/env python3
"""The least a first check must do: log in, STAT, and "TOP n 0" for every
message with up to WINDOW commands in flight. The yardstick the first check
through quenbell-cli is measured against (bench_first_check --minimal-client).

    minimal_pop3_client.py HOST PORT USER PASS [WINDOW]

Prints "headers N lines L" and exits 0, or says what failed and exits 1.
"""
import socket
import sys


def main():
    host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    window = int(sys.argv[5]) if len(sys.argv) > 5 else 256
    sock = socket.create_connection((host, port))
    reader = sock.makefile("rb", buffering=1 << 16)

    def reply():
        line = reader.readline()
        if not line.startswith(b"+OK"):
            sys.exit("minimal client: %r" % line)
        return line

    reply()
    for cmd in (b"USER " + user.encode(), b"PASS " + password.encode()):
        sock.sendall(cmd + b"\r\n")
        reply()
    sock.sendall(b"STAT\r\n")
    count = int(reply().split()[1])

    sent = 0
    batch = max(1, window // 8)

    def top_up(in_flight):
        nonlocal sent
        if window - in_flight < batch and in_flight > 0:
            return
        out = []
        while sent < count and in_flight + len(out) < window:
            sent += 1
            out.append(b"TOP %d 0\r\n" % sent)
        if out:
            sock.sendall(b"".join(out))

    headers = lines = 0
    top_up(0)
    readline = reader.readline
    while headers < count:
        reply()
        while True:
            line = readline()
            if line == b".\r\n" or not line:
                break
            lines += 1
        headers += 1
        top_up(sent - headers)
    sock.sendall(b"QUIT\r\n")
    sock.close()
    print("headers %d lines %d" % (headers, lines))


if __name__ == "__main__":
    main()
