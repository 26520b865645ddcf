#!/usr/bin/env python3
"""End-to-end tests of the gfpdb command.

Each test runs the built program in throw-away folders: a copy of data/ as the host folder, an
empty custom folder and a user settings file of its own, so that tests never depend on each
other or on the machine. Run by CTest, one test per group:

    test_gfpdb_cli.py --gfpdb build/cli/gfpdb --data data [GROUP...]
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

GFPDB = ""
DATA = ""
GOLDEN_QSPI_DEVICES = 14
LINE_WIDTH = 79


class CliCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="gfpdb-cli-test-")
        self.host = os.path.join(self.tmp, "host")
        shutil.copytree(DATA, self.host)
        self.custom = os.path.join(self.tmp, "custom")
        os.mkdir(self.custom)
        self.scratch = os.path.join(self.tmp, "scratch")  # the program's own temporary files
        os.mkdir(self.scratch)
        self.env = dict(os.environ, GFPDB_HOST_DIR=self.host, HOME=self.tmp, TMPDIR=self.scratch,
                        GFPDB_USER_INI=os.path.join(self.tmp, "user.ini"))
        self.env.pop("GFPDB_DEBUG", None)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def gfpdb(self, *args, custom=True):
        """Runs the program; --custom-dir is the test's custom folder unless told otherwise."""
        argv = [GFPDB] + (["--custom-dir", self.custom] if custom else []) + list(args)
        result = subprocess.run(argv, env=self.env, cwd=self.tmp, capture_output=True, text=True,
                                timeout=300)
        # A sanitizer report would hide behind an expected exit status of 1.
        self.assertNotIn("Sanitizer", result.stderr)
        self.assertNotIn("runtime error", result.stderr)
        return result

    def ok(self, *args, **kwargs):
        result = self.gfpdb(*args, **kwargs)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def json_of(self, *args, **kwargs):
        return json.loads(self.ok("--json", *args, **kwargs).stdout)

    def snapshot(self):
        """Every file of the host and custom folders with its content."""
        files = {}
        for top in (self.host, self.custom):
            for folder, _, names in os.walk(top):
                for name in names:
                    path = os.path.join(folder, name)
                    with open(path, "rb") as f:
                        files[path] = f.read()
        return files

    def add(self, name, *extra, template="Winbond"):
        return self.gfpdb("add", name, "--id", "0xEF 0x40 0x18", "--voltage", "3.0V/3.3V",
                          "--density", "128Mb", "--template", template, *extra)

    def devices(self, *args, **kwargs):
        """Name to row of every listed device."""
        document = self.json_of("list", *args, **kwargs)
        return {row["name"]: row for listing in document["lists"] for row in listing["devices"]}

    def assert_fits_screen(self, text):
        for line in text.splitlines():
            self.assertLessEqual(len(line), LINE_WIDTH, line)


