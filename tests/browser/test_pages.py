#!/usr/bin/python3
"""How the test pages look to a testee in a real browser (Debian's chromium through
chromium-driver and python3-selenium): on a 360x640 phone «Завершить тестирование» shows with
the question; a mouse click leaves no focus ring on the next question, the keyboard does; the
progress is a progress bar with an accessible value; the end page names each criterion's level,
as python3-dbfread computes it from the tables. Screenshots go to SHOTS/Pages*.png.

usage: test_pages.py MORV_DB SHOTS
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import dbfread
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from pagewait import wait_for

MORV_DB, SHOTS = sys.argv[1], sys.argv[2]
ORG = 2
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def browser():
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--window-size=1280,800", "--lang=ru"):
        opts.add_argument(a)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


def phone(d, on):
    if on:
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                          {"width": 360, "height": 640, "deviceScaleFactor": 1, "mobile": True})
    else:
        d.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def shot(d, name):
    os.makedirs(SHOTS, exist_ok=True)
    phone(d, True)
    d.save_screenshot(os.path.join(SHOTS, "Pages%s-360.png" % name))
    phone(d, False)
    d.save_screenshot(os.path.join(SHOTS, "Pages%s-1280.png" % name))


def enter(d, base, code):
    d.get(base + "/")
    box = d.find_element(By.NAME, "kod")
    box.send_keys(code)
    box.submit()
    d.find_element(By.XPATH, "//button[contains(., 'Да, начать')]").click()
    check(wait_for(d, "Вопрос № 1 "), "question 1 shown")


def click_option(d, question, option):
    check(wait_for(d, "Вопрос № %d " % question), "question %d shown" % question)
    ActionChains(d).move_to_element(d.find_elements(By.CSS_SELECTOR, "button.opt")[option]).click().perform()
    check(wait_for(d, "Ответ на вопрос № %d сохранён" % question), "answer %d confirmed" % question)


def finish_in_view(d, what):
    """At 360x640, unscrolled, the finish button lies wholly inside the screen."""
    phone(d, True)
    d.execute_script("window.scrollTo(0, 0)")
    time.sleep(0.1)
    size = d.execute_script("return [window.innerWidth, window.innerHeight]")
    check(size == [360, 640], "%s: the viewport is 360x640, not %s" % (what, size))
    box = d.execute_script(
        "var b = [...document.querySelectorAll('button')].find(x => x.textContent.includes('Завершить'));"
        "var r = b.getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom];")
    check(box[0] >= 0 and box[1] >= 0 and box[2] <= 360 and box[3] <= 640,
          "%s: «Завершить тестирование» at %s, outside 360x640" % (what, box))
    overflow = d.execute_script("return document.documentElement.scrollWidth")
    check(overflow <= 360, "%s: the page is %d px wide at 360" % (what, overflow))
    phone(d, False)


def luminance(rgb):
    def channel(c):
        c /= 255.0
        return c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (channel(float(x)) for x in re.findall(r"[\d.]+", rgb)[:3])
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def progress_shown(d, answered, count):
    bar = d.find_elements(By.CSS_SELECTOR, "progress")
    check(len(bar) == 1, "one progress bar")
    if not bar:
        return
    check(bar[0].get_attribute("value") == str(answered) and bar[0].get_attribute("max") == str(count),
          "progress bar %s of %s, expected %d of %d" % (bar[0].get_attribute("value"),
                                                        bar[0].get_attribute("max"), answered, count))
    text = "Отвечено: %d из %d" % (answered, count)
    label = d.find_element(By.ID, "done")
    check(label.text == text, "progress text %r" % label.text)
    style = d.execute_script(
        "var s = getComputedStyle(document.getElementById('done'));"
        "return [parseFloat(s.fontSize), s.fontWeight, s.color, getComputedStyle(document.body).backgroundColor];")
    check(style[0] >= 17, "progress text is %spx" % style[0])
    check(int(style[1]) >= 600, "progress text weight %s" % style[1])
    check(contrast(style[2], style[3]) >= 7, "progress text contrast %.1f" % contrast(style[2], style[3]))
    # As a screen reader meets it: a progress bar named by the text, its value the count answered.
    tree = d.execute_cdp_cmd("Accessibility.getFullAXTree", {})["nodes"]
    bars = [n for n in tree if n.get("role", {}).get("value") == "progressbar"]
    check(len(bars) == 1, "one progress bar in the accessibility tree")
    if bars:
        props = {p["name"]: p["value"].get("value") for p in bars[0].get("properties", [])}
        check(bars[0].get("name", {}).get("value") == text, "progress bar named %r" % bars[0].get("name"))
        value = bars[0].get("value", {}).get("value")
        check(value == answered and props.get("valuemin") == 0 and props.get("valuemax") == count,
              "progress bar value %s of %s..%s" % (value, props.get("valuemin"), props.get("valuemax")))


def focus_ring(d):
    return d.execute_script(
        "var a = document.activeElement;"
        "return [a.className, a.matches(':focus-visible'), getComputedStyle(a).outlineStyle];")


def expected_results(db, test, chosen):
    """The scores and level names of chosen (question number -> option index), from the tables."""
    def rows(name):
        return list(dbfread.DBF(os.path.join(db, name), encoding="cp866", char_decode_errors="strict"))
    vopros, otvet, summa, analiz = (rows(n) for n in ("bd_vopros.DBF", "bd_otvet.dbf", "bd_summa.dbf",
                                                          "bd_analiz.dbf"))
    scores = {}
    for k in summa:
        if k["NOMTESTA"] != test:
            continue
        s = [v["NOTV"] for v in vopros if v["NTEST"] == test and v["NVOPR"] == k["SUMVOPR"]][0]
        options = [o for o in otvet if o["NOMOTV"] == s]
        scores[k["KRIT"]] = scores.get(k["KRIT"], 0) + options[chosen[k["SUMVOPR"]]]["BOTVET"]
    out = []
    for krit in sorted(scores):
        level = [a["UROV"].strip() for a in analiz
                 if a["NOMTESTA"] == test and a["KRIT"] == krit and a["MIN"] <= scores[krit] <= a["MAX"]]
        out.append((krit, scores[krit], level[0] if level else ""))
    return out


def run_test(d, base, db, code, test, count, picks, name):
    enter(d, base, code)
    finish_in_view(d, "test %d question 1" % test)
    progress_shown(d, 0, count)
    for q in range(1, count + 1):
        click_option(d, q, picks[q - 1])
        if q == 1:
            progress_shown(d, 1, count)
            finish_in_view(d, "test %d question 2 with the saved notice" % test)
            shot(d, name + "Question")
            # The script puts the focus on the next question's first option; after a mouse click
            # that shows no ring a child could take for a choice made.
            cls, visible, outline = focus_ring(d)
            check("opt" in cls, "the focus is on an option (%s)" % cls)
            check(not visible and outline == "none", "no focus ring after a click: %s, %s" % (visible, outline))
            ActionChains(d).send_keys(Keys.TAB).perform()
            cls, visible, outline = focus_ring(d)
            check(visible and outline != "none", "the keyboard shows the focus: %s %s %s" % (cls, visible, outline))
    d.find_element(By.XPATH, "//button[contains(., 'Завершить')]").click()
    check(wait_for(d, "Спасибо"), "test %d: thanks page" % test)
    body = d.find_element(By.TAG_NAME, "body").text
    expected = expected_results(db, test, {q: picks[q - 1] for q in range(1, count + 1)})
    for krit, score, level in expected:
        check(level != "", "test %d criterion %d: the tables give a level for %d" % (test, krit, score))
        line = ("Сумма баллов: %d — %s" % (score, level) if len(expected) == 1
                else "Критерий %d: %d — %s" % (krit, score, level))
        check(line in body, "test %d: the end page says %r:\n%s" % (test, line, body))
    if name:
        shot(d, name + "Thanks")


def main():
    work = tempfile.mkdtemp(prefix="morv-pages-")
    db = os.path.join(work, "db")
    server = None
    try:
        subprocess.run([MORV_DB, "sample", db], check=True, stdout=subprocess.DEVNULL)
        codes = {}
        for test, testee in ((1, 1), (2, 2)):
            out = subprocess.run([MORV_DB, "session", db, "--test", str(test), "--org", str(ORG),
                                  "--testees", str(testee), "--show-score"],
                                 check=True, capture_output=True, text=True).stdout.split("\n")
            codes[test] = [line.split()[1] for line in out[1:] if re.match(r"^\d+ ", line)][0]
        server = subprocess.Popen([MORV_DB, "serve", db, "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, text=True)
        port = re.search(r":(\d+)/", server.stdout.readline()).group(1)
        base = "http://127.0.0.1:" + port
        d = browser()
        try:
            # One criterion, four options a question; three criteria, three options in three columns.
            run_test(d, base, db, codes[1], 1, 10, [1, 2, 3, 0, 1, 2, 3, 0, 1, 2], "One")
            run_test(d, base, db, codes[2], 2, 12, [0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2], "Criteria")
        finally:
            d.quit()
    finally:
        if server:
            server.terminate()
            server.wait(10)
    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("all page checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
