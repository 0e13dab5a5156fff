"""Side-by-side benchmark of pelun against pygam and statsmodels' GLMGam (`make bench`).

Runs every (workload, n, system) case in a fresh process (bench/compare_case.py) under a time cap, then
writes bench/RESULTS.md, bench/results.json and the plots bench/time_vs_n.png and bench/fitted_curves.png.

    python bench/compare.py                 # the full run (about 20-30 minutes on 2 cores)
    python bench/compare.py --quick --out /tmp/bench-quick   # n <= 10^4, few replicates: a smoke run

The children run without OPENBLAS_CORETYPE and OPENBLAS_L2_SIZE (both unset together when either is set),
which slow a current numpy on some processors; the report records whether they were set.
"""

import argparse
import datetime
import json
import math
import os
import platform
import statistics
import subprocess
import sys
import time
from importlib import metadata
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
CASE = HERE / "compare_case.py"

SYSTEMS = ["pelun", "pygam", "statsmodels"]
LABEL = {"pelun": "pelun", "pygam": "pygam", "statsmodels": "statsmodels GLMGam",
         "statsmodels-bh": "statsmodels GLMGam (default basinhopping)"}
WORKLOAD_TITLE = {"gaussian": "single smooth, Gaussian", "poisson": "single smooth, Poisson",
                  "bernoulli": "single smooth, Bernoulli", "additive": "additive, 4 terms, Gaussian",
                  "surface": "te surface, Gaussian"}
WORKLOAD_INDEX = {"gaussian": 1, "poisson": 2, "bernoulli": 3, "additive": 4, "surface": 5}
PYGAM_GRID = {"single": 11, "additive": 5 ** 4, "surface": 11}  # candidate fits of pygam's grid search


def seed_of(workload, n):
    return WORKLOAD_INDEX[workload] * 10 ** 7 + round(10 * math.log10(n)) * 10 ** 5


def plan(quick):
    """The cases, in run order: (workload, n, system, child options)."""
    single = [10 ** 3, 10 ** 4] if quick else [10 ** 3, 10 ** 4, 10 ** 5, 10 ** 6]
    additive = [400, 10 ** 4] if quick else [400, 10 ** 4, 10 ** 5, 10 ** 6]
    cases = []
    for workload in ["gaussian", "poisson", "bernoulli"]:
        for n in single:
            for system in SYSTEMS:
                if n <= 10 ** 5 or system == "pelun":
                    cases.append((workload, n, system, {}))
    cases.append(("gaussian", 10 ** 3, "statsmodels-bh", {"method": "basinhopping"}))
    for n in additive:
        for system in SYSTEMS:
            if n <= 10 ** 5 or system == "pelun":
                cases.append(("additive", n, system, {}))
    for system in SYSTEMS:
        cases.append(("surface", 10 ** 4, system, {}))
    return cases


def child_env():
    env = dict(os.environ)
    if "OPENBLAS_CORETYPE" in env or "OPENBLAS_L2_SIZE" in env:
        env.pop("OPENBLAS_CORETYPE", None)
        env.pop("OPENBLAS_L2_SIZE", None)
    env["PYTHONPATH"] = str(HERE) + os.pathsep + env.get("PYTHONPATH", "")
    env.setdefault("MPLBACKEND", "Agg")
    return env


def run_child(job, cap):
    """Runs one case; returns (events, status) where status is 'ok', 'timeout' or 'error: ...'."""
    command = [sys.executable, str(CASE), json.dumps(job)]
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=cap, env=child_env(), cwd=HERE)
        stdout, status = out.stdout, "ok" if out.returncode == 0 else f"error (exit {out.returncode})"
        stderr = out.stderr
    except subprocess.TimeoutExpired as expired:
        stdout = expired.stdout.decode() if isinstance(expired.stdout, bytes) else (expired.stdout or "")
        stderr = expired.stderr.decode() if isinstance(expired.stderr, bytes) else (expired.stderr or "")
        status = "timeout"
    events = []
    for line in stdout.splitlines():
        try:
            events.append(json.loads(line))
        except json.JSONDecodeError:
            pass
    if status.startswith("error"):
        status += ": " + (stderr.strip().splitlines() or ["no message"])[-1][:200]
    return events, status


PROFILES = [("additive", 10 ** 6, 2), ("poisson", 10 ** 5, 3)]  # pelun cases profiled: (workload, n, fits)


def json_child(argv, cap):
    """Runs a helper script in the benchmark's environment and returns the JSON it prints (or an error)."""
    try:
        out = subprocess.run([sys.executable, *argv], capture_output=True, text=True, timeout=cap, env=child_env(),
                             cwd=HERE)
        return json.loads(out.stdout.strip().splitlines()[-1])
    except (subprocess.SubprocessError, json.JSONDecodeError, IndexError) as error:
        return {"error": f"{type(error).__name__}: {error}"[:300]}


