# Sourced by the end-to-end scripts that drive the real program: a private X
# server with a real window manager in it, and waits that poll windows and
# processes instead of fixed sleeps, so that a slow machine only runs longer.
#
#   x_start [TOOL...]  starts both, and a scratch folder X_WORK; skips
#                      (77) when a tool it or the script needs is missing.
#                      HOGUREN_E2E_WM=xfwm4 picks Xfwm4 over Openbox.
#
# Positions are twips of a window's client area, as in the layouts; a
# rectangle LEFT TOP WIDTH HEIGHT stands for its centre. The script may
# define cleanup(), run at exit before the program and the server are ended.
# PID is the program under test.

X_SCREEN_W=1280 X_SCREEN_H=1024
PID=
FAILS=0
_x_server= _x_wm= _x_dir= _x_other= X_WORK=

# The program's windows by caption, and the controls the scripts use.
MAIN_CAPTION='ほぐれん  Ｖｅｒｓｉｏｎ ３．５'
REPORT_CAPTION='ほぐれん３．５  解凍終了報告'
ERROR_CAPTION='エラーメッセージ'
PROGRESS_CAPTION='ほぐれん - 解凍中'
QUESTION_CAPTION='ほぐれん - 上書きの確認'
# Controls, in twips from the layouts.
FLOPPY=(1800 840 975 975) DRIVE=(7200 840 720 735) MAIN_CANCEL=(1200 4200 3375 615)
REPORT_OK=(2280 1080 2535 375)

# A screenshot as FILE in HOGUREN_E2E_SHOTS, when that is set.
x_shot() {
    [ -n "${HOGUREN_E2E_SHOTS:-}" ] && import -window root "$HOGUREN_E2E_SHOTS/$1" 2>/dev/null
    return 0
}

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
ok() { echo "ok: $*"; }
# Ends the run at once: what follows depends on what just failed.
abort() { fail "$@"; exit 1; }
x_finish() {
    if ((FAILS)); then echo "$FAILS failure(s)"; exit 1; fi
    echo PASS
}

_x_exit() {
    declare -F cleanup >/dev/null && cleanup
    # Clients first, so that none sees the server vanish under it.
    [[ -n $PID ]] && kill -CONT "$PID" 2>/dev/null && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    [[ -n $_x_other ]] && kill "$_x_other" 2>/dev/null && wait "$_x_other" 2>/dev/null
    [[ -n $_x_wm ]] && kill -- "-$_x_wm" 2>/dev/null && wait "$_x_wm" 2>/dev/null
    [[ -n $_x_server ]] && kill "$_x_server" 2>/dev/null && wait "$_x_server" 2>/dev/null
    [[ -n $_x_dir ]] && rm -rf "$_x_dir"
    [[ -n $X_WORK ]] && rm -rf "$X_WORK"
    return 0
}

# Polls COMMAND... every 0.1 s for up to LIMIT seconds: x_until LIMIT COMMAND...
x_until() {
    local end=$((SECONDS + $1)); shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

x_start() {
    local tool
    for tool in Xvfb xdotool xprop xwininfo "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    unset QT_QPA_PLATFORM  # CTest sets offscreen for the widget tests
    trap _x_exit EXIT
    trap 'exit 143' TERM INT
    _x_dir=$(mktemp -d)
    X_WORK=$(mktemp -d)
    export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$_x_dir}
    # -displayfd: the server claims a free display itself, so two runs never
    # share one. -noreset: otherwise the server resets when its last client
    # leaves, and a program started in that moment is refused.
    Xvfb -displayfd 3 -screen 0 "${X_SCREEN_W}x${X_SCREEN_H}x24" -nolisten tcp -noreset \
        3>"$_x_dir/display" >"$_x_dir/log" 2>&1 &
    _x_server=$!
    local display=
    # read fails until the whole line, newline included, is written.
    _x_display() { read -r display 2>/dev/null <"$_x_dir/display" && [[ -n $display ]]; }
    if ! x_until 10 _x_display; then
        cat "$_x_dir/log"
        abort "Xvfb did not start"
    fi
    export DISPLAY=:$display
    x_use_wm "${HOGUREN_E2E_WM:-openbox}" || { echo "SKIP: ${HOGUREN_E2E_WM:-openbox} is not installed"; exit 77; }
}

