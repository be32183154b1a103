#!/usr/bin/env python3
"""Turns the lines scripts/bench.sh collected into its results table (Markdown, on stdout).

Usage: report.py RESULTS COMMAND

Each line of RESULTS is a kind ("machine", "workload", "exe", "frame") or "round=N" followed by
key=value pairs, values with spaces in single quotes. KB and MB are 1024 and 1024 * 1024 bytes,
as Windows counts them.
"""
import shlex
import statistics
import sys

# The updater pauses 500 ms before launching the client and 300 ms after, as documented; the
# floors launch nothing.
DOCUMENTED_PAUSES_MS = 800
GOAL_COPY_RATIO = 0.6
GOAL_MOVE_RATIO = 1.05
GOAL_FRAME_MS = 16
GOAL_EXE_BYTES = 200 * 1024
GOAL_OWN_MEMORY_KB = 2 * 1024
STEPS = ("list", "extract", "flush", "backup", "count", "install", "restore", "delete")
PROGRAMS = ("updater", "earlier", "copy", "move", "lean", "counting", "bare")
FLOORS = {  # program: its name in the tables and what it does
    "copy": ("Copy floor", "raw work, copying the kept folders aside and the update over"),
    "move": ("Move floor", "raw work, copying the kept folders aside, moving the update over"),
    "lean": ("Lean floor", "raw work, moving aside the player's files the update ships, moving "
             "the update over"),
}


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
    return "–" if ms != ms else f"{ms / 1000:.2f} s"


def megabytes(kb):
    return f"{kb / 1024:.1f} MB"


def outside_archive_tool(runs):
    """Median start-to-exit time less the archive tool's listing and extraction, which is the
    same tool doing the same work in every program and most of a run under Wine."""
    def tool_ms(run):
        if "at_extracting" in run:
            return float(run["at_backing"]) - float(run["at_extracting"])
        # The updater's flush of what the tool wrote ends its extraction stage too.
        return float(run["list"]) + float(run["extract"]) + float(run.get("flush", 0))

    return statistics.median(float(run["wall_ms"]) - tool_ms(run) for run in runs)


def stage_table(counting, floors):
    """Where the time goes: the updater's stages, timed from its status changes, beside the
    floors' steps that do the same work."""
    marks = ("waiting", "extracting", "backing", "installing", "restoring", "cleaning",
             "launching", "exit")
    if not counting or any(f"at_{mark}" not in run for run in counting for mark in marks):
        return ["The counting build's stage times are incomplete; no stage table."]

    def stage(first, last):
        """The median over the rounds and, since a single run varies, the least and the most."""
        times = [float(run[f"at_{last}"]) - (float(run[f"at_{first}"]) if first else 0)
                 for run in counting]
        return statistics.median(times), min(times), max(times)

    def steps(runs, *names):  # a floor without a step (only the lean one flushes) took 0 s
        return sum(median(runs, name) for name in names if any(name in run for run in runs))

    def rest(runs):
        return statistics.median(float(run["wall_ms"]) - sum(
            float(run[name]) for name in STEPS if name in run) for run in runs)

    rows = [
        ("Start-up, until the first status", stage(None, "waiting"), None),
        ("Wait for the client", stage("waiting", "extracting"), None),
        ("List, extract and flush what the tool wrote", stage("extracting", "backing"),
         ("list", "extract", "flush")),
        ("Of which the flush", None, ("flush",)),
        ("Back up settings and kept folders", stage("backing", "installing"), ("backup",)),
        ("Count and install files", stage("installing", "restoring"), ("count", "install")),
        ("Restore settings and kept folders", stage("restoring", "cleaning"), ("restore",)),
        ("Clean up", stage("cleaning", "launching"), ("delete",)),
        ("Launch: 0.8 s of pauses, the launch, the window's close", stage("launching", "exit"),
         None),
        ("Process start and end outside the above", None, "rest"),
    ]
    out = ["| Stage (medians) | Updater, counting build (least–most) | "
           + " | ".join(name for name, _ in FLOORS.values()) + " |",
           "|---" * (2 + len(FLOORS)) + "|"]
    for name, updater, names in rows:
        cells = ["–" if updater is None else
                 f"{seconds(updater[0])} ({updater[1] / 1000:.2f}–{updater[2] / 1000:.2f})"]
        for runs in floors:
            if not runs:
                cells.append("–")
            elif names is None:
                cells.append("–")
            elif names == "rest":
                cells.append(seconds(rest(runs)))
            else:
                cells.append(seconds(steps(runs, *names)))
        out.append(f"| {name} | {' | '.join(cells)} |")
    return out


