#!/usr/bin/python3
"""The workbench end to end in headless Chromium: upload the example PDDX survey, fill in the
structure, run, check the station table and a basin, rerun one section with another base
thickness, compare the two runs; add a second survey whose name holds ".w" (road.west) and rerun
part of it; one survey selected on every screen; a file the importer refuses is named with the
reason; download the stations table; a CSV survey given its offsets and plate radius in the
survey options panel, a refused value named at its field, what is saved kept in the manifest and
shown again after a reload; no console errors.

    workbench_browser.py BUILD_APPS_DIR SOURCE_DIR OUTPUT_DIR

Screenshots go to OUTPUT_DIR/workbench-*.png.  Prints the time from the click on Run to the first
finished station on screen.
"""
import csv
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

        # Survey options: a CSV file of numbered sensors reads once its offsets and plate radius are
        # given.  The panel opens the option the importer asks for; a refused value is named at its
        # field and changes nothing; only what changed is sent; what is saved is the survey's row of
        # the manifest, shown again after a reload.
        driver.get(url)
        wait.until(lambda d: by_id("options-survey").text)
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "plain.csv"), "w") as f:
                f.write("station,chainage,drop,load,d1,d2,d3,d4,d5\n" + "".join(
                    "P%d,%d,%d,%d,%d,310,230,170,120\n" % (k, 100 * k, j, 40000 + 1000 * j, 420 + 10 * j)
                    for k in range(1, 4) for j in (1, 2)))
            by_id("upload-input").send_keys(os.path.join(folder, "plain.csv"))
            by_id("upload-button").click()
            row = lambda key: driver.find_element(By.CSS_SELECTOR, '#options-table tr[data-key="%s"]' % key)
            wait.until(lambda d: "give their offsets with --offsets" in row("offsets").text)
        shot("options-unread")
        sent_options = ("window.sentOptions = []; const send = window.fetch; window.fetch = (url, init) => {"
                        " if (init && init.method === 'PUT' && url === '/api/survey-options')"
                        " window.sentOptions.push(JSON.parse(init.body).options); return send(url, init); };")
        driver.execute_script(sent_options)
        Select(by_id("options-add")).select_by_value("skip_seating")
        by_id("option-skip_seating").send_keys("two")
        by_id("options-save").click()
        wait.until(lambda d: row("skip_seating").find_element(By.CLASS_NAME, "msg").text
                   == "expected a whole number from 0 to 1000, found 'two'")

        def manifest_row():
            with open(os.path.join(project, "manifest.csv"), newline="") as f:
                return next(r for r in csv.DictReader(f) if r["name"] == "plain")

        if manifest_row().get("skip_seating"):
            fail("a refused value reached the manifest: %s" % manifest_row())
        by_id("option-skip_seating").clear()
        by_id("option-skip_seating").send_keys("1")
        by_id("option-offsets").send_keys("0,300,600,900,1200")
        for key, value in (("plate_radius", "150"), ("offset_unit", "mm"), ("load_levels", "40kN,53kN")):
            Select(by_id("options-add")).select_by_value(key)
            by_id("option-" + key).send_keys(value)
        by_id("options-save").click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#preview-table tbody tr")) == 3)
        shot("options")
        given = {"skip_seating": "1", "offsets": "0,300,600,900,1200", "plate_radius": "150", "offset_unit": "mm",
                 "load_levels": "40kN,53kN"}
        if driver.execute_script("return window.sentOptions") != [{"skip_seating": "two"}, given]:
            fail("the panel sent %s" % driver.execute_script("return window.sentOptions"))
        if {k: manifest_row().get(k) for k in given} != given:
            fail("the manifest row is %s" % manifest_row())
        driver.refresh()
        wait.until(lambda d: by_id("options-survey").text)
        Select(by_id("survey-select")).select_by_value("plain")
        wait.until(lambda d: by_id("options-survey").text == "plain" and d.find_elements(By.ID, "option-skip_seating"))
        if by_id("option-skip_seating").get_attribute("value") != "1" or by_id("options-status").text != "5 options set":
            fail("after a reload the panel shows %s" % by_id("options-table").text)
        # Taking one option out sends that one alone; the others stay in the row.
        driver.execute_script(sent_options)
        row("skip_seating").find_element(By.TAG_NAME, "button").click()
        by_id("options-save").click()
        wait.until(lambda d: by_id("options-status").text == "4 options set")
        if driver.execute_script("return window.sentOptions") != [{"skip_seating": ""}] or manifest_row().get("skip_seating"):
            fail("taking skip_seating out sent %s" % driver.execute_script("return window.sentOptions"))
        # The page's own requests the importer and the validator refused are the console's only errors.
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"
                  and not ("status of 422" in e["message"] and ("/api/preview?survey=plain " in e["message"]
                                                                or "/api/survey-options " in e["message"]))]
        if errors:
            fail("console errors: %s" % errors)
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
