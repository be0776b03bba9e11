#!/usr/bin/python3
"""The workbench end to end in headless Chromium: upload the example PDDX survey, fill in the
structure, run, check the station table and a basin, rerun one section with another base
thickness, compare the two runs; add a second survey whose name holds ".w" (road.west) and rerun
part of it; one survey selected on every screen; a file the importer refuses is named with the
reason; download the stations table; no console errors.

    workbench_browser.py BUILD_APPS_DIR SOURCE_DIR OUTPUT_DIR

Screenshots go to OUTPUT_DIR/workbench-*.png.  Prints the time from the click on Run to the first
finished station on screen.
"""
import os
import shutil
import subprocess
import sys
import tempfile

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)
if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
    print("SKIP: chromium or chromium-driver is not installed")
    sys.exit(77)

apps, source, output = (os.path.abspath(a) for a in sys.argv[1:4])
survey_file = os.path.join(source, "examples", "pddx", "survey.pdx")
os.makedirs(output, exist_ok=True)


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


with tempfile.TemporaryDirectory() as project:
    server = subprocess.Popen([os.path.join(apps, "basinfit-workbench"), project, "--no-browser", "-j", "2"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    driver = None
    try:
        server.stdout.readline()
        url = server.stdout.readline().strip()
        if not url.startswith("http://127.0.0.1:"):
            fail("no address printed: " + url)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1400,1800",
                         "--disable-gpu", "--no-proxy-server"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        wait = WebDriverWait(driver, 60)
        by_id = lambda i: driver.find_element(By.ID, i)

        def shot(name):
            driver.save_screenshot(os.path.join(output, "workbench-%s.png" % name))

        def tab(name):
            driver.find_element(By.CSS_SELECTOR, '#tabs button[data-tab="%s"]' % name).click()

        def fill(label, value):
            field = driver.find_element(By.CSS_SELECTOR, '[aria-label="%s"]' % label)
            field.clear()
            field.send_keys(value)

        driver.get(url)
        wait.until(lambda d: d.current_url.endswith("/") and "key=" not in d.current_url)

        # Import: the stations along the chainage and a station's measured basins, before any fit.
        by_id("upload-input").send_keys(survey_file)
        by_id("upload-button").click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#preview-table tbody tr")) == 12)
        driver.find_elements(By.CSS_SELECTOR, "#preview-table tbody tr")[3].click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#preview-basin circle")) == 4 * 9)
        shot("import")

        # Structure: a value the reader refuses is named beside its row, then put right.
        tab("structure")
        fill("layer 2 Poisson's ratio", "0.7")
        wait.until(lambda d: "expected 0 to 0.5" in d.find_element(By.CSS_SELECTOR, '.msg[data-group="layer"][data-index="1"]').text)
        fill("layer 2 Poisson's ratio", "0.35")
        fill("range 1 to", "1300")
        fill("range 1 H1", "16")
        fill("range 1 H2", "32")
        by_id("st-add-range").click()
        fill("range 2 from", "1300")
        fill("range 2 H1", "14")
        fill("range 2 H2", "28")
        wait.until(lambda d: by_id("structure-status").text == "reads as the engine reads it")
        shot("structure")
        by_id("st-save").click()
        wait.until(lambda d: by_id("structure-status").text == "saved")

        # Run: the progress ends and the station table holds every station.
        tab("run")
        by_id("run-button").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#live-table tr.live-row"))
        # The page marks the click and the first finished station on screen (User Timing).
        first_station = driver.execute_script(
            "return performance.getEntriesByName('first-station')[0].startTime"
            " - performance.getEntriesByName('run-clicked')[0].startTime") / 1000
        wait.until(lambda d: by_id("run-state").text == "idle"
                   and "ok after" in by_id("progress-text").get_attribute("textContent"))
        tab("run")
        shot("run")
        tab("results")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#station-table tbody tr")) == 12)
        rows = driver.find_elements(By.CSS_SELECTOR, "#station-table tbody tr")
        if rows[0].find_elements(By.TAG_NAME, "td")[1].text != "1000":
            fail("first station is not 1000")
        rows[2].click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#basin-chart circle")) == 4 * 9)
        if len(driver.find_elements(By.CSS_SELECTOR, "#basin-chart path.series")) != 4:
            fail("a calculated basin per drop expected")
        shot("results")

        # What-if: section 1 with another base (layer 2) thickness, rerun alone.
        Select(by_id("whatif-section")).select_by_index(1)
        selected = int(by_id("whatif-count").text.split()[0])
        fill("what-if H2", "40")
        by_id("whatif-run").click()
        wait.until(lambda d: by_id("results-run").get_attribute("value") == "survey.w1")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#station-table tbody tr")) == selected)
        h2 = [r.find_elements(By.TAG_NAME, "td")[5].text for r in driver.find_elements(By.CSS_SELECTOR, "#station-table tbody tr")]
        if set(h2) != {"40"}:
            fail("the what-if run's H2 is %s, expected 40 at every station" % h2)
        shot("whatif")

        # Compare the two runs station by station.
        tab("compare")
        Select(by_id("compare-a")).select_by_value("survey")
        Select(by_id("compare-b")).select_by_value("survey.w1")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#compare-table tbody tr")) == selected)
        shot("compare")

        # A survey called road.west is a survey, and a what-if of it belongs to it (not to "road").
        road = "road.west"
        with tempfile.TemporaryDirectory() as folder:
            shutil.copyfile(survey_file, os.path.join(folder, road + ".pdx"))
            tab("import")
            driver.execute_script("arguments[0].value = ''", by_id("upload-input"))  # or survey.pdx goes again
            by_id("upload-input").send_keys(os.path.join(folder, road + ".pdx"))
            by_id("upload-button").click()
            # The survey just added is selected everywhere: Results shows none of the other's runs.
            wait.until(lambda d: by_id("survey-select").get_attribute("value") == road)
        wait.until(lambda d: by_id("results-run").get_attribute("value") == "")
        tab("run")
        by_id("run-button").click()
        wait.until(lambda d: by_id("results-run").get_attribute("value") == road)
        label = lambda run: driver.find_element(By.CSS_SELECTOR, '#results-run option[value="%s"]' % run).text
        if "what-if" in label(road):
            fail("the survey %s is shown as a what-if: %s" % (road, label(road)))
        Select(by_id("whatif-section")).select_by_index(1)
        by_id("whatif-run").click()
        wait.until(lambda d: by_id("results-run").get_attribute("value") == road + ".w1")
        if label(road + ".w1") != "%s.w1, what-if of %s" % (road, road):
            fail("the what-if of %s is shown as %s" % (road, label(road + ".w1")))
        # Selecting a survey in the header selects one of its runs; selecting a run, its survey.
        Select(by_id("survey-select")).select_by_value("survey")
        wait.until(lambda d: by_id("results-run").get_attribute("value") == "survey")
        Select(by_id("results-run")).select_by_value(road + ".w1")
        wait.until(lambda d: by_id("survey-select").get_attribute("value") == road)
        wait.until(lambda d: by_id("preview-summary").get_attribute("textContent").startswith(road + ".pdx"))

        # A file the importer cannot read: its name and the importer's words stay on the page.
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "notes.txt"), "w") as f:
                f.write("not a survey\n")
            tab("import")
            driver.execute_script("arguments[0].value = ''", by_id("upload-input"))
            by_id("upload-input").send_keys(os.path.join(folder, "notes.txt"))
            by_id("upload-button").click()
            wait.until(lambda d: by_id("notice").text.startswith("notes.txt: ") and "inputs/notes.txt" in by_id("notice").text)
        # The refusal is the one error the console may hold so far.
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE" and "/api/surveys " not in e["message"]]
        if errors:
            fail("console errors: %s" % errors)

        # Download the stations table: the bytes of the run's file.
        text = driver.execute_async_script(
            "const done = arguments[0];"
            "fetch('/files/survey/stations.csv').then(r => r.text()).then(done);")
        with open(os.path.join(project, "out", "surveys", "survey", "stations.csv"), newline="") as f:
            on_disk = f.read()
        if text != on_disk or len(text.strip().splitlines()) != 13:
            fail("the downloaded stations.csv differs from the run's file")

        # The survey page as served: whole, and nothing it does is refused by its policy.
        driver.get(url.split("/?")[0] + "/files/survey/survey.html")
        wait.until(lambda d: d.find_elements(By.TAG_NAME, "svg"))
        shot("survey-page")

        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        if errors:
            fail("console errors: %s" % errors)

        # Everything done in the browser is a network the batch tool reruns (nothing left to do).
        batch = subprocess.run([os.path.join(apps, "basinfit-batch"), "run", os.path.join(project, "manifest.csv"),
                                "--out", os.path.join(project, "out")], capture_output=True, text=True)
        if batch.returncode != 0 or "4 already done" not in batch.stderr:
            fail("basinfit-batch on the project: %s" % batch.stderr)
        print("click on Run to first station on screen: %.3f s" % first_station)
        print("PASS")
    except Exception:
        if driver:
            driver.save_screenshot(os.path.join(output, "workbench-failure.png"))
            for i in ("notice", "progress-text", "run-messages", "run-state"):
                print("%s: %s" % (i, driver.find_element(By.ID, i).get_attribute("textContent")))
        raise
    finally:
        if driver:
            driver.quit()
        server.terminate()
        server.wait(timeout=20)
