// The CSV layer (RFC 4180 quoting, shortest round-trip numbers) and the run record's pieces
// (SHA-256 against published test vectors, float values as their shortest decimals).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "engine_support.h"
#include "common/csv.h"
#include "results/run_record.h"

namespace basinfit::results {
namespace {

TEST(CsvRow, QuotesOnlyWhatNeedsQuotingAndDoublesQuotes) {
  struct Case {
    const char* field;
    const char* written;
  };
  const Case cases[] = {
      {"1000", "1000"},
      {"STA 10+00", "STA 10+00"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {"", ""},
  };
  for (const Case& c : cases) {
    CsvRow row;
    row.field(c.field);
    EXPECT_EQ(row.text(), c.written) << c.field;
  }
  CsvRow row;
  row.field("a").empty().number(3).number(0.5f).number(kMissing);
  EXPECT_EQ(row.text(), "a,,3,0.5,");
}

TEST(CsvRow, TextThatASpreadsheetWouldRunIsQuotedBehindASingleQuote) {
  const struct {
    std::string field, written;
  } cases[] = {
      {"=1+2", "\"'=1+2\""},
      {"+K12", "\"'+K12\""},
      {"-1100", "\"'-1100\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tK1", "\"'\tK1\""},
      {"\rK1", "\"'\rK1\""},
      {"=HYPERLINK(\"x\",\"y\")", "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""},
      {"'=x", "\"''=x\""},  // the reader's one stripped quote gives it back
      {"'K1", "'K1"},
      {"K-1", "K-1"},
      {"1+100", "1+100"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvRow().field(c.field).text(), c.written) << c.field;
  // Numbers stay plain numbers.
  EXPECT_EQ(CsvRow().number(-2.5f).number(-3).text(), "-2.5,-3");
}

TEST(CsvRow, NumbersAreShortestAndReadBackExactly) {
  EXPECT_EQ(number_text(0.1f), "0.1");
  EXPECT_EQ(number_text(0.1), "0.1");
  EXPECT_EQ(number_text(3244.4563f), "3244.4563");
  EXPECT_EQ(number_text(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(number_text(-std::numeric_limits<float>::infinity()), "-inf");
  EXPECT_EQ(number_text(std::numeric_limits<float>::quiet_NaN()), "");
  // Every float and double read back from its text is the same value (a fixed pseudo-random walk
  // over bit patterns, so every exponent range is visited).
  std::uint64_t bits = 0x0123456789abcdefULL;
  for (int i = 0; i < 20000; ++i) {
    bits = bits * 6364136223846793005ULL + 1442695040888963407ULL;
    const auto single_bits = static_cast<std::uint32_t>(bits >> 32);
    float f;
    double d;
    std::memcpy(&f, &single_bits, sizeof f);
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(f)) {
      ASSERT_EQ(std::strtof(number_text(f).c_str(), nullptr), f) << number_text(f);
    }
    if (std::isfinite(d)) {
      ASSERT_EQ(std::strtod(number_text(d).c_str(), nullptr), d) << number_text(d);
    }
  }
}

TEST(RunRecord, Sha256OfPublishedTestVectors) {
  e2e::TempFolder folder("sha");
  const struct {
    std::string text;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    e2e::write_file(folder / "file", v.text);
    const RecordedFile recorded = recorded_file("file", (folder / "file").string());
    ASSERT_TRUE(recorded.digest);
    EXPECT_EQ(recorded.digest->sha256, v.digest);
    EXPECT_EQ(recorded.digest->size, v.text.size());
    // The bytes as read give the same digest (the long line is no input file).
    if (v.text.size() > kMaxRecordBytes) continue;
    const RecordedFile read = recorded_input("file", TextFile::load((folder / "file").string(), true));
    ASSERT_TRUE(read.digest);
    EXPECT_EQ(read.digest->sha256, v.digest);
  }
  EXPECT_FALSE(recorded_file("file", (folder / "missing").string()).digest);
  // A device is named as such and never read.
  const RecordedFile zero = recorded_file("file", "/dev/zero");
  EXPECT_EQ(zero.kind, "character device");
  EXPECT_FALSE(zero.digest);
}

TEST(RunRecord, FloatsAreTheirShortestDecimalsAndTimesAreUtc) {
  EXPECT_EQ(json_number(0.35f), 0.35);
  EXPECT_EQ(json_number(14.696f), 14.696);
  EXPECT_EQ(static_cast<float>(json_number(1.0f / 3.0f)), 1.0f / 3.0f);
  EXPECT_EQ(utc_time(std::chrono::system_clock::from_time_t(0)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(utc_time(std::chrono::system_clock::from_time_t(1796643697)), "2026-12-07T11:41:37Z");
}

TEST(RunRecord, CountsDropsByCodeAndFlag) {
  StationRecord station;
  DropRecord a, b, c;
  a.convergence_code = 3;
  b.convergence_code = 3;
  b.flags = kRmsHigh | kNotSeparable;
  c.convergence_code = 18;
  c.flags = kNotConverged;
  station.drops = {a, b, c};
  RunCounts counts;
  counts.add(station);
  counts.add(station);
  EXPECT_EQ(counts.stations, 2);
  EXPECT_EQ(counts.drops, 6);
  EXPECT_EQ(counts.flagged_drops, 4);
  EXPECT_EQ((counts.by_convergence_code), (std::map<int, long>{{3, 4}, {18, 2}}));
  RunDescription run;
  run.counts = counts;
  const nlohmann::json record = run_record(run);
  EXPECT_EQ(record["counts"]["by_flag"]["rms_high"], 2);
  EXPECT_EQ(record["counts"]["by_flag"]["not_converged"], 2);
  EXPECT_EQ(record["counts"]["by_flag"]["poorly_determined"], 0);
  EXPECT_EQ(record["counts"]["by_convergence_code"]["18"]["meaning"], "False Convergence (8)");
  EXPECT_TRUE(record["settings"].is_null());
}

}  // namespace
}  // namespace basinfit::results