# Replaces the running window manager with openbox or xfwm4 and waits until
# it has taken the screen; 1 when that one is not installed.
x_use_wm() {
    local name=$1 cmd
    case $name in
    openbox) cmd=(openbox --sm-disable) ;;
    xfwm4) command -v dbus-run-session >/dev/null || return 1
        cmd=(dbus-run-session xfwm4 --compositor=off --sm-client-disable) ;;
    *) abort "unknown window manager $name" ;;
    esac
    command -v "$name" >/dev/null || return 1
    if [[ -n $_x_wm ]]; then
        kill -- "-$_x_wm" 2>/dev/null
        wait "$_x_wm" 2>/dev/null
    fi
    # A session of its own, so that ending it ends its helpers too.
    setsid "${cmd[@]}" >>"$_x_dir/wm.log" 2>&1 &
    _x_wm=$! X_WM=$name
    _x_wm_is() {
        local check
        check=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null) || return 1
        [[ $check == *"window id # "* ]] || return 1
        xprop -id "${check##* }" _NET_WM_NAME 2>/dev/null | grep -qi "\"$1\""
    }
    x_until 20 _x_wm_is "$name" || { cat "$_x_dir/wm.log"; abort "$name did not start"; }
}

# The window titled TITLE that shows now, if any: x_find TITLE
x_find() {
    local id re
    re=$(printf '%s' "$1" | sed 's/[][\\.*^$+?(){}|]/\\&/g')
    for id in $(xdotool search --onlyvisible --name "^$re\$" 2>/dev/null); do
        [[ $(xdotool getwindowname "$id" 2>/dev/null) == "$1" ]] && { echo "$id"; return 0; }
    done
    return 1
}
# Prints the id of the window titled TITLE once it shows: x_window TITLE [LIMIT]
x_window() { x_until "${2:-20}" x_shown "$1" && x_find "$1"; }
x_shown() { x_find "$1" >/dev/null; }
# Waits for the window titled TITLE to go: x_gone TITLE [LIMIT]
x_gone() { x_until "${2:-10}" _x_absent "$1"; }
_x_absent() { ! x_shown "$1"; }

# Pixel position, in the client area, of a twips point or rectangle's centre.
_x_px() { echo $((($1 + ${3:-0} / 2) / 15)) $((($2 + ${4:-0} / 2) / 15)); }
# x_click WIN LEFT TOP [WIDTH HEIGHT]
x_click() { xdotool mousemove --window "$1" $(_x_px "${@:2}") click 1; }
# Presses at one place, moves there with the button held and releases at the
# other: x_drag WIN "FROM..." "VIA..." "TO..." (each a twips point or rectangle).
x_drag() {
    local w=$1 from=$2 to=${*: -1} via args=()
    for via in "${@:3:$#-3}"; do args+=(mousemove --window "$w" $(_x_px $via)); done
    xdotool mousemove --window "$w" $(_x_px $from) mousedown 1 "${args[@]}" \
        mousemove --window "$w" $(_x_px $to) mouseup 1
}
# Types TEXT into the focused window. A character missing from the keymap
# gets a key of its own first: xdotool would lend it a spare key and take
# that back before a busy program had read the key's meaning, losing it.
x_type() {
    local km=$_x_dir/keymap.xkb LC_ALL=C.UTF-8 c free=() keys=
    xkbcomp -xkb "$DISPLAY" "$km" 2>/dev/null
    for c in $(sed -n 's/^ *<\(I[0-9]*\)> = [0-9]*;/\1/p' "$km"); do
        grep -q "key <$c>" "$km" || free+=("$c")
    done
    for c in $(grep -o '[^ -~]' <<<"$1" | sort -u); do
        keys+="key <${free[0]}> { [ U$(printf %04X "'$c") ] }; "
        free=("${free[@]:1}")
    done
    if [[ -n $keys ]]; then
        sed -i "/^xkb_symbols/a $keys" "$km"
        xkbcomp "$km" "$DISPLAY" 2>/dev/null
    fi
    xdotool type --delay 40 "$1"
}
# Keys go to the focused window: the window is brought to the front first.
# x_key WIN KEY...
x_key() {
    timeout 5 xdotool windowactivate --sync "$1" || fail "could not activate $(xdotool getwindowname "$1")"
    xdotool key "${@:2}"
}

