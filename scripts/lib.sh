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

# The architectures to run, in $arches: $TOLVARAN_TEST_ARCH if set (it must
# run here), else every one this machine runs. $arch_reasons says why any
# other was left out. Stops the script when none can run.
find_run_arches() {
  local why runnable
  why=$(mktemp)
  runnable=$("$tolvaran_root/scripts/arches" 2>"$why")
  arch_reasons=$(sed 's/^/  /' "$why")
  rm -f "$why"
  if [ -n "${TOLVARAN_TEST_ARCH:-}" ]; then
    grep -qx "$TOLVARAN_TEST_ARCH" <<<"$runnable" ||
      fail "TOLVARAN_TEST_ARCH=$TOLVARAN_TEST_ARCH cannot run on this machine:
$arch_reasons"
    arches=$TOLVARAN_TEST_ARCH
    return
  fi
  [ -n "$runnable" ] || fail "this machine runs neither i686 nor x86_64 Windows programs under Wine:
$arch_reasons"
  arches=$(echo $runnable)
}

# The architecture to run single programs with: $TOLVARAN_TEST_ARCH if set,
# else i686 where it runs, else x86_64. Says on stderr which, and why.
pick_run_arch() {
  find_run_arches
  local arch=${arches%% *}
  if [ -n "${TOLVARAN_TEST_ARCH:-}" ]; then
    echo "$(basename "$0"): using $arch (TOLVARAN_TEST_ARCH)" >&2
  elif [ "$arch" = i686 ]; then
    echo "$(basename "$0"): using i686" >&2
  else
    echo "$(basename "$0"): using x86_64 (${arch_reasons#  })" >&2
  fi
  echo "$arch"
}
