#!/usr/bin/env bash
# make demo: runs the demo firmware package as an administrator would, as root, with the given
# arguments, and exits with the package's status.
# usage: run-demo.sh BUILD_DIR [SCENARIO] [ARGS...]   (SCENARIO: default or faults)
set -uo pipefail
build=${1:-build}
scenario=${2:-default}
shift 2 2>/dev/null || shift $#

case "$scenario" in
    ''|default) pkg=$build/demo/nicfw_demo.bin ;;
    *)          pkg=$build/demo/nicfw_demo_$scenario.bin ;;
esac
if [ ! -f "$pkg" ]; then
    echo "make demo: no package '$pkg'; scenarios are: default, faults (make demo SCENARIO=faults)" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "make demo: the package runs as root (it logs to /var/log/ZAV_Support/); run: sudo make demo" >&2
    exit 1
fi

echo "make demo: running ./$(basename "$pkg") $* (in $(dirname "$pkg"))"
echo
cd "$(dirname "$pkg")" || exit 1
"./$(basename "$pkg")" "$@"
status=$?
echo
echo "make demo: the package exited with status $status"
exit $status
