#!/usr/bin/python3
"""Writes the fuzz targets' seed corpora into corpus/<target>/ next to this script, and the
inputs of faults found by fuzzing into regressions/<target>/.

Run it again after changing a seed below; the files it writes are committed."""
import io
import os
import struct
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))

SHIPPED_BOOTCFG = (
    b"; <per-os-class cfg clauses>\n"
    b"1\n"
    b"*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg\n"
    b"; <final startup config file name>\n"
    b"./image/kickoff.cfg\n"
    b"; <startupDir>\n"
    b"./image\n"
    b"; <setupPriorStartup> <startupCmd> <defaultArgs> <argsControl>\n"
    b"/bin/cp kickoff.cfg kickoff64.cfg 1>/dev/null ; /bin/cp ../kickoff kickoff 1>/dev/null ; "
    b"chmod +x kickoff 1>/dev/null\n"
    b"./kickoff\n"
    b"\n"
    b"override <defaultArgs> with <userArgs>\n"
)

MULTI_BOOTCFG = (
    b"; <per-os-class cfg clauses>\n"
    b"4\n"
    b"RHEL4\t2\tx86\tr4.wrapcfg\n"
    b"; SuSE next\n"
    b"SLES10\t0\tx64\ts10.wrapcfg\n"
    b"SLES9\t0\tx86\t\ts9.wrapcfg\n"
    b"*\t*\t*\tall.wrapcfg\n"
    b"; <final startup config file name>\n"
    b"./image/kickoff.cfg\n"
    b"./image\n"
    b"\n"
    b"./install.sh\n"
    b"-q\n"
    b"append <userArgs> to <defaultArgs>\n"
)

# System facts header of the launcher targets: distribution, release, update, processor.
RH4 = bytes([1, 4, 4, 1])
SU10 = bytes([2, 10, 0, 2])
NL9 = bytes([3, 9, 0, 1])
UN = bytes([4, 0, 0, 4])
DEBUG = 0x80


