#!/usr/bin/python3
"""Draws the performance charts as SVG from the JSON the last `make bench` wrote.

    scripts/charts.py BENCH_DIR OUT_DIR        (make charts: build/bench -> docs/charts)

Reads, from BENCH_DIR:
  native.json        Google Benchmark's JSON (--benchmark_out); each benchmark's
                     ns_per_item counter, the fastest of its repetitions
  figures.json       the native bench's closing figures: the threads, the
                     largest cloths at 60 Hz, the schedules, the machine
  web-simd128.json   the kernel's bench in WebAssembly under node, SIMD128 build
  web-portable.json  the same, portable build
  javascript.json    optional: the springs written in JavaScript, same layout as
                     the web files ("ns a spring: cloth loop"); drawn when present
  npm.json           optional: the npm package's bench (records of name and ns)

The collisions' chart also needs the collisions' figures in each of these
files (make bench writes them all since the collisions were added).

A required file or figure that is missing stops the script with a message
naming it and status 1, before any chart is written: a chart must not
quietly lose a bar. The machine, from figures.json, is named on every chart.
"""
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

# The same input draws the same bytes: no date, fixed ids.
plt.rcParams["svg.hashsalt"] = "penshell"
plt.rcParams["font.size"] = 10

CLOTH = "256x256 cloth, 260,610 springs, 16 passes"
NATIVE, THREADS, WEB, JS, FLOOR = "#1f5fa8", "#2e9c5a", "#d9822b", "#8e44ad", "#9a9a9a"


class Missing(Exception):
    pass


def load(bench_dir, name, required=True):
    path = os.path.join(bench_dir, name)
    if not os.path.exists(path):
        if required:
            raise Missing(f"{path} is missing: run make bench first")
        return None
    with open(path) as f:
        try:
            return json.load(f)
        except ValueError as e:
            raise Missing(f"{path} is not valid JSON ({e}): run make bench again")


def figure(data, name, source):
    try:
        return data["figures"][name]
    except KeyError:
        raise Missing(f"{source} has no figure '{name}': run make bench again")


def benchmark_ns(native, prefix, label=None):
    """The fastest ns_per_item of the benchmarks whose name starts with prefix."""
    values = [b["ns_per_item"] for b in native.get("benchmarks", [])
              if b["name"].startswith(prefix) and "ns_per_item" in b
              and (label is None or b.get("label") == label) and not b.get("error_occurred")]
    if not values:
        raise Missing(f"native.json has no benchmark {prefix}" + (f" labelled {label}" if label else "")
                      + ": run make bench again")
    return min(values)


def paths_measured(native):
    """The processor paths the native bench measured on its own, in the bench's order."""
    seen = []
    for b in native.get("benchmarks", []):
        if b["name"].startswith("cloth_springs_path/") and b.get("label") and b["label"] not in seen:
            seen.append(b["label"])
    return seen


def machine_line(figures, native):
    m = figures.get("machine", {})
    date = native.get("context", {}).get("date", "")[:10]
    return f"{m.get('processor', 'unknown processor')}, {m.get('cores', '?')} cores; make bench of {date}"


def finish(fig, ax, title, machine, path, note=None):
    ax.set_title(title, loc="left", fontsize=11, fontweight="bold")
    footer = f"Measured on {machine}" + (f"; {note}" if note else "")
    fig.text(0.01, 0.01, footer, fontsize=8, color="#555555")
    ax.spines[["top", "right"]].set_visible(False)
    fig.tight_layout(rect=(0, 0.04, 1, 1))
    fig.savefig(path, format="svg", metadata={"Date": None})
    plt.close(fig)


def horizontal_bars(rows, xlabel, title, machine, path, note=None):
    """rows: (label, value, colour, text beside the bar)."""
    fig, ax = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.4))
    labels = [r[0] for r in rows]
    values = [r[1] for r in rows]
    bars = ax.barh(range(len(rows)), values, color=[r[2] for r in rows])
    ax.set_yticks(range(len(rows)), labels)
    ax.invert_yaxis()
    ax.set_xlabel(xlabel)
    ax.set_xlim(0, max(values) * 1.6)  # room for the text beside the longest bar
    for bar, row in zip(bars, rows):
        ax.text(bar.get_width() + max(values) * 0.01, bar.get_y() + bar.get_height() / 2, row[3],
                va="center", fontsize=8)
    finish(fig, ax, title, machine, path, note)


