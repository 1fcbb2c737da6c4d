#!/usr/bin/python3
"""Checks a firmware package on the controller before any host gets it."""
import hashlib
import io
import os
import re
import struct
import tempfile
import zipfile

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: nic_firmware_package
short_description: Checks a firmware package on the controller before a roll-out
description:
  - Reads the package, computes its size and SHA-256 and the room a run needs in the host's
    temporary folder (the unzip utility and the image, plus every entry unpacked).
  - Fails when the package is missing or unreadable, is not a package, differs from the
    SHA-256 given, or (given a public key) has no signature or a bad one.
  - The signature is a detached Ed25519 signature of the whole file made by OpenSSL
    (C(openssl pkeyutl -sign -rawin)), checked with C(openssl pkeyutl -verify -rawin).
options:
  path: {description: the package on the controller, type: path, required: true}
  sha256: {description: the SHA-256 the package must have (hex), type: str, default: ""}
  public_key: {description: PEM public key that signed the package; empty checks no signature, type: path, default: ""}
  signature: {description: the detached signature (default PATH.sig), type: path, default: ""}
"""

RETURN = r"""
size: {description: bytes, type: int, returned: success}
sha256: {description: the package's SHA-256, type: str, returned: success}
run_space: {description: bytes a run needs in the host's temporary folder, type: int, returned: success}
signature: {description: verified or not checked, type: str, returned: success}
package_path: {description: the package's absolute path on the controller, type: str, returned: success}
"""

# The last 16 bytes: the sizes of the launcher, the unzip utility, the image and the boot
# configuration (little-endian; big-endian for some foreign launchers); the elements lie one
# after the other from the start.
DIRECTORY = struct.Struct("<4I")
DIRECTORY_BE = struct.Struct(">4I")


class NotAPackage(ValueError):
    pass


def run_space(blob):
    """Bytes a run unpacks into the temporary folder: the unzip utility, the image and its entries."""
    size = len(blob)
    if size < DIRECTORY.size:
        raise NotAPackage("it is %d bytes long, shorter than a package's directory" % size)
    raw = blob[size - DIRECTORY.size:]
    sizes = DIRECTORY.unpack(raw)
    if sum(sizes) + DIRECTORY.size != size:
        sizes = DIRECTORY_BE.unpack(raw)
    if sum(sizes) + DIRECTORY.size != size:
        raise NotAPackage("its directory does not add up to its length (no firmware package, or cut short)")
    image = blob[sizes[0] + sizes[1]:sizes[0] + sizes[1] + sizes[2]]
    try:
        with zipfile.ZipFile(io.BytesIO(image)) as z:
            unpacked = sum(i.file_size for i in z.infolist())
    except (zipfile.BadZipFile, ValueError) as e:
        raise NotAPackage("its image is no zip archive (%s)" % e)
    return sizes[1] + sizes[2] + unpacked


def verify(module, blob, public_key, sig):
    """openssl's verdict on these very bytes. OpenSSL 3.0 cannot verify -rawin from a pipe, so
    the bytes go through a file in a private folder that no one else can change."""
    with tempfile.TemporaryDirectory(prefix="nic_firmware_verify.") as d:
        copy = os.path.join(d, "package")
        with open(copy, "wb") as f:
            f.write(blob)
        return module.run_command(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey", public_key,
                                   "-rawin", "-in", copy, "-sigfile", sig])


def check(module, path, sha256, public_key, signature):
    """The package's facts, or a message saying why it is refused. The package is read once:
    the digest, the directory and the signature all judge the same bytes, and the host's copy
    is later held to that digest."""
    try:
        if not os.path.isfile(path):
            raise OSError("no file")
        with open(path, "rb") as f:
            blob = f.read()
    except OSError:
        return None, "the package '%s' does not exist or cannot be read on the controller; set nic_firmware_package" % path
    digest, size = hashlib.sha256(blob).hexdigest(), len(blob)
    want = sha256.strip().lower()
    if want and not re.fullmatch(r"[0-9a-f]{64}", want):
        return None, "the SHA-256 given for '%s' is not 64 hex digits: '%s'" % (path, sha256)
    if want and want != digest:
        return None, "the package '%s' has SHA-256 %s, not the %s given: it is not the package released" % (path, digest, want)
    try:
        space = run_space(blob)
    except NotAPackage as e:
        return None, "'%s' is refused: %s" % (path, e)
    state = "not checked"
    if public_key:
        sig = signature or path + ".sig"
        if not os.path.isfile(sig):
            return None, ("the package '%s' has no signature '%s'; sign it with openssl pkeyutl -sign -rawin "
                          "(README, roll-out) or unset nic_firmware_public_key" % (path, sig))
        if not os.path.isfile(public_key):
            return None, "the public key '%s' does not exist on the controller" % public_key
        rc, out, err = verify(module, blob, public_key, sig)
        if rc != 0:
            return None, ("the signature '%s' does not match the package '%s' and the key '%s': the package was "
                          "changed or signed with another key (openssl: %s)"
                          % (sig, path, public_key, (err or out).strip().splitlines()[-1:] or ""))
        state = "verified"
    # The absolute path: the copy to the hosts would look for a relative one in the role's folders.
    return {"size": size, "sha256": digest, "run_space": space, "signature": state, "name": os.path.basename(path),
            "package_path": os.path.abspath(path)}, ""


def main():
    module = AnsibleModule(argument_spec={
        "path": {"type": "path", "required": True},
        "sha256": {"type": "str", "default": ""},
        "public_key": {"type": "path", "default": ""},
        "signature": {"type": "path", "default": ""},
    }, supports_check_mode=True)
    p = module.params
    facts, problem = check(module, p["path"], p["sha256"] or "", p["public_key"] or "", p["signature"] or "")
    if problem:
        module.fail_json(msg=problem)
    module.exit_json(changed=False, **facts)


if __name__ == "__main__":
    main()
