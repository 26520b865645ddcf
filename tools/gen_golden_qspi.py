#!/usr/bin/env python3
"""Writes the golden QSPI template file data/xml/pgm_flash_db_qspi.xml from tables.

One row per vendor command set and one row per built-in device; the flows of every device are
built from its vendor's row, so that a command fixed here is fixed in every flow that uses it.

    gen_golden_qspi.py           rewrite the file
    gen_golden_qspi.py --check   fail when the committed file is stale, or when any value in it
                                 breaks a rule that the loader applies

The loader trusts the golden file: a value that fails its rule stops the program instead of
being reported, so --check re-reads the committed file and applies every rule itself.
"""
import csv
import dataclasses
import pathlib
import sys
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

ROOT = pathlib.Path(__file__).resolve().parent.parent
GOLDEN = ROOT / "data" / "xml" / "pgm_flash_db_qspi.xml"
FLASH_LIST = ROOT / "data" / "device" / "flash_list.csv"

# Every address and data value that comes from the programming file says so; the engine fills
# it in per page or per block.
FROM_FILE = "from .jic file"

OPERATIONS = ["INITIALIZATION", "PROGRAM", "ERASE", "VERIFY_BLANKCHECK_EXAMINE", "TERMINATION"]

# Children of an action by type, in the order writers emit them.
ACTION_CHILDREN = {
    "WRITE_REG": ["NAME", "COMMAND", "DATA", "DELAY", "BUS_WIDTH"],
    "READ_REG": ["NAME", "COMMAND", "DATA_LENGTH", "EXPECTED_DATA", "EXPECTED_DATA_MASK",
                 "ATTEMPT_COUNT", "DELAY", "BUS_WIDTH"],
    "WRITE_DATA": ["NAME", "COMMAND", "ADDRESS", "DATA", "PAGE_SIZE", "ADDRESSING_MODE", "DELAY",
                   "BUS_WIDTH"],
    "READ_DATA": ["NAME", "COMMAND", "ADDRESS", "DATA_LENGTH", "EXPECTED_DATA",
                  "EXPECTED_DATA_MASK", "ADDRESSING_MODE", "ACT_DUMMY_CLOCK_CYCLE", "DELAY",
                  "BUS_WIDTH"],
    "ERASE": ["NAME", "COMMAND", "ADDRESS", "ERASE_SIZE", "ADDRESSING_MODE", "DELAY",
              "BUS_WIDTH"],
    "CUSTOM": ["DESCRIPTION", "DIRECTION"],
}

DEVICE_INFO_CHILDREN = ["DEVICE_NAME", "DEVICE_ID", "DEVICE_IO_VOLTAGE", "DEVICE_DENSITY",
                        "TOTAL_DEVICE_DIE", "DUMMY_CLOCK_CYCLE", "DUMMY_CLOCK_CYCLE_X4",
                        "PROG_FLOW_TEMPLATE"]

DENSITIES = ["1Mb", "2Mb", "4Mb", "8Mb", "16Mb", "32Mb", "64Mb", "128Mb", "256Mb", "512Mb",
             "1024Mb", "2048Mb"]
VOLTAGES = ["1.8V", "3.0V/3.3V"]


# --- Actions -------------------------------------------------------------------------------
# An action is (type, [(child, value), ...]) with the children in writer order.

def byte(value):
    return f"0x{value:02X}"


def write_reg(name, command, data="", delay=0):
    return ("WRITE_REG", [("NAME", name), ("COMMAND", byte(command)), ("DATA", data),
                          ("DELAY", delay), ("BUS_WIDTH", "1-1")])


def read_reg(name, command, expected, mask, attempts=1, delay=0):
    return ("READ_REG", [("NAME", name), ("COMMAND", byte(command)), ("DATA_LENGTH", "1"),
                         ("EXPECTED_DATA", expected), ("EXPECTED_DATA_MASK", mask),
                         ("ATTEMPT_COUNT", attempts), ("DELAY", delay), ("BUS_WIDTH", "1-1")])


def write_data(name, command, addressing):
    return ("WRITE_DATA", [("NAME", name), ("COMMAND", byte(command)), ("ADDRESS", FROM_FILE),
                           ("DATA", FROM_FILE), ("PAGE_SIZE", 256),
                           ("ADDRESSING_MODE", addressing), ("DELAY", 0),
                           ("BUS_WIDTH", "1-1-1")])


