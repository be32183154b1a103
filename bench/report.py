#!/usr/bin/env python3
"""Turns the lines scripts/bench.sh collected into its results table (Markdown, on stdout).

Usage: report.py RESULTS COMMAND

Each line of RESULTS is a kind ("machine", "workload", "exe", "frame") or "round=N" followed by
key=value pairs, values with spaces in single quotes. KB and MB are 1024 and 1024 * 1024 bytes, as Windows counts them.
"""
import shlex
import statistics
import sys

# The updater pauses 500 ms before launching the client and 300 ms after, as documented; the
# raw work launches nothing.
DOCUMENTED_PAUSES_MS = 800
GOAL_RATIO = 1.05
GOAL_FRAME_MS = 16
GOAL_EXE_BYTES = 200 * 1024
GOAL_PEAK_KB = 10 * 1024
STEPS = ("list", "extract", "backup", "count", "copy", "restore", "delete")


def parse(path):
    entries = []
    with open(path, encoding="utf-8") as results:
        for line in results:
            words = shlex.split(line)
            if not words:
                continue
            kind = words[0] if "=" not in words[0] else "run"
            values = dict(word.split("=", 1) for word in words if "=" in word)
            entries.append((kind, values))
    return entries


def median(runs, key):
    values = [float(run[key]) for run in runs if key in run]
    return statistics.median(values) if values else float("nan")


def verdict(met):
    return "met" if met else "**missed**"


def seconds(ms):
    return f"{ms / 1000:.2f} s"


def stage_table(counting, raw):
    """Where the time goes: the updater's stages, timed from its status changes, beside the raw
    program's steps that do the same work."""
    marks = ("waiting", "extracting", "backing", "installing", "restoring", "cleaning",
             "launching", "exit")
    if not counting or any(f"at_{mark}" not in counting[0] for mark in marks):
        listed = ", ".join(f"{step} {seconds(median(raw, step))}" for step in STEPS)
        return [f"Raw work by step (medians): {listed}."]

    def stage(first, last):
        return statistics.median(float(run[f"at_{last}"]) - float(run[f"at_{first}"])
                                 if first else float(run[f"at_{last}"]) for run in counting)

    def steps(*names):
        return sum(median(raw, name) for name in names)

    raw_rest = statistics.median(float(run["wall_ms"]) - sum(float(run[name]) for name in STEPS)
                                 for run in raw)
    rows = [
        ("Start-up, until the first status", stage(None, "waiting"), None),
        ("Wait for the client", stage("waiting", "extracting"), None),
        ("List and extract", stage("extracting", "backing"), steps("list", "extract")),
        ("Back up settings", stage("backing", "installing"), steps("backup")),
        ("Count and install files", stage("installing", "restoring"), steps("count", "copy")),
        ("Restore settings", stage("restoring", "cleaning"), steps("restore")),
        ("Clean up", stage("cleaning", "launching"), steps("delete")),
        ("Launch: 0.8 s of pauses, the launch, the window's close", stage("launching", "exit"),
         None),
        ("Process start and end outside the above", None, raw_rest),
    ]
    out = ["| Stage (medians) | Updater, counting build | Raw program |", "|---|---|---|"]
    for name, updater_ms, raw_ms in rows:
        out.append(f"| {name} | {seconds(updater_ms) if updater_ms is not None else '–'} "
                   f"| {seconds(raw_ms) if raw_ms is not None else '–'} |")
    return out


