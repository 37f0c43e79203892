#!/usr/bin/python3
"""qm7410d's live page in a real browser: headless chromium, driven through chromium-driver, against
the service polling two qm7410-sim meters on a pseudo-terminal. Checks the values the simulator sends,
a change arriving without a reload, a silenced meter shown offline, a phone's width, Chinese, the
page's policy and axe-core's WCAG 2 A/AA rules. Screenshots go to the artifacts folder.

Usage: page_browser_test.py SERVICE SIM WORKDIR ARTIFACTS
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService

LIMIT = 60  # seconds for any condition; CI shares two cores


def wait_for(what, condition, limit=LIMIT):
    end = time.monotonic() + limit
    last = None
    while time.monotonic() < end:
        try:
            last = condition()
            if last:
                return last
        except Exception as e:  # the page may be between two renders
            last = e
        time.sleep(0.2)
    raise AssertionError(f"gave up waiting for {what} after {limit} s (last: {last!r})")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def axe_script(workdir):
    """axe-core from the npm registry, installed once under the build tree; only this test uses it."""
    path = os.path.join(workdir, "node_modules", "axe-core", "axe.min.js")
    if not os.path.exists(path):
        os.makedirs(workdir, exist_ok=True)
        subprocess.run(["npm", "install", "--prefix", workdir, "--no-audit", "--no-fund", "axe-core@4"],
                       check=True, timeout=600)
    with open(path, encoding="utf-8") as f:
        return f.read()


class Sim:
    def __init__(self, exe, link):
        self.proc = subprocess.Popen([exe, "--link", link, "--address", "1,2"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        assert line.startswith("ready "), f"qm7410-sim said {line!r}"

    def command(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        assert answer.startswith("ok"), f"qm7410-sim: {text}: {answer!r}"


def browser(lang, width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ["--headless", "--no-sandbox", "--disable-gpu", f"--window-size={width},{height}", f"--lang={lang}"]:
        options.add_argument(a)
    options.add_experimental_option("prefs", {"intl.accept_languages": lang})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)


def text(driver, element_id):
    return driver.execute_script("const e = document.getElementById(arguments[0]); return e && e.textContent;",
                                 element_id)


def shot(driver, artifacts, name, width):
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(width, min(height + 40, 8000))
    driver.save_screenshot(os.path.join(artifacts, name))


def check_axe(driver, axe):
    driver.execute_script(axe)
    result = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "axe.run(document, {runOnly: {type: 'tag', values: ['wcag2a', 'wcag2aa']}})"
        ".then(r => done(JSON.stringify(r.violations.map(v => ({id: v.id, nodes: v.nodes.map(n => n.html)})))),"
        "      e => done(JSON.stringify([{id: 'axe failed', nodes: [String(e)]}])));")
    violations = json.loads(result)
    assert violations == [], "axe-core found WCAG 2 A/AA violations: " + json.dumps(violations, indent=1)


def summary_row(driver, chart, series):
    """The cells of one series' row of a chart's table in words."""
    return driver.execute_script(
        "for (const r of document.querySelectorAll('#' + arguments[0] + ' table.summary tbody tr'))"
        "  if (r.querySelector('th').textContent === arguments[1])"
        "    return Array.from(r.querySelectorAll('td')).map(c => c.textContent);"
        "return null;", chart, series)


def main():
    service_exe, sim_exe, workdir, artifacts = sys.argv[1:5]
    os.makedirs(artifacts, exist_ok=True)
    axe = axe_script(workdir)
    tmp = tempfile.mkdtemp(prefix="qm-page-")
    started = []
    try:
        sim = Sim(sim_exe, os.path.join(tmp, "link"))
        started.append(sim.proc)
        # Meter 1: Ua 230.50 V, Ia 5.000 A; meter 2: Ub 231.25 V; the rest stays as it is now.
        for c in ["freeze", "@1 measure 0 23050", "@1 measure 2 50000", "@2 measure 8 23125"]:
            sim.command(c)
        port = free_port()
        service = subprocess.Popen([service_exe, "--port", os.path.join(tmp, "link"), "--address", "1,2",
                                    "--interval", "0.5", "--listen", str(port)])
        started.append(service)
        url = f"http://127.0.0.1:{port}/"
        wait_for("the service's page", lambda: urllib.request.urlopen(url + "healthz", timeout=5).status == 200)

        # The headers of every file of the page: a strict policy, no sniffing.
        for path in ["", "page.js", "page.css", "api/state"]:
            with urllib.request.urlopen(url + path, timeout=10) as r:
                policy = r.headers["Content-Security-Policy"]
                assert policy and "default-src 'none'" in policy and "script-src 'self'" in policy, (path, policy)
                assert "unsafe-inline" not in policy, policy
                assert r.headers["X-Content-Type-Options"] == "nosniff", path

        driver = browser("en-US", 1280, 1000)
        try:
            driver.get(url)
            wait_for("both meters' values", lambda: text(driver, "m0-w0") == "230.50 V"
                     and text(driver, "m1-w8") == "231.25 V")
            assert text(driver, "m0-name") == "meter1" and text(driver, "m1-name") == "meter2"
            assert text(driver, "m0-w2") == "5.000 A", text(driver, "m0-w2")
            assert text(driver, "m0-address") == "1" and text(driver, "m1-address") == "2"
            assert text(driver, "m0-status") == "Online", text(driver, "m0-status")
            assert text(driver, "m0-pt") == "1" and text(driver, "m0-ct") == "1"
            assert driver.execute_script("return document.documentElement.lang") == "en"
            # 28 grid cells, the frequency and four energies: the 33 values, each with its unit's text.
            filled = driver.execute_script(
                "return Array.from(document.querySelectorAll('#m0-values td[id], #m0-energy td'))"
                ".filter(c => c.textContent.trim() !== '').length")
            assert filled == 33, filled

            # A change in the simulator reaches the open page; the marker shows it was not reloaded.
            driver.execute_script("window.qmMarker = 7")
            sim.command("@1 measure 0 22000")
            wait_for("the new Ua on the open page", lambda: text(driver, "m0-w0") == "220.00 V")
            assert driver.execute_script("return window.qmMarker") == 7, "the page was reloaded"
            # The day's chart in words holds both: the lowest 220 V and the highest 230.5 V.
            wait_for("Ua's lowest and highest in the chart's table",
                     lambda: (summary_row(driver, "m0-chart0", "Ua") or [])[:2] == ["220 V", "230.5 V"])

            # A silent meter is shown offline, the other stays online.
            sim.command("@2 fault silence:100000")
            wait_for("meter2 offline", lambda: (text(driver, "m1-status") or "").startswith("Offline since"))
            assert text(driver, "m0-status") == "Online"
            assert driver.execute_script("return window.qmMarker") == 7, "the page was reloaded"

            errors = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
            assert errors == [], errors
            check_axe(driver, axe)
            shot(driver, artifacts, "page-wide.png", 1280)

            # A phone: one column and nothing wider than the screen.
            driver.set_window_size(375, 800)
            wait_for("the page at 375 px", lambda: driver.execute_script("return window.innerWidth") <= 375)
            widths = driver.execute_script(
                "const d = document.documentElement; return [d.scrollWidth, d.clientWidth]")
            assert widths[0] <= widths[1], f"horizontal scroll at 375 px: {widths}"
            lefts = driver.execute_script(
                "return Array.from(document.querySelectorAll('.meter')).map(m => m.getBoundingClientRect().left)")
            assert len(set(lefts)) == 1, f"not one column: {lefts}"
            check_axe(driver, axe)
            shot(driver, artifacts, "page-phone.png", 375)
        finally:
            driver.quit()

        # Chinese readers get the window's captions.
        driver = browser("zh-CN", 800, 1000)
        try:
            driver.get(url)
            wait_for("the Chinese page", lambda: text(driver, "m0-w0") == "220.00 V")
            assert driver.execute_script("return document.documentElement.lang") == "zh-CN"
            headers = driver.execute_script(
                "return Array.from(document.querySelectorAll('#m0-values th')).map(h => h.textContent)")
            for caption in ["相电压", "线电压", "功率因数", "合相", "A相/CA线", "频率"]:
                assert caption in headers, (caption, headers)
            assert text(driver, "m0-status") == "在线"
            wait_for("meter2 offline in Chinese", lambda: (text(driver, "m1-status") or "").startswith("离线"))
            check_axe(driver, axe)
            shot(driver, artifacts, "page-zh.png", 800)
        finally:
            driver.quit()
        print("page in the browser: ok")
    finally:
        for p in reversed(started):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