def read_data(name, command, addressing, dummy=8):
    return ("READ_DATA", [("NAME", name), ("COMMAND", byte(command)), ("ADDRESS", FROM_FILE),
                          ("DATA_LENGTH", FROM_FILE), ("EXPECTED_DATA", FROM_FILE),
                          ("EXPECTED_DATA_MASK", ""), ("ADDRESSING_MODE", addressing),
                          ("ACT_DUMMY_CLOCK_CYCLE", dummy), ("DELAY", 0),
                          ("BUS_WIDTH", "1-1-1")])


def erase(name, command, size, addressing):
    return ("ERASE", [("NAME", name), ("COMMAND", byte(command)), ("ADDRESS", FROM_FILE),
                      ("ERASE_SIZE", size), ("ADDRESSING_MODE", addressing), ("DELAY", 0),
                      ("BUS_WIDTH", "1-1")])


def custom(description, direction):
    # A line break in a description is stored as backslash and n.
    return ("CUSTOM", [("DESCRIPTION", description), ("DIRECTION", direction)])


WRITE_ENABLE = write_reg("Write enable", 0x06)
WRITE_DISABLE = write_reg("Write disable", 0x04)
# tRST is tens of microseconds on every part here; 50 covers all of them.
RESET_PAIR = (write_reg("Reset enable", 0x66), write_reg("Reset memory", 0x99, delay=50))

# How long to wait for a busy flash: (attempts, microseconds between attempts). The products
# sit above the worst-case datasheet times of the parts listed below.
BUSY_WAIT = {
    "register": (1000, 100),   # non-volatile register write, up to ~40 ms
    "program": (1000, 10),     # one page, up to ~5 ms
    4096: (4000, 100),         # 4 KB erase, up to ~400 ms
    32768: (16000, 100),       # 32 KB erase, up to ~1.6 s
    65536: (30000, 100),       # 64 KB erase, up to ~3 s
}


def status_ready(name, what):
    """Polls the status register until the write-in-progress bit clears."""
    attempts, delay = BUSY_WAIT[what]
    return [read_reg(name, 0x05, "0x00", "0x01", attempts, delay)]


def flag_status_ready(name, what):
    """Polls the flag status register until its ready bit is set; on stacked parts this is
    the register that reports every die, so the status register alone is not enough."""
    attempts, delay = BUSY_WAIT[what]
    return [read_reg(name, 0x70, "0x80", "0x80", attempts, delay)]


# --- Vendor command sets -------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Vendor:
    element: str               # element under GOLDEN_TEMPLATE
    template: str              # PROG_FLOW_TEMPLATE value of the devices that follow it
    reset: tuple               # first actions of Initialization
    setup: tuple               # register set-up after the reset, both flows
    enter_4byte: tuple         # SFL, 4-byte parts: switch to 4-byte addresses
    exit_4byte: tuple          # SFL, 4-byte parts: back to the power-on address mode
    wait: object               # wait(name, BUSY_WAIT key) -> actions
    program_check: tuple       # after the busy wait of a page program
    erase_check: tuple         # after the busy wait of an erase
    erase_sizes: tuple         # (size, 3-byte opcode, 4-byte opcode or None, name)
    termination: tuple         # last actions of Termination, SFL
    sdm_termination: tuple     # last actions of Termination, SDM
    erase_start: str           # description of the Custom marker that opens the erase set
    erase_end: str


