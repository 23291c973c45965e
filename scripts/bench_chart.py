#!/usr/bin/python3
"""Draws the benchmarks' figures as one PNG: each of ours beside its peers and its bounds.

    bench_chart.py RESULTS_FOLDER OUTPUT_PNG

RESULTS_FOLDER holds what scripts/bench.sh writes there: channel_summary.json (channel_bench
--summary_json: our figure, the peer's, their ratio and the target of each comparison) and
mesh_export_bench.json (Google Benchmark's JSON output: the time of each benchmark per mesh size).
A file that is missing leaves its panels out. Needs Debian's python3-matplotlib.
"""
import json
import os
import re
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

OK_COLOUR = "#2e7d32"
MISSED_COLOUR = "#c62828"
PLAIN_COLOUR = "#607d8b"

# mesh_export_bench's figures per mesh size, in the order they are drawn, and their labels.
MESH_SERIES = [
    ("BM_Memcpy", "memcpy", "#9e9e9e"),
    ("BM_RawChannel", "raw channel", "#1565c0"),
    ("BM_MeshExport", "mesh export", "#ef6c00"),
    ("BM_ModelExportEndToEnd", "model end to end (warm)", "#6a1b9a"),
    ("EndToEndHost", "model end to end, the host's share", "#ce93d8"),
]
# The bounds mesh_export_bench's summary holds its figures to, as times the raw channel's time
# for the same bytes: the mesh export at least half the raw rate, the model end to end at most 5x.
MESH_BOUNDS = {
    "BM_MeshExport": (2.0, [100000, 1000000]),
    "BM_ModelExportEndToEnd": (5.0, [2000000, 10000000]),
    "EndToEndHost": (3.0, [2000000]),
}


def load(path):
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


def seconds(entry):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry.get("time_unit", "ns")]
    return entry["real_time"] * scale


def mesh_times(results):
    """{series: {triangles: seconds}} from Google Benchmark's JSON, means of repetitions."""
    times = {}
    for entry in results.get("benchmarks", []):
        if entry.get("run_type") == "aggregate" or entry.get("error_occurred"):
            continue
        match = re.match(r"^(BM_\w+)/(\d+)", entry["name"])
        if not match:
            continue
        series, triangles = match.group(1), int(match.group(2))
        times.setdefault(series, {}).setdefault(triangles, []).append(seconds(entry))
        if series == "BM_ModelExportEndToEnd" and "host_ms" in entry:
            # The time the host's export calls took, of the same walks.
            times.setdefault("EndToEndHost", {}).setdefault(triangles, []).append(
                entry["host_ms"] / 1e3)
    return {s: {t: sum(v) / len(v) for t, v in by.items()} for s, by in times.items()}


def label_of(key):
    return key.replace("_vs_", " vs ").replace("_", " ")


def channel_panel(axis, summary):
    """Our figure over the peer's (or over its own target, for absolute figures), with bounds."""
    rows = []
    for key, entry in summary.items():
        target = entry.get("target")
        if entry.get("ratio") is not None:
            value, bound = entry["ratio"], target
            label = label_of(key)
        elif target:
            value, bound = entry["ours"] / target, 1.0
            label = "%s / target (%s)" % (label_of(key), entry.get("unit", ""))
        else:
            continue
        if value is None or value <= 0:
            continue
        ok = entry.get("ok")
        colour = PLAIN_COLOUR if ok is None else OK_COLOUR if ok else MISSED_COLOUR
        if bound:
            label += "  [target %s %g]" % ("<=" if "<=" in entry.get("compare", "") else ">=",
                                           bound)
        rows.append((label, value, bound, colour))
    rows.reverse()
    for index, (label, value, bound, colour) in enumerate(rows):
        axis.barh(index, value, color=colour, height=0.6)
        axis.text(max(value, bound or 0) * 1.1, index, "%.3g" % value, va="center", fontsize=8)
        if bound:
            axis.plot([bound, bound], [index - 0.42, index + 0.42], color="black", linewidth=2.5)
    axis.set_yticks(range(len(rows)))
    axis.set_yticklabels([row[0] for row in rows], fontsize=8)
    axis.set_xscale("log")
    smallest = min([row[1] for row in rows] + [row[2] for row in rows if row[2]])
    largest = max([row[1] for row in rows] + [row[2] for row in rows if row[2]])
    axis.set_xlim(smallest / 2, largest * 3)
    axis.axvline(1.0, color="#bdbdbd", linewidth=0.8, zorder=0)
    axis.set_xlabel("ours / peer (log scale); black bar: target; green met, red missed, grey none")
    axis.set_title("channel_bench: the channel beside memcpy, a Boost message_queue and a Unix "
                   "socket", fontsize=10)


