#!/usr/bin/env bash
# Opens the new-folder dialog, is refused an existing name, creates a new
# folder, then drags the floppy onto the drive: the archive must land in the
# new folder and nowhere else.
# Usage: run.sh PATH/TO/hoguren ARCHIVE.LZH
set -uo pipefail

program=$1
archive=$2
source "$(dirname "$0")/../x11-helpers.sh"
x_start bsdtar
work=$X_WORK

dialog_title='ほぐれん３．５  「フォルダ作成」'
name='展開先 e2e'
# Controls, in twips from the layouts.
NEW_FOLDER=(6000 5160 3135 375)
NAME_BOX=(2160 1080 3975 420) CREATE=(2280 1920 1935 615)

mkdir -p "$work/dest/既存"
cd "$work/dest"  # the folder list starts in the working folder
"$program" "$archive" &
PID=$!

main=$(x_window "$MAIN_CAPTION") || abort "main window did not appear"
x_click "$main" "${NEW_FOLDER[@]}"
dialog=$(x_window "$dialog_title") || abort "new-folder dialog did not open"

# Types NAME into the dialog's box and presses 作  成.
create() {
    x_click "$dialog" "${NAME_BOX[@]}"
    x_key "$dialog" ctrl+a
    x_type "$1"
    x_click "$dialog" "${CREATE[@]}"
}

# An existing name is refused with a box; the dialog stays.
create '既存'
box=$(x_window "$ERROR_CAPTION") || abort "no message for an existing name"
x_key "$box" Return
x_gone "$ERROR_CAPTION" || abort "message box did not close"
x_shown "$dialog_title" || abort "dialog closed after a refused name"

# A new name: "作  成" creates it and closes the dialog.
create "$name"
x_gone "$dialog_title" || abort "dialog still open after 作  成"
[[ -d $work/dest/$name ]] || abort "folder '$name' was not created"
ok "the dialog refused an existing name and created '$name'"

x_drag "$main" "${FLOPPY[*]}" "6000 1200" "${DRIVE[*]}"
# The library's progress window comes and goes; then the completion report,
# unless the extraction failed, which a message box says first.
outcome() { x_shown "$REPORT_CAPTION" || x_shown "$ERROR_CAPTION"; }
x_until 30 outcome || abort "no completion report after the drop"
x_shown "$ERROR_CAPTION" && abort "the extraction reported a failure"

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
x_finish
