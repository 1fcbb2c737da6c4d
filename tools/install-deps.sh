#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# The one list of packages for README, CI and the demo: add new needs here.
#
# Only packages of the machine's own architecture are installed, and no foreign architecture is
# added to dpkg: multiarch needs both architectures' indexes in step, which a mirror in sync
# breaks. The static i386 programs (optional) link gcc's multilib libraries, lib32z1-dev's zlib and
# a 32-bit static minizip, which is downloaded with a private apt configuration and unpacked into
# .deps/i386 (git-ignored, kept by make clean). Without it the build leaves the i386 programs out.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps_i386=$root/.deps/i386
minizip_i386=$deps_i386/usr/lib/i386-linux-gnu/libminizip.a

packages=(
  # build
  g++ make cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libminizip-dev nlohmann-json3-dev
  # static 32-bit builds of the programs a package carries (optional): gcc's 32-bit C and C++
  # libraries, a 32-bit zlib in /usr/lib32; apt fetches the 32-bit minizip (below)
  g++-multilib lib32z1-dev
  # run time: the unzip utility a package carries, the system unzip of the ppc64 path,
  # the library the upload service loads
  minizip unzip zip libcurl4
  # tests: FTP server for the upload service, namespaces, fuzzing and sanitizers
  python3 python3-pyftpdlib util-linux procps busybox-static
  clang libclang-rt-14-dev
  # roll-out across a fleet: Ansible, its linter, sshd hosts for the fleet test, headless
  # browser for the report page's test
  ansible-core ansible-lint openssh-server openssh-client chromium
  # package signatures (Ed25519) checked by the roll-out on the controller
  openssl
  # benchmarks (make bench; its smoke run is part of the tests)
  hyperfine makeself gnuplot-nox time
  # style gate (make lint)
  clang-format shellcheck python3-pyflakes
  # the Debian package of the tools (make package: cpack's DEB generator runs dpkg-shlibdeps
  # from dpkg-dev and file) and its lintian check
  dpkg-dev file lintian
)

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else SUDO=; fi
else
  SUDO=
fi
need_root() {
  if [ "$(id -u)" -ne 0 ] && [ -z "$SUDO" ]; then
    echo "install-deps: not root and no sudo; $1" >&2
    exit 1
  fi
}

# apt-get update, three tries a few seconds apart. An index that still fails is named in one
# warning: the install goes on and fails only if a package it needs cannot be had.
# usage: apt_update [apt-get options...]
apt_update() {
  local out try
  for try in 1 2 3; do
    if out=$($SUDO apt-get "$@" update 2>&1) && ! grep -q '^[EW]: Failed to fetch' <<<"$out"; then
      return 0
    fi
    [ $try -lt 3 ] && sleep 5
  done
  local failed
  failed=$(grep -o '^[EW]: Failed to fetch [^ ]*' <<<"$out" | sed 's/^[EW]: Failed to fetch //' | tr '\n' ' ')
  echo "install-deps: warning: apt-get update failed 3 times for: ${failed:-(see below)}; going on with the indexes that were read" >&2
  [ -n "$failed" ] || echo "$out" | tail -5 >&2
  return 0
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} Debian packages present"
else
  need_root "install these packages and run again: ${missing[*]}"
  echo "install-deps: installing: ${missing[*]}"
  apt_update -qq
  if ! $SUDO apt-get install -y -qq "${missing[@]}"; then
    still=()
    for p in "${missing[@]}"; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || still+=("$p")
    done
    echo "install-deps: could not install: ${still[*]}. Check the apt sources (apt-get update's messages above)," \
         "then run 'make deps' again; 'apt-get install ${still[*]}' shows why each one fails." >&2
    exit 1
  fi
fi

# The 32-bit static minizip: downloaded (never installed) with apt configured for i386 alone, in
# lists and caches of its own, so neither dpkg's architectures nor the system's indexes change.
if [ -f "$minizip_i386" ]; then
  echo "install-deps: 32-bit minizip present ($minizip_i386)"
  exit 0
fi
priv=$(mktemp -d "${TMPDIR:-/tmp}/install-deps.XXXXXX")
trap 'rm -rf "$priv"' EXIT
mkdir -p "$priv/lists/partial" "$priv/cache/archives/partial" "$priv/deb"
# The folder stays private (mktemp's 0700): apt downloads as the invoking user instead of its
# sandbox user, so no other user can swap the archive before it is unpacked.
apt_i386=(-o APT::Sandbox::User="$(id -un)" -o APT::Architecture=i386 -o APT::Architectures::=i386
          -o Dir::State::Lists="$priv/lists" -o Dir::Cache="$priv/cache"
          -o Dir::State::status=/dev/null -o Debug::NoLocking=1)
echo "install-deps: fetching the 32-bit minizip for the i386 package programs into $deps_i386"
apt_update "${apt_i386[@]}"
if (cd "$priv/deb" && apt-get "${apt_i386[@]}" download libminizip-dev:i386 >"$priv/download.log" 2>&1) &&
   deb=$(ls "$priv"/deb/libminizip-dev_*_i386.deb 2>/dev/null) && [ -n "$deb" ]; then
  rm -rf "$deps_i386" && mkdir -p "$deps_i386"
  dpkg-deb -x "$deb" "$deps_i386"
  echo "install-deps: 32-bit minizip unpacked from $(basename "$deb")"
else
  echo "install-deps: warning: could not download libminizip-dev:i386 ($(tail -1 "$priv/download.log"));" \
       "the build leaves the i386 package programs out. Run 'make deps' again when the package archive is reachable." >&2
fi
