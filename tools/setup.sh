#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds, and then either converts
# the bundled sample book ("sample") or runs every test ("test").
set -euo pipefail

task="${1:-sample}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# Headless Chromium renders where wkhtmltopdf cannot: Debian 13 ships no
# wkhtmltopdf, and it lays right-to-left scripts out unreadably. The Noto
# fonts cover every script of the books (Arabic, Hebrew with points,
# Devanagari, CJK, ...).
packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libboost-regex-dev zlib1g-dev libjpeg-dev libgif-dev libpng-dev libqpdf-dev
  chromium-headless-shell fontconfig fonts-noto-core fonts-noto-cjk poppler-utils
)
if [[ "$task" == test ]]; then
  packages+=(clang)
  packages+=(man-db) # the install test renders the manual page
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
as_root=()
[[ "$(id -u)" == 0 ]] || as_root=(sudo)
if ((${#missing[@]})) || ! installed wkhtmltopdf; then
  "${as_root[@]}" apt-get update -qq
fi
# wkhtmltopdf, the renderer of most books, where the release still has it
# (Debian 12); elsewhere Chromium renders every book.
candidate() { apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p'; }
if ! installed wkhtmltopdf && [[ "$(candidate wkhtmltopdf)" =~ ^[0-9] ]]; then
  missing+=(wkhtmltopdf)
fi
install() { DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "$@"; }
if ((${#missing[@]})); then
  install "${missing[@]}"
fi
# The sanitizers' runtime of the release's own clang (14 on Debian 12, 19 on 13).
if [[ "$task" == test ]]; then
  clang_runtime="libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
  installed "$clang_runtime" || install "$clang_runtime"
fi

jobs="$(nproc)"
configure() { # configure FOLDER [cmake options...]
  local folder="$1"
  shift
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
build() { # build FOLDER [cmake options...]
  configure "$@"
  cmake --build "$1" -j "$jobs"
}

# Every mode configures its own folder with every option it depends on, so
# the modes run in any order on one clone.
main_tests() {
  build build -DBOOKCONV_TESTS=ON -DBOOKCONV_BENCH=ON -DSANITIZE=OFF -DFUZZ=OFF
  ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
}

# The bad-input sweep and the fuzzers' regression replays again, under
# AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer.
# Every fuzzer in fuzz/, so that a replay ctest finds is always built.
mapfile -t fuzzers < <(cd fuzz && ls -- *_fuzzer.cpp | sed 's/_fuzzer\.cpp$//')
sanitized_tests() {
  configure build-sanitize -DSANITIZE=ON -DFUZZ=OFF -DBOOKCONV_TESTS=ON -DBOOKCONV_BENCH=OFF
  cmake --build build-sanitize -j "$jobs" --target bad_input_sweep_test "${fuzzers[@]/%/_replay}"
  ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j "$jobs" -R 'BadInputSweep|_fuzzer_replay'
}

# The fuzz build as the README gives it (the whole tree, with clang), then
# each fuzzer for a few seconds from its seeds and kept failures; a crash,
# leak or timeout fails. Longer runs: the same command with a larger
# -max_total_time.
fuzz_smoke() {
  local folder=build-fuzz
  CC=clang CXX=clang++ build "$folder" -DFUZZ=ON -DBOOKCONV_TESTS=OFF
  rm -rf "$folder/seeds"
  "$folder/fuzz/make_seeds" "$folder/seeds"
  for unit in "${fuzzers[@]}"; do
    mkdir -p "$folder/corpus/$unit"
    local log="$folder/$unit.log" dict=fuzz/mobi.dict
    [[ -f "fuzz/$unit.dict" ]] && dict="fuzz/$unit.dict"
    # A fixed seed makes the run repeatable: a failure here is the same failure anywhere.
    if ! "$folder/fuzz/${unit}_fuzzer" -seed=1 -max_total_time=12 -timeout=10 -rss_limit_mb=2048 \
      -dict="$dict" -artifact_prefix="$folder/$unit-" -print_final_stats=1 \
      "$folder/corpus/$unit" "$folder/seeds/$unit" "fuzz/regressions/$unit" >"$log" 2>&1; then
      tail -n 60 "$log" >&2
      echo "fuzzer $unit failed; the input is kept as $folder/$unit-*" >&2
      exit 1
    fi
    sed -n "s/^stat::number_of_executed_units: */$unit: executions /p" "$log"
  done
}

case "$task" in
sample)
  build build-sample -DBOOKCONV_TESTS=OFF -DBOOKCONV_BENCH=OFF -DSANITIZE=OFF -DFUZZ=OFF
  mkdir -p out/work
  build-sample/converter/bookconv samples/bookconv-guide.mobi out/bookconv-guide.pdf out/work/
  echo "Wrote out/bookconv-guide.pdf"
  ;;
test)
  main_tests
  sanitized_tests
  fuzz_smoke
  ;;
*)
  echo "usage: tools/setup.sh sample|test" >&2
  exit 64
  ;;
esac
