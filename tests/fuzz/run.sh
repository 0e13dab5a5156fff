#!/usr/bin/env bash
# Builds the deserialize fuzzer with clang and libFuzzer (Debian: clang-19 libclang-rt-19-dev) under
# AddressSanitizer and UBSan, writes its seed corpus with the installed pelun, and fuzzes for $1 seconds.
# Usage: bash tests/fuzz/run.sh [seconds=300]  (env: CXX, PYTHON, PYTHONPATH for the pelun to seed with)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cxx=${CXX:-clang++-19}
python=${PYTHON:-$root/.venv/bin/python}
out=$root/build/fuzz
mkdir -p "$out/corpus" "$out/crashes"
blas_dir=$("$python" -c 'import scipy_openblas32 as m; print(m.get_lib_dir())')
blas_lib=$("$python" -c 'import scipy_openblas32 as m; print(m.get_library(True))')
sources=("$root"/src/util/*.cpp "$root"/src/linalg/*.cpp "$root"/src/basis/*.cpp "$root"/src/transform/*.cpp
         "$root"/src/design/*.cpp "$root"/src/family/link.cpp "$root"/src/fit/persistence.cpp
         "$root"/src/fit/prediction.cpp "$root"/src/fit/normal_quantile.cpp)
"$cxx" -std=c++2b -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -DPELUN_LAPACK_SCIPY_OPENBLAS=1 -I"$root/src" "$root/tests/fuzz/deserialize_fuzzer.cpp" "${sources[@]}" \
    "$blas_dir/$blas_lib" -Wl,-rpath,"$blas_dir" -o "$out/deserialize_fuzzer"
LD_LIBRARY_PATH="$blas_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$python" "$root/tests/fuzz/make_seeds.py" "$out/seeds"
cd "$out"
OPENBLAS_NUM_THREADS=1 ./deserialize_fuzzer -max_total_time="${1:-300}" -max_len=32768 -timeout=10 \
    -rss_limit_mb=2048 -dict="$root/tests/fuzz/frame.dict" -artifact_prefix=crashes/ -print_final_stats=1 \
    corpus seeds