VENDORS = [
    Vendor(
        element="MICRON", template="Micron",
        reset=RESET_PAIR,
        # Volatile configuration 0x8B: 8 dummy cycles (the verify read below relies on it),
        # XIP off, continuous wrap.
        setup=(*flag_status_ready("Wait after reset", "program"), WRITE_ENABLE,
               write_reg("Write volatile configuration register", 0x81, "0x8B"),
               # The read-back compares the dummy-cycle field only.
               read_reg("Read volatile configuration register", 0x85, "0x80", "0xF0")),
        # This family needs write enable before the address mode changes either way.
        enter_4byte=(WRITE_ENABLE, write_reg("Enter 4 byte address mode", 0xB7),
                     read_reg("Check 4 byte address mode", 0x70, "0x01", "0x01")),
        exit_4byte=(WRITE_ENABLE, write_reg("Exit 4 byte address mode", 0xE9)),
        wait=flag_status_ready,
        program_check=(read_reg("Check program error", 0x70, "0x00", "0x10"),),
        erase_check=(read_reg("Check erase error", 0x70, "0x00", "0x20"),),
        erase_sizes=((4096, 0x20, 0x21, "Erase 4KB subsector"),
                     (32768, 0x52, 0x5C, "Erase 32KB subsector"),
                     (65536, 0xD8, 0xDC, "Erase 64KB sector")),
        termination=(WRITE_DISABLE,),
        sdm_termination=(WRITE_DISABLE,),
        erase_start="Erase data", erase_end="End of data"),
    Vendor(
        element="MACRONIX", template="Macronix",
        reset=RESET_PAIR,
        # Quad enable is bit 6 of the status register and is non-volatile.
        setup=(WRITE_ENABLE, write_reg("Write status register", 0x01, "0x40"),
               *status_ready("Wait for status register write", "register"),
               read_reg("Check quad enable", 0x05, "0x40", "0x40")),
        # Address mode is bit 5 of the configuration register.
        enter_4byte=(write_reg("Enter 4 byte address mode", 0xB7),
                     read_reg("Check 4 byte address mode", 0x15, "0x20", "0x20")),
        exit_4byte=(write_reg("Exit 4 byte address mode", 0xE9),),
        wait=status_ready,
        program_check=(),
        erase_check=(),
        erase_sizes=((4096, 0x20, 0x21, "Erase 4KB sector"),
                     (32768, 0x52, 0x5C, "Erase 32KB block"),
                     (65536, 0xD8, 0xDC, "Erase 64KB block")),
        termination=(WRITE_DISABLE,),
        sdm_termination=(WRITE_DISABLE,),
        erase_start="Erase data\\nLargest block that fits is used first",
        erase_end="End of data"),
    Vendor(
        element="CYPRESS", template="Cypress",
        reset=(write_reg("Software reset", 0xF0, delay=50),),
        # Status and configuration are written together; quad is bit 1 of the configuration
        # register. A failed earlier operation leaves error bits set until they are cleared.
        setup=(write_reg("Clear status register", 0x30), WRITE_ENABLE,
               write_reg("Write registers", 0x01, "0x00 0x02"),
               *status_ready("Wait for register write", "register"),
               read_reg("Check quad enable", 0x35, "0x02", "0x02")),
        # Extended addressing through the bank address register: the 3-byte opcodes then take
        # 4-byte addresses.
        enter_4byte=(write_reg("Write bank address register", 0x17, "0x80"),
                     read_reg("Check extended address mode", 0x16, "0x80", "0x80")),
        exit_4byte=(write_reg("Write bank address register", 0x17, "0x00"),),
        wait=status_ready,
        program_check=(read_reg("Check program error", 0x05, "0x00", "0x40"),),
        erase_check=(read_reg("Check erase error", 0x05, "0x00", "0x20"),),
        erase_sizes=((4096, 0x20, 0x21, "Erase 4KB parameter sector"),
                     (65536, 0xD8, 0xDC, "Erase 64KB sector")),
        termination=(WRITE_DISABLE,),
        sdm_termination=(WRITE_DISABLE,),
        erase_start="Erase data\\nUniform 4KB and 64KB sectors",
        erase_end="End of data"),
    Vendor(
        element="WINBOND", template="Winbond",
        reset=RESET_PAIR,
        # Quad enable is bit 1 of status register 2, written volatile so that the part is
        # left as it came once power is cycled.
        setup=(write_reg("Write enable for volatile status register", 0x50),
               write_reg("Write status register 2", 0x31, "0x02"),
               read_reg("Check quad enable", 0x35, "0x02", "0x02")),
        # Address mode is bit 0 of status register 3.
        enter_4byte=(write_reg("Enter 4 byte address mode", 0xB7),
                     read_reg("Check 4 byte address mode", 0x15, "0x01", "0x01")),
        exit_4byte=(write_reg("Exit 4 byte address mode", 0xE9),),
        wait=status_ready,
        program_check=(),
        erase_check=(),
        # No 4-byte opcode for the 32 KB block.
        erase_sizes=((4096, 0x20, 0x21, "Erase 4KB sector"),
                     (32768, 0x52, None, "Erase 32KB block"),
                     (65536, 0xD8, 0xDC, "Erase 64KB block")),
        termination=(WRITE_DISABLE,),
        sdm_termination=RESET_PAIR,
        erase_start="Erase data", erase_end="End of data"),
]
VENDOR_BY_TEMPLATE = {v.template: v for v in VENDORS}

