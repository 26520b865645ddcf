#!/usr/bin/env python3
"""The JSON API of `gfpdb serve`, over HTTP against the built program in throw-away folders:
reading, checking, creating, editing and deleting, and the refusals.

    test_gfpdb_serve.py --gfpdb build/cli/gfpdb --data data
"""
import argparse
import base64
import http.client
import json
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_support import Server  # noqa: E402

ARGS = None
NEW = {"id": "0xEF 0x40 0x18", "io_voltage": "3.0V/3.3V", "density": "128Mb", "total_die": "1",
       "dummy_clock_cycle": "8", "dummy_clock_cycle_x4": "8", "prog_flow_template": "Winbond"}
DELAY = 3  # the Write Register delay property, the first action of every bundled flow
PROGRAM_WREN = ("sfl", 1, 0)  # the write enable before the page program
W25Q128 = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sfdp",
                       "w25q128jv_ef4018.hex")


def edited(device, delay=None, drop=None):
    """A PUT body: the device as read, with the first action's delay changed or the action at
    (flow, operation index, action index) `drop` left out."""
    flows = {key: [{"type": op["type"], "actions": [
        {"type": a["type"], "properties": [{"property": p["property"], "value": p["value"]}
                                           for p in a["properties"]]} for a in op["actions"]]}
        for op in ops] for key, ops in device["flows"].items()}
    if delay is not None:
        flows["sfl"][0]["actions"][0]["properties"][DELAY]["value"] = delay
    if drop:
        del flows[drop[0]][drop[1]]["actions"][drop[2]]
    parameters = {p["key"]: p["value"] for p in device["parameters"] if p["key"] != "name"}
    return {"name": device["name"], "parameters": parameters, "flows": flows}


def sfdp_body(name, dump, dry_run=False):
    return {"name": name, "sfdp": base64.b64encode(dump).decode(), "dry_run": dry_run,
            "parameters": {"id": "0xEF 0x40 0x18", "io_voltage": "3.0V/3.3V"}}


