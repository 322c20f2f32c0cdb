#!/usr/bin/env python3
"""Soak test: the built program on loopback under valid and hostile traffic on both ports.

    scripts/soak.py [--program build/bin/revuzada] [--rounds N] [--seconds S]

Copies the program and its language packs into a temporary directory, starts it headless on
127.0.0.1 with --timeout 1 --retries 1, and runs rounds of traffic, each bounded in count and
time: valid downloads and uploads alongside random, truncated and oversized datagrams, requests
without a zero byte, names that try to leave the served directory or carry control characters,
format specifiers or 500 bytes, duplicate and stray ACKs, ERROR packets with long texts,
clients that vanish mid-transfer, garbage and queries on the notification port, and a burst of
500 requests. After each round, once the abandoned transfers have timed out, it checks:

  - every valid transfer arrived byte-exact;
  - the program still answers on both ports;
  - its open descriptors are back to their count before the first round, and its threads to
    that count plus the idle transfer threads it keeps for reuse (at most 64);
  - its resident memory has not kept growing from round to round (skipped with
    --no-memory-check: a sanitizer's quarantine of freed blocks grows for hundreds of MiB
    whatever the program does; LeakSanitizer's report at exit stands in for it there);
  - nothing outside the served directory was created, changed or read (a canary's access
    time and content, and the listing of everything around the served directory);

and at the end, after SIGTERM (exit status 0, no sanitizer report on stderr):

  - the log file holds exactly the lines printed on stdout, one per logged event, in the same
    order, each starting with a time stamp of this run and holding no control character, so
    no client's bytes split a line or forged one.

Prints the figures (datagrams sent, transfers completed, leaks found) and exits non-zero on any
failed check. The test command runs a short soak (--rounds 2); run longer ones by hand, e.g.
--rounds 40 (a few minutes).
"""

import argparse
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HOST = "127.0.0.1"
TIMEOUT_SECONDS = 1
RETRIES = 1
# An abandoned transfer lives through its first wait and one resend's wait.
ABANDON_SECONDS = TIMEOUT_SECONDS * (RETRIES + 1)
# Transfer threads the server keeps waiting for the next request, at most.
IDLE_TRANSFER_THREADS = 64
NOTIFY_MAGIC = b"NQVZ"
TIME_STAMP = re.compile(rb"^\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] ")


def u16(v):
    return struct.pack(">H", v & 0xFFFF)


def request(opcode, name, mode=b"octet"):
    return u16(opcode) + name + b"\0" + mode + b"\0"


def ack(block):
    return u16(4) + u16(block)


def data(block, payload):
    return u16(3) + u16(block) + payload


def error(code, text):
    return u16(5) + u16(code) + text + b"\0"


class Counters:
    def __init__(self):
        self.lock = threading.Lock()
        self.datagrams = 0
        self.valid_ok = 0
        self.hostile_transfers = 0
        self.failures = []

    def sent(self):
        with self.lock:
            self.datagrams += 1

    def fail(self, what):
        with self.lock:
            self.failures.append(what)


