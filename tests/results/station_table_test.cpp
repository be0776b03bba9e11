// The station table of a run folder: RFC 4180 fields, the spreadsheet guard taken off, units,
// and every malformed table refused with its file and line.

#include "results/station_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/input_error.h"

namespace basinfit::results {
namespace {

namespace fs = std::filesystem;

fs::path write_table(const std::string& text) {
  const fs::path file = fs::temp_directory_path() / ("station_table_" + std::to_string(getpid()) + ".csv");
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

constexpr const char* kHeader = "station,chainage,chainage_unit,lane,latitude,longitude,comment\r\n";

TEST(StationTable, ReadsQuotedFieldsAndTakesOffTheFormulaGuard) {
  const fs::path file = write_table(std::string("\xEF\xBB\xBF") + kHeader +
                                    "1250,7.6,m,'-L1,51.5,-0.125,\"cracked, \"\"wet\"\"\"\r\n"
                                    "\"'=SUM(A1)\",57.6,m,,,,\"two\nlines\"\n"
                                    "'x,1e3,m,'+,,,'@home\n"
                                    "KM0012.350_L1,12350,m,,,,\n");
  const StationTable table = StationTable::read(file.string());
  ASSERT_EQ(table.rows().size(), 4u);
  // The engine keeps an identifier's first 10 characters: a longer one is found by those.
  ASSERT_NE(table.find("KM0012.350"), nullptr);
  EXPECT_EQ(table.find("KM0012.350")->chainage, 12350);
  EXPECT_EQ(table.unit(), "m");
  const StationTableRow* first = table.find("  1250 ");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->chainage, 7.6);
  EXPECT_EQ(first->lane, "-L1");
  EXPECT_EQ(*first->latitude, 51.5);
  EXPECT_EQ(*first->longitude, -0.125);
  EXPECT_EQ(first->comment, "cracked, \"wet\"");
  const StationTableRow* second = table.find("=SUM(A1)");
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(second->latitude.has_value());
  EXPECT_EQ(second->comment, "two\nlines");
  // A quote before any other character stays: only a guard before a formula character goes.
  ASSERT_NE(table.find("'x"), nullptr);
  EXPECT_EQ(table.find("'x")->lane, "+");
  EXPECT_EQ(table.find("'x")->comment, "@home");
  EXPECT_TRUE(table.any_lane());
  EXPECT_TRUE(table.any_position());

  StationTable feet = table;
  feet.convert_to(false);
  EXPECT_EQ(feet.unit(), "ft");
  EXPECT_NEAR(feet.find("1250")->chainage, 7.6 / 0.3048, 1e-9);
  fs::remove(file);
}

TEST(StationTable, MalformedTablesNameFileAndLine) {
  const struct {
    std::string body;
    int line;
    const char* says;
  } cases[] = {
      {"station,chainage\n", 1, "header row"},
      {std::string(kHeader) + "1,12 m,m,,,,\n", 2, "plain decimal number"},
      {std::string(kHeader) + "1,nan,m,,,,\n", 2, "plain decimal number"},
      {std::string(kHeader) + "1,1,km,,,,\n", 2, "m or ft"},
      {std::string(kHeader) + "1,1,m,,,,\n2,2,ft,,,,\n", 3, "changes from m to ft"},
      {std::string(kHeader) + "1,1,m,,91,0,\n", 2, "latitude"},
      {std::string(kHeader) + "1,1,m,,0,-180.5,\n", 2, "longitude"},
      {std::string(kHeader) + "1,1,m,,,,\n1,2,m,,,,\n", 3, "appears twice"},
      {std::string(kHeader) + "ABCDEFGHIJ1,1,m,,,,\nABCDEFGHIJ2,2,m,,,,\n", 3, "first 10 characters"},
      {std::string(kHeader) + "1,1,m,,,\n", 2, "expected 7 fields"},
      {std::string(kHeader) + ",1,m,,,,\n", 2, "station identifier"},
      {std::string(kHeader) + "1,1,m,,,,\"open\n", 2, "not closed"},
      {std::string(kHeader) + "1,1,m,a\"b,,,\n", 2, "quote inside"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const fs::path file = write_table(c.body);
    try {
      (void)StationTable::read(file.string());
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(e.kind(), InputError::Kind::kInput);
      EXPECT_EQ(e.file(), file.string());
      EXPECT_EQ(e.line(), c.line);
      EXPECT_NE(e.reason().find(c.says), std::string::npos) << e.reason();
    }
    fs::remove(file);
  }
  // A file that is not there is a file-system error.
  try {
    (void)StationTable::read("/nonexistent/station-table.csv");
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_EQ(e.kind(), InputError::Kind::kFileSystem);
  }
}

}  // namespace
}  // namespace basinfit::results
