#!/usr/bin/env bash
# Checks the bundled host directory data/: the two golden files against their schemas, the
# schemas against sample user files (what they must accept and what they must reject), the
# device tables, and every value of the golden files against the rules the loaders apply.
#
# The schemas check structure and value kinds only. Values such as voltages, IDs or bus widths
# must get past them, so that the database's own validators report them with their warnings;
# the "accepted" cases below keep anyone from tightening a schema by mistake.
#
# Usage: tools/check_data.sh        (needs xmllint and python3; exits non-zero on any failure)
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DATA=$ROOT/data
SAMPLES=$ROOT/tests/data/schema
QSPI_XSD=$DATA/xsd/gfpdb_qspi.xsd
SDMMC_XSD=$DATA/xsd/gfpdb_sdmmc.xsd
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect accept|reject SCHEMA FILE LABEL
expect() {
    local want=$1 xsd=$2 file=$3 label=$4
    if xmllint --noout --nonet --schema "$xsd" "$file" >"$TMP/log" 2>&1; then
        [ "$want" = accept ] || fail "$label: accepted, should be rejected"
    else
        if [ "$want" = accept ]; then
            fail "$label: rejected, should be accepted"
            sed 's/^/    /' "$TMP/log"
        fi
    fi
}

# variant accept|reject SCHEMA SOURCE LABEL SED-SCRIPT: the source file changed by one edit.
n=0
variant() {
    local want=$1 xsd=$2 source=$3 label=$4 script=$5
    n=$((n + 1))
    local file=$TMP/variant_$n.xml
    sed -e "$script" "$source" >"$file"
    if cmp -s "$source" "$file"; then
        fail "$label: the edit changed nothing"
        return
    fi
    expect "$want" "$xsd" "$file" "$label"
}

# --- Golden files ------------------------------------------------------------------------
expect accept "$QSPI_XSD" "$DATA/xml/pgm_flash_db_qspi.xml" "golden QSPI file"
expect accept "$SDMMC_XSD" "$DATA/xml/pgm_flash_db_sdmmc.xml" "golden SD/MMC file"
# Both golden files lie in one folder and each manager is offered every pgm_flash_*.xml.
expect reject "$QSPI_XSD" "$DATA/xml/pgm_flash_db_sdmmc.xml" "SD/MMC root under the QSPI schema"
expect reject "$SDMMC_XSD" "$DATA/xml/pgm_flash_db_qspi.xml" "QSPI root under the SD/MMC schema"

extra=$(cd "$DATA/xml" && ls pgm_flash_*.xml 2>/dev/null |
        grep -v -x -e pgm_flash_db_qspi.xml -e pgm_flash_db_sdmmc.xml)
[ -z "$extra" ] || fail "data/xml holds other database files: $extra"

GOLDEN=$DATA/xml/pgm_flash_db_qspi.xml
variant reject "$QSPI_XSD" "$GOLDEN" "golden template without a vendor" '/<CYPRESS>/,/<\/CYPRESS>/d'

# --- QSPI user files ---------------------------------------------------------------------
OK=$SAMPLES/qspi_user_ok.xml
expect accept "$QSPI_XSD" "$OK" "sample QSPI user file"
expect reject "$QSPI_XSD" "$SAMPLES/qspi_bad_action_type.xml" "unknown action type"
expect reject "$SDMMC_XSD" "$OK" "sample QSPI user file under the SD/MMC schema"

echo '<QSPI_FLASH version="1"/>' >"$TMP/empty_qspi.xml"
expect accept "$QSPI_XSD" "$TMP/empty_qspi.xml" "QSPI file without children"

# Structure and kinds: rejected.
variant reject "$QSPI_XSD" "$OK" "root without version" 's/<QSPI_FLASH version="1">/<QSPI_FLASH>/'
variant reject "$QSPI_XSD" "$OK" "negative version" 's/<QSPI_FLASH version="1">/<QSPI_FLASH version="-1">/'
variant reject "$QSPI_XSD" "$OK" "unknown attribute" 's/<FLASH>/<FLASH id="1">/'
variant reject "$QSPI_XSD" "$OK" "unknown element" 's|<DATA/>|<COLOR/>|'
variant reject "$QSPI_XSD" "$OK" "action without type" 's/<ACTION type="CUSTOM">/<ACTION>/'
variant reject "$QSPI_XSD" "$OK" "action type in lower case" 's/<ACTION type="CUSTOM">/<ACTION type="custom">/'
variant reject "$QSPI_XSD" "$OK" "delay without unit" 's|<DELAY unit="us">50</DELAY>|<DELAY>50</DELAY>|'
variant reject "$QSPI_XSD" "$OK" "text in a number element" 's|<ERASE_SIZE>65536</ERASE_SIZE>|<ERASE_SIZE>64KB</ERASE_SIZE>|'
variant reject "$QSPI_XSD" "$OK" "number above 32 bits" 's|<ATTEMPT_COUNT>1000</ATTEMPT_COUNT>|<ATTEMPT_COUNT>4294967296</ATTEMPT_COUNT>|'
variant reject "$QSPI_XSD" "$OK" "negative die count" 's|<TOTAL_DEVICE_DIE>1</TOTAL_DEVICE_DIE>|<TOTAL_DEVICE_DIE>-1</TOTAL_DEVICE_DIE>|'
variant reject "$QSPI_XSD" "$OK" "device without ID" '/<DEVICE_ID>/d'
variant reject "$QSPI_XSD" "$OK" "device with two names" 's|<DEVICE_NAME>USR25Q128</DEVICE_NAME>|&<DEVICE_NAME>USR2</DEVICE_NAME>|'
variant reject "$QSPI_XSD" "$OK" "device without flow" '/<FLASH>/,/<\/FLASH>/{/<PROGRAMMING_FLOW>/,/<\/PROGRAMMING_FLOW>/d}'
variant reject "$QSPI_XSD" "$OK" "template without name" '/<TEMPLATE_NAME>/d'
variant reject "$QSPI_XSD" "$OK" "flow with two terminations" 's|<TERMINATION/>|<TERMINATION/><TERMINATION/>|'
variant reject "$QSPI_XSD" "$OK" "flow without erase" 's|<ERASE/>||'
variant reject "$QSPI_XSD" "$OK" "action with two data" 's|<DATA/>|<DATA/><DATA/>|'
variant reject "$QSPI_XSD" "$OK" "golden template after a device" 's|<FLASH>|<GOLDEN_TEMPLATE/><FLASH>|'