class Usage(CliCase):
    """Exit status 2 and a message for what the command line gets wrong."""

    CASES = [
        # arguments, what standard error says
        ([], "A subcommand is required"),
        (["list", "--bogus"], "--bogus"),
        (["list", "--scheme", "7"], "--scheme requires --family"),
        (["list", "--family", "Nowhere"], "unknown device family 'Nowhere'"),
        (["list", "--family", "Velmar"], "no flash manager serves Velmar (28)"),
        (["list", "--family", "Jorra", "--scheme", "23"], "no flash manager serves Jorra (72)"),
        (["list", "--family", "Jorra", "--scheme", "x"], "configuration scheme number"),
        (["--set", "pgm_enable_sdmmc=yes", "families"], "must be on or off"),
        (["--set", "pgm_enable_sdmmc", "families"], "NAME=on"),
        (["show"], "NAME is required"),
        (["show", "GF25M128L", "--flow", "both"], "--flow"),
        (["add", "GF_X", "--id", "0x01"], "is required"),
        (["add", "GF_X", "--id", "0x01", "--voltage", "1.8V", "--density", "1Mb",
          "--template", "Micron", "--dies", "many"], "--dies"),
        (["delete", "GF_X", "--from", "elsewhere"], "--from"),
        (["check"], "PATH is required"),
        (["config"], "A subcommand is required"),
        (["--host-dir", "nowhere", "list"], "is no usable host folder"),
    ]

    def test_usage_errors_exit_2(self):
        for args, message in self.CASES:
            with self.subTest(args=args):
                result = self.gfpdb(*args)
                self.assertEqual(result.returncode, 2, result.stdout + result.stderr)
                self.assertIn(message, result.stderr)

    BROKEN_GOLDEN = [
        # golden file, its first text replaced, by, what standard error says after FILE:LINE
        ("qspi", "<DEVICE_DENSITY>64Mb<", "<DEVICE_DENSITY>300Mb<",
         "device GF25M064L: Device density '300Mb' is invalid."),
        ("qspi", "<COMMAND>0x66<", "<COMMAND>0x9G<",
         "template Micron, SFL 1.1: Action command '0x9G' is invalid."),
        ("qspi", "<DEVICE_NAME>GF25M128L<", "<DEVICE_NAME>GF25M064L<", "defined before, at line"),
        ("qspi", 'type="WRITE_REG"', 'type="WRITE_REGX"', "'WRITE_REGX'"),
        ("qspi", "</SFL>", "</SFLX>", "mismatch"),
        ("sdmmc", "<DEVICE_DENSITY>4GB<", "<DEVICE_DENSITY>3GB<", "device GFEM4G: Device density"),
    ]

    def test_broken_golden_file_refused_with_its_line(self):
        for kind, old, new, message in self.BROKEN_GOLDEN:
            with self.subTest(new=new):
                path = os.path.join(self.host, "xml", "pgm_flash_db_%s.xml" % kind)
                with open(path) as f:
                    text = f.read()
                line = text[:text.index(old)].count("\n") + 1
                with open(path, "w") as f:
                    f.write(text.replace(old, new, 1))
                result = self.gfpdb("--set", "pgm_enable_sdmmc=on", "families")
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("%s:%d: " % (path, line), result.stderr)
                self.assertIn(message, result.stderr)
                with open(path, "w") as f:
                    f.write(text)
        os.remove(os.path.join(self.host, "xml", "pgm_flash_db_sdmmc.xml"))
        self.assertIn("pgm_flash_db_sdmmc.xml is missing", self.gfpdb(
            "--set", "pgm_enable_sdmmc=on", "families").stderr)

    def test_help_on_every_level(self):
        for args in ([], ["list"], ["add"], ["config"], ["config", "custom-dir"]):
            with self.subTest(args=args):
                result = self.ok(*args, "--help")
                self.assertIn("Usage: gfpdb", result.stdout)
                self.assert_fits_screen(result.stdout)
        self.assertIn("delete-template", self.ok("--help").stdout)

    def test_version_of_command_library_and_chosen_data(self):
        with open(os.path.join(self.host, "VERSION"), "w") as f:
            f.write("7.7\n")
        other = os.path.join(self.tmp, "other")
        os.mkdir(other)
        for args, data in ((["--version"], "7.7 in " + self.host + "/"),
                           (["--host-dir", other, "--version"],
                            "unknown (no VERSION file) in " + other + "/")):
            with self.subTest(args=args):
                self.assertRegex(self.ok(*args).stdout, r"^gfpdb (\d+\.\d+\.\d+)\n"
                                 r"library \1\ndata " + re.escape(data) + "\n$")

    def test_names_are_the_listed_names(self):
        for command, key in ((["list", "--family", "72"], "lists"), (["templates"], "templates")):
            with self.subTest(command=command):
                document = json.loads(self.ok(*command, "--json").stdout)[key]
                rows = [d for l in document for d in l["devices"]] if key == "lists" else document
                self.assertEqual(self.ok(*command, "--names").stdout.split(),
                                 [row["name"] for row in rows])

    def test_global_options_after_the_subcommand(self):
        document = json.loads(self.ok("families", "--json").stdout)
        self.assertTrue(document["families"])


