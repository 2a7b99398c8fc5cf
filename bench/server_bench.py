#!/usr/bin/env python3
"""Whole-server benchmark: build/quorwell on a copy of the sample office beside
Debian's nginx serving the same bytes as static files, twice: as an expert
tunes it (one worker, deferred accept, reuseport, open_file_cache, buffered
log) and as Debian ships it; and beside the floor, bench/bare_server.c (a
canned answer, no parsing, no log). One request per connection, access logs
on, the servers pinned to one CPU and wrk to the other. Run by
bench/server_vs_nginx.sh, which installs what it needs.

Rounds rotate the servers on every (page, connections) pair, so drift on a
shared machine falls on all; each figure is kept with the load average and
the CPU that other processes took meanwhile. Then, on a server of its own,
WATCHERS open event feeds (bench/feed_watchers.c): the board's requests per
second with them and without, the resident size they add, and the time from
a client's rename of a person file to each feed's event. Last, the resident
size of our server after MEMORY_QUERIES distinct board queries. Everything
started is stopped by its PID; every run is bounded by a hard time-out.
"""

import datetime
import os
import platform
import re
import resource
import select
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
DURATION = min(env_int("DURATION", 5), 30)
CONNS = [int(c) for c in os.environ.get("CONNS", "16 64").split()]
PAUSE = float(os.environ.get("PAUSE", "1"))
PORT = env_int("PORT", 18290)
NGINX_PORT = PORT + 1
TUNED_PORT = PORT + 2
BARE_PORT = PORT + 3
WATCH_PORT = PORT + 4
WATCHERS = env_int("WATCHERS", 2000)
WATCH_CONNS = env_int("WATCH_CONNS", 16)
CHANGES = env_int("CHANGES", 5)  # client changes per round, each timed at every feed
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
    ("/api/v1/persons", "/api/v1/persons", "api/v1/persons", True),
]
# The floor answers one canned page: the board's bytes.
BARE_PAGE = "/keiziban"
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


def nginx_conf(www, name, port, tuned):
    """Debian's defaults with keep-alive off and the access log on; tuned, as
    an expert sets it up for this load: one worker pinned to the servers' CPU
    (as ours runs), accept deferred until the request has come, a listener of
    its own (reuseport), open files and their metadata cached, the access log
    written in 64 KiB blocks."""
    conf = os.path.join(OUT, f"{name}.conf")
    tmp = os.path.join(OUT, f"{name}-tmp")
    os.makedirs(tmp, exist_ok=True)
    if tuned:
        head = f"worker_processes 1;\nworker_cpu_affinity {1 << SERVER_CPU:b};\n"
        listen = f"listen 127.0.0.1:{port} deferred reuseport;"
        extra = ("open_file_cache max=1024 inactive=60s;\n  open_file_cache_valid 60s;\n"
                 "  open_file_cache_errors on;\n  tcp_nodelay on;\n")
        log = f"access_log {OUT}/{name}-access.log combined buffer=64k;"
    else:
        head = "worker_processes 2;\n"
        listen = f"listen 127.0.0.1:{port};"
        extra = ""
        log = f"access_log {OUT}/{name}-access.log;"
    with open(conf, "w") as f:
        f.write(f"""# keep-alive off, access log on (combined format); {'tuned' if tuned else 'Debian defaults otherwise'}.
{head}daemon off;
pid {OUT}/{name}.pid;
error_log {OUT}/{name}-error.log warn;
events {{ worker_connections 4096; }}
http {{
  types {{ image/jpeg jpg; }}
  default_type "text/html; charset=SJIS";
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 0;
  {extra}  {log}
  client_body_temp_path {tmp}/body;
  proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi;
  uwsgi_temp_path {tmp}/uwsgi;
  scgi_temp_path {tmp}/scgi;
  server {{
    {listen}
    root {www};
    location /api/ {{ default_type application/json; }}
  }}
}}
""")
    return conf


# ------------------------------------------------------------------ runs

LATENCY = re.compile(r"^\s+(50|99)%\s+([\d.]+)(us|ms|s)\s*$", re.M)


def to_ms(value, unit):
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


def one_wrk(server, port, target, conns, log_name, also=()):
    ours = set(server.pids()) | {os.getpid()} | set(also)
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


