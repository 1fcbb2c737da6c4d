#!/usr/bin/env bash
# Benchmarks that anyone can rerun (make bench): the package against its unzip floor, makeself,
# Info-ZIP unzip and tar; peak memory of the launcher and the unzip utility; nicburn's growth
# with the number of adapters. See docs/PERFORMANCE.md.
#
# usage: bench/bench.sh [--build DIR] [--sizes "1 64 512"] [--adapters "1 8 64 256"]
#                       [--work DIR] [--out FILE.md] [--smoke]
#   --build DIR     build tree holding bin/ (default: build)
#   --sizes LIST    payload sizes in MiB (default: 1 64 512)
#   --adapters LIST fwsim adapter counts for nicburn (default: 1 8 64 256)
#   --work DIR      where payloads, archives and raw results go (default: BUILD/bench); payloads
#                   and the archives made from them by other tools are kept and reused
#   --out FILE.md   the report (default: bench/results/<date>-<machine>.md); the plot is
#                   written beside it as FILE.png
#   --tmp MODE      tmpfs (default): measure with a fresh tmpfs on /tmp in a private mount
#                   namespace; disk: the machine's own /tmp. Every method extracts into /tmp
#                   (the launcher always does); repeated runs on a disk /tmp make each file
#                   creation pay for the files the runs before deleted (ext4 skips recently
#                   deleted inodes), which no single run of a package sees
#   --prepare-only  make the payloads, archives and packages, measure nothing
#   --smoke         quick run for the test suite: 1 MiB, 1 and 8 adapters, few runs; methods
#                   whose tools are missing are skipped with a message instead of failing
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=build sizes="1 64 512" adapters="1 8 64 256" work="" out="" smoke=0 prepare_only=0 tmp_mode=tmpfs
seed=14
orig_args=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --sizes) sizes=$2; shift 2 ;;
        --adapters) adapters=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --prepare-only) prepare_only=1; shift ;;
        --tmp) tmp_mode=$2; shift 2 ;;
        --smoke) smoke=1; sizes=1; adapters="1 8"; shift ;;
        *) echo "bench: unknown argument '$1'; see the usage at the top of $0" >&2; exit 2 ;;
    esac
done
build=$(cd "$build" && pwd) || { echo "bench: build tree '$build' not found; run make build first" >&2; exit 1; }
bin=$build/bin
work=${work:-$build/bench}
mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ -z "$out" ]; then
    mkdir -p "$here/results"
    out=$here/results/$(date -u +%Y-%m-%d)-$(hostname -s).md
fi
export TMPDIR=/tmp LC_ALL=C BENCH_HERE=$here BENCH_BUILD=$build BENCH_WORK=$work BENCH_OUT=$out
py=/usr/bin/python3
[ -x $py ] || py=python3

say() { echo "bench: $*" >&2; }

