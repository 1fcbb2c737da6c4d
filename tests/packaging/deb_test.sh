#!/usr/bin/env bash
# The Debian package of the tools, made from this build into a temporary folder.
#   deb_test.sh use BUILD VERSION ARCHS DATA
#     unpacks it into a temporary root (dpkg-deb -x, nothing is installed) and, from there, builds
#     and runs a firmware package with mkpkg for each processor in ARCHS (comma-separated; the
#     launchers must come from the package's folder), reports on logs in DATA with nicreport, and
#     syntax-checks the example playbook against the package's Ansible role
#   deb_test.sh lintian BUILD
#     fails on any lintian error or warning that the package's overrides do not explain
# Nothing is written outside the temporary folder, not even cpack's install manifest.
set -euo pipefail

mode=$1 build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/deb_test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The names in a folder, sorted, joined by blanks.
names() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' '; }

# cpack runs the build's install script, which ends by writing its manifest into the build folder:
# a copy whose manifest goes to $tmp instead.
make_deb() {
  mkdir "$tmp/proj"
  sed "s|file(WRITE \"$build/|file(WRITE \"$tmp/proj/|" "$build/cmake_install.cmake" >"$tmp/proj/cmake_install.cmake"
  grep -q "file(WRITE \"$tmp/proj/" "$tmp/proj/cmake_install.cmake" ||
    fail "no manifest line to redirect in $build/cmake_install.cmake"
  printf 'include("%s/CPackConfig.cmake")\nset(CPACK_INSTALL_CMAKE_PROJECTS "%s;zav_fwpkg;tools;/")\n' \
    "$build" "$tmp/proj" >"$tmp/cpack.cmake"
  cpack --config "$tmp/cpack.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
  deb=$(ls "$tmp"/out/zav-fwpkg-tools_*.deb)
  echo "made $(basename "$deb")"
}

if [ "$mode" = lintian ]; then
  command -v lintian >/dev/null || fail "lintian is missing; run 'make deps' (tools/install-deps.sh)"
  make_deb
  lintian --fail-on error,warning "$deb" || fail "lintian found errors or warnings above"
  echo "lintian: no errors or warnings"
  exit 0
fi

version=$3 archs=$4 data=$5
make_deb
root=$tmp/root
dpkg-deb -x "$deb" "$root"

# Control fields: the version of project(VERSION), and mkpkg's and nicreport's run-time needs.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is '$(dpkg-deb -f "$deb" Version)', not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for need in python3 libminizip1 zlib1g libstdc++6; do
  [[ ",$depends" == *", $need"* || "$depends" == "$need"* ]] || fail "Depends '$depends' lacks $need"
done

# Layout: only mkpkg and nicreport on PATH; the static programs per processor in the private folder.
[ "$(names "$root/usr/bin")" = "mkpkg nicreport " ] || fail "usr/bin holds: $(names "$root/usr/bin")"
doc=usr/share/doc/zav-fwpkg-tools
for f in usr/share/zav_fwpkg/nicreport_lib/fleet.py usr/share/ansible/roles/nic_firmware/tasks/main.yml \
         $doc/examples/rollout.yml $doc/README.md $doc/copyright $doc/changelog.gz \
         usr/share/man/man1/mkpkg.1.gz usr/share/man/man1/nicreport.1.gz usr/share/man/man1/pkgstub.1.gz \
         usr/share/man/man8/nicburn.8.gz usr/share/lintian/overrides/zav-fwpkg-tools; do
  [ -f "$root/$f" ] || fail "the package lacks $f"
done
IFS=, read -r -a arch_list <<<"$archs"
[ "$(names "$root/usr/libexec/zav_fwpkg")" = "$(printf '%s\n' "${arch_list[@]}" | sort | tr '\n' ' ')" ] ||
  fail "usr/libexec/zav_fwpkg holds $(names "$root/usr/libexec/zav_fwpkg"), the build made $archs"
for arch in "${arch_list[@]}"; do
  for p in pkgstub pkgunzip nicburn kickoff fwsim; do
    [ -x "$root/usr/libexec/zav_fwpkg/$arch/$p" ] || fail "no executable usr/libexec/zav_fwpkg/$arch/$p"
  done
done

