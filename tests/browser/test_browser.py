#!/usr/bin/python3
"""The browser test server in a real browser (Debian's chromium through chromium-driver and
python3-selenium): three testees answer at once, a refreshed and a reopened tab resume, a second
browser takes over, one computer serves two testees in turn, a double click stores one answer (also
when a slowed server shows the next question before the second click arrives);
then python3-dbfread reads the tables. Screenshots of the pages go to SHOTS/Web*.png.

usage: test_browser.py MORV_DB SHOTS
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import dbfread
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from pagewait import wait_for

MORV_DB, SHOTS = sys.argv[1], sys.argv[2]
TEST, ORG = 1, 2
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)


def browser(width=1280, height=800):
    opts = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--window-size=%d,%d" % (width, height), "--lang=ru"):
        opts.add_argument(a)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)


def shot(d, name):
    os.makedirs(SHOTS, exist_ok=True)
    for w, h in ((360, 740), (1280, 800)):
        d.set_window_size(w, h)
        d.save_screenshot(os.path.join(SHOTS, "Web%s-%d.png" % (name, w)))
    d.set_window_size(1280, 800)


def heading(d):
    return d.find_element(By.TAG_NAME, "h1").text


def enter(d, base, code):
    d.get(base + "/")
    box = d.find_element(By.NAME, "kod")
    box.send_keys(code)
    box.submit()
    d.find_element(By.XPATH, "//button[contains(., 'Да, начать')]").click()
    wait_for(d, "Вопрос №")


def answer(d, question, option):
    """Clicks option on the page of question; waits for the next page (or the saved notice)."""
    check(wait_for(d, "Вопрос № %d " % question), "question %d shown" % question)
    time.sleep(0.4)  # read it: a click on a page shown only just now belongs to the page before
    d.find_elements(By.CSS_SELECTOR, "button.opt")[option].click()
    check(wait_for(d, "Ответ на вопрос № %d сохранён" % question), "answer %d confirmed" % question)


def finish(d):
    d.find_element(By.XPATH, "//button[contains(., 'Завершить')]").click()
    check(wait_for(d, "Спасибо"), "thanks page")


def press(d, x, y, count, when):
    """A mouse click at x, y as the browser's input delivers it: the click count, and when it was made."""
    for kind in ("mousePressed", "mouseReleased"):
        d.execute_cdp_cmd("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                                       "clickCount": count, "timestamp": when})


def double_click_on_a_slow_server(work):
    """A double click on a busy computer: the server answers the first click a second late (slowed on
    purpose), and the second click, made 120 ms after the first, reaches the page only once the next
    question is in place. It must not answer that question."""
    db = os.path.join(work, "slow")
    subprocess.run([MORV_DB, "sample", db], check=True, stdout=subprocess.DEVNULL)
    out = subprocess.run([MORV_DB, "session", db, "--test", str(TEST), "--org", str(ORG), "--testees", "1"],
                         check=True, capture_output=True, text=True).stdout
    code = re.search(r"^1 (\w+)$", out, re.M).group(1)
    server = subprocess.Popen([MORV_DB, "serve", db, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                              text=True, env=dict(os.environ, MORV_TEST_REPLY_DELAY_MS="1000"))
    try:
        base = "http://127.0.0.1:" + re.search(r":(\d+)/", server.stdout.readline()).group(1)
        d = browser()
        try:
            enter(d, base, code)
            check(wait_for(d, "Вопрос № 1 "), "slow server: question 1")
            end = time.time() + 10
            while time.time() < end and not d.execute_script("return typeof shown === 'number'"):
                time.sleep(0.05)
            time.sleep(0.5)  # the first click is one a reader makes
            x, y = d.execute_script("var r = document.querySelectorAll('button.opt')[1].getBoundingClientRect();"
                                    "return [r.x + r.width / 2, r.y + r.height / 2];")
            first = time.time()
            press(d, x, y, 1, first)
            check(wait_for(d, "Вопрос № 2 "), "slow server: question 2 after the first click")
            check("opt" in d.execute_script("return document.elementFromPoint(arguments[0], arguments[1])"
                                            ".className", x, y), "the second click lands on an option")
            press(d, x, y, 2, first + 0.12)
            time.sleep(2.5)  # past the delay: a second answer would have moved the page on
            body = d.find_element(By.TAG_NAME, "body").text
            check("Вопрос № 2 " in body and "Вопрос № 3 " not in body,
                  "slow server: the double click answers question 1 only")
        finally:
            d.quit()
    finally:
        server.terminate()
        server.wait(10)
    rezult = list(dbfread.DBF(os.path.join(db, "bd_rezult.dbf"), encoding="cp866"))
    mine = {r["NOMVOPR"]: r["OTVET"] for r in rezult
            if int(r["NOMU"]) == ORG and int(r["NOMTESTIR"]) == 1 and r["NOMTESTA"] == TEST}
    check(mine.get(1) == 1, "slow server: question 1 stored as chosen (%s)" % mine)
    check(mine.get(2, -1) == -1, "slow server: question 2 not answered (%s)" % mine)


def main():
    work = tempfile.mkdtemp(prefix="morv-browser-")
    db = os.path.join(work, "db")
    server = None
    try:
        subprocess.run([MORV_DB, "sample", db], check=True, stdout=subprocess.DEVNULL)
        out = subprocess.run([MORV_DB, "session", db, "--test", str(TEST), "--org", str(ORG),
                              "--testees", "1,2,3", "--group", "--show-score"],
                             check=True, capture_output=True, text=True).stdout.split("\n")
        codes = dict(line.split() for line in out[1:] if re.match(r"^\d+ ", line))
        server = subprocess.Popen([MORV_DB, "serve", db, "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, text=True)
        port = re.search(r":(\d+)/", server.stdout.readline()).group(1)
        base = "http://127.0.0.1:" + port
        picks = {"1": [0, 1, 2, 3, 0, 1, 2, 3, 0, 1], "2": [3, 3, 3, 3, 3, 3, 3, 3, 3, 3],
                 "3": [1, 1, 0, 0, 2, 2, 1, 1, 0, 0]}

        # Screenshots of every page, on a phone and a desktop.
        d = browser()
        d.get(base + "/")
        shot(d, "Code")
        d.find_element(By.NAME, "kod").send_keys(codes["1"])
        d.find_element(By.NAME, "kod").submit()
        check("Ахметов Руслан Маратович" in d.page_source, "confirmation shows the testee's name")
        shot(d, "Confirm")
        d.find_element(By.XPATH, "//button[contains(., 'Да, начать')]").click()
        wait_for(d, "Вопрос №")
        shot(d, "Question")
        d.quit()

        # Three testees in three browsers at once.
        def run(testee):
            b = browser()
            try:
                enter(b, base, codes[testee])
                for q, o in enumerate(picks[testee], 1):
                    if testee == "2" and q == 4:
                        b.refresh()  # a refreshed tab stays on its question
                        check(wait_for(b, "Вопрос № 4 "), "refresh resumes at question 4")
                    if testee == "3" and q == 6:
                        # The tab closed and another opened in the same browser: resumes.
                        old = b.current_window_handle
                        b.switch_to.new_window("tab")
                        b.switch_to.window(old)
                        b.close()
                        b.switch_to.window(b.window_handles[0])
                        b.get(base + "/")
                        check(wait_for(b, "Вопрос № 6 "), "a reopened tab resumes at question 6")
                    answer(b, q, o)
                if testee == "1":
                    shot(b, "Saved")
                finish(b)
                if testee == "1":
                    shot(b, "Thanks")
            finally:
                b.quit()

        threads = [threading.Thread(target=run, args=(t,)) for t in ("1", "2", "3")]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

        # Registration with the group code, then a takeover by a second browser.
        first, second = browser(), browser()
        first.get(base + "/")
        group = [line.split()[1] for line in out if line.startswith("group ")][0]
        first.find_element(By.NAME, "kod").send_keys(group)
        first.find_element(By.NAME, "kod").submit()
        shot(first, "Register")
        for name, value in (("fam", "Орлова"), ("nam", "Вера"), ("otch", "Ильинична"), ("god", "2007")):
            first.find_element(By.NAME, name).send_keys(value)
        first.find_element(By.CSS_SELECTOR, "input[name=pol][value='Ж']").click()
        first.find_element(By.XPATH, "//button[contains(., 'Зарегистрироваться')]").click()
        check(wait_for(first, "Ваш личный код"), "personal code page")
        personal = first.find_element(By.CSS_SELECTOR, ".big").text
        first.find_element(By.LINK_TEXT, "Начать тестирование").click()
        answer(first, 1, 2)
        enter(second, base, personal)
        check(wait_for(second, "Вопрос № 2 "), "the second browser resumes at question 2")
        first.find_elements(By.CSS_SELECTOR, "button.opt")[0].click()
        check(wait_for(first, "на другом устройстве"), "the first browser is told of the takeover")
        shot(first, "Moved")
        # A double click stores one answer and moves one question on.
        time.sleep(0.4)
        ActionChains(second).double_click(second.find_elements(By.CSS_SELECTOR, "button.opt")[3]).perform()
        check(wait_for(second, "Вопрос № 3 "), "double click: question 3")
        time.sleep(0.5)
        check("Вопрос № 4 " not in second.find_element(By.TAG_NAME, "body").text, "double click: not question 4")
        first.quit()

        # One computer, two testees in turn: after the first ends, nothing of them is reachable.
        shared = second
        for q in range(3, 11):
            answer(shared, q, 0)
        finish(shared)
        shared.back()
        time.sleep(0.5)
        body = shared.find_element(By.TAG_NAME, "body").text
        check("Орлова" not in body and "Вопрос" not in body, "back after the end shows nothing of the testee")
        shared.get(base + "/q?n=2")
        check("Вопрос" not in shared.find_element(By.TAG_NAME, "body").text, "no question after the end")
        check(not shared.get_cookies(), "no cookie after the end")
        shared.quit()
    finally:
        if server:
            server.terminate()
            server.wait(10)

    double_click_on_a_slow_server(work)

    # The tables as dbfread reads them.
    def rows(name):
        return list(dbfread.DBF(os.path.join(db, name), encoding="cp866", char_decode_errors="strict"))

    rezult, rez = rows("bd_rezult.dbf"), rows("bd_rez.dbf")
    vopros, otvet, summa = rows("bd_vopros.DBF"), rows("bd_otvet.dbf"), rows("bd_summa.dbf")
    anket = rows("bd_anket.dbf")
    orlova = [a for a in anket if a["FAMTESTIR"].strip() == "Орлова"]
    check(len(orlova) == 1 and int(orlova[0]["NOMTESTIR"]) == 5, "the registered testee is number 5 of institution 2")
    picks["5"] = [2, 3, 0, 0, 0, 0, 0, 0, 0, 0]
    for testee, chosen in picks.items():
        mine = [r for r in rezult if int(r["NOMU"]) == ORG and int(r["NOMTESTIR"]) == int(testee)
                and r["NOMTESTA"] == TEST]
        check(sorted(r["NOMVOPR"] for r in mine) == list(range(1, 11)), "testee %s: one row per question" % testee)
        got = [r["OTVET"] for r in sorted(mine, key=lambda r: r["NOMVOPR"])]
        check(got == chosen, "testee %s: choices %s stored as %s" % (testee, chosen, got))
        expected = {}
        for k in summa:
            if k["NOMTESTA"] != TEST:
                continue
            q = k["SUMVOPR"]
            s = [v["NOTV"] for v in vopros if v["NTEST"] == TEST and v["NVOPR"] == q][0]
            options = [o for o in otvet if o["NOMOTV"] == s]
            expected[k["KRIT"]] = expected.get(k["KRIT"], 0) + options[chosen[q - 1]]["BOTVET"]
        scores = {r["KRIT"]: r["BALL"] for r in rez if int(r["NOMU"]) == ORG and int(r["NOMTESTIR"]) == int(testee)
                  and r["NOMTESTA"] == TEST}
        check(scores == expected, "testee %s: scores %s, expected %s" % (testee, scores, expected))
    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("all browser checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
