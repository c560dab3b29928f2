#!/usr/bin/python3
"""Answers ICMP echo requests after a delay that standard input sets.

Runs in a namespace whose kernel ignores echo requests
(net.ipv4.icmp_echo_ignore_all=1). Each line "MS" on standard input sets the
delay of the answers to requests that arrive from then on. Prints "READY"
once it listens. Ends at the end of standard input.
"""
import heapq
import os
import select
import socket
import sys
import time


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(int.from_bytes(data[i:i + 2], "big") for i in range(0, len(data), 2))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (~total) & 0xFFFF


def reply_to(packet):
    """The echo reply for an IP packet holding an echo request, or None."""
    header = (packet[0] & 0x0F) * 4
    icmp = packet[header:]
    if len(icmp) < 8 or icmp[0] != 8 or icmp[1] != 0:
        return None
    body = b"\0\0\0\0" + icmp[4:]
    value = checksum(body)
    return body[:2] + value.to_bytes(2, "big") + body[4:]


def main():
    delay = float(sys.argv[1]) / 1000 if len(sys.argv) > 1 else 0.0
    sock = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    print("READY", flush=True)
    stdin = sys.stdin.fileno()
    pending = []  # (due, sequence, address, reply)
    count = 0
    while True:
        timeout = max(0.0, pending[0][0] - time.monotonic()) if pending else None
        ready, _, _ = select.select([sock, stdin], [], [], timeout)
        if stdin in ready:
            line = os.read(stdin, 256)
            if not line:
                return
            for word in line.split():
                delay = float(word) / 1000
        if sock in ready:
            packet, (address, _) = sock.recvfrom(65535)
            reply = reply_to(packet)
            if reply is not None:
                count += 1
                heapq.heappush(pending, (time.monotonic() + delay, count, address, reply))
        while pending and pending[0][0] <= time.monotonic():
            _, _, address, reply = heapq.heappop(pending)
            sock.sendto(reply, (address, 0))


if __name__ == "__main__":
    main()