def main():
    entries = parse(sys.argv[1])
    command = sys.argv[2].strip()
    first = {kind: values for kind, values in reversed(entries)}
    machine = first.get("machine", {})
    runs = [values for kind, values in entries if kind == "run"]
    by = {name: [run for run in runs if run["program"] == name] for name in PROGRAMS}
    frames = {values["state"]: values for kind, values in entries if kind == "frame"}
    rounds = len(by["updater"])
    # Raw results appended to by an older checkout may lack a floor; it is left out, not failed on.
    floors = [name for name in FLOORS if by[name]]

    updater_ms = median(by["updater"], "wall_ms")
    floor_ms = {name: median(by[name], "wall_ms") for name in floors}
    exe_bytes = int(first["exe"]["bytes"])
    updater_peak_kb = median(by["updater"], "peak_ws_kb")
    bare_peak_kb = median(by["bare"], "peak_ws_kb")
    own_kb = updater_peak_kb - bare_peak_kb
    frame_ms = [float(frames[state]["median_ms"]) for state in ("waiting", "mid-install", "failed")]
    goals = {"copy": GOAL_COPY_RATIO, "move": GOAL_MOVE_RATIO}

    def cpu(program):
        user = median(by[program], "user_ms")
        kernel = median(by[program], "kernel_ms")
        return f"{user / 1000:.2f} + {kernel / 1000:.2f} = {(user + kernel) / 1000:.2f} s"

    def lower(name):
        return FLOORS[name][0].lower()

    floor_list = " / ".join(lower(name) for name in floors)
    out = []
    out.append("| Measure | Result | Goal | |")
    out.append("|---|---|---|---|")
    out.append(f"| Updater, start to exit (median of {rounds}) | {seconds(updater_ms)} | | |")
    if by["earlier"]:
        earlier_ms = median(by["earlier"], "wall_ms")
        out.append(f"| Earlier updater (`BENCH_EARLIER_UPDATER`), start to exit "
                   f"| {seconds(earlier_ms)} | | |")
        out.append(f"| Updater less the earlier one | {seconds(updater_ms - earlier_ms)} "
                   f"({(updater_ms - earlier_ms) / earlier_ms:+.1%}) | | |")
    for name in floors:
        out.append(f"| {FLOORS[name][0]}: {FLOORS[name][1]} | {seconds(floor_ms[name])} | | |")
    for name in floors:
        ratio = updater_ms / floor_ms[name]
        goal = goals.get(name)
        judged = "| | |" if goal is None else f"| ≤ {goal} | {verdict(ratio <= goal)} |"
        out.append(f"| Ratio updater / {lower(name)} | {ratio:.3f} {judged}")
    if by["earlier"] and "lean" in floors:
        out.append(f"| Ratio earlier updater / lean floor | {earlier_ms / floor_ms['lean']:.3f} "
                   "| | |")
    out.append("| Same, less the updater's documented 0.8 s of pauses: ratios to the "
               f"{floor_list} | "
               + " / ".join(f"{(updater_ms - DOCUMENTED_PAUSES_MS) / floor_ms[name]:.3f}"
                            for name in floors) + " | | |")
    tool_free = {name: outside_archive_tool(by[name]) for name in ["counting"] + floors}
    out.append("| Outside `tar.exe`'s listing and extraction: updater (counting build) / "
               f"{floor_list} | {' / '.join(seconds(ms) for ms in tool_free.values())} | | |")
    out.append(f"| Same, ratios updater to the {floor_list} | "
               + " / ".join(f"{tool_free['counting'] / tool_free[name]:.3f}" for name in floors)
               + " | | |")
    out.append(f"| CPU user + kernel: updater (counting build) / {floor_list} "
               f"| {' / '.join(cpu(name) for name in ['counting'] + floors)} | | |")
    out.append(f"| Repaint posts per run | {median(by['counting'], 'posts'):,.0f} | | |")
    out.append(f"| Paints per run | {median(by['counting'], 'paints'):,.0f} | | |")
    out.append(f"| Peak working set: updater / bare window open {seconds(updater_ms)} "
               f"(median of {len(by['bare'])}) "
               f"| {megabytes(updater_peak_kb)} / {megabytes(bare_peak_kb)} | | |")
    out.append(f"| Updater's own memory: the difference | {megabytes(own_kb)} | ≤ 2 MB "
               f"| {verdict(own_kb <= GOAL_OWN_MEMORY_KB)} |")
    out.append("| Compose one 480 × 215 frame: waiting / mid-install / failed "
               f"(median of {frames['waiting']['frames']}) "
               f"| {' / '.join(f'{ms:.2f}' for ms in frame_ms)} ms "
               f"| < {GOAL_FRAME_MS} ms | {verdict(max(frame_ms) < GOAL_FRAME_MS)} |")
    out.append(f"| Release exe, `mossharbor-updater.exe` | {exe_bytes:,} bytes "
               f"({exe_bytes / 1024:.0f} KB) | ≤ 200 KB | {verdict(exe_bytes <= GOAL_EXE_BYTES)} |")
    out.append("")
    earlier = ["earlier"] if by["earlier"] else []
    out.append("| Round | Updater | " + "".join("Earlier updater | " for _ in earlier)
               + " | ".join(FLOORS[name][0] for name in floors) + " | "
               + " | ".join(f"/ {name}" for name in floors)
               + " | Counting build | Posts | Paints | Peak, updater / bare |")
    out.append("|---" * (6 + len(earlier) + 2 * len(floors)) + "|")
    for updater in by["updater"]:
        def run(program):
            return next((r for r in by[program] if r["round"] == updater["round"]), {})

        wall = float(updater["wall_ms"])
        floor_walls = [float(run(name).get("wall_ms", "nan")) for name in floors]

        def ratio(ms):
            return "–" if ms != ms else f"{wall / ms:.3f}"
        counting, bare = run("counting"), run("bare")
        out.append(f"| {updater['round']} | {seconds(wall)} "
                   + "".join(f"| {seconds(float(run(name).get('wall_ms', 'nan')))} "
                             for name in earlier)
                   + f"| {' | '.join(seconds(ms) for ms in floor_walls)} "
                   f"| {' | '.join(ratio(ms) for ms in floor_walls)} "
                   f"| {seconds(float(counting.get('wall_ms', 'nan')))} "
                   f"| {counting.get('posts', '')} | {counting.get('paints', '')} "
                   f"| {megabytes(float(updater['peak_ws_kb']))} / "
                   f"{megabytes(float(bare.get('peak_ws_kb', 'nan')))} |")
    out.append("")
    out.extend(stage_table(by["counting"], [by[name] for name in FLOORS]))
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
