#!/usr/bin/env python3
"""Plays the benchmark files through korvex-cli and, side by side, through OpenOCD.

    run_bench.py --build BUILD_DIR [--work DIR] [--repeat N] [--scale F] [--smoke]
                 [--no-openocd] [--openocd-xsvf] [--no-micro] [--json FILE]

For every file it reports MB/s (10^6 bytes of file per second of host CPU time, and per second
of wall time), shifted Mbit/s, peak RSS, host CPU seconds, the USB writes and read round trips
the run needed, the simulator's device-time estimate at 3 MHz with the USB costs and the host
time as a percentage of it; OpenOCD (dummy adapter, "svf -quiet") runs on the same file in the
same run when it is installed, and the ratio of the two rates is printed.

Three ways of playing the same content separate the host's cost from the simulator's:
  const   the simulator with "tdo_constant 1": no chain model (the figure the targets are for)
  chain   the simulator's full chain model, on files whose expectations are written for it
  null    the null device (libkorvex-null-d2xx.so), which only answers: the host alone

Rates use CPU time (user + system, all threads), not wall time: korvex-cli polls its player every
50 ms, and OpenOCD really sleeps through RUNTEST ... SEC, so wall time would measure waiting.
Every configuration runs --repeat times, interleaved, and the fastest run counts; the machine is
shared, so compare the ratios of one report, not figures from different runs.

--smoke generates small files, runs each configuration once and the micro-benchmarks briefly,
and fails only when a run fails (a wrong exit code or a read-back mismatch), never on a figure.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "gen_vectors.py")

# The link settings every run uses, given on the command line so no settings file matters:
# 3 MHz, RUNTEST run_count played as that many clocks, timed waits on the slow clock without
# margin, no comment echo (OpenOCD's -quiet does not print them either).
CLI_OPTIONS = ["--DefFreq", "0", "--RTwCount", "0", "--RTwTime", "1", "--SecurityTime", "0",
               "--WriteComments", "0", "--PActive", "2", "--PInactive", "2"]

OPENOCD_SETUP = ("adapter driver dummy; adapter speed 3000; transport select jtag; "
                 "jtag newtap chip tap -irlen 8 -expected-id 0; init")


class Tools:
    def __init__(self, args):
        b = args.build
        self.cli = args.cli or os.path.join(b, "src", "cli", "korvex-cli")
        self.sim = args.sim or os.path.join(b, "sim", "libkorvex-sim.so")
        self.null = args.null or os.path.join(b, "bench", "libkorvex-null-d2xx.so")
        self.micro = args.micro or os.path.join(b, "bench", "korvex-micro-bench")
        self.openocd = None if args.no_openocd else shutil.which("openocd")
        for path in (self.cli, self.sim):
            if not os.path.exists(path):
                sys.exit("run_bench: %s not found (build korvex-cli and korvex-sim first)" % path)


GNU_TIME = "/usr/bin/time"


def timed(cmd, env, log):
    """Runs cmd; returns its exit code, CPU s (user + system, all threads), wall s and peak RSS
    (KiB). The CPU time comes from the kernel's accounting of the child and its reaped children.
    The peak RSS is taken by GNU time, a small process in between: a child forked straight from
    this script would inherit the script's own high-water mark across exec."""
    fd, rss_file = tempfile.mkstemp(prefix="korvex-bench-rss-")
    os.close(fd)
    wrapped = [GNU_TIME, "-f", "%M", "-o", rss_file] + cmd if os.path.exists(GNU_TIME) else cmd
    try:
        with open(log, "w") as out:
            start = time.monotonic()
            proc = subprocess.Popen(wrapped, stdout=out, stderr=subprocess.STDOUT, env=env)
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.monotonic() - start
            proc.returncode = os.waitstatus_to_exitcode(status)
        rss = usage.ru_maxrss
        if wrapped is not cmd:
            lines = open(rss_file).read().split()
            rss = int(lines[-1]) if lines and lines[-1].isdigit() else rss
    finally:
        os.unlink(rss_file)
    return {"rc": proc.returncode, "cpu": usage.ru_utime + usage.ru_stime, "wall": wall,
            "rss_kib": rss}


def read_summary(path):
    values = {}
    if os.path.exists(path):
        for line in open(path):
            k, _, v = line.partition(" ")
            if v.strip():
                values[k] = int(v)
    return values


