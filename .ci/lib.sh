# shellcheck shell=bash
# Helpers shared by the CI jobs. A job sources it from the repository's top
# folder, after `set -euo pipefail`:
#   cd "$(dirname "$0")/.." && . .ci/lib.sh
# It sets $root (the repository), $work (a scratch folder, removed on exit)
# and the exit trap; jobs add their own clean-up with on_exit.

root=$PWD
job_start=$SECONDS

# --- progress and failure --------------------------------------------------

step() { printf '\n== %s (%ds)\n' "$1" $((SECONDS - job_start)); }

fail() {
  printf 'FAIL: %s\n' "$1" >&2
  exit 1
}

# --- clean-up on every way out ----------------------------------------------

pager_cleanups=()

# Runs the shell command $1 when the job ends, however it ends; commands run
# last-registered first.
on_exit() { pager_cleanups+=("$1"); }

pager_run_cleanups() {
  local i
  for ((i = ${#pager_cleanups[@]} - 1; i >= 0; i--)); do
    eval "${pager_cleanups[i]}" || true
  done
}
trap pager_run_cleanups EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

work=$(mktemp -d "${TMPDIR:-/tmp}/pager-ci.XXXXXX")
# shellcheck disable=SC2016 # expanded when the job ends
on_exit 'rm -rf "$work"'

# --- expected output ---------------------------------------------------------

transcripts=$root/tests/transcripts

# Prints tests/transcripts/$1.out (see the README there), adapted with
#   --port N   the device found on COM<N> instead of COM33
#   --crlf     CR LF line ends, as the Windows programs write them
transcript() {
  local name=$1 text
  shift
  [ -f "$transcripts/$name.out" ] || fail "no transcript $name.out"
  text=$(cat "$transcripts/$name.out" && printf x)
  text=${text%x}
  while [ $# -gt 0 ]; do
    case $1 in
      --port)
        text=${text/"found on COM33 ok."/"found on COM$2 ok."}
        shift
        ;;
      --crlf) text=${text//$'\n'/$'\r\n'} ;;
      *) fail "transcript: unknown option $1" ;;
    esac
    shift
  done
  printf '%s' "$text"
}

# The bytes the device receives in run $1 (tests/transcripts/$1.wire).
expected_wire() {
  [ -f "$transcripts/$1.wire" ] || fail "no transcript $1.wire"
  cat "$transcripts/$1.wire"
}

# Replaces the discovery dots after "Wait sync ..." in $1 by "<dots>" when
# there are 1 to 20 of them; prints the result. Fails when there are none or
# more than 20.
pager_fold_dots() {
  local re=$'^([^W]*Wait sync \\.\\.\\.)(\\.*)(.*)$'
  [[ $1 =~ $re ]] || return 1
  local n=${#BASH_REMATCH[2]}
  [ "$n" -ge 1 ] && [ "$n" -le 20 ] || return 1
  printf '%s<dots>%s' "${BASH_REMATCH[1]}" "${BASH_REMATCH[3]}"
}

# Checks that file $1 holds exactly the transcript $4 (with transcript's
# options $5...); $2 names the run. With $3 = any-dots, discovery may have
# printed 1 to 20 dots (an echo that a loaded machine saw too late costs a
# dot and nothing else); with $3 = exact, the transcript's 20.
expect_transcript() {
  local file=$1 what=$2 mode=$3
  shift 3
  local got want
  got=$(cat "$file" && printf x)
  got=${got%x}
  want=$(transcript "$@" && printf x)
  want=${want%x}
  local got_cmp=$got want_cmp=$want
  if [ "$mode" = any-dots ]; then
    got_cmp=$(pager_fold_dots "$got") || got_cmp="(no 1 to 20 discovery dots) $got"
    want_cmp=$(pager_fold_dots "$want") || fail "$what: the expected text has no discovery dots"
  fi
  if [ "$got_cmp" != "$want_cmp" ]; then
    echo "expected (cat -A):" >&2
    printf '%s' "$want" | cat -A >&2
    printf '\ngot (cat -A):\n' >&2
    cat -A "$file" >&2
    echo >&2
    fail "$what: output differs"
  fi
}

expect_status() {
  [ "$1" -eq "$2" ] || fail "$3: exit status $1, expected $2"
}

# --- tool chains ---------------------------------------------------------------

# Cross-builds everything, tests included, for 64-bit Windows into build-win,
# warnings as errors, and checks that the programs need no DLL that a bare
# Windows lacks. A second call only rebuilds what changed.
cross_build() {
  cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPAGER_WERROR=ON >/dev/null
  cmake --build "$root/build-win" -j "$(nproc)"
  local exe extra
  for exe in "$root"/build-win/{vantel/vantel,brisko/brisko,pager_ports/pager-ports}.exe; do
    extra=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' |
      grep -viE '^(kernel32|advapi32|msvcrt|user32|winmm|ws2_32|setupapi|api-ms-win-.*)\.dll$' || true)
    [ -z "$extra" ] || fail "$(basename "$exe") needs DLLs that Windows lacks: $extra"
  done
}

# The GNU triple of the ARM Debian architecture $1 (arm64, armhf). Its cross
# compiler is Debian's g++-<triple>, its tool chain file cmake/<triple>.cmake,
# its libraries are in /usr/<triple>.
cross_triple() {
  case $1 in
    arm64) echo aarch64-linux-gnu ;;
    armhf) echo arm-linux-gnueabihf ;;
    *) fail "no cross tool chain for architecture $1" ;;
  esac
}

