#!/usr/bin/env python3
"""The least a first check must do: log in, STAT, and "TOP n 0" for every
message with up to WINDOW commands in flight. The yardstick the first check
through quenbell-cli is measured against (bench_first_check --minimal-client).

    minimal_pop3_client.py HOST PORT USER PASS [WINDOW] [--same-work PERCENT]

--same-work also asks for what a check cannot do without: the UIDL listing
(the memory of handled mails is kept by UID) and "RETR n" right after the
"TOP n 0" of each payment mail, the payments being spread as
bench_first_check spreads them (mail i is one when i * PERCENT / 100 steps
up). It shows how fast any client could be that makes the server do the
check's work.

Prints "headers N lines L" (with --same-work also "uids U mails M") and exits
0, or says what failed and exits 1.
"""
import socket
import sys


def main():
    args = sys.argv[1:]
    percent = None
    if "--same-work" in args:
        i = args.index("--same-work")
        percent = int(args[i + 1])
        del args[i:i + 2]
    host, port, user, password = args[0], int(args[1]), args[2], args[3]
    window = int(args[4]) if len(args) > 4 else 256
    sock = socket.create_connection((host, port))
    reader = sock.makefile("rb", buffering=1 << 16)
    readline = reader.readline

    def reply():
        line = readline()
        if not line.startswith(b"+OK"):
            sys.exit("minimal client: %r" % line)
        return line

    def skip_multiline():
        n = 0
        while True:
            line = readline()
            if line == b".\r\n" or not line:
                return n
            n += 1

    reply()
    for cmd in (b"USER " + user.encode(), b"PASS " + password.encode()):
        sock.sendall(cmd + b"\r\n")
        reply()
    sock.sendall(b"STAT\r\n")
    count = int(reply().split()[1])
    uids = 0
    if percent is not None:
        sock.sendall(b"UIDL\r\n")
        reply()
        uids = skip_multiline()

    def is_payment(i):
        return percent is not None and i * percent // 100 > (i - 1) * percent // 100

    # The commands in the order they are sent: True for a RETR.
    pending = []
    sent = 0
    batch = max(1, window // 8)

    def top_up():
        nonlocal sent
        in_flight = len(pending) - answered
        if window - in_flight < batch and in_flight > 0:
            return
        out = []
        while sent < count and in_flight + len(out) < window:
            sent += 1
            out.append(b"TOP %d 0\r\n" % sent)
            pending.append(False)
            if is_payment(sent):
                out.append(b"RETR %d\r\n" % sent)
                pending.append(True)
        if out:
            sock.sendall(b"".join(out))

    headers = lines = mails = answered = 0
    top_up()
    while answered < len(pending) or sent < count:
        whole = pending[answered]
        reply()
        n = skip_multiline()
        answered += 1
        if whole:
            mails += 1
        else:
            headers += 1
            lines += n
        top_up()
    sock.sendall(b"QUIT\r\n")
    sock.close()
    if percent is None:
        print("headers %d lines %d" % (headers, lines))
    else:
        print("headers %d lines %d uids %d mails %d" % (headers, lines, uids, mails))


if __name__ == "__main__":
    main()
