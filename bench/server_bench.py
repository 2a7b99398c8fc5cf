#!/usr/bin/env python3
"""Whole-server benchmark: build/quorwell on a copy of the sample office beside
Debian's nginx serving the same bytes as static files, one request per
connection, both with their access log on, both pinned to one CPU and wrk to
the other. Run by bench/server_vs_nginx.sh, which installs what it needs.

Rounds alternate the two servers on every (page, connections) pair, so drift
on a shared machine falls on both; each figure is kept with the load average
and the CPU that other processes took meanwhile. Then the resident size of
our server after MEMORY_QUERIES distinct board queries. Everything started is
stopped by its PID; every wrk run is bounded by a hard time-out.
"""

import datetime
import os
import platform
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

HZ = os.sysconf("SC_CLK_TCK")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

def env_int(name, default):
    return int(os.environ.get(name, default))

BUILD = os.path.abspath(os.environ.get("BUILD", os.path.join(ROOT, "build")))
OUT = os.path.abspath(os.environ.get("OUT", "/tmp/server_vs_nginx"))
RUNS = env_int("RUNS", 3)
DURATION = min(env_int("DURATION", 8), 30)
CONNS = [int(c) for c in os.environ.get("CONNS", "16 64").split()]
PAUSE = float(os.environ.get("PAUSE", "2"))
PORT = env_int("PORT", 18290)
NGINX_PORT = PORT + 1
SERVER_CPU = env_int("SERVER_CPU", 0)
CLIENT_CPU = env_int("CLIENT_CPU", 1)
MEMORY_QUERIES = env_int("MEMORY_QUERIES", 100000)
MEMORY_SECONDS = env_int("MEMORY_SECONDS", 300)
# A run during which other processes took more than QUIET_MAX % of a core is
# redone, up to RETRIES times; the quietest attempt is kept.
QUIET_MAX = float(os.environ.get("QUIET_MAX", "25"))
RETRIES = env_int("RETRIES", 1)

# (label, path on our server, file nginx serves, cached by our server)
PAGES = [
    ("/keiziban", "/keiziban", "keiziban", True),
    ("/uinfo", "/uinfo?user=yamada", "uinfo", True),
    ("/bg.jpg", "/bg.jpg", "bg.jpg", True),
    ("/uframe", "/uframe?user=yamada", "uframe", False),
]
PAGES = [p for p in PAGES if p[0] in os.environ.get("PAGES", " ".join(p[0] for p in PAGES)).split()]


def say(text):
    print(text, file=sys.stderr, flush=True)


# ------------------------------------------------------------------ /proc

def process_ticks(pids):
    """utime + stime of the processes (threads included, reaped ones too)."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError):
            pass
    return total


def children_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def cpu_busy(cpu):
    with open("/proc/stat") as f:
        for line in f:
            if line.startswith(f"cpu{cpu} "):
                v = [int(x) for x in line.split()[1:]]
                return v[0] + v[1] + v[2] + v[5] + v[6] + v[7]  # user nice system irq softirq steal
    return 0


def all_busy_and_steal():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    return v[0] + v[1] + v[2] + v[5] + v[6] + v[7], v[7]


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def foreign_ticks(ours):
    """pid -> CPU ticks of every process that is not ours and not wrk."""
    ticks = {}
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in ours:
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                head, rest = f.read().rsplit(")", 1)
            if head.endswith("(wrk"):
                continue
            fields = rest.split()
            if int(fields[2]) == 0:  # kernel threads: the softirq work is ours too
                continue
            ticks[int(name)] = int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return ticks


def foreign_delta(before, after):
    return sum(t - before.get(p, 0) for p, t in after.items() if t >= before.get(p, 0))


def resident_kib(pid):
    out = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(("VmRSS:", "VmHWM:")):
                out[line.split(":")[0]] = int(line.split()[1])
    return out


# ------------------------------------------------------------------ servers

def stop_process(proc):
    """SIGTERM, then SIGKILL after 10 s: only the process we started and,
    with SIGKILL, the session it leads (nginx's workers outlive a killed
    master otherwise)."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()


class Server:
    def __init__(self, name, argv, env=None, log=None):
        self.name = name
        self.log = log
        out = open(os.path.join(OUT, f"{name}.out"), "wb")
        err = open(os.path.join(OUT, f"{name}.err"), "wb")
        self.proc = subprocess.Popen(["taskset", "-c", str(SERVER_CPU)] + argv, env=env, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err, start_new_session=True)
        say(f"started {name} pid {self.proc.pid}")

    def pids(self):
        return [self.proc.pid] + children_of(self.proc.pid)

    def stop(self):
        stop_process(self.proc)
        say(f"stopped {self.name} pid {self.proc.pid}")


