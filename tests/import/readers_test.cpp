// The importer's building blocks in process: the CSV reader, the number parser and the
// float text the engine reads back, unit conversions, the structure file, format detection,
// and the PDDX reader's tolerance (case, order, declared symbols, unknown keys).
#include "import/readers.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>

#include "common/input_error.h"
#include "import/csv_table.h"
#include "import/structure.h"
#include "import/text_values.h"
#include "import/units.h"

namespace basinfit::import {
namespace {

TEST(CsvReader, QuotesDelimitersAndLineEndsFollowRfc4180) {
  const auto records = read_csv("a,\"b,c\",\"say \"\"hi\"\"\"\r\n\r\n1,\"two\nlines\",3\n4,,\n", "t.csv", device_csv(','));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].fields, (std::vector<std::string>{"a", "b,c", "say \"hi\""}));
  EXPECT_EQ(records[1].line, 3);
  EXPECT_EQ(records[1].fields, (std::vector<std::string>{"1", "two\nlines", "3"}));
  EXPECT_EQ(records[2].line, 5) << "a quoted line end counts as a line";
  EXPECT_EQ(records[2].fields, (std::vector<std::string>{"4", "", ""}));
  EXPECT_EQ(read_csv("x;y\n", "t.csv", device_csv(';'))[0].fields.size(), 2u);
  EXPECT_EQ(guess_delimiter("a;b;\"c,d\"\n"), ';');
  EXPECT_EQ(guess_delimiter("a\tb\tc"), '\t');

  const struct {
    const char* text;
    int line;
    const char* message;
  } bad[] = {{"a,b\n\"open,1\n2,3\n", 2, "not closed"},
             {"a,b\n\"x\"y,1\n", 2, "after the closing quote"},
             {"a,b\n1,2\"3\n", 2, "double quote inside an unquoted field"}};
  for (const auto& b : bad) {
    try {
      read_csv(b.text, "t.csv", device_csv(','));
      ADD_FAILURE() << "accepted: " << b.text;
    } catch (const InputError& e) {
      EXPECT_EQ(e.line(), b.line) << b.text;
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
    }
  }
}

TEST(Numbers, OnlyFiniteDecimalNumbersAndTheTextReadsBackAsTheSameFloat) {
  EXPECT_EQ(parse_number(" 12.5 "), 12.5);
  EXPECT_EQ(parse_number("+3"), 3.0);
  EXPECT_EQ(parse_number("-1e3"), -1000.0);
  EXPECT_EQ(parse_number("12,5", ','), 12.5);
  for (const char* bad : {"", "inf", "nan", "0x10", "1.2.3", "12,5", "1e999", "- 1", "1 2", "12.5"}) {
    const char decimal = std::string(bad) == "12.5" ? ',' : '.';
    EXPECT_FALSE(parse_number(bad, decimal)) << bad;
  }
  // Every float's text reads back as the same float and holds no exponent, which
  // list-directed reading would take but a person reading the file should not need.
  std::mt19937 random(7);
  std::uniform_real_distribution<double> exponent(-6.0, 6.0);
  for (int i = 0; i < 2000; ++i) {
    const float f = static_cast<float>(std::pow(10.0, exponent(random))) * (i % 2 ? 1.0f : -1.0f);
    const std::string t = float_text(f);
    EXPECT_EQ(t.find_first_of("eE"), std::string::npos) << t;
    float back = 0;
    std::from_chars(t.data(), t.data() + t.size(), back);
    EXPECT_EQ(back, f) << t;
  }
  EXPECT_EQ(float_text(27000.0), "27000");
  EXPECT_EQ(float_text(15.9), "15.9");
  EXPECT_EQ(float_text(-0.0), "0");
}

