// The GeoPackage of a batch opened with GDAL's own ogrinfo: one point per station with a
// position, at its longitude and latitude, with its normalised moduli.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "network_support.h"

namespace basinfit::network_test {
namespace {

using e2e::run_program;
using e2e::TempFolder;

TEST(NetworkGeoPackage, StationsWithAPositionBecomePointsTheOthersAreCounted) {
  if (std::system("command -v ogrinfo >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ogrinfo (gdal-bin) is not installed";
  TempFolder folder("network-gpkg");
  write_run_folder(folder.path() / "metric", "metric");
  write_file(folder / "network.csv", "name,source\nmetric,metric\n");
  const fs::path out = folder / "out";
  ASSERT_EQ(run_program(batch_path(), {"run", (folder / "network.csv").string(), "--out", out.string()})
                .exit_status,
            0);
  // Positions for the first five stations, as a reader that knows them would store them.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((out / "results.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "UPDATE stations SET latitude = 45 + station_no / 1000.0, longitude = -75 - station_no / "
                   "1000.0 WHERE station_no <= 5",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);

  const fs::path gpkg = folder / "stations.gpkg";
  const auto exported = run_program(batch_path(), {"export", out.string(), "--geopackage", gpkg.string()});
  EXPECT_EQ(exported.exit_status, 0) << exported.err;
  EXPECT_NE(exported.err.find("5 stations written; note: 7 stations without a position left out"),
            std::string::npos)
      << exported.err;
  const auto summary = run_program("ogrinfo", {"-ro", "-so", gpkg.string(), "stations"});
  EXPECT_EQ(summary.exit_status, 0) << summary.err;
  EXPECT_NE(summary.out.find("Geometry: Point"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("Feature Count: 5"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("E3_norm_MPa: Real"), std::string::npos) << summary.out;
  const auto first = run_program("ogrinfo", {"-ro", gpkg.string(), "stations", "-where", "station_no = 1"});
  EXPECT_NE(first.out.find("POINT (-75.001 45.001)"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("station (String) = 1000"), std::string::npos) << first.out;
  // Station 1000 begins the first uniform section of sections.csv (1000 m onwards).
  EXPECT_NE(first.out.find("section (Integer) = 1"), std::string::npos) << first.out;
}

}  // namespace
}  // namespace basinfit::network_test
