#!/usr/bin/env bash
# Runs the README's two commands on a fresh Debian 13 ("trixie") machine: a
# root built in FOLDER (default /var/tmp/bookconv-debian13) with debootstrap,
# holding this checkout's committed tree and the real-book corpus beside it,
# entered with chroot. Run as root; a root left by an earlier run is reused
# only with --keep, otherwise built afresh.
#
#   tools/debian13-check.sh [--keep] [FOLDER]
set -euo pipefail

keep=false
if [[ "${1:-}" == --keep ]]; then
  keep=true
  shift
fi
folder="${1:-/var/tmp/bookconv-debian13}"
project="$(cd "$(dirname "$0")/.." && pwd)"
mirror=http://deb.debian.org/debian

if ! command -v debootstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

mounted=()
unmount_all() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
}
trap unmount_all EXIT
mount_into() { # mount_into SOURCE TARGET [options...]
  mkdir -p "$2"
  mount "${@:3}" "$1" "$2"
  mounted+=("$2")
}

if [[ "$keep" != true || ! -x "$folder/usr/bin/apt-get" ]]; then
  rm -rf "$folder"
  debootstrap --variant=minbase trixie "$folder" "$mirror"
fi
echo "deb $mirror trixie main" >"$folder/etc/apt/sources.list"
cp /etc/resolv.conf "$folder/etc/resolv.conf"
mount_into proc "$folder/proc" -t proc
mount_into /dev "$folder/dev" --rbind
mount_into /sys "$folder/sys" --rbind

# The project as a clean checkout would hold it, and the corpus beside it.
rm -rf "$folder/work"
mkdir -p "$folder/work/main" "$folder/work/shared"
git -C "$project" archive HEAD | tar -x -C "$folder/work/main"
cp -r "$project/../shared/corpus" "$folder/work/shared/"

run() { chroot "$folder" /usr/bin/env -i HOME=/root PATH=/usr/local/bin:/usr/bin:/bin bash -c "$1"; }
# The README's commands need only what a fresh machine has: apt and bash.
echo "== Debian $(cat "$folder/etc/debian_version"): tools/setup.sh sample"
run "cd /work/main && ./tools/setup.sh sample && pdfinfo out/bookconv-guide.pdf | grep -E 'Pages|Creator'"
echo "== Debian $(cat "$folder/etc/debian_version"): tools/setup.sh test"
run "cd /work/main && CI=true ./tools/setup.sh test"
echo "== both commands passed on Debian $(cat "$folder/etc/debian_version")"
