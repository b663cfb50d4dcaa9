#!/usr/bin/env bash
# End-to-end extraction: with-xvfb run.sh PROGRAM EXAMPLES_DIR ARCHIVE_GEN
# HOGUREN_E2E_SHOTS=DIR keeps screenshots.
set -uo pipefail

PROGRAM=$1
EXAMPLES=$2
ARCHIVE_GEN=$3
SAMPLE="$EXAMPLES/サンプル.LZH"

for tool in xdotool bsdtar; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -f "$SAMPLE" ] || { echo "SKIP: no $SAMPLE"; exit 77; }

unset QT_QPA_PLATFORM

# Window captions and control centres (client coordinates, from the layouts).
MAIN_CAPTION="ほぐれん  Ｖｅｒｓｉｏｎ ３．５"
REPORT_CAPTION="ほぐれん３．５  解凍終了報告"
ERROR_CAPTION="エラーメッセージ"
PROGRESS_CAPTION="ほぐれん - 解凍中"
QUESTION_CAPTION="ほぐれん - 上書きの確認"
FLOPPY=(152 88)     # Image1
DRIVE=(504 80)      # Image2
CANCEL=(192 300)    # Command2 of the main window
REPORT_OK=(236 84)  # Command1 of the report

TMP=$(mktemp -d)
PID=
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

shot() {
  [ -n "${HOGUREN_E2E_SHOTS:-}" ] && import -window root "$HOGUREN_E2E_SHOTS/$1" 2>/dev/null
  return 0
}

# Prints the id of the visible window with exactly this caption once it is
# there; returns 1 after `limit` seconds.
wait_window() {
  local caption=$1 limit=$2 start=$SECONDS id
  while true; do
    for id in $(xdotool search --onlyvisible --name "$caption" 2>/dev/null); do
      if [ "$(xdotool getwindowname "$id")" = "$caption" ]; then
        echo "$id"
        return 0
      fi
    done
    (( SECONDS - start < limit )) || return 1
    sleep 0.2
  done
}

# Waits for the outcome of a drop: prints "report ID" or "error ID".
wait_outcome() {
  local limit=$1 start=$SECONDS id
  while (( SECONDS - start < limit )); do
    if id=$(wait_window "$REPORT_CAPTION" 0); then echo "report $id"; return 0; fi
    if id=$(wait_window "$ERROR_CAPTION" 0); then echo "error $id"; return 0; fi
    sleep 0.2
  done
  echo "none"
}

window_gone() {
  local caption=$1 id
  for id in $(xdotool search --onlyvisible --name "$caption" 2>/dev/null); do
    [ "$(xdotool getwindowname "$id")" = "$caption" ] && return 1
  done
  return 0
}

# Press on the floppy, move in steps with the button held, release on the drive.
drag_floppy_to_drive() {
  local w=$1
  # A loaded machine may map the window before it takes input.
  sleep 0.5
  xdotool mousemove --window "$w" "${FLOPPY[@]}" mousedown 1
  sleep 0.2
  xdotool mousemove --window "$w" 250 90
  sleep 0.1
  xdotool mousemove --window "$w" 400 85
  sleep 0.1
  xdotool mousemove --window "$w" "${DRIVE[@]}"
  sleep 0.2
  xdotool mouseup 1
}

click() {
  local w=$1 x=$2 y=$3
  xdotool mousemove --window "$w" "$x" "$y" click 1
}

# Waits for the program to end; leaves its exit status in STATUS.
wait_exit() {
  local start=$SECONDS
  while kill -0 "$PID" 2>/dev/null && (( SECONDS - start < 30 )); do sleep 0.2; done
  if kill -0 "$PID" 2>/dev/null; then STATUS="still running"; return; fi
  wait "$PID"
  STATUS=$?
  PID=
}

start_program() {
  local archive=$1 dest=$2
  # The folder list opens on the working folder, which is the destination.
  (cd "$dest" && exec "$PROGRAM" "$archive") &
  PID=$!
}

# Runs the program on ARCHIVE with DEST as destination, drags, and expects the
# report; then VERIFY (a command) checks DEST, and 了  解 must end the program
# with status 0.
extract_expecting_report() {
  local archive=$1 dest=$2 verify=$3 label=$4 outcome REPORT MAIN
  start_program "$archive" "$dest"
  if ! MAIN=$(wait_window "$MAIN_CAPTION" 20); then
    fail "$label: the main window did not appear"
    return
  fi
  [ "$label" = sample ] && shot main.png
  drag_floppy_to_drive "$MAIN"
  read -r outcome REPORT < <(wait_outcome 120)
  if [ "$outcome" = report ]; then
    [ "$label" = sample ] && shot form4.png
    $verify "$dest" "$label"
    window_gone "$ERROR_CAPTION" || fail "$label: an error box came with the report"
    click "$REPORT" "${REPORT_OK[@]}"
    wait_exit
    [ "$STATUS" = 0 ] || fail "$label: after 了  解 the program's exit status is $STATUS"
  elif [ "$outcome" = error ]; then
    [ "$label" = sample ] && shot unexpected-error.png
    fail "$label: the error box appeared instead of the completion report"
  else
    fail "$label: neither the completion report nor an error box appeared"
  fi
  [ -n "$PID" ] && { kill "$PID"; wait "$PID" 2>/dev/null; PID=; }
}