PROGRAM_OPCODES = (0x02, 0x12)   # page program: 3-byte opcode, 4-byte opcode
READ_OPCODES = (0x0B, 0x0C)      # fast read, 8 dummy cycles


def flow(vendor, sdm, addressing):
    """The five operations of one flow. Parts above 128Mb are driven with 4-byte addresses:
    the SFL flow switches the part's address mode and uses the classic opcodes, the SDM flow
    leaves the mode alone and uses the 4-byte opcodes."""
    wide = addressing == 4
    opcodes = 1 if (wide and sdm) else 0
    mode_switch = wide and not sdm

    def prefixed(name):
        return "4 byte " + name[0].lower() + name[1:] if opcodes else name

    init = [*vendor.reset, *vendor.setup, *(vendor.enter_4byte if mode_switch else ())]

    program = [WRITE_ENABLE,
               write_data(prefixed("Page program"), PROGRAM_OPCODES[opcodes], addressing),
               *vendor.wait("Wait for page program", "program"), *vendor.program_check]

    erase_ops = [custom(vendor.erase_start, "start")]
    for size, op3, op4, name in vendor.erase_sizes:
        command = (op3, op4)[opcodes]
        if command is None:
            continue
        erase_ops += [WRITE_ENABLE, erase(prefixed(name), command, size, addressing),
                      *vendor.wait("Wait for " + name[0].lower() + name[1:], size),
                      *vendor.erase_check]
    erase_ops.append(custom(vendor.erase_end, "end"))

    verify = [read_data(prefixed("Fast read"), READ_OPCODES[opcodes], addressing)]

    termination = [*(vendor.exit_4byte if mode_switch else ()),
                   *(vendor.sdm_termination if sdm else vendor.termination)]

    return dict(zip(OPERATIONS, [init, program, erase_ops, verify, termination]))


def programming_flow(vendor, addressing):
    return {"SFL": flow(vendor, False, addressing), "SDM": flow(vendor, True, addressing)}


# --- Built-in devices ----------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Device:
    name: str
    id: str        # JEDEC 0x9F ID: manufacturer, memory type, capacity
    voltage: str
    density: str
    dies: int
    dummy: int     # fast read, x1
    dummy_x4: int  # quad I/O read
    template: str


DEVICES = [
    Device("GF25M064L", "0x20 0xBA 0x17", "3.0V/3.3V", "64Mb", 1, 8, 10, "Micron"),
    Device("GF25M128L", "0x20 0xBA 0x18", "3.0V/3.3V", "128Mb", 1, 8, 10, "Micron"),
    Device("GF25M256U", "0x20 0xBB 0x19", "1.8V", "256Mb", 1, 8, 10, "Micron"),
    Device("GF25M512U", "0x20 0xBB 0x20", "1.8V", "512Mb", 1, 8, 10, "Micron"),
    Device("GF25M01GU", "0x20 0xBB 0x21", "1.8V", "1024Mb", 2, 8, 10, "Micron"),  # stacked
    Device("GF25M02GU", "0x20 0xBB 0x22", "1.8V", "2048Mb", 4, 8, 10, "Micron"),  # stacked
    Device("GF25X128L", "0xC2 0x20 0x18", "3.0V/3.3V", "128Mb", 1, 8, 6, "Macronix"),
    Device("GF25X256U", "0xC2 0x25 0x39", "1.8V", "256Mb", 1, 8, 6, "Macronix"),
    Device("GF25X01GL", "0xC2 0x20 0x1B", "3.0V/3.3V", "1024Mb", 2, 8, 10, "Macronix"),
    Device("GF25S128L", "0x01 0x20 0x18", "3.0V/3.3V", "128Mb", 1, 8, 8, "Cypress"),
    Device("GF25S512L", "0x01 0x02 0x20", "3.0V/3.3V", "512Mb", 1, 8, 8, "Cypress"),
    Device("GF25W016L", "0xEF 0x40 0x15", "3.0V/3.3V", "16Mb", 1, 8, 6, "Winbond"),
    Device("GF25W256L", "0xEF 0x40 0x19", "3.0V/3.3V", "256Mb", 1, 8, 6, "Winbond"),
    Device("GF25W512U", "0xEF 0x60 0x20", "1.8V", "512Mb", 1, 8, 6, "Winbond"),
]