# Sets X Y W H (client area) and FX FY FW FH (frame included) of WIN, in pixels.
x_geometry() {
    local info ext l=0 r=0 t=0 b=0
    info=$(xwininfo -id "$1") || return 1
    X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    W=$(sed -n 's/^ *Width: *//p' <<<"$info")
    H=$(sed -n 's/^ *Height: *//p' <<<"$info")
    ext=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null)
    [[ $ext == *=* ]] && IFS=', ' read -r l r t b <<<"${ext#*= }"
    FX=$((X - l)) FY=$((Y - t)) FW=$((W + l + r)) FH=$((H + t + b))
}
# The client area measures WIDTH x HEIGHT twips, and the frame stands in the
# middle of the screen to a pixel. Polled: the program may place the window
# again once the window manager has told it the frame's size.
# x_centred WIN LABEL WIDTH HEIGHT
x_centred() {
    _x_centred() {
        x_geometry "$1" && ((W == $2 / 15 && H == $3 / 15)) &&
            ((2 * FX - (X_SCREEN_W - FW) <= 2 && (X_SCREEN_W - FW) - 2 * FX <= 2)) &&
            ((2 * FY - (X_SCREEN_H - FH) <= 2 && (X_SCREEN_H - FH) - 2 * FY <= 2))
    }
    x_until 5 _x_centred "$1" "$3" "$4" && return 0
    fail "$2: client ${W}x$H (want $(($3 / 15))x$(($4 / 15))), frame ${FW}x$FH at $FX,$FY" \
        "(centred: $(((X_SCREEN_W - FW) / 2)),$(((X_SCREEN_H - FH) / 2)))"
    return 1
}

# True while WIN is the active window and stands above OTHER.
_x_in_front() {
    local stack active
    active=$(xdotool getactivewindow 2>/dev/null) && [[ $active == "$1" ]] || return 1
    stack=$(xprop -root _NET_CLIENT_LIST_STACKING) || return 1
    stack=$(for w in $(tr -c '0-9a-fx\n' ' ' <<<"${stack#*#}"); do printf ' %d ' "$w"; done)
    [[ $stack == *" $2 "*" $1 "* ]]
}
# WIN stays active and in front of OTHER: the window manager's reaction to the
# click before is waited out, as long as the state holds for a whole second.
# x_stays_in_front WIN OTHER LABEL
x_stays_in_front() {
    local held=0 end=$((SECONDS + 8))
    while ((held < 10 && SECONDS < end)); do
        if _x_in_front "$1" "$2"; then held=$((held + 1)); else held=0; fi
        sleep 0.1
    done
    ((held >= 10)) && return 0
    local active
    active=$(xdotool getactivewindow 2>/dev/null)
    fail "$3: active is '$(xdotool getwindowname "$active" 2>/dev/null)'," \
        "stacking $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //')," \
        "want $(printf '0x%x' "$1") active above $(printf '0x%x' "$2")"
    return 1
}

# Another program, which the user turns to: an xmessage window, started on
# first use, made the active window. Sets OTHER to its window. Needs xmessage
# (x11-utils), which x_start checks when the script names it.
x_turn_to_other_program() {
    _x_other_shown() { OTHER=$(xdotool search --onlyvisible --class xmessage 2>/dev/null | tail -n 1) && [[ -n $OTHER ]]; }
    if [[ -z $_x_other ]]; then
        xmessage -geometry 560x420+240+260 "another program" >/dev/null 2>&1 &
        _x_other=$!
    fi
    x_until 10 _x_other_shown || abort "the other program's window did not appear"
    timeout 5 xdotool windowactivate --sync "$OTHER" || fail "could not activate the other program"
}
# Whether WIN asks for attention (_NET_WM_STATE_DEMANDS_ATTENTION).
x_wants_attention() { xprop -id "$1" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_DEMANDS_ATTENTION; }
# Whether window A stands below window B.
x_below() {
    local stack
    stack=$(xprop -root _NET_CLIENT_LIST_STACKING) || return 1
    stack=$(for w in $(tr -c '0-9a-fx\n' ' ' <<<"${stack#*#}"); do printf ' %d ' "$w"; done)
    [[ $stack == *" $1 "*" $2 "* ]]
}

# True while process $1 runs. A program started through a launcher is not
# our child, and once ended may linger as a zombie nobody reaps.
x_running() { [[ -r /proc/$1/stat ]] && [[ $(sed 's/.*) //' "/proc/$1/stat" | cut -d' ' -f1) != Z ]]; }
_x_ended() { ! x_running "$1"; }
# Waits for PID to end and sets STATUS (its exit status when it is our
# child); kills it after LIMIT seconds: x_wait_exit [LIMIT]
x_wait_exit() {
    if x_until "${1:-10}" _x_ended "$PID"; then
        wait "$PID" 2>/dev/null
        STATUS=$?
    else
        STATUS="still running"
        kill "$PID" 2>/dev/null
    fi
    PID=
}