def run_case(workload, n, system, options, args):
    small = n <= 10 ** 3
    job = {"system": "statsmodels" if system == "statsmodels-bh" else system, "workload": workload, "n": n,
            "seed": seed_of(workload, n), "options": options,
            "max_repeats": 1 if system == "statsmodels-bh" else args.max_repeats,
            "repeat_budget": args.repeat_budget,
            "replicates": 1 if system == "statsmodels-bh" else
            (args.replicates_small if small else
             args.replicates_medium if n <= 10 ** 4 or system == "pelun" else 1),
            "replicate_budget": args.replicate_budget,
            "curve": workload == "poisson" and n == 10 ** 3 and system in SYSTEMS}
    start, load = time.perf_counter(), loadavg()
    events, status = run_child(job, args.cap)
    result = {"workload": workload, "n": n, "system": system, "options": options, "status": status,
              "wall": time.perf_counter() - start, "load_before": load, "job": job}
    for event in events:
        kind = event.pop("event")
        if kind == "timing":
            result["timing"] = event
        elif kind == "replicate":
            result.setdefault("replicates", []).append(event)
        elif kind in ("pass", "curve", "probe"):
            result[kind] = event
        elif kind == "unsupported":
            result["status"] = "unsupported: " + event["message"]
    if status == "timeout" and "timing" not in result and system in SYSTEMS:
        # How long would the selection have taken? Time one fit at fixed smoothing for scale.
        probe, probe_status = run_child(dict(job, probe=True), args.cap)
        for event in probe:
            if event.get("event") == "probe":
                result["probe"] = event
    return result


# --- summaries -----------------------------------------------------------------------------------------

def median_time(r):
    return statistics.median(r["timing"]["times"]) if "timing" in r else None


def mean_of(r, key, upto=None):
    reps = r.get("replicates", [])[:upto]
    return statistics.fmean(x[key] for x in reps) if reps else None


def fmt_time(t):
    if t is None:
        return "–"
    if t >= 100:
        return f"{t:.0f}"
    if t >= 1:
        return f"{t:.2f}"
    if t >= 0.01:
        return f"{t:.3f}"
    return f"{t:.2g}"


def fmt_num(v, digits=3):
    return "–" if v is None else f"{v:.{digits}g}"


def lookup(results, workload, n, system):
    for r in results:
        if r["workload"] == workload and r["n"] == n and r["system"] == system:
            return r
    return None


def common_mse(results, workload, n, systems):
    """MSE of each system averaged over the replicates that all of `systems` completed."""
    rs = [lookup(results, workload, n, s) for s in systems]
    if any(r is None or not r.get("replicates") for r in rs):
        return None, 0
    m = min(len(r["replicates"]) for r in rs)
    return [mean_of(r, "mse", m) for r in rs], m


def status_text(r, cap):
    s = r["status"]
    if s == "timeout":
        text = f"over the {cap:.0f} s cap"
        if "probe" in r:
            one = r["probe"]["seconds"]
            if r["system"] == "pygam":
                fits = PYGAM_GRID[workload_kind(r["workload"])]
                text += f" (one fit at fixed λ: {fmt_time(one)} s; × {fits} grid points ≈ {fits * one:.0f} s)"
            else:
                text += f" (one PIRLS fit at fixed α: {fmt_time(one)} s)"
        return text
    return s


def workload_kind(workload):
    return "single" if workload in ("gaussian", "poisson", "bernoulli") else workload


def machine_info():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    mem_kib = 0
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                mem_kib = int(line.split()[1])
    return {"nproc": os.cpu_count(), "cpu": cpu, "mem_gib": mem_kib / 2 ** 20, "python": platform.python_version(),
            "kernel": platform.release()}


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def versions():
    out = {}
    for name in ["pelun", "pygam", "statsmodels", "numpy", "scipy", "pandas", "scipy-openblas32", "matplotlib"]:
        try:
            out[name] = metadata.version(name)
        except metadata.PackageNotFoundError:
            out[name] = "not installed"
    return out


def git_state():
    def git(*a):
        try:
            return subprocess.run(["git", *a], cwd=ROOT, capture_output=True, text=True, timeout=20).stdout.strip()
        except (OSError, subprocess.SubprocessError):
            return ""
    head = git("rev-parse", "--short", "HEAD")
    dirty = git("status", "--porcelain", "--", "src", "bindings", "python", "CMakeLists.txt", "cmake")
    return {"commit": head or "unknown", "dirty": bool(dirty)}


def blas_info():
    code = ("import json, numpy, scipy.linalg, pelun, pygam, statsmodels.api\n"
            "from threadpoolctl import threadpool_info\n"
            "print(json.dumps([{k: d.get(k) for k in ('filepath', 'version', 'num_threads', 'architecture')}"
            " for d in threadpool_info()]))")
    try:
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                             env=child_env())
        return json.loads(out.stdout)
    except (subprocess.SubprocessError, json.JSONDecodeError):
        return []


# --- targets -------------------------------------------------------------------------------------------

