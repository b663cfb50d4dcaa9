#!/usr/bin/env bash
# The desktop entry claims MIME types; a file manager offers the program for
# every file whose name matches one of their patterns in shared-mime-info,
# in any letter case unless the pattern says otherwise. The program must
# take each such file as an archive, or the user who double-clicks it hears
# a beep and reads that it is not an LHA file.
#
#   mime_round_trip.sh PROGRAM DESKTOP_ENTRY ARCHIVE
#
# For every pattern of every claimed type: the example archive under a name
# made from the pattern as written, in capitals and in mixed case, must be
# given a claimed type by the system (gio) and must bring the title card.
# A name that no pattern matches must bring the not-an-archive notice.
# HOGUREN_MIME_DIR replaces /usr/share/mime.
set -uo pipefail

program=$1
desktop=$2
archive=$3
mime=${HOGUREN_MIME_DIR:-/usr/share/mime}

if [ ! -f "$mime/globs2" ]; then
  echo "SKIP: no MIME database at $mime (package shared-mime-info)"
  exit 77
fi

fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The type an alias stands for; the type itself when it is no alias.
canonical() { awk -v t="$1" '$1 == t { print $2; found = 1 } END { if (!found) print t }' "$mime/aliases"; }

claimed=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d')
[ -n "$claimed" ] || { echo "FAIL: $desktop claims no MIME type"; exit 1; }
claimed_canonical=$(for t in $claimed; do canonical "$t"; done | sort -u)

# The first window the program opens on NAME, as its intake reports it.
first_window() {
  local log=$tmp/log pid
  : >"$log"
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=hoguren.intake.debug=true \
    "$program" "$1" 2>"$log" &
  pid=$!
  for _ in $(seq 100); do
    grep -q 'first window:' "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  sed -n 's/.*first window: //p' "$log" | head -n 1
}

# NAME must get a claimed type from the system and open the title card.
check_name() {
  local name=$1 file type window
  file="$tmp/$name"
  cp "$archive" "$file"
  if command -v gio >/dev/null; then
    type=$(gio info -a standard::content-type "$file" | sed -n 's/^ *standard::content-type: //p')
    grep -qxF "$(canonical "$type")" <<<"$claimed_canonical" ||
      fail "$name: the system calls it $type, which the desktop entry does not claim"
  fi
  window=$(first_window "$file")
  if [ "$window" = "title card" ]; then
    echo "ok: $name opens the title card"
  else
    fail "$name: the program opens '${window:-nothing}', not the title card"
  fi
}

patterns=0
for type in $claimed_canonical; do
  # globs2 lines: weight:type:pattern[:flags]; "cs" marks a pattern that
  # holds only in the case written.
  while IFS=: read -r _ _ pattern flags; do
    patterns=$((patterns + 1))
    if [[ ! $pattern =~ ^\*\.[A-Za-z0-9]+$ ]]; then
      fail "$type: pattern '$pattern' is more than a name's ending; this test cannot make a name for it"
      continue
    fi
    ending=${pattern#\*.}
    check_name "x.$ending"
    if [[ ,${flags:-}, != *,cs,* ]]; then
      check_name "X.${ending^^}"
      check_name "アーカイブ.${ending^}"
    fi
  done < <(awk -F: -v t="$type" '$2 == t' "$mime/globs2")
done
[ "$patterns" -gt 0 ] || fail "none of the claimed types ($claimed) has a name pattern"

# The other side: a name no pattern matches is turned away.
window=$(first_window "$tmp/x.lzs")
[ "$window" = "not-an-archive notice" ] || fail "x.lzs: the program opens '${window:-nothing}', not the not-an-archive notice"

if ((fails)); then echo "$fails failure(s)"; exit 1; fi
echo "PASS: $patterns pattern(s) of $(wc -w <<<"$claimed") claimed type(s)"