class ServeApi(unittest.TestCase):
    def setUp(self):
        self.server = Server(ARGS.gfpdb, ARGS.data, ("--set", "pgm_enable_sdmmc=on"))

    def tearDown(self):
        status, errors = self.server.stop()
        self.assertEqual(status, 0, errors)
        self.assertNotIn("Sanitizer", errors)
        self.assertNotIn("runtime error", errors)

    def call(self, method, path, body=None, token=True, host=None, raw=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=60)
        headers = {"Host": host or "127.0.0.1:%d" % self.server.port}
        if token:
            headers["Authorization"] = "Bearer " + (token if token is not True
                                                    else self.server.token)
        data = raw if raw is not None else (None if body is None else json.dumps(body))
        connection.request(method, path, body=data, headers=headers)
        response = connection.getresponse()
        text = response.read().decode()
        connection.close()
        return response.status, text

    def test_requests(self):
        custom = self.server.custom
        with open(W25Q128, "rb") as dump_file:
            dump = dump_file.read()
        read = lambda name: json.loads(self.call("GET", "/api/devices/" + name)[1])  # noqa: E731

        def blocked(name):
            os.makedirs(os.path.join(custom, "pgm_flash_%s.xml" % name, "keep"))
            return dict(name=name, parameters=NEW)
        # method, path, body (a callable builds it when the row runs), call options,
        # expected status, texts the answer holds
        rows = [
            ("GET", "/api/families", None, {}, 200, ['"io_voltage"', '"schemes"']),
            ("GET", "/api/families", None, {"token": False}, 401, ['"error"']),
            ("GET", "/api/families", None, {"token": "0" * 32}, 401, ['"error"']),
            ("GET", "/api/families", None, {"host": "rebound.example"}, 403, ["Host"]),
            ("GET", "/", None, {"host": "rebound.example:80"}, 403, ["Host"]),
            ("GET", "/", None, {"token": False}, 200, ["<!doctype html>"]),
            ("GET", "/api/devices", None, {}, 200, ['"GF25W256L"', '"legacy"']),
            ("GET", "/api/devices?family=nowhere", None, {}, 400, ["nowhere"]),
            ("GET", "/api/devices/GF25W256L", None, {}, 200, ['"Delay(us):"', '"fixed":true']),
            ("GET", "/api/devices?family=Istor", None, {}, 200, ['"GFEM4G"', '"flash":"SD/MMC"']),
            ("GET", "/api/devices/GFEM4G", None, {}, 200, ['"flash":"SD/MMC"', '"editable":false']),
            ("GET", "/api/devices/..%2F..%2Fxml%2Fpgm_flash_db_qspi", None, {}, 404, ['"error"']),
            ("GET", "/api/templates/Winbond", None, {}, 200, ['"sfl"', '"sdm"']),
            ("POST", "/api/validate", {"property": DELAY, "value": "0X10"}, {}, 200,
             ["Action delay '0X10' is invalid.", '"id":20500']),
            ("POST", "/api/validate", {"property": 4, "value": "1-1-1"}, {}, 200,
             ["Action bus width '1-1-1' is invalid.", '"choices":["1-1"]']),
            ("POST", "/api/validate", {"parameter": "dummy_clock_cycle", "value": "16"}, {}, 200,
             ["Device dummy clock cycle '16' is invalid."]),
            ("POST", "/api/validate", {"parameter": "density", "value": "128Mb"}, {}, 200,
             ['"ok":true', '"2048Mb"']),
            ("POST", "/api/devices", dict(name="../evil", parameters=NEW), {}, 400,
             ["Device name '../evil' is invalid", '"id":20473']),
            ("POST", "/api/devices", None, {"raw": "{" + " " * 300000 + "}"}, 413, ["too large"]),
            ("POST", "/api/devices", None, {"raw": "{not json"}, 400, ["not JSON"]),
            ("POST", "/api/devices", dict(name="NEW1", parameters=NEW), {}, 201,
             ['"source":"custom"', "pgm_flash_NEW1.xml"]),
            ("POST", "/api/devices", dict(name="NEW1", parameters=NEW), {}, 400,
             ["already exist in the device database", '"id":20475']),
            ("PUT", "/api/devices/NEW1", lambda: edited(read("NEW1"), "10x"), {}, 400,
             ["Action delay '10x' is invalid.", '"field":"sfl.0.0.3"']),
            ("PUT", "/api/devices/NEW1", lambda: edited(read("NEW1"), "10"), {}, 200,
             ['"value":"10"']),
            # A program step without its write enable: the finding sits on that action, both
            # for the unsaved edit and for the saved device.
            ("POST", "/api/lint", lambda: edited(read("NEW1"), drop=PROGRAM_WREN), {}, 200,
             ['[[{"rule":"write-enable"', '"operation":"Program","action":1']),
            ("POST", "/api/lint", lambda: edited(read("NEW1"), "1x"), {}, 400, ["'1x' is invalid"]),
            ("PUT", "/api/devices/NEW1", lambda: edited(read("NEW1"), drop=PROGRAM_WREN), {}, 200,
             ['"findings":[{"rule":"write-enable"']),
            ("POST", "/api/devices", sfdp_body("SF1", dump, True), {}, 200,
             ['"what":"Density","value":"128Mb","source":"SFDP"', '"errors":[]']),
            ("POST", "/api/devices", sfdp_body("SF1", dump), {}, 201, ["pgm_flash_SF1.xml"]),
            ("POST", "/api/devices", sfdp_body("SF2", b"SFDP\x06"), {}, 400,
             ['"message":"the SFDP header is cut short: 5 of 16 bytes"', '"field":"sfdp"']),
            ("PUT", "/api/devices/GF25W256L", lambda: edited(read("GF25W256L"), "10"), {}, 409,
             ["golden"]),
            ("DELETE", "/api/devices/GF25W256L", None, {}, 409, ["golden"]),
            ("POST", "/api/templates", lambda: dict(edited(read("NEW1"), "7"), name="T1"), {},
             201, ["pgm_flash_template_T1.xml"]),
            ("GET", "/api/templates", None, {}, 200, ['"name":"T1","kind":"user"']),
            ("PUT", "/api/templates/T1", lambda: edited(read("NEW1"), "8"), {}, 200,
             ['"value":"8"', "pgm_flash_template_T1.xml"]),
            ("PUT", "/api/templates/T1", lambda: edited(read("NEW1"), "8x"), {}, 400,
             ["Action delay '8x' is invalid."]),
            ("GET", "/api/templates/T1", None, {}, 200, ['"value":"8"']),
            ("DELETE", "/api/templates/Micron", None, {}, 404, ["golden template"]),
            ("DELETE", "/api/templates/T1", None, {}, 200, ['"deleted_template":"T1"']),
            ("DELETE", "/api/devices/NEW1", None, {}, 200, ['"deleted":"NEW1"']),
            ("DELETE", "/api/devices/NEW1", None, {}, 404, ["No device"]),
            ("DELETE", "/api/devices/SF1", None, {}, 200, ['"deleted":"SF1"']),
            # A folder where the file goes: the library's refusal; the record it never took
            # is let go (a leak once the next lookup moves on, under the sanitizer).
            ("POST", "/api/devices", lambda: blocked("FSX"), {}, 409,
             ["Could not save 'FSX'", "Failed to update the device database", '"id":20560']),
            ("GET", "/api/devices", None, {}, 200, ['"GF25W256L"']),
        ]
        for method, path, body, options, status, texts in rows:
            with self.subTest(method=method, path=path[:60], status=status):
                got, text = self.call(method, path, body() if callable(body) else body, **options)
                self.assertEqual(got, status, text[:300])
                for expected in texts:
                    self.assertIn(expected, text)
        shutil.rmtree(os.path.join(custom, "pgm_flash_FSX.xml"))
        # Only the two folders were written, and what was deleted is gone.
        self.assertEqual(os.listdir(custom), [])
        self.assertFalse(os.path.exists(os.path.join(self.server.tmp, "evil.xml")))
        self.assertEqual(sorted(os.listdir(self.server.tmp)), ["custom", "host"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--gfpdb", required=True)
    parser.add_argument("--data", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
