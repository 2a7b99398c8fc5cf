#!/usr/bin/env python3
"""Stand-in presence client for demos: listens on the office's UDP port on
127.0.0.1 and prints every datagram it receives, decoded."""
import argparse
import glob
import os
import re
import select
import socket
import sys
import time


def udp_port_of(office):
    """The port of the UDPMessage line of kavel.ini, 1990 when none."""
    port = 1990
    try:
        with open(os.path.join(office, "kavel.ini"), "rb") as f:
            for raw in f.read().splitlines():
                line = raw.decode("cp932", "replace").strip()
                if line.lower().startswith("udpmessage"):
                    m = re.search(r"port\s*=\s*(\d+)", line, re.I)
                    if m:
                        port = int(m.group(1))
    except OSError:
        pass
    return port


KEYS = {
    b"Kvl3_Msg": [b"Kvl3_Msg", b"Kvl3_Eod"],
    b"Kvl3_Dat": [b"Kvl3_Dat", b"Kvl3_Date", b"Kvl3_Time", b"Kvl3_Icon", b"Kvl3_Locate", b"Kvl3_Eod"],
}


def loopback_addresses(office):
    """The 127.x addresses the office's person files name (the IP value, the
    ninth line), so every person's client is heard; 127.0.0.1 at least."""
    found = {"127.0.0.1"}
    for path in glob.glob(os.path.join(office, "*.kvl")) + glob.glob(os.path.join(office, "*.KVL")):
        try:
            with open(path, "rb") as f:
                lines = f.read().split(b"\0")[0].splitlines()
        except OSError:
            continue
        for line in lines:
            m = re.fullmatch(rb'"(127\.\d{1,3}\.\d{1,3}\.\d{1,3})"', line.strip())
            if m:
                found.add(m.group(1).decode("ascii"))
            elif line.strip().lower() == b'"localhost"':
                found.add("127.0.0.1")
    return sorted(found, key=lambda a: tuple(int(x) for x in a.split(".")))


def decode(data):
    """Pairs (key, value). The key order is fixed per kind, and a value may
    begin with letters, so keys are matched by position, not by pattern."""
    pieces = data.split(b"\x01")[1:]
    if not pieces:
        return []
    order = next((keys for first, keys in KEYS.items()
                  if pieces[0].startswith(first) and not pieces[0].startswith(b"Kvl3_Date")), None)
    pairs = []
    for i, piece in enumerate(pieces):
        key = order[i] if order and i < len(order) and piece.startswith(order[i]) else None
        if key is None:
            pairs.append(("?", piece))
        else:
            pairs.append((key.decode("ascii"), piece[len(key):]))
    return pairs


def show(data, peer):
    stamp = time.strftime("%H:%M:%S")
    pairs = decode(data)
    kinds = {"Kvl3_Msg": "message notice", "Kvl3_Dat": "person data"}
    kind = kinds.get(pairs[0][0], "unknown datagram") if pairs else "empty datagram"
    print(f"[{stamp}] {kind} from {peer[0]}:{peer[1]} ({len(data)} bytes)")
    for key, value in pairs:
        if key == "Kvl3_Eod":
            continue
        text = value.decode("cp932", "replace").replace("\r\n", "\\r\\n")
        print(f"    {key:12} {text}")
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("office", nargs="?", default="examples/office",
                    help="common directory whose kavel.ini names the UDP port")
    ap.add_argument("--port", type=int, help="port to listen on (default: from kavel.ini)")
    ap.add_argument("--host", help="one address to listen on (default: every 127.x address of the person files)")
    args = ap.parse_args()
    args.host_given = args.host is not None
    args.host = args.host or "127.0.0.1"
    if not args.host.startswith("127.") and args.host != "localhost":
        sys.exit("kavel_listener: listens on loopback only")
    port = args.port or udp_port_of(args.office)
    hosts = [args.host] if args.host_given else loopback_addresses(args.office)
    socks = []
    for host in hosts:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((host, port))
        socks.append(sock)
    shown = hosts[0] if len(hosts) == 1 else f"{hosts[0]}..{hosts[-1]} ({len(hosts)} addresses)"
    print(f"kavel_listener: stand-in presence client on udp://{shown}:{port}")
    sys.stdout.flush()
    try:
        while True:
            ready, _, _ = select.select(socks, [], [])
            for sock in ready:
                data, peer = sock.recvfrom(65536)
                to = sock.getsockname()[0]
                print(f"  to {to}:", end=" ")
                show(data, peer)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
