#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one for a while:
#   bash tools/fuzz.sh smiles_fuzz 300
# New crashing inputs land in fuzz/work/<target>/; copy the ones worth keeping into
# fuzz/corpus/<target>/ so the ordinary test run replays them.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?fuzz target name, e.g. smiles_fuzz}
seconds=${2:-120}
if ! command -v clang++-19 >/dev/null || [ ! -d /usr/lib/llvm-19/lib/clang/19/lib/linux ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-19 libclang-rt-19-dev >/dev/null
fi
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORIX_SANITIZE=ON -DQUORIX_BUILD_FUZZ=ON -DQUORIX_BUILD_MODULE=OFF >/dev/null
cmake --build build/fuzz --target "$target"
mkdir -p "fuzz/work/$target/corpus" "fuzz/corpus/$target"
cd "fuzz/work/$target"
../../../build/fuzz/"$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=4096 \
  corpus ../../corpus/"$target" ${FUZZ_DICT:+-dict=$FUZZ_DICT}