def addressing_of(density):
    # 3-byte addresses reach 128Mb; anything larger needs the fourth byte.
    return 3 if DENSITIES.index(density) <= DENSITIES.index("128Mb") else 4


# --- Writing -------------------------------------------------------------------------------

def lines_of_flow(pflow, indent):
    pad = "  " * indent
    out = [f"{pad}<PROGRAMMING_FLOW>"]
    for kind in ("SFL", "SDM"):
        out.append(f"{pad}  <{kind}>")
        for op in OPERATIONS:
            actions = pflow[kind][op]
            if not actions:
                out.append(f"{pad}    <{op}/>")
                continue
            out.append(f"{pad}    <{op}>")
            for act_type, children in actions:
                out.append(f'{pad}      <ACTION type="{act_type}">')
                for tag, value in children:
                    text = escape(str(value))
                    attr = ' unit="us"' if tag == "DELAY" else ""
                    if text:
                        out.append(f"{pad}        <{tag}{attr}>{text}</{tag}>")
                    else:
                        out.append(f"{pad}        <{tag}{attr}/>")
                out.append(f"{pad}      </ACTION>")
            out.append(f"{pad}    </{op}>")
        out.append(f"{pad}  </{kind}>")
    out.append(f"{pad}</PROGRAMMING_FLOW>")
    return out


def generate():
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           "<!-- Golden QSPI flash database: the four vendor programming-flow templates and the",
           "     built-in devices. Read-only; user devices and templates live in their own files.",
           "     Generated by tools/gen_golden_qspi.py: change the tables there, not this file. -->",
           '<QSPI_FLASH version="1">',
           "  <GOLDEN_TEMPLATE>"]
    for vendor in VENDORS:
        out.append(f"    <{vendor.element}>")
        out += lines_of_flow(programming_flow(vendor, 4), 3)
        out.append(f"    </{vendor.element}>")
    out.append("  </GOLDEN_TEMPLATE>")
    for dev in DEVICES:
        values = [dev.name, dev.id, dev.voltage, dev.density, dev.dies, dev.dummy, dev.dummy_x4,
                  dev.template]
        out += ["  <FLASH>", "    <DEVICE_INFO>"]
        out += [f"      <{tag}>{escape(str(v))}</{tag}>"
                for tag, v in zip(DEVICE_INFO_CHILDREN, values)]
        out.append("    </DEVICE_INFO>")
        out += lines_of_flow(programming_flow(VENDOR_BY_TEMPLATE[dev.template],
                                              addressing_of(dev.density)), 2)
        out.append("  </FLASH>")
    out.append("</QSPI_FLASH>")
    return "\n".join(out) + "\n"


# --- Checking the committed file -----------------------------------------------------------
# The rules the loader applies to each value; the golden file must pass all of them.

HEX = "abcdefABCDEF0123456789"
NAME_CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"
GOLDEN_NAMES = [v.template for v in VENDORS]


def refers_to_file(text):
    return "jic" in text or "JIC" in text


def number(text):
    """The value of a number property text, or None when its form is not accepted."""
    if not text or any(c not in HEX + "x" for c in text):
        return None
    if "0x" in text:
        tail = text[2:]
        if any(c not in HEX for c in tail):
            return None
        return int(tail, 16) if tail else 0
    if not text.isdigit():
        return None
    return int(text)


def byte_list(text):
    """The bytes of a data-list text, or None when it is not one."""
    if any(c not in HEX + "x " for c in text):
        return None
    tokens = [t for t in text.split(" ") if t]
    if not tokens:
        return None
    out = []
    for t in tokens:
        if t.startswith("0x"):
            if len(t) not in (3, 4) or any(c not in HEX for c in t[2:]):
                return None
            out.append(int(t[2:], 16))
        elif t.isdigit() and int(t) <= 255:
            out.append(int(t))
        else:
            return None
    return out


