// The survey page from invented survey data: escaping of everything from input, the rows and
// marks the data call for, the notice of a stopped run, and the page file.

#include "survey/html_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "common/input_error.h"

namespace basinfit::survey {
namespace {

namespace fs = std::filesystem;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Three uniform segments of the subgrade (stations 0-9, 10-19, 20-29, 50 m apart), a station
// with a single drop in the middle of the first, and two flagged drops.
SurveyPage three_segment_page() {
  SurveyPage page;
  page.title = "Synthetic survey";
  page.route = "Test route";
  page.run_date = "2026-01-01 00:00 UTC";
  page.engine_version = "basinfit test";
  page.flags_checked = true;
  page.input_files = {{"Deflection data", "deflections.dat", std::string(64, 'a')}};
  page.settings = {{"Units", "metric"}};
  for (int j = 0; j < 3; ++j) {
    SurveyLayer layer;
    layer.name = "Layer " + std::to_string(j + 1);
    layer.lower_bound = j == 2 ? 10.0f : 100.0f;
    layer.upper_bound = 20000.0f;
    page.layers.push_back(layer);
  }
  const float subgrade[] = {80, 40, 70};
  for (int i = 0; i < 30; ++i) {
    SurveyStation s;
    s.id = std::to_string(i / 20) + "+" + std::to_string(1000 + (i % 20) * 50).substr(1);
    s.thickness = {10, 30};
    s.temperature1 = 18;
    s.temperature2 = 22;
    const float wiggle = (i % 3 == 0 ? 1.03f : i % 3 == 1 ? 0.97f : 1.0f);
    std::vector<float> e = {3000 * wiggle, 300 * wiggle, subgrade[i / 10] * wiggle};
    s.k1 = {std::nullopt, std::nullopt, 12.5f};
    s.k2 = {std::nullopt, std::nullopt, -0.2f};
    s.soil_type = {"N/A", "N/A", "Fine"};
    const int drops = i == 4 ? 1 : 3;
    if (drops > 1) s.normalised_modulus = e;
    for (int d = 0; d < drops; ++d) {
      SurveyDrop drop;
      drop.number = d + 1;
      drop.load = 30000.0f + 10000.0f * static_cast<float>(d);
      drop.modulus = e;
      drop.rms_percent = i == 7 && d == 1 ? 3.5f : 0.8f;
      drop.convergence_code = 3;
      drop.convergence_words = "Modulus Tolerance Satisfied";
      if ((i == 7 && d == 1) || (i == 25 && d == 0)) drop.flags = {"rms_high"};
      drop.basin.offset = {0, 30, 60, 90};
      drop.basin.measured = {400, 300, 200, 120};
      drop.basin.calculated = {395, 305, 198, 121};
      drop.basin.residual_percent = {1.25f, -1.67f, 1.0f, -0.83f};
      s.drops.push_back(drop);
    }
    page.stations.push_back(s);
  }
  page.convergence_counts = count_convergence(page.stations);
  page.flag_counts = count_flags(page.stations);
  return page;
}

ReportOptions subgrade_sections() {
  ReportOptions options;
  options.subgrade_layer = 2;
  return options;
}

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs the page checker on `text`; empty when it passes, its messages otherwise.
std::string checker_messages(const std::string& text, const std::string& arguments) {
  const fs::path folder = fs::temp_directory_path() / ("survey_page_" + std::to_string(getpid()));
  fs::create_directories(folder);
  { std::ofstream(folder / "page.html") << text; }
  const std::string command = "python3 '" + std::string(BASINFIT_PAGE_CHECKER) + "' '" +
                              (folder / "page.html").string() + "' " + arguments + " > '" +
                              (folder / "out.txt").string() + "' 2>&1";
  const int status = std::system(command.c_str());
  std::stringstream out;
  out << std::ifstream(folder / "out.txt").rdbuf();
  fs::remove_all(folder);
  return status == 0 ? std::string() : out.str();
}

TEST(SurveyPage, EverythingFromTheInputsIsTextNeverMarkup) {
  SurveyPage page = three_segment_page();
  const std::string title = "<script>alert('title')</script>";
  const std::string route = "Route <b>12</b> & \"east\"";
  const std::string id = "<i>&\"'9";
  const std::string flag = "<img src=x onerror=alert(1)>";
  page.title = title;
  page.route = route;
  page.stations[3].id = id;
  page.stations[7].drops[1].flags = {flag};
  page.input_files[0].name = "a<b>&c'.dat";
  page.settings.push_back({"Layer \"1\"", "</td><td>&amp;"});
  page.flag_counts = count_flags(page.stations);
  const std::string html = render_page(page, subgrade_sections(), RunEnd{});

  for (const std::string& raw :
       {title, route, id, flag, std::string("a<b>&c'.dat"), std::string("</td><td>&amp;")})
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  EXPECT_NE(html.find("&lt;script&gt;alert(&#39;title&#39;)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("Route &lt;b&gt;12&lt;/b&gt; &amp; &quot;east&quot;"), std::string::npos);
  EXPECT_NE(html.find("&lt;/td&gt;&lt;td&gt;&amp;amp;"), std::string::npos);
  EXPECT_EQ(escape_html("a\x01z\tq"), "a\xEF\xBF\xBDz\tq");
  // A reader decodes them back to exactly the input, and sees no element from them.
  EXPECT_EQ(checker_messages(html, "--stations 30 --complete --text " + shell_quoted(id) + " --text " +
                                       shell_quoted(route) + " --text " + shell_quoted(title) + " --text " +
                                       shell_quoted(flag)),
            "");
}

TEST(SurveyPage, RowsSectionsAndMarksFollowTheData) {
  const SurveyPage page = three_segment_page();
  const ReportOptions options = subgrade_sections();
  const SurveyLayout layout = lay_out_survey(page, options);
  ASSERT_TRUE(layout.positions.from_identifiers);
  ASSERT_EQ(layout.rows.size(), 3u);
  // Steps after stations 9 and 19: the section ends lie halfway to the next station, and the
  // route runs from the first station to the last.
  EXPECT_DOUBLE_EQ(layout.rows[0].start, 0);
  EXPECT_DOUBLE_EQ(layout.rows[0].end, 475);
  EXPECT_DOUBLE_EQ(layout.rows[1].end, 975);
  EXPECT_DOUBLE_EQ(layout.rows[2].end, 1450);
  EXPECT_EQ(layout.rows[0].stations, 10);  // the one-drop station counts, without a modulus
  EXPECT_EQ(layout.rows[0].modulus[2].count, 9u);
  EXPECT_NEAR(layout.rows[1].modulus[2].mean, 40, 0.5);

  const std::string html = render_page(page, options, RunEnd{});
  EXPECT_EQ(count(html, "class=\"station-row\""), 30);
  EXPECT_EQ(count(html, "class=\"section-row\""), 3);
  EXPECT_EQ(count(html, "class=\"drop-data\""), 30);
  // Flagged drops: a cross per layer; the one-drop station: an open point per layer.
  EXPECT_EQ(count(html, "l8 8m0 -8l-8 8"), 2 * 3);
  EXPECT_EQ(count(html, "class=\"ring\""), 3);
  EXPECT_EQ(count(html, "class=\"poor\""), 1);
  EXPECT_EQ(count(html, "class=\"bound\""), 6);
  EXPECT_NE(html.find("rms_high</td><td>2</td>"), std::string::npos);
  EXPECT_NE(html.find("Modulus Tolerance Satisfied</td><td>88</td>"), std::string::npos);
  EXPECT_EQ(html.find("id=\"run-stopped\""), std::string::npos);
  // Every drop's data reads back as the basin it came from.
  EXPECT_EQ(
      checker_messages(html, "--stations 30 --sections 3 --complete --drops 88 --basin 395,305,198,121"), "");

  // Equal spacing when an identifier is not a chainage, and the page says so.
  SurveyPage renamed = page;
  renamed.stations[12].id = "bridge";
  const std::string equal = render_page(renamed, options, RunEnd{});
  EXPECT_NE(equal.find("equal spacing, because the station identifier &quot;bridge&quot;"),
            std::string::npos);
  EXPECT_EQ(lay_out_survey(renamed, options).rows.size(), 3u);
}

TEST(SurveyPage, NumbersThatCannotBeDrawnAreLeftOffTheCharts) {
  SurveyPage page = three_segment_page();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  (*page.stations[2].normalised_modulus)[0] = nan;
  (*page.stations[3].normalised_modulus)[2] = 0;
  page.stations[4].drops[0].modulus[1] = -inf;
  page.stations[5].drops[0].rms_percent = nan;
  page.stations[7].drops[1].modulus[0] = inf;
  SurveyBasin& basin = page.stations[6].drops[2].basin;
  basin.measured[1] = inf;
  basin.calculated[2] = nan;
  basin.offset[3] = nan;
  basin.residual_percent[0] = nan;
  const std::string html = render_page(page, subgrade_sections(), RunEnd{});
  // The checker reads every chart coordinate as a number.
  EXPECT_EQ(checker_messages(html, "--stations 30 --complete"), "");
  EXPECT_EQ(html.find("nan"), std::string::npos);
}

TEST(SurveyPage, AStoppedRunSaysWhereItStopped) {
  SurveyPage page = three_segment_page();
  page.stations.resize(5);
  const std::string reason = "The run ended with exit status 1: deflections.dat, line 40: expected a number";
  const std::string html = render_page(page, subgrade_sections(), RunEnd{false, reason});
  EXPECT_NE(html.find("<title>INCOMPLETE"), std::string::npos);
  EXPECT_NE(html.find("id=\"run-stopped\""), std::string::npos);
  EXPECT_NE(html.find(reason), std::string::npos);
  EXPECT_NE(html.find("only the 5 station(s)"), std::string::npos);
  EXPECT_EQ(checker_messages(html, "--stations 5 --stopped"), "");

  // Nothing collected at all (the settings were never read): still a well-formed page.
  const std::string empty =
      render_page(SurveyPage{}, ReportOptions{}, RunEnd{false, "The settings were never read."});
  EXPECT_EQ(checker_messages(empty, "--stations 0 --stopped"), "");
}

// The style sheet and script are the files of web/survey/ as they are, built into the program:
// read here from the source tree, they must appear in the page whole, each exactly once, final
// newline included (an embedding that dropped or added a byte would show here first).
TEST(SurveyPage, CarriesTheStyleAndScriptOfWebSurveyByteForByte) {
  const auto source = [](const char* name) {
    std::ifstream in(fs::path(BASINFIT_SOURCE_DIR) / "web" / "survey" / name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  };
  const std::string style = source("page.css"), script = source("page.js");
  ASSERT_FALSE(style.empty());
  ASSERT_FALSE(script.empty());
  const std::string html = render_page(three_segment_page(), subgrade_sections(), RunEnd{});
  EXPECT_EQ(count(html, "<style>\n" + style + "</style>"), 1);
  EXPECT_EQ(count(html, "<script>\n" + script + "</script>\n</body></html>\n"), 1);
  EXPECT_TRUE(html.ends_with(script + "</script>\n</body></html>\n"));
}

TEST(SurveyPageFile, WritesWholeRefusesKeptFilesAndNamesTheFileOnFailure) {
  const fs::path folder = fs::temp_directory_path() / ("survey_file_" + std::to_string(getpid()));
  fs::create_directories(folder);
  const SurveyPage page = three_segment_page();

  const std::string name = (folder / "page.html").string();
  {
    SurveyPageFile file(name);
    file.refuse_if_kept(nullptr);
    file.write(page, subgrade_sections(), RunEnd{});
  }
  std::stringstream written;
  written << std::ifstream(name).rdbuf();
  EXPECT_EQ(written.str(), render_page(page, subgrade_sections(), RunEnd{}));

  // A file the run keeps (an input) is refused and left as it was.
  const std::string input = (folder / "general.dat").string();
  std::ofstream(input) << "settings\n";
  KeptFiles kept;
  kept.add(input, "general data file", identity_of_name(input));
  try {
    SurveyPageFile file(input);
    file.refuse_if_kept(&kept);
    ADD_FAILURE() << "an input was accepted as the page";
  } catch (const InputError& e) {
    EXPECT_EQ(e.kind(), InputError::Kind::kFileSystem);
  }
  std::stringstream kept_text;
  kept_text << std::ifstream(input).rdbuf();
  EXPECT_EQ(kept_text.str(), "settings\n");

  // A page this object created that the run then took as one of its files stays.
  const std::string report = (folder / "detail.txt").string();
  {
    SurveyPageFile file(report);
    KeptFiles reports;
    reports.add(report, "detail report", identity_of_name(report));
    EXPECT_THROW(file.refuse_if_kept(&reports), InputError);
  }
  EXPECT_TRUE(fs::exists(report));

  // A page opened and then given up (a run that never started) leaves nothing.
  const std::string unused = (folder / "unused.html").string();
  {
    SurveyPageFile file(unused);
    file.abandon();
  }
  EXPECT_FALSE(fs::exists(unused));

  // A write that fails names the file.
  if (fs::exists("/dev/full")) {
    SurveyPageFile full("/dev/full");
    try {
      full.write(page, subgrade_sections(), RunEnd{});
      ADD_FAILURE() << "a write to a full device passed";
    } catch (const InputError& e) {
      EXPECT_EQ(e.kind(), InputError::Kind::kFileSystem);
      EXPECT_NE(std::string(e.what()).find("/dev/full"), std::string::npos) << e.what();
    }
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace basinfit::survey
