#!/usr/bin/env bash
# Runs bench/bench.sh --smoke in a private mount namespace whose /tmp is a fresh tmpfs (the package
# and the other methods extract there), then checks the report and that nothing was left in /tmp.
# usage: smoke.sh SOURCE_DIR BUILD_DIR WORK_DIR
# Exit 77 (skipped) where a private mount namespace is not allowed or hyperfine is missing.
set -euo pipefail
src=$1 build=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
if ! unshare -m /bin/true 2>/dev/null; then
    echo "bench smoke: skipped: no private mount namespace here (unshare -m needs root)"
    exit 77
fi
if [ ! -d /mnt ]; then echo "bench smoke: skipped: no /mnt to hold the real /tmp"; exit 77; fi

# In the namespace: the real /tmp stays reachable at /mnt, so a checkout or build tree under /tmp
# is bound back into the new tmpfs.
# shellcheck disable=SC2016 # expanded by the shell in the namespace
script='
set -e
mount --bind /tmp /mnt
mount -t tmpfs bench_smoke_tmp /tmp
bound=" "
for p in "$SRC" "$BUILD" "$WORK"; do
    case $p in /tmp/*) top=${p#/tmp/}; top=${top%%/*}
        if [ ! -d "/tmp/$top" ]; then mkdir "/tmp/$top"; mount --bind "/mnt/$top" "/tmp/$top"; bound="$bound$top "; fi ;;
    esac
done
set +e
bash "$SRC/bench/bench.sh" --smoke --build "$BUILD" --work "$WORK" --out "$WORK/report.md"
rc=$?
ls -A /tmp | while read -r f; do
    case "$bound" in *" $f "*) ;; *) echo "$f" ;; esac
done >"$WORK/left-in-tmp"
exit $rc
'
set +e
SRC=$src BUILD=$build WORK=$work unshare -m /bin/sh -c "$script"
rc=$?
set -e
[ $rc -eq 77 ] && exit 77
fail() { echo "bench smoke: FAILED: $*" >&2; exit 1; }
[ $rc -eq 0 ] || fail "bench.sh exited with $rc"
report=$work/report.md
[ -s "$report" ] || fail "no report at $report"
cat "$report"
[ ! -s "$work/left-in-tmp" ] || fail "left in /tmp after the runs: $(tr '\n' ' ' <"$work/left-in-tmp")"
# A number in the floor's row, the launcher's memory, both nicburn modes at 8 adapters with status 0.
if [ -x /usr/bin/miniunzip ]; then
    grep -Eq '^\| floor: copy the zip out, then miniunzip \| [0-9.]+ \| [0-9.]+–[0-9.]+ \| 1\.00 ' "$report" ||
        fail "no time for the floor in the report"
fi
if [ -x /usr/bin/time ]; then grep -Eq '^\| pkgstub \| [0-9]+ \|' "$report" || fail "no peak memory of pkgstub in the report"; fi
for mode in -v update; do
    grep -Eq "^\| $mode \| 8 \| 3 \| [0-9.]+ \| [0-9.]+ \| [1-9][0-9]* \| [1-9][0-9]* \|.*\| 0 \|\$" "$report" ||
        fail "no successful nicburn $mode run with 8 adapters in the report"
done
echo "bench smoke: passed"