def http_get(port, target, timeout=5.0):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {target} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, body


def wait_up(port, proc, target="/bg.jpg"):
    deadline = time.time() + 20
    while time.time() < deadline:
        if proc.poll() is not None:
            return False
        try:
            if http_get(port, target, 1.0)[0] == 200:
                return True
        except OSError:
            pass
        time.sleep(0.1)
    return False


def make_office(work=None, port=None):
    """A fresh copy of the sample office in work, its kavel.ini on port; returns the home folder."""
    work = work or OUT
    port = port or PORT
    office = os.path.join(work, "office")
    home = os.path.join(work, "home")
    shutil.rmtree(office, ignore_errors=True)
    shutil.rmtree(home, ignore_errors=True)
    shutil.copytree(os.path.join(ROOT, "examples", "office"), office)
    os.makedirs(home)
    ini = os.path.join(office, "kavel.ini")
    with open(ini, "rb") as f:
        text = f.read()
    text = re.sub(rb"(?m)^QUOR_Port=[^\r\n]*", b"QUOR_Port=%d" % port, text)
    with open(ini, "wb") as f:
        f.write(text)
    with open(os.path.join(home, "quor.ini"), "wb") as f:
        f.write(b"QUOR_CommonDirectory=" + office.encode() + b"/\r\n")
    return home


def nginx_conf(www):
    conf = os.path.join(OUT, "nginx.conf")
    tmp = os.path.join(OUT, "nginx-tmp")
    os.makedirs(tmp, exist_ok=True)
    with open(conf, "w") as f:
        f.write(f"""# keep-alive off, access log on (combined format, unbuffered), Debian defaults otherwise.
worker_processes 2;
daemon off;
pid {OUT}/nginx.pid;
error_log {OUT}/nginx-error.log warn;
events {{ worker_connections 4096; }}
http {{
  types {{ image/jpeg jpg; }}
  default_type "text/html; charset=SJIS";
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  access_log {OUT}/nginx-access.log;
  client_body_temp_path {tmp}/body;
  proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi;
  uwsgi_temp_path {tmp}/uwsgi;
  scgi_temp_path {tmp}/scgi;
  server {{
    listen 127.0.0.1:{NGINX_PORT};
    root {www};
  }}
}}
""")
    return conf


# ------------------------------------------------------------------ runs

LATENCY = re.compile(r"^\s+(50|99)%\s+([\d.]+)(us|ms|s)\s*$", re.M)


def to_ms(value, unit):
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


def one_wrk(server, port, target, conns, log_name):
    ours = set(server.pids()) | {os.getpid()}
    f0 = foreign_ticks(ours)
    t0, b0, (m0, s0), load = process_ticks(server.pids()), cpu_busy(SERVER_CPU), all_busy_and_steal(), load_average()
    w0 = time.time()
    argv = ["timeout", "-k", "2", str(DURATION + 10), "taskset", "-c", str(CLIENT_CPU), "wrk", "-t1", f"-c{conns}",
            f"-d{DURATION}s", "-H", "Connection: close", "--latency", f"http://127.0.0.1:{port}{target}"]
    out = subprocess.run(argv, capture_output=True, text=True).stdout
    w1 = time.time()
    t1, b1, (m1, s1) = process_ticks(server.pids()), cpu_busy(SERVER_CPU), all_busy_and_steal()
    other = foreign_delta(f0, foreign_ticks(ours)) + (s1 - s0)
    with open(os.path.join(OUT, "raw", log_name), "w") as f:
        f.write(" ".join(argv) + "\n" + out)
    row = {"rps": 0.0, "requests": 0, "p50": 0.0, "p99": 0.0, "errors": 0}
    m = re.search(r"Requests/sec:\s+([\d.]+)", out)
    if m:
        row["rps"] = float(m.group(1))
    m = re.search(r"(\d+) requests in", out)
    if m:
        row["requests"] = int(m.group(1))
    for pct, value, unit in LATENCY.findall(out):
        row["p" + pct] = to_ms(value, unit)
    m = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", out)
    if m:
        row["errors"] += int(m.group(1))
    m = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", out)
    if m:
        row["errors"] += sum(int(x) for x in m.groups())
    n = max(row["requests"], 1)
    row["cpu_us"] = (t1 - t0) * 1e6 / HZ / n
    row["core_us"] = (b1 - b0) * 1e6 / HZ / n
    row["load"] = load
    row["other_pct"] = 100.0 * other / HZ / max(w1 - w0, 0.001)
    row["machine_pct"] = 100.0 * (m1 - m0) / HZ / max(w1 - w0, 0.001)
    return row


