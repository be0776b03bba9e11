// The bundled English example run through the executable: both reports must equal the
// reviewed files in tests/e2e/expected.  After a deliberate change of layout or numerics,
// regenerate with BASINFIT_UPDATE_EXPECTED=1 and review the diff line by line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine_support.h"

namespace basinfit::e2e {
namespace {

const std::filesystem::path kExample = std::filesystem::path(BASINFIT_SOURCE_DIR) / "examples" / "english";
const std::filesystem::path kExpected =
    std::filesystem::path(BASINFIT_SOURCE_DIR) / "tests" / "e2e" / "expected";

void compare_or_update(const std::filesystem::path& produced, const std::string& expected_name) {
  const std::filesystem::path expected = kExpected / expected_name;
  if (std::getenv("BASINFIT_UPDATE_EXPECTED") != nullptr) {
    std::filesystem::create_directories(kExpected);
    std::filesystem::copy_file(produced, expected, std::filesystem::copy_options::overwrite_existing);
    return;
  }
  const std::string want = read_file(expected);
  const std::string got = read_file(produced);
  ASSERT_FALSE(want.empty()) << expected << " is missing";
  if (want == got) return;
  // Name the first differing line rather than dumping both files.
  std::istringstream a(want), b(got);
  std::string la, lb;
  int line = 0;
  while (true) {
    const bool more_a = static_cast<bool>(std::getline(a, la));
    const bool more_b = static_cast<bool>(std::getline(b, lb));
    ++line;
    if (!more_a && !more_b) break;
    if (la != lb || more_a != more_b) {
      ADD_FAILURE() << expected_name << " differs at line " << line << "\n expected: " << la
                    << "\n produced: " << lb;
      return;
    }
  }
  ADD_FAILURE() << expected_name << " differs in its line endings";
}

TEST(ExampleReports, EnglishSurveyReportsMatchTheReviewedFiles) {
  TempFolder f("example");
  for (const char* name : {"standard.dat", "general.dat", "deflections.dat"})
    std::filesystem::copy_file(kExample / name, f / name);
  const EngineRun run = run_program(basinfit_path(), {write_control(f).string()});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  compare_or_update(f / "detail.txt", "english.detail.txt");
  compare_or_update(f / "summary.txt", "english.summary.txt");
}

}  // namespace
}  // namespace basinfit::e2e
