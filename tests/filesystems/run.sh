#!/usr/bin/env bash
# Extraction onto the file systems users really extract onto:
#   run.sh DRIVER SAMPLE [ROW]
# DRIVER (unlha32-bench) calls the library as the program does, without a
# window. Each row extracts an archive onto one kind of destination and
# compares what it left with an extraction into an ordinary folder; ROW
# runs that row alone (CTest runs each as a test of its own). A row that
# lacks FUSE, a tool, the corpus or the right to mount skips with one line
# saying why; all skipped is 77.
set -uo pipefail

DRIVER=$1
SAMPLE=$2
ONLY=${3:-}
CORPUS=${HOGUREN_CORPUS:-}

# name, destination, archive, expected result, what the destination may hold
# (all = the reference exactly, none = nothing, part = reference files only),
# and words the report must hold, if any.
ROWS=(
  "ntfs       ntfs      sample                    0      all"
  "fat        fat       corpus:lha213/subdir.lzh  0      all"
  # fusefat refuses every name outside ASCII: each entry is skipped.
  "fat-names  fat       sample                    32774  none"
  "bindfs     bindfs    sample                    0      all"
  "read-only  readonly  sample                    32772  none"
  # 8 KiB, less than the sample's データ.txt alone.
  "full       full      sample                    32772  part  空き容量が足りません"
  # fusefat says "not permitted" when full: the run stops as on any full disk,
  # before the small file after the big one.
  "fat-full   fat       zeros:a.txt=1000,big.bin=9000000,c.txt=1000  32772  part  空き容量が足りません"
)

