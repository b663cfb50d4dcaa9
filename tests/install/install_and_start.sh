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
set -uo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
source "$source/tests/x11-helpers.sh"
tmp=$(mktemp -d)
cleanup() { rm -rf "$tmp"; }
trap cleanup EXIT  # until x_start takes the exit over

# A blank in the prefix: the library lookup must cope with it too.
prefix="$tmp/install root"
cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/hoguren" ] || abort "bin/hoguren missing"
[ -f "$prefix/lib/hoguren/libunlha32.so" ] || abort "lib/hoguren/libunlha32.so missing"
[ -f "$prefix/lib/hoguren/libunlha32ui.so" ] || abort "lib/hoguren/libunlha32ui.so missing"
[ ! -e "$prefix/bin/libunlha32.so" ] || abort "library installed beside the program"
# Extracting without a window must not load Qt; only the companion needs it.
if readelf -d "$prefix/lib/hoguren/libunlha32.so" | grep NEEDED | grep -q Qt; then
  abort "libunlha32.so needs Qt"
fi
desktop="$prefix/share/applications/hoguren.desktop"
[ -f "$desktop" ] || abort "desktop entry missing"
for size in 16 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/hoguren.png"
  [ -f "$png" ] || abort "icon ${size}x${size} missing"
  got=$(identify -format '%wx%h' "$png")
  [ "$got" = "${size}x${size}" ] || abort "icon ${size}x${size} is $got"
done
# The program must not reach back into the build folder.
if readelf -d "$prefix/bin/hoguren" | grep -E 'RPATH|RUNPATH' | grep -qF "$build"; then
  abort "installed program has a run path into the build folder"
fi

# --- In an X server -------------------------------------------------------
x_start
unset LD_LIBRARY_PATH
mkdir -p "$tmp/work"

shot() { import -window root "$build/tests/install/$1.png" 2>/dev/null || true; }

# Presses the focused button (Space) in window $1 and expects the program to
# end; when it is our child, with status 0.
press_and_expect_exit() {
  x_key "$1" space
  x_wait_exit
  if [ "$STATUS" = "still running" ]; then
    fail "program still running after its button was pressed"
  elif [ -z "${launched:-}" ] && [ "$STATUS" != 0 ]; then
    fail "program ended with status $STATUS"
  fi
}

# 1. No argument: the start-without-file notice, and nothing else.
cd "$tmp/work"
"$prefix/bin/hoguren" 2>"$tmp/stderr1" &
PID=$!
if ! wid=$(x_window 'ほぐれん３．５'); then
  shot install-no-argument
  cat "$tmp/stderr1"
  abort "installed program showed no window titled ほぐれん３．５"
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
  [ -n "$expected" ] || abort "$entry not in MANIFEST.tsv"
else
  cp "$source/examples/サンプル.LZH" "$archive"
  expected=""
fi
# The entry must claim the type that the system's MIME database gives the
# archive by its name (capital .LZH), or file managers will not offer it.
type=$(gio info -a standard::content-type "$archive" | sed -n 's/^ *standard::content-type: //p')
grep -q "^MimeType=.*$type;" "$desktop" \
  || fail "desktop entry does not list $type, the type of .LZH files"
# Opened the way a file manager opens it: through the installed desktop
# entry, which must hand the path over as one argument. The destination
# folder list starts at the working folder.
cd "$tmp/解凍 先"
PATH="$prefix/bin:$PATH" gio launch "$desktop" "$archive" \
  2>"$tmp/stderr2" || abort "gio could not launch the desktop entry"
if ! wid=$(x_window "$MAIN_CAPTION"); then
  shot install-archive
  cat "$tmp/stderr2"
  abort "main window did not appear after the title card"
fi
PID=$(xdotool getwindowpid "$wid")
[ "$(readlink "/proc/$PID/exe")" = "$prefix/bin/hoguren" ] || abort "the window is not the installed program's"
launched=1
# The floppy picture onto the drive picture.
x_drag "$wid" "${FLOPPY[*]}" "4500 1350" "${DRIVE[*]}"
if ! rid=$(x_window "$REPORT_CAPTION" 60); then
  shot install-extraction
  cat "$tmp/stderr2"
  abort "no completion report: the installed program could not extract (library not found?)"
fi
if [ -n "$expected" ]; then
  while IFS=$'\t' read -r name sum; do
    [ -f "$tmp/解凍 先/$name" ] || { fail "$name was not extracted"; continue; }
    got=$(sha256sum "$tmp/解凍 先/$name" | cut -d' ' -f1)
    [ "$got" = "$sum" ] || fail "$name extracted with wrong contents"
  done <<<"$expected"
else
  [ -s "$tmp/解凍 先/はじめに.txt" ] || fail "はじめに.txt was not extracted"
fi
press_and_expect_exit "$rid"
echo "archive with blanks in its path: extracted through the installed library"
x_finish
