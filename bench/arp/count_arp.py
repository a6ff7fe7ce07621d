#!/usr/bin/env python3
"""Counts the ARP frames that cross one interface, both ways. Runs inside the
bench's host namespace: count_arp.py INTERFACE FILE. On SIGUSR1 it writes
"N COUNT" to FILE, N the number of the request, so that a reader can wait
for the answer to its own, and to FILE.requests a line "ADDRESS REQUESTS"
for each address the requests that came in so far asked for, and to
FILE.order the addresses those requests asked for, one a line, in the order
they came."""
import os
import signal
import socket
import sys

interface, path = sys.argv[1:3]
ETH_P_ARP = 0x0806
sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ARP))
sock.bind((interface, 0))
sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
count = 0
asked = 0
requests = {}  # target address: requests received for it
order = []  # the target of each request received, in turn


def report(*_):
    global asked
    asked += 1
    with open(path + ".requests", "w") as out:
        for target, n in sorted(requests.items()):
            out.write(f"{socket.inet_ntoa(target)} {n}\n")
    with open(path + ".order", "w") as out:
        out.writelines(f"{socket.inet_ntoa(target)}\n" for target in order)
    with open(path + ".new", "w") as out:
        out.write(f"{asked} {count}\n")
    os.replace(path + ".new", path)


signal.signal(signal.SIGUSR1, report)
# The file exists before the first request.
with open(path, "w") as out:
    out.write("0 0\n")
while True:
    try:
        frame, where = sock.recvfrom(64)
    except InterruptedError:
        continue
    count += 1
    # A request (opcode 1) that came in, not one this host sent.
    if (len(frame) >= 42 and where[2] != socket.PACKET_OUTGOING
            and frame[20:22] == b"\x00\x01"):
        target = frame[38:42]
        requests[target] = requests.get(target, 0) + 1
        order.append(target)
