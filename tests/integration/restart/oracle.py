#!/usr/bin/env python3
"""The restart header against an independent interpreter.

LinuxCNC's standalone interpreter rs274 runs a program from its start and the restarted
program corvane-cli prints with --dry-run; a probe block right after the restart block prints
the interpreter's state (distance and units mode, plane, work offset, motion mode, feed, speed,
tool, spindle, coolant, cycle return mode, cutter compensation, tool length offset, position).
For every place of every program in the corpus that corvane-cli allows, both must be equal.

Usage: oracle.py CORVANE-CLI   (exit 77 when rs274 is not installed: the test is skipped)
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

# Three blocks: one long enough for all of it is too long for the interpreter.
PROBE = "\n".join([
    "(DEBUG,PROBE abs=#<_absolute> metric=#<_metric> plane=#<_plane> wcs=#<_coord_system>)",
    "(DEBUG,PROBE motion=#<_motion_mode> feed=#<_feed> rpm=#<_rpm> tool=#<_current_tool>)",
    "(DEBUG,PROBE spindle=#<_spindle_on> flood=#<_flood> mist=#<_mist> r=#<_retract_r_plane>)",
    "(DEBUG,PROBE ccomp=#<_ccomp> upr=#<_units_per_rev> tlo=#5403)",
    "(DEBUG,PROBE x=#<_x> y=#<_y> z=#<_z>)",
])


def mill(number, units, offsets, tools, cycles, compensation, incremental, arcs):
    """A milling program of a few tools; every block numbered."""
    inch = units == "G20"
    step = 0.05 if inch else 1.0
    lines = ["%", "O%04d (CORPUS %d)" % (number, number),
             "%s G17 G90 G94 G40 G80" % units]
    for index, tool in enumerate(tools):
        wcs = offsets[index % len(offsets)]
        lines += ["G91 G28 Z0", "T%d M06" % tool,
                  "G00 G90 %s X%.3f Y%.3f S%d M0%d" % (wcs, -2 * step, -2 * step,
                                                    1000 + 500 * tool, 3 if tool % 2 else 4),
                  "G43 H%d Z%.3f M08" % (tool, 10 * step)]
        if cycles and index == 1:
            lines += ["G99 G81 X%.3f Y%.3f Z%.3f R%.3f F%.1f" % (5 * step, 5 * step, -3 * step,
                                                               2 * step, 80 + tool),
                      "X%.3f" % (10 * step), "Y%.3f" % (10 * step), "G80",
                      "G00 Z%.3f" % (10 * step),
                      "G98 G83 X%.3f Y%.3f Z%.3f R%.3f Q%.3f F%.1f" % (
                          15 * step, 5 * step, -6 * step, 2 * step, step, 60 + tool),
                      "X%.3f" % (20 * step), "G80", "G00 Z%.3f" % (12 * step)]
        for p in range(3):
            lines += ["G00 X%.3f Y%.3f" % (p * 3 * step, -step),
                      "Z%.3f" % step,
                      "G01 Z%.3f F%.1f" % (-(p + 1) * 0.5 * step, 100 + 10 * tool),
                      "X%.3f F%.1f" % ((p * 3 + 2) * step, 300 + 10 * tool),
                      "Y%.3f" % (6 * step)]
            if arcs:
                lines += ["G02 X%.3f Y%.3f I%.3f J0" % ((p * 3 + 4) * step, 6 * step, step)]
            lines += ["G00 Z%.3f" % (5 * step)]
        if incremental:
            lines += ["G91 G00 X%.3f Y%.3f" % (step, step), "G01 Z%.3f F%.1f" % (-step, 90.0),
                      "X%.3f" % (2 * step), "G00 Z%.3f" % (6 * step), "G90"]
        if compensation and index == len(tools) - 1:
            side = "G41" if tool % 2 else "G42"
            lines += ["G00 X%.3f Y%.3f" % (-3 * step, -3 * step), "G01 Z%.3f F%.1f" % (-step, 150.0),
                      "%s D%d X0 Y0 F%.1f" % (side, tool, 200.0), "Y%.3f" % (8 * step),
                      "X%.3f" % (8 * step), "G40 X%.3f Y%.3f" % (11 * step, 11 * step),
                      "G00 Z%.3f" % (10 * step)]
        lines += ["M09"]
    lines += ["G91 G28 Z0", "M30", "%"]
    numbered = []
    n = 0
    for line in lines:
        if line.startswith("%") or line.startswith("O"):
            numbered.append(line)
        else:
            n += 10
            numbered.append("N%d %s" % (n, line))
    return "\n".join(numbered) + "\n"


def corpus():
    programs = []
    number = 1
    for units in ("G21", "G20"):
        for offsets in (["G54"], ["G54", "G55"], ["G56", "G57", "G58"]):
            for variant in range(4):
                if len(programs) >= 22:
                    break
                programs.append(mill(number, units, offsets,
                                     tools=[1, 2, 3][:2 + variant % 2],
                                     cycles=variant in (1, 3), compensation=variant >= 2,
                                     incremental=variant in (0, 3), arcs=variant % 2 == 0))
                number += 1
    return programs


def interpreter_probe(lines, after, folder, tools):
    """rs274 over `lines` cut after index `after`, the probe put behind it; its probe line."""
    body = [l for l in lines[:after + 1] if not l.startswith("O") and not l.startswith("%")]
    text = "%\n" + "\n".join(body) + "\n" + PROBE + "\nM2\n%\n"
    path = os.path.join(folder, "probe.ngc")
    with open(path, "w") as f:
        f.write(text)
    run = subprocess.run(["rs274", "-t", tools, "-g", path], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True, timeout=60)
    found = re.findall(r'MESSAGE\("PROBE ([^"]*)"\)', run.stdout)
    if len(found) != 5:
        return "no probe: " + (run.stdout[-400:] + run.stderr[-400:])
    return " ".join(found)


def main():
    cli = sys.argv[1]
    if shutil.which("rs274") is None:
        print("rs274 (package linuxcnc-uspace) is not installed")
        return 77
    failures = 0
    checked = 0
    refused = 0
    with tempfile.TemporaryDirectory(prefix="corvane-oracle-") as folder:
        tools = os.path.join(folder, "tool.tbl")
        with open(tools, "w") as f:
            for t in range(1, 10):
                f.write("T%d P%d Z%.3f D%.3f ;\n" % (t, t, 20 + t * 1.5, 0.05 * t))
        cfg = os.path.join(folder, "corvane.cfg")
        open(cfg, "w").close()
        for index, program in enumerate(corpus()):
            path = os.path.join(folder, "P%02d.NC" % index)
            with open(path, "w") as f:
                f.write(program)
            lines = program.splitlines()
            for number in range(1, len(lines) + 1):
                run = subprocess.run([cli, "--cfg", cfg, "send", "--restart-at", "L%d" % number,
                                      "--dry-run", "-p", "/dev/corvane-no-such-port", path],
                                     capture_output=True, text=True, timeout=60)
                if run.returncode != 0:
                    refused += 1
                    continue
                restarted = run.stdout.splitlines()
                tail = lines[number - 1:]
                start = len(restarted) - len(tail)
                if start < 0 or restarted[start:] != tail:
                    print("P%02d L%d: the rest of the program is not as written" % (index, number))
                    failures += 1
                    continue
                if lines[number - 1].startswith("%"):
                    continue
                full = interpreter_probe(lines, number - 1, folder, tools)
                again = interpreter_probe(restarted, start, folder, tools)
                if " M06" in lines[number - 1] or " M6" in lines[number - 1]:
                    # At a tool change the header moves nothing: the change takes the head to
                    # its change position, wherever the last cut left it.
                    full = full.split(" x=")[0]
                    again = again.split(" x=")[0]
                checked += 1
                if full != again:
                    failures += 1
                    print("P%02d L%d (%s):\n  full run:  %s\n  restarted: %s" % (
                        index, number, lines[number - 1], full, again))
    print("%d restart places checked against rs274, %d refused, %d differ" % (
        checked, refused, failures))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
