#!/usr/bin/env bash
# make lint: the style gate that make check runs before any build.
#   C++      clang-format (14, as Debian 12 ships it) in check mode against .clang-format
#   shell    shellcheck over every shell script
#   Python   pyflakes over the report tool, the benchmarks, the role's plugins and the Python tests
# Prints each finding as FILE:LINE and ends with one line per linter that failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

# Tracked files where this is a git checkout, else everything under the tree but build folders.
files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -- "$@"
    else
        local args=() p
        for p in "$@"; do args+=(-o -path "./$p"); done
        find . \( -path './build*' -o -path './.deps' \) -prune -o -type f \( "${args[@]:1}" \) -print |
            sed 's|^\./||' | sort
    fi
}

need() {
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "lint: '$1' is missing; run make deps (tools/install-deps.sh installs it)" >&2
    exit 1
}

clang_format=clang-format-14
command -v "$clang_format" >/dev/null 2>&1 || clang_format=clang-format
need "$clang_format"
need shellcheck
need pyflakes3

failed=()
mapfile -t cpp < <(files '*.cpp' '*.h')
if [ "${#cpp[@]}" -gt 0 ] && ! "$clang_format" --dry-run -Werror "${cpp[@]}"; then
    failed+=("clang-format: reformat with: $clang_format -i FILE")
fi

mapfile -t sh < <(files '*.sh' '.ci/run')
if [ "${#sh[@]}" -gt 0 ] && ! shellcheck -f gcc "${sh[@]}"; then
    failed+=("shellcheck")
fi

mapfile -t py < <(files '*.py' 'tools/nicreport/nicreport')
if [ "${#py[@]}" -gt 0 ] && ! pyflakes3 "${py[@]}"; then
    failed+=("pyflakes")
fi

if [ "${#failed[@]}" -gt 0 ]; then
    printf 'lint: failed: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "lint: ${#cpp[@]} C++, ${#sh[@]} shell and ${#py[@]} Python files clean"