def measured(srv, port, target, conns, log_name, also=()):
    """One wrk run, redone while others took more than QUIET_MAX % of a core
    (RETRIES times at most); the quietest attempt, and every attempt's count."""
    row, served = None, 0
    for attempt in range(RETRIES + 1):
        tried = one_wrk(srv, port, target, conns, f"{log_name}-t{attempt}.txt", also)
        served += tried["requests"]
        if row is None or tried["other_pct"] < row["other_pct"]:
            row = tried
        if tried["other_pct"] <= QUIET_MAX:
            break
        if attempt < RETRIES:
            say(f"  (others took {tried['other_pct']:.0f}% of a core: again)")
            time.sleep(PAUSE)
    return row, served


def readline_within(proc, seconds):
    ready, _, _ = select.select([proc.stdout], [], [], seconds)
    return proc.stdout.readline().decode().strip() if ready else ""


def watchers_phase(env):
    """On a server of its own: the board with WATCHERS open feeds and without,
    back to back (the order swapped every other round); the resident size the
    feeds add; then CHANGES client changes of a person file, each timed from
    the rename to the event at every feed."""
    work = os.path.join(OUT, "watch")
    os.makedirs(work, exist_ok=True)
    home = make_office(work, WATCH_PORT)
    office = os.path.join(work, "office")
    env = dict(env, QUORWELL_HOME=home + "/")
    srv = Server("quorwell-watch", [os.path.join(BUILD, "quorwell")], env=env)
    rows, feeds, served = [], [], 0
    try:
        if not wait_up(WATCH_PORT, srv.proc):
            sys.exit(f"quorwell did not answer; see {OUT}/quorwell-watch.err")
        for _ in range(20):
            http_get(WATCH_PORT, "/keiziban")
        for r in range(1, RUNS + 1):
            say(f"== watchers, round {r} of {RUNS}")
            order = [False, True] if r % 2 else [True, False]
            for with_feeds in order:
                if not with_feeds:
                    row, n = measured(srv, WATCH_PORT, "/keiziban", WATCH_CONNS, f"wrk-watch-none-r{r}")
                    served += n
                    row.update(round=r, feeds=0)
                    rows.append(row)
                    say(f"  board, no feeds   {row['rps']:8.0f} req/s cpu {row['cpu_us']:.1f} µs/resp "
                        f"others {row['other_pct']:.0f}%")
                    time.sleep(PAUSE)
                    continue
                time.sleep(0.5)
                before = resident_kib(srv.proc.pid)
                client = subprocess.Popen(
                    ["timeout", "-k", "2", "600", "taskset", "-c", str(CLIENT_CPU),
                     os.path.join(BUILD, "bench", "feed_watchers"), str(WATCH_PORT), str(WATCHERS), office, "aoki"],
                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, start_new_session=True)
                try:
                    ready = readline_within(client, 90)
                    m = re.match(r"ready (\d+) failed (\d+)", ready)
                    if not m:
                        sys.exit(f"feed_watchers did not get ready: {ready!r}")
                    time.sleep(1.0)
                    after = resident_kib(srv.proc.pid)
                    feed = {"round": r, "open": int(m.group(1)), "failed": int(m.group(2)),
                            "added_kib": after["VmRSS"] - before["VmRSS"]}
                    row, n = measured(srv, WATCH_PORT, "/keiziban", WATCH_CONNS, f"wrk-watch-feeds-r{r}",
                                      also=(client.pid,))
                    served += n
                    row.update(round=r, feeds=feed["open"])
                    rows.append(row)
                    client.stdin.write(f"change {CHANGES}\n".encode())
                    client.stdin.flush()
                    line = readline_within(client, 15 * CHANGES + 10)
                    m = re.match(r"latency n=(\d+) missed=(\d+) p50=([\d.]+) p99=([\d.]+) max=([\d.]+)", line)
                    if not m:
                        sys.exit(f"feed_watchers did not report: {line!r}")
                    feed.update(samples=int(m.group(1)), missed=int(m.group(2)), p50=float(m.group(3)),
                                p99=float(m.group(4)), max=float(m.group(5)))
                    feeds.append(feed)
                    client.stdin.write(b"quit\n")
                    client.stdin.flush()
                    client.wait(timeout=30)
                finally:
                    stop_process(client)
                say(f"  board, {feed['open']} feeds {row['rps']:8.0f} req/s cpu {row['cpu_us']:.1f} µs/resp "
                    f"others {row['other_pct']:.0f}%; +{feed['added_kib'] / 1024:.1f} MiB; change to event "
                    f"p50 {feed['p50']:.1f} ms p99 {feed['p99']:.1f} ms max {feed['max']:.1f} ms, "
                    f"{feed['missed']} missed")
                time.sleep(PAUSE + 1)
    finally:
        srv.stop()
    return rows, feeds


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


