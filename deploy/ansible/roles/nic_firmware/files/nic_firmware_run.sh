# shellcheck shell=sh
# Runs a firmware package on the host for the nic_firmware role, bounded in time; the role runs
# it with /bin/sh (a copy on the host, not a program of the controller's installation).
# usage: nic_firmware_run.sh [-e] LIMIT GRACE LOG_DIR PACKAGE [ARG...]
# -e: NAME=VALUE lines on standard input are set for the package alone (through env, so that
# the runner's own IFS, PATH... stay as they are). The role passes its environment so, not on
# the runner's command line, which ansible -vvv would print (proxy passwords).
# Started in the role's private folder, which becomes the package's TMPDIR parent and is where a
# package keeps its log when LOG_DIR cannot hold it.
#
# The package runs in a session of its own: its launcher puts each command in a process group
# of its own, so only the session holds all of it. LIMIT seconds after the start the launcher
# gets SIGTERM and passes it on (the vendor command in flight may finish); GRACE seconds later
# every process left in the session gets SIGKILL. Whatever of the package is left when the
# launcher ends is killed too, and its working folder is removed.
#
# Exit status: the package's; 124 when LIMIT ran out (the last line on standard error says
# "nic_firmware: timed out after LIMIT s"); 125 when the runner itself could not start it.
# The logs that appeared in LOG_DIR or the private folder during the run are listed, one per
# line, in the file "new-logs" of the private folder.

with_env=
if [ "$1" = -e ]; then
    with_env=1
    shift
fi
limit=$1 grace=$2 logdir=$3
# Whole seconds only: anything else would leave the package without a time limit.
case "$limit$grace" in ''|*[!0-9]*) echo "nic_firmware_run.sh: LIMIT and GRACE must be whole seconds" >&2; exit 125 ;; esac
shift 3
here=$(pwd) || exit 125
TMPDIR=$here/tmp
export TMPDIR

# The command becomes: env NAME=VALUE... TMPDIR=... PACKAGE [ARG...]. The pairs are appended
# after the command, then the command's words are rotated behind them (no eval: values stay
# literal). TMPDIR comes last, so the runner's folder wins as before.
if [ -n "$with_env" ]; then
    words=$#
    while IFS= read -r pair; do
        [ -n "$pair" ] || continue
        case "$pair" in
        [A-Za-z_]*=*) name=${pair%%=*}
            case "$name" in *[!A-Za-z0-9_]*) echo "nic_firmware_run.sh: no variable name: '$name'" >&2; exit 125 ;; esac
            set -- "$@" "$pair" ;;
        *) echo "nic_firmware_run.sh: environment lines are NAME=VALUE" >&2; exit 125 ;;
        esac
    done
    set -- "$@" "TMPDIR=$TMPDIR"
    # env would take a command with "=" in its name for one more pair.
    # shellcheck disable=SC2016
    case "$1" in *=*) set -- "$@" /bin/sh -c 'exec "$0" "$@"' ;; esac
    while [ "$words" -gt 0 ]; do
        set -- "$@" "$1"
        shift
        words=$((words - 1))
    done
    set -- env "$@"
fi
mkdir "$TMPDIR" || exit 125

# The firmware logs of both folders, one per line.
list_logs() {
    for log in "$logdir"/ethflash*.log "$here"/ethflash*.log; do
        [ -f "$log" ] && printf '%s\n' "$log"
    done
}

# Ids of the live processes of session $sid (zombies left out).
members() {
    for stat in /proc/[0-9]*/stat; do
        read -r line 2>/dev/null <"$stat" || continue
        # After the command name (in parentheses, any text): state ppid pgrp session ...
        # shellcheck disable=SC2086
        set -- ${line##*) }
        if [ "$4" = "$sid" ] && [ "$1" != Z ]; then
            pid=${stat#/proc/}
            printf '%s ' "${pid%/stat}"
        fi
    done
}

alive() {
    read -r line 2>/dev/null <"/proc/$1/stat" || return 1
    # shellcheck disable=SC2086
    set -- ${line##*) }
    [ "$1" != Z ]
}

list_logs >"$here/logs-before"
# A background job of a shell without job control is no group leader, so setsid makes the
# session at once and keeps the process id: the session id is $!.
setsid "$@" </dev/null &
sid=$!

ticks=0
while alive "$sid" && [ "$ticks" -lt $((limit * 5)) ]; do
    sleep 0.2
    ticks=$((ticks + 1))
done
timed_out=
if alive "$sid"; then
    timed_out=1
    kill -TERM "$sid" 2>/dev/null
    ticks=0
    while [ -n "$(members)" ] && [ "$ticks" -lt $((grace * 5)) ]; do
        sleep 0.2
        ticks=$((ticks + 1))
    done
fi
left=$(members)
# shellcheck disable=SC2086
[ -n "$left" ] && kill -KILL $left 2>/dev/null
wait "$sid" 2>/dev/null
status=$?
rm -rf "$TMPDIR"

list_logs | while read -r log; do
    grep -Fqx -- "$log" "$here/logs-before" || printf '%s\n' "$log"
done >"$here/new-logs"
rm -f "$here/logs-before"

if [ -n "$timed_out" ]; then
    echo "nic_firmware: timed out after $limit s" >&2
    exit 124
fi
exit "$status"
