#!/usr/bin/env bash
# Incremental developer build: compiles the extension modules into build/dev and
# installs them beside the Python sources, so `PYTHONPATH=src pytest` runs the
# tree as it is. Usage: tools/dev_build.sh [python] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python3}
shift || true
pybind11_dir=$("$python" -m pybind11 --cmakedir)
cmake -S . -B build/dev -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$("$python" -c 'import sys; print(sys.executable)')" \
  -Dpybind11_DIR="$pybind11_dir" "$@" > /dev/null
cmake --build build/dev
cmake --install build/dev --prefix src > /dev/null