# mkpkg from the root builds a package from a small content folder, with the launcher and unzip
# utility the package put beside it (their stripped copies differ from the build's own).
content=$tmp/content
mkdir -p "$content/image"
# shellcheck disable=SC2016 # the kickoff script expands these, not this one
printf '#!/bin/sh\necho "ran with: $*" >"$ZAV_RQ_PKG_ORIG_CURR_DIR/ran.txt"\n' >"$content/kickoff"
echo cfg >"$content/Linux_verAny_UP0_xAny.wrapcfg"
echo "package content" >"$content/image/readme.txt"
printf '%s\n' '; <per-os-class cfg clauses>' 1 "$(printf '*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg')" \
  '; <final startup config file name>' ./image/kickoff.cfg '; <startupDir>' ./image \
  '; <setupPriorStartup> <startupCmd> <defaultArgs> <argsControl>' \
  '/bin/cp kickoff.cfg kickoff64.cfg 1>/dev/null ; /bin/cp ../kickoff kickoff 1>/dev/null ; chmod +x kickoff 1>/dev/null' \
  ./kickoff '' 'override <defaultArgs> with <userArgs>' >"$tmp/boot.cfg"
for arch in "${arch_list[@]}"; do
  pkg=$tmp/pkg-$arch.bin
  "$root/usr/bin/mkpkg" build --arch "$arch" -o "$pkg" --content "$content" --bootcfg "$tmp/boot.cfg" ||
    fail "mkpkg build --arch $arch from the unpacked package"
  stub=$root/usr/libexec/zav_fwpkg/$arch/pkgstub unzip=$root/usr/libexec/zav_fwpkg/$arch/pkgunzip
  cmp -s -n "$(stat -c %s "$stub")" "$stub" "$pkg" || fail "$arch package does not start with the package's $stub"
  cmp -s -i "$(stat -c %s "$stub")":0 -n "$(stat -c %s "$unzip")" "$pkg" "$unzip" ||
    fail "$arch package does not carry the package's $unzip after its launcher"
done
# Without --arch it packs the x86_64 launcher, which every build has.
"$root/usr/bin/mkpkg" build -o "$tmp/pkg-default.bin" --content "$content" --bootcfg "$tmp/boot.cfg" >/dev/null ||
  fail "mkpkg build without --arch from the unpacked package"
cmp -s -n "$(stat -c %s "$root/usr/libexec/zav_fwpkg/x86_64/pkgstub")" "$root/usr/libexec/zav_fwpkg/x86_64/pkgstub" \
  "$tmp/pkg-default.bin" || fail "the package built without --arch does not start with the x86_64 launcher"
# The 64-bit one runs here (32-bit support may be switched off); its working folder goes in $tmp.
mkdir "$tmp/run"
(cd "$tmp" && TMPDIR=$tmp/run ./pkg-x86_64.bin hello) || fail "the x86_64 package built from the unpacked mkpkg failed"
[ "$(cat "$tmp/ran.txt")" = "ran with: hello" ] || fail "the package's kickoff did not run: $(cat "$tmp/ran.txt" 2>&1)"
[ -z "$(ls -A "$tmp/run")" ] || fail "the launcher left $(ls "$tmp/run") behind"

# nicreport from the root reads a report folder: one host updated, one failed (exit 1).
mkdir -p "$tmp/reports/web1" "$tmp/reports/db1"
cp "$data/update-ok.log" "$tmp/reports/web1/ethflash.log"
cp "$data/update-faults.log" "$tmp/reports/db1/ethflash.log"
rc=0
"$root/usr/bin/nicreport" --json "$tmp/fleet.json" --html "$tmp/fleet.html" "$tmp/reports" >"$tmp/report.out" || rc=$?
[ "$rc" = 1 ] || fail "nicreport exited $rc, not 1 (a host failed): $(cat "$tmp/report.out")"
grep -q "2 hosts: 1 ok, 1 failed" "$tmp/report.out" || fail "nicreport summary: $(cat "$tmp/report.out")"
/usr/bin/python3 -c 'import json,sys; h=json.load(open(sys.argv[1]))["hosts"]; sys.exit(sorted(x["host"] for x in h) != ["db1", "web1"])' \
  "$tmp/fleet.json" || fail "fleet.json does not list db1 and web1"
[ -s "$tmp/fleet.html" ] || fail "no fleet.html"
[ -z "$(find "$root" -name __pycache__)" ] || fail "nicreport wrote bytecode into the package's folders"

# The example playbook finds the role in the package's system roles folder, and only there.
export ANSIBLE_HOME=$tmp/ansible-home ANSIBLE_LOCAL_TEMP=$tmp/ansible-tmp XDG_CACHE_HOME=$tmp/cache
playbook=$root/$doc/examples/rollout.yml
ANSIBLE_ROLES_PATH=$root/usr/share/ansible/roles ansible-playbook --syntax-check -i localhost, "$playbook" ||
  fail "ansible-playbook --syntax-check with the package's role"
mkdir "$tmp/no-roles"
if ANSIBLE_ROLES_PATH=$tmp/no-roles ansible-playbook --syntax-check -i localhost, "$playbook" >/dev/null 2>&1; then
  fail "the playbook passed without the package's role: the check proves nothing"
fi
echo "PASS: mkpkg ($archs), nicreport and the Ansible role work from the unpacked package"