# Value texts: accepted, for the database's validators to report.
variant accept "$QSPI_XSD" "$OK" "unknown voltage" 's|<DEVICE_IO_VOLTAGE>3.0V/3.3V<|<DEVICE_IO_VOLTAGE>5V<|'
variant accept "$QSPI_XSD" "$OK" "unknown density" 's|<DEVICE_DENSITY>128Mb<|<DEVICE_DENSITY>3Mb<|'
variant accept "$QSPI_XSD" "$OK" "malformed ID" 's|<DEVICE_ID>0x9D 0x60 0x18<|<DEVICE_ID>0X9D,0x60<|'
variant accept "$QSPI_XSD" "$OK" "empty device name" 's|<DEVICE_NAME>USR25Q128<|<DEVICE_NAME><|'
variant accept "$QSPI_XSD" "$OK" "unknown flow template" 's|<PROG_FLOW_TEMPLATE>Bench_flow<|<PROG_FLOW_TEMPLATE>no such flow<|'
variant accept "$QSPI_XSD" "$OK" "zero dies, 16 dummy cycles" 's|<TOTAL_DEVICE_DIE>1<|<TOTAL_DEVICE_DIE>0<|; s|<DUMMY_CLOCK_CYCLE>8<|<DUMMY_CLOCK_CYCLE>16<|'
variant accept "$QSPI_XSD" "$OK" "two-byte command" 's|<COMMAND>0x66<|<COMMAND>0x66 0x99<|'
variant accept "$QSPI_XSD" "$OK" "unknown bus width" 's|<BUS_WIDTH>1-1-1<|<BUS_WIDTH>4-4-4<|'
variant accept "$QSPI_XSD" "$OK" "unknown direction" 's|<DIRECTION>start<|<DIRECTION>sideways<|'
variant accept "$QSPI_XSD" "$OK" "page size other than 256" 's|<PAGE_SIZE>256<|<PAGE_SIZE>512<|'
variant accept "$QSPI_XSD" "$OK" "empty action name" 's|<NAME>Write enable</NAME>|<NAME/>|'
variant accept "$QSPI_XSD" "$OK" "action with another type's child" 's|<ACTION type="CUSTOM">|&<NAME>marker</NAME>|'
variant accept "$QSPI_XSD" "$OK" "action with no children" '/<ACTION type="CUSTOM">/,/<\/ACTION>/{/<DESCRIPTION>\|<DIRECTION>/d}'
variant accept "$QSPI_XSD" "$OK" "any version number" 's/<QSPI_FLASH version="1">/<QSPI_FLASH version="7">/'
variant accept "$QSPI_XSD" "$OK" "any delay unit" 's|<DELAY unit="us">50<|<DELAY unit="ms">50<|'