def npm_ns(npm, name):
    for record in npm.get("records", []):
        if record.get("name") == name and "ns_per_spring" in record:
            return record["ns_per_spring"]
    raise Missing(f"npm.json has no figure '{name}': run make bench again")


def npm_particle_ns(npm, name):
    for record in npm.get("records", []):
        if record.get("name") == name and "ns_per_particle" in record:
            return record["ns_per_particle"]
    raise Missing(f"npm.json has no figure '{name}': run make bench again")


COLLIDE_SCENES = [("pile", "a pile: 99,856 balls, about four contacts each"),
                  ("cloth", "a 256x256 cloth at rest: no contacts, the search alone"),
                  ("sparse", "100,000 balls scattered sparsely")]


def collide_chart(figures, simd, portable, js, npm, machine, path):
    """One panel a scene: ns a particle for one particle_collide call, each way."""
    fig, axes = plt.subplots(len(COLLIDE_SCENES), 1, figsize=(9, 11))
    for ax, (scene, title) in zip(axes, COLLIDE_SCENES):
        def native(how):
            return figure(figures, f"collide, ns a particle: {scene}, {how}", "figures.json")

        yard, one, two = native("yardstick"), native("particle_collide"), native("2 threads")
        rows = [("yardstick: the usual grid, plain C++", yard, FLOOR, f"{yard:.1f} ns"),
                (f"particle_collide ({figures.get('path', '?')} path)", one, NATIVE, yard),
                ("particle_collide_part, 2 threads", two, THREADS, f"{two:.1f} ns, wall clock ("
                 + f"{figure(figures, f'ratio: 2 parts on 2 threads vs particle_collide, {scene}', 'figures.json'):.2f}x"
                 + " one thread by the wall clock)")]
        wasm_yard = figure(simd, f"ns a particle: collide {scene} yardstick", "web-simd128.json")
        portable_yard = figure(portable, f"ns a particle: collide {scene} yardstick", "web-portable.json")
        portable_one = figure(portable, f"ns a particle: collide {scene} particle_collide", "web-portable.json")
        rows += [("WebAssembly: the yardstick", wasm_yard, FLOOR, f"{wasm_yard:.1f} ns"),
                 ("WebAssembly SIMD128: particle_collide",
                  figure(simd, f"ns a particle: collide {scene} particle_collide", "web-simd128.json"), WEB, wasm_yard),
                 ("WebAssembly portable: particle_collide", portable_one, WEB,
                  f"{portable_one:.1f} ns ({portable_yard / portable_one:.2f}x its build's yardstick)")]
        js_yard = None
        if js is not None:
            js_yard = figure(js, f"ns a particle: collide {scene} yardstick", "javascript.json")
            rows.append(("JavaScript: the yardstick", js_yard, FLOOR, f"{js_yard:.1f} ns"))
        if npm is not None:
            rows.append(("JavaScript: the npm package's collide()", npm_particle_ns(npm, f"npm simd128: package collide {scene}"),
                         JS, js_yard))
        values = [r[1] for r in rows]
        bars = ax.barh(range(len(rows)), values, color=[r[2] for r in rows])
        ax.set_yticks(range(len(rows)), [r[0] for r in rows], fontsize=8)
        ax.invert_yaxis()
        ax.set_xlim(0, max(values) * 1.5)
        for bar, row in zip(bars, rows):
            # Text as given, or the time and how many times faster than the yardstick given.
            text = row[3] if isinstance(row[3], str) else f"{row[1]:.1f} ns ({row[3] / row[1]:.2f}x the yardstick)"
            ax.text(bar.get_width() + max(values) * 0.01, bar.get_y() + bar.get_height() / 2, text, va="center",
                    fontsize=8)
        ax.set_title(title, loc="left", fontsize=9)
        ax.spines[["top", "right"]].set_visible(False)
    axes[-1].set_xlabel("ns a particle for one call (shorter is faster)")
    fig.suptitle("Particles that collide: one particle_collide call", x=0.01, ha="left", fontsize=11,
                 fontweight="bold")
    fig.text(0.01, 0.01, f"Measured on {machine}; one thread by its CPU time, two by the wall clock; "
             "WebAssembly and JavaScript under node", fontsize=8, color="#555555")
    fig.tight_layout(rect=(0, 0.03, 1, 0.97))
    fig.savefig(path, format="svg", metadata={"Date": None})
    plt.close(fig)