def run_ours(tools, work, path, mode):
    env = dict(os.environ)
    summary = os.path.join(work, "summary.txt")
    if os.path.exists(summary):
        os.unlink(summary)
    if mode == "null":
        env["KORVEX_D2XX"] = tools.null
        env.pop("KORVEX_SIM", None)
    else:
        cfg = os.path.join(work, "sim-%s.cfg" % mode)
        with open(cfg, "w") as f:
            if mode == "const":
                f.write("tdo_constant 1\n")
            f.write("summary %s\n" % summary)
        env["KORVEX_D2XX"] = tools.sim
        env["KORVEX_SIM"] = cfg
    log = os.path.join(work, "last-korvex.log")
    r = timed([tools.cli, "-I", os.path.join(work, "bench.ini")] + CLI_OPTIONS + [path],
              env, log)
    s = read_summary(summary)
    r["device_s"] = s.get("device_us", 0) / 1e6 if mode != "null" else None
    r["exec_s"] = s.get("exec_us", 0) / 1e6 if mode != "null" else None
    r["writes"] = s.get("writes") if mode != "null" else None
    r["reads"] = s.get("reads") if mode != "null" else None
    r["sim_errors"] = s.get("errors", 0)
    r["ok"] = r["rc"] == 0 and r["sim_errors"] == 0
    if not r["ok"]:
        r["log"] = open(log).read()[-2000:]
    return r


def run_openocd(tools, work, path):
    log = os.path.join(work, "last-openocd.log")
    if path.endswith(".xsvf"):
        command = "xsvf chip.tap %s quiet" % path
    else:
        command = "svf -quiet %s" % path
    r = timed([tools.openocd, "-l", log, "-c", "%s; %s; shutdown" % (OPENOCD_SETUP,
                                                                          command)],
              dict(os.environ), os.path.join(work, "last-openocd.out"))
    text = open(log).read().lower()
    r["ok"] = r["rc"] == 0 and "programmed failed" not in text and "mismatch" not in text
    if not r["ok"]:
        r["log"] = text[-2000:]
    return r


def best(runs):
    """The fastest of several runs; the peak RSS is the highest seen."""
    ok = [r for r in runs if r["ok"]]
    if len(ok) != len(runs):
        return next(r for r in runs if not r["ok"])
    b = dict(min(runs, key=lambda r: r["cpu"]))
    b["rss_kib"] = max(r["rss_kib"] for r in runs)
    return b


class Case:
    def __init__(self, name, kind, size_mb, scan_bits=8 * 1024 * 1024, seed=1, openocd=True):
        self.name, self.kind, self.size_mb = name, kind, size_mb
        self.scan_bits, self.seed, self.openocd = scan_bits, seed, openocd
        self.files = {}

    def generate(self, work, target):
        base = os.path.join(work, "%s-%s" % (self.name, target))
        svf, xsvf, stats = base + ".svf", base + ".xsvf", base + ".json"
        params = {"kind": self.kind, "size_mb": self.size_mb, "scan_bits": self.scan_bits,
                  "seed": self.seed, "target": target}
        cached = None
        if os.path.exists(stats) and os.path.exists(svf) and os.path.exists(xsvf):
            cached = json.load(open(stats))
        if not cached or cached.get("params") != params:
            subprocess.check_call([sys.executable, GEN, self.kind, "--size-mb", str(self.size_mb),
                                   "--scan-bits", str(self.scan_bits), "--seed", str(self.seed),
                                   "--target", target, "--svf", svf, "--xsvf", xsvf,
                                   "--stats", stats])
            cached = json.load(open(stats))
            cached["params"] = params
            json.dump(cached, open(stats, "w"), indent=1)
        self.files[target] = (svf, xsvf, cached)


def mb(n):
    return n / 1e6


