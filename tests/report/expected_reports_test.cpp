// Whole report files for the scenarios, compared with reviewed expected files, and the
// invariants that tie the two reports together.
//
// To regenerate after a deliberate layout change: BASINFIT_UPDATE_EXPECTED=1 report_tests,
// then review the diff line by line against the record layouts before committing it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_scenarios.h"

namespace basinfit::testing {
namespace {

const std::filesystem::path kExpectedDir =
    std::filesystem::path(BASINFIT_SOURCE_DIR) / "tests/report/expected";

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void compare_with_expected(const std::string& actual, const std::string& file_name) {
  const std::filesystem::path path = kExpectedDir / file_name;
  if (std::getenv("BASINFIT_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(path, std::ios::binary) << actual;
    GTEST_SKIP() << "rewrote " << path;
  }
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  const std::vector<std::string> want = lines_of(read_file(path));
  const std::vector<std::string> got = lines_of(actual);
  for (std::size_t i = 0; i < want.size() && i < got.size(); ++i)
    EXPECT_EQ(got[i], want[i]) << file_name << " line " << i + 1;
  EXPECT_EQ(got.size(), want.size()) << file_name;
  EXPECT_EQ(actual, read_file(path)) << file_name << ": whole file, line ends included";
}

class ExpectedReports : public ::testing::TestWithParam<Scenario> {};

TEST_P(ExpectedReports, DetailReportMatchesTheReviewedFile) {
  compare_with_expected(write_reports(GetParam()).detail, GetParam().name + ".detail.txt");
}

TEST_P(ExpectedReports, SummaryReportMatchesTheReviewedFile) {
  compare_with_expected(write_reports(GetParam()).summary, GetParam().name + ".summary.txt");
}

TEST_P(ExpectedReports, SummaryLinesAfterTheHeaderHaveTheColumnsOfTheColumnLine) {
  const Scenario& scenario = GetParam();
  const RunSettings& s = scenario.stations.front().settings;
  const std::size_t expected =
      1 + 1 + (s.temperature_adjustment == 1 ? 1 : 0) + static_cast<std::size_t>(s.layer_count) + 1;
  const std::vector<std::string> lines = lines_of(write_reports(scenario).summary);
  ASSERT_GT(lines.size(), 6u);
  for (std::size_t i = 5; i < lines.size(); ++i)
    EXPECT_EQ(columns_of(lines[i]).size(), expected) << "summary line " << i + 1 << ": " << lines[i];
}

TEST_P(ExpectedReports, ProjectLinesAreTheSameBytesInBothReports) {
  const WrittenReports reports = write_reports(GetParam());
  const std::vector<std::string> detail = lines_of(reports.detail);
  const std::vector<std::string> summary = lines_of(reports.summary);
  ASSERT_GE(detail.size(), 5u);
  ASSERT_GE(summary.size(), 5u);
  for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(detail[i], summary[i]) << "header line " << i + 1;
  EXPECT_EQ(detail[0], "Backcalculation by Basinfit 5.0 - Detail Output");
  EXPECT_EQ(summary[0], "Backcalculation by Basinfit 5.0 - Summary Output");
  EXPECT_EQ(summary[0].size(), 48u);
}

TEST_P(ExpectedReports, NoBlankLinesAndEveryLineEnded) {
  const WrittenReports reports = write_reports(GetParam());
  for (const std::string* text : {&reports.detail, &reports.summary}) {
    ASSERT_FALSE(text->empty());
    EXPECT_EQ(text->back(), '\n');
    EXPECT_EQ(text->find("\n\n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ExpectedReports, ::testing::ValuesIn(all_scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
}  // namespace basinfit::testing
