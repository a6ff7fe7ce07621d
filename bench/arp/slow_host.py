#!/usr/bin/env python3
"""Answers ARP requests for one address after a fixed delay, like a host on
a real LAN whose reply takes that long. Runs inside the bench's host
namespace: slow_host.py INTERFACE MAC ADDRESS DELAY_MS"""
import socket
import sys
import time

interface, mac, address, delay_ms = sys.argv[1:5]
mac = bytes.fromhex(mac.replace(":", ""))
address = socket.inet_aton(address)
delay = float(delay_ms) / 1000

ETH_P_ARP = 0x0806
sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ARP))
sock.bind((interface, 0))
while True:
    frame = sock.recv(128)
    # Ethernet (14) + ARP for IPv4 over Ethernet (28); opcode 1 is a request.
    if len(frame) < 42 or frame[20:22] != b"\x00\x01" or frame[38:42] != address:
        continue
    asker_mac, asker_ip = frame[22:28], frame[28:32]
    until = time.perf_counter() + delay
    while time.perf_counter() < until:
        pass
    sock.send(asker_mac + mac + b"\x08\x06" + b"\x00\x01\x08\x00\x06\x04\x00\x02" +
              mac + address + asker_mac + asker_ip)
