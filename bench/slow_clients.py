#!/usr/bin/env python3
"""The page's answer time while slow clients crowd the server, for one or more builds of
voryx side by side in one run:

    bench/slow_clients.py [--clients 200] [--seconds 15] VORYX [VORYX...]

Each binary serves the virtual modem (`voryx serve --simulate --port 0`, a home of its own).
`--clients` connections from 127.0.0.1, the page's own address, trickle an endless request
head, a byte every 3 s (inside any idle timeout); a connection the server ends is opened
again at the next tick. Meanwhile the token holder asks for /api/state on a new connection
every 50 ms, as the page's script does. Printed per binary: the token holder's answer times
(median, 99th percentile, worst), the requests that got no answer within 5 s, and the
server's threads and resident memory at the end; then the ratios against the first binary.
"""
import argparse
import errno
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def start_server(binary, home):
    env = dict(os.environ, VORYX_HOME=home)
    env.pop("VORYX_DEVICE", None)
    proc = subprocess.Popen([binary, "serve", "--simulate", "--port", "0"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    url = proc.stdout.readline().strip()
    m = re.match(r"http://127\.0\.0\.1:(\d+)/\?token=(\w+)", url)
    if not m:
        proc.kill()
        sys.exit(f"{binary}: no address printed ({url!r})")
    return proc, int(m.group(1)), m.group(2)


def ask(port, head, within=5.0):
    """One request on a new connection; the seconds until the answer's head, or None."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=within) as s:
            s.sendall(head)
            got = b""
            while b"\r\n\r\n" not in got:
                chunk = s.recv(4096)
                if not chunk:
                    return None
                got += chunk
            return time.monotonic() - start if got.startswith(b"HTTP/1.1 200") else None
    except OSError:
        return None


def trickle(port, count, stop):
    clients = [None] * count
    while not stop.is_set():
        for i in range(count):
            c = clients[i]
            if c is not None:
                try:
                    if c.recv(1, socket.MSG_DONTWAIT | socket.MSG_PEEK) is not None:
                        c.close()  # answered or closed by the server
                        c = None
                except BlockingIOError:
                    pass
                except OSError:
                    c.close()
                    c = None
            if c is None:
                try:
                    c = socket.create_connection(("127.0.0.1", port), timeout=1)
                    c.sendall(b"GET /api/state HTTP/1.1\r\nX-Slow: ")
                except OSError:
                    c = None
            if c is not None:
                try:
                    c.send(b"a", socket.MSG_DONTWAIT)
                except OSError:
                    c.close()
                    c = None
            clients[i] = c
        stop.wait(3.0)
    for c in clients:
        if c is not None:
            c.close()


def measure(binary, clients, seconds):
    with tempfile.TemporaryDirectory() as home:
        proc, port, token = start_server(binary, home)
        try:
            cookie = f"voryx_{port}={token}"
            head = (f"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                    f"Cookie: {cookie}\r\nConnection: close\r\n\r\n").encode()
            stop = threading.Event()
            slow = threading.Thread(target=trickle, args=(port, clients, stop))
            slow.start()
            time.sleep(1.0)
            times, lost = [], 0
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                t = ask(port, head)
                if t is None:
                    lost += 1
                else:
                    times.append(t)
                time.sleep(0.05)
            with open(f"/proc/{proc.pid}/status") as f:
                status = f.read()
            threads = int(re.search(r"Threads:\s+(\d+)", status).group(1))
            rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
            stop.set()
            slow.join()
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(10)
    times.sort()
    return {
        "median": statistics.median(times) * 1000 if times else float("nan"),
        "p99": times[int(len(times) * 0.99)] * 1000 if times else float("nan"),
        "worst": times[-1] * 1000 if times else float("nan"),
        "lost": lost, "asked": lost + len(times), "threads": threads, "rss": rss / 1024,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--clients", type=int, default=200)
    ap.add_argument("--seconds", type=float, default=15)
    ap.add_argument("binaries", nargs="+")
    args = ap.parse_args()
    results = []
    for b in args.binaries:
        r = measure(b, args.clients, args.seconds)
        results.append(r)
        print(f"{b}: {args.clients} slow clients: answer median {r['median']:.1f} ms, p99 {r['p99']:.1f} ms, "
              f"worst {r['worst']:.1f} ms; {r['lost']} of {r['asked']} unanswered; "
              f"{r['threads']} threads, {r['rss']:.1f} MiB resident")
    base = results[0]
    for b, r in zip(args.binaries[1:], results[1:]):
        print(f"{b} / {args.binaries[0]}: worst {r['worst'] / base['worst']:.2f}, p99 {r['p99'] / base['p99']:.2f}, "
              f"threads {r['threads'] / base['threads']:.2f}, resident {r['rss'] / base['rss']:.2f}")


if __name__ == "__main__":
    main()
