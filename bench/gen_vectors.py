#!/usr/bin/env python3
"""Synthetic SVF and XSVF files for the benchmarks, reproducible by seed.

    gen_vectors.py KIND --size-mb N [--seed S] [--target const1|bypass]
                   [--scan-bits B] --svf OUT.svf [--xsvf OUT.xsvf] [--stats OUT.json]

Kinds:
  bitstream  a few DR scans of --scan-bits bits each (8 Mibit by default), the hex of each on one
             line, every third one a read-back with TDO and MASK, an IDCODE read, and a RUNTEST
             after every scan: what an FPGA configuration file looks like.
  verify     the bitstream kind with every scan read back and compared (a verify file).
  small      hundreds of thousands of short statements: SIR 8, SDR of 8 to 64 bits (half of them
             with TDO and MASK), RUNTEST of 1 to 256 TCK: a CPLD or flash algorithm.
  mixed      comments of both kinds (whole lines and after statements), hex wrapped over indented
             lines, SMASK, ENDDR DRPAUSE phases, STATE changes, DR scans of 8 bits to 256 kbit
             (log-uniform), RUNTEST in its short (n TCK) and long (state, count, time, end state)
             forms.
  runtest    one RUNTEST of 10^8 TCK between an IDCODE read and a DR scan (--size-mb is ignored).

Targets: the TDO every expectation is written for.
  const1     TDO held high: the simulator with "tdo_constant 1" and OpenOCD's dummy adapter both
             read ones. Expected bits under the mask are 1, bits outside it are random noise, so a
             comparison that ignored the mask would fail.
  bypass     the simulator's full chain model with its default device (IR length 8, IDCODE
             0x0A6B5093): every SIR selects BYPASS (the IDCODE read excepted), so a DR scan returns
             its own TDI one bit late. Bit 0 is masked: after a DR scan that ended in DRPAUSE it
             is the previous scan's last bit, not the captured 0.

The XSVF file has the same content as far as XSVF can say it: XSIR, XSDR with a zero XTDOMASK
for scans without read-back, XSDRTDO with the mask for the others, XRUNTEST before the scan that
follows a RUNTEST, XENDDR for the DRPAUSE phases, XSTATE for the RESET and IDLE changes and
XCOMMENT for the comment lines.

The stats file (JSON) records what the runner needs to turn times into rates: file sizes,
statements, scans, shifted bits and RUNTEST clocks.
"""

import argparse
import json
import math
import random
import struct
import sys

IDCODE = 0x0A6B5093
IDCODE_OP = 0xFE
DATA_OP = 0x02