def distinct_board_queries(port, total, seconds, during=None):
    """Up to total board queries, each a page cache key of its own, from four
    client threads within seconds; during() runs beside them until they end.
    Returns (queries sent, queries not answered 200)."""
    counter = iter(range(total))
    lock = threading.Lock()
    bad = [0]
    deadline = time.time() + seconds

    def client():
        while time.time() < deadline:
            with lock:
                i = next(counter, None)
            if i is None:
                return
            try:
                status = http_get(port, f"/keiziban?furiganaFilter=&groupFilter=&n={i}", 10.0)[0]
            except OSError:
                status = 0
            if status != 200:
                with lock:
                    bad[0] += 1

    done = threading.Event()
    threads = [threading.Thread(target=client) for _ in range(4)]
    if during:
        threads.append(threading.Thread(target=during, args=(done,)))
    for t in threads:
        t.start()
    for t in threads[:4]:
        t.join()
    done.set()
    for t in threads[4:]:
        t.join()
    return total - sum(1 for _ in counter), bad[0]


def memory_phase(server):
    """MEMORY_QUERIES distinct board queries from a few client threads."""
    before = resident_kib(server.proc.pid)
    started = time.time()
    sent, bad = distinct_board_queries(PORT, MEMORY_QUERIES, MEMORY_SECONDS)
    after = resident_kib(server.proc.pid)
    return {"queries": sent, "failed": bad, "seconds": time.time() - started, "before": before, "after": after}


# ------------------------------------------------------------------ report

def spread(values):
    m = statistics.median(values)
    return m, min(values), max(values), (100.0 * (max(values) - min(values)) / m if m else 0.0)


def report(rows, memory, checks, bad_pages, logs, env_lines):
    lines = []
    lines.append("| page | conns | quorwell req/s (min-max) | nginx req/s (min-max) | ratio median (min-max) "
                 "| p50 ms q / n | p99 ms q / n | p99 ratio median (min-max) | server CPU µs/resp q / n | CPU0 busy µs/resp q / n "
                 "| load avg (min-max) | others' CPU % max | errors q / n | target |")
    lines.append("|" + "---|" * 14)
    for label, _, _, cached in PAGES:
        for c in CONNS:
            q = [r for r in rows if r["page"] == label and r["conns"] == c and r["server"] == "quorwell"]
            n = [r for r in rows if r["page"] == label and r["conns"] == c and r["server"] == "nginx"]
            if not q or not n:
                continue
            ratios, p99_ratios = [], []
            for r in q:
                ref = [x for x in n if x["round"] == r["round"]]
                if ref and ref[0]["rps"] > 0:
                    ratios.append(r["rps"] / ref[0]["rps"])
                if ref and ref[0]["p99"] > 0:
                    p99_ratios.append(r["p99"] / ref[0]["p99"])
            qr, nr = spread([r["rps"] for r in q]), spread([r["rps"] for r in n])
            rr = spread(ratios) if ratios else (0, 0, 0, 0)
            pr = spread(p99_ratios) if p99_ratios else (0, 0, 0, 0)
            med = lambda rs, k: statistics.median(r[k] for r in rs)
            loads = [r["load"] for r in q + n]
            cpu_q = med(q, "cpu_us")
            p99_q, p99_n = med(q, "p99"), med(n, "p99")
            # Only runs without errors, on answers checked equal, count.
            clean = sum(r["errors"] for r in q) == 0 and label not in bad_pages
            if cached:
                ok = clean and rr[0] >= 0.95 and cpu_q <= 50 and p99_q <= p99_n
                target = "≥0.95x, ≤50 µs, p99 ≤ nginx: " + ("met" if ok else "missed")
            else:
                ok = clean and rr[0] >= 0.7
                target = "≥0.7x: " + ("met" if ok else "missed")
            lines.append(
                f"| {label}{' (cached)' if cached else ' (uncached)'} | {c} "
                f"| {qr[0]:.0f} ({qr[1]:.0f}-{qr[2]:.0f}) | {nr[0]:.0f} ({nr[1]:.0f}-{nr[2]:.0f}) "
                f"| {rr[0]:.2f} ({rr[1]:.2f}-{rr[2]:.2f}) "
                f"| {med(q, 'p50'):.2f} / {med(n, 'p50'):.2f} | {p99_q:.2f} / {p99_n:.2f} "
                f"| {pr[0]:.2f} ({pr[1]:.2f}-{pr[2]:.2f}) "
                f"| {cpu_q:.1f} / {med(n, 'cpu_us'):.1f} | {med(q, 'core_us'):.1f} / {med(n, 'core_us'):.1f} "
                f"| {statistics.median(loads):.1f} ({min(loads):.1f}-{max(loads):.1f}) "
                f"| {max(r['other_pct'] for r in q + n):.0f} "
                f"| {sum(r['errors'] for r in q)} / {sum(r['errors'] for r in n)} | {target} |")
    text = "\n".join(env_lines) + "\n\n" + "\n".join(lines) + "\n"
    if memory:
        a, b = memory["after"], memory["before"]
        # A cut-short or failing run proves nothing either way.
        whole = memory["queries"] == MEMORY_QUERIES and memory["failed"] == 0
        verdict = lambda kib: "met" if whole and kib < 64 * 1024 else ("missed" if whole else "not shown")
        text += (f"\nMemory: {memory['queries']} distinct board queries in {memory['seconds']:.0f} s "
                 f"({memory['failed']} not answered 200): resident {b.get('VmRSS', 0) / 1024:.1f} MiB before "
                 f"(peak so far {b.get('VmHWM', 0) / 1024:.1f} MiB), {a.get('VmRSS', 0) / 1024:.1f} MiB after "
                 f"(peak {a.get('VmHWM', 0) / 1024:.1f} MiB); target under 64 MiB: resident after "
                 f"{verdict(a.get('VmRSS', 1 << 30))}, peak {verdict(a.get('VmHWM', 1 << 30))}.\n")
    text += "\nChecks:\n" + "\n".join("- " + c for c in checks + logs) + "\n"
    return text


