#!/usr/bin/env python3
"""Side-by-side benchmark of Revuzada and peer TFTP servers on loopback.

Started by bench/run.sh, which installs and builds what it needs. Every server serves the same
files from a folder of its own; every workload runs against every server in each round; the
figures of a round are compared with Revuzada's figures of that same round.

Workloads:
  W1  one download of 32 MiB                         MB/s
  W2  one upload of 32 MiB                           MB/s
  W3  64 concurrent downloads of 1 MiB               MB/s
  W4  2000 requests for a 100-byte file, 8 at once   requests/s
  W5  20,000 notification queries (type 0), 4 at once (Revuzada only)   queries/s

Server CPU is the whole process tree's (threads and children, finished ones included), read from
a cpuacct cgroup of its own where the kernel offers one, else from /proc/PID/stat (utime+stime
and the children's, in clock ticks). Peak memory is VmHWM of the server's main process, reset
before each workload.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BIN = os.path.join(ROOT, "build", "bin")
CLIENT = os.path.join(BIN, "revuzada_bench_client")
CPUACCT = "/sys/fs/cgroup/cpuacct"
TICK = os.sysconf("SC_CLK_TCK")
MB = 1e6

WORKLOADS = {
    "W1": dict(title="1 download of 32 MiB", op="get", file="w1.bin", count=1, concurrency=1, unit="MB/s"),
    "W2": dict(title="1 upload of 32 MiB", op="put", file="w1.bin", count=1, concurrency=1, unit="MB/s"),
    "W3": dict(title="64 concurrent downloads of 1 MiB", op="get", file="w3.bin", count=64, concurrency=64, unit="MB/s"),
    "W4": dict(title="2000 requests for 100 bytes, 8 workers", op="get", file="w4.bin", count=2000, concurrency=8, unit="req/s"),
    "W5": dict(title="20,000 notification queries, 4 workers", op="notify", file=None, count=20000, concurrency=4, unit="queries/s"),
}
QUICK_COUNTS = {"W4": 500, "W5": 5000}
FILES = {"w1.bin": 32 << 20, "w3.bin": 1 << 20, "w4.bin": 100}

started = []  # every server process this run started: stopped by PID at the end


def log(text):
    print(text, flush=True)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def udp_port_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def udp_bound(port):
    want = ":%04X" % port
    for table in ("/proc/net/udp",):
        with open(table) as f:
            for line in f.readlines()[1:]:
                local = line.split()[1]
                if local.endswith(want):
                    return True
    return False


class Server:
    def __init__(self, name, argv, port, dir, cwd=None, env=None, reads_only=False,
                 notify_port=None, stdout=None, note=""):
        self.name, self.argv, self.port, self.dir = name, argv, port, dir
        self.cwd, self.env, self.reads_only = cwd, env, reads_only
        self.notify_port, self.stdout_path, self.note = notify_port, stdout, note
        self.proc = None
        self.cgroup = None

    def start(self, pinned, work):
        if os.path.isdir(CPUACCT) and os.access(CPUACCT, os.W_OK):
            path = os.path.join(CPUACCT, "revuzada-bench-%d-%s" % (os.getpid(), self.name))
            try:
                os.mkdir(path)
                self.cgroup = path
            except OSError:
                self.cgroup = None
        argv = (["taskset", "-c", "0"] if pinned else []) + self.argv
        out = open(self.stdout_path or os.path.join(work, self.name + ".out"), "wb")
        cgroup = self.cgroup

        def enter_cgroup():
            if cgroup:
                with open(os.path.join(cgroup, "cgroup.procs"), "w") as f:
                    f.write(str(os.getpid()))

        self.proc = subprocess.Popen(argv, cwd=self.cwd, env=self.env, stdout=out,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     preexec_fn=enter_cgroup)
        started.append(self)
        out.close()
        ports = [self.port] + ([self.notify_port] if self.notify_port else [])
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("%s ended at start (status %s); see %s.out" % (self.name, self.proc.returncode, self.name))
            if all(udp_bound(p) for p in ports):
                time.sleep(0.2)
                return
            time.sleep(0.05)
        raise RuntimeError("%s did not bind its ports" % self.name)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()  # by its PID, the one we started
                self.proc.wait(timeout=5)
        if self.cgroup:
            for _ in range(50):
                try:
                    os.rmdir(self.cgroup)
                    break
                except OSError:
                    time.sleep(0.1)  # children still leaving

    def tree(self):
        """PIDs of the server process and its descendants."""
        pids, frontier = [], [self.proc.pid]
        while frontier:
            pid = frontier.pop()
            pids.append(pid)
            try:
                for tid in os.listdir("/proc/%d/task" % pid):
                    with open("/proc/%d/task/%s/children" % (pid, tid)) as f:
                        frontier += [int(c) for c in f.read().split()]
            except OSError:
                pass
        return pids

    def cpu_seconds(self):
        if self.cgroup:
            with open(os.path.join(self.cgroup, "cpuacct.usage")) as f:
                return int(f.read()) / 1e9
        total = 0
        for pid in self.tree():
            try:
                with open("/proc/%d/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                total += sum(int(x) for x in fields[11:15])  # utime stime cutime cstime
            except OSError:
                pass
        return total / TICK

    def reset_peak(self):
        for pid in self.tree():
            try:
                with open("/proc/%d/clear_refs" % pid, "w") as f:
                    f.write("5")
            except OSError:
                pass

    def peak_kib(self):
        try:
            with open("/proc/%d/status" % self.proc.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        return int(line.split()[1])
        except OSError:
            pass
        return 0


def make_servers(args, work, files):
    servers = []
    pid = os.getpid()

    def served(name):
        d = os.path.join(work, name)
        os.makedirs(d)
        os.chmod(d, 0o777)
        for f in FILES:
            os.link(os.path.join(files, f), os.path.join(d, f))
        return d

    want = set(args.servers.split(","))

    def revuzada(name, bindir, note):
        # A copy of the program with its packs, ini and image, so its log file lands here.
        home = os.path.join(work, name + "-bin")
        os.makedirs(home)
        for f in ("revuzada", "rc_en.dll", "rc_cn.dll"):
            shutil.copy2(os.path.join(bindir, f), home)
        with open(os.path.join(home, "revuzada.ini"), "w") as f:
            f.write("[lang]\nrc=rc_en.dll\n")
        with open(os.path.join(home, "fwpack.img"), "wb") as f:
            f.write(b"\0" * 4096)
        port, nport = free_udp_port(), free_udp_port()
        env = dict(os.environ, REVUZADA_INSTANCE_NAME="bench-%d-%s" % (pid, name))
        return Server(name, [os.path.join(home, "revuzada"), "--headless", "--bind", "127.0.0.1",
                             "--tftp-port", str(port), "--notify-port", str(nport),
                             "--serve-dir", served(name)],
                      port, os.path.join(work, name), env=env, notify_port=nport,
                      stdout=os.path.join(work, name + ".stdout"), note=note)

    if "revuzada" in want:
        servers.append(revuzada("revuzada", BIN, "headless, every log line on stdout (to a file) and in revuzada.log"))
    if args.compare:
        servers.append(revuzada("revuzada-other", args.compare, "another build of Revuzada, from " + args.compare))
    if "tftpd-hpa" in want:
        if shutil.which("in.tftpd"):
            port = free_udp_port()
            d = served("tftpd-hpa")
            servers.append(Server("tftpd-hpa", ["in.tftpd", "-L", "-a", "127.0.0.1:%d" % port, "-s", "-c", "-p",
                                                "-u", "root", d], port, d, note="a process per transfer"))
        else:
            log("tftpd-hpa: in.tftpd not found, left out")
    if "atftpd" in want:
        exe = os.path.join(ROOT, "build", "bench-tools", "atftpd", "usr", "sbin", "atftpd")
        if os.access(exe, os.X_OK):
            port = free_udp_port()
            d = served("atftpd")
            servers.append(Server("atftpd", [exe, "--daemon", "--no-fork", "--port", str(port),
                                             "--bind-address", "127.0.0.1", "--user", "root.root",
                                             "--maxthread", "200", "--logfile", os.path.join(work, "atftpd.log"), d],
                                  port, d, note="a thread per transfer"))
        else:
            log("atftpd: %s not found, left out" % exe)
    if "dnsmasq" in want:
        exe = shutil.which("dnsmasq")
        if not exe:
            log("dnsmasq: not installed, left out")
        elif not udp_port_free(69):
            log("dnsmasq: its TFTP port 69 on 127.0.0.1 is taken, left out")
        else:
            d = served("dnsmasq")
            servers.append(Server("dnsmasq", [exe, "-k", "--conf-file=/dev/null", "--port=0", "--enable-tftp",
                                              "--tftp-root=" + d, "--tftp-max=200", "--listen-address=127.0.0.1",
                                              "--bind-interfaces", "--user=root", "--pid-file=",
                                              "--log-facility=" + os.path.join(work, "dnsmasq.log")],
                                  69, d, reads_only=True, note="one event loop, reads only (port 69)"))
    for mode in ("loop", "threads"):
        name = "ceiling-" + mode
        if name in want:
            port = free_udp_port()
            servers.append(Server(name, [CLIENT, "respond", "--port", str(port), "--dir", files]
                                  + (["--threads"] if mode == "threads" else []),
                                  port, None, note="in-memory lock-step responder, " +
                                  ("one epoll loop" if mode == "loop" else "a reused thread per transfer")))
    return servers


def run_workload(server, wid, args, files):
    w = WORKLOADS[wid]
    count = QUICK_COUNTS.get(wid, w["count"]) if args.quick else w["count"]
    if w["op"] == "notify":
        argv = [CLIENT, "notify", "--port", str(server.notify_port)]
    else:
        name = w["file"] if w["op"] == "get" else "up-%s.bin" % wid
        argv = [CLIENT, w["op"], "--port", str(server.port), "--name", name,
                "--content", os.path.join(files, w["file"])]
        if w["op"] == "put" and server.dir:
            argv += ["--check-dir", server.dir]
    argv += ["--count", str(count), "--concurrency", str(w["concurrency"]), "--max-seconds", str(args.max_seconds)]
    if not args.unpinned:
        argv = ["taskset", "-c", "0"] + argv
    server.reset_peak()
    cpu0 = server.cpu_seconds()
    try:
        out = subprocess.run(argv, capture_output=True, text=True, timeout=args.max_seconds + 15).stdout
        result = json.loads(out.strip().splitlines()[-1])
    except (subprocess.TimeoutExpired, json.JSONDecodeError, IndexError):
        result = dict(ok=0, failures=count, bytes=0, blocks=0, seconds=0)
    time.sleep(0.15)  # the server's side of the last exchange, and its children's exit
    cpu = server.cpu_seconds() - cpu0
    secs = result["seconds"] or float("nan")
    rate = result["bytes"] / secs / MB if w["unit"] == "MB/s" else result["ok"] / secs
    per = result["blocks"] if w["unit"] == "MB/s" else result["ok"]
    return dict(rate=rate, failures=result["failures"], resends=result.get("resends", 0),
                cpu_us=cpu * 1e6 / per if per else float("nan"), peak_kib=server.peak_kib(),
                seconds=result["seconds"])


def median(xs):
    xs = [x for x in xs if x == x]
    return statistics.median(xs) if xs else float("nan")


def fmt(x, unit=None):
    if x != x:
        return "-"
    if unit in ("req/s", "queries/s"):
        return "{:,.0f}".format(x)
    return "%.1f" % x if x >= 10 else "%.2f" % x


def summarise(servers, results, rounds):
    """rows: per workload and server, medians over rounds and the same-round ratios."""
    summary = {}
    for wid in WORKLOADS:
        for s in servers:
            runs = results.get((wid, s.name))
            if not runs:
                continue
            rates = [r["rate"] for r in runs]
            ratios = []
            ceiling_ratios = []
            for i, r in enumerate(runs):
                own = results.get((wid, "revuzada"))
                if own and i < len(own) and own[i]["rate"] > 0:
                    ratios.append(r["rate"] / own[i]["rate"])
                ceilings = [results[(wid, c)][i]["rate"] for c in ("ceiling-loop", "ceiling-threads")
                            if (wid, c) in results and i < len(results[(wid, c)])]
                if ceilings and max(ceilings) > 0:
                    ceiling_ratios.append(r["rate"] / max(ceilings))
            summary[(wid, s.name)] = dict(
                median=median(rates), min=min(rates), max=max(rates),
                failures=sum(r["failures"] for r in runs), resends=sum(r["resends"] for r in runs),
                cpu_us=median([r["cpu_us"] for r in runs]), peak_kib=max(r["peak_kib"] for r in runs),
                vs_revuzada=median(ratios), vs_ceiling=median(ceiling_ratios))
    return summary


def table(servers, summary):
    lines = ["| workload | server | median | min-max | failures | CPU µs per block/request | peak memory (VmHWM) | ratio to Revuzada | ratio to ceiling |",
             "|---|---|---|---|---|---|---|---|---|"]
    for wid, w in WORKLOADS.items():
        for s in servers:
            row = summary.get((wid, s.name))
            if not row:
                continue
            unit = w["unit"]
            lines.append("| %s %s | %s | %s %s | %s-%s | %d | %s | %.1f MiB | %s | %s |" % (
                wid, w["title"], s.name, fmt(row["median"], unit), unit, fmt(row["min"], unit),
                fmt(row["max"], unit), row["failures"], fmt(row["cpu_us"]), row["peak_kib"] / 1024,
                "%.2f" % row["vs_revuzada"] if row["vs_revuzada"] == row["vs_revuzada"] else "-",
                "%.2f" % row["vs_ceiling"] if row["vs_ceiling"] == row["vs_ceiling"] else "-"))
    return "\n".join(lines)


def targets(summary):
    """The targets, each judged on same-round ratios."""
    out = []

    def ratio(wid, a, b):
        ra, rb = summary.get((wid, a)), summary.get((wid, b))
        return None if not ra or not rb else (ra, rb)

    for wid in ("W1", "W2"):
        r = summary.get((wid, "revuzada"))
        if r and r["vs_ceiling"] == r["vs_ceiling"]:
            out.append("%s: Revuzada at %.2f of the ceiling (target 0.95): %s" % (
                wid, r["vs_ceiling"], "met" if r["vs_ceiling"] >= 0.95 else "NOT met"))
    for wid in ("W3", "W4"):
        for peer, goal in (("atftpd", "target"), ("dnsmasq", "aim")):
            r = summary.get((wid, peer))
            if r:
                v = 1 / r["vs_revuzada"] if r["vs_revuzada"] else float("nan")
                out.append("%s: Revuzada at %.2f of %s (%s 1.0): %s" % (
                    wid, v, peer, goal, "met" if v >= 1 else "NOT met"))
    for wid in ("W1", "W2", "W3", "W4"):
        own = summary.get((wid, "revuzada"))
        peers = [summary[k]["cpu_us"] for k in summary if k[0] == wid and k[1] in ("tftpd-hpa", "atftpd", "dnsmasq")]
        if own and peers:
            best = min(peers)
            out.append("%s: CPU per %s %.2f µs, best peer %.2f µs: %s" % (
                wid, "request" if wid == "W4" else "block", own["cpu_us"], best,
                "met" if own["cpu_us"] <= best else "NOT met"))
    return out


def chart(servers, summary, path, caption):
    try:
        import matplotlib
    except ImportError:
        log("no chart: matplotlib is missing for %s (bench/run.sh runs Debian's python3, which has it)" % sys.executable)
        return
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(1, 4, figsize=(17, 4.8))
    colours = {"revuzada": "#d62728", "tftpd-hpa": "#1f77b4", "atftpd": "#2ca02c", "dnsmasq": "#9467bd",
               "ceiling-loop": "#7f7f7f", "ceiling-threads": "#bcbcbc"}
    for ax, wid in zip(axes, ("W1", "W2", "W3", "W4")):
        w = WORKLOADS[wid]
        names, meds, lo, hi, tops = [], [], [], [], []
        for s in servers:
            row = summary.get((wid, s.name))
            if not row:
                continue
            names.append(s.name)
            meds.append(row["median"])
            lo.append(row["median"] - row["min"])
            hi.append(row["max"] - row["median"])
            tops.append(row["max"])
        bars = ax.bar(range(len(names)), meds, yerr=[lo, hi], capsize=3,
                      color=[colours.get(n, "#444444") for n in names])
        for b, m, top in zip(bars, meds, tops):
            ax.annotate(fmt(m, w["unit"]), (b.get_x() + b.get_width() / 2, top),
                        ha="center", va="bottom", fontsize=8, xytext=(0, 2), textcoords="offset points")
        ax.set_xticks(range(len(names)))
        ax.set_xticklabels(names, rotation=30, ha="right", fontsize=8)
        ax.set_title("%s: %s" % (wid, w["title"]), fontsize=9)
        ax.set_ylabel(w["unit"])
    fig.suptitle(caption, fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs, Linux %s" % (cpu, os.cpu_count(), platform.release())


def write_readme(text, path):
    with open(path) as f:
        readme = f.read()
    start, end = "<!-- results:begin -->", "<!-- results:end -->"
    if start in readme and end in readme:
        readme = readme[:readme.index(start) + len(start)] + "\n" + text + "\n" + readme[readme.index(end):]
    else:
        readme += "\n" + start + "\n" + text + "\n" + end + "\n"
    with open(path, "w") as f:
        f.write(readme)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--quick", action="store_true", help="1 round, fewer requests in W4 and W5; README untouched")
    p.add_argument("--unpinned", action="store_true", help="let client and servers run on any CPU")
    p.add_argument("--servers", default="revuzada,tftpd-hpa,atftpd,dnsmasq,ceiling-loop,ceiling-threads")
    p.add_argument("--workloads", default="W1,W2,W3,W4,W5")
    p.add_argument("--max-seconds", type=float, default=60, help="bound of one client run")
    p.add_argument("--work-dir", default=None)
    p.add_argument("--pid-file", default=None, help="server PIDs are written here as they start")
    p.add_argument("--compare", metavar="BIN_DIR", default=None,
                   help="also run the Revuzada build in BIN_DIR (as revuzada-other), e.g. one from before a change")
    p.add_argument("--no-readme", action="store_true", help="do not rewrite bench/README.md and the chart")
    args = p.parse_args()
    if args.quick:
        args.rounds = 1
        args.no_readme = True
    wanted = args.workloads.split(",")

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    work = args.work_dir or "/tmp/revuzada-bench-%d" % os.getpid()
    os.makedirs(work, exist_ok=True)
    files = os.path.join(work, "files")
    os.makedirs(files, exist_ok=True)
    for name, size in FILES.items():
        with open(os.path.join(files, name), "wb") as f:
            f.write(os.urandom(size))

    load_before = os.getloadavg()
    servers = make_servers(args, work, files)
    results = {}
    try:
        for s in servers:
            s.start(not args.unpinned, work)
            if args.pid_file:
                with open(args.pid_file, "a") as f:
                    f.write("%d\n" % s.proc.pid)
            log("started %-16s pid %-7d port %d%s" % (s.name, s.proc.pid, s.port,
                ", notify %d" % s.notify_port if s.notify_port else ""))
        for rnd in range(args.rounds):
            order = servers[rnd % len(servers):] + servers[:rnd % len(servers)]
            for wid in wanted:
                for s in order:
                    if wid == "W2" and s.reads_only:
                        continue
                    if wid == "W5" and not s.notify_port:
                        continue
                    r = run_workload(s, wid, args, files)
                    results.setdefault((wid, s.name), []).append(r)
                    log("round %d %s %-16s %10s %-9s failures %d  cpu %6s µs  peak %.1f MiB" % (
                        rnd + 1, wid, s.name, fmt(r["rate"], WORKLOADS[wid]["unit"]), WORKLOADS[wid]["unit"],
                        r["failures"], fmt(r["cpu_us"]), r["peak_kib"] / 1024))
    except KeyboardInterrupt:
        log("interrupted")
        return 130
    finally:
        for s in started:
            s.stop()
        if args.pid_file:
            open(args.pid_file, "w").close()  # all stopped: nothing left for run.sh to stop
        if not args.work_dir:
            shutil.rmtree(work, ignore_errors=True)
    load_after = os.getloadavg()

    summary = summarise(servers, results, args.rounds)
    when = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    pinning = "unpinned" if args.unpinned else "client and servers pinned to CPU 0 (taskset -c 0)"
    cpu_method = "cpuacct cgroup per server" if servers and servers[0].cgroup else "/proc/PID/stat (clock ticks)"
    head = ("Machine: %s. Date: %s. %d round(s), %s. Load average before %.2f, after %.2f "
            "(other work on the machine makes figures noisy). Server CPU: %s." % (
                machine(), when, args.rounds, pinning, load_before[0], load_after[0], cpu_method))
    body = table(servers, summary)
    goals = targets(summary)
    log("")
    log(head)
    log(body)
    log("")
    for g in goals:
        log("  " + g)
    with open(os.path.join(ROOT, "build", "bench-last.json"), "w") as f:
        json.dump({"head": head, "results": {"%s/%s" % k: v for k, v in results.items()}}, f, indent=1)
    if not args.no_readme:
        notes = "\n".join("- %s: %s" % (s.name, s.note) for s in servers)
        text = "%s\n\n%s\n\nTargets, from ratios of the same rounds:\n\n%s\n\nServers:\n\n%s\n\n![W1-W4](results.png)" % (
            head, body, "\n".join("- " + g for g in goals), notes)
        write_readme(text, os.path.join(HERE, "README.md"))
        chart(servers, summary, os.path.join(HERE, "results.png"), "%s; %s; medians of %d rounds, bars min-max" % (
            when, pinning, args.rounds))
        log("bench/README.md and bench/results.png written")
    failures = sum(r["failures"] for runs in results.values() for r in runs)
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
