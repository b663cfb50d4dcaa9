#!/usr/bin/env bash
# An extraction that ends while the user works in another program: the
# window that comes then (the completion report, the library's overwrite
# question, a failure's message box) takes neither the focus nor the front
# from that program, stands above the program's own windows, and asks for
# attention (_NET_WM_STATE_DEMANDS_ATTENTION) until the user goes to the
# program; then it is in front and has the focus. A window that comes while
# the user is with the program takes the front and the focus as before.
#
#   run.sh PROGRAM ARCHIVE_GEN
# HOGUREN_E2E_WM=xfwm4 runs it under Xfwm4 rather than Openbox.
# HOGUREN_E2E_SHOTS=DIR keeps screenshots.
set -uo pipefail

PROGRAM=$(realpath "$1")
ARCHIVE_GEN=$2
source "$(dirname "$0")/../x11-helpers.sh"
x_start xmessage
TMP=$X_WORK

# Many small files: the run lasts long enough to turn away from it.
COUNT=40000
ARCHIVE="$TMP/多数.LZH"
"$ARCHIVE_GEN" many "$ARCHIVE" "$COUNT" 64 || abort "could not write the archive of many files"
# The same with its last headers overwritten: the run fails at its end.
DAMAGED="$TMP/壊れた.LZH"
cp "$ARCHIVE" "$DAMAGED"
size=$(stat -c %s "$DAMAGED")
printf '\xde\xad\xbe\xef\xde\xad\xbe\xef' | dd of="$DAMAGED" bs=1 seek=$((size - 300)) conv=notrunc status=none
LAST="d$(((COUNT - 1) % 100))/f$((COUNT - 1)).txt"

# Starts the program on ARCHIVE with DEST as destination and drops; once the
# progress window shows, the user turns to the other program. The program
# is held still (SIGSTOP) while the user turns, so that the rest of the run
# comes after the turn however fast the machine.
run_then_turn_away() {
  local archive=$1 dest=$2
  (cd "$dest" && exec "$PROGRAM" "$archive") 2>>"$TMP/stderr.log" &
  PID=$!
  MAIN=$(x_window "$MAIN_CAPTION") || { fail "$X_WM: the main window did not appear"; tail -5 "$TMP/stderr.log"; return 1; }
  x_drag "$MAIN" "${FLOPPY[*]}" "3750 1350" "6000 1275" "${DRIVE[*]}"
  x_window "$PROGRESS_CAPTION" 60 >/dev/null || { fail "$X_WM: no progress window"; return 1; }
  kill -STOP "$PID"
  x_turn_to_other_program
  kill -CONT "$PID"
}

# WIN came while the user was in the other program: the other program keeps
# the focus and the front, WIN stands in front of the main window and asks
# for attention.
waits_behind() {
  local win=$1 label="$X_WM: $2"
  x_stays_in_front "$OTHER" "$win" "$label, the other program" || return 1
  x_wants_attention "$win" || fail "$label asks for no attention: $(xprop -id "$win" _NET_WM_STATE)"
  x_below "$MAIN" "$win" || fail "$label stands behind the main window"
  ok "$label waits behind the other program and asks for attention"
}

# The user goes back to the program through its main window: WIN comes in
# front of it with the focus, and no longer asks for attention.
comes_forward() {
  local win=$1 label="$X_WM: $2"
  timeout 5 xdotool windowactivate "$MAIN"
  x_stays_in_front "$win" "$MAIN" "$label, after the user went to the main window" || return 1
  ! x_wants_attention "$win" || fail "$label still asks for attention"
  ok "$label comes forward when the user goes to the program"
}

end_program() {
  x_wait_exit 30
  [ "$STATUS" = 0 ] || fail "$X_WM: $1: the program's exit status is $STATUS"
}

# 1. The completion report.
report_in_background() {
  local dest="$TMP/$X_WM report"
  mkdir -p "$dest"
  run_then_turn_away "$ARCHIVE" "$dest" || return
  local report
  report=$(x_window "$REPORT_CAPTION" 180) || { fail "$X_WM: no completion report"; return; }
  waits_behind "$report" "the report" && x_shot "$X_WM-report-behind.png"
  comes_forward "$report" "the report"
  x_click "$report" "${REPORT_OK[@]}"
  end_program "the report"
}

# 2. The overwrite question, at the last file; answered, the run ends while
#    the user is with the program: the report takes the front and the focus.
question_in_background() {
  local dest="$TMP/$X_WM question"
  mkdir -p "$dest/$(dirname "$LAST")"
  echo kept >"$dest/$LAST"
  run_then_turn_away "$ARCHIVE" "$dest" || return
  local question report
  question=$(x_window "$QUESTION_CAPTION" 180) || { fail "$X_WM: no overwrite question"; return; }
  waits_behind "$question" "the overwrite question" && x_shot "$X_WM-question-behind.png"
  # Straight to the question, as by its taskbar entry; Enter answers スキップ.
  timeout 5 xdotool windowactivate --sync "$question" || fail "$X_WM: could not go to the question"
  xdotool key Return
  report=$(x_window "$REPORT_CAPTION" 60) || { fail "$X_WM: no report after the question"; return; }
  x_stays_in_front "$report" "$MAIN" "$X_WM: the report after the question was answered" &&
    ok "$X_WM: the report takes the front when the user is with the program"
  x_wants_attention "$report" && fail "$X_WM: the report asks for attention though the user is with the program"
  [ "$(cat "$dest/$LAST")" = kept ] || fail "$X_WM: the file kept by スキップ was replaced"
  x_click "$report" "${REPORT_OK[@]}"
  end_program "after the question"
}

# 3. A failure's message box; the main window is usable after OK.
failure_in_background() {
  local dest="$TMP/$X_WM failure"
  mkdir -p "$dest"
  run_then_turn_away "$DAMAGED" "$dest" || return
  local box
  box=$(x_window "$ERROR_CAPTION" 180) || { fail "$X_WM: no message box for the damaged archive"; return; }
  waits_behind "$box" "the failure's box" && x_shot "$X_WM-box-behind.png"
  comes_forward "$box" "the failure's box"
  x_key "$box" Return
  x_gone "$ERROR_CAPTION" || fail "$X_WM: the box did not close on OK"
  x_click "$MAIN" "${MAIN_CANCEL[@]}"
  end_program "キャンセル after the failure"
}

report_in_background
question_in_background
failure_in_background
x_finish