def main():
    entries = parse(sys.argv[1])
    command = sys.argv[2].strip()
    first = {kind: values for kind, values in reversed(entries)}
    machine = first.get("machine", {})
    runs = [values for kind, values in entries if kind == "run"]
    by_program = {name: [run for run in runs if run["program"] == name]
                  for name in ("updater", "raw", "counting")}
    frames = {values["state"]: values for kind, values in entries if kind == "frame"}
    rounds = len(by_program["updater"])

    updater_ms = median(by_program["updater"], "wall_ms")
    raw_ms = median(by_program["raw"], "wall_ms")
    ratio = updater_ms / raw_ms
    net_ratio = (updater_ms - DOCUMENTED_PAUSES_MS) / raw_ms
    exe_bytes = int(first["exe"]["bytes"])
    peak_kb = median(by_program["updater"], "peak_ws_kb")
    frame_ms = [float(frames[state]["median_ms"]) for state in ("waiting", "mid-install", "failed")]

    def cpu(program):
        user = median(by_program[program], "user_ms")
        kernel = median(by_program[program], "kernel_ms")
        return f"{user / 1000:.2f} s + {kernel / 1000:.2f} s = {(user + kernel) / 1000:.2f} s"

    out = []
    out.append("| Measure | Result | Goal | |")
    out.append("|---|---|---|---|")
    out.append(f"| Updater, start to exit (median of {rounds}) | {seconds(updater_ms)} | | |")
    out.append(f"| Raw work (median of {rounds}) | {seconds(raw_ms)} | | |")
    out.append(f"| Overhead ratio, updater / raw | {ratio:.3f} | ≤ {GOAL_RATIO} "
               f"| {verdict(ratio <= GOAL_RATIO)} |")
    out.append(f"| Same, less the updater's documented 0.8 s of pauses | {net_ratio:.3f} | | |")
    out.append(f"| CPU user + kernel, updater (counting build) | {cpu('counting')} | | |")
    out.append(f"| CPU user + kernel, raw program | {cpu('raw')} | | |")
    out.append(f"| `WM_APP` posts per run | {median(by_program['counting'], 'posts'):,.0f} | | |")
    out.append(f"| Paints per run | {median(by_program['counting'], 'paints'):,.0f} | | |")
    out.append("| Compose one 480 × 215 frame: waiting / mid-install / failed "
               f"(median of {frames['waiting']['frames']}) "
               f"| {' / '.join(f'{ms:.2f}' for ms in frame_ms)} ms "
               f"| < {GOAL_FRAME_MS} ms | {verdict(max(frame_ms) < GOAL_FRAME_MS)} |")
    out.append(f"| Release exe, `mossharbor-updater.exe` | {exe_bytes:,} bytes "
               f"({exe_bytes / 1024:.0f} KB) | ≤ 200 KB | {verdict(exe_bytes <= GOAL_EXE_BYTES)} |")
    out.append(f"| Peak working set, updater | {peak_kb / 1024:.1f} MB | ≤ 10 MB "
               f"| {verdict(peak_kb <= GOAL_PEAK_KB)} |")
    out.append(f"| Peak working set, raw program (no window) "
               f"| {median(by_program['raw'], 'peak_ws_kb') / 1024:.1f} MB | | |")
    out.append("")
    out.append("| Round | Updater | Raw | Ratio | Counting build | Posts | Paints |")
    out.append("|---|---|---|---|---|---|---|")
    for index in range(rounds):
        updater = by_program["updater"][index]
        raw = by_program["raw"][index]
        counting = by_program["counting"][index] if index < len(by_program["counting"]) else {}
        out.append(f"| {updater['round']} | {seconds(float(updater['wall_ms']))} "
                   f"| {seconds(float(raw['wall_ms']))} "
                   f"| {float(updater['wall_ms']) / float(raw['wall_ms']):.3f} "
                   f"| {seconds(float(counting.get('wall_ms', 'nan')))} "
                   f"| {counting.get('posts', '')} | {counting.get('paints', '')} |")
    out.append("")
    out.extend(stage_table(by_program["counting"], by_program["raw"]))
    out.append("")
    workload = first.get("workload", {}).get("text", "")
    out.append(f"Workload: {workload}.")
    out.append("")
    out.append(f"Machine: {machine.get('uname', '?')}, "
               f"{machine.get('cpu', '?')}, {machine.get('cpus', '?')} CPUs, "
               f"{machine.get('wine', '?')}; work folder on "
               f"{machine.get('work', '?')}; load average {machine.get('load', '?')} at the start; "
               f"commit {machine.get('commit', '?')}; {machine.get('date', '?')}.")
    out.append("")
    out.append(f"Command: `{command}`")
    print("\n".join(out))


if __name__ == "__main__":
    main()
