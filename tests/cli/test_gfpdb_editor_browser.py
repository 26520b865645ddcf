#!/usr/bin/env python3
"""The editor page in headless Chromium: create a device from a template, see the library's
refusal of a bad value at its field, fix it, save, reload, find the value again, delete.

    test_gfpdb_editor_browser.py --gfpdb build/cli/gfpdb --data data --shots DIR
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import selenium  # noqa: F401
except ImportError:  # the distribution's package, under an interpreter of another prefix
    sys.path.append("/usr/lib/python3/dist-packages")
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from serve_support import Server

WAIT = 30  # seconds for any one step; a loaded 2-core machine is slow, not stuck
NAME = "E2E_FLASH"
BAD = "0X10"
DELAY_REFUSAL = "Action delay '0X10' is invalid. It contains either an empty string or special characters."


def browser():
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,800", "--force-device-scale-factor=1"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The page itself gets 1280x800, whatever the window's frame takes.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
    driver.set_page_load_timeout(WAIT)
    driver.set_script_timeout(WAIT)
    return driver


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gfpdb", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)

    server = Server(args.gfpdb, args.data)
    driver = None
    try:
        driver = browser()
        wait = WebDriverWait(driver, WAIT)
        find = driver.find_element

        def ready():
            wait.until(lambda d: d.execute_script("return document.body.dataset.ready === '1'"))

        def text_is(locator, expected):
            wait.until(lambda d: d.find_element(*locator).text == expected)

        def delay_input():
            # The first Delay(us) field of the SFL flow, found by its label.
            return driver.execute_script(
                "const l=[...document.querySelectorAll('#flow-sfl label')]"
                ".find(x=>x.textContent==='Delay(us):'); return document.getElementById(l.htmlFor);")

        driver.get(server.page)
        ready()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#device-list tr.row")) > 0)
        driver.save_screenshot(os.path.join(args.shots, "editor-list.png"))

        # A new device from the Winbond template.
        find(By.ID, "new-device").click()
        find(By.ID, "new-name").send_keys(NAME)
        find(By.ID, "new-id").send_keys("0xEF 0x40 0x18")
        find(By.ID, "new-prog_flow_template").send_keys("Winbond")
        find(By.ID, "create-ok").click()
        text_is((By.ID, "device-name"), NAME)
        assert os.path.exists(os.path.join(server.custom, "pgm_flash_%s.xml" % NAME))

        # A bad value: the library's own text under the field; then a good one clears it.
        delay = delay_input()
        delay.clear()
        delay.send_keys(BAD)
        error = find(By.ID, delay.get_attribute("id") + "-error")
        wait.until(lambda d: error.text == DELAY_REFUSAL)
        driver.save_screenshot(os.path.join(args.shots, "editor-refusal.png"))
        delay.clear()
        delay.send_keys("10")
        wait.until(lambda d: error.text == "")

        # Without its write enable the page program gets the lint's finding beside it.
        find(By.CSS_SELECTOR, "[data-action='sfl.1.0'] button.danger").click()
        program = "[data-action='sfl.1.0'] .findings"
        # Read in one step: the lint's answer replaces the node.
        finding = "const n = document.querySelector(arguments[0]); return n ? n.textContent : ''"
        wait.until(lambda d: "[write-enable]" in d.execute_script(finding, program))

        find(By.ID, "save").click()
        wait.until(lambda d: find(By.ID, "confirm").get_attribute("open") is not None)
        assert "pgm_flash_%s.xml" % NAME in find(By.ID, "confirm-text").text
        find(By.ID, "confirm-ok").click()
        wait.until(lambda d: find(By.ID, "status").text.startswith("Saved " + NAME))

        # After a reload the device is listed and keeps its value.
        driver.refresh()
        ready()
        find(By.ID, "search").send_keys(NAME)
        row = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, "tr[data-name='%s']" % NAME))
        row.click()
        text_is((By.ID, "device-name"), NAME)
        wait.until(lambda d: delay_input().get_attribute("value") == "10")
        time.sleep(0.3)  # let the last layout settle before the picture
        driver.save_screenshot(os.path.join(args.shots, "editor-device.png"))
        driver.execute_script("document.querySelector(arguments[0]).closest('section').scrollIntoView()",
                              program)
        wait.until(lambda d: "[write-enable]" in d.execute_script(finding, program))
        driver.save_screenshot(os.path.join(args.shots, "editor-findings.png"))

        find(By.ID, "delete").click()
        wait.until(lambda d: find(By.ID, "confirm").get_attribute("open") is not None)
        find(By.ID, "confirm-ok").click()
        wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, "tr[data-name='%s']" % NAME))
        assert not os.path.exists(os.path.join(server.custom, "pgm_flash_%s.xml" % NAME))
    finally:
        if driver:
            driver.quit()
        status, errors = server.stop()
    if status != 0 or "Sanitizer" in errors or "runtime error" in errors:
        sys.exit("gfpdb serve ended with %d: %s" % (status, errors))
    print("ok; screenshots in " + args.shots)


if __name__ == "__main__":
    main()