def springs_chart(native, figures, simd, portable, js, npm, machine, path):
    loop = benchmark_ns(native, "cloth_springs_loop/")
    native_pass = benchmark_ns(native, "cloth_springs_pass/")
    two = figure(figures, "threads, ns a spring: cloth 256x256, 2 threads", "figures.json")
    one_beside_two = figure(figures, "threads, ns a spring: cloth 256x256, spring_pass", "figures.json")

    def times(v, base=loop, what="the loop"):
        return f"{v:.2f} ns ({base / v:.2f}x {what})"

    rows = [("spring_force one by one", loop, NATIVE, f"{loop:.2f} ns"),
            (f"spring_pass ({figures.get('path', '?')} path)", native_pass, NATIVE, times(native_pass))]
    for p in paths_measured(native):
        v = benchmark_ns(native, "cloth_springs_path/", p)
        rows.append((f"  {p} path alone", v, NATIVE, times(v)))
    rows.append(("spring_pass_part, 2 threads", two, THREADS,
                 f"{two:.2f} ns ({one_beside_two / two:.2f}x spring_pass beside it)"))
    wasm_loop = figure(simd, "ns a spring: cloth loop", "web-simd128.json")
    wasm_pass = figure(simd, "ns a spring: cloth pass", "web-simd128.json")
    portable_pass = figure(portable, "ns a spring: cloth pass", "web-portable.json")
    rows += [("WebAssembly: spring_force one by one", wasm_loop, WEB, f"{wasm_loop:.2f} ns"),
             ("WebAssembly SIMD128: spring_pass", wasm_pass, WEB, times(wasm_pass, wasm_loop, "its loop")),
             ("WebAssembly portable: spring_pass", portable_pass, WEB,
              times(portable_pass, wasm_loop, "the SIMD128 build's loop"))]
    if js is not None:
        v = js_loop = figure(js, "ns a spring: cloth loop", "javascript.json")
        rows.append(("JavaScript: springs one by one", v, JS, f"{v:.2f} ns"))
    if npm is not None:
        v = npm_ns(npm, "npm simd128: package spring passes")
        rows.append(("JavaScript: the npm package's passes", v, JS,
                     times(v, js_loop, "plain JavaScript") if js is not None else f"{v:.2f} ns"))
    floor = benchmark_ns(native, "cloth_springs_floor/")
    rows.append(("floor: the same bytes, no arithmetic", floor, FLOOR, f"{floor:.2f} ns"))
    horizontal_bars(rows, "ns a spring (shorter is faster)", f"Springs: {CLOTH}", machine, path,
                    note="WebAssembly and JavaScript under node")


def threads_chart(figures, machine, path):
    sets = ["cloth 256x256", "cloth 512x512", "cloth 32x32", "rope of 300"]
    hows = [("spring_pass", "spring_pass, 1 thread", NATIVE), ("2 threads", "spring_pass_part, 2 threads", THREADS),
            ("floor 2", "floor of 2 threads", FLOOR)]
    fig, ax = plt.subplots(figsize=(8, 4))
    width = 0.27
    top = 0
    for k, (key, label, colour) in enumerate(hows):
        values = [figure(figures, f"threads, ns a spring: {s}, {key}", "figures.json") for s in sets]
        top = max(top, *values)
        bars = ax.bar([i + (k - 1) * width for i in range(len(sets))], values, width, label=label, color=colour)
        if key == "2 threads":
            one = [figure(figures, f"threads, ns a spring: {s}, spring_pass", "figures.json") for s in sets]
            for bar, a, b in zip(bars, one, values):
                ax.text(bar.get_x() + bar.get_width() / 2, bar.get_height(), f"{a / b:.2f}x", ha="center",
                        va="bottom", fontsize=8)
    ax.set_xticks(range(len(sets)), sets)
    ax.set_ylabel("ns a spring, 16 passes (lower is faster)")
    ax.set_ylim(0, top * 1.15)
    ax.legend(frameon=False, fontsize=8)
    finish(fig, ax, "Springs on two threads: the second core's gain", machine, path)


