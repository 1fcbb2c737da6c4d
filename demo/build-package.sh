#!/usr/bin/env bash
# Assembles the demo package's content from the built programs and builds the package with mkpkg.
# usage: build-package.sh BIN_DIR DEMO_SOURCE_DIR SCENARIO_FILE OUTPUT_PACKAGE [ARCH]
#
# ARCH (x86_64, the default, or i386) picks the launcher, unzip utility and kickoff. The programs
# come from the static builds in BIN_DIR/../dist/ARCH; the x86 folder is carried only when the i386
# programs were built. A build without static programs (the sanitizer build) packs its own
# programs from BIN_DIR into x86_64/.
#
# Content, as the boot configuration expects it:
#   Linux_verAny_UP0_xAny.wrapcfg   kickoff's configuration (copied to image/kickoff.cfg)
#   kickoff                         the package's wrapper program (copied into image/)
#   image/install.sh                picks the processor folder and runs ./nicburn
#   image/x86_64/, image/x86/       nicburn, fwsim (the vendor utilities), fwsim.conf, images;
#                                   x86_64 holds the x86-64 programs, x86 the i386 ones
set -euo pipefail

if [ $# -ne 4 ] && [ $# -ne 5 ]; then
    echo "usage: $0 BIN_DIR DEMO_SOURCE_DIR SCENARIO_FILE OUTPUT_PACKAGE [ARCH]" >&2
    exit 2
fi
bin=$1 src=$2 scenario=$3 out=$4 arch=${5:-x86_64}
case "$arch" in i386|x86_64) ;; *) echo "build-package: unknown ARCH '$arch'; give x86_64 or i386" >&2; exit 2 ;; esac

dist=$bin/../dist
folders=(x86_64)
if [ -d "$dist/x86_64" ]; then
    programs() { case "$1" in x86) echo "$dist/i386" ;; *) echo "$dist/$1" ;; esac; }
    [ -d "$dist/i386" ] && folders+=(x86)
    mkpkg_arch=(--arch "$arch")
else
    programs() { echo "$bin"; }
    mkpkg_arch=()
fi
if [ "$arch" = i386 ] && [[ ! " ${folders[*]} " =~ " x86 " ]]; then
    echo "build-package: no i386 programs in '$dist/i386'; install their libraries (make deps) and build again" >&2
    exit 1
fi
for folder in "${folders[@]}"; do
    for f in nicburn fwsim kickoff; do
        [ -x "$(programs "$folder")/$f" ] || { echo "build-package: '$(programs "$folder")/$f' is missing; build everything first (cmake --build build)" >&2; exit 1; }
    done
done

for f in pkgstub mkpkg nicburn fwsim kickoff; do
    [ -x "$bin/$f" ] || { echo "build-package: '$bin/$f' is missing; build everything first (cmake --build build)" >&2; exit 1; }
done

mkdir -p "$(dirname "$out")"
stage=$(mktemp -d "$out.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

cp "$src/boot/Linux_verAny_UP0_xAny.wrapcfg" "$stage/"
case "$arch" in i386) cp "$(programs x86)/kickoff" "$stage/kickoff" ;; *) cp "$(programs x86_64)/kickoff" "$stage/kickoff" ;; esac
mkdir "$stage/image"
cp "$src/image/install.sh" "$stage/image/install.sh"

for folder in "${folders[@]}"; do
    dir=$stage/image/$folder
    mkdir "$dir"
    cp "$(programs "$folder")/nicburn" "$(programs "$folder")/fwsim" "$dir/"
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

"$bin/mkpkg" build -o "$out" --content "$stage" --bootcfg "$src/boot/bootcfg.txt" "${mkpkg_arch[@]}"
