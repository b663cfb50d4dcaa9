#!/usr/bin/env bash
# Opens the new-folder dialog, is refused an existing name, creates a new
# folder, then drags the floppy onto the drive: the archive must land in the
# new folder and nowhere else.
# Usage: with-xvfb run.sh PATH/TO/hoguren ARCHIVE.LZH
set -euo pipefail

program=$1
archive=$2
for tool in xdotool bsdtar; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
unset QT_QPA_PLATFORM  # ctest sets offscreen for the unit tests

work=$(mktemp -d)
pid=
cleanup() {
    [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Waits until a window of that exact title is shown, prints its id.
window() {
    local id
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1) || true
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
# Waits until no window of that title is shown.
gone() {
    for _ in $(seq 150); do
        xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}
# Clicks at a point given in twips of a window's client area.
click() {
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2 / 15)) $((Y + $3 / 15)) click 1
    # A loaded machine may map a window before it takes input.
    sleep 0.3
}

main_title='ほぐれん  Ｖｅｒｓｉｏｎ ３．５'
dialog_title='ほぐれん３．５  「フォルダ作成」'
box_title='エラーメッセージ'
name='展開先 e2e'

mkdir -p "$work/dest/既存"
cd "$work/dest"  # the folder list starts in the working folder
"$program" "$archive" &
pid=$!

main=$(window "$main_title") || fail "main window did not appear"

# "新規フォルダ作成"
click "$main" $((6000 + 3135 / 2)) $((5160 + 375 / 2))
dialog=$(window "$dialog_title") || fail "new-folder dialog did not open"
sleep 0.5

# An existing name is refused with a box; the dialog stays.
click "$dialog" $((2160 + 3975 / 2)) $((1080 + 420 / 2))
xdotool key ctrl+a type --delay 40 '既存'
click "$dialog" $((2280 + 1935 / 2)) $((1920 + 615 / 2))
window "$box_title" >/dev/null || fail "no message for an existing name"
xdotool key Return
gone "$box_title" || fail "message box did not close"
window "$dialog_title" >/dev/null || fail "dialog closed after a refused name"

# A new name: "作  成" creates it and closes the dialog.
click "$dialog" $((2160 + 3975 / 2)) $((1080 + 420 / 2))
xdotool key ctrl+a type --delay 40 "$name"
click "$dialog" $((2280 + 1935 / 2)) $((1920 + 615 / 2))
gone "$dialog_title" || fail "dialog still open after 作  成"
[[ -d $work/dest/$name ]] || fail "folder '$name' was not created"
echo "ok: the dialog refused an existing name and created '$name'"

# Drag the floppy (Image1) onto the drive (Image2).
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + (1800 + 487) / 15)) $((Y + (840 + 487) / 15)) mousedown 1
sleep 0.2
xdotool mousemove $((X + 400)) $((Y + 80))
sleep 0.2
xdotool mousemove $((X + (7200 + 360) / 15)) $((Y + (840 + 367) / 15))
sleep 0.2
xdotool mouseup 1
# The library's progress window comes and goes; then the completion report,
# unless the extraction failed, which a message box says first.
report=
for _ in $(seq 300); do
    report=$(xdotool search --onlyvisible --name '^ほぐれん３．５  解凍終了報告$' 2>/dev/null) && break
    if xdotool search --onlyvisible --name "^$box_title\$" >/dev/null 2>&1; then
        fail "the extraction reported a failure"
    fi
    sleep 0.1
done
[[ -n $report ]] || fail "no completion report after the drop"

# Every entry of the archive is in the new folder, and nothing beside it.
# libarchive, told the names are Shift-JIS, gives the reference.
expected=$(mkdir "$work/ref" && cd "$work/ref" \
    && bsdtar --options hdrcharset=CP932 -xf "$archive" && find . -mindepth 1 | sort)
actual=$(cd "$work/dest/$name" && find . -mindepth 1 | sort)
[[ -n $expected && $actual == "$expected" ]] \
    || fail "extracted entries differ: expected [$expected], got [$actual]"
beside=$(cd "$work/dest" && find . -mindepth 1 -maxdepth 1 | sort)
[[ $beside == "$(printf '%s\n' "./既存" "./$name" | sort)" ]] \
    || fail "something was written outside the new folder: [$beside]"
echo "PASS"
