#!/usr/bin/env bash
# Installs what the tests need, then runs every test: the engine tests (GoogleTest,
# in a debug build under AddressSanitizer and UBSan, plus the fuzz regression
# inputs) and the module tests (pytest against a freshly installed module).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
if [ ! -f /usr/include/gtest/gtest.h ]; then
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq libgtest-dev >/dev/null
fi
# The 3-D picture tests render SVG in a real browser; they skip when it cannot be had.
if ! command -v chromium >/dev/null; then
  as_root apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq chromium >/dev/null || echo "chromium not installed"
fi
python3 -m pip --version >/dev/null
command -v cmake >/dev/null || python3 -m pip install -q cmake
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

echo "== engine tests (debug, ASan + UBSan)"
cmake -S . -B build/debug "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DQUORIX_SANITIZE=ON \
  -DQUORIX_BUILD_TESTS=ON -DQUORIX_BUILD_MODULE=OFF >/dev/null
cmake --build build/debug -j "$jobs"
ctest --test-dir build/debug --output-on-failure -j "$jobs"

echo "== module tests (pytest)"
if [ ! -x build/venv/bin/python ]; then
  python3 -m venv --system-site-packages build/venv
fi
py=build/venv/bin/python
$py -c "import pytest" 2>/dev/null || $py -m pip install -q pytest
$py -c "import scikit_build_core" 2>/dev/null || $py -m pip install -q "scikit-build-core>=0.10"
$py -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -C build-dir=build/module-test -C cmake.define.QUORIX_TEST_HOOKS=ON .
$py -m pytest tests/python -q
