#!/bin/bash
# The guest image's package lists against a local mirror copy whose
# security index does not match its Release file, as a mirror in mid-sync
# gives: the base suite updates, the broken suite is left out with one loud
# line, and the update as a whole goes on. apt-get runs on this machine with
# its state in a scratch folder; nothing of the host's apt changes.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/apt-suites.sh"

scratch=$(mktemp -d) || { echo "apt_suites_test: FAILED: making a scratch folder" >&2; exit 1; }
trap 'rm -rf "$scratch"' EXIT

# A suite of the mirror: a package index of one package, and a Release
# file that gives its size, or a wrong one.
suite() {
  local name=$1 size_shift=$2 dir="$scratch/mirror/dists/$1"
  mkdir -p "$dir/main/binary-amd64"
  printf 'Package: fixture-%s\nVersion: 1\nArchitecture: all\nFilename: pool/f.deb\nSize: 1\nDescription: fixture\n' \
    "$name" > "$dir/main/binary-amd64/Packages"
  local sum size
  sum=$(sha256sum < "$dir/main/binary-amd64/Packages" | cut -d' ' -f1)
  size=$(( $(stat -c %s "$dir/main/binary-amd64/Packages") + size_shift ))
  printf 'Suite: %s\nCodename: %s\nArchitectures: amd64\nComponents: main\nDate: Thu, 10 Dec 2026 00:00:00 UTC\nSHA256:\n %s %d main/binary-amd64/Packages\n' \
    "$name" "$name" "$sum" "$size" > "$dir/Release"
}
suite bookworm 0
suite bookworm-security 1184

list="$scratch/sources.list"
printf '%s\n' "deb [trusted=yes] file:$scratch/mirror bookworm main" \
  "deb [trusted=yes] file:$scratch/mirror bookworm-security main" > "$list"
mkdir -p "$scratch/state/lists/partial" "$scratch/cache/archives/partial"
: > "$scratch/status"
apt=(apt-get -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- -o Dir::State="$scratch/state"
     -o Dir::State::status="$scratch/status" -o Dir::Cache="$scratch/cache" -o APT::Architecture=amd64
     -o APT::Architectures=amd64 -o Acquire::Languages=none -o Debug::NoLocking=1)

update_suites "$list" "$scratch/log" 0 "${apt[@]}" 2>"$scratch/said"
status=$?
failed=0
check() {
  if [ "$2" != "$3" ]; then
    echo "apt_suites_test: FAILED: $1: got '$2', expected '$3'" >&2
    failed=1
  fi
}
check "exit status" "$status" 0
check "suites kept" "$(cat "$list")" "deb [trusted=yes] file:$scratch/mirror bookworm main"
check "loud lines" "$(grep -c 'LEFT OUT.*bookworm-security' "$scratch/said")" 1
check "the base suite's index" "$(ls "$scratch/state/lists" | grep -c 'bookworm_main_binary-amd64_Packages')" 1
if [ $failed = 1 ]; then
  echo "--- apt-get's output:" >&2
  tail -n 20 "$scratch/log" >&2
fi
exit $failed