TEST(Units, WordsAndExactFactors) {
  EXPECT_EQ(parse_unit("kilo-Newton"), Unit::kKilonewton);
  EXPECT_EQ(parse_unit("Microns"), Unit::kMicron);
  EXPECT_EQ(parse_unit("mils"), Unit::kMil);
  EXPECT_EQ(parse_unit("pound-force"), Unit::kPoundForce);
  EXPECT_EQ(parse_unit("inches"), Unit::kInch);
  EXPECT_EQ(parse_unit("Fahrenheit"), Unit::kFahrenheit);
  EXPECT_EQ(parse_unit("kPa"), Unit::kKilopascal);
  EXPECT_FALSE(parse_unit("furlong"));
  EXPECT_EQ(convert(1.0, Unit::kInch, Unit::kMillimetre), 25.4);
  EXPECT_EQ(convert(1.0, Unit::kMil, Unit::kMicron), 25.4);
  EXPECT_EQ(convert(1.0, Unit::kPoundForce, Unit::kNewton), 4.4482216152605);
  EXPECT_EQ(convert(20.0, Unit::kCelsius, Unit::kFahrenheit), 68.0);
  EXPECT_EQ(convert(150.0, Unit::kMillimetre, Unit::kCentimetre), 15.0);
  EXPECT_EQ(convert(1.25, Unit::kKilometre, Unit::kMetre), 1250.0);
  EXPECT_EQ(convert(5.91, Unit::kInch, Unit::kInch), 5.91) << "no conversion within a unit";
  EXPECT_NEAR(convert(1.0, Unit::kKsi, Unit::kMegapascal), 6.894757293168361, 1e-14);
  // 566 kPa on a 150 mm plate is about 40 kN.
  EXPECT_NEAR(pressure_to_force(566, Unit::kKilopascal, 150, Unit::kMillimetre, Unit::kNewton),
              566e3 * M_PI * 0.15 * 0.15, 1e-6);
  // 100 psi on a 6 in plate: 100 * pi * 36 lbf.
  EXPECT_NEAR(pressure_to_force(100, Unit::kPsi, 6, Unit::kInch, Unit::kPoundForce), 100 * M_PI * 36, 1e-8);
}

TEST(StructureFile, LayersRangesPointsAndItsErrors) {
  const Structure s = parse_structure(
      "# a comment\nunits,english\nlayer,2,fixed,0.4,30\nlayer,1,0,0.35,450,50,3000\nstiff_layer,no\n"
      "thickness,0,999,6\nthickness,1000,,7\npoint,0,1,2\n",
      "s.csv");
  EXPECT_TRUE(s.english);
  ASSERT_EQ(s.layers.size(), 2u);
  EXPECT_EQ(s.layers[0].number, 1);
  EXPECT_EQ(s.layers[1].type, 1);
  EXPECT_EQ(s.thickness_at(999.0)->thicknesses[0], 6.0);
  EXPECT_EQ(s.thickness_at(1000.0)->thicknesses[0], 7.0);
  EXPECT_EQ(s.thickness_at(-1.0), nullptr);
  EXPECT_EQ(s.thickness_at(std::nullopt), nullptr) << "a point without chainage needs an open range";

  const struct {
    const char* text;
    int line;
    const char* message;
  } bad[] = {
      {"layer,1,fixed,0.35,100\nlayer,1,fixed,0.35,100\n", 2, "already given on line 1"},
      {"layer,1,fixed,0.7,100\n", 1, "Poisson's ratio 0.7"},
      {"layer,1,backcalculated,0.35,100,500,50\n", 1, "expected 0 <= lower < upper"},
      {"layer,1,fixed,0.35,100\nlayer,3,fixed,0.35,100\nthickness,,,5\n", 2, "layer 2 is missing"},
      {"layer,1,fixed,0.35,abc\n", 1, "expected the fixed modulus, found 'abc'"},
      {"layer,1,fixed,0.35,1\nlayer,2,fixed,0.35,1\n", 0, "no thickness record"},
      {"layer,1,fixed,0.35,1\nfoo,1\n", 2, "unknown record 'foo'"},
      {"layer,1,fixed,0.35,1\npoint,0,2,0\n", 2, "layer 2, expected 1 to 1"},
  };
  for (const auto& b : bad) {
    try {
      parse_structure(b.text, "s.csv");
      ADD_FAILURE() << "accepted: " << b.text;
    } catch (const InputError& e) {
      EXPECT_EQ(e.line(), b.line) << b.text << " -> " << e.what();
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
    }
  }
}

