"""Reads one firmware update log into a Run.

Contract: parse_log(text) never raises on odd input; lines it does not know are skipped. Only a
text without the log's first line is refused (NotALog). Versions and results come from the
tool's own texts; the vendor utilities' output is used only as the reason of a failed update.
"""
import re
from dataclasses import dataclass, field
from typing import Dict, List, Optional

HEADER = "Broadcom Firmware Update Log."
# Table columns in the order of the version table (a log's own heading line wins), and the
# image-file name of each.
COLUMNS = ["BOOT", "IPMI", "ASF", "PXE", "UMP", "NCSI", "iSCSI"]
FILE_COMPONENT = {"bc": "BOOT", "ipmi": "IPMI", "asf": "ASF", "mba": "PXE", "ump": "UMP",
                  "ncsi": "NCSI", "ib": "iSCSI"}
MGMT_COMPONENT = {"IPMI": "IPMI", "ASF": "ASF", "UMP": "UMP", "NCSI": "NCSI", "NSCI": "NCSI"}

TABLE_HEAD = re.compile(r"^\s*ADAPTER MAC\s*((?:\t\S+)+)\s*$")
UPDATING = re.compile(r"^Updating (\S+) using file (\S+)")
UPDATE_OK = "*** Update successful ***"
UPDATE_ERROR = re.compile(
    r"^ !!! Error updating (\S+) firmware on device (\S+) using file (\S+?)(\. File not found)? !!!")
NOT_DETECTED = re.compile(r"^Error! Firmware not detected on device (\S+)\.")
CRC_OK = re.compile(r"^\*\*\* Successfully completed CRC check on device (\S+) \*\*\*")
CRC_ERROR = re.compile(r"^ !!! Error performing CRC check on device (\S+) !!!")
MGMT_OK = re.compile(r"^\*\*\* Successfully disabled management firmware \((\w+)\) on device (\S+) \*\*\*")
MGMT_ERROR = re.compile(r"^ !!! Error disabling management firmware \((\w+)\) on device (\S+) !!!")
NO_ADAPTERS = re.compile(r"^Warning\. No Broadcom (.+) adapters found\.")
NO_TOOL = re.compile(r"^Error! Unable to locate Broadcom (.+) tool")
COMPLETE = re.compile(r"^Update complete\. The firmware update log has been saved in (.*)\.$")
ERRORS = re.compile(r"^One or more errors occurred during the firmware update process\. See (.*) for more")
INTERRUPTED = re.compile(r"^(?:Update |Management firmware disabling )?[Ii]nterrupted by signal \d+ \(\w+\): ")
RESET_NEEDED = re.compile(r"runs after the next reset")
BUSY = re.compile(r"^Error! Another firmware update is running \(process (\d+)\)\.")
CRC_START = "Now starting a CRC check for each Broadcom Ethernet adapter."
UTILITY_BANNER = re.compile(r"Firmware Upgrade Utility for Linux")


class NotALog(ValueError):
    pass


@dataclass
class Component:
    result: str            # "updated", "failed", "not present", "not attempted", "not detected"
    reason: str = ""
    file: str = ""


@dataclass
class Adapter:
    mac: str
    chip: str = ""
    before: Dict[str, str] = field(default_factory=dict)
    after: Dict[str, str] = field(default_factory=dict)
    components: Dict[str, Component] = field(default_factory=dict)
    detected: bool = True
    crc: str = ""                                  # "", "ok", "failed"
    mgmt: Dict[str, str] = field(default_factory=dict)   # component -> "disabled" / "failed"


@dataclass
class Run:
    mode: str = "inventory"     # inventory, update, crc, nomfw (as the log shows it)
    outcome: str = ""           # "complete", "errors", "interrupted", "busy", "" (no closing message)
    problem: str = ""           # the tool's own line for "interrupted" and "busy"
    no_adapters: List[str] = field(default_factory=list)   # families reported missing
    missing_tools: List[str] = field(default_factory=list)
    adapters: List[Adapter] = field(default_factory=list)
    tables: int = 0
    columns: List[str] = field(default_factory=lambda: list(COLUMNS))   # of the last table read
    reset_needed: bool = False  # the utility said the new firmware runs after the next reset

    def adapter(self, mac: str) -> Adapter:
        for a in self.adapters:
            if a.mac.lower() == mac.lower():
                return a
        a = Adapter(mac=mac)
        self.adapters.append(a)
        return a


def component_of_file(name: str) -> Optional[str]:
    """'1648bc.bin' -> 'BOOT'; the prefix is the device id or, for 16A7/16C7 adapters, 03C/03S.
    '03Cbc.bin' also reads as device '03Cb' with component 'c': the reading whose component is
    known wins."""
    for prefix in (r"03[CS]", r"[0-9A-Fa-f]{4}"):
        m = re.match(r"^%s([a-z]+)\.bin$" % prefix, name)
        if m and m.group(1) in FILE_COMPONENT:
            return FILE_COMPONENT[m.group(1)]
    return None


