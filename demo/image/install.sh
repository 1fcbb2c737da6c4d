#!/bin/sh
# Runs the Ethernet firmware update tool built for this processor, from that processor's folder,
# and exits with its status. Started by kickoff with the user's arguments.
cd "$(dirname "$0")" || exit 1

case "$(uname -m)" in
    x86_64|amd64) arch=x86_64 ;;
    i?86)         arch=x86 ;;
    *)
        echo "install.sh: no update tool for processor '$(uname -m)' in this package" >&2
        exit 1
        ;;
esac
if [ ! -d "$arch" ]; then
    echo "install.sh: this package carries no update tool for processor '$(uname -m)'; use the package built for it" >&2
    exit 1
fi
cd "$arch" || exit 1

# The vendor utilities of both adapter families are one program under two names; unzipping does
# not keep file modes, so make the programs executable again.
chmod 0755 nicburn fwsim || exit 1
ln -sf fwsim lnxfwupg || exit 1
ln -sf fwsim lnxfwnx2 || exit 1

# exec: nicburn takes the shell's place, so signals reach it and its status is the script's.
# Unquoted on purpose: quoted, an absent argument becomes an empty one and nicburn calls every
# plain run incorrect usage.
# shellcheck disable=SC2086
exec ./nicburn $1 $2
