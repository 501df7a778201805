#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds, and then either converts
# the bundled sample book ("sample") or runs every test ("test").
set -euo pipefail

task="${1:-sample}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-regex-dev libjpeg-dev libgif-dev libpng-dev libqpdf-dev
  wkhtmltopdf fonts-noto-cjk poppler-utils
)
if [[ "$task" == test ]]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  as_root=()
  [[ "$(id -u)" == 0 ]] || as_root=(sudo)
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs="$(nproc)"
build() { # build FOLDER [cmake options...]
  local folder="$1"
  shift
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$folder" -j "$jobs"
}

case "$task" in
sample)
  build build -DBOOKCONV_TESTS=OFF -DBOOKCONV_BENCH=OFF
  mkdir -p out/work
  build/converter/bookconv samples/bookconv-guide.mobi out/bookconv-guide.pdf out/work/
  echo "Wrote out/bookconv-guide.pdf"
  ;;
test)
  build build
  ctest --test-dir build --output-on-failure -j "$jobs"
  ;;
*)
  echo "usage: tools/setup.sh sample|test" >&2
  exit 64
  ;;
esac
