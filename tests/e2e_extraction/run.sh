#!/usr/bin/env bash
# End-to-end extraction: run.sh PROGRAM EXAMPLES_DIR ARCHIVE_GEN [corpus]
# With "corpus", only samples of the compatibility corpus (HOGUREN_CORPUS),
# which skips without it; otherwise everything else.
# HOGUREN_E2E_SHOTS=DIR keeps screenshots.
set -uo pipefail

PROGRAM=$1
EXAMPLES=$2
ARCHIVE_GEN=$3
PART=${4:-}
SAMPLE="$EXAMPLES/サンプル.LZH"
CORPUS=${HOGUREN_CORPUS:-}

[ -f "$SAMPLE" ] || { echo "SKIP: no $SAMPLE"; exit 77; }
if [ "$PART" = corpus ] && { [ -z "$CORPUS" ] || [ ! -f "$CORPUS/MANIFEST.tsv" ]; }; then
  echo "SKIP: no compatibility corpus at '${CORPUS}' (HOGUREN_CORPUS)"
  exit 77
fi
source "$(dirname "$0")/../x11-helpers.sh"
x_start bsdtar
TMP=$X_WORK

drag_floppy_to_drive() { x_drag "$1" "${FLOPPY[*]}" "3750 1350" "6000 1275" "${DRIVE[*]}"; }

# The drop's outcome so far: sets OUTCOME to report or error and OUT to its
# window; false while neither shows.
outcome() {
  OUTCOME=none
  if OUT=$(x_find "$REPORT_CAPTION"); then OUTCOME=report
  elif OUT=$(x_find "$ERROR_CAPTION"); then OUTCOME=error
  else return 1; fi
}
wait_outcome() { x_until 120 outcome; }

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
  local archive=$1 dest=$2 verify=$3 label=$4 MAIN
  start_program "$archive" "$dest"
  MAIN=$(x_window "$MAIN_CAPTION") || { fail "$label: the main window did not appear"; return; }
  [ "$label" = sample ] && x_shot main.png
  drag_floppy_to_drive "$MAIN"
  wait_outcome
  if [ "$OUTCOME" = report ]; then
    [ "$label" = sample ] && x_shot form4.png
    $verify "$dest" "$label"
    x_shown "$ERROR_CAPTION" && fail "$label: an error box came with the report"
    if [ "$label" = sample ]; then
      # キャンセル on the main window, disabled under the report: nothing,
      # and the report keeps the front and the focus.
      x_click "$MAIN" "${MAIN_CANCEL[@]}"
      x_stays_in_front "$OUT" "$MAIN" "$X_WM: the report after a click on the main window" ||
        timeout 5 xdotool windowactivate --sync "$OUT"
    fi
    x_click "$OUT" "${REPORT_OK[@]}"
    x_wait_exit 30
    [ "$STATUS" = 0 ] || fail "$label: after 了  解 the program's exit status is $STATUS"
  elif [ "$OUTCOME" = error ]; then
    [ "$label" = sample ] && x_shot unexpected-error.png
    fail "$label: the error box appeared instead of the completion report"
  else
    fail "$label: neither the completion report nor an error box appeared"
  fi
  [ -n "$PID" ] && { kill "$PID"; wait "$PID" 2>/dev/null; PID=; }
}

# --- The corpus part: samples of the compatibility corpus, each renamed to
# end in LZH as the program requires, checked against the corpus's manifest.
if [ "$PART" = corpus ]; then
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

  for name in "${CORPUS_SAMPLES[@]}"; do
    [ -f "$CORPUS/$name" ] || { fail "corpus sample $name is missing"; continue; }
    dir="$TMP/corpus run/${name%%/*}"
    out="$TMP/corpus out/${name%%/*}"
    mkdir -p "$dir" "$out"
    base=${name##*/}
    cp "$CORPUS/$name" "$dir/${base%.*}.LZH"
    extract_expecting_report "$dir/${base%.*}.LZH" "$out" "matches_manifest" "$name"
  done
  x_finish
fi

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

# --- A damaged archive: bytes in the middle of the packed data overwritten.
DAMAGED_DIR="$TMP/damaged copy"
DEST2="$TMP/second destination"
mkdir -p "$DAMAGED_DIR" "$DEST2"
DAMAGED="$DAMAGED_DIR/壊れた.LZH"
cp "$SAMPLE" "$DAMAGED"
size=$(stat -c %s "$DAMAGED")
printf '\xde\xad\xbe\xef\xde\xad\xbe\xef' | dd of="$DAMAGED" bs=1 seek=$((size * 2 / 3)) conv=notrunc status=none

start_program "$DAMAGED" "$DEST2"
if MAIN=$(x_window "$MAIN_CAPTION"); then
  drag_floppy_to_drive "$MAIN"
  wait_outcome
  if [ "$OUTCOME" = error ]; then
    x_shot error-extraction.png
    x_shown "$REPORT_CAPTION" && fail "the report appeared for a damaged archive"
    # OK is the box's default button.
    x_key "$OUT" Return
    x_gone "$ERROR_CAPTION" || fail "the error box did not close on OK"
    x_shown "$REPORT_CAPTION" && fail "the report appeared after the error box"
    x_shown "$MAIN_CAPTION" || fail "the main window is gone"
    # Whatever the library left, no file stands under a real name half-written.
    while IFS= read -r -d '' f; do
      rel=${f#"$DEST2"/}
      cmp -s "$f" "$REF/$rel" || fail "damaged run left a file that differs: $rel"
    done < <(find "$DEST2" -type f -print0)
    # Still usable: キャンセル ends the program normally.
    x_click "$MAIN" "${MAIN_CANCEL[@]}"
    x_wait_exit 30
    [ "$STATUS" = 0 ] || fail "after キャンセル the program's exit status is $STATUS"
  elif [ "$OUTCOME" = report ]; then
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
# Answers each question as it comes; true once the drop has its outcome.
answer() {
  if Q=$(x_find "$QUESTION_CAPTION"); then
    # Each question is a window of its own; one still closing is not
    # answered twice.
    if [ "$Q" != "$last" ]; then
      x_key "$Q" Return
      last=$Q
      questions=$((questions + 1))
    fi
    return 1
  fi
  outcome
}
if MAIN=$(x_window "$MAIN_CAPTION"); then
  drag_floppy_to_drive "$MAIN"
  questions=0 last=
  x_until 120 answer
  [ "$questions" = "$expected_questions" ] ||
    fail "skip: $questions overwrite questions answered, expected $expected_questions"
  if [ "$OUTCOME" = report ]; then
    diff -r "$KEPT" "$KEEP" || fail "skip: files the user kept were changed"
    x_click "$OUT" "${REPORT_OK[@]}"
    x_wait_exit 30
    [ "$STATUS" = 0 ] || fail "skip: after 了  解 the program's exit status is $STATUS"
  elif [ "$OUTCOME" = error ]; then
    x_shot skip-error.png
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
  if MAIN=$(x_window "$MAIN_CAPTION"); then
    drag_floppy_to_drive "$MAIN"
    if x_window "$PROGRESS_CAPTION" 60 >/dev/null; then
      kill -TERM "$PID"
      x_wait_exit 30
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
x_finish
