# shellcheck shell=bash disable=SC2154
# Shared by dovecot-start and mailutils-start (sourced; they set "tool").

die() { echo "$tool: $*" >&2; exit 1; }

# check_args ADDR DIR: sets addr, dir (absolute, created) or exits.
check_args() {
    [ $# -eq 2 ] || die "usage: $tool ADDR DIR"
    addr=$1
    [[ $addr =~ ^127\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] ||
        die "ADDR must be an IPv4 loopback address (127.x.y.z), not '$addr'"
    local octet
    for octet in "${BASH_REMATCH[@]:1}"; do
        [ "$octet" -le 255 ] || die "bad address '$addr'"
    done
    [ "$(id -u)" -eq 0 ] || die "must run as root (the server binds port 110)"
    # The mail is read as nobody. A DIR below a folder nobody can search
    # (a checkout in /root, say) becomes a link to a fresh folder in /tmp,
    # which the stop script removes with the link.
    if [ ! -e "$2" ] && [ ! -L "$2" ]; then
        local parent
        parent=$(dirname "$2")
        mkdir -p "$parent"
        if ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$parent"; then
            local real
            real=$(mktemp -d /tmp/tolvaran-pop3-XXXXXX)
            chmod 755 "$real"
            ln -s "$real" "$2"
        fi
    fi
    mkdir -p "$2"
    dir=$(cd "$2" && pwd -P)
    case $dir in
        *[!A-Za-z0-9_./+-]*) die "DIR '$dir' has characters the config cannot take" ;;
    esac
}

# The test accounts: "user|password as a printf format|number of messages",
# optionally "|how many of them are seen" (IMAP counts only the others).
# The sjis password is "パス表" in code page 932: 83 70 83 58 95 5C.
# shellcheck disable=SC2034  # used by the scripts that source this
accounts=(
    "empty|emptypass|0"
    "three|threepass|3"
    "twelve|twelvepass|12"
    'sjis|\x83\x70\x83\x58\x95\x5c|1'
    "nopass||2"
    "demo|demo|3"
    "five|fivepass|5|2"
)

# make_maildir PATH USER COUNT [SEEN]: a maildir with COUNT messages, the
# first SEEN of them read (in cur/ with the Seen flag), the others in new/.
make_maildir() {
    local path=$1 user=$2 count=$3 seen=${4:-0} i file
    mkdir -p "$path/new" "$path/cur" "$path/tmp"
    for ((i = 1; i <= count; i++)); do
        # maildir name: <time>.<unique part>.<host>[:2,<flags>]
        file=new/$((1704103200 + i * 60)).M${i}Q${user}.tolvaran
        [ "$i" -gt "$seen" ] || file=cur/${file#new/}:2,S
        {
            printf 'Return-Path: <sender@tolvaran.test>\n'
            printf 'Message-ID: <%s-%d@tolvaran.test>\n' "$user" "$i"
            printf 'Date: Mon, %02d Jan 2024 10:%02d:00 +0000\n' "$i" "$i"
            printf 'From: Test Sender <sender@tolvaran.test>\n'
            printf 'To: %s <%s@tolvaran.test>\n' "$user" "$user"
            printf 'Subject: Test message %d of %d for %s\n' "$i" "$count" "$user"
            printf 'MIME-Version: 1.0\n'
            printf 'Content-Type: text/plain; charset=us-ascii\n'
            printf '\n'
            printf 'This is test message %d of %d for %s.\n' "$i" "$count" "$user"
        } >"$path/$file"
    done
}

# check_reachable PATH: the mail is read as nobody, who must reach PATH.
check_reachable() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$1" ||
        die "user nobody cannot reach $1; use a DIR whose parents are searchable by others (mode o+x)"
}

# start_server PIDFILE STDOUT STDERR COMMAND...: runs COMMAND in the
# background, in its own session, with stdin from /dev/null and stdout and
# stderr appended to files (the caller's pipes are not kept open, or CTest
# would wait for them).  Sets server_pid.  Without job control the
# background child is not a process group leader, so setsid execs the
# server in place: $! is the server itself.
start_server() {
    local pidfile=$1 out=$2 err=$3
    shift 3
    setsid "$@" </dev/null >>"$out" 2>>"$err" &
    server_pid=$!
    echo "$server_pid" >"$pidfile"
}

# port_in_use: true if something already accepts connections on ADDR:110.
port_in_use() {
    (exec 3<>"/dev/tcp/$addr/110") 2>/dev/null
}

# greeting_ok LINE: the start script may redefine this to make sure the
# greeting comes from the server it started.
greeting_ok() { true; }

# probe: true once ADDR:110 greets with "+OK" (and greeting_ok agrees);
# logs out with QUIT and waits until the server has closed the connection.
probe() {
    local line='' ok=1
    exec 3<>"/dev/tcp/$addr/110" || return 1
    if read -r -t 2 line <&3 && [[ $line == +OK* ]]; then
        greeting_ok "$line" && ok=0
        printf 'QUIT\r\n' >&3
        read -r -t 2 line <&3 || true
        while read -r -t 2 line <&3; do :; done
    fi
    exec 3<&- 3>&-
    return $ok
}

# wait_ready TIMEOUT STOPPER LOG...: waits for the greeting; on failure
# prints the tails of the logs, stops the server and exits 1.
wait_ready() {
    local timeout_s=$1 stopper=$2 deadline f
    shift 2
    deadline=$((SECONDS + timeout_s))
    until kill -0 "$server_pid" 2>/dev/null && probe 2>/dev/null; do
        if ! kill -0 "$server_pid" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            if kill -0 "$server_pid" 2>/dev/null; then
                echo "$tool: no +OK greeting on $addr:110 after ${timeout_s}s" >&2
            else
                echo "$tool: the server exited during startup" >&2
            fi
            for f in "$@"; do
                if [ -s "$f" ]; then
                    echo "--- tail of $f" >&2
                    tail -n 20 "$f" >&2
                fi
            done
            "$stopper" "$dir" >/dev/null 2>&1 || true
            exit 1
        fi
        sleep 0.1
    done
}
