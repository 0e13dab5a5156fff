"""Where pelun's fit time goes: a sampling profile (py-spy, native frames) of repeated fits of one case.

    python bench/compare_profile.py additive 1000000 3     # prints one JSON summary

Each sample is charged to the innermost pelun function on its stack (the one doing the work, or calling
the BLAS or the C library), and separately to its leaf frame. Needs py-spy (in .venv-bench) and a pelun
extension with its symbol table (`make bench` installs it with install.strip=false).
"""

import collections
import json
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path


def child(workload, n, repeats):
    import pelun

    import compare_workloads as wl
    x, y = wl.simulate(workload, n, 12345)
    kind, family = wl.WORKLOADS[workload]["kind"], wl.WORKLOADS[workload]["family"]
    start = time.perf_counter()
    for _ in range(repeats):
        if kind == "single":
            fit = pelun.fit(family, x, y, k=wl.K_SINGLE)
        else:
            fit = pelun.fit_additive(family, x, y, [(j, "cr", wl.K_ADDITIVE) for j in range(x.shape[1])])
    print(json.dumps({"fit_seconds": (time.perf_counter() - start) / repeats, "n_iters": fit.n_iters}))


def short(frame):
    name = re.sub(r" \(.*\)$", "", frame)
    while True:  # drop template arguments
        stripped = re.sub(r"<[^<>]*>", "", name)
        if stripped == name:
            break
        name = stripped
    return name


def summarize(raw_path):
    by_function, leaves, total = collections.Counter(), collections.Counter(), 0
    for line in Path(raw_path).read_text().splitlines():
        stack, _, count = line.rpartition(" ")
        frames = [short(f) for f in stack.split(";")]
        if not any(f.startswith("pelun::fit") for f in frames):
            continue  # outside the fit: data simulation, imports
        count = int(count)
        total += count
        inner = [f for f in frames if f.startswith("pelun::") and not f.startswith("pelun::py::")]
        by_function[inner[-1] if inner else "(other)"] += count
        leaf = frames[-1]
        leaves["(unresolved: C library or kernel)" if leaf.startswith("0x") else leaf] += count
    pct = lambda c: [[k, round(100 * v / total, 1)] for k, v in c.most_common(12)] if total else []
    return {"samples": total, "by_function": pct(by_function), "leaves": pct(leaves)}


def main():
    if sys.argv[1] == "--child":
        child(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        return
    workload, n, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    spy = shutil.which("py-spy") or str(Path(sys.executable).parent / "py-spy")
    with tempfile.TemporaryDirectory() as tmp:
        raw = Path(tmp) / "profile.txt"
        out = subprocess.run([spy, "record", "--native", "--rate", "100", "--format", "raw", "--output", str(raw),
                              "--", sys.executable, str(Path(__file__).resolve()), "--child", workload, str(n),
                              str(repeats)], capture_output=True, text=True)
        if out.returncode != 0 or not raw.exists():
            print(json.dumps({"workload": workload, "n": n, "error": (out.stderr.strip() or "py-spy failed")[-300:]}))
            return
        timing = {}
        for line in out.stdout.splitlines():
            if line.startswith("{"):
                timing = json.loads(line)
        print(json.dumps({"workload": workload, "n": n, "repeats": repeats, **timing, **summarize(raw)}))


if __name__ == "__main__":
    main()
