// The workbench's pure parts: what a request must carry, what an upload name becomes, and the
// structure form written as the importer's file and read back.
#include <gtest/gtest.h>

#include "common/input_error.h"
#include "import/structure.h"
#include "workbench/internal/structure_form.h"
#include "workbench/security.h"

namespace basinfit::workbench {
namespace {

TEST(WorkbenchSecurity, UploadNamesBecomeSafeBaseNamesOrNothing) {
  const struct {
    const char* given;
    const char* expected;  // nullptr: refused
  } cases[] = {
      {"survey.pdx", "survey.pdx"},
      {"../../etc/passwd", "passwd"},
      {"C:\\data\\r12.f25", "r12.f25"},
      {"/abs/path/x.csv", "x.csv"},
      {"..", nullptr},
      {".", nullptr},
      {"", nullptr},
      {"dir/", nullptr},
      {".hidden.pdx", "hidden.pdx"},
      {"a\x01\x1f\x7f b.pdx", "a b.pdx"},
      {"CON", nullptr},
      {"con.txt", nullptr},
      {"LPT1.csv", nullptr},
      {"COM9", nullptr},
      {"console.pdx", "console.pdx"},
      {"com10.pdx", "com10.pdx"},
      {"what?<>|*\".pdx", "what.pdx"},
      {"-rf.pdx", "rf.pdx"},
      {"name. ", "name"},
  };
  for (const auto& c : cases) {
    const auto safe = safe_file_name(std::string_view(c.given));
    if (c.expected)
      EXPECT_EQ(safe.value_or("(refused)"), c.expected) << c.given;
    else
      EXPECT_FALSE(safe) << c.given << " became " << *safe;
  }
  EXPECT_EQ(safe_file_name(std::string("a\0b.pdx", 7)).value_or(""), "ab.pdx");
  EXPECT_LE(safe_file_name(std::string(500, 'x') + ".pdx")->size(), 120u);
  EXPECT_EQ(safe_file_name(std::string(500, 'x') + ".pdx")->substr(116), ".pdx");
}

TEST(WorkbenchSecurity, HostOriginAndCookie) {
  EXPECT_TRUE(allowed_host("127.0.0.1:8080", 8080));
  EXPECT_TRUE(allowed_host("LOCALHOST:8080", 8080));
  for (const char* host : {"127.0.0.1", "127.0.0.1:80", "127.0.0.1:8080.evil", "localhost.evil:8080",
                           "evil.example:8080", "127.0.0.2:8080", "[::1]:8080", ""})
    EXPECT_FALSE(allowed_host(host, 8080)) << host;
  EXPECT_TRUE(allowed_origin("http://127.0.0.1:8080", 8080));
  for (const char* origin : {"null", "https://127.0.0.1:8080", "http://127.0.0.1:8081", "http://evil.example",
                             "http://127.0.0.1:8080/path", ""})
    EXPECT_FALSE(allowed_origin(origin, 8080)) << origin;
  EXPECT_EQ(cookie_value("a=1; basinfit_workbench=xyz; b=2", "basinfit_workbench").value_or(""), "xyz");
  EXPECT_FALSE(cookie_value("xbasinfit_workbench=1", "basinfit_workbench"));
  EXPECT_TRUE(same_secret("abc", "abc"));
  EXPECT_FALSE(same_secret("abc", "abd"));
  EXPECT_FALSE(same_secret("abc", "abcd"));
  const std::string a = new_session_secret(), b = new_session_secret();
  EXPECT_EQ(a.size(), 64u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
}

// A structure read by the importer, turned into the form and written back, reads as the same
// structure: the form loses nothing the engine uses.
TEST(WorkbenchStructure, FormRoundTripsThroughTheImportersReader) {
  const std::string text =
      "units,english\ntitle,\"Route 7, overlay\"\nlayer,1,backcalculated,0.35,500,100,3000\n"
      "layer,2,fixed,0.4,30\nlayer,3,backcalculated,0.45,10,1,100\nstiff_layer,yes\n"
      "thickness,0,1000.5,4.5,12\nthickness,1000.5,,5,10.25\npoint,0,1,2\npoint,6,3,0\n";
  const import::Structure first = import::parse_structure(text, "s");
  const import::Structure again =
      import::parse_structure(structure_text(form_from_structure(first)).text, "t");
  EXPECT_EQ(again.english, first.english);
  EXPECT_EQ(again.title, "Route 7, overlay");
  EXPECT_EQ(again.stiff_layer, true);
  ASSERT_EQ(again.layers.size(), 3u);
  for (std::size_t j = 0; j < 3; ++j) {
    EXPECT_EQ(again.layers[j].type, first.layers[j].type);
    EXPECT_EQ(again.layers[j].poisson, first.layers[j].poisson);
    EXPECT_EQ(again.layers[j].modulus, first.layers[j].modulus);
    EXPECT_EQ(again.layers[j].lower, first.layers[j].lower);
    EXPECT_EQ(again.layers[j].upper, first.layers[j].upper);
  }
  ASSERT_EQ(again.ranges.size(), 2u);
  EXPECT_EQ(again.ranges[0].to, 1000.5);
  EXPECT_FALSE(again.ranges[1].to);
  EXPECT_EQ(again.ranges[1].thicknesses, first.ranges[1].thicknesses);
  ASSERT_EQ(again.points.size(), 2u);
  EXPECT_EQ(again.points[1].layer, 3);
}

// Each line of the written file names the form row it came from, so the reader's message
// lands beside the field; a value cannot smuggle in a record of its own.
TEST(WorkbenchStructure, ReaderMessagesPointAtTheirFormRow) {
  Json form = Json::parse(R"({"units":"metric","layers":[
      {"type":"backcalculated","poisson":"0.35","modulus":"3000","lower":"500","upper":"20000"},
      {"type":"backcalculated","poisson":"0.35","modulus":"60","lower":"10","upper":"500"}],
      "ranges":[{"from":"","to":"","thicknesses":["20"]},{"from":"5","to":"","thicknesses":["x"]}],
      "points":[]})");
  const StructureText text = structure_text(form);
  try {
    import::parse_structure(text.text, "s");
    FAIL() << "a thickness 'x' was read";
  } catch (const InputError& e) {
    ASSERT_GE(e.line(), 1);
    EXPECT_EQ(text.line_rows[static_cast<std::size_t>(e.line() - 1)],
              (std::pair<std::string, int>{"range", 1}));
  }
  form["title"] = "a\nlayer,3,fixed,0.4,30";
  form["ranges"][1]["thicknesses"][0] = "25";
  const import::Structure s = import::parse_structure(structure_text(form).text, "s");
  EXPECT_EQ(s.layers.size(), 2u);
  EXPECT_EQ(s.title, "alayer,3,fixed,0.4,30");
}

}  // namespace
}  // namespace basinfit::workbench
