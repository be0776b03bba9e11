#include "common/list_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace basinfit {
namespace {

TEST(ListReader, ValuesSpanLinesAndEachReadStartsOnANewRecord) {
  TextFile f("gen.dat", "3, 0 15.0\n  9 2\n0 30 60 extra\n7\n");
  ListReader r(f);
  int layers = 0, units = -1, sensors = 0, weighting = 0;
  float radius = 0;
  ASSERT_EQ(r.read({{layers, "layers"},
                    {units, "unit flag"},
                    {radius, "radius"},
                    {sensors, "sensors"},
                    {weighting, "weighting"}}),
            ListReader::Status::kComplete);
  EXPECT_EQ(layers, 3);
  EXPECT_EQ(units, 0);
  EXPECT_FLOAT_EQ(radius, 15.0f);
  EXPECT_EQ(sensors, 9);
  EXPECT_EQ(weighting, 2);
  EXPECT_EQ(r.last_line(), 1);
  EXPECT_EQ(r.end_line(), 2);
  std::array<float, 3> offsets{};
  ASSERT_EQ(r.read({{std::span<float>(offsets), "offsets"}}), ListReader::Status::kComplete);
  EXPECT_EQ(offsets, (std::array<float, 3>{0, 30, 60}));  // "extra" on the same record is skipped
  int seven = 0;
  ASSERT_EQ(r.read({{seven, "x"}}), ListReader::Status::kComplete);
  EXPECT_EQ(seven, 7);
  EXPECT_EQ(r.read({{seven, "x"}}), ListReader::Status::kEndOfFile);
}

TEST(ListReader, RepeatCountsNullsAndSlash) {
  TextFile f("x", "3*2.5 ,, 4\n1 2/ 9 9\n2* 5\n");
  ListReader r(f);
  std::array<float, 6> v{-1, -1, -1, -1, -1, -1};
  ASSERT_EQ(r.read({{std::span<float>(v), "values"}}), ListReader::Status::kComplete);
  // The double comma leaves the fourth value alone; the sixth comes from the next line.
  EXPECT_EQ(v, (std::array<float, 6>{2.5f, 2.5f, 2.5f, -1, 4, 1}));
  EXPECT_EQ(r.end_line(), 2);
  int a = 0, b = 0, c = 0;
  ASSERT_EQ(r.read({{a, "a"}, {b, "b"}, {c, "c"}}), ListReader::Status::kComplete);
  EXPECT_EQ(c, 5);
}

TEST(ListReader, SlashEndsTheReadAndLeavesTheRestUnchanged) {
  TextFile f("x", "1 2/ 9 9\n2* 5\n");
  ListReader r(f);
  int a = 0, b = 0, c = -7;
  ASSERT_EQ(r.read({{a, "a"}, {b, "b"}, {c, "c"}}), ListReader::Status::kComplete);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, -7);
  int x = 11, y = 12, z = 13;
  ASSERT_EQ(r.read({{x, "x"}, {y, "y"}, {z, "z"}}), ListReader::Status::kComplete);
  EXPECT_EQ(x, 11);  // 2* is two null values
  EXPECT_EQ(y, 12);
  EXPECT_EQ(z, 5);
}

TEST(ListReader, LeadingCommaIsANullValue) {
  TextFile f("x", ", 3\n");
  ListReader r(f);
  int a = 9, b = 0;
  ASSERT_EQ(r.read({{a, "a"}, {b, "b"}}), ListReader::Status::kComplete);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, 3);
}

TEST(ListReader, FortranRealForms) {
  for (auto [text, value] : std::initializer_list<std::pair<const char*, float>>{{"1", 1.0f},
                                                                                 {"-2.5", -2.5f},
                                                                                 {".5", 0.5f},
                                                                                 {"1.", 1.0f},
                                                                                 {"1.e3", 1000.0f},
                                                                                 {"2.5D-3", 2.5e-3f},
                                                                                 {"1.0+3", 1000.0f},
                                                                                 {"+4E2", 400.0f},
                                                                                 {"1e-50", 0.0f}}) {
    const RealParse p = parse_real(text);
    EXPECT_TRUE(p.ok) << text;
    EXPECT_FLOAT_EQ(p.value, value) << text;
  }
  EXPECT_FALSE(parse_real("1.2.3").ok);
  EXPECT_FALSE(parse_real(".").ok);
  EXPECT_FALSE(parse_real("e5").ok);
  EXPECT_FALSE(parse_real("12a").ok);
  EXPECT_TRUE(parse_real("1e39").out_of_range);
  EXPECT_TRUE(parse_real("NaN").non_finite);
  EXPECT_TRUE(parse_real("-Infinity").non_finite);
  EXPECT_TRUE(std::isinf(parse_real("-inf").value));
}

