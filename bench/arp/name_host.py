#!/usr/bin/env python3
"""Answers the name questions of norvane-cli -n for the hosts of a test
network, some of them badly on purpose. Runs inside the peer namespace of
the names test and benchmark:

    name_host.py MDNS_ADDRESS LOG

Multicast DNS: joins 224.0.0.251 on the interface of MDNS_ADDRESS and answers
one-shot PTR queries by unicast, as responders do, for the addresses in MDNS.
NetBIOS: answers node status requests on port 137 of each address in
NETBIOS, from that address. Each question is logged to LOG as "mdns ADDRESS"
or "netbios ADDRESS"; "ready" once every socket is bound."""
import select
import socket
import struct
import sys
import time

LONGEST = ".".join(["x" * 63] * 3 + ["x" * 61])  # 255 bytes on the wire

# A name, or what to do instead.
MDNS = {
    "198.51.100.2": "printer-2nd-floor.local",
    "198.51.100.4": "other.local",  # also in /etc/hosts, which wins
    "198.51.100.6": "bad\x1b[2J\x07\n.local",
    "198.51.100.9": LONGEST,
    "198.51.100.10": "hostile",
    "198.51.100.12": "late",  # answers 2.5 s late
}
NETBIOS = {
    "198.51.100.2": "PRINTERNB",  # multicast DNS wins
    "198.51.100.3": "WORKSTATION3",
    "198.51.100.7": "\x1b]0;pwn\x07",
    "198.51.100.8": "truncated",
    "198.51.100.10": "hostile",
}


def encode_name(text):
    out = b""
    for label in text.encode("latin-1").split(b"."):
        out += bytes([len(label)]) + label
    return out + b"\0"


def question_end(message):
    at = 12
    while message[at]:
        at += 1 + message[at]
    return at + 5


def reverse_address(message):
    labels, at = [], 12
    while message[at]:
        labels.append(message[at + 1 : at + 1 + message[at]].decode())
        at += 1 + message[at]
    return ".".join(reversed(labels[:4]))


def mdns_answers(query, name):
    header = query[:2] + struct.pack(">HHHHH", 0x8400, 1, 1, 0, 0)
    question = query[12 : question_end(query)]

    def answer(data, length=None):
        size = len(data) if length is None else length
        return header + question + struct.pack(">HHHIH", 0xC00C, 12, 1, 10, size) + data

    if name == "hostile":
        # Garbage too large to read whole, an answer cut short in its name, a
        # name pointing into a loop: none is a name.
        looped = answer(b"")
        loop_at = len(looped)
        return [
            b"\xff" * 20000,
            answer(encode_name("cut-short.local"))[:-6],
            answer(b"\x01y" + struct.pack(">H", 0xC000 | loop_at)),
        ]
    return [answer(encode_name(name))]


def node_status(request, name):
    entries = [("WORKGROUP", 0x00, 0x8400), (name, 0x20, 0x0400), (name, 0x00, 0x0400)]
    data = bytes([len(entries)])
    for text, suffix, flags in entries:
        data += text.encode("latin-1")[:15].ljust(15, b" ") + bytes([suffix])
        data += struct.pack(">H", flags)
    data += b"\0" * 46
    wildcard = b"\x20CK" + b"A" * 30 + b"\0"
    answer = request[:2] + struct.pack(">HHHHH", 0x8400, 0, 1, 0, 0) + wildcard
    answer += struct.pack(">HHIH", 0x21, 1, 0, len(data)) + data
    if name == "truncated":
        return [answer[: len(answer) - len(data) + 10]]
    if name == "hostile":
        return [b"\x00" * 30000, answer[:20]]
    return [answer]


def main():
    mdns_address, log_path = sys.argv[1:3]
    log = open(log_path, "a", buffering=1)
    mdns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    mdns.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    mdns.bind(("", 5353))
    mdns.setsockopt(
        socket.IPPROTO_IP,
        socket.IP_ADD_MEMBERSHIP,
        socket.inet_aton("224.0.0.251") + socket.inet_aton(mdns_address),
    )
    netbios = {}
    for address in NETBIOS:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((address, 137))
        netbios[s] = address
    log.write("ready\n")
    later = []  # (when, socket, datagram, to)
    while True:
        timeout = max(0, min(w for w, *_ in later) - time.monotonic()) if later else None
        readable, _, _ = select.select([mdns, *netbios], [], [], timeout)
        for s in readable:
            message, asker = s.recvfrom(9000)
            if len(message) < 17:
                continue
            if s is mdns:
                address = reverse_address(message)
                log.write(f"mdns {address}\n")
                name = MDNS.get(address)
                if name is None:
                    continue
                delay = 2.5 if name == "late" else 0
                for datagram in mdns_answers(message, name + ".local" if delay else name):
                    later.append((time.monotonic() + delay, s, datagram, asker))
            else:
                log.write(f"netbios {netbios[s]}\n")
                for datagram in node_status(message, NETBIOS[netbios[s]]):
                    later.append((time.monotonic(), s, datagram, asker))
        now = time.monotonic()
        for item in [i for i in later if i[0] <= now]:
            later.remove(item)
            item[1].sendto(item[2], item[3])


main()