def hexdigits(value, bits):
    """SVF hex of a value of `bits` bits: most significant digit first, no superfluous digits."""
    digits = max(1, (bits + 3) // 4)
    return "%0*X" % (digits, value)


class Target:
    def __init__(self, kind, rng):
        self.kind = kind
        self.rng = rng

    def ir_value(self):
        """An instruction for a scan that is not the IDCODE read."""
        if self.kind == "bypass":
            # Anything but the IDCODE and data-register opcodes selects BYPASS.
            while True:
                v = self.rng.getrandbits(8)
                if v not in (IDCODE_OP, DATA_OP):
                    return v
        return self.rng.getrandbits(8)

    def ir_expect(self, bits):
        """(tdo, mask) of an IR scan of `bits` bits."""
        full = (1 << bits) - 1
        if self.kind == "bypass":
            # Capture-IR loads ...01; with one 8-bit device that is what comes out.
            return 0x01, full
        return full, full

    def dr_expect(self, bits, tdi, mask):
        """(tdo, mask) of a DR scan: the mask given may be narrowed to what the target defines."""
        full = (1 << bits) - 1
        if self.kind == "bypass":
            mask &= full & ~1
            return (tdi << 1) & mask, mask
        noise = self.rng.getrandbits(bits)
        return (full & mask) | (noise & ~mask & full), mask

    def idcode_expect(self):
        if self.kind == "bypass":
            return IDCODE, 0x0FFFFFFF
        return 0xFFFFFFFF, 0x0FFFFFFF


class SvfWriter:
    def __init__(self, out):
        self.out = out
        self.bytes = 0

    def write(self, text):
        self.out.write(text)
        self.bytes += len(text)


class XsvfWriter:
    """Keeps the XSVF parameter state (XSDRSIZE, XTDOMASK, XENDDR) and writes only changes."""

    def __init__(self, out):
        self.out = out
        self.bytes = 0
        self.sdr_size = 8
        self.mask = None
        self.end_dr = 0
        self.runtest = 0

    def put(self, data):
        self.out.write(data)
        self.bytes += len(data)

    @staticmethod
    def value(v, bits):
        return v.to_bytes((bits + 7) // 8, "big")

    def size(self, bits):
        if bits != self.sdr_size:
            self.put(struct.pack(">BI", 0x08, bits))
            self.sdr_size = bits
            self.mask = None

    def set_mask(self, mask, bits):
        self.size(bits)
        if self.mask != mask:
            self.put(b"\x01" + self.value(mask, bits))
            self.mask = mask

    def sir(self, bits, tdi):
        self.put(bytes([0x02, bits]) + self.value(tdi, bits))

    def flush_runtest(self):
        if self.runtest:
            self.put(struct.pack(">BI", 0x04, self.runtest))

    def sdr(self, bits, tdi, tdo=None, mask=None):
        if tdo is None:
            self.set_mask(0, bits)
            self.flush_runtest()
            self.put(b"\x03" + self.value(tdi, bits))
        else:
            self.set_mask(mask, bits)
            self.flush_runtest()
            self.put(b"\x09" + self.value(tdi, bits) + self.value(tdo, bits))
        if self.runtest:
            # The player applies an XRUNTEST to the next XSDR only.
            self.runtest = 0

    def runtest_us(self, us):
        self.runtest = max(1, min(int(us), 0xFFFFFFFF))

    def enddr(self, pause):
        if pause != self.end_dr:
            self.put(bytes([0x14, 1 if pause else 0]))
            self.end_dr = pause

    def state(self, code):
        self.put(bytes([0x12, code]))

    def comment(self, text):
        self.put(b"\x16" + text.encode("ascii") + b"\x00")

    def complete(self):
        self.put(b"\x00")


class Generator:
    def __init__(self, args, svf, xsvf):
        self.rng = random.Random(args.seed)
        self.target = Target(args.target, self.rng)
        self.svf = SvfWriter(svf)
        self.xsvf = XsvfWriter(xsvf) if xsvf else None
        self.limit = int(args.size_mb * 1024 * 1024)
        self.args = args
        self.stats = {"statements": 0, "scans": 0, "shifted_bits": 0, "readback_bits": 0,
                      "runtest_clocks": 0}

    # --- Statements, written to both files --------------------------------------------------
    def stmt(self, text):
        self.svf.write(text)
        self.stats["statements"] += 1

    def comment(self, text, style="!"):
        self.svf.write("%s %s\n" % (style, text))
        if self.xsvf:
            self.xsvf.comment(text)

    def sir(self, value, check=False):
        text = "SIR 8 TDI (%02X)" % value
        if check:
            tdo, mask = self.target.ir_expect(8)
            text += " TDO (%02X) MASK (%02X)" % (tdo, mask)
            self.stats["readback_bits"] += 8
        self.stmt(text + ";\n")
        self.stats["scans"] += 1
        self.stats["shifted_bits"] += 8
        if self.xsvf:
            self.xsvf.sir(8, value)

    def sdr(self, bits, tdi, readback=False, mask=None, smask=False, wrap=0, indent="\t",
            omit_mask=False, tail=""):
        """One SDR; wrap > 0 breaks the hex into lines of that many digits."""
        full = (1 << bits) - 1

        def hx(v):
            s = hexdigits(v, bits)
            if wrap and len(s) > wrap:
                s = ("\n" + indent).join(s[i:i + wrap] for i in range(0, len(s), wrap))
                return "(\n" + indent + s + ")"
            return "(" + s + ")"

        parts = ["SDR %d TDI %s" % (bits, hx(tdi))]
        tdo = None
        if readback:
            if mask is None:
                mask = full
            tdo, mask = self.target.dr_expect(bits, tdi, mask)
            parts.append("TDO " + hx(tdo))
            if not omit_mask:
                parts.append("MASK " + hx(mask))
            self.stats["readback_bits"] += bits
        if smask:
            parts.append("SMASK " + hx(full))
        self.stmt(" ".join(parts) + ";" + tail + "\n")
        self.stats["scans"] += 1
        self.stats["shifted_bits"] += bits
        if self.xsvf:
            self.xsvf.sdr(bits, tdi, tdo, mask)

    def runtest(self, clocks, long_form=None):
        if long_form:
            self.stmt(long_form + "\n")
        else:
            self.stmt("RUNTEST %d TCK;\n" % clocks)
        self.stats["runtest_clocks"] += clocks
        if self.xsvf:
            # TCK at 3 MHz, as microseconds.
            self.xsvf.runtest_us(max(1, clocks // 3))

    def idcode(self):
        tdo, mask = self.target.idcode_expect()
        self.stmt("SIR 8 TDI (%02X);\n" % IDCODE_OP)
        self.stmt("SDR 32 TDI (00000000) TDO (%08X) MASK (%08X);\n" % (tdo, mask))
        self.stats["scans"] += 2
        self.stats["shifted_bits"] += 40
        self.stats["readback_bits"] += 32
        if self.xsvf:
            self.xsvf.sir(8, IDCODE_OP)
            self.xsvf.sdr(32, 0, tdo, mask)

    def header(self, title):
        self.svf.write("// %s, seed %d, target %s\n" % (title, self.args.seed, self.args.target))
        self.stmt("ENDIR IDLE;\nENDDR IDLE;\n")
        self.stats["statements"] += 1  # two statements on those lines
        self.stmt("STATE RESET;\n")
        self.stmt("STATE IDLE;\n")
        if self.xsvf:
            self.xsvf.state(0)
            self.xsvf.state(1)
        # Test-Logic-Reset selects IDCODE; every kind starts with an instruction of its own.
        self.sir(self.target.ir_value())

    def finish(self):
        if self.xsvf:
            self.xsvf.complete()

    # --- Kinds -------------------------------------------------------------------------------
    def bitstream(self):
        bits = self.args.scan_bits
        verify = self.args.kind == "verify"
        self.header("%s benchmark, %d-bit scans" % ("verify" if verify else "bitstream", bits))
        self.idcode()
        self.sir(self.target.ir_value())
        n = 0
        while self.svf.bytes < self.limit:
            tdi = self.rng.getrandbits(bits)
            readback = verify or n % 3 == 2
            mask = self.rng.getrandbits(bits) if readback else None
            self.sdr(bits, tdi, readback, mask)
            self.runtest(10000)
            n += 1

    def small(self):
        self.header("small-statement benchmark")
        rng = self.rng
        while self.svf.bytes < self.limit:
            r = rng.random()
            if r < 0.3:
                self.sir(self.target.ir_value(), check=rng.random() < 0.5)
            elif r < 0.8:
                bits = rng.randint(8, 64)
                readback = rng.random() < 0.5
                self.sdr(bits, rng.getrandbits(bits), readback,
                         rng.getrandbits(bits) if readback else None)
            else:
                self.runtest(rng.randint(1, 256))

    def mixed(self):
        self.header("mixed benchmark")
        self.stmt("FREQUENCY 3.0E6 HZ;\n")
        rng = self.rng
        words = ["erase", "program", "verify", "block", "row", "sector", "read", "check", "done",
                 "address", "data", "status", "wait", "pulse", "cell"]
        paused = False
        while self.svf.bytes < self.limit:
            r = rng.random()
            if r < 0.12:
                style = "!" if rng.random() < 0.5 else "//"
                self.comment(" ".join(rng.choice(words) for _ in range(rng.randint(2, 10))), style)
            elif r < 0.17:
                paused = not paused
                self.stmt("ENDDR %s;\n" % ("DRPAUSE" if paused else "IDLE"))
                if self.xsvf:
                    self.xsvf.enddr(paused)
            elif r < 0.22:
                choice = rng.random()
                if choice < 0.3:
                    self.stmt("STATE RESET IDLE;\n")
                    if self.xsvf:
                        self.xsvf.state(0)
                        self.xsvf.state(1)
                    self.sir(self.target.ir_value())
                elif choice < 0.6:
                    self.stmt("STATE DRPAUSE;\n")
                else:
                    self.stmt("STATE IDLE;\n")
                    if self.xsvf:
                        self.xsvf.state(1)
            elif r < 0.32:
                self.sir(self.target.ir_value(), check=rng.random() < 0.5)
            elif r < 0.45:
                form = rng.random()
                clocks = rng.randint(1, 4096)
                if form < 0.5:
                    self.runtest(clocks)
                elif form < 0.8:
                    self.runtest(clocks, "RUNTEST IDLE %d TCK %.1E SEC ENDSTATE IDLE;" %
                                 (clocks, clocks / 3e6))
                else:
                    us = rng.randint(10, 1000)
                    self.runtest(us * 3, "RUNTEST %.2E SEC;" % (us / 1e6))
            else:
                # Log-uniform from 8 bits to 256 kbit.
                bits = int(round(math.exp(rng.uniform(math.log(8), math.log(262144)))))
                tdi = rng.getrandbits(bits)
                readback = rng.random() < 0.5
                mask = rng.getrandbits(bits) if readback else None
                # TDO without MASK compares under the mask in force; only all-ones TDO is sure to
                # match that on a constant-high target.
                omit_mask = False
                if readback and self.target.kind == "const1" and rng.random() < 0.2:
                    mask = (1 << bits) - 1
                    omit_mask = True
                wrap = rng.choice([64, 80, 128]) if bits > 256 else 0
                tail = "  ! scan %d" % self.stats["scans"] if rng.random() < 0.1 else ""
                self.sdr(bits, tdi, readback, mask, smask=rng.random() < 0.2, wrap=wrap,
                         indent=rng.choice(["\t", "    ", "\t\t"]), omit_mask=omit_mask,
                         tail=tail)
        if paused:
            self.stmt("ENDDR IDLE;\n")
        self.stmt("STATE IDLE;\n")

    def runtest_file(self):
        self.header("RUNTEST of 10^8 TCK")
        self.idcode()
        self.runtest(100000000)
        self.sir(self.target.ir_value())
        self.sdr(64, self.rng.getrandbits(64), True, (1 << 64) - 1)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("kind", choices=["bitstream", "verify", "small", "mixed", "runtest"])
    p.add_argument("--size-mb", type=float, default=16.0, help="SVF size to reach, in MiB")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--target", choices=["const1", "bypass"], default="const1")
    p.add_argument("--scan-bits", type=int, default=8 * 1024 * 1024,
                   help="length of the bitstream kind's DR scans")
    p.add_argument("--svf", required=True)
    p.add_argument("--xsvf")
    p.add_argument("--stats")
    args = p.parse_args()

    with open(args.svf, "w", newline="\n") as svf:
        xsvf = open(args.xsvf, "wb") if args.xsvf else None
        try:
            g = Generator(args, svf, xsvf)
            {"bitstream": g.bitstream, "verify": g.bitstream, "small": g.small, "mixed": g.mixed,
             "runtest": g.runtest_file}[args.kind]()
            g.finish()
        finally:
            if xsvf:
                xsvf.close()
    stats = dict(g.stats)
    stats.update(kind=args.kind, seed=args.seed, target=args.target, svf_bytes=g.svf.bytes,
                 xsvf_bytes=g.xsvf.bytes if g.xsvf else 0)
    if args.stats:
        with open(args.stats, "w") as f:
            json.dump(stats, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
