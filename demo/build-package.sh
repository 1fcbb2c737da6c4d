#!/usr/bin/env bash
# Assembles the demo package's content from the built programs and builds the package with mkpkg.
# usage: build-package.sh BIN_DIR DEMO_SOURCE_DIR SCENARIO_FILE OUTPUT_PACKAGE
#
# Content, as the boot configuration expects it:
#   Linux_verAny_UP0_xAny.wrapcfg   kickoff's configuration (copied to image/kickoff.cfg)
#   kickoff                         the package's wrapper program (copied into image/)
#   image/install.sh                picks the processor folder and runs ./nicburn
#   image/x86/, image/x86_64/       nicburn, fwsim (the vendor utilities), fwsim.conf, images
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 BIN_DIR DEMO_SOURCE_DIR SCENARIO_FILE OUTPUT_PACKAGE" >&2
    exit 2
fi
bin=$1 src=$2 scenario=$3 out=$4

for f in pkgstub mkpkg nicburn fwsim kickoff; do
    [ -x "$bin/$f" ] || { echo "build-package: '$bin/$f' is missing; build everything first (cmake --build build)" >&2; exit 1; }
done

mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$out.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

cp "$src/boot/Linux_verAny_UP0_xAny.wrapcfg" "$stage/"
cp "$bin/kickoff" "$stage/kickoff"
mkdir "$stage/image"
cp "$src/image/install.sh" "$stage/image/install.sh"

# This build has one processor's programs; both folders carry them, as the package layout wants.
for arch in x86 x86_64; do
    dir=$stage/image/$arch
    mkdir "$dir"
    cp "$bin/nicburn" "$bin/fwsim" "$dir/"
    cp "$scenario" "$dir/fwsim.conf"
    while read -r prefix rest; do
        case "$prefix" in ''|'#'*) continue ;; esac
        devid=()
        case "$prefix" in 03[CS]) ;; *) devid=(--devid "$prefix") ;; esac
        for pair in $rest; do
            "$bin/fwsim" mkimage --component "${pair%%=*}" --version "${pair#*=}" "${devid[@]}" \
                -o "$dir/$prefix${pair%%=*}.bin" >/dev/null
        done
    done < "$src/images.txt"
done

"$bin/mkpkg" build -o "$out" --content "$stage" --bootcfg "$src/boot/bootcfg.txt" --launcher "$bin/pkgstub"