# The qemu-user command that runs a program of the ARM architecture $1 here,
# one word per line.
cross_emulator() {
  case $1 in
    arm64) echo qemu-aarch64-static ;;
    armhf) echo qemu-arm-static ;;
    *) fail "no emulator for architecture $1" ;;
  esac
  printf '%s\n' -L "/usr/$(cross_triple "$1")"
}

# Cross-builds everything, tests included, for the ARM architecture $1 into
# build-$1, warnings as errors; the tests then run under qemu-user. A second
# call only rebuilds what changed.
arm_build() {
  cmake -S "$root" -B "$root/build-$1" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$(cross_triple "$1").cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGER_WERROR=ON >/dev/null
  cmake --build "$root/build-$1" -j "$(nproc)"
}

# Debian's build flags for a CMake build of the packages, hardening included,
# as cmake arguments, one per line. CMake reads CXXFLAGS and LDFLAGS but not
# CPPFLAGS, so they are passed on the command line. $1 is the build folder:
# its path is mapped to "." like the source folder's, so that two builds in
# different folders give the same bytes. $2, when given, is the Debian
# architecture built for (a cross build); else this machine's.
debian_cmake_flags() {
  local build=$1 cppflags cxxflags ldflags
  local -x DEB_BUILD_MAINT_OPTIONS=hardening=+all
  [ -z "${2:-}" ] || local -x DEB_HOST_ARCH=$2
  cppflags=$(dpkg-buildflags --get CPPFLAGS)
  cxxflags=$(dpkg-buildflags --get CXXFLAGS)
  ldflags=$(dpkg-buildflags --get LDFLAGS)
  printf '%s\n' -DCMAKE_BUILD_TYPE=None \
    "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags -ffile-prefix-map=$build=." \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags"
}

# --- Wine ------------------------------------------------------------------------

# Makes a fresh 64-bit Wine prefix in $work, headless and quiet, with COM5
# mapped to $work/com5, and starts one Wine server for the whole job (a
# program then starts in well under a second, and no service of Wine holds on
# to the output pipe of a test). Sets $wine and $wineserver; the server is
# stopped when the job ends.
wine_start() {
  wine=$(command -v wine64 || true)
  [ -n "$wine" ] || wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine)
  wineserver=$(command -v wineserver || true)
  [ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
  export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  # shellcheck disable=SC2016 # expanded when the job ends
  on_exit '"$wineserver" -k 2>/dev/null'
  "$wine" wineboot -i >/dev/null 2>&1 || true
  # Wine sets its ports up when it starts, so the mapping goes into the
  # registry (a dosdevices link would be put back) and the server restarts.
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$work/com5" /f >/dev/null 2>&1
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  "$wineserver" -p
  "$wine" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# --- waiting -----------------------------------------------------------------------

# Waits up to $2 s for the text $1 in file $3.
wait_for_text() {
  local i
  for ((i = 0; i < $2 * 10; i++)); do
    grep -qF "$1" "$3" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# --- a program on a console of its own ------------------------------------------

console_pid=""

# Starts "$@" in directory $1 on a pseudo-terminal of its own (script), which
# Wine takes as the program's console; its keyboard is the fifo on fd 4 and
# its standard output goes to $1/out.txt. One console program at a time.
console_start() {
  local dir=$1
  shift
  if [ -z "${pager_console_cleanup:-}" ]; then
    pager_console_cleanup=1
    # shellcheck disable=SC2016 # expanded when the job ends
    on_exit '[ -z "$console_pid" ] || kill "$console_pid" 2>/dev/null'
  fi
  rm -f "$work/keys"
  mkfifo "$work/keys"
  # The command execs, so that no shell stands between the terminal and the
  # program: a plain sh (dash) would itself die of the Ctrl+C typed as a key.
  (cd "$dir" && exec script -qec "exec $(printf '%q ' "$@") >out.txt 2>err.txt" /dev/null \
    <"$work/keys" >"$dir/console.txt" 2>&1) &
  console_pid=$!
  exec 4>"$work/keys"
}

# Types the bytes printf makes of $1 on the console.
console_type() { printf '%b' "$1" >&4; }

console_running() { kill -0 "$console_pid" 2>/dev/null; }

# Waits up to $1 s for the console program to end; sets $status. Returns 1,
# having killed it, when it did not end.
# shellcheck disable=SC2034 # $status is the caller's result
console_end() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    console_running || break
    sleep 0.1
  done
  if console_running; then
    kill "$console_pid" 2>/dev/null || true
    wait "$console_pid" 2>/dev/null || true
    console_pid=""
    exec 4>&-
    return 1
  fi
  status=0
  wait "$console_pid" || status=$?
  console_pid=""
  exec 4>&-
}