def data_ok(text):
    return text == "" or refers_to_file(text) or byte_list(text) is not None


def number_ok(text, condition=lambda n: True):
    n = number(text)
    return n is not None and condition(n)


PROPERTY_RULES = {
    "NAME": lambda t, _: bool(t) and any(c in NAME_CHARS for c in t)
                         and all(c in NAME_CHARS + " " for c in t),
    "COMMAND": lambda t, _: bool(t) and byte_list(t) is not None and len(byte_list(t)) == 1,
    "DATA": lambda t, _: data_ok(t),
    "EXPECTED_DATA": lambda t, _: data_ok(t),
    "EXPECTED_DATA_MASK": lambda t, _: data_ok(t),
    "DELAY": lambda t, _: number_ok(t),
    "DATA_LENGTH": lambda t, _: refers_to_file(t) or number_ok(t, lambda n: 1 <= n <= 256),
    "ATTEMPT_COUNT": lambda t, _: number_ok(t, lambda n: n != 0),
    "ADDRESS": lambda t, _: refers_to_file(t) or number_ok(t),
    "PAGE_SIZE": lambda t, _: number_ok(t, lambda n: n == 256),
    "ADDRESSING_MODE": lambda t, _: number_ok(t, lambda n: n != 0),
    "ACT_DUMMY_CLOCK_CYCLE": lambda t, _: number_ok(t, lambda n: n <= 15),
    "ERASE_SIZE": lambda t, _: number_ok(t, lambda n: n != 0),
    "BUS_WIDTH": lambda t, act_type: t == ("1-1-1" if act_type in ("WRITE_DATA", "READ_DATA")
                                           else "1-1"),
    # The loader turns backslash-n into a line break and needs at least two characters.
    "DESCRIPTION": lambda t, _: len(t) >= 2,
    "DIRECTION": lambda t, _: t in ("start", "end", "nil"),
}
NUMBER_ELEMENTS = {"ATTEMPT_COUNT", "ERASE_SIZE", "PAGE_SIZE", "ADDRESSING_MODE",
                   "ACT_DUMMY_CLOCK_CYCLE", "DELAY", "TOTAL_DEVICE_DIE", "DUMMY_CLOCK_CYCLE",
                   "DUMMY_CLOCK_CYCLE_X4"}