class Peer:
    """A client socket on loopback that counts what it sends."""

    def __init__(self, counters, timeout=1.0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((HOST, 0))
        self.sock.settimeout(timeout)
        self.counters = counters

    def send(self, payload, port):
        try:
            self.sock.sendto(payload, (HOST, port))
        except OSError:
            pass  # an oversized datagram the system refuses still counts as tried
        self.counters.sent()

    def receive(self):
        try:
            return self.sock.recvfrom(65536)
        except (socket.timeout, BlockingIOError, ConnectionRefusedError):
            return None, None

    def close(self):
        self.sock.close()


class LockStep:
    """A client's side of one transfer: the server's transfer port is taken from its first
    answer and other senders are turned away; while the server is silent the last packet goes
    out again, `tries` times in a row at most."""

    def __init__(self, peer, port, first, tries):
        self.peer, self.dest, self.tid, self.tries, self.misses = peer, port, None, tries, 0
        self.send(first)

    def send(self, packet):
        self.last = packet
        self.peer.send(packet, self.dest)

    def progress(self):
        self.misses = 0

    def next(self):
        """The server's next packet as (opcode, block, packet); None once it has fallen silent
        for good or sent ERROR."""
        while True:
            packet, sender = self.peer.receive()
            if packet is None:
                self.misses += 1
                if self.misses > self.tries:
                    return None
                self.peer.send(self.last, self.dest)
                continue
            if self.tid is None:
                self.tid = self.dest = sender[1]
            elif sender[1] != self.tid:
                self.peer.send(error(5, b"Unknown transfer ID"), sender[1])
                continue
            if len(packet) < 4:
                continue
            opcode, block = struct.unpack(">HH", packet[:4])
            if opcode == 5:
                return None
            return opcode, block, packet


def download(counters, port, name, misbehave=None, tries=6):
    """Lock-step download with resends; returns the bytes or None. `misbehave(peer, tid, block)`
    may send extra datagrams after each ACK."""
    peer = Peer(counters)
    try:
        wire = LockStep(peer, port, request(1, name), tries)
        expected, got = 1, bytearray()
        while True:
            answer = wire.next()
            if answer is None:
                return None
            opcode, block, packet = answer
            if opcode != 3:
                continue
            if block == expected:
                got += packet[4:]
                wire.progress()
                wire.send(ack(block))
                if misbehave:
                    misbehave(peer, wire.dest, block)
                if len(packet) < 516:
                    return bytes(got)
                expected = (expected + 1) & 0xFFFF
            elif block == (expected - 1) & 0xFFFF:
                peer.send(ack(block), wire.dest)  # our ACK was lost
    finally:
        peer.close()


def upload(counters, port, name, content, tries=6):
    """Lock-step upload with resends; True when every block was acknowledged."""
    peer = Peer(counters)
    try:
        wire = LockStep(peer, port, request(2, name), tries)
        block, offset = 0, 0
        while True:
            answer = wire.next()
            if answer is None:
                return False
            opcode, acked, _ = answer
            if opcode != 4 or acked != block:
                continue
            if block > 0 and len(wire.last) < 516:
                return True
            wire.progress()
            block = (block + 1) & 0xFFFF
            wire.send(data(block, content[offset:offset + 512]))
            offset += 512
    finally:
        peer.close()


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.counters = Counters()
        self.root = tempfile.mkdtemp(prefix="revuzada-soak-")
        self.served = os.path.join(self.root, "served")
        self.process = None
        self.started_at = time.time()
        self.escape = "soak-escape-%d" % os.getpid()  # what hostile uploads try to create

    # --- set-up ---------------------------------------------------------------------------

    def install(self):
        program_dir = os.path.dirname(os.path.abspath(self.args.program))
        self.program = os.path.join(self.root, "revuzada")
        shutil.copy2(self.args.program, self.program)
        for pack in ("rc_en.dll", "rc_cn.dll"):
            shutil.copy2(os.path.join(program_dir, pack), self.root)
        with open(os.path.join(self.root, "revuzada.ini"), "w") as f:
            f.write("[lang]\nrc=rc_en.dll\n")
        os.mkdir(self.served)
        os.mkdir(os.path.join(self.served, "sub"))
        self.files = {}
        for size in (0, 1, 511, 512, 513, 1024, 4000, 65536 + 7, 300 * 1024):
            name = "dl-%d.bin" % size
            content = self.rng.randbytes(size)
            with open(os.path.join(self.served, name), "wb") as f:
                f.write(content)
            self.files[name] = content
        with open(os.path.join(self.served, "sub", "inner.bin"), "wb") as f:
            f.write(b"inner")
        self.files["sub/inner.bin"] = b"inner"
        # Outside the served directory: what no request may read, change or sit beside.
        self.canary = os.path.join(self.root, "canary.txt")
        self.canary_content = b"outside the served directory\n"
        with open(self.canary, "wb") as f:
            f.write(self.canary_content)
        # An access time older than the modification time: any read moves it (relatime).
        now = time.time()
        os.utime(self.canary, (now - 3 * 86400, now))
        self.canary_atime = os.stat(self.canary).st_atime
        self.outside_before = self.outside_listing()

    def outside_listing(self):
        """Every path under the program's directory but the served directory and the files the
        program writes there by design, and whatever in the two directories above carries the
        name that hostile uploads try to create."""
        own = {os.path.join(self.root, n) for n in ("stdout.txt", "stderr.txt", "revuzada.log")}
        found = set()
        for dirpath, dirnames, filenames in os.walk(self.root):
            if dirpath == self.served or dirpath.startswith(self.served + os.sep):
                continue
            found.update(p for p in (os.path.join(dirpath, n) for n in dirnames + filenames)
                         if p != self.served and p not in own)
        above = os.path.dirname(self.root)
        for d in (above, os.path.dirname(above)):
            found.update(os.path.join(d, n) for n in os.listdir(d) if n.startswith(self.escape))
        return found

    def free_port(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((HOST, 0))
        port = s.getsockname()[1]
        s.close()
        return port

    def start(self):
        self.tftp_port = self.free_port()
        self.notify_port = self.free_port()
        while self.notify_port == self.tftp_port:
            self.notify_port = self.free_port()
        env = dict(os.environ, REVUZADA_INSTANCE_NAME="revuzada-soak-%d" % os.getpid())
        self.stdout = open(os.path.join(self.root, "stdout.txt"), "wb")
        self.stderr = open(os.path.join(self.root, "stderr.txt"), "wb")
        self.process = subprocess.Popen(
            [self.program, "--headless", "--bind", HOST, "--tftp-port", str(self.tftp_port),
             "--notify-port", str(self.notify_port), "--serve-dir", self.served,
             "--timeout", str(TIMEOUT_SECONDS), "--retries", str(RETRIES)],
            stdin=subprocess.DEVNULL, stdout=self.stdout, stderr=self.stderr, env=env)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise SystemExit("the program ended at start-up: %s" % self.read("stderr.txt"))
            if b"] " in self.read("stdout.txt") and self.answers():
                return
            time.sleep(0.1)
        raise SystemExit("the program did not start answering within 20 s")

    def read(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    # --- what the program holds -------------------------------------------------------------

    def proc(self, what):
        return os.path.join("/proc", str(self.process.pid), what)

    def descriptors(self):
        return len(os.listdir(self.proc("fd")))

    def threads(self):
        return len(os.listdir(self.proc("task")))

    def rss_kib(self):
        with open(self.proc("status")) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def answers(self):
        """True when the program answers a download and a notification query."""
        got = download(self.counters, self.tftp_port, b"sub/inner.bin", tries=2)
        peer = Peer(self.counters, timeout=1.0)
        try:
            peer.send(NOTIFY_MAGIC + bytes(16), self.notify_port)
            reply, _ = peer.receive()
        finally:
            peer.close()
        return got == b"inner" and reply is not None and len(reply) == 20

    # --- traffic ------------------------------------------------------------------------------

    def hostile_names(self):
        escape = self.escape.encode()
        return [
            b"../" + escape, b"..\\" + escape, b"....//" + escape, b"../../" + escape,
            b"sub/../../" + escape, b"sub\\..\\..\\" + escape, b"/../" + escape,
            b"../canary.txt", b"..\\canary.txt", b"....//canary.txt", b"..././canary.txt",
            b"sub/../../canary.txt", b"sub\\..\\..\\canary.txt", b"/../canary.txt",
            b"..", b"../", b"/etc/passwd", b"//etc//shadow", b"sub/../sub/inner.bin",
            b"a\r\n[2001-02-03 04:05:06] FORGED line\x1b[2J\x07\x7f",
            b"%s%n%x%p%99999s%*d%.*s%%n", b"A" * 500, b"\xff\xfe\xc0\xaf..\xc0\xaf",
            b"sub/" + b"x" * 300 + b"/" + b"y" * 190, b"\t\x0b\x0c\x01",
        ]

    def valid_traffic(self, deadline, count):
        for i in range(count):
            if time.time() > deadline:
                return
            if i % 2 == 0:
                name = self.rng.choice(sorted(self.files))
                got = download(self.counters, self.tftp_port, name.encode())
                if got == self.files[name]:
                    with self.counters.lock:
                        self.counters.valid_ok += 1
                else:
                    self.counters.fail("download of %s: %s" % (
                        name, "nothing" if got is None else "%d bytes differ" % len(got)))
            else:
                name = "up-%d-%d.bin" % (os.getpid(), self.rng.randrange(1 << 30))
                content = self.rng.randbytes(self.rng.choice((0, 1, 512, 1000, 5000, 70000)))
                ok = upload(self.counters, self.tftp_port, name.encode(), content)
                stored = self.read(os.path.join("served", name)) if ok else None
                if ok and stored == content:
                    with self.counters.lock:
                        self.counters.valid_ok += 1
                else:
                    self.counters.fail("upload of %s (%d bytes): %s" % (
                        name, len(content), "not acknowledged" if not ok else "stored differently"))

    def garbage(self, deadline, count, rng):
        """Random, truncated, oversized and unterminated datagrams, hostile names, stray ACKs
        and long ERROR packets on the request port; garbage and queries on the notification
        port."""
        names = self.hostile_names()
        # Every hostile name once as a download and once as an upload, each waited for: a
        # refusal (or, for a name that stays inside, the start of a transfer) must come back.
        for name in names:
            for opcode in (1, 2):
                peer = Peer(self.counters, timeout=1.0)
                try:
                    for _ in range(6):  # a request may be dropped while the burst fills the queue
                        peer.send(request(opcode, name), self.tftp_port)
                        if peer.receive()[0] is not None:
                            break
                    else:
                        self.counters.fail("no answer to a request for %r" % name[:40])
                finally:
                    peer.close()
        peer = Peer(self.counters, timeout=0.0)
        try:
            for i in range(count):
                if time.time() > deadline:
                    return
                kind = i % 10
                if kind == 0:
                    peer.send(rng.randbytes(rng.randrange(0, 600)), self.tftp_port)
                elif kind == 1:
                    whole = request(rng.choice((1, 2)), b"truncated.bin")
                    peer.send(whole[:rng.randrange(0, len(whole))], self.tftp_port)
                elif kind == 2:
                    size = rng.choice((517, 600, 1400, 9000, 65000))
                    peer.send(request(1, b"o" * size)[:size], self.tftp_port)
                elif kind == 3:
                    peer.send(u16(rng.choice((1, 2))) + b"no-zero-byte" * rng.randrange(1, 40),
                              self.tftp_port)
                elif kind == 4:
                    peer.send(request(rng.choice((1, 2)), rng.choice(names),
                                      rng.choice((b"octet", b"netascii", b"%n\r\n"))), self.tftp_port)
                elif kind == 5:
                    peer.send(ack(rng.randrange(65536)), self.tftp_port)
                    peer.send(error(rng.randrange(9), b"E" * rng.choice((10, 500, 1200))),
                              self.tftp_port)
                elif kind == 6:
                    peer.send(rng.randbytes(rng.randrange(0, 40)), self.notify_port)
                elif kind == 7:
                    peer.send(NOTIFY_MAGIC + rng.randbytes(rng.randrange(0, 30)), self.notify_port)
                elif kind == 8:
                    peer.send(NOTIFY_MAGIC + b"\0" * rng.randrange(2000), self.notify_port)
                else:
                    peer.send(NOTIFY_MAGIC + struct.pack("<Ii", rng.choice((0, 1, 8, 9, 0xFFFFFFFF)),
                                                         rng.randrange(-2**31, 2**31)) + bytes(8),
                              self.notify_port)
                # Replies to garbage are read and dropped so the socket never fills up; a short
                # pause now and then keeps most of the garbage from being dropped unread.
                while peer.receive()[0] is not None:
                    pass
                if i % 20 == 19:
                    time.sleep(0.002)
        finally:
            peer.close()

    def rude_clients(self, deadline, count, rng):
        """Transfers whose clients misbehave: duplicate and stray ACKs, long ERROR packets
        mid-transfer, and clients that vanish."""
        counters = self.counters
        for i in range(count):
            if time.time() > deadline:
                return
            kind = i % 6
            with counters.lock:
                counters.hostile_transfers += 1
            if kind == 0:
                # Every ACK twice, and once a stray one: the download must still be exact. (A
                # stray ACK makes the program discard what is queued, our next ACK perhaps
                # with it, which costs a wait; hence only one.)
                def doubled(peer, tid, block):
                    peer.send(ack(block), tid)
                    if block == 3:
                        peer.send(ack(rng.randrange(200, 65536)), tid)
                got = download(counters, self.tftp_port, b"dl-65543.bin", misbehave=doubled)
                if got != self.files["dl-65543.bin"]:
                    counters.fail("download with duplicate and stray ACKs was not exact")
                else:
                    with counters.lock:
                        counters.valid_ok += 1
                continue
            peer = Peer(counters, timeout=1.0)
            try:
                if kind in (1, 2, 3):
                    peer.send(request(1, b"dl-307200.bin"), self.tftp_port)
                    packet, sender = peer.receive()
                    if packet is None:
                        continue
                    for block in range(1, 1 + rng.randrange(0, 4)):
                        peer.send(ack(block), sender[1])
                        packet, _ = peer.receive()
                    if kind == 2:  # gives up with a long text, then one too long to receive
                        peer.send(error(0, b"G" * 480), sender[1])
                    elif kind == 3:
                        peer.send(error(0, b"G" * 1200), sender[1])
                    # kind 1 simply vanishes
                else:
                    peer.send(request(2, b"vanished-%d.bin" % rng.randrange(1000)), self.tftp_port)
                    packet, sender = peer.receive()
                    if packet is None:
                        continue
                    for block in range(1, 1 + rng.randrange(0, 4)):
                        peer.send(data(block, rng.randbytes(512)), sender[1])
                        peer.receive()
                    if kind == 5:  # a block from the past, one from the future, a short one
                        peer.send(data(0, b"old"), sender[1])
                        peer.send(data(40000, b"future"), sender[1])
                        peer.send(b"\0\3\0", sender[1])
            finally:
                peer.close()

    def burst(self, size):
        """`size` requests as fast as they go, from sockets that stay open and silent: every
        transfer they start must be given up after its wait and its resend. Returns the
        sockets, to be closed once that has happened."""
        peers = [Peer(self.counters, timeout=0.0) for _ in range(10)]
        for i in range(size):
            name = b"dl-1024.bin" if i % 5 else b"burst-%d.bin" % (i % 7)
            peers[i % len(peers)].send(request(1 if i % 5 else 2, name), self.tftp_port)
        return peers

    def round(self, number):
        seconds = self.args.seconds
        deadline = time.time() + seconds
        workers = [
            threading.Thread(target=self.valid_traffic, args=(deadline, self.args.transfers)),
            threading.Thread(target=self.valid_traffic, args=(deadline, self.args.transfers)),
            threading.Thread(target=self.garbage,
                             args=(deadline, self.args.garbage, random.Random(self.rng.random()))),
            threading.Thread(target=self.rude_clients,
                             args=(deadline, self.args.rude, random.Random(self.rng.random()))),
        ]
        for w in workers:
            w.start()
        silent = self.burst(500)
        for w in workers:
            w.join(seconds + 60)
            if w.is_alive():
                self.counters.fail("round %d: a traffic thread did not finish" % number)
        return silent

    # --- checks -------------------------------------------------------------------------------

    def settled(self, fds, threads):
        """Descriptors back to the baseline, and no thread beyond the idle transfer threads the
        server keeps for reuse (a stuck transfer would also hold its socket)."""
        return fds == self.base_fds and threads <= self.base_threads + IDLE_TRANSFER_THREADS

    def settle(self):
        """Waits until abandoned transfers have timed out. Returns the counts found."""
        limit = time.time() + ABANDON_SECONDS * 4 + 10
        while True:
            fds, threads = self.descriptors(), self.threads()
            if self.settled(fds, threads) or time.time() > limit:
                return fds, threads
            time.sleep(0.2)

    def check_outside(self):
        st = os.stat(self.canary)
        if st.st_atime != self.canary_atime:
            self.counters.fail("the canary outside the served directory was read")
        with open(self.canary, "rb") as f:
            content = f.read()
        os.utime(self.canary, (self.canary_atime, st.st_mtime))  # our own read does not count
        if content != self.canary_content:
            self.counters.fail("the canary outside the served directory changed")
        new = self.outside_listing() - self.outside_before
        if new:
            self.counters.fail("created outside the served directory: %s" % sorted(new)[:5])

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            self.counters.fail("the program did not stop within 5 s of SIGTERM")
            return
        if status != 0:
            self.counters.fail("exit status %d after SIGTERM" % status)

    def check_log(self):
        printed = self.read("stdout.txt")
        logged = self.read("revuzada.log")
        stdout_lines = printed.split(b"\n")
        if stdout_lines and stdout_lines[-1] == b"":
            stdout_lines.pop()
        if not logged.endswith(b"\r\n"):
            self.counters.fail("the log file does not end with a line end")
        file_lines = logged.split(b"\r\n")[:-1]
        # Threads print their lines outside the log's lock, so only the order may differ.
        if sorted(file_lines) != sorted(stdout_lines):
            self.counters.fail("the log file (%d lines) differs from the lines printed (%d)" % (
                len(file_lines), len(stdout_lines)))
        first = time.localtime(self.started_at - 2)
        last = time.localtime(time.time() + 2)
        low, high = time.strftime("%Y-%m-%d %H:%M:%S", first), time.strftime("%Y-%m-%d %H:%M:%S", last)
        for line in file_lines:
            if re.search(rb"[\x00-\x1f\x7f]", line):
                self.counters.fail("a log line holds a control character: %r" % line[:80])
                break
            m = TIME_STAMP.match(line)
            stamp = line[1:20].decode("ascii", "replace") if m else ""
            if not m or not (low <= stamp <= high):
                self.counters.fail("a log line without a time stamp of this run: %r" % line[:80])
                break
        self.log_lines = len(file_lines)

    def check_stderr(self):
        err = self.read("stderr.txt").decode("utf-8", "replace")
        for mark in ("Sanitizer", "runtime error:", "terminate called"):
            at = err.find(mark)
            if at >= 0:
                self.counters.fail("stderr: %s" % err[max(0, at - 200):at + 2000])
                break

    def run(self):
        self.install()
        self.start()
        self.base_fds, self.base_threads = self.settle_first()
        rss = []
        leaks = 0
        for number in range(1, self.args.rounds + 1):
            silent = self.round(number)
            fds, threads = self.settle()
            for peer in silent:
                peer.close()
            if not self.settled(fds, threads):
                leaks += 1
                self.counters.fail("round %d: %d descriptors and %d threads, %d and %d before" % (
                    number, fds, threads, self.base_fds, self.base_threads))
            if not self.answers():
                self.counters.fail("round %d: the program no longer answers on both ports" % number)
            rss.append(self.rss_kib())
            self.check_outside()
            print("round %d: %d datagrams sent so far, %d valid transfers exact, %d descriptors, "
                  "%d threads, %d KiB resident" % (number, self.counters.datagrams,
                                                    self.counters.valid_ok, fds, threads, rss[-1]),
                  flush=True)
        if self.args.memory_check:
            self.check_memory(rss)
        self.stop()
        self.check_stderr()
        self.check_log()
        return leaks

    def settle_first(self):
        # The listeners are up once the program answers; count what it holds at rest.
        time.sleep(0.3)
        return self.descriptors(), self.threads()

    def check_memory(self, rss):
        """Memory may settle after the first rounds (allocator caches, thread stacks kept for
        reuse); it must not keep growing. Compares the second half of the run with the first."""
        if len(rss) < 2:
            return
        half = len(rss) // 2
        early, late = max(rss[:half]), max(rss[half:])
        allowance = max(early // 4, 16 * 1024)
        if late > early + allowance:
            self.counters.fail("resident memory grew from %d KiB to %d KiB" % (early, late))

    def cleanup(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if not self.args.keep:
            shutil.rmtree(self.root, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "build", "bin", "revuzada"))
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--seconds", type=float, default=6.0, help="time limit of one round's traffic")
    parser.add_argument("--transfers", type=int, default=12, help="valid transfers per traffic thread per round")
    parser.add_argument("--garbage", type=int, default=1500, help="hostile datagrams per round")
    parser.add_argument("--rude", type=int, default=24, help="misbehaving clients per round")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    parser.add_argument("--no-memory-check", dest="memory_check", action="store_false",
                        help="do not compare resident memory between rounds (sanitizer builds)")
    args = parser.parse_args()
    if args.seed is None:
        args.seed = random.randrange(1 << 32)

    soak = Soak(args)
    started = time.time()
    try:
        leaks = soak.run()
    finally:
        soak.cleanup()
    c = soak.counters
    print("soak: seed %d, %d rounds in %.0f s: %d datagrams sent, %d valid transfers completed "
          "byte-exact, %d misbehaving clients, %d log lines, leaks found: %s" % (
              args.seed, args.rounds, time.time() - started, c.datagrams, c.valid_ok,
              c.hostile_transfers, getattr(soak, "log_lines", 0), "none" if not leaks else leaks))
    for f in c.failures:
        print("FAILED: " + f)
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
