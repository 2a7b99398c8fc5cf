#!/usr/bin/env python3
"""Resident size of the server after many distinct board queries, on a fresh
server and after a busy period.

Each run starts $BUILD/quorwell on a fresh copy of the sample office, then
optionally keeps it busy (wrk on /keiziban, /uinfo, /bg.jpg and /uframe with
16 and 64 connections, Connection: close; a Python load when wrk is missing),
then sends QUERIES distinct /keiziban queries from four client threads
(each one a page cache entry of its own) and reads VmRSS / VmHWM from /proc,
sampled every SAMPLE seconds as well. Loopback only; the server is stopped by
its PID; every wrk run has a hard time-out.

  bench/memory_check.py [--build DIR] [--port N] [--busy SECONDS] [--queries N]
                        [--runs N] [--cpu N] [--label TEXT]

--busy 0 measures a fresh server. The environment (MALLOC_ARENA_MAX, say)
is passed on to the server. Prints one markdown table row per run.
"""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import server_bench  # noqa: E402  (the office and request helpers)
BUSY_PAGES = ["/keiziban", "/uinfo?user=yamada", "/bg.jpg", "/uframe?user=yamada"]
BUSY_CONNS = [16, 64]
MAX_BUSY_SECONDS = 30


def say(text):
    print(text, file=sys.stderr, flush=True)


def cpu_seconds(pid):
    """utime + stime of the process, every thread included."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def http_get(port, target, timeout=10.0):
    return server_bench.http_get(port, target, timeout)[0]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, build, work, port, cpu=None):
        home = server_bench.make_office(work, port)
        env = {k: v for k, v in os.environ.items() if not k.startswith("QUORWELL_") and k != "NOTIFY_SOCKET"}
        env.update(QUORWELL_HOME=home + "/", QUORWELL_EVENT_LOG="stderr")
        self.err_path = os.path.join(work, "quorwell.err")
        self.err = open(self.err_path, "wb")
        pin = ["taskset", "-c", str(cpu)] if cpu is not None else []
        self.proc = subprocess.Popen(pin + [os.path.join(build, "quorwell")], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.err, start_new_session=True)
        self.port = port
        deadline = time.time() + 20
        while time.time() < deadline and self.proc.poll() is None:
            try:
                if http_get(port, "/bg.jpg", 1.0) == 200:
                    return
            except OSError:
                time.sleep(0.1)
        self.stop()
        sys.exit(f"quorwell did not answer on port {port}; see {work}/quorwell.err")

    def memory(self):
        return server_bench.resident_kib(self.proc.pid)

    def cpu(self):
        return cpu_seconds(self.proc.pid)

    def stop(self):
        server_bench.stop_process(self.proc)
        self.err.close()
        # A sanitizer build reports on its standard error.
        with open(self.err_path, "rb") as f:
            reports = [line for line in f.read().decode("utf-8", "replace").splitlines() if "Sanitizer" in line]
        for line in reports[:20]:
            say(f"quorwell: {line}")
        return self.proc.returncode, len(reports)


def busy_period(port, seconds):
    """Every (page, connections) pair in turn for an equal share of seconds."""
    pairs = [(p, c) for p in BUSY_PAGES for c in BUSY_CONNS]
    share = max(1, int(seconds / len(pairs)))
    served = 0
    if shutil.which("wrk"):
        for page, conns in pairs:
            argv = ["timeout", "-k", "2", str(share + 10), "wrk", "-t1", f"-c{conns}", f"-d{share}s",
                    "-H", "Connection: close", f"http://127.0.0.1:{port}{page}"]
            out = subprocess.run(argv, capture_output=True, text=True).stdout
            m = re.search(r"(\d+) requests in", out)
            served += int(m.group(1)) if m else 0
        return served
    say("wrk not found: a Python load instead")
    for page, conns in pairs:
        deadline = time.time() + share
        count = [0]
        lock = threading.Lock()

        def client():
            while time.time() < deadline:
                try:
                    http_get(port, page, 5.0)
                except OSError:
                    continue
                with lock:
                    count[0] += 1

        threads = [threading.Thread(target=client) for _ in range(min(conns, 16))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        served += count[0]
    return served


def distinct_queries(server, total, seconds, sample):
    highest = [0]

    def sampler(done):
        while not done.wait(sample):
            highest[0] = max(highest[0], server.memory().get("VmRSS", 0))

    sent, failed = server_bench.distinct_board_queries(server.port, total, seconds, sampler)
    return sent, failed, highest[0]


def mib(kib):
    return f"{kib / 1024:.1f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.environ.get("BUILD", os.path.join(ROOT, "build")))
    parser.add_argument("--port", type=int, default=0, help="0: a free one")
    parser.add_argument("--busy", type=float, default=0, help=f"seconds of load first, at most {MAX_BUSY_SECONDS}")
    parser.add_argument("--queries", type=int, default=100000)
    parser.add_argument("--seconds", type=float, default=300, help="bound on the query phase")
    parser.add_argument("--sample", type=float, default=0.5, help="seconds between VmRSS samples")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--cpu", type=int, help="pin the server to this CPU, as the whole-server benchmark does")
    parser.add_argument("--label", default="")
    args = parser.parse_args()
    busy = min(max(args.busy, 0), MAX_BUSY_SECONDS)

    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, frame: sys.exit(128 + number))
    label = args.label or ("fresh server" if busy == 0 else f"after {busy:.0f} s busy")
    print("| when | run | busy requests | before | after busy | after queries | highest sampled | peak (VmHWM) "
          "| queries (not 200) | seconds | server CPU s |")
    print("|" + "---|" * 11)
    for run in range(1, args.runs + 1):
        with tempfile.TemporaryDirectory(prefix="quor-memory-") as work:
            server = Server(os.path.abspath(args.build), work, args.port or free_port(), args.cpu)
            try:
                before = server.memory()
                served = busy_period(server.port, busy) if busy > 0 else 0
                after_busy = server.memory()
                started, cpu = time.time(), server.cpu()
                sent, failed, highest = distinct_queries(server, args.queries, args.seconds, args.sample)
                elapsed, cpu = time.time() - started, server.cpu() - cpu
                after = server.memory()
                highest = max(highest, after.get("VmRSS", 0))
            finally:
                code, reports = server.stop()
        if code != 0 or reports:
            say(f"run {run}: quorwell ended with code {code}, {reports} sanitizer report lines")
        print(f"| {label} | {run} | {served} | {mib(before['VmRSS'])} | {mib(after_busy['VmRSS'])} "
              f"(peak {mib(after_busy['VmHWM'])}) | {mib(after['VmRSS'])} | {mib(highest)} | {mib(after['VmHWM'])} "
              f"| {sent} ({failed}) | {elapsed:.0f} | {cpu:.1f} |", flush=True)


if __name__ == "__main__":
    main()