class Queries(CliCase):
    """families, list, show and the templates as people read them."""

    def test_families_name_voltage_and_flow(self):
        rows = {row["name"]: row for row in self.json_of("families")["families"]}
        self.assertEqual(rows["Jorra"], {"family": 72, "name": "Jorra", "flash": "QSPI",
                                         "io_voltage": "1.8V", "flow": "SDM"})
        self.assertEqual(rows["Brisca"]["flow"], "SFL")
        self.assertNotIn("Velmar", rows)  # SD/MMC only, and SD/MMC is off
        with_sdmmc = self.json_of("--set", "pgm_enable_sdmmc=on", "families")["families"]
        self.assertIn({"family": 64, "name": "Istor", "flash": "SD/MMC", "io_voltage": "1.8V",
                       "flow": "SDM"}, with_sdmmc)

    def test_list_filters_by_family_voltage_and_scheme(self):
        everything = self.devices()
        self.assertEqual(sum(row["source"] == "golden" for row in everything.values()),
                         GOLDEN_QSPI_DEVICES)
        jorra = self.devices("--family", "jorra")  # names in any case
        self.assertTrue(jorra)
        self.assertEqual({row["io_voltage"] for row in jorra.values()}, {"1.8V"})
        self.assertNotIn("KVRN256U", jorra)  # scheme 13 cannot drive the KVRN line
        self.assertIn("KVRN256U", self.devices("--family", "72", "--scheme", "7"))
        unfiltered = self.devices("--family", "72", "--all")
        self.assertIn("GF25M128L", unfiltered)
        self.assertEqual(set(unfiltered), set(everything))

    def test_list_rows(self):
        rows = self.devices()
        self.assertEqual(rows["GF25M128L"], {
            "name": "GF25M128L", "id": "0x20 0xBA 0x18", "io_voltage": "3.0V/3.3V",
            "density": "128Mb", "dies": 1, "template": "Micron", "source": "golden",
            "removable": False, "folder": os.path.join(self.host, "xml") + "/"})
        self.assertEqual(rows["SQD128"]["source"], "legacy")
        self.assertIsNone(rows["SQD128"]["id"])

    def test_people_output_fits_the_screen(self):
        for args in (["families"], ["list"], ["list", "--family", "Brisca"], ["templates"],
                     ["show", "GF25M128L"], ["show-template", "Macronix"]):
            with self.subTest(args=args):
                self.assert_fits_screen(self.ok(*args).stdout)
        listing = self.ok("list").stdout.splitlines()
        header = listing[1].split()
        self.assertEqual(header, ["NAME", "ID", "I/O", "SIZE", "DIES", "TEMPLATE", "FROM",
                                  "REMOVABLE"])
        row = next(line for line in listing if line.startswith("GF25M128L "))
        self.assertEqual(row.index("0x20"), listing[1].index("ID"))  # aligned

    def test_show_every_parameter_and_the_flow_in_run_order(self):
        device = self.json_of("show", "GF25M128L")
        self.assertEqual(device["parameters"], {
            "name": "GF25M128L", "id": "0x20 0xBA 0x18", "io_voltage": "3.0V/3.3V",
            "density": "128Mb", "total_die": 1, "dummy_clock_cycle": 8,
            "dummy_clock_cycle_x4": 10, "template_name": "", "prog_flow_template": "Micron"})
        self.assertEqual(device["density_bytes"], 16 * 1024 * 1024)
        for flow in ("sfl", "sdm"):
            self.assertEqual([op["operation"] for op in device["flows"][flow]],
                             ["Initialization", "Program", "Erase",
                              "Verify/Blank-Check/Examine", "Termination"])
        first = device["flows"]["sfl"][0]["actions"][0]
        self.assertEqual(first["type"], "Write Register")
        self.assertEqual([(p["label"], p["value"]) for p in first["properties"]][:2],
                         [("Name:", "Reset enable"), ("Command:", "0x66")])

        people = self.ok("show", "GF25M128L", "--flow", "sdm").stdout
        self.assertIn("Programming flow template  Micron", people)
        self.assertIn("SDM flow", people)
        self.assertNotIn("SFL flow", people)
        self.assertIn("1.1 Write Register: Reset enable", people)
        self.assertIn("Command: 0x66", people)

    def test_show_other_kinds_and_unknown_names(self):
        legacy = self.json_of("show", "KVRN16")
        self.assertEqual((legacy["source"], legacy["io_voltage"]), ("legacy", "3.0V/3.3V"))
        card = self.json_of("--set", "pgm_enable_sdmmc=on", "show", "GFSD2G")
        self.assertEqual(card["flash"], "SD/MMC")
        self.assertEqual(set(card["parameters"]), {"name", "io_voltage", "density"})
        self.assertEqual(card["flows"], {})
        missing = self.gfpdb("show", "GF_NONE")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("no device 'GF_NONE'", missing.stderr)

    def test_templates(self):
        rows = {row["name"]: row for row in self.json_of("templates")["templates"]}
        self.assertEqual(list(rows), ["Micron", "Macronix", "Cypress", "Winbond"])
        self.assertEqual(rows["Micron"]["kind"], "golden")
        self.assertEqual(sum(row["devices"] for row in rows.values()), GOLDEN_QSPI_DEVICES)
        shown = self.json_of("show-template", "Micron", "--flow", "sfl")
        self.assertEqual(list(shown["flows"]), ["sfl"])
        actions = sum(len(op["actions"]) for op in shown["flows"]["sfl"])
        self.assertEqual(actions, rows["Micron"]["sfl_actions"])
        self.assertEqual(self.gfpdb("show-template", "Nobody").returncode, 1)


class Json(CliCase):
    """Errors are JSON documents too."""

    ERRORS = [
        # arguments, exit status, message, id
        (["show", "GF_NONE"], 1, "no device 'GF_NONE'", None),
        (["add", "GF_E", "--id", "0x01", "--voltage", "1.8V", "--density", "300Mb",
          "--template", "Micron"], 1, "--density rejected: Device density '300Mb'", 20478),
        (["--host-dir", "nowhere", "families"], 2, "is no usable host folder", None),
        (["list", "--bogus"], 2, "--bogus", None),
    ]

    def test_errors_are_documents_too(self):
        for args, status, message, message_id in self.ERRORS:
            with self.subTest(args=args):
                result = self.gfpdb("--json", *args)
                self.assertEqual(result.returncode, status)
                error = json.loads(result.stdout)["error"]
                self.assertIn(message, error["message"])
                self.assertEqual(error["id"], message_id)