# --- A good archive: blanks in every path, Japanese names in a sub-folder.
ARCHIVE_DIR="$TMP/my archives"
DEST="$TMP/extracted files"
REF="$TMP/reference"
mkdir -p "$ARCHIVE_DIR" "$DEST" "$REF"
cp "$SAMPLE" "$ARCHIVE_DIR/"
ARCHIVE="$ARCHIVE_DIR/サンプル.LZH"
# An independent reading of the archive to compare with.
(cd "$REF" && bsdtar --options hdrcharset=CP932 -xf "$ARCHIVE") || fail "reference extraction"

same_as_reference() {
  if [ -z "$(find "$REF" -type f -print -quit)" ]; then
    fail "$2: the reference extraction holds no file"
  elif ! diff -r "$REF" "$1"; then
    fail "$2: the extracted files differ from the archive's contents"
  fi
}
extract_expecting_report "$ARCHIVE" "$DEST" same_as_reference sample

# --- Samples of the compatibility corpus, each renamed to end in LZH as the
# program requires, checked against the corpus's manifest.
CORPUS=${HOGUREN_CORPUS:-}
CORPUS_SAMPLES=(explzh_723/h2_subdir.lzh lha213/subdir.lzh larc333/lz5.lzs lha213/lh5_long.lzh)

matches_manifest() {
  local dest=$1 name=$2 arc kind path size sum found
  while IFS=$'\t' read -r arc kind path size sum; do
    [ "$arc" = "$name" ] || continue
    # Archivers from case-insensitive systems store capitals.
    found=$(find "$dest" -ipath "$dest/$path" -print -quit)
    case $kind in
      f) if [ -z "$found" ] || [ ! -f "$found" ]; then fail "$name: $path is missing"
         elif [ "$(sha256sum < "$found" | cut -d' ' -f1)" != "$sum" ]; then fail "$name: $path differs"
         fi ;;
      d) [ -n "$found" ] && [ -d "$found" ] || fail "$name: folder $path is missing" ;;
    esac
  done < "$CORPUS/MANIFEST.tsv"
}

