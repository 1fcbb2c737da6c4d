# shellcheck shell=sh
# Runs a firmware package on the host for the nic_firmware role, bounded in time; the role runs
# it with /bin/sh (a copy on the host, not a program of the controller's installation).
# usage: nic_firmware_run.sh [-e] LIMIT GRACE LOG_DIR PACKAGE [ARG...]
# -e: NAME=VALUE lines on standard input are set for the package alone (the runner's own IFS,
# PATH... stay as they are). The role passes its environment so, not on
# the runner's command line, which ansible -vvv would print (proxy passwords).
# Started in the role's private folder, which becomes the package's TMPDIR parent and is where a
# package keeps its log when LOG_DIR cannot hold it.
#
# The package runs in a session of its own: its launcher puts each command in a process group
# of its own, so only the session holds all of it. LIMIT seconds after the start the launcher
# gets SIGTERM and passes it on (the vendor command in flight may finish); GRACE seconds later
# every process left in the session gets SIGKILL. Whatever of the package is left when the
# launcher ends is killed too, and its working folder is removed. All this needs the runner
# alive: a SIGKILL to the runner leaves the package without a limit.
#
# Exit status: the package's; 124 when LIMIT ran out (the last line on standard error says
# "nic_firmware: timed out after LIMIT s"); 128 + N when the runner got signal N (HUP, INT or
# TERM), after ending the package the same way; 125 when the runner itself could not start it.
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

# The pairs are checked here and set in the package's own process only (below), each with
# export "NAME=VALUE": values stay literal. They never go on a command line, where any local
# user could read them in /proc.
pairs=
if [ -n "$with_env" ]; then
    while IFS= read -r pair; do
        [ -n "$pair" ] || continue
        case "$pair" in
        [A-Za-z_]*=*) name=${pair%%=*}
            case "$name" in *[!A-Za-z0-9_]*) echo "nic_firmware_run.sh: no variable name: '$name'" >&2; exit 125 ;; esac
            # The runner's folder stays the package's TMPDIR.
            [ "$name" = TMPDIR ] || pairs="$pairs$pair
" ;;
        *) echo "nic_firmware_run.sh: environment lines are NAME=VALUE" >&2; exit 125 ;;
        esac
    done
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

# A runner told to stop (its ssh session gone, an operator's kill) ends the package as at the
# time limit, so that nothing of it runs on without one. Set before the package starts; its
# shell drops them again.
stopped=
trap 'stopped=1' HUP
trap 'stopped=2' INT
trap 'stopped=15' TERM

list_logs >"$here/logs-before"
# A background job of a shell without job control is no group leader, so setsid makes the
# session at once and keeps the process id: the session id is $!.
# The pairs are set in the background shell alone, which then becomes the package: the
# runner's own IFS and PATH stay as they are.
(
    while IFS= read -r pair; do
        [ -n "$pair" ] || continue
        # The whole NAME=VALUE word: exported as it is, never expanded again. "command": a name
        # the shell refuses (bash's UID...) fails the start (125) instead of passing for the run.
        # shellcheck disable=SC2163
        command export "$pair" || exit 125
    done <<PAIRS
$pairs
PAIRS
    exec /usr/bin/setsid "$@"
) </dev/null &
sid=$!

ticks=0
while [ -z "$stopped" ] && alive "$sid" && [ "$ticks" -lt $((limit * 5)) ]; do
    sleep 0.2
    ticks=$((ticks + 1))
done
timed_out=
if alive "$sid"; then
    [ -n "$stopped" ] || timed_out=1
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

if [ -n "$stopped" ]; then
    echo "nic_firmware: the runner was stopped by signal $stopped; the package was ended" >&2
    exit $((128 + stopped))
fi
if [ -n "$timed_out" ]; then
    echo "nic_firmware: timed out after $limit s" >&2
    exit 124
fi
exit "$status"
