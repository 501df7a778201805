#!/usr/bin/env bash
# search_path_without.sh FOLDER PROGRAM: makes FOLDER a search path holding
# links to every program of /usr/local/bin and /usr/bin but PROGRAM, so that a
# test run with PATH=FOLDER finds every tool it uses but that one.
set -euo pipefail
folder="$1"
hidden="$2"
rm -rf "$folder"
mkdir -p "$folder"
for bin in /usr/local/bin /usr/bin; do
  for program in "$bin"/*; do
    name="${program##*/}"
    [[ "$name" == "$hidden" || -e "$folder/$name" || -L "$folder/$name" ]] || ln -s "$program" "$folder/$name"
  done
done
