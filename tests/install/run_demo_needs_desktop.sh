#!/usr/bin/env bash
# Without a desktop session the demo says so in one line and stops before it
# installs, configures or builds anything (the program would only abort,
# after the whole build, with Qt's message about its platform plugin).
#
#   run_demo_needs_desktop.sh SOURCE_DIR
set -u
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$1/scripts/run-demo" 2>&1)
rc=$?
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
[ "$rc" -ne 0 ] || fail "run-demo went on without a desktop session"
[ "$(grep -c . <<<"$out")" -eq 1 ] || fail "want one line, got:"$'\n'"$out"
grep -q 'DISPLAY' <<<"$out" && grep -q 'WAYLAND_DISPLAY' <<<"$out" ||
  fail "the line does not name DISPLAY and WAYLAND_DISPLAY: $out"
((fails == 0)) || exit 1
echo "PASS: $out"
