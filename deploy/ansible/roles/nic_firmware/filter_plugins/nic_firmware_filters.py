"""Filters of the nic_firmware role."""
import base64
import binascii
import json


def parse_record(b64):
    """The host's record of the last package applied (base64 of JSON) as
    {'record': mapping, 'problem': text}. A record that does not decode, parse or hold a
    mapping counts as no record, and the problem says why: a damaged file on one host must not
    end that host before its state is recorded."""
    if not b64:
        return {"record": {}, "problem": ""}
    try:
        doc = json.loads(base64.b64decode(b64, validate=True).decode("utf-8"))
    except (binascii.Error, UnicodeDecodeError, ValueError) as e:
        return {"record": {}, "problem": "the host's record of the last package applied is damaged (%s); taken as none" % e}
    if not isinstance(doc, dict):
        return {"record": {}, "problem": "the host's record of the last package applied holds no mapping; taken as none"}
    return {"record": doc, "problem": ""}


class FilterModule:
    def filters(self):
        return {"nic_firmware_parse_record": parse_record}