# A fresh tmpfs on /tmp: the script runs again inside a private mount namespace. The real /tmp
# stays reachable at /mnt there, so a checkout or build tree under /tmp is bound back.
if [ "$tmp_mode" = tmpfs ] && [ $prepare_only = 0 ] && [ "$(stat -f -c %T /tmp)" != tmpfs ]; then
    if [ -d /mnt ] && unshare -m /bin/true 2>/dev/null; then
        # shellcheck disable=SC2016 # the script is for the shell in the namespace, expanded there
        exec unshare -m /bin/bash -c '
            set -e
            mount --bind /tmp /mnt
            mount -t tmpfs -o size=75% bench_tmp /tmp
            for p in "$BENCH_HERE" "$BENCH_BUILD" "$BENCH_WORK" "$(dirname "$BENCH_OUT")"; do
                case $p in /tmp/*) top=${p#/tmp/}; top=${top%%/*}
                    if [ ! -d "/tmp/$top" ]; then mkdir "/tmp/$top"; mount --bind "/mnt/$top" "/tmp/$top"; fi ;;
                esac
            done
            exec bash "$@"' bench "$0" "${orig_args[@]}"
    fi
    say "no private mount namespace (unshare -m needs root): measuring on the machine's /tmp"
    tmp_mode=disk
fi
skipped=()
skip() { say "SKIPPED $*"; skipped+=("$*"); }

for f in pkgstub mkpkg nicburn fwsim; do
    [ -x "$bin/$f" ] || { say "'$bin/$f' is missing; build everything first (make build)"; exit 1; }
done
if ! command -v hyperfine >/dev/null; then
    if [ $smoke = 1 ]; then say "hyperfine is missing (Debian package hyperfine): nothing to time, smoke run skipped"; exit 77; fi
    say "hyperfine is missing; install it (tools/install-deps.sh lists it)"; exit 1
fi
# The package's own unzip utility as mkpkg packs it by default.
pkgunzip=""
[ -x "$build/dist/x86_64/pkgunzip" ] && pkgunzip=$build/dist/x86_64/pkgunzip
runs_for() {  # hyperfine runs per payload size
    if [ $smoke = 1 ]; then echo 3; elif [ "$1" -le 8 ]; then echo 20; elif [ "$1" -le 128 ]; then echo 10; else echo 5; fi
}

# ---- machine and load, as the report states them
{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "machine=$(hostname -s)"
    echo "cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') x $(nproc)"
    echo "memory=$(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo)"
    echo "kernel=$(uname -r)"
    echo "tmp=$(df -PT /tmp | awk 'NR==2 {print $2}')"
    echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
    echo "versions=$(hyperfine --version | head -1); $(makeself --version 2>/dev/null | head -1); $(unzip -v 2>/dev/null | head -1 | cut -d' ' -f1-2); $(tar --version | head -1)"
    echo "seed=$seed"
} >"$work/machine.txt"

# ---- payloads and the archives other tools make of them (kept: they depend only on size and seed)
bootcfg=$work/bench-bootcfg.txt
# Startup command: nothing, unless BENCH_HWM names a file for the launcher's peak memory (its
# shell's parent is the launcher).
# shellcheck disable=SC2016 # the startup command is expanded by the package's shell
printf '%s\n' '1' "*	0	*	bench.cfg" './bench.run.cfg' '.' '' \
    'test -z "$BENCH_HWM" || grep VmHWM /proc/$PPID/status >"$BENCH_HWM"' '' 'override <defaultArgs> with <userArgs>' >"$bootcfg.new"
if cmp -s "$bootcfg.new" "$bootcfg"; then rm "$bootcfg.new"; else mv "$bootcfg.new" "$bootcfg"; fi

prepare_size() {
    local mib=$1 d=$work/p$1
    if [ ! -f "$d/done" ] || [ "$(cat "$d/done")" != "seed=$seed" ]; then
        say "payload of $mib MiB (seed $seed): generating"
        rm -rf "$d" && mkdir -p "$d"
        $py "$here/genpayload.py" "$mib" "$seed" "$d/payload"
        echo "startup configuration of the benchmark package" >"$d/payload/bench.cfg"
        say "payload of $mib MiB: tar.gz and makeself archive"
        tar czf "$d/payload.tar.gz" -C "$d/payload" .
        if command -v makeself >/dev/null; then
            makeself --nox11 "$d/payload" "$d/makeself.run" bench true >/dev/null 2>&1
        fi
        echo "seed=$seed" >"$d/done"
    fi
    # Our packages are rebuilt whenever the programs that make them or go into them changed.
    local p fresh=1
    for p in "$bin/mkpkg" "$bin/pkgstub" "$build/dist/x86_64/pkgstub" "$build/dist/x86_64/pkgunzip" "$bootcfg"; do
        if [ -e "$p" ] && [ "$p" -nt "$d/pkg-pkgunzip.bin" ]; then fresh=0; fi
    done
    [ -f "$d/pkg-pkgunzip.bin" ] && [ -f "$d/image.zip" ] || fresh=0
    if [ $fresh = 1 ]; then say "payload of $mib MiB: packages up to date"; return; fi
    say "payload of $mib MiB: packages"
    rm -f "$d/pkg-pkgunzip.bin" "$d/pkg-nodigest.bin" "$d/pkg-miniunzip.bin" "$d/image.zip"
    # mkpkg's defaults: the launcher and pkgunzip of build/dist/x86_64.
    "$bin/mkpkg" build -o "$d/pkg-pkgunzip.bin" --content "$d/payload" --bootcfg "$bootcfg" >/dev/null
    rm -rf "$d/parts" && "$bin/mkpkg" extract "$d/pkg-pkgunzip.bin" "$d/parts" >/dev/null
    mv "$d/parts/2-image.zip" "$d/image.zip" && rm -rf "$d/parts"
    # The same package without its digest record: the launcher then skips the check, so the two
    # times differ by what the digest costs.
    "$py" - "$d/pkg-pkgunzip.bin" "$d/pkg-nodigest.bin" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
record = 32  # "; package digest crc32 XXXXXXXX\n", the boot configuration's last line
assert data[-16 - record:-16].startswith(b"; package digest crc32 ")
sizes = list(struct.unpack("<4I", data[-16:]))
sizes[3] -= record
open(sys.argv[2], "wb").write(data[:-16 - record] + struct.pack("<4I", *sizes))
PY
    chmod 755 "$d/pkg-nodigest.bin"
    if [ -x /usr/bin/miniunzip ]; then
        "$bin/mkpkg" build -o "$d/pkg-miniunzip.bin" --image "$d/image.zip" --bootcfg "$bootcfg" \
            --unzip /usr/bin/miniunzip >/dev/null
    fi
}

# ---- times of each extraction method, side by side (hyperfine, warm cache)
# Every method extracts the whole payload into a new folder in /tmp and removes it again, as the
# package does itself.
time_size() {
    # shellcheck disable=SC2016 # t is a command line for hyperfine's shell
    local mib=$1 d=$work/p$1 cmds=() t='d=$(mktemp -d)'
    if [ -n "$pkgunzip" ]; then
        cmds+=(-n pkg-pkgunzip "$d/pkg-pkgunzip.bin")
        cmds+=(-n pkg-nodigest "$d/pkg-nodigest.bin")
    else
        skip "package with pkgunzip: this build has no $build/dist/x86_64/pkgunzip"
    fi
    if [ -x /usr/bin/miniunzip ]; then
        cmds+=(-n pkg-miniunzip "$d/pkg-miniunzip.bin")
        cmds+=(-n floor "sh -c '$t && cp $d/image.zip \$d/ && cd \$d && miniunzip image.zip >/dev/null && cd / && rm -rf \$d'")
    else
        skip "package with miniunzip and the floor: /usr/bin/miniunzip is missing (Debian package minizip)"
    fi
    cmds+=(-n io-cp "sh -c '$t && cp $d/image.zip \$d/ && cp -r $d/payload \$d/p && rm -rf \$d'")
    if [ -x "$d/makeself.run" ]; then
        cmds+=(-n makeself "$d/makeself.run")
        cmds+=(-n makeself-nocheck "env SETUP_NOCHECK=1 $d/makeself.run")
    else
        skip "makeself: not installed (Debian package makeself)"
    fi
    if command -v unzip >/dev/null; then
        cmds+=(-n unzip "sh -c '$t && cd \$d && unzip -q $d/image.zip && cd / && rm -rf \$d'")
    else
        skip "Info-ZIP unzip: not installed (Debian package unzip)"
    fi
    cmds+=(-n tar-xzf "sh -c '$t && tar xzf $d/payload.tar.gz -C \$d && rm -rf \$d'")
    echo "load_$mib=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$work/machine.txt"
    say "timing $mib MiB: $(runs_for "$mib") runs of each method"
    (cd "$work" && hyperfine -N --style basic --warmup 1 --runs "$(runs_for "$mib")" --prepare sync \
        --export-json "$work/times-$mib.json" "${cmds[@]}" >"$work/hyperfine-$mib.txt")
}

# ---- peak resident size (KiB) of the launcher and of the unzip utilities
memory_size() {
    local mib=$1 d=$work/p$1 x
    if [ ! -x /usr/bin/time ]; then skip "peak memory: /usr/bin/time is missing (Debian package time)"; return; fi
    rm -f "$work/hwm"
    BENCH_HWM=$work/hwm "$d/pkg-pkgunzip.bin" >/dev/null
    echo "$mib pkgstub $(awk '/VmHWM/ {print $2}' "$work/hwm")" >>"$work/memory.txt"
    # Each unzip utility on the launcher's command line, in a folder of its own.
    local name prog
    for name in pkgunzip miniunzip; do
        prog=$pkgunzip
        [ $name = miniunzip ] && prog=/usr/bin/miniunzip
        if [ -z "$prog" ] || [ ! -x "$prog" ]; then continue; fi
        x=$(mktemp -d)
        cp "$d/image.zip" "$prog" "$x/"
        (cd "$x" && /usr/bin/time -f '%M' -o "$work/rss" "./$(basename "$prog")" image.zip >/dev/null)
        echo "$mib $name $(tail -1 "$work/rss")" >>"$work/memory.txt"
        rm -rf "$x"
    done
}

# ---- nicburn against N simulated adapters: -v and the update run
nicburn_runs() {
    local tool=$work/nic/tool res=$work/nic
    if ! unshare -m --pid --fork --mount-proc /bin/true 2>/dev/null; then
        skip "nicburn: no private mount and PID namespace here (unshare needs root)"
        return
    fi
    rm -rf "$res" && mkdir -p "$tool"
    "$bin/fwsim" install "$tool" >/dev/null
    for img in 1648:bc:3.38 1648:ipmi:1.3.4 1648:mba:8.3.15 163A:bc:5.2.3 163A:ipmi:1.3.4 163A:mba:4.6.4 \
               163A:ncsi:2.1.7 163A:ib:2.9.3; do
        IFS=: read -r dev comp ver <<<"$img"
        "$bin/fwsim" mkimage --component "$comp" --version "$ver" --devid "$dev" -o "$tool/$dev$comp.bin" >/dev/null
    done
    local n mode runs
    for n in $adapters; do
        # Odd adapters NetXtreme (3 components), even ones NetXtreme II (5 components).
        for ((i = 1; i <= n; i++)); do
            if ((i % 2)); then
                printf '[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:%02x:%02x:%02x\nbc = 3.29\nipmi = 1.2.3\nmba = 8.3.11\n\n' \
                    $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255))
            else
                printf '[adapter]\nfamily = NetXtreme II\ndevid = 163A\nmac = 00:10:18:%02x:%02x:%02x\nbc = 5.0.1\nipmi = 1.3.0\nmba = 4.6.0\nncsi = 2.1.0\nib = 2.9.0\n\n' \
                    $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255))
            fi
        done >"$res/fwsim-$n.conf"
        runs=3
        [ "$n" -ge 256 ] && [ $smoke = 0 ] && runs=2
        for mode in -v update; do
            local args=()
            [ $mode = -v ] && args=(-v)
            say "nicburn $mode with $n adapters: $runs runs"
            (cd "$tool" && FWSIM_CONF=$res/fwsim-$n.conf FWSIM_TRACE=$res/trace \
                unshare -m --pid --fork --mount-proc /bin/sh -c \
                'mount -t tmpfs bench_log /var/log && mount -t tmpfs -o mode=0755 bench_run /run && exec "$@"' sh \
                $py "$here/nicrun.py" "$runs" \
                "rm -rf /var/log/ZAV_Support; '$bin/fwsim' reset '$res/fwsim-$n.conf' >/dev/null" \
                -- "$bin/nicburn" "${args[@]}") | sed "s/^/$n $mode /" >>"$work/nicburn.txt"
        done
    done
}

rm -f "$work/memory.txt" "$work/nicburn.txt" "$work"/times-*.json
# Building comes first and the largest size is timed last, so that a run started as a busy
# machine calms down times the biggest payloads at its quietest.
for mib in $sizes; do prepare_size "$mib"; done
[ $prepare_only = 1 ] && exit 0
for mib in $sizes; do memory_size "$mib"; done
nicburn_runs
for mib in $sizes; do time_size "$mib"; done
echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$work/machine.txt"
printf '%s\n' "${skipped[@]}" >"$work/skipped.txt"

$py "$here/report.py" "$work" "$out" "$sizes" "$adapters"
if command -v gnuplot >/dev/null; then
    gnuplot -e "datadir='$work'; output='${out%.md}.png'" "$here/plot.gp"
    say "plot: ${out%.md}.png"
else
    skip "plot: gnuplot is missing (Debian package gnuplot-nox)"
fi
say "report: $out"
