#!/usr/bin/env python3
"""Counts the ARP frames that cross one interface, both ways. Runs inside the
bench's host namespace: count_arp.py INTERFACE FILE. On SIGUSR1 it writes
"N COUNT" to FILE, N the number of the request, so that a reader can wait
for the answer to its own."""
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


def report(*_):
    global asked
    asked += 1
    with open(path + ".new", "w") as out:
        out.write(f"{asked} {count}\n")
    os.replace(path + ".new", path)


signal.signal(signal.SIGUSR1, report)
# The file exists before the first request.
with open(path, "w") as out:
    out.write("0 0\n")
while True:
    try:
        sock.recv(64)
    except InterruptedError:
        continue
    count += 1