def check_file(path):
    """Every broken rule of the golden file, as lines of text; empty when it is sound."""
    problems = []

    def fail(where, what):
        problems.append(f"{where}: {what}")

    def text_of(elem):
        return elem.text or ""

    def children(elem, where, expected):
        tags = [c.tag for c in elem]
        if tags != expected:
            fail(where, f"children {tags}, expected {expected}")

    def check_flow(pflow, where, addressing=None):
        children(pflow, where, ["SFL", "SDM"])
        for kind in pflow:
            children(kind, f"{where}/{kind.tag}", OPERATIONS)
            for op in kind:
                for i, act in enumerate(op):
                    at = f"{where}/{kind.tag}/{op.tag}/ACTION[{i + 1}]"
                    if act.tag != "ACTION":
                        fail(at, f"unexpected element {act.tag}")
                        continue
                    act_type = act.get("type")
                    if set(act.attrib) != {"type"} or act_type not in ACTION_CHILDREN:
                        fail(at, f"attributes {act.attrib}")
                        continue
                    children(act, at, ACTION_CHILDREN[act_type])
                    for child in act:
                        value = text_of(child)
                        if child.tag == "DELAY" and child.attrib != {"unit": "us"}:
                            fail(at, f"DELAY attributes {child.attrib}")
                        elif child.tag != "DELAY" and child.attrib:
                            fail(at, f"{child.tag} attributes {child.attrib}")
                        if child.tag in NUMBER_ELEMENTS and not value.isdigit():
                            fail(at, f"{child.tag} '{value}' is not an unsigned decimal")
                        if not PROPERTY_RULES[child.tag](value, act_type):
                            fail(at, f"{child.tag} '{value}' breaks its rule")
                        if (child.tag == "ADDRESSING_MODE" and addressing is not None
                                and int(value) != addressing):
                            fail(at, f"addressing mode {value}, expected {addressing}")
                if op.tag == "ERASE":
                    marks = [a.findtext("DIRECTION") for a in op if a.get("type") == "CUSTOM"]
                    if marks[:1] != ["start"] or marks[-1:] != ["end"]:
                        fail(f"{where}/{kind.tag}/ERASE", f"custom markers {marks}")

    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError) as e:
        return [f"{path}: {e}"]
    if root.tag != "QSPI_FLASH" or root.attrib != {"version": "1"}:
        fail("QSPI_FLASH", f"root {root.tag} {root.attrib}")
    tags = [c.tag for c in root]
    if tags[:1] != ["GOLDEN_TEMPLATE"] or any(t != "FLASH" for t in tags[1:]):
        fail("QSPI_FLASH", f"children {tags}: one GOLDEN_TEMPLATE, then FLASH only")
    for golden in root.findall("GOLDEN_TEMPLATE"):
        children(golden, "GOLDEN_TEMPLATE", [v.element for v in VENDORS])
        for vendor in golden:
            children(vendor, vendor.tag, ["PROGRAMMING_FLOW"])
            for pflow in vendor:
                check_flow(pflow, vendor.tag)

    legacy = set()
    if FLASH_LIST.exists():
        with FLASH_LIST.open(newline="") as f:
            rows = [r for r in csv.reader(f) if r and not r[0].startswith("#")]
        legacy = {r[0] for r in rows[1:]}
    names, ids = set(), {}
    for i, flash in enumerate(root.findall("FLASH")):
        where = f"FLASH[{i + 1}]"
        children(flash, where, ["DEVICE_INFO", "PROGRAMMING_FLOW"])
        info = flash.find("DEVICE_INFO")
        if info is None:
            continue
        children(info, where + "/DEVICE_INFO", DEVICE_INFO_CHILDREN)
        v = {c.tag: text_of(c) for c in info}
        name = v.get("DEVICE_NAME", "")
        where = f"FLASH {name}"
        if (not name or name == "db" or any(c not in NAME_CHARS for c in name)
                or name in GOLDEN_NAMES or name in names or name in legacy):
            fail(where, "name is invalid, reserved, repeated or a built-in legacy name")
        names.add(name)
        dev_id = v.get("DEVICE_ID", "")
        id_bytes = byte_list(dev_id) if dev_id else None
        if id_bytes is None or any(c not in HEX + "x " for c in dev_id):
            fail(where, f"DEVICE_ID '{dev_id}' is not a byte list")
        elif tuple(id_bytes) in ids:
            fail(where, f"DEVICE_ID '{dev_id}' repeats that of {ids[tuple(id_bytes)]}")
        else:
            ids[tuple(id_bytes)] = name
        if v.get("DEVICE_IO_VOLTAGE") not in VOLTAGES:
            fail(where, f"voltage '{v.get('DEVICE_IO_VOLTAGE')}'")
        density = v.get("DEVICE_DENSITY")
        if density not in DENSITIES:
            fail(where, f"density '{density}'")
        for tag, low, high in [("TOTAL_DEVICE_DIE", 1, 0xFFFFFFFF), ("DUMMY_CLOCK_CYCLE", 0, 15),
                               ("DUMMY_CLOCK_CYCLE_X4", 0, 15)]:
            value = v.get(tag, "")
            if not value.isdigit() or not low <= int(value) <= high:
                fail(where, f"{tag} '{value}'")
        if v.get("PROG_FLOW_TEMPLATE") not in GOLDEN_NAMES:
            fail(where, f"PROG_FLOW_TEMPLATE '{v.get('PROG_FLOW_TEMPLATE')}'")
        for pflow in flash.findall("PROGRAMMING_FLOW"):
            check_flow(pflow, where,
                       addressing_of(density) if density in DENSITIES else None)
    if not names:
        fail("QSPI_FLASH", "no built-in devices")
    return problems


def main():
    text = generate()
    if "--check" not in sys.argv:
        GOLDEN.write_text(text, encoding="utf-8")
        text = None
    problems = check_file(GOLDEN)
    if text is not None and GOLDEN.read_text(encoding="utf-8") != text:
        problems.insert(0, f"{GOLDEN} is stale: run tools/gen_golden_qspi.py")
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