TEST(ListReader, ErrorsNameFileLineItemAndExpectation) {
  TextFile f("general.dat", "title\n3 0 1.5x 9 0\n");
  ListReader r(f);
  r.read_text(79);
  int n = 0, u = 0, s = 0, w = 0;
  float radius = 0;
  try {
    r.read({{n, "number of layers"}, {u, "unit flag"}, {radius, "plate radius"}, {s, "sensors"}, {w, "w"}});
    FAIL() << "no error";
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "general.dat");
    EXPECT_EQ(e.line(), 2);
    EXPECT_EQ(e.reason(), "expected a number for plate radius, found '1.5x'");
    EXPECT_EQ(std::string(e.what()), "general.dat, line 2: expected a number for plate radius, found '1.5x'");
  }
  TextFile g("d", "\n\n 4.0\n");
  ListReader r2(g);
  int k = 0;
  try {
    r2.read({{k, "number of drops"}});
    FAIL();
  } catch (const InputError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_EQ(e.reason(), "expected an integer for number of drops, found '4.0'");
  }
  TextFile h("d", "1e40\n70000\n");
  ListReader r3(h);
  float big = 0;
  EXPECT_THROW(r3.read({{big, "load"}}), InputError);
  short drops = 0;
  EXPECT_THROW(r3.read({{drops, "drops"}}), InputError);
}

TEST(ListReader, EndOfFileBeforeAndWithinARead) {
  TextFile f("p", "12.0 2\n");
  ListReader r(f);
  float radial = 0;
  int layer = 0, position = 0;
  EXPECT_EQ(r.read({{radial, "r"}, {layer, "l"}, {position, "p"}}), ListReader::Status::kIncomplete);
  EXPECT_EQ(r.read({{radial, "r"}}), ListReader::Status::kEndOfFile);
}

TEST(ListReader, RereadStartsAgainFromTheRecord) {
  TextFile f("l", "1 0 0.35 3000 1000 8000\n2 1 0.4 60\n");
  ListReader r(f);
  int j = 0, type = -1;
  float nu = 0, e = 0, lo = 0, hi = 0;
  r.read({{j, "j"}, {type, "type"}, {nu, "nu"}, {e, "e"}});
  r.reread_last();
  r.read({{j, "j"}, {type, "type"}, {nu, "nu"}, {e, "e"}, {lo, "lo"}, {hi, "hi"}});
  EXPECT_FLOAT_EQ(lo, 1000);
  EXPECT_FLOAT_EQ(hi, 8000);
  r.read({{j, "j"}, {type, "type"}, {nu, "nu"}, {e, "e"}});
  EXPECT_EQ(j, 2);
  EXPECT_FLOAT_EQ(e, 60);
}

TEST(TextFile, CrLfAndByteOrderMark) {
  TextFile f("x", "\xEF\xBB\xBFRoute 66\r\n1250 4\r\n");
  ASSERT_EQ(f.record_count(), 2u);
  EXPECT_EQ(f.record(0), "Route 66");
  EXPECT_EQ(f.record(1), "1250 4");
  ListReader r(f);
  EXPECT_EQ(*r.read_text(10), "Route 66  ");
  EXPECT_EQ(*r.read_text(3), "125");
  EXPECT_FALSE(r.read_text(3).has_value());
}

TEST(TextFile, MissingFileNamesIt) {
  try {
    TextFile::load("/nonexistent/dir/gen.dat");
    FAIL();
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "/nonexistent/dir/gen.dat");
    EXPECT_EQ(e.exit_status(), 2);
  }
}

}  // namespace
}  // namespace basinfit
