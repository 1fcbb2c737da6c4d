#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# The one list of packages for README, CI and the demo: add new needs here.
# Runs apt-get (update once, then install) only when something is missing. The static 32-bit
# programs need Debian's i386 libraries (multiarch): the i386 architecture is added first.
set -euo pipefail

native=$(dpkg --print-architecture)

packages=(
  # build
  g++ make cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev:$native libminizip-dev:$native nlohmann-json3-dev
  # static builds of the programs a package carries, for 32-bit x86 and x86-64
  g++-multilib zlib1g-dev:i386 libminizip-dev:i386
  # run time: the unzip utility a package carries, the system unzip of the ppc64 path,
  # the library the upload service loads
  minizip unzip zip libcurl4
  # tests: FTP server for the upload service, namespaces, fuzzing and sanitizers
  python3 python3-pyftpdlib util-linux procps busybox-static
  clang libclang-rt-14-dev
  # roll-out across a fleet: Ansible, its linter, sshd hosts for the fleet test, headless
  # browser for the report page's test
  ansible-core ansible-lint openssh-server openssh-client chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} Debian packages present"
  exit 0
fi

echo "install-deps: installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "install-deps: not root and no sudo; install these packages and run again: ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture (dpkg --add-architecture i386)"
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
