#!/usr/bin/env bash
# Installs what is missing, builds everything (both plug-in builds, broker, tools, tests) with the
# given preset (default: "default") and runs the whole test suite.
#   scripts/test.sh [default|release|asan|tsan] [extra cmake -D options...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
shift || true
bash scripts/deps.sh
cmake --preset "$preset" "$@"
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