def targets(results, cap):
    """The benchmark's targets, each as a dict: name, case, measured, goal, met (True/False/None)."""
    rows = []
    for workload in ["gaussian", "poisson", "bernoulli"]:
        for n in [10 ** 4, 10 ** 5]:
            pel = lookup(results, workload, n, "pelun")
            if pel is None or median_time(pel) is None:
                continue
            tp = median_time(pel)
            for peer in ["pygam", "statsmodels"]:
                r = lookup(results, workload, n, peer)
                if r is None:
                    continue
                t = median_time(r)
                if t is None:
                    ratio, bound = (cap / tp, True) if r["status"] == "timeout" else (None, False)
                else:
                    ratio, bound = t / tp, False
                rows.append({"target": "single smooth: pelun ≥ 10× faster", "case": f"{workload}, n = {n:,}",
                             "versus": LABEL[peer],
                             "measured": None if ratio is None else ("≥ " if bound else "") + f"{ratio:.0f}×",
                             "goal": "≥ 10×", "met": None if ratio is None else ratio >= 10,
                             "ratio": ratio})
            mses, m = common_mse(results, workload, n, ["pelun", "pygam", "statsmodels"])
            if mses is not None:
                best = min(mses[1], mses[2])
                rows.append({"target": "single smooth: MSE ≤ the better peer's", "case": f"{workload}, n = {n:,}",
                             "versus": "pygam" if mses[1] <= mses[2] else LABEL["statsmodels"],
                             "measured": f"{mses[0]:.3g} vs {best:.3g} (ratio {mses[0] / best:.2f}, "
                                         f"{m} replicate{'s' if m > 1 else ''})",
                             "goal": "ratio ≤ 1", "met": mses[0] <= best, "ratio": mses[0] / best})
    for n in [400, 10 ** 4, 10 ** 5]:
        pel, r = lookup(results, "additive", n, "pelun"), lookup(results, "additive", n, "pygam")
        if pel is None or r is None or median_time(pel) is None:
            continue
        tp, t = median_time(pel), median_time(r)
        if t is None and r["status"] == "timeout":
            ratio, text = cap / tp, f"≥ {cap / tp:.0f}× (pygam over the cap)"
        elif t is None:
            ratio, text = None, r["status"]
        else:
            ratio, text = t / tp, f"{t / tp:.0f}×"
        rows.append({"target": "additive: pelun ≥ 100× faster than pygam's grid search", "case": f"n = {n:,}",
                     "versus": "pygam", "measured": text, "goal": "≥ 100×",
                     "met": None if ratio is None else ratio >= 100, "ratio": ratio})
        mses, m = common_mse(results, "additive", n, ["pelun", "pygam"])
        rows.append({"target": "additive: MSE ≤ pygam's", "case": f"n = {n:,}", "versus": "pygam",
                     "measured": "pygam did not finish" if mses is None else
                     f"{mses[0]:.3g} vs {mses[1]:.3g} (ratio {mses[0] / mses[1]:.2f}, {m} replicate"
                     f"{'s' if m > 1 else ''})",
                     "goal": "ratio ≤ 1", "met": None if mses is None else mses[0] <= mses[1],
                     "ratio": None if mses is None else mses[0] / mses[1]})
    big = lookup(results, "additive", 10 ** 6, "pelun")
    if big is not None and "timing" in big:
        peak = big["timing"]["peak_mib"]
        rows.append({"target": "additive n = 10⁶: pelun peak memory < 1 GB", "case": "n = 1,000,000",
                     "versus": "", "measured": f"{peak:.0f} MiB", "goal": "< 1024 MiB", "met": peak < 1024,
                     "ratio": peak / 1024})
        pts = [(n, median_time(lookup(results, "additive", n, "pelun"))) for n in [10 ** 4, 10 ** 5, 10 ** 6]
               if lookup(results, "additive", n, "pelun") is not None]
        pts = [(n, t) for n, t in pts if t is not None]
        if len(pts) == 3:
            t5, t6 = pts[1][1], pts[2][1]
            slope = math.log10(t6 / t5)
            xs = [math.log10(n) for n, _ in pts]
            ys = [math.log10(t) for _, t in pts]
            mx, my = statistics.fmean(xs), statistics.fmean(ys)
            fit_slope = sum((a - mx) * (b - my) for a, b in zip(xs, ys)) / sum((a - mx) ** 2 for a in xs)
            rows.append({"target": "additive: pelun time linear in n", "case": "n = 10⁵ → 10⁶", "versus": "",
                         "measured": f"t(10⁶)/t(10⁵) = {t6 / t5:.1f} (log-log slope {slope:.2f}; "
                                     f"{fit_slope:.2f} over 10⁴–10⁶)",
                         "goal": "slope ≤ 1.1", "met": slope <= 1.1, "ratio": slope})
    for workload in ["gaussian", "poisson"]:
        for n in [10 ** 3, 10 ** 4, 10 ** 5, 10 ** 6]:
            r = lookup(results, workload, n, "pelun")
            if r is None or not r.get("replicates"):
                continue
            c = mean_of(r, "coverage")
            k = len(r["replicates"])
            rows.append({"target": "pelun 95 % interval coverage in [0.90, 0.99]", "case": f"{workload}, n = {n:,}",
                         "versus": "", "measured": f"{c:.3f} ({k} replicate{'s' if k > 1 else ''})",
                         "goal": "0.90–0.99", "met": 0.90 <= c <= 0.99, "ratio": c})
    return rows