def fmt(v, spec="%.1f", none="-"):
    return none if v is None else spec % v


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build"))
    p.add_argument("--cli")
    p.add_argument("--sim")
    p.add_argument("--null")
    p.add_argument("--micro")
    p.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "korvex-bench"))
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--scale", type=float, default=1.0, help="multiplies every file size")
    p.add_argument("--smoke", action="store_true")
    p.add_argument("--no-openocd", action="store_true")
    p.add_argument("--openocd-xsvf", action="store_true",
                   help="also play the XSVF files through OpenOCD (slow: about 1 MB/s)")
    p.add_argument("--no-micro", action="store_true")
    p.add_argument("--no-chain", action="store_true")
    p.add_argument("--json", help="write every figure to this file")
    args = p.parse_args()
    tools = Tools(args)
    os.makedirs(args.work, exist_ok=True)

    s = args.scale
    if args.smoke:
        args.repeat = 1
        cases = [Case("bitstream", "bitstream", 1.0 * s, scan_bits=65536),
                 Case("verify", "verify", 1.0 * s, scan_bits=65536),
                 Case("small", "small", 0.25 * s),
                 Case("mixed", "mixed", 0.5 * s),
                 Case("runtest", "runtest", 0, openocd=False)]
    else:
        cases = [Case("bitstream", "bitstream", 64 * s),
                 Case("bitstream-q", "bitstream", 16 * s, seed=2),
                 Case("verify", "verify", 64 * s, seed=3),
                 Case("small", "small", 16 * s),
                 Case("small-q", "small", 4 * s, seed=2),
                 Case("mixed", "mixed", 16 * s),
                 Case("runtest", "runtest", 0)]

    modes = ["const"] + ([] if args.no_chain else ["chain"]) + \
        (["null"] if os.path.exists(tools.null) else [])
    for c in cases:
        c.generate(args.work, "const1")
        if "chain" in modes:
            c.generate(args.work, "bypass")

    # Interleaved repetitions: each round plays every file in every configuration once.
    runs = {}
    failures = []
    for rnd in range(args.repeat):
        for c in cases:
            for fmt_index, ext in enumerate(("svf", "xsvf")):
                for mode in modes:
                    target = "bypass" if mode == "chain" else "const1"
                    path = c.files[target][fmt_index]
                    r = run_ours(tools, args.work, path, mode)
                    runs.setdefault((c.name, ext, mode), []).append(r)
                    if not r["ok"]:
                        failures.append(("korvex-cli", mode, path, r.get("log", "")))
                if tools.openocd and c.openocd and (ext == "svf" or args.openocd_xsvf):
                    r = run_openocd(tools, args.work, c.files["const1"][fmt_index])
                    runs.setdefault((c.name, ext, "openocd"), []).append(r)
                    if not r["ok"]:
                        failures.append(("openocd", "", c.files["const1"][fmt_index],
                                         r.get("log", "")))
        print("round %d of %d done" % (rnd + 1, args.repeat), file=sys.stderr)

    results = []
    for c in cases:
        for fmt_index, ext in enumerate(("svf", "xsvf")):
            stats = c.files["const1"][2]
            size = stats["svf_bytes"] if ext == "svf" else stats["xsvf_bytes"]
            row = {"file": "%s.%s" % (c.name, ext), "bytes": size,
                   "shifted_bits": stats["shifted_bits"], "runtest_clocks": stats["runtest_clocks"]}
            for mode in modes + ["openocd"]:
                rs = runs.get((c.name, ext, mode))
                if not rs:
                    continue
                b = best(rs)
                bsize = size
                if mode == "chain":
                    cs = c.files["bypass"][2]
                    bsize = cs["svf_bytes"] if ext == "svf" else cs["xsvf_bytes"]
                rated = b["cpu"] > 0 and c.kind != "runtest"
                row[mode] = {"ok": b["ok"], "cpu": b["cpu"], "wall": b["wall"],
                             "rss_mib": b["rss_kib"] / 1024.0,
                             "mb_s": mb(bsize) / b["cpu"] if rated else None,
                             "mb_s_wall": mb(bsize) / b["wall"] if rated and b["wall"] > 0
                             else None,
                             "mbit_s": stats["shifted_bits"] / 1e6 / b["cpu"] if rated else None,
                             "device_s": b.get("device_s"), "exec_s": b.get("exec_s"),
                             "writes": b.get("writes"), "reads": b.get("reads")}
            results.append(row)

    print_report(results, args, tools)
    if args.json:
        json.dump(results, open(args.json, "w"), indent=1)

    if not args.no_micro and os.path.exists(tools.micro):
        cmd = [tools.micro]
        if args.smoke:
            cmd.append("--benchmark_min_time=0.01")
        print("\n## Micro-benchmarks\n", flush=True)
        if subprocess.call(cmd) != 0:
            failures.append(("korvex-micro-bench", "", "", ""))

    for who, mode, path, log in failures:
        print("\nFAILED: %s %s %s\n%s" % (who, mode, path, log), file=sys.stderr)
    return 1 if failures else 0