def write(target, name, data, kind="corpus"):
    folder = os.path.join(HERE, kind, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def args(*words):
    return b"\x00\xff" + b"\x00".join(words)


def tiny_zip():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        # A fixed date keeps the seed the same from one run of this script to the next.
        for name, text in (("Linux_verAny_UP0_xAny.wrapcfg", "./install.sh\n"),
                           ("image/install.sh", "#!/bin/sh\ncd x86 && ./nicburn $1 $2\n")):
            z.writestr(zipfile.ZipInfo(name, (2008, 6, 1, 12, 0, 0)), text, zipfile.ZIP_DEFLATED)
    return buf.getvalue()


# The four elements of a package file in their order, then the directory of their sizes.
ELEMENTS = ("launcher", "unzip", "image", "bootcfg")


def directory(order="<", **sizes):
    return struct.pack(order + "4I", *[sizes[name] for name in ELEMENTS])


def package(elements, order="<"):
    parts = [elements[name] for name in ELEMENTS]
    return b"".join(parts) + directory(order, **{name: len(elements[name]) for name in ELEMENTS})


def package_seeds():
    launcher = b"\x7fELF\x01\x01\x01" + bytes(57) + b"launcher" * 8
    unzip = b"\x7fELF\x01\x01\x01" + bytes(25) + b"miniunz" * 4
    image = tiny_zip()
    good = dict(launcher=launcher, unzip=unzip, image=image, bootcfg=SHIPPED_BOOTCFG)
    write("fuzz_package", "shipped-layout", package(good))
    write("fuzz_package", "ppc64-directory", package(good, ">"))
    write("fuzz_package", "empty-image", package(dict(good, image=b"")))
    whole = package(good)
    write("fuzz_package", "cut-inside-image", whole[: len(launcher) + len(unzip) + 40] + whole[-16:])
    write("fuzz_package", "sizes-past-end", package(good)[:-16] + directory(launcher=104, unzip=60, image=9000, bootcfg=400))
    write("fuzz_package", "directory-only", directory(launcher=0, unzip=0, image=0, bootcfg=0))
    write("fuzz_package", "short-file", b"\x7fELF" + bytes(11))


def bootcfg_seeds():
    write("fuzz_bootcfg", "shipped-rh4", RH4 + SHIPPED_BOOTCFG + args(b"-s"))
    write("fuzz_bootcfg", "shipped-unknown-debug", bytes([UN[0] | DEBUG]) + UN[1:] + SHIPPED_BOOTCFG)
    write("fuzz_bootcfg", "multi-su10-append", SU10 + MULTI_BOOTCFG + args(b"A", b"B"))
    write("fuzz_bootcfg", "multi-nl9-crlf", NL9 + MULTI_BOOTCFG.replace(b"\n", b"\r\n") + args(b"-v"))
    for mode in (b"prepend", b"discard", b"Override", b"appendix"):
        text = MULTI_BOOTCFG.replace(b"append <userArgs> to <defaultArgs>", mode)
        write("fuzz_bootcfg", "multi-rh4-" + mode.decode(), RH4 + text + args(b"A", b"B C"))
    write("fuzz_bootcfg", "no-clause-fits", RH4 + b"0\nx\n./run\n")
    write("fuzz_bootcfg", "count-too-large", RH4 + b"9\n*\t0\t*\ta.cfg\n./a\n./b\n")
    write("fuzz_bootcfg", "no-final-newline", UN + b"1\n*\t0\t*\tf\n\n\n\n./kickoff")


def osclass_seeds():
    clauses = [
        b"*\t0\t*\tLinux_verAny_UP0_xAny.wrapcfg",
        b"RHEL4\t2\tx86\tr4.wrapcfg",
        b"RHEL5\t0\t*\tr5.wrapcfg",
        b"RHEL\t5\t*\trx.wrapcfg",
        b"SLES10\t0\tx64\ts10.wrapcfg",
        b"SLES9\t0\tx86\ts9.wrapcfg",
        b"*\t0\tx86\tany86.wrapcfg",
        b"*\t*\t*\tall.wrapcfg",
        b"RHEL3\t9\tx86_64\t\tr3 with blanks.wrapcfg ",
    ]
    systems = {"rh4": RH4, "su10": SU10, "nl9": NL9, "un": UN}
    for i, clause in enumerate(clauses):
        name, facts = list(systems.items())[i % 4]
        write("fuzz_osclass", "clause%d-%s" % (i, name), facts + clause)
    write("fuzz_osclass", "debug-rh4", bytes([RH4[0] | DEBUG]) + RH4[1:] + clauses[1])


def release_seeds():
    texts = [
        (0, b"Red Hat Enterprise Linux AS release 4 (Nahant Update 4)\n"),
        (0, b"Red Hat Enterprise Linux ES release 3 (Taroon)\n"),
        (0, b"Red Hat Enterprise Linux Server release 5.2 (Tikanga)\n"),
        (1, b"SUSE LINUX Enterprise Server 9 (i586)\nVERSION = 9\nPATCHLEVEL = 3\n"),
        (1, b"Novell Linux Desktop 9 (i586)\nVERSION = 9\n"),
        (1, b"SUSE LINUX 10.1 (i586)\nVERSION = 10.1\n"),
        (0, b"2.6.9-42.ELsmp\n"),
        (0, b"Red Hat release 4 \xe9\xa0 \t\n"),
    ]
    for i, (suse, text) in enumerate(texts):
        write("fuzz_release", "release%d" % i, bytes([suse, 20 + 9 * i]) + text)


NX_LISTING = (
    b"Broadcom NetXtreme Firmware Upgrade Utility\n\n"
    b"C  Dev   MAC Address    Name\n"
    b"-  ----  -----------    ----\n"
    b"1  1648  001018A1B2C3   eth0\n"
    b"2  16A7  001018A1B2C4   eth1\n"
    b"\nQ=Quit 0>\n"
)
NX2_LISTING = (
    b"Broadcom NetXtreme II Firmware Upgrade Utility\r\n"
    b"C  Dev   MAC Address    Name\r\n"
    b"-- ----  -----------    ----\r\n"
    b"0  1639  00:10:18:2A:3B:4C eth2\r\n"
    b"1  163A  0010182A3B4D   eth3\r\n"
    b"Enter number or Quit\r\n"
)


def adapter_seeds():
    write("fuzz_adapters", "netxtreme", b"\x00" + NX_LISTING)
    write("fuzz_adapters", "netxtreme2", b"\x01" + NX2_LISTING)
    write("fuzz_adapters", "refused-rows", b"\x00" + NX_LISTING.replace(b"2  16A7  001018A1B2C4",
                                                                      b"2  16A7  $(reboot) x\n3 1648 ../etc"))


def listing_seeds():
    nx = (b"1  BootCode   BC    0x08003800  0x0000  5721-v3.61\n"
          b"2  ASFIPMI    IPMI  v6.2.1\n"
          b"3  UMP        UMP   1.1.9\n"
          b"4  BRCM ASF   ASF   v5.2.0-beta\n"
          b"5  PXE        MBA   v8.3.11\n")
    nx2 = (b"BC1 4.4.1\n  IPMI 2.0\n  ipmi 1.0\n  MBA 3.0\n  mba 4.0\n  UMP 1.5\n"
           b"  NCSI_X 2.0.3\n  ISCSI v3.1\n")
    write("fuzz_listing", "netxtreme-1648", b"\x00" + nx)
    write("fuzz_listing", "netxtreme-16a7-5703s", b"\x02" + b"1 BootCode BC 0 0 5703s-v3.29\n")
    write("fuzz_listing", "netxtreme2-1639", b"\x07" + nx2)
    write("fuzz_listing", "long-line", b"\x01" + b"x" * 252 + b"BC1 4.4.1\n")


def devid_seeds():
    for text in (b"1600", b"163a", b"16A7", b"16C7", b"1234", b"16FF", b"zz", b"0x1648"):
        write("fuzz_devid", text.decode(), text)


def regressions():
    # A zero-size element placed past the end of the file reads as empty: the target demanded
    # that every element lie inside the file.
    write("fuzz_package", "empty-element-past-end", directory(launcher=0x0A000000, unzip=0, image=0, bootcfg=0),
          "regressions")
    # The debug option taken out of the arguments: the target moved the arguments that argv
    # still pointed into and compared the command with the wrong ones.
    write("fuzz_bootcfg", "debug-option-then-arguments",
          RH4 + SHIPPED_BOOTCFG + args(b"++debug=2", b"A", b"B C"), "regressions")


if __name__ == "__main__":
    package_seeds()
    bootcfg_seeds()
    osclass_seeds()
    release_seeds()
    adapter_seeds()
    listing_seeds()
    devid_seeds()
    regressions()
