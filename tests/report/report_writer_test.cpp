// The writer the station loop calls: both reports, in order, and flushed per station.

#include "report/report_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/message_writer.h"
#include "report_scenarios.h"

namespace basinfit::testing {
namespace {

std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() /
        ("basinfit_report_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(ReportFiles, EveryStationIsOnDiskWholeBeforeTheNextOneIsRead) {
  // A later input error ends the run without closing the reports cleanly; what the files hold
  // at that moment must be whole stations.
  const Scenario scenario = metric_default_points();
  std::ofstream detail_file(dir_ / "detail.txt", std::ios::binary);
  std::ofstream summary_file(dir_ / "summary.txt", std::ios::binary);
  // Large buffers, so that nothing reaches the disk unless the writer flushes.
  std::vector<char> detail_buffer(1 << 20), summary_buffer(1 << 20);
  detail_file.rdbuf()->pubsetbuf(detail_buffer.data(), static_cast<std::streamsize>(detail_buffer.size()));
  summary_file.rdbuf()->pubsetbuf(summary_buffer.data(), static_cast<std::streamsize>(summary_buffer.size()));
  TextUnit detail(detail_file), summary(summary_file);
  std::ostringstream log_text;
  TextUnit log(log_text);
  MessageWriter messages(&log, nullptr);
  EngineUnits units{detail, summary, messages, false};
  const auto writer = make_report_writer(units);

  writer->write_headers(scenario.stations[0]);
  EXPECT_EQ(lines_of(file_text(dir_ / "detail.txt")).size(), 5u);
  EXPECT_EQ(lines_of(file_text(dir_ / "summary.txt")).size(), 6u);

  writer->write_station(scenario.stations[0]);
  const std::string detail_after_first = file_text(dir_ / "detail.txt");
  const std::string summary_after_first = file_text(dir_ / "summary.txt");
  EXPECT_EQ(lines_of(detail_after_first).size(), 5u + 2u + 3u * 18u + 7u);
  EXPECT_EQ(lines_of(summary_after_first).size(), 6u + 1u + 3u + 1u);
  EXPECT_EQ(detail_after_first.back(), '\n');
  EXPECT_EQ(summary_after_first.back(), '\n');

  writer->write_station(scenario.stations[1]);
  const WrittenReports whole = write_reports(scenario);
  EXPECT_EQ(file_text(dir_ / "detail.txt"), whole.detail);
  EXPECT_EQ(file_text(dir_ / "summary.txt"), whole.summary);
}

TEST(ReportWriter, ClosingTheUnitsAfterTheLastStationAddsNoBlankLine) {
  // The statistics block ends by only ending its open line; closing the detail unit after it
  // must leave the file as it was.
  for (const Scenario& scenario : all_scenarios()) {
    std::ostringstream detail_text, summary_text, log_text;
    TextUnit detail(detail_text), summary(summary_text), log(log_text);
    MessageWriter messages(&log, nullptr);
    EngineUnits units{detail, summary, messages, false};
    const auto writer = make_report_writer(units);
    writer->write_headers(scenario.stations.front());
    for (const RunState& station : scenario.stations) writer->write_station(station);
    const std::string detail_before = detail_text.str(), summary_before = summary_text.str();
    detail.finish();
    summary.finish();
    EXPECT_EQ(detail_text.str(), detail_before) << scenario.name;
    EXPECT_EQ(summary_text.str(), summary_before) << scenario.name;
  }
}

}  // namespace
}  // namespace basinfit::testing