SERVERS = ["quorwell", "nginx-tuned", "nginx", "bare"]


def report(rows, memory, watch_rows, feeds, checks, bad_pages, logs, env_lines):
    lines = []
    lines.append("| page | conns | quorwell req/s (min-max) | tuned nginx req/s (min-max) | stock nginx req/s (min-max) "
                 "| floor req/s (min-max) | q / tuned median (min-max) | q / stock median (min-max) "
                 "| q / floor median | p99 ms q / t / s | server CPU µs/resp q / t / s / floor "
                 "| CPU0 busy µs/resp q / t / s / floor | load avg (min-max) | others' CPU % max | errors q / t / s "
                 "| target |")
    lines.append("|" + "---|" * 16)
    med = lambda rs, k: statistics.median(r[k] for r in rs) if rs else 0.0
    board_cpu = {}
    for label, _, _, cached in PAGES:
        for c in CONNS:
            by = {name: [r for r in rows if r["page"] == label and r["conns"] == c and r["server"] == name]
                  for name in SERVERS}
            q = by["quorwell"]
            if not q:
                continue

            def ratios(ref_name, key="rps"):
                out = []
                for r in q:
                    ref = [x for x in by[ref_name] if x["round"] == r["round"]]
                    if ref and ref[0][key] > 0:
                        out.append(r[key] / ref[0][key])
                return spread(out) if out else None

            def rps(name):
                v = spread([r["rps"] for r in by[name]]) if by[name] else None
                return f"{v[0]:.0f} ({v[1]:.0f}-{v[2]:.0f})" if v else "-"

            def ratio_text(v):
                return f"{v[0]:.2f} ({v[1]:.2f}-{v[2]:.2f})" if v else "-"

            def figures(key, names):
                return " / ".join(f"{med(by[n], key):.1f}" if by[n] else "-" for n in names)

            tuned, stock, floor = ratios("nginx-tuned"), ratios("nginx"), ratios("bare")
            cpu_q = med(q, "cpu_us")
            if label == "/keiziban":
                board_cpu[c] = cpu_q
            p99_q, p99_t = med(q, "p99"), med(by["nginx-tuned"], "p99")
            loads = [r["load"] for n in SERVERS for r in by[n]]
            # Only runs without errors, on answers checked equal, count.
            clean = sum(r["errors"] for r in q) == 0 and label not in bad_pages
            if cached:
                ok = clean and tuned is not None and tuned[0] >= 0.95 and cpu_q <= 50 and p99_q <= p99_t
                target = "≥0.95x tuned, ≤50 µs, p99 ≤ tuned"
                if label.startswith("/api/") and c in board_cpu:
                    share = cpu_q / board_cpu[c] if board_cpu[c] else 0
                    ok = ok and share <= 1.10
                    target += f", CPU ≤1.10x board's ({share:.2f}x)"
                target += ": " + ("met" if ok else "missed")
            else:
                ok = clean and tuned is not None and tuned[0] >= 0.7
                target = "≥0.7x tuned: " + ("met" if ok else "missed")
            lines.append(
                f"| {label}{' (cached)' if cached else ' (uncached)'} | {c} "
                f"| {rps('quorwell')} | {rps('nginx-tuned')} | {rps('nginx')} | {rps('bare')} "
                f"| {ratio_text(tuned)} | {ratio_text(stock)} | {f'{floor[0]:.2f}' if floor else '-'} "
                f"| {figures('p99', SERVERS[:3])} "
                f"| {figures('cpu_us', SERVERS)} | {figures('core_us', SERVERS)} "
                f"| {statistics.median(loads):.1f} ({min(loads):.1f}-{max(loads):.1f}) "
                f"| {max(r['other_pct'] for n in SERVERS for r in by[n]):.0f} "
                f"| {' / '.join(str(sum(r['errors'] for r in by[n])) for n in SERVERS[:3])} | {target} |")
    text = "\n".join(env_lines) + "\n\n" + "\n".join(lines) + "\n"
    if feeds:
        text += (f"\nBoard with {WATCHERS} open event feeds and without (wrk -c{WATCH_CONNS} on /keiziban, a server of "
                 "its own, back to back, the order swapped every other round); resident size the feeds add (VmRSS "
                 f"once all were greeted, less VmRSS before they connected); then {CHANGES} client changes of a "
                 "person file (a temporary file renamed over it), each timed from the rename to the change event "
                 "at every feed:\n\n")
        text += ("| round | feeds open (failed) | RSS added MiB | board req/s without | with | ratio "
                 "| server CPU µs/resp without / with | change to event p50 ms | p99 ms | max ms | events missed "
                 "| others' CPU % max |\n")
        text += "|" + "---|" * 12 + "\n"
        ratio_list = []
        for f in feeds:
            without = [r for r in watch_rows if r["round"] == f["round"] and r["feeds"] == 0]
            with_ = [r for r in watch_rows if r["round"] == f["round"] and r["feeds"] > 0]
            if not without or not with_:
                continue
            ratio = with_[0]["rps"] / without[0]["rps"] if without[0]["rps"] else 0
            ratio_list.append(ratio)
            text += (f"| {f['round']} | {f['open']} ({f['failed']}) | {f['added_kib'] / 1024:.1f} "
                     f"| {without[0]['rps']:.0f} | {with_[0]['rps']:.0f} | {ratio:.2f} "
                     f"| {without[0]['cpu_us']:.1f} / {with_[0]['cpu_us']:.1f} "
                     f"| {f['p50']:.1f} | {f['p99']:.1f} | {f['max']:.1f} | {f['missed']} "
                     f"| {max(without[0]['other_pct'], with_[0]['other_pct']):.0f} |\n")
        all_open = all(f["open"] == WATCHERS and f["missed"] == 0 for f in feeds)
        worst_p99 = max(f["p99"] for f in feeds)
        worst_rss = max(f["added_kib"] for f in feeds) / 1024
        rr = spread(ratio_list) if ratio_list else (0, 0, 0, 0)
        text += (f"\nTargets: change to event p99 under 1 s (worst round {worst_p99:.0f} ms): "
                 f"{'met' if all_open and worst_p99 < 1000 else 'missed'}; board with the feeds ≥0.9x without "
                 f"(median {rr[0]:.2f}, {rr[1]:.2f}-{rr[2]:.2f}): {'met' if rr[0] >= 0.9 else 'missed'}; RSS added "
                 f"under 32 MiB (worst round {worst_rss:.1f} MiB): {'met' if worst_rss < 32 else 'missed'}"
                 f"{'' if all_open else '; not every feed opened or heard every change'}.\n")
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


