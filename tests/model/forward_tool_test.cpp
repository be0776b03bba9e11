// The basinfit-model command-line tool, run as a program on small inputs: its table must carry
// the library's numbers at full precision, and bad input must fail with the line it is on.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/response_model.h"

namespace basinfit::model {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

fs::path tool_path() { return fs::path(BASINFIT_BINARY_DIR) / "apps" / "basinfit-model"; }

ToolRun run_tool(const std::string& input, const std::string& args = "") {
  const fs::path dir = fs::temp_directory_path() / ("basinfit_model_tool_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path in = dir / "case.txt", out = dir / "out.txt", err = dir / "err.txt";
  std::ofstream(in) << input;
  const std::string command =
      tool_path().string() + " " + args + " " + in.string() + " >" + out.string() + " 2>" + err.string();
  const int raw = std::system(command.c_str());
  ToolRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::stringstream o, e;
  o << std::ifstream(out).rdbuf();
  e << std::ifstream(err).rdbuf();
  r.out = o.str();
  r.err = e.str();
  fs::remove_all(dir);
  return r;
}

std::vector<std::vector<std::string>> table(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream cl(line);
    std::string cell;
    while (std::getline(cl, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

class ForwardTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(tool_path())) GTEST_SKIP() << "basinfit-model is not built";
  }
};

TEST_F(ForwardTool, TableCarriesTheLibraryResultsAtFullPrecision) {
  const ToolRun r =
      run_tool("3\n3000, 300, 60\n0.35 0.35 0.45\n150 300\n150 0.566\n3\n0 0 1\n900 0 1\n0 300 2\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = table(r.out);
  ASSERT_EQ(rows.size(), 4u);
  ASSERT_EQ(rows[0].size(), 3 + kResultColumns);
  EXPECT_EQ(rows[0][0], "offset");
  EXPECT_EQ(rows[0][3], "sigma_xx");
  EXPECT_EQ(rows[0][3 + kDisplacementZ], "w");

  LayerSystem s;
  s.modulus = {3000, 300, 60, 60, 60};
  s.poisson = {0.35, 0.35, 0.45, 0.45, 0.45};
  s.thickness = {150, 300, 300, 300};  // the last thickness given is repeated
  const CircularLoad load{0.566, 150, 0, 0};
  const std::array<EvaluationPoint, 3> points = {{{0, 0, 0, 1}, {0, 900, 0, 1}, {0, 0, 300, 2}}};
  const ModelResult expected = evaluate_response(s, std::span(&load, 1), points);
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(rows[i + 1].size(), 3 + kResultColumns);
    for (std::size_t col = 0; col < kResultColumns; ++col) {
      // 17 significant digits read back to the same double.
      EXPECT_EQ(std::strtod(rows[i + 1][3 + col].c_str(), nullptr), expected.rows[i][col])
          << "row " << i << " column " << result_column_name(col);
    }
  }
}

TEST_F(ForwardTool, OneLayerNeedsNoThicknessLine) {
  const ToolRun r = run_tool("1\n100\n0.3\n5 1\n1\n0 0 1\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = table(r.out);
  ASSERT_EQ(rows.size(), 2u);
  const double w = std::strtod(rows[1][3 + kDisplacementZ].c_str(), nullptr);
  EXPECT_NEAR(w, -2 * (1 - 0.09) * 5 / 100.0, 1e-12);
}

TEST_F(ForwardTool, BadInputNamesItsLineAndExitsWithOne) {
  struct Case {
    const char* input;
    const char* line;
  };
  const Case cases[] = {{"3\n3000 300 60\n0.35 0.35 0.45\n150 oops\n", "line 4"},
                        {"6\n", "line 1"},
                        {"2\n100 50\n0.3 0.3\n10\n5 1\n11\n", "line 6"},
                        {"2\n100 50\n0.3 0.3\n10\n5 1\n1\n0 0 7\n", "line 7"},
                        {"2\n100 -50\n0.3 0.3\n10\n5 1\n1\n0 0 1\n", "line 2"},
                        {"2\n100 50\n0.3 1.0\n10\n5 1\n1\n0 0 1\n", "line 3"}};
  for (const Case& c : cases) {
    const ToolRun r = run_tool(c.input);
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_NE(r.err.find(c.line), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << c.input;
  }
}

TEST_F(ForwardTool, ThinTopLayerFailsCleanly) {
  const ToolRun r = run_tool("2\n100 50\n0.3 0.3\n0.05\n5 1\n1\n0 0 1\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("initial integration step"), std::string::npos) << r.err;
}

TEST_F(ForwardTool, HelpStatesUnitsAndSignsAndVersionAnswers) {
  const ToolRun help = run_tool("", "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("UNITS"), std::string::npos);
  EXPECT_NE(help.out.find("SIGN CONVENTIONS"), std::string::npos);
  EXPECT_NE(help.out.find("compression"), std::string::npos);
  const ToolRun version = run_tool("", "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("basinfit-model"), std::string::npos);
  EXPECT_EQ(run_tool("", "--no-such-option").status, 2);
}

}  // namespace
}  // namespace basinfit::model