def mesh_time_panel(axis, times):
    sizes = sorted({t for by in times.values() for t in by})
    width = 0.8 / len(MESH_SERIES)
    for number, (series, label, colour) in enumerate(MESH_SERIES):
        by = times.get(series, {})
        shown = [(i, t) for i, t in enumerate(sizes) if by.get(t, 0) > 0]
        xs = [i + (number - (len(MESH_SERIES) - 1) / 2) * width for i, _ in shown]
        ys = [by[t] * 1e3 for _, t in shown]
        if ys:
            axis.bar(xs, ys, width=width, color=colour, label=label)
    axis.set_xticks(range(len(sizes)))
    axis.set_xticklabels(["%gM" % (t / 1e6) if t >= 1e6 else "%gk" % (t / 1e3) for t in sizes])
    axis.set_yscale("log")
    axis.set_xlabel("triangles")
    axis.set_ylabel("milliseconds (log scale)")
    axis.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    axis.set_title("mesh_export_bench: time per mesh or model", fontsize=10)


def mesh_ratio_panel(axis, times):
    raw = times.get("BM_RawChannel", {})
    sizes = sorted(raw)
    for series, label, colour in MESH_SERIES[2:]:
        by = times.get(series, {})
        points = [(t, by[t] / raw[t]) for t in sizes if by.get(t, 0) > 0 and raw[t] > 0]
        if not points:
            continue
        axis.plot([p[0] for p in points], [p[1] for p in points], marker="o", color=colour,
                  label=label)
        for t, ratio in points:
            axis.annotate("%.2f" % ratio, (t, ratio), textcoords="offset points", xytext=(4, 4),
                          fontsize=7)
        bound, at = MESH_BOUNDS[series]
        axis.plot(at, [bound] * len(at), linestyle="--", color=colour, linewidth=1.5,
                  marker="_", markersize=18, label="%s target <= %.0fx" % (label, bound))
    axis.axhline(1.0, color=MESH_SERIES[1][2], linewidth=1, label="raw channel")
    axis.set_xscale("log")
    axis.set_yscale("log")
    axis.set_xlabel("triangles (log scale)")
    axis.set_ylabel("times the raw channel's time (log scale)")
    axis.legend(fontsize=7, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    axis.set_title("mesh_export_bench: beside the raw channel for the same bytes", fontsize=10)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    folder, output = sys.argv[1], sys.argv[2]
    summary = load(os.path.join(folder, "channel_summary.json"))
    mesh = load(os.path.join(folder, "mesh_export_bench.json"))
    times = mesh_times(mesh) if mesh else {}
    panels = []
    if summary:
        panels.append(lambda axis: channel_panel(axis, summary))
    if times:
        panels.append(lambda axis: mesh_time_panel(axis, times))
        if times.get("BM_RawChannel"):
            panels.append(lambda axis: mesh_ratio_panel(axis, times))
    if not panels:
        sys.stderr.write("bench_chart.py: no results in %s\n" % folder)
        return 1
    figure, axes = plt.subplots(len(panels), 1, figsize=(13, 4.2 * len(panels)))
    if len(panels) == 1:
        axes = [axes]
    for draw, axis in zip(panels, axes):
        draw(axis)
    context = (mesh or {}).get("context", {})
    figure.suptitle("Orvanta benchmarks%s" % (
        " (%s, %s CPUs)" % (context.get("date", ""), context.get("num_cpus", "?"))
        if context else ""), fontsize=12)
    figure.tight_layout()
    figure.savefig(output, dpi=100)
    print("chart: %s" % output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
