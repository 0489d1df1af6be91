# shellcheck shell=bash disable=SC2154
# Stopping a server started by dovecot-start or mailutils-start.
# Sourced by dovecot-stop and mailutils-stop, which set:
#   tool     name for messages ("dovecot-stop")
#   pidfile  DIR/NAME.pid, written by the start script
#   conf     DIR/NAME.conf, which the server's command line names
#   childre  extended regex matching the command lines of its children
# and then call stop_server.  Only the recorded pid and processes that were
# its descendants (still matching childre) are ever signalled.

# state of PID ("R", "S", "Z" ...), empty if there is no such process
proc_state() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    echo "${stat%% *}"
}

# True while PID is alive (not a zombie) and is the server that reads
# $conf, so a pid that was reused by some other process is never signalled.
server_alive() {
    local cmd state
    cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$1/cmdline") || return 1
    state=$(proc_state "$1")
    [ -n "$state" ] && [ "$state" != Z ] && [[ $cmd == *"$conf"* ]]
}

# True while PID is alive and its command line matches childre.
child_alive() {
    local cmd state
    cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$1/cmdline") || return 1
    state=$(proc_state "$1")
    [ -n "$state" ] && [ "$state" != Z ] && [[ $cmd =~ $childre ]]
}

# Pids of the descendants of PID.
descendants_of() {
    local p stat ppid
    for p in /proc/[0-9]*; do
        stat=$(cat "$p/stat" 2>/dev/null) || continue
        stat=${stat##*) }
        ppid=${stat#* }
        ppid=${ppid%% *}
        if [ "$ppid" = "$1" ]; then
            echo "${p#/proc/}"
            descendants_of "${p#/proc/}"
        fi
    done
}

# wait_gone TENTHS PID...: waits until none of the PIDs is alive.
wait_gone() {
    local tenths=$1 i p any
    shift
    for ((i = 0; i < tenths; i++)); do
        any=no
        for p in "$@"; do
            if child_alive "$p"; then any=yes; break; fi
        done
        [ $any = no ] && return 0
        sleep 0.1
    done
    return 1
}

stop_server() {
    local pid kids i k left
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    if [[ $pid =~ ^[0-9]+$ ]] && server_alive "$pid"; then
        kids=$(descendants_of "$pid")
        kill -TERM "$pid" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do
            server_alive "$pid" || break
            [ $((i % 10)) -eq 9 ] && kids="$kids $(descendants_of "$pid")"
            sleep 0.1
        done
        if server_alive "$pid"; then
            echo "$tool: pid $pid still running after 5 s, killing it" >&2
            kids="$kids $(descendants_of "$pid")"
            kill -KILL "$pid" 2>/dev/null || true
            for ((i = 0; i < 50; i++)); do
                server_alive "$pid" || break
                sleep 0.1
            done
            if server_alive "$pid"; then
                echo "$tool: pid $pid did not go away" >&2
                return 1
            fi
        fi
        # The children exit on their own once the master is gone; give them
        # 5 s, then KILL the ones that are left.
        # shellcheck disable=SC2086
        if ! wait_gone 50 $kids; then
            left=
            for k in $kids; do
                if child_alive "$k"; then
                    kill -KILL "$k" 2>/dev/null || true
                    left="$left $k"
                fi
            done
            echo "$tool: killed processes left by pid $pid:$left" >&2
            # shellcheck disable=SC2086
            if ! wait_gone 50 $left; then
                echo "$tool: processes left by pid $pid did not go away" >&2
                return 1
            fi
        fi
    fi
    rm -f "$pidfile"
}
