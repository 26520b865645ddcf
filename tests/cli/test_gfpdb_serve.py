#!/usr/bin/env python3
"""The JSON API of `gfpdb serve`, over HTTP against the built program in throw-away folders:
reading, checking, creating, editing and deleting, and the refusals.

    test_gfpdb_serve.py --gfpdb build/cli/gfpdb --data data
"""
import argparse
import http.client
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_support import Server  # noqa: E402

ARGS = None
NEW = {"id": "0xEF 0x40 0x18", "io_voltage": "3.0V/3.3V", "density": "128Mb", "total_die": "1",
       "dummy_clock_cycle": "8", "dummy_clock_cycle_x4": "8", "prog_flow_template": "Winbond"}
DELAY = 3  # the Write Register delay property, the first action of every bundled flow


def edited(device, delay):
    """A PUT body: the device as read, with the first action's delay changed."""
    flows = {key: [{"type": op["type"], "actions": [
        {"type": a["type"], "properties": [{"property": p["property"], "value": p["value"]}
                                           for p in a["properties"]]} for a in op["actions"]]}
        for op in ops] for key, ops in device["flows"].items()}
    flows["sfl"][0]["actions"][0]["properties"][DELAY]["value"] = delay
    parameters = {p["key"]: p["value"] for p in device["parameters"] if p["key"] != "name"}
    return {"parameters": parameters, "flows": flows}


class ServeApi(unittest.TestCase):
    def setUp(self):
        self.server = Server(ARGS.gfpdb, ARGS.data)

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
        read = lambda name: json.loads(self.call("GET", "/api/devices/" + name)[1])  # noqa: E731
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
            ("PUT", "/api/devices/GF25W256L", lambda: edited(read("GF25W256L"), "10"), {}, 409,
             ["golden"]),
            ("DELETE", "/api/devices/GF25W256L", None, {}, 409, ["golden"]),
            ("POST", "/api/templates", lambda: dict(name="T1", **edited(read("NEW1"), "7")), {},
             201, ["pgm_flash_template_T1.xml"]),
            ("GET", "/api/templates", None, {}, 200, ['"name":"T1","kind":"user"']),
            ("DELETE", "/api/templates/Micron", None, {}, 404, ["golden template"]),
            ("DELETE", "/api/templates/T1", None, {}, 200, ['"deleted_template":"T1"']),
            ("DELETE", "/api/devices/NEW1", None, {}, 200, ['"deleted":"NEW1"']),
            ("DELETE", "/api/devices/NEW1", None, {}, 404, ["No device"]),
        ]
        for method, path, body, options, status, texts in rows:
            with self.subTest(method=method, path=path[:60], status=status):
                got, text = self.call(method, path, body() if callable(body) else body, **options)
                self.assertEqual(got, status, text[:300])
                for expected in texts:
                    self.assertIn(expected, text)
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