# --- plots ---------------------------------------------------------------------------------------------

COLOR = {"pelun": "tab:blue", "pygam": "tab:orange", "statsmodels": "tab:green", "statsmodels-bh": "tab:olive"}


def plot_times(results, cap, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, axes = plt.subplots(2, 2, figsize=(10, 8), sharey=True)
    for ax, workload in zip(axes.ravel(), ["gaussian", "poisson", "bernoulli", "additive"]):
        for system in SYSTEMS + ["statsmodels-bh"]:
            rs = sorted((r for r in results if r["workload"] == workload and r["system"] == system),
                        key=lambda r: r["n"])
            pts = [(r["n"], median_time(r)) for r in rs if median_time(r) is not None]
            capped = [r["n"] for r in rs if r["status"] == "timeout" and median_time(r) is None]
            if pts:
                ax.loglog(*zip(*pts), "o-" if system != "statsmodels-bh" else "*", color=COLOR[system],
                          label=LABEL[system], markersize=6 if system != "statsmodels-bh" else 11)
            if capped:
                ax.loglog(capped, [cap] * len(capped), "^", color=COLOR[system], markersize=9,
                          markerfacecolor="none", label=f"{LABEL[system]}: over the {cap:.0f} s cap")
        passes = sorted((r["n"], r["pass"]["seconds"]) for r in results
                        if r["workload"] == workload and r["system"] == "pelun" and "pass" in r)
        if passes:
            ax.loglog(*zip(*passes), ":", color="grey", label="one X'WX pass on pelun's X (NumPy)")
        ax.axhline(cap, color="lightgrey", lw=0.8)
        ax.set_title(WORKLOAD_TITLE[workload])
        ax.set_xlabel("n")
        ax.grid(True, which="major", alpha=0.3)
    handles = {}
    for ax in axes.ravel():
        for h, lab in zip(*ax.get_legend_handles_labels()):
            handles.setdefault(lab, h)
    fig.legend(handles.values(), handles.keys(), loc="lower center", ncol=3, fontsize=8, frameon=False)
    for ax in axes[:, 0]:
        ax.set_ylabel("fit time incl. smoothing selection (s)")
    fig.suptitle("Wall time of one fit against n (median of repeats; each case in a fresh process)")
    fig.tight_layout(rect=(0, 0.07, 1, 1))
    fig.savefig(path, dpi=110)
    plt.close(fig)


def plot_curves(results, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    rs = [lookup(results, "poisson", 10 ** 3, s) for s in SYSTEMS]
    rs = [r for r in rs if r is not None and "curve" in r]
    if not rs:
        return
    fig, axes = plt.subplots(1, len(rs), figsize=(4.2 * len(rs), 3.8), sharey=True)
    for ax, r in zip(list(axes) if len(rs) > 1 else [axes], rs):
        c = r["curve"]
        ax.plot(c["data_x"], c["data_y"], ".", color="lightgrey", markersize=2, label="data")
        ax.fill_between(c["x"], c["lo"], c["hi"], color=COLOR[r["system"]], alpha=0.25, label="95 % interval")
        ax.plot(c["x"], c["mu"], color=COLOR[r["system"]], label="fitted mean")
        ax.plot(c["x"], c["truth"], "k--", lw=1, label="truth")
        rep = r["replicates"][0]
        ax.set_title(f"{LABEL[r['system']]}\nMSE {rep['mse']:.3g}, coverage {rep['coverage']:.2f}, "
                     f"edf {rep['edf']:.1f}", fontsize=9)
        ax.set_xlabel("x")
        ax.set_ylim(0, 12)
    axes_list = list(axes) if len(rs) > 1 else [axes]
    axes_list[0].set_ylabel("y, mean")
    axes_list[0].legend(fontsize=7, loc="upper right")
    fig.suptitle("Poisson single smooth, n = 1,000, same data for all: fitted mean and 95 % interval vs truth "
                 "exp(1 + sin 2πx)", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


# --- the report ----------------------------------------------------------------------------------------

def case_rows(results, workload, cap):
    lines = ["| n | system | fit time (s) | repeats | × pelun's time | peak memory (MiB) | MSE | "
             "95 % coverage | replicates | edf |", "|---|---|---|---|---|---|---|---|---|---|"]
    for n in sorted({r["n"] for r in results if r["workload"] == workload}):
        pel = lookup(results, workload, n, "pelun")
        tp = median_time(pel) if pel else None
        for system in SYSTEMS + ["statsmodels-bh"]:
            r = lookup(results, workload, n, system)
            if r is None:
                continue
            t = median_time(r)
            if t is None:
                lines.append(f"| {n:,} | {LABEL[system]} | {status_text(r, cap)} | | | | | | | |")
                continue
            reps = r.get("replicates", [])
            ratio = "" if system == "pelun" or tp is None else f"{t / tp:,.0f}×"
            note = "" if r["status"] == "ok" else f" ({r['status']})"
            lines.append(f"| {n:,} | {LABEL[system]}{note} | {fmt_time(t)} | {len(r['timing']['times'])} | {ratio} | "
                         f"{r['timing']['peak_mib']:.1f} | {fmt_num(mean_of(r, 'mse'))} | "
                         f"{fmt_num(mean_of(r, 'coverage'), 3)} | {len(reps)} | {fmt_num(mean_of(r, 'edf'), 3)} |")
    return lines


def pass_rows(results):
    lines = ["| workload | n | p | one pass, NumPy threads (s) | one pass, 1 thread (s) | pelun fit (s) | "
             "fit in passes | fit in 1-thread passes | outer iterations |", "|---|---|---|---|---|---|---|---|---|"]
    for r in results:
        if r["system"] != "pelun" or "pass" not in r or median_time(r) is None:
            continue
        t, ps = median_time(r), r["pass"]
        lines.append(f"| {r['workload']} | {r['n']:,} | {ps['p']} | {ps['seconds']:.2g} | {ps['seconds_1thread']:.2g} | "
                     f"{fmt_time(t)} | {t / ps['seconds']:.0f} | {t / ps['seconds_1thread']:.0f} | "
                     f"{r['replicates'][0]['n_iters']} |")
    return lines


def write_report(run, path):
    results, cap = run["results"], run["cap"]
    m, v = run["machine"], run["versions"]
    out = ["# pelun against pygam and statsmodels' GLMGam", "",
           f"Generated by `make bench` (`bench/compare.py`) on {run['date']}; the whole run took "
           f"{run['elapsed'] / 60:.1f} minutes. Raw measurements: [`results.json`](results.json).", "",
           "## Machine and versions", "",
           f"- machine: {m['nproc']} cores, {m['cpu']}, {m['mem_gib']:.1f} GiB memory; Linux {m['kernel']}; "
           f"Python {m['python']}",
           f"- load average (1, 5, 15 min) at the start: {run['load_start']}; at the end: {run['load_end']}"
           + (" — the machine was shared with other work during the run, so timings carry some noise"
              if run.get("shared") else ""),
           f"- pelun {v['pelun']} built from this tree (commit {run['git']['commit']}"
           + (", with uncommitted changes in the library sources" if run['git']['dirty'] else "") +
           ") with `pip install .` into `.venv-bench`",
           f"- peers (pinned in [`requirements-peers.txt`](requirements-peers.txt)): pygam {v['pygam']}, "
           f"statsmodels {v['statsmodels']}; numpy {v['numpy']}, scipy {v['scipy']}, pandas {v['pandas']}",
           f"- OPENBLAS_CORETYPE / OPENBLAS_L2_SIZE: {run['openblas_env']}",
           "- BLAS libraries loaded in a process with all three systems (threadpoolctl): " +
           "; ".join(f"{Path(b['filepath']).name} {b['version']} ({b['architecture']}, {b['num_threads']} "
                     f"thread{'s' if b['num_threads'] != 1 else ''})" for b in run["blas"]) +
           ". pelun sets its own OpenBLAS to one thread; numpy's and scipy's use both cores.", "",
           "## What is measured", "",
           "- Every case (workload × n × system) runs in a fresh process: it simulates its data from a fixed seed "
           "(the same data for every system), makes one small warm-up fit (imports, first-call set-up; not "
           "timed), resets the process's memory high-water mark, and times repeated fits of the same data. "
           "**fit time** is the median wall time of one whole fit including the smoothing selection (up to "
           f"{run['args']['max_repeats']} repeats, fewer once {run['args']['repeat_budget']:.0f} s are spent); "
           "**peak memory** is the high-water mark (VmHWM) the fits added above the process's size after the "
           "data were made.",
           "- **MSE** is the mean squared error of the fitted mean (response scale) against the true mean on a "
           "fixed grid (200 points on [0.01, 0.99] for one covariate; a 7⁴ lattice on [0.05, 0.95]⁴ for the "
           "additive model; a 30 × 30 lattice on [0.02, 0.98]² for the surface). **95 % coverage** is the "
           "fraction of grid points whose nominal 95 % pointwise interval for the mean holds the truth "
           "(pelun `predict_ci(..., 0.95, 'response')`, pygam `confidence_intervals(width=0.95)`, statsmodels "
           "`get_prediction(...).conf_int()`). Both are averaged over independent replicate data sets: "
           f"{run['args']['replicates_small']} at n ≤ 10³, {run['args']['replicates_medium']} at n = 10⁴ (and "
           f"for pelun above), one for the peers above, fewer for a system whose replicates would pass {run['args']['replicate_budget']:.0f} s "
           "(the *replicates* column). Targets compare MSEs over the replicates that all compared systems "
           "completed.",
           f"- A case is stopped at a cap of {cap:.0f} s of wall time (subprocess timeout, including its "
           "replicates); a grid search stopped this way is then timed for one fit at fixed smoothing to show "
           "the scale.",
           "- Smoothing selection: **pelun** Laplace-approximate REML (`pelun.fit` / `pelun.fit_additive`, "
           "`cr` bases, `te` for the surface). **pygam** `gridsearch` (GCV for Gaussian, UBRE for Poisson "
           "and Bernoulli, its `auto` objective) with its default grid of 11 values of λ for the single smooth "
           "and the surface (on the surface the default grid sets the same λ for both margins); for the "
           "additive model a Cartesian grid of **5 values per term** (`logspace(-3, 3, 5)`, 5⁴ = 625 fits), "
           "since the default-size Cartesian grid (11⁴ = 14,641 fits) cannot finish. **statsmodels** "
           "`GLMGam` with a cubic `BSplines` basis and `select_penweight(criterion='aic', "
           "method='minimize')`, then a refit at the selected α; `select_penweight` needs a first `fit()` "
           "of the model (it reads the scale that fit sets), which is included in the time. Its default "
           "optimiser, basinhopping, is shown once (Gaussian, n = 10³) and is too slow for the rest. GLMGam "
           "has no tensor-product smooth. Basis dimension: 20 for the single smooth (pelun k = 20, pygam "
           "n_splines = 20, statsmodels df = 20), 10 per additive term, 10 × 10 for the surface.",
           "- Workloads: Gaussian y = sin 2πx + N(0, 0.5²); Poisson with mean exp(1 + sin 2πx); Bernoulli "
           "with logit 2 sin 2πx; additive f₀ + f₁ + f₂ + f₃ with f₀ = 2 sin πx, f₁ = e^{2x}, "
           "f₂ = 0.2x¹¹(10(1 − x))⁶ + 10(10x)³(1 − x)¹⁰, f₃ = 0 and σ = 2; surface "
           "sin(3x₁)cos(2x₂) + x₁x₂ with σ = 0.2; x uniform on the unit cube. The peers run at n ≤ 10⁵, "
           "pelun also at 10⁶.", ""]
    out += ["## Targets", "", "| target | case | versus | measured | goal | met |", "|---|---|---|---|---|---|"]
    for t in run["targets"]:
        met = "–" if t["met"] is None else ("yes" if t["met"] else "**no**")
        out.append(f"| {t['target']} | {t['case']} | {t['versus']} | {t['measured'] or '–'} | {t['goal']} | {met} |")
    out += ["", "## Results", ""]
    for workload in ["gaussian", "poisson", "bernoulli", "additive", "surface"]:
        if any(r["workload"] == workload for r in results):
            out += [f"### {WORKLOAD_TITLE[workload]}", ""] + case_rows(results, workload, cap) + [""]
    out += ["## Data-pass reference", "",
            "One NumPy `X.T @ (w[:, None] * X)` on pelun's own model matrix X (n × p, from "
            "`evaluate_lpmatrix`) with w = 1, timed in the same process as the fit (best of 5), with NumPy's "
            "default BLAS threads and with one thread (pelun's own BLAS runs on one thread). *fit in passes* "
            "is pelun's fit time divided by that time.", ""] + pass_rows(results) + [""]
    notes = [r for r in results if "timing" in r and r["timing"].get("warnings")]
    if notes:
        out += ["## Warnings raised during the timed fits", ""]
        for r in notes:
            out.append(f"- {LABEL[r['system']]}, {r['workload']}, n = {r['n']:,}: " +
                       "; ".join(f"`{w}`" for w in r["timing"]["warnings"]))
        out.append("")
    out += ["## Figures", "", "![fit time against n](time_vs_n.png)", "",
            "![fitted curves against the truth](fitted_curves.png)", ""]
    out += analysis(run)
    Path(path).write_text("\n".join(out))


def pct_of(profile, name):
    return sum(v for k, v in profile.get("by_function", []) if k == name)


def analysis(run):
    """The sections that explain the missed targets: the MSE diagnostics and the profiles of pelun's fit."""
    out = []
    d = run.get("diagnosis")
    if d and "reml" in d:
        m, f = d["reml"]["mean"], d["basis_floor"]
        ncs, bsp = f["natural cubic spline, 10 knots"], f["cubic B-spline, 10 functions"]
        peers = [lookup(run["results"], "gaussian", 10 ** 4, s) for s in ("pygam", "statsmodels")]
        peer_text = ", ".join(f"{LABEL[r['system']]} {mean_of(r, 'edf'):.1f} (MSE {mean_of(r, 'mse'):.3g})"
                              for r in peers if r and r.get("replicates"))
        out += ["## Why pelun's MSE misses where it does", "",
                f"**Single smooth.** On the {d['reml']['replicates']} Gaussian n = 10⁴ replicates, pelun selects "
                f"an edf of {m['pelun_edf']:.2f} on average; an independent evaluation of the REML criterion on "
                f"pelun's own model matrix (penalty ∫f''² rebuilt from second differences of its basis; "
                f"`bench/compare_diagnose.py`) has its minimum at edf {m['reml_edf']:.2f} with the same MSE "
                f"({m['pelun_mse']:.3g} vs {m['reml_mse']:.3g}). So pelun finds the REML optimum; it is the "
                f"criterion that prefers a rougher fit of sin 2πx than the grid-MSE optimum, which on the same "
                f"basis lies at edf {m['oracle_edf']:.2f} with MSE {m['oracle_mse']:.3g}. The peers' "
                f"prediction-error criteria (GCV/UBRE, AIC) land near that optimum: mean edf {peer_text}. The "
                "same direction shows in the Poisson and Bernoulli rows (pelun's edf above both peers').", "",
                f"**Additive model.** At large n the additive MSE of pelun stops falling at about 0.03: f₂ "
                f"(a sharp double bump) is not representable in the space of a k = 10 `cr` term. Its best "
                f"least-squares approximation by a natural cubic spline with 10 evenly spaced knots has error "
                f"{ncs['l2']:.4f} over [0, 1] and {ncs['lattice']:.4f} on the benchmark's lattice, against "
                f"{bsp['l2']:.4f} / {bsp['lattice']:.4f} for 10 cubic B-splines (the peers' basis). The floor "
                "is the basis, not the smoothing selection: at n ≥ 10⁴ pelun leaves f₂ essentially unpenalized "
                "(edf ≈ 9 of 9). It also explains the falling coverage of pelun's additive intervals at large n "
                "(bias that does not shrink with n, intervals that do).", ""]
    profiles = [p for p in run.get("profiles", []) if "by_function" in p]
    if profiles:
        out += ["## Where pelun's time goes (profile)", "",
                "py-spy 0.4 sampling at 100 Hz with native frames over whole fits (`bench/compare_profile.py`; "
                "the time is charged to the innermost pelun function on the stack, including the BLAS and C "
                "library calls it makes).", ""]
        for p in profiles:
            out += [f"**{WORKLOAD_TITLE[p['workload']]}, n = {p['n']:,}** — {p['fit_seconds']:.2f} s per fit "
                    f"under the profiler, {p['n_iters']} outer iterations, {p['samples']} samples:", "",
                    "| pelun function | share of the fit |", "|---|---|"]
            out += [f"| `{k}` | {v:.1f} % |" for k, v in p["by_function"][:9]] + [""]
            out += ["Leaf frames: " + "; ".join(f"`{k}` {v:.1f} %" for k, v in p["leaves"][:6]) + ".", ""]
        add = next((p for p in profiles if p["workload"] == "additive"), None)
        poi = next((p for p in profiles if p["workload"] == "poisson"), None)
        if add:
            criterion = sum(pct_of(add, k) for k in ("pelun::gaussian_closed_form", "pelun::matvec_rows_into"))
            design = sum(pct_of(add, k) for k in ("pelun::place_knots", "pelun::cr_basis",
                                                  "pelun::intercept_and_blocks", "pelun::matmul",
                                                  "pelun::require_finite_column", "pelun::column_sums",
                                                  "pelun::penalty_scale_factor",
                                                  "pelun::(anonymous namespace)::ensure_shape"))
            cross = sum(pct_of(add, k) for k in ("pelun::add_crossprod_lower", "pelun::weighted_crossproducts"))
            out += [f"Reading of the additive profile: about {criterion:.0f} % of the fit is the criterion "
                    "evaluations of the outer Newton search (`gaussian_closed_form` and the blocked dgemv "
                    "`matvec_rows_into` it calls). There are 1 + 2m of them per iteration (m = 4 smoothing "
                    "parameters, for the finite-difference Hessian), and each one, besides the p × p solve on "
                    "cross-products formed once, passes over the n × p model matrix for μ = Xβ and the residual "
                    f"sum of squares in row order: {add['n'] * 37 * 8 / 2 ** 20:.0f} MiB per evaluation at "
                    f"n = {add['n']:,}, a pass bound by memory bandwidth. The RSS would also follow from the "
                    "cross-products in O(p²) (yᵀy − 2βᵀXᵀy + βᵀXᵀXβ), but that difference cancels badly when the "
                    "fit is close, which is why the pass is kept. Building the design (knot placement, which "
                    "sorts every column — `std::__introsort_loop` — the cr basis, the constraint and block "
                    f"products, the finiteness checks) takes about {design:.0f} %, the cross-products "
                    f"{cross:.0f} %. This machine's last-level cache is large (260 MiB, shared): at n = 10⁵ the "
                    "model matrix (29 MiB) is read from cache by every evaluation, at 10⁶ from memory, which is "
                    "why the time grows faster than n between them; the sort adds an n log n term.", ""]
        if poi:
            cross = sum(pct_of(poi, k) for k in ("pelun::add_crossprod_lower", "pelun::weighted_crossproducts"))
            out += [f"Reading of the Poisson profile: the fit is PIRLS work repeated over many inner fits. The "
                    f"weighted cross-products XᵀWX, XᵀWz take about {cross:.0f} % "
                    f"(`weighted_crossproducts` scales a cache-sized block of rows by √W, "
                    f"`add_crossprod_lower` adds its rank-k update with dsyrk); a candidate step "
                    f"(`evaluate_candidate` with η = Xβ by blocked dgemv in `matvec_rows_into`, "
                    f"{pct_of(poi, 'pelun::pirls_detail::evaluate_candidate') + pct_of(poi, 'pelun::matvec_rows_into'):.0f} %) "
                    "recomputes η, μ and the deviance over all n rows, with an exp and a log per row; the "
                    "working values are in `pirls` itself. Each criterion evaluation runs a whole PIRLS fit, "
                    "1 + 2m of them per outer Newton iteration (finite-difference Hessian), and every one starts "
                    "from the family's initial mean and iterates to the convergence tolerance 1e-9: an evaluation "
                    "is a pure function of ρ, so that two evaluations at the same ρ agree exactly and the "
                    "finite-difference Hessian sees no start-dependent noise, even at ρ ± h next to an already "
                    "converged fit. That is the 100–250 data passes per fit of the data-pass table, against a "
                    "Gaussian fit's 6–25. The levers, largest first: fewer inner fits per outer iteration (an "
                    "analytic Hessian of the criterion instead of 2m extra evaluations), a warm start from the "
                    "nearest converged fit (which would give up the exact reproducibility of an evaluation), and "
                    "a cheaper iteration (fusing the √W scaling into the working-value pass).", ""]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="n up to 10^4 and few replicates (a smoke run)")
    parser.add_argument("--out", default=str(HERE), help="folder for RESULTS.md, results.json and the plots")
    parser.add_argument("--cap", type=float, default=240.0, help="time cap of one case, seconds")
    parser.add_argument("--max-repeats", type=int, default=5)
    parser.add_argument("--repeat-budget", type=float, default=15.0)
    parser.add_argument("--replicates-small", type=int, default=20, help="replicates at n <= 10^3")
    parser.add_argument("--replicates-medium", type=int, default=5, help="replicates at n = 10^4")
    parser.add_argument("--replicate-budget", type=float, default=60.0)
    parser.add_argument("--only", default="", help="comma-separated workloads to run (default: all)")
    parser.add_argument("--report-only", action="store_true", help="rewrite the report from results.json")
    args = parser.parse_args()
    if args.quick:
        args.replicates_small, args.replicates_medium, args.cap = 4, 2, min(args.cap, 120.0)
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)

    if args.report_only:
        run = json.loads((out / "results.json").read_text())
    else:
        env = os.environ
        openblas = {k: env[k] for k in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE") if k in env}
        run = {"date": datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z"),
               "machine": machine_info(), "versions": versions(), "git": git_state(), "cap": args.cap,
               "args": vars(args), "load_start": loadavg(), "blas": blas_info(),
               "openblas_env": ("set in the environment (" + ", ".join(f"{k}={v}" for k, v in openblas.items())
                                + "); both unset for the benchmark processes") if openblas else
               "not set in this environment (nothing to unset)"}
        only = {w for w in args.only.split(",") if w}
        started = time.perf_counter()
        results = []
        for workload, n, system, options in plan(args.quick):
            if only and workload not in only:
                continue
            r = run_case(workload, n, system, options, args)
            results.append(r)
            t = median_time(r)
            print(f"{workload:10s} n={n:>9,} {system:15s} {r['status'][:60]:12s} "
                  f"fit {fmt_time(t):>7s} s  peak {r.get('timing', {}).get('peak_mib', float('nan')):7.1f} MiB  "
                  f"mse {fmt_num(mean_of(r, 'mse'))}  cov {fmt_num(mean_of(r, 'coverage'))}  "
                  f"(case {r['wall']:.0f} s)", flush=True)
        run["results"] = results
        if not only:
            run["diagnosis"] = json_child([str(HERE / "compare_diagnose.py")], args.cap)
            run["profiles"] = [json_child([str(HERE / "compare_profile.py"), w, str(n // 10 if args.quick else n),
                                           str(k)], args.cap) for w, n, k in PROFILES]
        run["elapsed"] = time.perf_counter() - started
        run["load_end"] = loadavg()
        run["shared"] = max(float(run["load_start"].split()[1]), float(run["load_end"].split()[1])) > 2.5
    run["targets"] = targets(run["results"], run["cap"])
    (out / "results.json").write_text(json.dumps(run, indent=1))
    plot_times(run["results"], run["cap"], out / "time_vs_n.png")
    plot_curves(run["results"], out / "fitted_curves.png")
    write_report(run, out / "RESULTS.md")
    print("\n".join(f"{'MET ' if t['met'] else 'MISS' if t['met'] is False else 'n/a '} {t['target']}: "
                    f"{t['case']} {t['versus']}: {t['measured']}" for t in run["targets"]))
    print(f"wrote {out / 'RESULTS.md'}")


if __name__ == "__main__":
    main()
