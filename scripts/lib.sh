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

# How scripts/test runs each architecture, in $arches and $arch_paths (one
# "ARCH: how" line each): natively where this machine runs it under Wine;
# i686, where it does not (a kernel that runs no i386 code at all), or where
# TOLVARAN_I686_EMULATED is set, in the emulated machine of
# scripts/test-in-guest. $TOLVARAN_TEST_ARCH picks one. Stops the script
# when none can run.
find_test_arches() {
  local why runnable arch
  why=$(mktemp)
  runnable=$("$tolvaran_root/scripts/arches" 2>"$why")
  arches= arch_paths=
  for arch in i686 x86_64; do
    [ -z "${TOLVARAN_TEST_ARCH:-}" ] || [ "$TOLVARAN_TEST_ARCH" = $arch ] || continue
    if [ $arch = i686 ] && [ -n "${TOLVARAN_I686_EMULATED:-}" ]; then
      arches+=" $arch"
      arch_paths+="  i686: emulated (qemu TCG, Debian 12 guest, Wine 8), as TOLVARAN_I686_EMULATED asks"$'\n'
    elif grep -qx $arch <<<"$runnable"; then
      arches+=" $arch"
      arch_paths+="  $arch: native ($(wine_of $arch))"$'\n'
    elif [ $arch = i686 ] && [ "$(uname -m)" = x86_64 ]; then
      arches+=" $arch"
      arch_paths+="  i686: emulated (qemu TCG, Debian 12 guest, Wine 8), as here $(sed -n 's/^i686: //p' "$why")"$'\n'
    else
      arch_paths+="  $arch: left out, $(sed -n "s/^$arch: //p" "$why")"$'\n'
    fi
  done
  rm -f "$why"
  arches=${arches# }
  [ -n "${TOLVARAN_TEST_ARCH:-}" ] && [ -z "$arches" ] &&
    fail "TOLVARAN_TEST_ARCH=$TOLVARAN_TEST_ARCH cannot run on this machine:
$arch_paths"
  [ -n "$arches" ] || fail "this machine runs neither i686 nor x86_64 Windows programs:
$arch_paths"
}

# Whether an architecture of $arch_paths runs emulated.
arch_emulated() {
  grep -q "^  $1: emulated" <<<"$arch_paths"
}

# The Wine loader of an architecture and its version.
wine_of() {
  local loader=/usr/lib/wine/wine
  [ "$1" = x86_64 ] && loader=/usr/lib/wine/wine64
  echo "$(basename $loader), $("$loader" --version 2>/dev/null)"
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
