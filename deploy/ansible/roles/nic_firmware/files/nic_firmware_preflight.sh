# shellcheck shell=sh
# Looks at a host before the nic_firmware role copies a package to it, in one round trip.
# usage: nic_firmware_preflight.sh TMP_PARENT NEED_BYTES CLEAN STATE_FILE LOCK [RECENT]
# Prints, one per line: "arch=" (uname -m), "free=" (bytes free in TMP_PARENT), "removed=" or
# "kept=" for each private folder an earlier run left in TMP_PARENT ("leftover=" when CLEAN is 0:
# nothing is removed), "record=" with the host's record of the last package applied
# (STATE_FILE, base64; empty without one) and, when NEED_BYTES is above 0 and there is room,
# "dir=" with a new private folder (mode 0700) for the package. With CLEAN 1 the record's folder
# is made (mode 0700).
# A left-over folder is kept while the update lock LOCK is held or a process works in it, or
# when it changed within the last RECENT seconds (default 0): a running update may still use it,
# and another roll-out may be copying its package into it with no process there yet.
# Exit status 0; 3 when TMP_PARENT has less than NEED_BYTES free (the copy is not made).

tmp=$1 need=$2 clean=$3 state=$4 lock=$5 recent=${6:-0}
case "$need" in ''|*[!0-9]*) echo "nic_firmware_preflight.sh: NEED_BYTES must be a number" >&2; exit 125 ;; esac
case "$recent" in ''|*[!0-9]*) echo "nic_firmware_preflight.sh: RECENT must be whole seconds" >&2; exit 125 ;; esac
now=$(date +%s)
printf 'arch=%s\n' "$(uname -m)"

# True when an update holds the lock (the lock file is never made here). Read from /proc/locks,
# so that no lock is taken: a shared lock held even briefly would make a starting update give up.
lock_held() {
    [ -f "$lock" ] && [ ! -L "$lock" ] || return 1
    if [ ! -r /proc/locks ]; then
        ! flock -n -s "$lock" true 2>/dev/null
        return
    fi
    dev=$(stat -c %d -- "$lock") && ino=$(stat -c %i -- "$lock") || return 0
    # /proc/locks names the file as major:minor:inode, the device numbers in hex.
    id=$(printf '%02x:%02x:%s' $(((dev >> 8) & 4095)) $(((dev & 255) | ((dev >> 12) & 1048320))) "$ino")
    grep -q " FLOCK .* $id " /proc/locks
}

# True when a process has its working folder or program in folder $1. The links of every
# process are read once, in one readlink (GNU: many files, one target per line).
targets='' read_targets=''
in_use() {
    if [ -z "$read_targets" ]; then
        targets=$(readlink /proc/[0-9]*/cwd /proc/[0-9]*/exe 2>/dev/null)
        read_targets=1
    fi
    printf '%s\n' "$targets" | awk -v d="$1" '$0 == d || index($0, d "/") == 1 { found = 1 } END { exit !found }'
}

busy=
lock_held && busy=1
for dir in "$tmp"/nic_firmware.*; do
    # Only real folders of this user: a link or another user's folder in /tmp is not ours.
    if [ ! -d "$dir" ] || [ -L "$dir" ] || [ ! -O "$dir" ]; then
        continue
    fi
    if [ "$clean" != 1 ]; then
        printf 'leftover=%s\n' "$dir"
    elif [ -n "$busy" ] || in_use "$dir" || [ $((now - $(stat -c %Y -- "$dir" || echo "$now"))) -lt "$recent" ]; then
        printf 'kept=%s\n' "$dir"
    elif rm -rf -- "$dir"; then
        printf 'removed=%s\n' "$dir"
    else
        printf 'kept=%s\n' "$dir"
    fi
done

free=$(df -Pk -- "$tmp" 2>/dev/null | awk 'NR == 2 { printf "%.0f\n", $4 * 1024 }')
printf 'free=%s\n' "$free"
statedir=$(dirname -- "$state")
if [ "$clean" = 1 ] && [ ! -d "$statedir" ]; then
    mkdir -m 0700 -- "$statedir"
fi
if [ -f "$state" ] && [ ! -L "$state" ]; then
    printf 'record=%s\n' "$(base64 -w0 <"$state")"
else
    printf 'record=\n'
fi
if [ -z "$free" ] || [ "$free" -lt "$need" ]; then
    exit 3
fi
if [ "$need" -gt 0 ]; then
    dir=$(mktemp -d -- "$tmp/nic_firmware.XXXXXXXXXX") || exit 125
    printf 'dir=%s\n' "$dir"
fi
exit 0
