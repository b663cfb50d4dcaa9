#!/usr/bin/env bash
# Installs the build into a throw-away prefix and starts the installed program
# the way a desktop does: by its path alone, with no LD_LIBRARY_PATH and
# nothing from the build folder in reach.
#
#   install_and_start.sh BUILD_DIR SOURCE_DIR
#
# Without an argument the program must show its start-without-file notice.
# Then it is opened through its desktop entry on an archive whose path holds
# blanks, as a file manager opens it, and the extraction must go through the
# installed library. The archive comes from the corpus (HOGUREN_CORPUS) when
# it is there.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "${1:-}" != --inside ]; then
  build=$(cd "$1" && pwd)
  source=$(cd "$2" && pwd)
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  # A blank in the prefix: the library lookup must cope with it too.
  prefix="$tmp/install root"
  cmake --install "$build" --prefix "$prefix" >/dev/null

  [ -x "$prefix/bin/hoguren" ] || fail "bin/hoguren missing"
  [ -f "$prefix/lib/hoguren/libunlha32.so" ] || fail "lib/hoguren/libunlha32.so missing"
  [ -f "$prefix/lib/hoguren/libunlha32ui.so" ] || fail "lib/hoguren/libunlha32ui.so missing"
  [ ! -e "$prefix/bin/libunlha32.so" ] || fail "library installed beside the program"
  # Extracting without a window must not load Qt; only the companion needs it.
  if readelf -d "$prefix/lib/hoguren/libunlha32.so" | grep NEEDED | grep -q Qt; then
    fail "libunlha32.so needs Qt"
  fi
  desktop="$prefix/share/applications/hoguren.desktop"
  [ -f "$desktop" ] || fail "desktop entry missing"
  for size in 16 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/hoguren.png"
    [ -f "$png" ] || fail "icon ${size}x${size} missing"
    got=$(identify -format '%wx%h' "$png")
    [ "$got" = "${size}x${size}" ] || fail "icon ${size}x${size} is $got"
  done
  # The program must not reach back into the build folder.
  if readelf -d "$prefix/bin/hoguren" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; then
    fail "installed program has a run path into the build folder"
  fi

  mkdir -p "$tmp/work"
  "$source/tests/with-xvfb" \
    "$0" --inside "$prefix" "$tmp" "$build" "$source" || exit $?
  echo "OK"
  exit 0
fi

# --- Inside the X server --------------------------------------------------
prefix=$2
tmp=$3
build=$4
source=$5
unset LD_LIBRARY_PATH
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; true' EXIT

shot() { import -window root "$build/tests/install/$1.png" 2>/dev/null || true; }

# Waits up to $2 seconds for one visible window whose whole title is $1 and
# prints its id.
wait_window() {
  local id
  id=$(timeout "$2" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
  [ -n "$id" ] || return 1
  echo "$id"
}

# True while process $1 runs. A program started through the launcher is not
# our child, and once it ends it may linger as a zombie that nobody reaps.
running() {
  [ -r "/proc/$1/stat" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1)" != Z ]
}

# Presses the focused button (Space) in window $1 and expects the program to
# end; when it is our child, with status 0.
press_and_expect_exit() {
  xdotool windowfocus --sync "$1" key space
  local i
  for i in $(seq 100); do
    running "$pid" || break
    sleep 0.1
  done
  running "$pid" && fail "program still running after its button was pressed"
  if [ -z "${launched:-}" ]; then
    local status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "program ended with status $status"
  fi
  pid=""
}

# 1. No argument: the start-without-file notice, and nothing else.
cd "$tmp/work"
"$prefix/bin/hoguren" 2>"$tmp/stderr1" &
pid=$!
if ! wid=$(wait_window 'ほぐれん３．５' 20); then
  shot install-no-argument
  cat "$tmp/stderr1" >&2
  fail "installed program showed no window titled ほぐれん３．５"
fi
visible=$(xdotool search --onlyvisible --name 'ほぐれん' | wc -l)
[ "$visible" -eq 1 ] || fail "expected only the notice on screen, found $visible windows"
press_and_expect_exit "$wid"
echo "no argument: notice shown, program ended by its button"

# 2. An archive whose path holds blanks, extracted through the installed library.
# A plain -lh5- archive from the corpus, whose contents are known by checksum;
# without the corpus, the example archive of the source tree.
mkdir -p "$tmp/書庫 置き場" "$tmp/解凍 先"
archive="$tmp/書庫 置き場/テスト 書庫.LZH"
corpus=${HOGUREN_CORPUS:-}
entry=explzh_723/h0_lh5.lzh
if [ -n "$corpus" ] && [ -f "$corpus/$entry" ]; then
  cp "$corpus/$entry" "$archive"
  expected=$(awk -F'\t' -v a="$entry" '$1 == a && $2 == "f" { print $3 "\t" $5 }' "$corpus/MANIFEST.tsv")
  [ -n "$expected" ] || fail "$entry not in MANIFEST.tsv"
else
  cp "$source/examples/サンプル.LZH" "$archive"
  expected=""
fi
# The entry must claim the type that the system's MIME database gives the
# archive by its name (capital .LZH), or file managers will not offer it.
type=$(gio info -a standard::content-type "$archive" | sed -n 's/^ *standard::content-type: //p')
grep -q "^MimeType=.*$type;" "$prefix/share/applications/hoguren.desktop" \
  || fail "desktop entry does not list $type, the type of .LZH files"
# Opened the way a file manager opens it: through the installed desktop
# entry, which must hand the path over as one argument. The destination
# folder list starts at the working folder.
cd "$tmp/解凍 先"
PATH="$prefix/bin:$PATH" gio launch "$prefix/share/applications/hoguren.desktop" "$archive" \
  2>"$tmp/stderr2" || fail "gio could not launch the desktop entry"
if ! wid=$(wait_window 'ほぐれん  Ｖｅｒｓｉｏｎ ３．５' 20); then
  shot install-archive
  cat "$tmp/stderr2" >&2
  fail "main window did not appear after the title card"
fi
pid=$(xdotool getwindowpid "$wid")
[ "$(readlink "/proc/$pid/exe")" = "$prefix/bin/hoguren" ] || fail "the window is not the installed program's"
launched=1
# Floppy picture (1800,840 975x975 twips) onto the drive picture
# (7200,840 720x735), in pixels at 15 twips each.
xdotool mousemove --window "$wid" 152 88 sleep 0.2 mousedown 1 sleep 0.2 \
  mousemove --window "$wid" 300 90 sleep 0.2 \
  mousemove --window "$wid" 504 80 sleep 0.2 mouseup 1
if ! rid=$(wait_window 'ほぐれん３．５  解凍終了報告' 60); then
  shot install-extraction
  cat "$tmp/stderr2" >&2
  fail "no completion report: the installed program could not extract (library not found?)"
fi
if [ -n "$expected" ]; then
  while IFS=$'\t' read -r name sum; do
    [ -f "$tmp/解凍 先/$name" ] || fail "$name was not extracted"
    got=$(sha256sum "$tmp/解凍 先/$name" | cut -d' ' -f1)
    [ "$got" = "$sum" ] || fail "$name extracted with wrong contents"
  done <<<"$expected"
else
  [ -s "$tmp/解凍 先/はじめに.txt" ] || fail "はじめに.txt was not extracted"
fi
press_and_expect_exit "$rid"
echo "archive with blanks in its path: extracted through the installed library"
