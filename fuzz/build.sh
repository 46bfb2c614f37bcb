#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into fuzz/out/build/bin.
set -euo pipefail
cd "$(dirname "$0")"
cmake -S . -B out/build -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build out/build -j"${JOBS:-2}"