class Check(CliCase):
    """check reports what loading a file would keep and drop."""

    def setUp(self):
        super().setUp()
        self.files = os.path.join(self.tmp, "files")
        os.mkdir(self.files)
        # A device file written by the program itself, as the pattern of the files below.
        mine = os.path.join(self.tmp, "mine")
        self.ok("--custom-dir", mine, "add", "GF_GOOD", "--id", "0xEF 0x40 0x18", "--voltage",
                "3.0V/3.3V", "--density", "128Mb", "--template", "Winbond", "--save-template",
                "T_GOOD", custom=False)
        with open(os.path.join(mine, "pgm_flash_GF_GOOD.xml")) as f:
            text = f.read()
        self.flash = text[text.index("  <FLASH>"):text.index("</QSPI_FLASH>")]
        with open(os.path.join(mine, "pgm_flash_template_T_GOOD.xml")) as f:
            text = f.read()
        self.template = text[text.index("  <USER_TEMPLATE>"):text.index("</QSPI_FLASH>")]

    def write(self, name, *records, root="QSPI_FLASH"):
        """Writes a database file; returns its path as the program is given it."""
        with open(os.path.join(self.files, name), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<%s version="1">\n%s</%s>\n'
                    % (root, "".join(records), root))
        return os.path.join("files", name)

    def device(self, name, device_id="0xEF 0x40 0x18"):
        return self.flash.replace(">GF_GOOD<", ">%s<" % name).replace(
            ">0xEF 0x40 0x18<", ">%s<" % device_id)

    def user_template(self, name):
        return self.template.replace(">T_GOOD<", ">%s<" % name)

    def check(self, *paths):
        result = self.gfpdb("--json", "check", *paths)
        return result.returncode, json.loads(result.stdout)

    def states(self, report, kind):
        return [(entry["name"], entry["state"]) for entry in report[kind]]

    def test_good_file(self):
        path = self.write("pgm_flash_good.xml", self.device("GF_A"), self.user_template("T_A"))
        status, document = self.check(path)
        self.assertEqual(status, 0)
        report = document["files"][0]
        self.assertEqual((report["ok"], report["findings"]), (True, []))
        self.assertEqual(self.states(report, "devices"), [("GF_A", "loads")])
        self.assertEqual(self.states(report, "templates"), [("T_A", "loads")])
        people = self.ok("check", path).stdout
        self.assertIn(path + ": OK, QSPI file, loads 1 device, 1 template", people)

    # One fault each in the second of three devices: text replaced, the first finding's
    # severity, message and allowed values, how often it occurs. The line is where the new
    # text first stands.
    FAULTS = [
        (">128Mb<", ">300Mb<", "warning", "Device density '300Mb' is invalid.",
         "1Mb, 2Mb, 4Mb, 8Mb, 16Mb, 32Mb, 64Mb, 128Mb, 256Mb, 512Mb, 1024Mb, 2048Mb", 1),
        ("<DUMMY_CLOCK_CYCLE_X4>8<", "<DUMMY_CLOCK_CYCLE_X4>16<", "warning",
         "Device dummy clock cycle '16' is invalid.", "0 to 15", 1),
        (">0x66<", ">0x9G<", "warning", "Action command '0x9G' is invalid.",
         "one byte, 0x00 to 0xFF or 0 to 255", 3),
        ("<BUS_WIDTH>1-1</BUS_WIDTH>", "<BUS_WIDTH>2-2</BUS_WIDTH>", "warning",
         "Action bus width '2-2' is invalid.", "1-1", None),
        ("<TOTAL_DEVICE_DIE>1</TOTAL_DEVICE_DIE>", "<TOTAL_DEVICES>1</TOTAL_DEVICES>", "error",
         "TOTAL_DEVICES", None, 1),
        # Loading keeps these two; add would refuse them.
        (">GF_2<", ">GF-Q_1.2<", "note", "Device name 'GF-Q_1.2' is invalid",
         "letters, digits and _ only, not db; such as GF_Q_1_2", 1),
        ("<PROG_FLOW_TEMPLATE>Winbond<", "<PROG_FLOW_TEMPLATE>Nobody<", "note",
         "Programming flow template 'Nobody' is invalid.", "Cypress, Macronix, Micron, Winbond",
         1),
    ]

    def test_each_fault_at_its_line_with_what_is_allowed(self):
        for old, new, severity, message, allowed, count in self.FAULTS:
            with self.subTest(new=new):
                text = (self.device("GF_1") +
                        self.device("GF_2").replace(old, new, 1 if count == 1 else -1) +
                        self.device("GF_3"))
                path = self.write("pgm_flash_fault.xml", text)
                with open(os.path.join(self.tmp, path)) as f:
                    lines = f.read().splitlines()
                line = next(n for n, t in enumerate(lines, 1) if new in t)

                def line_of_name(name):
                    return lines.index("      <DEVICE_NAME>%s</DEVICE_NAME>" % name) + 1
                status, document = self.check(path)
                self.assertEqual(status, 0 if severity == "note" else 1)
                finding = document["files"][0]["findings"][0]
                self.assertEqual((finding["line"], finding["severity"]), (line, severity))
                self.assertIn(message, finding["message"])
                self.assertEqual(finding["allowed"], allowed)
                if count:
                    self.assertEqual(finding["count"], count)
                else:
                    self.assertGreater(finding["count"], 1)  # identical ones folded
                if severity == "warning":  # the values are put to the validators one by one
                    # and the device after GF_2 is named as dropped because of it.
                    after = document["files"][0]["findings"][1:]
                    self.assertEqual([(f["place"], f["line"]) for f in after],
                                     [("device GF_3", line_of_name("GF_3"))])
                    self.assertIn("device GF_2 (line %d) failed" % line_of_name("GF_2"),
                                  after[0]["message"])
                people = self.gfpdb("check", path).stdout
                self.assertIn("%s:%d: %s: " % (path, line, severity), people)
                self.assert_fits_screen(people)

    def test_every_bad_value_in_one_pass(self):
        bad = self.device("GF_1").replace(">128Mb<", ">300Mb<").replace(">start<", ">up<")
        path = self.write("pgm_flash_bad.xml", bad, self.device("GF_2", "0x100"),
                          self.user_template("T_BAD").replace(">0x66<", ">0x1G<"))
        status, document = self.check(path)
        self.assertEqual(status, 1)
        report = document["files"][0]
        self.assertEqual([(f["id"], f["place"].split(",")[0]) for f in report["findings"]],
                         [(20478, "device GF_1"), (20507, "device GF_1"), (20477, "device GF_2"),
                          (20486, "template T_BAD")])
        self.assertTrue(report["findings"][1]["place"].startswith("device GF_1, SFL 3."))
        self.assertEqual(self.states(report, "devices"), [("GF_1", "dropped"), ("GF_2", "dropped")])
        self.assertEqual(self.states(report, "templates"), [("T_BAD", "dropped")])

    def test_long_reports_are_cut_for_people(self):
        path = self.write("pgm_flash_many.xml", *[
            self.device("GF_%d" % i).replace(">128Mb<", ">%dMb<" % (300 + i)) for i in range(22)])
        people = self.gfpdb("check", "--no-lint", path).stdout
        self.assertEqual(people.count(": warning: "), 20)
        self.assertIn("... and 2 more (see --json)", people)
        self.assertEqual(len(self.check(path)[1]["files"][0]["findings"]), 22)

    def test_duplicates_within_and_across_files(self):
        inside = self.write("pgm_flash_dup.xml", self.device("GF_D"), self.device("GF_D"),
                            self.user_template("T_D"), self.user_template("T_D"))
        status, document = self.check(inside)
        report = document["files"][0]
        self.assertEqual(status, 1)
        self.assertEqual(self.states(report, "devices"), [("GF_D", "loads"), ("GF_D", "dropped")])
        # A file's templates load only when all of its devices do.
        self.assertEqual(self.states(report, "templates"), [("T_D", "dropped")] * 2)
        # The message names the file's own folder, not the copy the check loaded.
        self.assertEqual(report["findings"][0]["message"],
                         "Found duplicate flash device names 'GF_D' in the %s/ directory."
                         % self.files)
        os.remove(os.path.join(self.tmp, inside))
        first = self.write("pgm_flash_a.xml", self.device("DUPNAME"), self.user_template("T_X"))
        second = self.write("pgm_flash_b.xml", self.device("DUPNAME"), self.device("GF_AFTER"))
        third = self.write("pgm_flash_c.xml", self.user_template("T_X"))
        status, document = self.check("files")
        self.assertEqual(status, 1)
        reports = {r["path"]: r for r in document["files"]}
        self.assertTrue(reports[first]["ok"])
        duplicate = reports[second]["findings"][0]
        self.assertEqual((duplicate["id"], duplicate["line"], duplicate["also"]),
                         (20482, 5, first + ":5"))
        self.assertEqual(self.states(reports[second], "devices"),
                         [("DUPNAME", "dropped"), ("GF_AFTER", "dropped")])
        self.assertEqual(self.states(reports[third], "templates"), [("T_X", "dropped")])
        self.assertIn(first + ":", reports[third]["findings"][0]["also"])
        self.assertIn("3 files checked, 2 failed", self.gfpdb("check", "files").stdout)

    def test_against_the_host_folder(self):
        # A host user template of the same name wins; a built-in device name hides the device.
        shutil.copy(os.path.join(self.tmp, self.write("pgm_flash_host.xml",
                                                      self.user_template("T_HOST"))),
                    os.path.join(self.host, "xml"))
        path = self.write("pgm_flash_against.xml", self.device("SQD128"),
                          self.user_template("T_HOST"))
        status, document = self.check(path)
        self.assertEqual(status, 1)
        self.assertEqual(self.states(document["files"][0], "devices"), [("SQD128", "hidden")])
        self.assertEqual(self.states(document["files"][0], "templates"), [("T_HOST", "dropped")])

    def test_what_is_checked_and_the_exit_status(self):
        self.write("pgm_flash_card.xml",
                   "<FLASH><DEVICE_INFO><DEVICE_NAME>MYSD</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V"
                   "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>3GB</DEVICE_DENSITY></DEVICE_INFO>"
                   "</FLASH>", root="SDMMC_FLASH")
        os.mkdir(os.path.join(self.tmp, "empty"))
        with open(os.path.join(self.tmp, "empty", "notes.txt"), "w"):
            pass
        cases = [
            # paths, exit status, what the output says
            ([self.write("pgm_flash_a.xml", self.device("GF_A"))], 0, "OK"),
            ([self.write("mydevice.xml", self.device("GF_M"))], 1, "pgm_flash_*.xml"),
            (["files/pgm_flash_card.xml"], 1, "Allowed: 1GB, 2GB"),
            (["empty"], 1, "0 files checked"),
            (["nowhere"], 1, "no such file or folder"),
            (["files/pgm_flash_a.xml", "nowhere"], 1, "2 files checked, 1 failed"),
        ]
        for paths, status, text in cases:
            with self.subTest(paths=paths):
                result = self.gfpdb("check", *paths)
                self.assertEqual(result.returncode, status, result.stdout)
                self.assertIn(text, " ".join(result.stdout.split()))

    def test_check_changes_nothing(self):
        path = self.write("pgm_flash_bad.xml", self.device("GF_1", "0x100"))
        before = self.snapshot()
        self.assertEqual(self.check(path)[0], 1)
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(os.listdir(self.scratch), [])
        self.assertNotIn("GF_1", self.devices())

    def test_read_commands_name_the_files_they_skip(self):
        shutil.copy(os.path.join(self.tmp, self.write(
            "pgm_flash_v.xml", self.device("GF_V").replace(">128Mb<", ">300Mb<"))), self.custom)
        shutil.copy(os.path.join(self.tmp, self.write(
            "pgm_flash_s.xml", "<FLASH/>")), self.custom)
        result = self.ok("list")
        self.assertEqual(result.stderr.count("gfpdb: skipped custom/pgm_flash_s.xml: "), 1)
        self.assertIn("custom/pgm_flash_v.xml: Warning (20478): Device density '300Mb'",
                      result.stderr)
        self.assertIn("gfpdb check", result.stderr)