TEST(FormatDetection, ByContentNotByName) {
  EXPECT_EQ(detect_format("\n[Pavement Deflection Data Exchange File]\n"), Format::kPddx);
  EXPECT_EQ(detect_format("[Units]\nPDDXVersionNumber = 1.0\n"), Format::kPddx);
  EXPECT_EQ(detect_format("STATE_CODE,SHRP_ID,POINT_LOC,DROP_NO,DROP_LOAD,PEAK_DEFL_1\n"), Format::kLtpp);
  EXPECT_EQ(detect_format("CONFIGURATION_NO,SENSOR_NO,CENTER_OFFSET\n"), Format::kLtpp);
  EXPECT_EQ(detect_format("station;load;d1;d2\n1;2;3;4\n"), Format::kGenericCsv);
  EXPECT_EQ(detect_format("5001,\"F25\"\n5020,150,0,200\n"), Format::kF25);
  EXPECT_FALSE(detect_format("1 2 3\n4 5 6\n"));
  EXPECT_FALSE(detect_format(""));
  EXPECT_FALSE(detect_format("5001,x\n1,2\n")) << "F25 needs its 5020 record";
}

TEST(PddxReader, ToleratesCaseOrderDeclaredSymbolsAndUnknownKeys) {
  // Semicolons between values and decimal commas, keys out of order and in any case, an
  // unknown section and key, a 0-based DropData_ numbering and a sensor with a Y distance.
  const std::string text =
      "[pavement  deflection data exchange FILE]\nDecimalSymbol = ,\nDelimiterSymbol = ;\nPDDXVersionNumber "
      "= 1,0\n"
      "[Vendor Extras]\nFoo = 1\n"
      "[UNITS]\nloadunits = Newton\nDeflectionUnits = microns\nSensorLocationUnits = "
      "mm\nLoadPlateRadiusUnits = mm\n"
      "TestLocationUnits = meter;meter;meter\nTemperatureUnits = C\n"
      "[Device Configuration]\nNumberOfDeflectionSensors = 3\nLoadPlateRadius = 150\n"
      "DeflectionSensorXAxisDistances = 0;300;-300\nDeflectionSensorYAxisDistances = 0;400;0\n"
      "TemperatureSensorUse = Surface;Air\n"
      "[Test Location 2]\nTestLocation = 20,5;0;0\nNumberOfDrops = 1\nDropData_0 = 40000;300,5;200;250\n"
      "TestTemperatures = 25;20\nMysteryKey = 3\n"
      "[Test Location 1]\nNumberOfDrops = 2\nDROPDATA_1 = 40100;301;201;251\nDropData_0 = 40000;300;200;250\n"
      "TestLocation = 10;0;0\nTestTemperatures = 24;19\n";
  const SourceSurvey s = read_pddx({"t.pdx", text});
  EXPECT_EQ(s.format, "PDDX 1.0");
  ASSERT_EQ(s.stations.size(), 2u);
  EXPECT_EQ(s.stations[0].chainage, 10.0) << "ordered by the location number";
  EXPECT_EQ(s.stations[1].chainage, 20.5);
  ASSERT_EQ(s.stations[0].drops.size(), 2u);
  EXPECT_EQ(s.stations[0].drops[0].load, 40000.0) << "ordered by the drop number";
  EXPECT_EQ(s.stations[1].drops[0].deflections[0], 300.5);
  EXPECT_EQ(std::hypot(s.sensors[1].x, s.sensors[1].y), 500.0);
  EXPECT_EQ(s.stations[0].temperatures[0].use, "surface");
  EXPECT_EQ(s.stations[0].temperatures[0].value, 24.0);
  int unknown = 0;
  for (const std::string& n : s.notes)
    if (n.find("Vendor Extras") != std::string::npos || n.find("MysteryKey") != std::string::npos) ++unknown;
  EXPECT_EQ(unknown, 2);
}

}  // namespace
}  // namespace basinfit::import
