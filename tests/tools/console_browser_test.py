#!/usr/bin/env python3
"""kxtool serve in a real browser (headless Chromium driven by Selenium)
against kxsim: open the printed link, see the devices, change a device's
baud rate through the preview and see the read-back, run a batch and watch
its progress, Stop a batch.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run);
exits 77 (skipped) where Chromium, its driver or Selenium is missing. With
KX_CONSOLE_SCREENSHOT=FILE it saves the Site page there as a PNG.
Usage: console_browser_test.py KXTOOL KXSIM
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("SKIP python3-selenium is not installed")
    sys.exit(77)

import kxtool_support
from kxtool_support import (KXTOOL, case, environment, finish, kxtool, start_sim, stop_sim,
                            write_json)

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("SKIP chromium and chromium-driver are not installed")
    sys.exit(77)

kxtool_support.PASSWORD["value"] = None
DEVICES = [
    {"address": "127.0.1.1", "family": 1, "device_id": "0.16.10.0.1.1", "device_name": "PUMP-1"},
    {"address": "127.0.2.1", "family": 16, "device_id": "0.16.11.0.2.1", "device_name": "VALVE-1",
     "baud_rate": 115200},
] + [{"address": f"127.0.1.{n}", "family": 1, "device_id": f"0.16.10.0.1.{n}",
      "device_name": f"SLOW-{n}"} for n in range(3, 9)]
SLOW = [f"127.0.1.{n}" for n in range(3, 9)]
# The SLOW devices answer their logins late: a batch over them runs long
# enough to be watched and stopped.
sim = start_sim("--devices", write_json("devices.json", DEVICES), "--trace",
                *[arg for a in SLOW for arg in ("--fault", f"{a},late=600,on=L")])
serve = subprocess.Popen([KXTOOL, "serve", "--port", "0", "--no-open"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, env=environment())
url = serve.stdout.readline().strip()

options = webdriver.ChromeOptions()
options.binary_location = CHROMIUM
profile = tempfile.mkdtemp()
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1400,900"):
    options.add_argument(flag)
browser = webdriver.Chrome(service=Service(DRIVER), options=options)
wait = WebDriverWait(browser, 30, poll_frequency=0.05)


def text(element_id):
    return browser.find_element(By.ID, element_id).text


def cells(table_id):
    return [[td.text for td in tr.find_elements(By.TAG_NAME, "td")]
            for tr in browser.find_elements(By.CSS_SELECTOR, f"#{table_id} tbody tr")]


def click(element):
    """A click on what the user sees: the element in mid-window, clear of the sticky header."""
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
    element.click()


def open_site():
    """The Site page loaded afresh: nothing chosen, nothing typed."""
    browser.get(url.split("?")[0] + "#site")
    browser.refresh()
    wait.until(lambda b: len(cells("site-table")) == 8)


def choose(device_ids):
    for device_id in device_ids:
        family = 16 if device_id.startswith("0.16.11.") else 1
        click(browser.find_element(By.CSS_SELECTOR, f'input[data-key="{family} {device_id}"]'))


try:
    # The link opens the Site page, which searches at once.
    browser.get(url)
    wait.until(lambda b: len(cells("site-table")) == 8)
    rows = {r[2]: r for r in cells("site-table")}
    case("the link opens the console and the devices show", [
        (browser.current_url == url.split("?")[0], browser.current_url),
        (rows["0.16.10.0.1.1"][1:7] == ["A", "0.16.10.0.1.1", "PUMP-1", "127.0.1.1", "127.0.1.1",
                                        "A-1.07"], str(rows.get("0.16.10.0.1.1"))),
        (rows["0.16.11.0.2.1"][1:4] == ["B", "0.16.11.0.2.1", "VALVE-1"], str(rows)),
        (text("site-count") == "8 device(s), 0 chosen", text("site-count")),
    ])

    # Device page: baud rate 115200 -> 57600, previewed, written, read back.
    click(browser.find_element(By.LINK_TEXT, "VALVE-1"))
    field = '#device-fields tr[data-field="baud_rate"]'
    wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, field + " input"))
    before = browser.find_element(By.CSS_SELECTOR, field).find_elements(By.TAG_NAME, "td")[1].text
    browser.find_element(By.CSS_SELECTOR, field + " input").send_keys("57600")
    click(browser.find_element(By.ID, "device-preview"))
    wait.until(lambda b: b.find_element(By.ID, "device-review").is_displayed())
    preview = cells("device-diff")
    unchanged = kxtool("show", "127.0.2.1", "--json")
    click(browser.find_element(By.ID, "device-write"))
    wait.until(lambda b: b.find_element(By.ID, "device-result").is_displayed())
    after = browser.find_element(By.CSS_SELECTOR, field).find_elements(By.TAG_NAME, "td")[1].text
    shown = kxtool("show", "127.0.2.1", "--json")
    case("a baud rate changed through the preview, then read back", [
        (before == "115200", before),
        (preview == [["baud_rate", "115200", "57600"]], str(preview)),
        (json.loads(unchanged.stdout)["baud_rate"] == 115200, unchanged.stdout[:200]),
        (text("device-result").startswith("Written and read back"), text("device-result")),
        (after == "57600", after),
        (json.loads(shown.stdout)["baud_rate"] == 57600, shown.stdout[:200]),
    ])

    # A batch over two devices, to its end.
    open_site()
    choose(["0.16.10.0.1.1", "0.16.11.0.2.1"])
    click(browser.find_element(By.ID, "site-batch"))
    browser.find_element(By.ID, "batch-value").clear()
    browser.find_element(By.ID, "batch-value").send_keys("38400")
    click(browser.find_element(By.ID, "batch-run"))
    wait.until(lambda b: b.find_element(By.ID, "batch-run").is_enabled() and
               len(cells("batch-results")) == 2)
    results = sorted(r[2] for r in cells("batch-results"))
    case("a batch runs to its end", [
        (text("batch-chosen").startswith("2 device(s) chosen"), text("batch-chosen")),
        (results == ["ok", "ok"], str(cells("batch-results"))),
        (text("batch-progress-text") == "2 ok, 0 failed", text("batch-progress-text")),
    ])

    # A batch over the slow devices: its progress shows device by device,
    # and Stop ends it between devices.
    open_site()
    choose([f"0.16.10.0.1.{n}" for n in range(3, 9)])
    click(browser.find_element(By.ID, "site-batch"))
    browser.find_element(By.ID, "batch-value").clear()
    browser.find_element(By.ID, "batch-value").send_keys("4800")
    click(browser.find_element(By.ID, "batch-run"))
    wait.until(lambda b: b.find_element(By.ID, "batch-progress-text").text.startswith("2 of 6"))
    watched = (text("batch-progress-text"),
               browser.find_element(By.ID, "batch-progress").get_attribute("value"),
               len(cells("batch-results")))
    click(browser.find_element(By.ID, "batch-stop"))
    wait.until(lambda b: b.find_element(By.ID, "batch-run").is_enabled())
    outcome = [r[2] for r in cells("batch-results")]
    case("a batch's progress, and Stop", [
        (watched[0].startswith("2 of 6: ") and watched[1] == "1" and watched[2] == 1, str(watched)),
        (outcome[:2] == ["ok", "ok"] and outcome[-1] == "interrupted" and len(outcome) == 6,
         str(outcome)),
        ("interrupted" in text("batch-progress-text"), text("batch-progress-text")),
    ])

    if os.environ.get("KX_CONSOLE_SCREENSHOT"):
        open_site()
        click(browser.find_element(By.ID, "site-choose-all"))
        click(browser.find_element(By.ID, "site-read"))
        wait.until(lambda b: text("site-message").startswith("read 8 device"))
        click(browser.find_element(By.ID, "site-choose-all"))
        browser.save_screenshot(os.environ["KX_CONSOLE_SCREENSHOT"])
finally:
    browser.quit()
    serve.terminate()
    serve.wait()
    stop_sim(sim)
finish()