if [ -n "$CORPUS" ] && [ -f "$CORPUS/MANIFEST.tsv" ]; then
  for name in "${CORPUS_SAMPLES[@]}"; do
    [ -f "$CORPUS/$name" ] || { fail "corpus sample $name is missing"; continue; }
    dir="$TMP/corpus run/${name%%/*}"
    out="$TMP/corpus out/${name%%/*}"
    mkdir -p "$dir" "$out"
    base=${name##*/}
    cp "$CORPUS/$name" "$dir/${base%.*}.LZH"
    extract_expecting_report "$dir/${base%.*}.LZH" "$out" "matches_manifest" "$name"
  done
else
  echo "note: no corpus, its samples are not run"
fi

# --- A damaged archive: bytes in the middle of the packed data overwritten.
DAMAGED_DIR="$TMP/damaged copy"
DEST2="$TMP/second destination"
mkdir -p "$DAMAGED_DIR" "$DEST2"
DAMAGED="$DAMAGED_DIR/壊れた.LZH"
cp "$SAMPLE" "$DAMAGED"
size=$(stat -c %s "$DAMAGED")
printf '\xde\xad\xbe\xef\xde\xad\xbe\xef' | dd of="$DAMAGED" bs=1 seek=$((size * 2 / 3)) conv=notrunc status=none

start_program "$DAMAGED" "$DEST2"
if MAIN=$(wait_window "$MAIN_CAPTION" 20); then
  drag_floppy_to_drive "$MAIN"
  read -r outcome ERR < <(wait_outcome 120)
  if [ "$outcome" = error ]; then
    shot error-extraction.png
    window_gone "$REPORT_CAPTION" || fail "the report appeared for a damaged archive"
    # OK is the box's default button.
    xdotool windowfocus --sync "$ERR"
    xdotool key Return
    sleep 0.5
    window_gone "$ERROR_CAPTION" || fail "the error box did not close on OK"
    window_gone "$REPORT_CAPTION" || fail "the report appeared after the error box"
    wait_window "$MAIN_CAPTION" 1 >/dev/null || fail "the main window is gone"
    # Whatever the library left, no file stands under a real name half-written.
    while IFS= read -r -d '' f; do
      rel=${f#"$DEST2"/}
      cmp -s "$f" "$REF/$rel" || fail "damaged run left a file that differs: $rel"
    done < <(find "$DEST2" -type f -print0)
    # Still usable: キャンセル ends the program normally.
    click "$MAIN" "${CANCEL[@]}"
    wait_exit
    [ "$STATUS" = 0 ] || fail "after キャンセル the program's exit status is $STATUS"
  elif [ "$outcome" = report ]; then
    fail "the report appeared for a damaged archive"
  else
    fail "no error box for a damaged archive"
  fi
else
  fail "the main window did not appear (damaged archive)"
fi

# --- Files the user keeps: the destination already holds every file of the
# archive, with other contents. スキップ (the question's default button, so
# Enter) for each one is the user's choice, not a failure: the completion
# report comes and the files are as they were.
KEEP="$TMP/kept files"
KEPT="$TMP/kept before"
(cd "$REF" && find . -type f) | while IFS= read -r rel; do
  mkdir -p "$KEEP/$(dirname "$rel")"
  printf 'older %s\n' "$rel" >"$KEEP/$rel"
done
cp -r "$KEEP" "$KEPT"
expected_questions=$(find "$REF" -type f | wc -l)
start_program "$ARCHIVE" "$KEEP"
if MAIN=$(wait_window "$MAIN_CAPTION" 20); then
  drag_floppy_to_drive "$MAIN"
  questions=0 last= outcome=none start=$SECONDS
  while (( SECONDS - start < 120 )); do
    if Q=$(wait_window "$QUESTION_CAPTION" 0); then
      # Each question is a window of its own; one still closing is not
      # answered twice.
      if [ "$Q" != "$last" ]; then
        xdotool windowfocus --sync "$Q"
        xdotool key Return
        last=$Q
        questions=$((questions + 1))
      fi
    elif OUT=$(wait_window "$REPORT_CAPTION" 0); then
      outcome=report
      break
    elif OUT=$(wait_window "$ERROR_CAPTION" 0); then
      outcome=error
      break
    fi
    sleep 0.3
  done
  [ "$questions" = "$expected_questions" ] ||
    fail "skip: $questions overwrite questions answered, expected $expected_questions"
  if [ "$outcome" = report ]; then
    diff -r "$KEPT" "$KEEP" || fail "skip: files the user kept were changed"
    click "$OUT" "${REPORT_OK[@]}"
    wait_exit
    [ "$STATUS" = 0 ] || fail "skip: after 了  解 the program's exit status is $STATUS"
  elif [ "$outcome" = error ]; then
    shot skip-error.png
    fail "skip: the error box appeared instead of the completion report"
  else
    fail "skip: neither the completion report nor an error box appeared"
  fi
else
  fail "the main window did not appear (files kept)"
fi
[ -n "$PID" ] && { kill "$PID"; wait "$PID" 2>/dev/null; PID=; }

# --- Ended from outside: SIGTERM while the progress window shows cancels the
# extraction, which leaves no temporary file, and the program ends with 0.
# 100,000 tiny files take several seconds, so the signal comes mid-way.
MANY_DIR="$TMP/many files"
DEST3="$TMP/ended from outside"
mkdir -p "$MANY_DIR" "$DEST3"
if ! "$ARCHIVE_GEN" many "$MANY_DIR/多数.LZH" 100000 64; then
  fail "could not write the archive of many files"
else
  start_program "$MANY_DIR/多数.LZH" "$DEST3"
  if MAIN=$(wait_window "$MAIN_CAPTION" 20); then
    drag_floppy_to_drive "$MAIN"
    if wait_window "$PROGRESS_CAPTION" 60 >/dev/null; then
      kill -TERM "$PID"
      wait_exit
      [ "$STATUS" = 0 ] || fail "SIGTERM: the program's exit status is $STATUS"
      left=$(find "$DEST3" -name '.unlha-*.tmp' | wc -l)
      [ "$left" = 0 ] || fail "SIGTERM: $left temporary files were left"
      done_files=$(find "$DEST3" -type f | wc -l)
      (( done_files < 100000 )) || fail "SIGTERM: the extraction had finished before the signal"
    else
      fail "SIGTERM: no progress window for 100,000 files"
    fi
  else
    fail "the main window did not appear (ended from outside)"
  fi
  [ -n "$PID" ] && { kill -KILL "$PID"; wait "$PID" 2>/dev/null; PID=; }
fi

if (( failures )); then
  echo "$failures failure(s)"
  exit 1
fi
echo "PASS"