def print_report(results, args, tools):
    print("\n## Whole pipeline: korvex-cli on the simulator (constant TDO) against OpenOCD "
          "(dummy adapter)\n")
    print("MB = 10^6 bytes of file, per second of host CPU time and of wall time; best of %d "
          "runs (by CPU time).\n" % args.repeat)
    head = ["file", "size MB", "our MB/s CPU", "OpenOCD MB/s CPU", "ratio CPU", "our MB/s wall",
            "OpenOCD MB/s wall", "ratio wall", "our RSS MiB", "OpenOCD RSS MiB", "FT_Write",
            "reads", "device s (USB)", "device s (JTAG)", "host % of device", "our CPU s"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in results:
        ours, oo = r.get("const"), r.get("openocd")
        if not ours:
            continue
        both = oo and oo["ok"] and ours["ok"]
        if both and oo["mb_s"]:
            ratio = ours["mb_s"] / oo["mb_s"]
            ratio_wall = ours["mb_s_wall"] / oo["mb_s_wall"] if oo["mb_s_wall"] else None
        elif both:
            # The RUNTEST file has no rate to speak of: compare times.
            ratio = oo["cpu"] / max(ours["cpu"], 1e-6)
            ratio_wall = oo["wall"] / max(ours["wall"], 1e-6)
        else:
            ratio = ratio_wall = None
        host_pct = 100.0 * ours["cpu"] / ours["device_s"] if ours["device_s"] else None
        failed = "FAILED"
        cells = [r["file"], "%.1f" % mb(r["bytes"]),
                 fmt(ours["mb_s"]) if ours["ok"] else failed,
                 (fmt(oo["mb_s"]) if oo["ok"] else failed) if oo else "-",
                 fmt(ratio, "%.1fx"),
                 fmt(ours["mb_s_wall"]) if ours["ok"] else failed,
                 (fmt(oo["mb_s_wall"]) if oo["ok"] else failed) if oo else "-",
                 fmt(ratio_wall, "%.1fx"), fmt(ours["rss_mib"]),
                 fmt(oo["rss_mib"]) if oo else "-",
                 fmt(ours["writes"], "%d"), fmt(ours["reads"], "%d"),
                 fmt(ours["device_s"], "%.2f"), fmt(ours["exec_s"], "%.2f"),
                 fmt(host_pct, "%.2f%%"), fmt(ours["cpu"], "%.3f")]
        print("| " + " | ".join(cells) + " |")
    print("\nFT_Write and reads: USB writes and read round trips (FT_Read calls that returned "
          "replies); device s (USB): the simulator's estimate of the run on a KORVEX at 3 MHz "
          "with the USB costs (sim/README.md), device s (JTAG): its commands alone; host %: our "
          "CPU time over device s (USB).")

    print("\n## Where the time goes: host alone, simulator without and with its chain model\n")
    head = ["file", "null device MB/s", "sim const MB/s", "sim chain MB/s",
            "simulator share (const)", "chain model extra"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in results:
        n, c, ch = r.get("null"), r.get("const"), r.get("chain")
        if not c:
            continue
        share = 100.0 * (c["cpu"] - n["cpu"]) / c["cpu"] if n and c["cpu"] > 0 else None
        # Per byte of file, since the chain-model file is a different (same-sized) file.
        extra = 100.0 * (c["mb_s"] / ch["mb_s"] - 1) \
            if ch and ch["ok"] and ch["mb_s"] and c["mb_s"] else None
        cells = [r["file"], fmt(n["mb_s"]) if n else "-", fmt(c["mb_s"]),
                 (fmt(ch["mb_s"]) if ch["ok"] else "FAILED") if ch else "-",
                 fmt(share, "%.0f%%"), fmt(extra, "%+.0f%%")]
        print("| " + " | ".join(cells) + " |")
    print("\nsimulator share: part of the constant-TDO run's CPU time not spent by the host "
          "(null device); chain model extra: CPU per byte of the chain-model run over the "
          "constant-TDO run.")


if __name__ == "__main__":
    sys.exit(main())