TMP=$(mktemp -d "${TMPDIR:-/tmp}/hoguren-fs.XXXXXX")
MOUNTS=()
unmount() {
  umount "$1" 2>/dev/null || fusermount -u "$1" 2>/dev/null || fusermount3 -u "$1" 2>/dev/null \
    || umount -l "$1" 2>/dev/null
}
cleanup() {
  local m
  for m in "${MOUNTS[@]}"; do unmount "$m"; done
  # Never into a mount that would not go.
  rm -rf --one-file-system "$TMP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

failures=0
ran=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# extract ARCHIVE DEST LOG: the library's result on stdout.
extract() {
  "$DRIVER" "$1" "$2" --report >"$3" 2>&1
  awk '/^result / {print $2}' "$3"
}

# zeros_archive OUT NAME=SIZE,...: stored entries of zero bytes, whose CRC is
# 0, at header level 0.
zeros_archive() {
  local out=$1 entries=$2 item name size hsize sum i hex
  : >"$out"
  IFS=, read -ra items <<<"$entries"
  for item in "${items[@]}"; do
    name=${item%%=*} size=${item#*=}
    le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
    # -lh0-, packed and original size, 2010-01-01 as an MS-DOS time, a
    # file's attribute, level 0, the name, CRC 0.
    hex="\\x2d\\x6c\\x68\\x30\\x2d$(le32 "$size")$(le32 "$size")\\x00\\x00\\x21\\x3c\\x20\\x00"
    hex+=$(printf '\\x%02x' ${#name})
    for ((i = 0; i < ${#name}; i++)); do hex+=$(printf '\\x%02x' "'${name:i:1}"); done
    hex+="\\x00\\x00"
    hsize=$((22 + ${#name}))
    sum=0
    for byte in $(printf "$hex" | od -An -tu1); do sum=$((sum + byte)); done
    printf "$(printf '\\x%02x\\x%02x' "$hsize" $((sum & 255)))$hex" >>"$out"
    head -c "$size" /dev/zero >>"$out"
  done
  printf '\0' >>"$out"
}

# The archive of a row, or empty with the reason printed.
archive_of() {
  case $1 in
    sample) echo "$SAMPLE" ;;
    zeros:*)
      local out="$TMP/$2.lzh"
      zeros_archive "$out" "${1#zeros:}" && echo "$out" ;;
    corpus:*)
      if [ -n "$CORPUS" ] && [ -f "$CORPUS/${1#corpus:}" ]; then echo "$CORPUS/${1#corpus:}"
      else echo "SKIP $2: no compatibility corpus (${1#corpus:} under HOGUREN_CORPUS=${CORPUS:-unset})" >&2; fi ;;
  esac
}

# Extracts ARCHIVE into an ordinary folder once; leaves the folder in REF.
declare -A REFS=()
reference() {
  local archive=$1 r
  REF=${REFS[$archive]:-}
  [ -z "$REF" ] || return 0
  REF="$TMP/ref-${#REFS[@]}"
  mkdir "$REF"
  r=$(extract "$archive" "$REF" "$REF.log")
  if [ "$r" != 0 ] || [ -z "$(find "$REF" -type f -print -quit)" ]; then
    fail "reference extraction of $archive gave ${r:-no result}"
    cat "$REF.log"
    return 1
  fi
  REFS[$archive]=$REF
}

need_fuse() {
  [ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || { echo "SKIP $1: no usable /dev/fuse"; return 1; }
  local tool
  for tool in "${@:2}"; do
    command -v "$tool" >/dev/null || { echo "SKIP $1: $tool is not installed"; return 1; }
  done
}

# A mount that failed for want of rights skips; any other failure fails.
mount_failed() {
  local name=$1 log=$2
  if grep -qiE 'permission|not permitted|privilege' "$log"; then
    echo "SKIP $name: not allowed to mount: $(head -n 1 "$log")"
  else
    fail "$name: mounting failed: $(tr '\n' ' ' <"$log")"
  fi
}

# mount_row NAME KIND MOUNTPOINT: mounts; the destination is MOUNTPOINT/dest.
mount_row() {
  local name=$1 kind=$2 m=$3 img="$3.img" log="$3.log"
  mkdir -p "$m"
  case $kind in
    ntfs)
      need_fuse "$name" mkntfs ntfs-3g || return 1
      truncate -s 8M "$img" && mkntfs -F -Q -q "$img" >"$log" 2>&1 \
        || { fail "$name: mkntfs: $(cat "$log")"; return 1; }
      ntfs-3g "$img" "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; } ;;
    fat)
      need_fuse "$name" mkfs.vfat fusefat || return 1
      truncate -s 8M "$img" && mkfs.vfat "$img" >"$log" 2>&1 \
        || { fail "$name: mkfs.vfat: $(cat "$log")"; return 1; }
      # rw+ is fusefat's read-write mode; it talks on stdout.
      fusefat -o rw+ "$img" "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; } ;;
    bindfs)
      need_fuse "$name" bindfs || return 1
      mkdir -p "$m.under"
      bindfs "$m.under" "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; } ;;
    readonly)
      if [ "$(id -u)" -ne 0 ]; then
        mkdir "$m/dest" && chmod 555 "$m/dest"
        return 0
      fi
      # Root writes through any mode bits: only a read-only mount refuses it.
      mount -t tmpfs -o size=64k hoguren-fs "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; }
      MOUNTS+=("$m")
      mkdir "$m/dest"
      mount -o remount,ro "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; }
      return 0 ;;
    full)
      [ "$(id -u)" -eq 0 ] || { echo "SKIP $name: mounting a small tmpfs needs root"; return 1; }
      mount -t tmpfs -o size=8k hoguren-fs "$m" >"$log" 2>&1 || { mount_failed "$name" "$log"; return 1; } ;;
  esac
  MOUNTS+=("$m")
  mkdir "$m/dest"
}

for row in "${ROWS[@]}"; do
  read -r name kind what expected left words <<<"$row"
  [ -z "$ONLY" ] || [ "$name" = "$ONLY" ] || continue
  matched=1
  archive=$(archive_of "$what" "$name")
  [ -n "$archive" ] || continue
  reference "$archive" || continue
  ref=$REF
  m="$TMP/$name"
  mount_row "$name" "$kind" "$m" || continue
  ran=$((ran + 1))
  dest="$m/dest"

  before=$failures
  result=$(extract "$archive" "$dest" "$m.out")
  if [ "$result" != "$expected" ]; then
    fail "$name: result ${result:-none}, expected $expected"
    sed 's/^/    /' "$m.out"
  fi
  if [ -n "$words" ] && ! grep -qF "$words" "$m.out"; then
    fail "$name: the report does not say $words"
    sed 's/^/    /' "$m.out"
  fi
  leftovers=$(find "$m" -name '.unlha-*' 2>&1)
  [ -z "$leftovers" ] || fail "$name: temporary files left: $leftovers"
  case $left in
    all)
      diff -r "$ref" "$dest" >"$m.diff" 2>&1 || { fail "$name: differs from the reference"; sed 's/^/    /' "$m.diff"; } ;;
    none)
      [ -z "$(find "$dest" -mindepth 1 -print -quit)" ] || fail "$name: left $(find "$dest" -mindepth 1 | tr '\n' ' ')" ;;
    part)
      while IFS= read -r -d '' f; do
        rel=${f#"$dest"/}
        if [ -d "$f" ]; then
          [ -d "$ref/$rel" ] || fail "$name: unexpected folder $rel"
        elif ! cmp -s "$f" "$ref/$rel"; then
          fail "$name: $rel is not the archive's file"
        fi
      done < <(find "$dest" -mindepth 1 -print0) ;;
  esac
  [ "$failures" -eq "$before" ] && echo "ok $name"
  unmount "$m"
done

# A run killed mid-entry on FAT, which has no unnamed files, leaves its
# temporary file; the next run into that folder removes it.
killed_row() {
  local name=killed-fat m="$TMP/killed-fat" big="$TMP/killed-big.lzh" small="$TMP/killed-small.lzh" pid left i
  mount_row "$name" fat "$m" || return 0
  ran=$((ran + 1))
  zeros_archive "$big" big.bin=60000000
  zeros_archive "$small" small.txt=10
  "$DRIVER" "$big" "$m/dest" >/dev/null 2>&1 &
  pid=$!
  for ((i = 0; i < 500; i++)); do
    left=$(find "$m/dest" -name '.unlha-*' | head -n 1)
    [ -n "$left" ] && break
    sleep 0.01
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if [ -z "$left" ] || [ ! -e "$left" ]; then
    echo "SKIP $name: the run ended before it could be killed mid-entry"
  else
    extract "$small" "$m/dest" "$m.out" >/dev/null
    left=$(find "$m/dest" -name '.unlha-*')
    if [ -n "$left" ] || [ ! -f "$m/dest/small.txt" ]; then
      fail "$name: after the next run: $(ls -A "$m/dest" | tr '\n' ' ')"
    else
      echo "ok $name"
    fi
  fi
  unmount "$m"
}
if [ -z "$ONLY" ] || [ "$ONLY" = killed-fat ]; then
  matched=1
  killed_row
fi

[ -n "${matched:-}" ] || fail "no row named $ONLY"
if (( failures )); then
  echo "$failures failure(s)"
  exit 1
fi
if (( ran == 0 )); then
  # A single row has said why already.
  [ -n "$ONLY" ] || echo "SKIP: no row could run"
  exit 77
fi
echo "PASS ($ran rows)"