def raise_file_limit():
    """Room for the feeds, the client's and the server's (both inherit it)."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = WATCHERS + 4096
    if soft >= want:
        return f"RLIMIT_NOFILE {soft} (enough, left as it was)"
    new = want if hard == resource.RLIM_INFINITY else min(want, hard)
    resource.setrlimit(resource.RLIMIT_NOFILE, (new, hard))
    return f"RLIMIT_NOFILE raised from {soft} to {new} for the servers and the client"


def main():
    # Stopped from outside: still stop the servers (the finally below).
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda number, frame: sys.exit(128 + number))
    os.makedirs(os.path.join(OUT, "raw"), exist_ok=True)
    limit_note = raise_file_limit()
    www = os.path.join(OUT, "www")
    shutil.rmtree(www, ignore_errors=True)
    os.makedirs(www)
    home = make_office()
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUORWELL_") and k != "NOTIFY_SOCKET"}
    env.update(QUORWELL_HOME=home + "/", QUORWELL_EVENT_LOG="stderr")
    for port in (PORT, NGINX_PORT, TUNED_PORT, BARE_PORT, WATCH_PORT):
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
            os.makedirs(os.path.dirname(os.path.join(www, name)), exist_ok=True)
            with open(os.path.join(www, name), "wb") as f:
                f.write(body)
        os.chmod(OUT, 0o755)
        for d, _, names in os.walk(www):
            os.chmod(d, 0o755)
            for n in names:
                os.chmod(os.path.join(d, n), 0o644)
        board_file = os.path.join(www, [p[2] for p in PAGES if p[0] == BARE_PAGE][0]) if any(
            p[0] == BARE_PAGE for p in PAGES) else os.path.join(www, PAGES[0][2])
        ports = {"quorwell": PORT}
        started = {"quorwell": ours}
        for name, port, tuned in (("nginx", NGINX_PORT, False), ("nginx-tuned", TUNED_PORT, True)):
            open(os.path.join(OUT, f"{name}-access.log"), "w").close()
            srv = Server(name, ["nginx", "-e", os.path.join(OUT, f"{name}-error.log"), "-c",
                                nginx_conf(www, name, port, tuned)])
            servers.append(srv)
            if not wait_up(port, srv.proc, PAGES[0][1]):
                sys.exit(f"{name} did not answer; see {OUT}/{name}-error.log")
            ports[name], started[name] = port, srv
        bare = Server("bare", [os.path.join(BUILD, "bench", "bare_server"), str(BARE_PORT), board_file])
        servers.append(bare)
        if not wait_up(BARE_PORT, bare.proc, BARE_PAGE):
            sys.exit(f"bare_server did not answer; see {OUT}/bare.err")
        ports["bare"], started["bare"] = BARE_PORT, bare

        checks, bad_pages = [], set()
        for label, target, name, _ in PAGES:
            for srv_name in SERVERS:
                if srv_name == "bare" and label != BARE_PAGE:
                    continue
                status, headers, body = http_get(ports[srv_name], target)
                same = body == open(os.path.join(www, name), "rb").read()
                if status != 200 or not same:
                    bad_pages.add(label)
                checks.append(f"{srv_name} {target}: status {status}, Content-Length {headers.get('content-length')} "
                              f"for {len(body)} bytes, Connection: {headers.get('connection', '-')}, "
                              f"{'same bytes' if same else 'bytes differ from the saved copy'}")

        rows = []
        served = {name: 0 for name in SERVERS}  # every attempt's responses, for the log check
        for r in range(1, RUNS + 1):
            say(f"== round {r} of {RUNS}")
            for label, target, _, _ in PAGES:
                for c in CONNS:
                    names = [n for n in SERVERS if n != "bare" or label == BARE_PAGE]
                    shift = (r - 1) % len(names)
                    for name in names[shift:] + names[:shift]:
                        row, n = measured(started[name], ports[name], target, c,
                                          f"wrk-{name}-{label.strip('/').replace('/', '_')}-c{c}-r{r}")
                        served[name] += n
                        row.update(server=name, page=label, conns=c, round=r)
                        rows.append(row)
                        say(f"  {name:11} {label:16} c={c:<3} {row['rps']:8.0f} req/s p50 {row['p50']:.2f} ms "
                            f"p99 {row['p99']:.2f} ms cpu {row['cpu_us']:.1f} µs/resp errors {row['errors']} "
                            f"load {row['load']:.1f} others {row['other_pct']:.0f}%")
                        time.sleep(PAUSE)

        memory = None
        if MEMORY_QUERIES > 0:
            say(f"== {MEMORY_QUERIES} distinct board queries")
            memory = memory_phase(ours)

        for s in servers:
            s.stop()
        servers = []
        watch_rows, feeds = [], []
        if WATCHERS > 0:
            watch_rows, feeds = watchers_phase(env)
        with open(os.path.join(home, "QUOR.LOG"), "rb") as f:
            our_lines = sum(1 for line in f.read().split(b"\r\n") if b" 127.0.0.1 /" in line)
        extra = memory["queries"] if memory else 0
        logs = [f"quorwell QUOR.LOG: {our_lines} request lines for {served['quorwell']} responses counted by wrk "
                f"+ {extra} memory queries (plus the checks' few)"]
        for name in ("nginx-tuned", "nginx"):
            with open(os.path.join(OUT, f"{name}-access.log"), "rb") as f:
                count = f.read().count(b"\n")
            logs.append(f"{name} access log: {count} lines for {served[name]} responses counted by wrk "
                        f"(plus the checks' few)")

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
            f"{nginx_version}; {' '.join(wrk_version)}; {limit_note}.",
            f"wrk -t1 -cN -d{DURATION}s -H 'Connection: close' --latency; servers on CPU {SERVER_CPU}, wrk on CPU "
            f"{CLIENT_CPU}; {RUNS} rounds, the servers taking turns on every (page, connections) pair, the first "
            "one moving on each round; medians over the rounds; ratios within the same round. Tuned nginx: one "
            "worker on the servers' CPU, listen deferred reuseport, open_file_cache, access_log buffer=64k. "
            f"Floor: bench/bare_server.c, the {BARE_PAGE} bytes canned.",
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
        text = report(rows, memory, watch_rows, feeds, checks, bad_pages, logs, env_lines)
        with open(os.path.join(OUT, "results.md"), "w") as f:
            f.write(text)
        print(text)
        print(f"(raw wrk output in {OUT}/raw)")
    finally:
        for s in servers:
            s.stop()


if __name__ == "__main__":
    main()
