#!/usr/bin/env bash
# Installs what the tests need, then runs every test: the engine tests (GoogleTest,
# in a debug build under AddressSanitizer and UBSan, plus the fuzz regression
# inputs) and the module tests (pytest against a freshly installed module).
# QUORIX_PYTHON names the interpreter to test with (python3 on PATH by default).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
python=${QUORIX_PYTHON:-python3}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
# The Debian packages of whatever is missing: a system-managed Python takes no
# pip installs of its own, so the tools come from apt and pip runs only in the venv.
missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if ! command -v "$python" >/dev/null; then
  missing+=(python3 python3-dev python3-venv)
else
  "$python" -c 'import os, sys, sysconfig; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' ||
    missing+=(python3-dev)
  "$python" -c 'import ensurepip' 2>/dev/null || missing+=(python3-venv)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The picture tests render SVG in a real browser; they skip when it cannot be had.
if ! command -v chromium >/dev/null; then
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chromium >/dev/null ||
    { as_root apt-get update -qq && as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chromium >/dev/null; } ||
    echo "chromium not installed: the browser tests will skip"
fi

echo "== engine tests (debug, ASan + UBSan)"
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORIX_SANITIZE=ON \
  -DQUORIX_BUILD_TESTS=ON -DQUORIX_BUILD_MODULE=OFF >/dev/null
cmake --build build/debug -j "$jobs"
ctest --test-dir build/debug --output-on-failure -j "$jobs"

echo "== module tests (pytest)"
if [ ! -x build/venv/bin/python ]; then
  "$python" -m venv --system-site-packages build/venv
fi
py=build/venv/bin/python
$py -c "import pytest" 2>/dev/null || $py -m pip install -q pytest
$py -c "import scikit_build_core" 2>/dev/null || $py -m pip install -q "scikit-build-core>=0.10"
# The long option: pip learned the short -C only in 23.1, after Debian 12's 23.0.1.
$py -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  --config-settings=build-dir=build/module-test --config-settings=cmake.define.QUORIX_TEST_HOOKS=ON .
$py -m pytest tests/python -q
