# Sourced by scripts/guest-image and its test: "apt-get update" that
# survives a package mirror in mid-sync, an everyday state of Debian's
# mirrors, when one suite's index does not match its Release file.

# update_suites LIST LOG PAUSE APT-GET...
#   LIST     a sources.list with one "deb" line per suite, the base suite
#            first; left holding the suites that updated
#   LOG      where apt-get's output goes
#   PAUSE    seconds between tries
#   APT-GET  the apt-get command to run (in a chroot, or with -o options)
# Each update is tried 3 times. When the whole list still fails, the base
# suite is tried alone, then each other suite beside it; a suite whose
# index keeps failing is left out, with one loud line on stderr. Returns 1
# only when the base suite itself fails.
update_suites() {
  local list=$1 log=$2 pause=$3
  shift 3
  local all=() kept=() line
  mapfile -t all < <(grep -v '^[[:space:]]*$' "$list")
  [ ${#all[@]} -gt 0 ] || return 1
  try_update() {
    local try
    for try in 1 2 3; do
      "$@" update -q >>"$log" 2>&1 && return 0
      [ $try = 3 ] || sleep "$pause"
    done
    return 1
  }
  try_update "$@" && return 0
  printf '%s\n' "${all[0]}" >"$list"
  try_update "$@" || return 1
  kept=("${all[0]}")
  for line in "${all[@]:1}"; do
    printf '%s\n' "${kept[@]}" "$line" >"$list"
    if try_update "$@"; then
      kept+=("$line")
    else
      echo "$(basename "$0"): LEFT OUT of the guest, its index failing 3 times (a mirror in mid-sync?): $line" >&2
    fi
  done
  printf '%s\n' "${kept[@]}" >"$list"
  try_update "$@"
}