def main():
    # Stopped from outside: still stop the servers (the finally below).
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, frame: sys.exit(128 + number))
    os.makedirs(os.path.join(OUT, "raw"), exist_ok=True)
    www = os.path.join(OUT, "www")
    shutil.rmtree(www, ignore_errors=True)
    os.makedirs(www)
    home = make_office()
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUORWELL_") and k != "NOTIFY_SOCKET"}
    env.update(QUORWELL_HOME=home + "/", QUORWELL_EVENT_LOG="stderr")
    for port in (PORT, NGINX_PORT):
        with socket.socket() as probe:
            # Connections closed by the last run may linger; a listener may not.
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                sys.exit(f"port {port} is taken: another server would be measured (PORT=... picks others)")
    servers = []
    try:
        ours = Server("quorwell", [os.path.join(BUILD, "quorwell")], env=env)
        servers.append(ours)
        if not wait_up(PORT, ours.proc):
            sys.exit(f"quorwell did not answer; see {OUT}/quorwell.err")
        for _, target, name, _ in PAGES:
            status, _, body = http_get(PORT, target)
            if status != 200:
                sys.exit(f"quorwell answered {status} to {target}")
            with open(os.path.join(www, name), "wb") as f:
                f.write(body)
        os.chmod(OUT, 0o755)
        for d in (www,):
            os.chmod(d, 0o755)
            for n in os.listdir(d):
                os.chmod(os.path.join(d, n), 0o644)
        open(os.path.join(OUT, "nginx-access.log"), "w").close()
        nginx = Server("nginx", ["nginx", "-e", os.path.join(OUT, "nginx-error.log"), "-c", nginx_conf(www)])
        servers.append(nginx)
        if not wait_up(NGINX_PORT, nginx.proc, PAGES[0][1]):
            sys.exit(f"nginx did not answer; see {OUT}/nginx-error.log")

        checks, bad_pages = [], set()
        for label, target, name, _ in PAGES:
            for srv, port in ((ours, PORT), (nginx, NGINX_PORT)):
                status, headers, body = http_get(port, target)
                same = body == open(os.path.join(www, name), "rb").read()
                if status != 200 or not same:
                    bad_pages.add(label)
                checks.append(f"{srv.name} {target}: status {status}, Content-Length {headers.get('content-length')} "
                              f"for {len(body)} bytes, Connection: {headers.get('connection', '-')}, "
                              f"{'same bytes' if same else 'bytes differ from the saved copy'}")

        rows = []
        served_all = served_nginx = 0  # every attempt's responses, for the log check
        for r in range(1, RUNS + 1):
            say(f"== round {r} of {RUNS}")
            for label, target, _, _ in PAGES:
                for c in CONNS:
                    order = [(nginx, NGINX_PORT), (ours, PORT)]
                    if r % 2 == 0:
                        order.reverse()
                    for srv, port in order:
                        row = None
                        for attempt in range(RETRIES + 1):
                            tried = one_wrk(srv, port, target, c,
                                            f"wrk-{srv.name}-{label.strip('/')}-c{c}-r{r}-t{attempt}.txt")
                            served_all += tried["requests"] if srv is ours else 0
                            served_nginx += tried["requests"] if srv is nginx else 0
                            if row is None or tried["other_pct"] < row["other_pct"]:
                                row = tried
                            if tried["other_pct"] <= QUIET_MAX:
                                break
                            if attempt < RETRIES:
                                say(f"  (others took {tried['other_pct']:.0f}% of a core: again)")
                                time.sleep(PAUSE)
                        row.update(server=srv.name, page=label, conns=c, round=r)
                        rows.append(row)
                        say(f"  {srv.name:8} {label:10} c={c:<3} {row['rps']:8.0f} req/s p50 {row['p50']:.2f} ms "
                            f"p99 {row['p99']:.2f} ms cpu {row['cpu_us']:.1f} µs/resp errors {row['errors']} "
                            f"load {row['load']:.1f} others {row['other_pct']:.0f}%")
                        time.sleep(PAUSE)

        memory = None
        if MEMORY_QUERIES > 0:
            say(f"== {MEMORY_QUERIES} distinct board queries")
            memory = memory_phase(ours)

        served = {"quorwell": served_all, "nginx": served_nginx}
        for s in servers:
            s.stop()
        servers = []
        with open(os.path.join(home, "QUOR.LOG"), "rb") as f:
            our_lines = sum(1 for line in f.read().split(b"\r\n") if b" 127.0.0.1 /" in line)
        with open(os.path.join(OUT, "nginx-access.log"), "rb") as f:
            nginx_lines = f.read().count(b"\n")
        extra = memory["queries"] if memory else 0
        logs = [f"quorwell QUOR.LOG: {our_lines} request lines for {served['quorwell']} responses counted by wrk "
                f"+ {extra} memory queries (plus the checks' few)",
                f"nginx access log: {nginx_lines} lines for {served['nginx']} responses counted by wrk "
                f"(plus the checks' few)"]

        cpu = "unknown"
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
        build_type = "?"
        try:
            with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
                m = re.search(r"^CMAKE_BUILD_TYPE:STRING=(.*)$", f.read(), re.M)
                build_type = m.group(1) if m and m.group(1) else "?"
        except OSError:
            pass
        commit = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "describe",
                                 "--always", "--dirty"], capture_output=True, text=True).stdout.strip() or "?"
        wrk_version = subprocess.run(["wrk", "-v"], capture_output=True, text=True).stdout.splitlines()[0:1]
        nginx_version = subprocess.run(["nginx", "-v"], capture_output=True, text=True).stderr.strip()
        env_lines = [
            f"Measured {datetime.datetime.now().astimezone().isoformat(timespec='seconds')} on "
            f"{os.cpu_count()} CPUs ({cpu}), Linux {platform.release()}; quorwell {commit} built {build_type}; "
            f"{nginx_version}; {' '.join(wrk_version)}.",
            f"wrk -t1 -cN -d{DURATION}s -H 'Connection: close' --latency; server on CPU {SERVER_CPU}, wrk on CPU "
            f"{CLIENT_CPU}; {RUNS} rounds, the two servers alternating on every (page, connections) pair; medians "
            f"over the rounds; ratio = quorwell/nginx in the same round.",
            "Server CPU: utime+stime of the server's processes from /proc per response; CPU0 busy: everything the "
            "server's core did (softirq included) per response; load avg: 1-minute load when each run began (this "
            "benchmark itself adds about 2); others' CPU: what processes not ours and steal took, in % of one core "
            f"(a run above {QUIET_MAX:.0f}% was redone up to {RETRIES} times, the quietest attempt kept).",
        ]
        keys = ["server", "page", "conns", "round", "rps", "requests", "p50", "p99", "errors", "cpu_us", "core_us",
                "load", "other_pct"]
        with open(os.path.join(OUT, "rows.tsv"), "w") as f:
            f.write("\t".join(keys) + "\n")
            for r in rows:
                f.write("\t".join(str(r[k]) for k in keys) + "\n")
        text = report(rows, memory, checks, bad_pages, logs, env_lines)
        with open(os.path.join(OUT, "results.md"), "w") as f:
            f.write(text)
        print(text)
        print(f"(raw wrk output in {OUT}/raw)")
    finally:
        for s in servers:
            s.stop()


if __name__ == "__main__":
    main()