def _read_table(lines: List[str], i: int, run: Run) -> int:
    """Reads the rows after a table head at lines[i]; returns the index after the table. The
    columns are the head's own."""
    run.columns = TABLE_HEAD.match(lines[i]).group(1).split("\t")[1:]
    n = len(run.columns)
    table_rule = re.compile(r"^-+(\t-+){%d}\s*$" % n)
    table_row = re.compile(r"^(\S+) \((.*)\)((?:\t[^\t]*){%d})$" % n)
    i += 1
    if i < len(lines) and table_rule.match(lines[i]):
        i += 1
    run.tables += 1
    first = run.tables == 1
    while i < len(lines):
        m = table_row.match(lines[i])
        if not m:
            break
        versions = m.group(3).split("\t")[1:]
        a = run.adapter(m.group(1))
        if first or not a.chip:
            a.chip = m.group(2)
        target = a.before if first else a.after
        target.clear()
        target.update(zip(run.columns, versions))
        i += 1
    return i


def parse_log(text: str) -> Run:
    text = text.replace("\r\n", "\n")
    if not text.startswith(HEADER):
        raise NotALog("does not start with '%s' (not a firmware update log)" % HEADER)
    lines = text.split("\n")
    run = Run()
    current = None          # (mac, file) of the update in progress
    since = []              # lines the utility printed since that "Updating" line
    i = 0
    while i < len(lines):
        line = lines[i]
        if TABLE_HEAD.match(line):
            i = _read_table(lines, i, run)
            continue
        if RESET_NEEDED.search(line):
            run.reset_needed = True
        m = UPDATING.match(line)
        if m:
            run.mode = "update"
            current, since = (m.group(1), m.group(2)), []
            i += 1
            continue
        if line.startswith(UPDATE_OK) and current:
            comp = component_of_file(current[1])
            if comp:
                run.adapter(current[0]).components[comp] = Component("updated", file=current[1])
            current = None
        elif UPDATE_ERROR.match(line):
            m = UPDATE_ERROR.match(line)
            comp = FILE_COMPONENT.get(m.group(1)) or component_of_file(m.group(3)) or m.group(1)
            if m.group(4):
                reason = "image file not found in the package"
            else:
                said = [s.strip() for s in since if s.strip() and not UTILITY_BANNER.search(s)]
                reason = said[-1] if said else "the vendor utility reported a failure"
            run.adapter(m.group(2)).components[comp] = Component("failed", reason, m.group(3))
            current = None
        elif NOT_DETECTED.match(line):
            run.mode = "update"
            run.adapter(NOT_DETECTED.match(line).group(1)).detected = False
        elif CRC_OK.match(line) or CRC_ERROR.match(line):
            ok = CRC_OK.match(line)
            run.adapter((ok or CRC_ERROR.match(line)).group(1)).crc = "ok" if ok else "failed"
            if run.mode == "inventory":
                run.mode = "crc"
        elif MGMT_OK.match(line) or MGMT_ERROR.match(line):
            m = MGMT_OK.match(line) or MGMT_ERROR.match(line)
            comp = MGMT_COMPONENT.get(m.group(1), m.group(1))
            run.adapter(m.group(2)).mgmt[comp] = "disabled" if MGMT_OK.match(line) else "failed"
            run.mode = "nomfw"
        elif NO_ADAPTERS.match(line):
            run.no_adapters.append(NO_ADAPTERS.match(line).group(1))
        elif NO_TOOL.match(line):
            run.missing_tools.append(NO_TOOL.match(line).group(1))
        elif COMPLETE.match(line):
            run.outcome = "complete"
        elif ERRORS.match(line):
            run.outcome = "errors"
        elif INTERRUPTED.match(line):
            run.outcome = "interrupted"
            run.problem = line.strip()
        elif BUSY.match(line):
            run.outcome = "busy"
            run.problem = line.strip()
        elif line.startswith(CRC_START) and run.tables:
            # Only an update run shows the versions before its CRC check (-crc shows no table).
            run.mode = "update"
        elif current:
            since.append(line)
        i += 1
    if run.mode == "update":
        for a in run.adapters:
            for col in run.columns:
                if col in a.components:
                    continue
                if not a.detected:
                    a.components[col] = Component("not detected")
                elif a.before.get(col, "NA") == "NA":
                    a.components[col] = Component("not present")
                else:
                    a.components[col] = Component("not attempted")
    return run


def run_failed(run: Run) -> bool:
    """True when the log itself shows a failure (used when the exit status is not known). An
    update run that was interrupted, or whose log ends before its closing message (cut short,
    or the tool was killed), failed."""
    if run.outcome in ("errors", "interrupted"):
        return True
    if run.mode == "update" and run.outcome == "":
        return True
    for a in run.adapters:
        if not a.detected or a.crc == "failed" or "failed" in a.mgmt.values():
            return True
        if any(c.result == "failed" for c in a.components.values()):
            return True
    return False


def run_busy(run: Run) -> bool:
    """True when the run was refused because another update held the host's lock."""
    return run.outcome == "busy"


def run_problem(run: Run) -> str:
    """Why the log alone makes the run fail or busy, in words; "" when it does not say."""
    if run.problem:
        return run.problem
    if run.mode == "update" and run.outcome == "":
        return "the log ends before the update's closing message (cut short, or the tool was stopped)"
    return ""


def run_found_no_adapter(run: Run) -> bool:
    return not run.adapters and bool(run.no_adapters or run.missing_tools)
