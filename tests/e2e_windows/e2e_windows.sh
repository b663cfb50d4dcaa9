#!/bin/bash
# Starts the program as a user would and checks which window appears, where,
# and that its buttons end the process with status 0. Runs under tests/with-xvfb.
set -u
BIN=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILS=0
PID=

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
ok() { echo "ok: $*"; }

# Waits up to $2 seconds for a visible window whose whole title is $1;
# prints its id.
wait_window() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        local id
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

# Sets X, Y, WIDTH, HEIGHT for window $1.
geometry() { eval "$(xdotool getwindowgeometry --shell "$1")"; }

# Waits up to 5 s for the program to exit; prints its status.
wait_exit() {
    local i
    for ((i = 0; i < 50; i++)); do
        if ! kill -0 "$PID" 2>/dev/null; then wait "$PID"; echo $?; return 0; fi
        sleep 0.1
    done
    kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null
    echo "still running"
}

click_at() { xdotool mousemove "$1" "$2" click 1; }

start() { "$BIN" "$@" 2>"$WORK/stderr" & PID=$!; }

# The screen is 1280 x 1024 and there is no window manager, so the outer
# size is the client size and centring rounds half pixels down.
expect_centred() {
    local want_x=$(( (1280 - $3) / 2 )) want_y=$(( (1024 - $4) / 2 ))
    geometry "$1"
    [ "$WIDTH" = "$3" ] && [ "$HEIGHT" = "$4" ] || fail "$2: size ${WIDTH}x$HEIGHT, want $3x$4"
    [ "$X" = "$want_x" ] && [ "$Y" = "$want_y" ] || fail "$2: at $X,$Y, want $want_x,$want_y"
}

MAIN='ほぐれん  Ｖｅｒｓｉｏｎ ３．５'

# 1. No argument: the start-without-file notice; "了  解" ends with 0.
start
if id=$(wait_window 'ほぐれん３．５' 10); then
    ok "no argument shows the start-without-file notice"
    expect_centred "$id" Form3 548 212
    [ -z "$(xdotool search --onlyvisible --name "^$MAIN\$")" ] || fail "main window visible"
    geometry "$id"
    click_at $((X + 336 + 96)) $((Y + 144 + 16))
    rc=$(wait_exit)
    [ "$rc" = 0 ] && ok "了  解 ends with status 0" || fail "了  解: exit $rc"
else
    fail "no argument: notice did not appear"; kill "$PID"; wait "$PID"
fi

# 1b. The notice's "バージョン情報": the version window disables the notice
#     until "Ｏ　Ｋ"; afterwards "了  解" still ends the program.
start
if id=$(wait_window 'ほぐれん３．５' 10); then
    geometry "$id"; nx=$X ny=$Y
    click_at $((nx + 336 + 96)) $((ny + 176 + 12))
    if vid=$(wait_window 'バージョン情報' 5); then
        ok "バージョン情報 opens the version window"
        expect_centred "$vid" Form5 398 76
        click_at $((nx + 336 + 96)) $((ny + 144 + 16))   # 了  解 while disabled
        sleep 0.5
        kill -0 "$PID" 2>/dev/null && ok "the notice takes no input meanwhile" \
            || fail "了  解 ended the program while the version window was open"
        geometry "$vid"
        click_at $((X + 328 + 28)) $((Y + 8 + 12))        # Ｏ　Ｋ
        sleep 0.5
        [ -z "$(xdotool search --onlyvisible --name '^バージョン情報$')" ] || fail "Ｏ　Ｋ left the version window open"
        [ -z "$(xdotool search --onlyvisible --name "^$MAIN\$")" ] || fail "main window appeared"
    else
        fail "version window did not appear"
    fi
    click_at $((nx + 336 + 96)) $((ny + 144 + 16))
    rc=$(wait_exit)
    [ "$rc" = 0 ] && ok "after Ｏ　Ｋ, 了  解 ends with status 0" || fail "after Ｏ　Ｋ: exit $rc"
