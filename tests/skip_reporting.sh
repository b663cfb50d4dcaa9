#!/usr/bin/env bash
# A test that cannot run for want of something outside the repository says
# why in one line and ends the way CTest reports as skipped, and
# tests/list-skips finds those lines after a run. Here without the
# compatibility corpus:
#
#   skip_reporting.sh SOURCE_DIR CORPUS_TEST BENCH_DRIVER
set -u
src=$1 corpus_test=$2 driver=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
export HOGUREN_CORPUS="$tmp/no corpus"

# The corpus test: its one function skips with the line that CTest's
# SKIP_REGULAR_EXPRESSION for it matches.
regex=$(sed -n 's/.*SKIP_REGULAR_EXPRESSION "\(.*\)")$/\1/p' "$src/tests/unlha32/CMakeLists.txt" | sed 's/\\\\/\\/g')
out=$(QT_QPA_PLATFORM=offscreen "$corpus_test" 2>&1)
[ -n "$regex" ] || fail "no SKIP_REGULAR_EXPRESSION for tst_unlha32_corpus"
grep -qE "$regex" <<<"$out" || fail "tst_unlha32_corpus without the corpus does not print /$regex/:"$'\n'"$out"
[ "$(grep -c '^SKIP' <<<"$out")" -eq 1 ] || fail "tst_unlha32_corpus: want one SKIP line:"$'\n'"$out"

# A row that needs the corpus, alone: 77, one line.
one_skip_line() {
  local label=$1 out rc
  shift
  out=$("$@" 2>&1)
  rc=$?
  [ "$rc" -eq 77 ] || fail "$label: exit $rc without the corpus, want 77:"$'\n'"$out"
  [ "$(grep -c . <<<"$out")" -eq 1 ] && grep -q '^SKIP.*corpus' <<<"$out" ||
    fail "$label: want one SKIP line naming the corpus:"$'\n'"$out"
}
one_skip_line "filesystems row fat" \
  bash "$src/tests/filesystems/run.sh" "$driver" "$src/examples/サンプル.LZH" fat
one_skip_line "e2e_extraction's corpus part" \
  bash "$src/tests/e2e_extraction/run.sh" /nonexistent/hoguren "$src/examples" /nonexistent/gen corpus

# The listing after a run: every SKIP line under its test's name.
mkdir -p "$tmp/Testing/Temporary"
cat >"$tmp/Testing/Temporary/LastTest.log" <<'LOG'
1/3 Test: tst_a
Output:
----------------------------------------------------------
PASS   : A::one()
SKIP   : A::two() no compatibility corpus: /x/MANIFEST.tsv is missing (HOGUREN_CORPUS)
   Loc: [a.cpp(1)]
<end of output>
2/3 Test: filesystems.fat
Output:
----------------------------------------------------------
SKIP fat: no usable /dev/fuse
<end of output>
3/3 Test: tst_b
Output:
----------------------------------------------------------
PASS   : B::one()
<end of output>
LOG
want='Not run, and why:
  tst_a: A::two() no compatibility corpus: /x/MANIFEST.tsv is missing (HOGUREN_CORPUS)
  filesystems.fat: fat: no usable /dev/fuse'
got=$("$src/tests/list-skips" "$tmp")
[ "$got" = "$want" ] || fail "list-skips printed:"$'\n'"$got"$'\n'"want:"$'\n'"$want"

((fails == 0)) || exit 1
echo PASS