class AddDelete(CliCase):
    """add and delete leave the folders as they were, and refuse what they must."""

    def test_add_list_show_delete_round_trip(self):
        before = self.snapshot()
        added = self.ok("add", "GF_T", "--id", "0x01 0x02", "--voltage", "1.8V", "--density",
                        "512Mb", "--dies", "2", "--dummy", "10", "--dummy-x4", "6", "--template",
                        "Macronix", "--save-template", "MY_FLOW")
        # People read paths under the working folder relative to it.
        self.assertEqual(added.stdout.splitlines()[0],
                         "Added GF_T to custom/pgm_flash_GF_T.xml")
        row = self.devices("--family", "Jorra")["GF_T"]
        self.assertEqual((row["source"], row["removable"], row["template"]),
                         ("custom", True, "Macronix"))
        self.assertNotIn("GF_T", self.devices("--family", "Brisca"))  # a 3.0V/3.3V family
        templates = {row["name"]: row for row in self.json_of("templates")["templates"]}
        self.assertEqual(templates["MY_FLOW"]["kind"], "user")
        shown = self.json_of("show", "GF_T")
        self.assertEqual(shown["flows"], self.json_of("show-template", "Macronix")["flows"])
        self.assertEqual(self.json_of("show-template", "MY_FLOW")["flows"], shown["flows"])
        parameters = shown["parameters"]
        self.assertEqual((parameters["total_die"], parameters["dummy_clock_cycle"],
                          parameters["dummy_clock_cycle_x4"]), (2, 10, 6))
        # A new device may follow the user template; unset numbers take their defaults.
        self.assertEqual(self.add("GF_U", template="MY_FLOW").returncode, 0)
        defaults = self.json_of("show", "GF_U")["parameters"]
        self.assertEqual((defaults["total_die"], defaults["dummy_clock_cycle_x4"]), (1, 8))
        self.ok("delete", "GF_U")
        self.ok("delete-template", "MY_FLOW")
        self.assertIn("Deleted GF_T", self.ok("delete", "GF_T").stdout)
        self.assertEqual(self.snapshot(), before)
        self.assertEqual(self.gfpdb("show", "GF_T").returncode, 1)

    def test_sfdp_decodes_and_drafts_a_device(self):
        dump = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sfdp",
                            "w25q128jv_ef4018.hex")
        decoded = self.json_of("sfdp", dump)  # the decoding itself has the library's tests
        self.assertEqual((decoded["density"], decoded["erase_types"][0]["opcode"]),
                         ("128Mb", "0x20"))
        self.assertIn({"mode": "1-4-4", "opcode": "0xEB", "dummy": 6},
                      [{key: row[key] for key in ("mode", "opcode", "dummy")}
                       for row in decoded["reads"]])
        self.assert_fits_screen(self.ok("sfdp", dump).stdout)
        before = self.snapshot()
        given = ("--id", "0xEF 0x40 0x18", "--voltage", "3.0V/3.3V", "--dummy-x4", "4")
        self.assert_fits_screen(self.ok("add", "GF_S", "--sfdp", dump, *given,
                                        "--dry-run").stdout)
        self.assertEqual(self.snapshot(), before)
        rows = {row["what"]: row for row in
                self.json_of("add", "GF_S", "--sfdp", dump, *given)["drafted"]}
        self.assertEqual([rows[what]["source"] for what in ("Density", "x4 dummy clock cycles",
                                                            "Template")],
                         ["SFDP", "option", "ID"])
        parameters = self.json_of("show", "GF_S")["parameters"]
        self.assertEqual((parameters["density"], parameters["dummy_clock_cycle_x4"]),
                         ("128Mb", 4))

    REJECTED = [
        # option, value, what standard error says
        ("--id", "0xZZ", "--id rejected: Device ID '0xZZ' is invalid."),
        ("--voltage", "5V", "--voltage rejected: Device I/O voltage '5V' is invalid."),
        ("--density", "3Mb", "--density rejected: Device density '3Mb' is invalid."),
        ("--dies", "0", "--dies rejected: Total device die '0' is invalid."),
        ("--dummy", "16", "--dummy rejected: Device dummy clock cycle '16' is invalid."),
        ("--dummy-x4", "99", "--dummy-x4 rejected: Device dummy clock cycle '99' is invalid."),
        ("--template", "Nobody",
         "--template rejected: Programming flow template 'Nobody' is invalid."),
        ("--save-template", "Micron", "--save-template rejected: Template name 'Micron'"),
        # the library would write the device first, then refuse its template
        ("--save-template", "GF_R", "cannot take the device's own name"),
    ]

    def test_rejected_value_writes_nothing(self):
        before = self.snapshot()
        for option, value, text in self.REJECTED:
            with self.subTest(option=option, value=value):
                values = {"--id": "0xEF 0x40 0x18", "--voltage": "3.0V/3.3V",
                          "--density": "128Mb", "--template": "Winbond", option: value}
                args = [arg for pair in values.items() for arg in pair]
                result = self.gfpdb("add", "GF_R", *args)
                self.assertEqual(result.returncode, 1)
                self.assertIn(text, result.stderr)
                self.assertEqual(self.snapshot(), before)

    def test_rejected_name_once_with_a_suggestion(self):
        for name, text in (("AT25DF641(A)", "such as AT25DF641_A."),
                           ("MX25L6405D/MX25L6406E", "such as MX25L6405D_MX25L6406E."),
                           ("Micron", "such as Micron_1."), ("db", "not db; such as db_1.")):
            with self.subTest(name=name):
                result = self.add(name)
                self.assertEqual(result.returncode, 1)
                self.assertIn("gfpdb: NAME rejected: Device name '%s'" % name, result.stderr)
                self.assertIn(text, result.stderr)
                self.assertNotIn("Warning (", result.stderr)  # said once, by the command

    def test_host_folder_and_refusals(self):
        before = self.snapshot()
        self.ok("add", "GF_H", "--id", "0x01", "--voltage", "1.8V", "--density", "1Mb",
                "--template", "Cypress", "--to", "host")
        self.assertEqual(self.devices()["GF_H"]["source"], "host")
        # The same name in the custom folder hides the host copy, which cannot be deleted then.
        shutil.copy(os.path.join(self.host, "xml", "pgm_flash_GF_H.xml"), self.custom)
        self.assertEqual(self.devices()["GF_H"]["source"], "custom")
        refused = self.gfpdb("delete", "GF_H", "--from", "host")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("lies in the custom folder", refused.stderr)
        self.assertEqual(self.json_of("delete", "GF_H")["now_from"], "host")
        self.ok("delete", "GF_H", "--from", "host")
        self.assertEqual(self.snapshot(), before)

        for args, text in ((["delete", "GF25M128L"], "golden device"),
                           (["delete", "KVRN16"], "built-in device"),
                           (["delete", "GF_NONE"], "no device"),
                           (["delete-template", "Micron"], "golden template"),
                           (["delete-template", "T_NONE"], "no user template")):
            with self.subTest(args=args):
                result = self.gfpdb(*args)
                self.assertEqual(result.returncode, 1)
                self.assertIn(text, result.stderr)
        # A custom "folder" that is a file refuses the save.
        open(os.path.join(self.tmp, "a-file"), "w").close()
        refused = self.gfpdb("--custom-dir", "a-file", "add", "GF_F", "--id", "0x01",
                             "--voltage", "1.8V", "--density", "1Mb", "--template", "Cypress",
                             custom=False)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("Warning (20560): Failed to update the device database", refused.stderr)
        self.assertIn("could not save 'GF_F'", refused.stderr)
        # The test's settings file stores no custom folder.
        no_custom = self.gfpdb("add", "GF_N", "--id", "0x01", "--voltage", "1.8V", "--density",
                               "1Mb", "--template", "Cypress", custom=False)
        self.assertEqual(no_custom.returncode, 1)
        self.assertIn("no custom folder is set", no_custom.stderr)


