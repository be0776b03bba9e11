#include "network/geopackage.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "network/database.h"
#include "survey/chainage.h"

namespace basinfit::network {
namespace {

struct DatasetCloser {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};

std::string text_of(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? reinterpret_cast<const char*>(t) : "";
}

// A uniform section of a survey: its range along the route in the unit it was found in.
struct SectionRange {
  int number = 0;
  std::string unit;  // "m", "ft" or "station" (survey order)
  double start = 0, end = 0;
};

std::map<std::string, std::vector<SectionRange>> read_sections(sqlite3* h,
                                                               const std::filesystem::path& database) {
  std::map<std::string, std::vector<SectionRange>> sections;
  sqlite3_stmt* rows = nullptr;
  if (sqlite3_prepare_v2(
          h,
          "SELECT survey, section, start_m, end_m, start_ft, end_ft, start_station, end_station "
          "FROM sections ORDER BY survey, section",
          -1, &rows, nullptr) != SQLITE_OK)
    throw DatabaseError(database.string() + ": " + sqlite3_errmsg(h));
  while (sqlite3_step(rows) == SQLITE_ROW) {
    for (const auto& [column, unit] : {std::pair{2, "m"}, {4, "ft"}, {6, "station"}})
      if (sqlite3_column_type(rows, column) != SQLITE_NULL &&
          sqlite3_column_type(rows, column + 1) != SQLITE_NULL) {
        sections[text_of(rows, 0)].push_back({sqlite3_column_int(rows, 1), unit,
                                              sqlite3_column_double(rows, column),
                                              sqlite3_column_double(rows, column + 1)});
        break;
      }
  }
  sqlite3_finalize(rows);
  return sections;
}

// The section a station lies in, at its position as the survey page placed it: the station
// table's chainage where the results carry one, else its identifier read as a chainage, or its
// place in the survey when the sections run in survey order.
std::optional<int> section_of(const std::vector<SectionRange>& sections, const std::string& station,
                              int station_no, std::optional<double> chainage_m,
                              std::optional<double> chainage_ft) {
  for (const SectionRange& section : sections) {
    std::optional<double> at;
    if (section.unit == "station")
      at = station_no;
    else if (section.unit == "m")
      at = chainage_m ? chainage_m : survey::parse_chainage(station, true);
    else
      at = chainage_ft ? chainage_ft : survey::parse_chainage(station, false);
    if (at && *at >= section.start && *at <= section.end) return section.number;
  }
  return std::nullopt;
}

}  // namespace

ExportOutcome export_geopackage(const std::filesystem::path& database, const std::filesystem::path& file) {
  Database db(database);
  sqlite3* h = db.handle();
  // The stations' columns worth a map: every one this database has among these.
  std::vector<std::string> numeric;
  {
    sqlite3_stmt* info = nullptr;
    sqlite3_prepare_v2(h, "SELECT name FROM pragma_table_info('stations')", -1, &info, nullptr);
    while (sqlite3_step(info) == SQLITE_ROW) {
      const std::string name = text_of(info, 0);
      if (name.rfind("chainage_", 0) == 0 || name.find("_norm_") != std::string::npos)
        numeric.push_back(name);
    }
    sqlite3_finalize(info);
  }
  // Only columns holding a value somewhere become fields (a metric network has no ksi fields).
  std::vector<std::string> fields;
  for (const std::string& c : numeric) {
    sqlite3_stmt* any = nullptr;
    const std::string sql = "SELECT 1 FROM stations WHERE \"" + c + "\" IS NOT NULL LIMIT 1";
    sqlite3_prepare_v2(h, sql.c_str(), -1, &any, nullptr);
    if (sqlite3_step(any) == SQLITE_ROW) fields.push_back(c);
    sqlite3_finalize(any);
  }

  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  if (!driver)
    throw InputError(file.string(), 0, "GDAL has no GeoPackage driver", InputError::Kind::kFileSystem);
  const std::filesystem::path temporary =
      file.parent_path() / ("." + file.filename().string() + ".partial.gpkg");
  std::filesystem::remove(temporary);
  ExportOutcome outcome;
  {
    std::unique_ptr<GDALDataset, DatasetCloser> out(
        driver->Create(temporary.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!out) throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRLayer* layer = out->CreateLayer("stations", &wgs84, wkbPoint, nullptr);
    if (!layer) throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
    const auto add_field = [&](const std::string& name, OGRFieldType type) {
      OGRFieldDefn field(name.c_str(), type);
      if (layer->CreateField(&field) != OGRERR_NONE)
        throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
    };
    add_field("survey", OFTString);
    add_field("station", OFTString);
    add_field("station_no", OFTInteger);
    add_field("lane", OFTString);
    for (const std::string& f : fields) add_field(f, OFTReal);
    add_field("flagged_drops", OFTInteger);
    add_field("flags", OFTString);
    add_field("section", OFTInteger);
    const auto sections = read_sections(h, database);

    std::string sql = "SELECT st.survey, st.station, st.station_no, st.lane, st.latitude, st.longitude";
    for (const std::string& f : fields) sql += ", st.\"" + f + "\"";
    sql +=
        ", (SELECT count(*) FROM drops d WHERE d.survey = st.survey AND d.station_no = st.station_no AND "
        "d.flags IS NOT NULL AND d.flags <> ''),"
        " (SELECT group_concat(DISTINCT d.flags) FROM drops d WHERE d.survey = st.survey AND "
        "d.station_no = st.station_no AND d.flags IS NOT NULL AND d.flags <> '')"
        ", st.chainage_m, st.chainage_ft"
        " FROM stations st JOIN surveys s ON s.survey = st.survey WHERE s.status = 'ok'"
        " ORDER BY st.survey, st.station_no";
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &rows, nullptr) != SQLITE_OK)
      throw DatabaseError(database.string() + ": " + sqlite3_errmsg(h));
    if (out->StartTransaction() != OGRERR_NONE) {
      sqlite3_finalize(rows);
      throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
    }
    while (sqlite3_step(rows) == SQLITE_ROW) {
      if (sqlite3_column_type(rows, 4) == SQLITE_NULL || sqlite3_column_type(rows, 5) == SQLITE_NULL) {
        ++outcome.without_position;
        continue;
      }
      OGRFeature feature(layer->GetLayerDefn());
      feature.SetField("survey", text_of(rows, 0).c_str());
      feature.SetField("station", text_of(rows, 1).c_str());
      feature.SetField("station_no", sqlite3_column_int(rows, 2));
      if (sqlite3_column_type(rows, 3) != SQLITE_NULL) feature.SetField("lane", text_of(rows, 3).c_str());
      int column = 6;
      for (const std::string& f : fields) {
        if (sqlite3_column_type(rows, column) != SQLITE_NULL)
          feature.SetField(f.c_str(), sqlite3_column_double(rows, column));
        ++column;
      }
      feature.SetField("flagged_drops", sqlite3_column_int(rows, column));
      feature.SetField("flags", text_of(rows, column + 1).c_str());
      const auto optional_at = [&](int c) {
        return sqlite3_column_type(rows, c) == SQLITE_NULL
                   ? std::optional<double>()
                   : std::optional<double>(sqlite3_column_double(rows, c));
      };
      if (const auto found = sections.find(text_of(rows, 0)); found != sections.end())
        if (const auto section = section_of(found->second, text_of(rows, 1), sqlite3_column_int(rows, 2),
                                            optional_at(column + 2), optional_at(column + 3)))
          feature.SetField("section", *section);
      OGRPoint point(sqlite3_column_double(rows, 5), sqlite3_column_double(rows, 4));
      feature.SetGeometry(&point);
      if (layer->CreateFeature(&feature) != OGRERR_NONE) {
        sqlite3_finalize(rows);
        throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
      }
      ++outcome.written;
    }
    sqlite3_finalize(rows);
    if (out->CommitTransaction() != OGRERR_NONE)
      throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
  }
  std::filesystem::rename(temporary, file);
  return outcome;
}

}  // namespace basinfit::network
