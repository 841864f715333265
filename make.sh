#!/usr/bin/env bash
# The project's one entry point.
#   bash make.sh test   installs what is missing, builds everything and runs every test
#   bash make.sh build  installs what is missing and builds
#   bash make.sh bench  builds and runs the benchmarks
# Environment: BUILD_DIR (default build), SANITIZE=1 for AddressSanitizer and UBSan,
# SANITIZE=thread for ThreadSanitizer, JOBS.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
cmd=${1:-test}
build_dir=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
bash scripts/install-deps.sh
sanitize=OFF
sanitize_thread=OFF
case "${SANITIZE:-0}" in
    1) sanitize=ON ;;
    thread) sanitize_thread=ON ;;
esac
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_SANITIZE=$sanitize \
    -DVELK_SANITIZE_THREAD=$sanitize_thread >/dev/null
cmake --build "$build_dir" -j "$jobs"
case "$cmd" in
    build) ;;
    test)
        export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
        ctest --test-dir "$build_dir" -j "$jobs" --output-on-failure --timeout 600
        ;;
    bench)
        for b in "$build_dir"/bench/bench_*; do
            [ -x "$b" ] && "$b"
        done
        ;;
    *) echo "usage: bash make.sh [test|build|bench]" >&2; exit 2 ;;
esac