# --- SD/MMC user files -------------------------------------------------------------------
SD=$SAMPLES/sdmmc_user_ok.xml
expect accept "$SDMMC_XSD" "$SD" "sample SD/MMC user file"
expect reject "$QSPI_XSD" "$SD" "sample SD/MMC user file under the QSPI schema"
echo '<SDMMC_FLASH version="1"/>' >"$TMP/empty_sdmmc.xml"
expect accept "$SDMMC_XSD" "$TMP/empty_sdmmc.xml" "SD/MMC file without children"
variant reject "$SDMMC_XSD" "$SD" "SD/MMC root without version" 's/<SDMMC_FLASH version="1">/<SDMMC_FLASH>/'
variant reject "$SDMMC_XSD" "$SD" "SD/MMC device without density" '/<DEVICE_DENSITY>/d'
variant reject "$SDMMC_XSD" "$SD" "SD/MMC device with two infos" 's|<DEVICE_INFO>|<DEVICE_INFO><DEVICE_NAME>a</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>1GB</DEVICE_DENSITY></DEVICE_INFO><DEVICE_INFO>|'
variant reject "$SDMMC_XSD" "$SD" "SD/MMC unknown attribute" 's/<FLASH>/<FLASH kind="sd">/'
variant reject "$SDMMC_XSD" "$SD" "SD/MMC device with a QSPI child" 's|<DEVICE_NAME>USR_CARD_16G</DEVICE_NAME>|&<DEVICE_ID>0x01</DEVICE_ID>|'
variant accept "$SDMMC_XSD" "$SD" "SD/MMC unknown density" 's|<DEVICE_DENSITY>16GB<|<DEVICE_DENSITY>3GB<|'
variant accept "$SDMMC_XSD" "$SD" "SD/MMC 3.3V card" 's|<DEVICE_IO_VOLTAGE>1.8V<|<DEVICE_IO_VOLTAGE>3.0V/3.3V<|'

# --- Values of the golden files and the device tables ------------------------------------
python3 "$ROOT/tools/gen_golden_qspi.py" --check || fail "golden QSPI file (tools/gen_golden_qspi.py --check)"

python3 - "$DATA" <<'EOF' || fail "golden SD/MMC file or device tables"
import pathlib, sys
import xml.etree.ElementTree as ET

data = pathlib.Path(sys.argv[1])
problems = []

def rows(path, header):
    lines = [l for l in path.read_text(encoding="utf-8").splitlines()
             if l.strip() and not l.startswith("#")]
    if not lines or lines[0] != header:
        problems.append(f"{path.name}: header must be '{header}'")
        return []
    out = []
    for l in lines[1:]:
        fields = l.split(",")
        if len(fields) != header.count(",") + 1:
            problems.append(f"{path.name}: '{l}' has {len(fields)} fields")
        else:
            out.append(fields)
    return out

VOLTAGES = ("1.8V", "3.0V/3.3V")
families = {}
for number, name, qspi, sdmmc, sdm, voltage in rows(data / "device" / "families.csv",
                                                    "family,name,qspi,sdmmc,sdm,flash_io_voltage"):
    if not number.isdigit() or not 1 <= int(number) <= 72 or int(number) in (10, 55):
        problems.append(f"families.csv: family '{number}' is not a device family")
    if int(number) in families:
        problems.append(f"families.csv: family {number} listed twice")
    if {qspi, sdmmc, sdm} - {"0", "1"} or not name or voltage not in VOLTAGES + ("",):
        problems.append(f"families.csv: line of family {number}")
    families[int(number)] = (name, qspi, sdmmc, sdm, voltage)
# The managers start with these families active.
if families.get(72, ("",) * 5)[1:] != ("1", "0", "1", "1.8V"):
    problems.append("families.csv: family 72 must take QSPI flash at 1.8V through SDM")
if families.get(48, ("",) * 5)[2:] != ("1", "1", "1.8V"):
    problems.append("families.csv: family 48 must take SD/MMC at 1.8V through SDM")
if families.get(28, ("",) * 5)[0] != "Velmar" or families[28][2] != "1":
    problems.append("families.csv: family 28 must be Velmar and take SD/MMC")

legacy = set()
for name, supported, voltage in rows(data / "device" / "flash_list.csv",
                                     "name,supported,io_voltage"):
    if not name or supported not in ("0", "1") or voltage not in VOLTAGES:
        problems.append(f"flash_list.csv: line of '{name}'")
    legacy.add(name)

root = ET.parse(data / "xml" / "pgm_flash_db_sdmmc.xml").getroot()
NAME_CHARS = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_")
DENSITIES = ("1GB", "2GB", "4GB", "8GB", "16GB", "32GB", "64GB", "128GB", "256GB", "512GB")
names = set()
if root.tag != "SDMMC_FLASH" or root.get("version") != "1":
    problems.append("pgm_flash_db_sdmmc.xml: root")
for flash in root.findall("FLASH"):
    info = flash.find("DEVICE_INFO")
    name = info.findtext("DEVICE_NAME") or ""
    if (not name or name == "db" or set(name) - NAME_CHARS or name in names
            or name in ("Micron", "Macronix", "Cypress", "Winbond")):
        problems.append(f"pgm_flash_db_sdmmc.xml: device name '{name}'")
    names.add(name)
    if info.findtext("DEVICE_IO_VOLTAGE") != "1.8V":
        problems.append(f"pgm_flash_db_sdmmc.xml: voltage of {name}")
    if info.findtext("DEVICE_DENSITY") not in DENSITIES:
        problems.append(f"pgm_flash_db_sdmmc.xml: density of {name}")
if not names:
    problems.append("pgm_flash_db_sdmmc.xml: no built-in devices")

for p in problems:
    print(p, file=sys.stderr)
sys.exit(1 if problems else 0)
EOF

if [ "$failures" -eq 0 ]; then
    echo "data files: all checks passed"
else
    echo "data files: $failures check(s) failed"
    exit 1
fi