def cloth_chart(figures, machine, path):
    def springs(side):
        return 4 * side * side - 6 * side + 2

    rows = []
    for name, label, colour in [
            ("largest cloth at 60 Hz, side: spring_force loop, 1 core", "spring_force one by one, 1 core", NATIVE),
            ("largest cloth at 60 Hz, side: spring_pass, 1 core, beside 2 cores", "spring_pass, 1 core", NATIVE),
            ("largest cloth at 60 Hz, side: spring_pass_part, 2 cores", "spring_pass_part, 2 cores", THREADS)]:
        side = int(figure(figures, name, "figures.json"))
        rows.append((label, side, colour, f"{side}x{side}, {springs(side):,} springs"))
    horizontal_bars(rows, "side of the largest square cloth (particles)",
                    "The largest cloth whose frame fits 60 Hz (16.7 ms)", machine, path,
                    note="a frame: update_physics and 16 passes over structural and shear springs")


def schedules_chart(figures, machine, path):
    one_pass = figure(figures, "schedules, ns a spring: spring_pass", "figures.json")
    rows = [("one spring_pass", one_pass, NATIVE, f"{one_pass:.2f} ns")]
    for name, label in [("spring_schedule", "spring_schedule"),
                        ("spring_schedule_parts, 2 parts", "spring_schedule_parts, 2 parts")]:
        v = figure(figures, f"schedules, ns a spring: {name}", "figures.json")
        rows.append((label, v, THREADS if "parts" in name else NATIVE, f"{v:.1f} ns ({v / one_pass:.1f} passes)"))
    horizontal_bars(rows, "ns a spring (shorter is faster)", "Making a schedule: 256x256 cloth, 260,610 springs",
                    machine, path, note="made again whenever springs are added or removed")


def step_chart(native, simd, machine, path):
    rows = []
    for n, where in [(4096, "4096 particles, in cache"), (4194304, "4194304 particles, from memory")]:
        plain = benchmark_ns(native, f"update_scalar_reference/{n}/")
        step = benchmark_ns(native, f"update_physics/{n}/")
        stream = benchmark_ns(native, f"stream_pass/{n}/")
        rows += [(f"plain scalar loop, {where}", plain, FLOOR, f"{plain:.3f} ns"),
                 (f"update_physics, {where}", step, NATIVE, f"{step:.3f} ns ({plain / step:.2f}x the loop)"),
                 (f"streaming pass, {where}", stream, FLOOR, f"{stream:.3f} ns (bytes moved, no arithmetic)")]
    plain = figure(simd, "ns a particle: step plain loop", "web-simd128.json")
    step = figure(simd, "ns a particle: step update_physics", "web-simd128.json")
    rows += [("WebAssembly: plain loop, 4096", plain, FLOOR, f"{plain:.3f} ns"),
             ("WebAssembly SIMD128: update_physics, 4096", step, WEB, f"{step:.3f} ns ({plain / step:.2f}x)")]
    horizontal_bars(rows, "ns a particle (shorter is faster)", "The step: update_physics", machine, path)


def main(argv):
    if len(argv) != 3:
        print("usage: charts.py BENCH_DIR OUT_DIR", file=sys.stderr)
        return 2
    bench_dir, out_dir = argv[1], argv[2]
    try:
        native = load(bench_dir, "native.json")
        figures = load(bench_dir, "figures.json")
        simd = load(bench_dir, "web-simd128.json")
        portable = load(bench_dir, "web-portable.json")
        js = load(bench_dir, "javascript.json", required=False)
        npm = load(bench_dir, "npm.json", required=False)
        machine = machine_line(figures, native)
        # Everything drawn to memory first: a missing figure leaves the old charts as they were.
        os.makedirs(out_dir, exist_ok=True)
        charts = [("springs.svg", lambda p: springs_chart(native, figures, simd, portable, js, npm, machine, p)),
                  ("threads.svg", lambda p: threads_chart(figures, machine, p)),
                  ("cloth-60hz.svg", lambda p: cloth_chart(figures, machine, p)),
                  ("schedules.svg", lambda p: schedules_chart(figures, machine, p)),
                  ("step.svg", lambda p: step_chart(native, simd, machine, p)),
                  ("collisions.svg", lambda p: collide_chart(figures, simd, portable, js, npm, machine, p))]
        drawn = []
        for name, draw in charts:
            tmp = os.path.join(out_dir, f".{name}.new")
            draw(tmp)
            drawn.append((tmp, os.path.join(out_dir, name)))
    except Missing as e:
        for tmp, _ in locals().get("drawn", []):
            os.remove(tmp)
        print(f"charts: {e}", file=sys.stderr)
        return 1
    for tmp, final in drawn:
        os.replace(tmp, final)
        print(f"charts: {final}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
