# Sourced by the scripts: the two builds and the choice between them.
# i686 (the shipped Tolvaran.exe) builds into $BUILD_DIR (default build/),
# x86_64 into $BUILD_DIR_X64 (default build-x64/).
tolvaran_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The build folder of an architecture.
build_dir_for() {
  case "$1" in
    i686)   echo "${BUILD_DIR:-$tolvaran_root/build}" ;;
    x86_64) echo "${BUILD_DIR_X64:-$tolvaran_root/build-x64}" ;;
    *) echo "unknown architecture '$1' (i686 or x86_64)" >&2; return 1 ;;
  esac
}

# Stops the calling script with a line that says which step failed.
fail() {
  echo "$(basename "$0"): FAILED: $*" >&2
  exit 1
}

# The architecture to run single programs with: $TOLVARAN_TEST_ARCH if set,
# else i686 where it runs, else x86_64. Says which on stderr, and why.
pick_run_arch() {
  local runnable why
  why=$(mktemp)
  runnable=$("$tolvaran_root/scripts/arches" 2>"$why")
  if [ -n "${TOLVARAN_TEST_ARCH:-}" ]; then
    if ! grep -qx "$TOLVARAN_TEST_ARCH" <<<"$runnable"; then
      cat "$why" >&2; rm -f "$why"
      fail "TOLVARAN_TEST_ARCH=$TOLVARAN_TEST_ARCH cannot run on this machine"
    fi
    echo "$(basename "$0"): using $TOLVARAN_TEST_ARCH (TOLVARAN_TEST_ARCH)" >&2
    rm -f "$why"
    echo "$TOLVARAN_TEST_ARCH"
    return
  fi
  if [ -z "$runnable" ]; then
    cat "$why" >&2; rm -f "$why"
    fail "this machine runs neither i686 nor x86_64 Windows programs under Wine"
  fi
  local arch
  arch=$(head -n1 <<<"$runnable")
  if [ "$arch" = i686 ]; then
    echo "$(basename "$0"): using i686" >&2
  else
    echo "$(basename "$0"): using x86_64 ($(grep '^i686:' "$why"))" >&2
  fi
  rm -f "$why"
  echo "$arch"
}
