// Numeric fields checked against an independent implementation: the GNU Fortran runtime
// formats the same values with the same edit descriptors, and every line must agree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/record_format.h"

namespace basinfit {
namespace {

bool have_gfortran() { return std::system("command -v gfortran >/dev/null 2>&1") == 0; }

struct Case {
  std::string format;
  std::vector<float> values;
  std::vector<int> integers;
};

// Values around the interesting places: ties, field overflow, small magnitudes, signs.
std::vector<float> sample_values() {
  std::vector<float> v = {0.0f,    -0.0f,   0.5f,     -0.5f,   0.125f, 0.375f,  2.5f,     -2.5f,   0.05f,
                          0.95f,   0.995f,  9.995f,   99.995f, 999.5f, 1234.5f, -1234.5f, 1.0e-3f, -1.0e-3f,
                          1.0e-7f, 3.0e30f, 12345.0f, 0.1f,    -0.04f, 1.0e10f, 63.33f,   2648.68f};
  std::mt19937 gen(12345);
  std::uniform_real_distribution<float> mantissa(-10.0f, 10.0f);
  std::uniform_int_distribution<int> exponent(-6, 6);
  for (int i = 0; i < 300; ++i)
    v.push_back(mantissa(gen) * std::pow(10.0f, static_cast<float>(exponent(gen))));
  return v;
}

TEST(RecordFormatDifferential, RealFieldsAgreeWithTheFortranRuntime) {
  if (!have_gfortran()) GTEST_SKIP() << "gfortran is not installed";
  const std::vector<std::string> formats = {"(f8.2)",  "(f4.3)",         "(f5.3)", "(f10.0)",   "(f7.1)",
                                            "(f5.2)",  "(f6.2)",         "(f8.3)", "(f4.1)",    "(f2.0)",
                                            "(e11.3)", "(e10.2)",        "(e9.1)", "(1pe14.3)", "(1pe17.6)",
                                            "(e15.7)", "(1p,e10.3,f8.2)"};
  const std::vector<float> values = sample_values();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("basinfit-gfortran-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream source(dir / "fields.f90");
  source << "program fields\n  real :: v(" << values.size() << ")\n";
  for (std::size_t i = 0; i < values.size(); ++i) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.9e", static_cast<double>(values[i]));
    source << "  v(" << i + 1 << ") = " << buffer << "\n";
  }
  source << "  v(2) = -0.0\n";
  for (const std::string& f : formats) {
    const bool two = f == "(1p,e10.3,f8.2)";
    source << "  do i = 1, " << values.size() << "\n";
    source << "    write(*,'" << f << "') v(i)" << (two ? ", v(i)" : "") << "\n  end do\n";
  }
  source << "end program\n";
  source.close();
  const std::string build =
      "cd " + dir.string() + " && gfortran -o fields fields.f90 2>build.err && ./fields > out.txt";
  ASSERT_EQ(std::system(build.c_str()), 0) << "gfortran build or run failed";
  std::ifstream out(dir / "out.txt");
  std::string line;
  std::size_t mismatches = 0;
  for (const std::string& f : formats) {
    const Format parsed(f);
    const bool two = f == "(1p,e10.3,f8.2)";
    for (float v : values) {
      ASSERT_TRUE(std::getline(out, line));
      const std::string ours = two ? format_to_string(parsed, v, v) : format_to_string(parsed, v);
      if (ours != line && ++mismatches <= 10)
        ADD_FAILURE() << f << " of " << v << ": ours '" << ours << "', runtime '" << line << "'";
    }
  }
  EXPECT_EQ(mismatches, 0u);
  std::filesystem::remove_all(dir);
}

TEST(RecordFormatDifferential, IntegerFieldsAgreeWithTheFortranRuntime) {
  if (!have_gfortran()) GTEST_SKIP() << "gfortran is not installed";
  const std::vector<int> values = {0, 1, -1, 9, 10, -9, -10, 99, 100, -99, 12345, -12345, 2147483647};
  const std::vector<std::string> formats = {"(i1)", "(i2)", "(i3)", "(i5)", "(I7)", "(i11)"};
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("basinfit-gfortran-i-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream source(dir / "ints.f90");
  source << "program ints\n  integer :: v(" << values.size() << ")\n";
  for (std::size_t i = 0; i < values.size(); ++i) source << "  v(" << i + 1 << ") = " << values[i] << "\n";
  for (const std::string& f : formats)
    source << "  do i = 1, " << values.size() << "\n    write(*,'" << f << "') v(i)\n  end do\n";
  source << "end program\n";
  source.close();
  const std::string build =
      "cd " + dir.string() + " && gfortran -o ints ints.f90 2>build.err && ./ints > out.txt";
  ASSERT_EQ(std::system(build.c_str()), 0);
  std::ifstream out(dir / "out.txt");
  std::string line;
  for (const std::string& f : formats) {
    const Format parsed(f);
    for (int v : values) {
      ASSERT_TRUE(std::getline(out, line));
      EXPECT_EQ(format_to_string(parsed, v), line) << f << " of " << v;
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace basinfit