class Config(CliCase):
    """The custom folder kept in the user settings file."""

    def test_store_and_use_the_custom_folder(self):
        self.assertIsNone(self.json_of("config", "custom-dir", custom=False)["custom_folder"])
        self.assertFalse(os.path.exists(self.env["GFPDB_USER_INI"]))  # reading writes nothing
        stored = self.json_of("config", "custom-dir", "my/db", custom=False)
        folder = os.path.join(self.tmp, "my", "db") + "/"
        self.assertEqual(stored["custom_folder"], folder)
        self.assertTrue(os.path.isdir(folder))
        with open(self.env["GFPDB_USER_INI"]) as f:
            self.assertIn(folder, f.read())
        result = self.gfpdb("add", "GF_CFG", "--id", "0x01", "--voltage", "1.8V", "--density",
                            "1Mb", "--template", "Cypress", custom=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(os.path.join(folder, "pgm_flash_GF_CFG.xml")))
        row = self.devices(custom=False)["GF_CFG"]
        self.assertEqual((row["source"], row["folder"]), ("custom", folder))
        # --custom-dir wins over the settings file.
        self.assertNotIn("GF_CFG", self.devices())


class Lint(CliCase):
    """lint reports each finding at the line of its action, in three formats."""

    # One fault per row: the text changed in a device file that add wrote, the rule, the
    # severity, and the element whose line the finding names.
    FAULTS = [
        ("<ADDRESSING_MODE>3</ADDRESSING_MODE>", "<ADDRESSING_MODE>4</ADDRESSING_MODE>",
         "address-mode", "error", "<ACTION"),
        ('<DELAY unit="us">50<', '<DELAY unit="us">0<', "reset-sequence", "error", "<ACTION"),
        ("<ACT_DUMMY_CLOCK_CYCLE>8<", "<ACT_DUMMY_CLOCK_CYCLE>4<", "read-dummy", "error",
         "<ACTION"),
        ("<DEVICE_ID>0xEF 0x40 0x18<", "<DEVICE_ID>0xEF 0x40 0x17<", "id-capacity", "warning",
         "<DEVICE_ID"),
    ]

    def faulty_file(self):
        """A device file with every fault above; the expected (line, rule, severity) list."""
        self.ok("add", "GF_L", "--id", "0xEF 0x40 0x18", "--voltage", "3.0V/3.3V",
                "--density", "128Mb", "--template", "Winbond")
        path = os.path.join(self.custom, "pgm_flash_GF_L.xml")
        with open(path) as f:
            text = f.read()
        expected = []
        for old, new, rule, severity, element in self.FAULTS:
            at = text.index(old)
            text = text[:at] + new + text[at + len(old):]
            line = text.count("\n", 0, text.rindex(element, 0, at + len(element))) + 1
            expected.append((line, rule, severity))
        with open(path, "w") as f:
            f.write(text)
        return path, sorted(expected)

    def test_findings_at_their_lines_in_every_format(self):
        path, expected = self.faulty_file()
        for args in (["lint"], ["lint", path]):
            with self.subTest(args=args):
                result = self.gfpdb(*args)
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = result.stdout.splitlines()
                self.assertEqual(lines[-1], "3 errors, 1 warnings")
                found = []
                for line in lines[:-1]:
                    self.assertTrue(line.startswith("custom/pgm_flash_GF_L.xml:"), line)
                    number, rest = line.split(":")[1], line.split(": ", 1)[1]
                    found.append((int(number), rest[rest.rindex("[") + 1:-1],
                                  rest.split(":")[0]))
                self.assertEqual(found, expected)
        document = json.loads(self.gfpdb("--json", "lint").stdout)
        self.assertEqual((document["errors"], document["warnings"]), (3, 1))
        first = document["findings"][0]
        self.assertEqual(sorted(first), sorted(["rule", "severity", "file", "line", "device",
                                                "flow", "operation", "action", "message"]))
        self.assertEqual(first["device"], "GF_L")
        sarif = json.loads(self.gfpdb("lint", "--sarif").stdout)
        self.assertEqual(sarif["version"], "2.1.0")
        run = sarif["runs"][0]
        rules = [rule["id"] for rule in run["tool"]["driver"]["rules"]]
        self.assertIn("address-mode", rules)
        for result in run["results"]:
            self.assertEqual(rules[result["ruleIndex"]], result["ruleId"])
            self.assertIn(result["level"], ("error", "warning", "note"))
            self.assertTrue(result["message"]["text"])
            location = result["locations"][0]["physicalLocation"]
            self.assertEqual(location["artifactLocation"]["uri"], "custom/pgm_flash_GF_L.xml")
            self.assertGreater(location["region"]["startLine"], 0)
        self.assertEqual(sorted(r["region"]["startLine"] for r in [
            res["locations"][0]["physicalLocation"] for res in run["results"]]),
            [line for line, _, _ in expected])

    def test_disable_check_and_usage(self):
        path, _ = self.faulty_file()
        self.assertEqual(self.ok("lint", "--host-dir", DATA, custom=False).stdout,
                         "0 errors, 0 warnings\n")
        disabled = ["--disable", "address-mode", "--disable", "reset-sequence", "--disable",
                    "read-dummy"]
        self.assertEqual(self.ok("lint", *disabled).stdout.splitlines()[-1],
                         "0 errors, 1 warnings")
        self.assertEqual(self.gfpdb("lint", "--disable", "bogus").returncode, 2)
        checked = self.gfpdb("check", path)
        self.assertEqual(checked.returncode, 1)
        self.assertIn("[address-mode]", checked.stdout)
        self.assertEqual(self.gfpdb("check", "--no-lint", path).returncode, 0)
        # show prints the findings under the flows.
        self.assertIn("[reset-sequence]", self.gfpdb("show", "GF_L").stdout)

    def test_add_refuses_flows_that_do_not_fit(self):
        self.ok("add", "GF_S", "--id", "0xEF 0x40 0x18", "--voltage", "3.0V/3.3V", "--density",
                "128Mb", "--template", "Winbond", "--save-template", "T_3BYTE")
        # Fitted to 3-byte addresses: the SFL flow of the golden 16 Mbit Winbond part.
        self.assertEqual(self.json_of("show", "GF_S")["flows"]["sfl"],
                         self.json_of("show", "GF25W016L")["flows"]["sfl"])
        before = self.snapshot()
        big = ["add", "GF_BIG", "--id", "0xEF 0x40 0x19", "--voltage", "3.0V/3.3V",
               "--density", "256Mb", "--template", "T_3BYTE"]
        refused = self.gfpdb(*big)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("GF_BIG SFL Program action 2: error: ", refused.stderr)
        self.assertIn("[address-mode]", refused.stderr)
        self.assertEqual(self.snapshot(), before)
        forced = self.ok(*big, "--force")
        self.assertIn("custom/pgm_flash_GF_BIG.xml:", forced.stdout)


def main():
    global GFPDB, DATA
    parser = argparse.ArgumentParser()
    parser.add_argument("--gfpdb", required=True)
    parser.add_argument("--data", required=True)
    arguments, rest = parser.parse_known_args()
    GFPDB = os.path.abspath(arguments.gfpdb)
    DATA = os.path.abspath(arguments.data)
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