else
    fail "no argument (second run): notice did not appear"; kill "$PID"; wait "$PID"
fi

# 2. Not an archive: the other notice; its button ends with 0.
start "$WORK/x.lzh"
if id=$(wait_window 'ほぐれん   Ｖｅｒｓｉｏｎ．３．５' 10); then
    ok "x.lzh shows the not-an-archive notice"
    expect_centred "$id" Form10 540 95
    geometry "$id"
    click_at $((X + 120 + 164)) $((Y + 56 + 12))
    rc=$(wait_exit)
    [ "$rc" = 0 ] && ok "了       解 ends with status 0" || fail "Form10 button: exit $rc"
else
    fail "x.lzh: notice did not appear"; kill "$PID"; wait "$PID"
fi

# 3. An archive: the title card, then the main window about 2 s later;
#    "キャンセル" ends with 0.
start "$WORK/x.LZH"
t0=$(date +%s%N)
sleep 1
[ -z "$(xdotool search --onlyvisible --name "^$MAIN\$")" ] || fail "main window shown before the card's time"
# The card is then the program's only visible window, centred.
# A loaded machine may still be mapping it; give it until well before 2 s.
for _ in 1 2 3 4 5 6; do
    card=$(xdotool search --onlyvisible --pid "$PID" 2>/dev/null)
    [ -n "$card" ] && break
    sleep 0.1
done
if [ "$(echo "$card" | grep -c .)" = 1 ]; then
    expect_centred "$card" title1 492 266
else
    fail "want exactly the title card visible, got: $card"
fi
if id=$(wait_window "$MAIN" 10); then
    elapsed=$(( ($(date +%s%N) - t0) / 1000000 ))
    if [ "$elapsed" -ge 1800 ] && [ "$elapsed" -lt 8000 ]; then
        ok "main window after ${elapsed} ms"
    else
        fail "main window after ${elapsed} ms, want about 2000"
    fi
    expect_centred "$id" Form2 631 385
    geometry "$id"
    click_at $((X + 80 + 112)) $((Y + 280 + 20))
    rc=$(wait_exit)
    [ "$rc" = 0 ] && ok "キャンセル ends with status 0" || fail "キャンセル: exit $rc"
else
    fail "x.LZH: main window did not appear"; kill "$PID"; wait "$PID"
fi

# 4. The drag: press on the floppy, release elsewhere (nothing), then press
#    and release on the drive (the drop handler runs).
QT_LOGGING_RULES="hoguren.drop.debug=true" start "$WORK/x.LZH"
if id=$(wait_window "$MAIN" 10); then
    geometry "$id"
    fx=$((X + 120 + 32)) fy=$((Y + 56 + 32))
    dx=$((X + 480 + 24)) dy=$((Y + 56 + 24))
    xdotool mousemove $fx $fy mousedown 1; sleep 0.2
    xdotool mousemove $((X + 300)) $((Y + 88)); sleep 0.2   # the arrow
    xdotool mouseup 1; sleep 0.3
    grep -q Image2_DragDrop "$WORK/stderr" && fail "release over the arrow dropped"
    xdotool mousemove $fx $fy mousedown 1; sleep 0.2
    xdotool mousemove $((dx - 40)) $dy; sleep 0.1
    xdotool mousemove $dx $dy; sleep 0.2
    xdotool mouseup 1; sleep 0.5
    if grep -q Image2_DragDrop "$WORK/stderr"; then ok "press on floppy, release on drive reaches the drop"
    else fail "release over the drive did not drop"; fi
    [ "$(grep -c Image2_DragDrop "$WORK/stderr")" -le 1 ] || fail "more than one drop"
else
    fail "drag: main window did not appear"
fi
kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null

if [ "$FAILS" -ne 0 ]; then echo "$FAILS failure(s)"; exit 1; fi
echo "all window end-to-end checks passed"
