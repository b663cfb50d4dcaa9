#!/bin/bash
# Starts the program as a user would, under a window manager, and checks
# which window appears, where, which one stays in front, and that its
# buttons end the process with status 0.
set -u
BIN=$1
source "$(dirname "$0")/../x11-helpers.sh"
x_start
WORK=$X_WORK

start() { "$BIN" "$@" 2>"$WORK/stderr" & PID=$!; }
# A case whose first window never came: nothing more to drive.
missing() { fail "$1"; kill "$PID"; wait "$PID"; PID=; }
expect_exit() { x_wait_exit; [ "$STATUS" = 0 ] && ok "$1 ends with status 0" || fail "$1: exit $STATUS"; }

NOTICE='ほぐれん３．５'
VERSION='バージョン情報'
# Controls, in twips from the layouts.
NOTICE_OK=(5040 2160 2895 495) NOTICE_VERSION=(5040 2640 2895 375)
VERSION_OK=(4920 120 855 375)
FORM10_OK=(1800 840 4935 375)
MAIN_VERSION=(1200 3600 3375 615) ARROW=(4440 1080 480 480)

# The version window opened over window $1 keeps the front and the focus when
# $1 is clicked at $2..., which would otherwise end the program; Ｏ　Ｋ closes
# it. Ending the program hides every window, so $1 still showing afterwards
# proves the click did nothing.
version_stays_in_front() {
    local win=$1 title=$2 vid
    shift 2
    vid=$(x_window "$VERSION" 5) || { fail "version window did not appear"; return 1; }
    x_click "$win" "$@"
    # Brought back by hand when it fell behind, so that the rest still runs.
    x_stays_in_front "$vid" "$win" "$X_WM: version window after a click on '$title'" ||
        timeout 5 xdotool windowactivate --sync "$vid"
    x_click "$vid" "${VERSION_OK[@]}"
    x_gone "$VERSION" || fail "Ｏ　Ｋ left the version window open"
    x_shown "$title" || fail "a click on '$title' ended the program while the version window was open"
}

# 1. No argument: the start-without-file notice; "了  解" ends with 0.
start
if id=$(x_window "$NOTICE" 10); then
    ok "no argument shows the start-without-file notice"
    x_centred "$id" Form3 8220 3180
    x_shown "$MAIN_CAPTION" && fail "main window visible"
    x_click "$id" "${NOTICE_OK[@]}"
    expect_exit "了  解"
else
    missing "no argument: notice did not appear"
fi

# 1b. The notice's "バージョン情報": the version window disables the notice
#     until "Ｏ　Ｋ"; afterwards "了  解" still ends the program.
start
if id=$(x_window "$NOTICE" 10); then
    x_click "$id" "${NOTICE_VERSION[@]}"
    vid=$(x_window "$VERSION" 5) && x_centred "$vid" Form5 5970 1140
    version_stays_in_front "$id" "$NOTICE" "${NOTICE_OK[@]}"
    x_shown "$MAIN_CAPTION" && fail "main window appeared"
    x_click "$id" "${NOTICE_OK[@]}"
    expect_exit "after Ｏ　Ｋ, 了  解"
else
    missing "no argument (second run): notice did not appear"
fi

# 2. Not an archive: the other notice; its button ends with 0.
start "$WORK/x.lzs"
if id=$(x_window 'ほぐれん   Ｖｅｒｓｉｏｎ．３．５' 10); then
    ok "x.lzs shows the not-an-archive notice"
    x_centred "$id" Form10 8100 1425
    x_click "$id" "${FORM10_OK[@]}"
    expect_exit "了       解"
else
    missing "x.lzs: notice did not appear"
fi

# 3. An archive: the title card alone, then the main window about 2 s later.
QT_LOGGING_RULES="hoguren.drop.debug=true" start "$WORK/x.LZH"
t0=$(date +%s%N)
card_shown() { card=$(xdotool search --onlyvisible --pid "$PID" 2>/dev/null); }
if x_until 10 card_shown && [ "$(grep -c . <<<"$card")" = 1 ]; then
    # The card draws its own frame, 3 pixels wide, around its client area.
    x_centred "$card" title1 $((7380 + 90)) $((3990 + 90))
else
    fail "want exactly the title card visible, got: ${card:-nothing}"
fi
if id=$(x_window "$MAIN_CAPTION" 10); then
    elapsed=$((($(date +%s%N) - t0) / 1000000))
    if [ "$elapsed" -ge 1800 ] && [ "$elapsed" -lt 8000 ]; then
        ok "main window after ${elapsed} ms"
    else
        fail "main window after ${elapsed} ms, want about 2000"
    fi
    x_centred "$id" Form2 9465 5775

    # 4. The drag: released elsewhere it does nothing; the version window
    #    opened next shows that the release has been handled.
    x_drag "$id" "${FLOPPY[*]}" "${ARROW[*]}"
    x_click "$id" "${MAIN_VERSION[@]}"
    x_window "$VERSION" 5 >/dev/null && grep -q Image2_DragDrop "$WORK/stderr" &&
        fail "release over the arrow dropped"
    version_stays_in_front "$id" "$MAIN_CAPTION" "${MAIN_CANCEL[@]}"
    # Released on the drive it drops, once: the missing archive's error box
    # ends the drop's handling.
    x_drag "$id" "${FLOPPY[*]}" "6600 1200" "${DRIVE[*]}"
    if box=$(x_window "$ERROR_CAPTION" 10); then
        n=$(grep -c Image2_DragDrop "$WORK/stderr")
        [ "$n" = 1 ] && ok "press on floppy, release on drive drops" || fail "$n drops"
        x_key "$box" Return
        x_gone "$ERROR_CAPTION" || fail "the error box did not close on Return"
    else
        fail "release over the drive did not drop"
    fi
    x_click "$id" "${MAIN_CANCEL[@]}"
    expect_exit "キャンセル"
else
    missing "x.LZH: main window did not appear"
fi

# 5. The version window's front under the other window manager, whose focus
#    rules differ.
other=xfwm4
[ "$X_WM" = xfwm4 ] && other=openbox
if x_use_wm "$other"; then
    start "$WORK/x.LZH"
    if id=$(x_window "$MAIN_CAPTION" 10); then
        x_click "$id" "${MAIN_VERSION[@]}"
        version_stays_in_front "$id" "$MAIN_CAPTION" "${MAIN_CANCEL[@]}"
    else
        fail "$other: main window did not appear"
    fi
else
    echo "SKIP: $other is not installed; the version window's front is checked under $X_WM only"
fi
x_finish
