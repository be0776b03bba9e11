#include "network/geopackage.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/input_error.h"
#include "common/replacement_file.h"
#include "network/batch_outputs.h"
#include "network/database.h"
#include "survey/chainage.h"

namespace basinfit::network {
namespace {

struct DatasetCloser {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};

// A uniform section of a survey: its range along the route in the unit it was found in.
struct SectionRange {
  int number = 0;
  std::string unit;  // "m", "ft" or "station" (survey order)
  double start = 0, end = 0;
};

std::map<std::string, std::vector<SectionRange>> read_sections(sqlite::Connection& db) {
  std::map<std::string, std::vector<SectionRange>> sections;
  sqlite::Statement rows(
      db,
      "SELECT survey, section, start_m, end_m, start_ft, end_ft, start_station, end_station "
      "FROM sections ORDER BY survey, section");
  while (rows.step()) {
    for (const auto& [column, unit] : {std::pair{2, "m"}, {4, "ft"}, {6, "station"}})
      if (!rows.is_null(column) && !rows.is_null(column + 1)) {
        sections[rows.column_text(0)].push_back({static_cast<int>(rows.column_integer(1)), unit,
                                                 rows.column_real(column), rows.column_real(column + 1)});
        break;
      }
  }
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

// The stations' columns worth a map: every one this database has among the chainages and the
// normalised moduli that holds a value somewhere (a metric network has no ksi fields).
std::vector<std::string> station_fields(sqlite::Connection& db) {
  std::vector<std::string> numeric;
  {
    sqlite::Statement info(db, "SELECT name FROM pragma_table_info('stations')");
    while (info.step()) {
      const std::string name = info.column_text(0);
      if (name.rfind("chainage_", 0) == 0 || name.find("_norm_") != std::string::npos)
        numeric.push_back(name);
    }
  }
  std::vector<std::string> fields;
  for (const std::string& c : numeric) {
    sqlite::Statement any(db, "SELECT 1 FROM stations WHERE \"" + c + "\" IS NOT NULL LIMIT 1");
    if (any.step()) fields.push_back(c);
  }
  return fields;
}

// GDAL's failures as it reports them, the first one kept: a write that fails inside the
// GeoPackage driver (a full disk, a file-size limit) is often reported only this way, while the
// calls around it go on as if nothing had happened.  Warnings still go to standard error.
class GdalFailures {
 public:
  GdalFailures() { CPLPushErrorHandlerEx(&GdalFailures::heard, this); }
  ~GdalFailures() { CPLPopErrorHandler(); }
  GdalFailures(const GdalFailures&) = delete;
  GdalFailures& operator=(const GdalFailures&) = delete;
  const std::optional<std::string>& first() const { return first_; }

 private:
  static void CPL_STDCALL heard(CPLErr level, CPLErrorNum number, const char* message) {
    auto* self = static_cast<GdalFailures*>(CPLGetErrorHandlerUserData());
    if (level < CE_Failure) return CPLDefaultErrorHandler(level, number, message);
    if (!self->first_) self->first_ = message;
  }
  std::optional<std::string> first_;
};

[[noreturn]] void gdal_failed(const std::filesystem::path& file) {
  throw InputError(file.string(), 0, CPLGetLastErrorMsg(), InputError::Kind::kFileSystem);
}

// The point layer `stations` in WGS 84 longitude and latitude, with its fields.
OGRLayer* create_station_layer(GDALDataset& out, const std::vector<std::string>& fields,
                               const std::filesystem::path& file) {
  OGRSpatialReference wgs84;
  wgs84.importFromEPSG(4326);
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRLayer* layer = out.CreateLayer("stations", &wgs84, wkbPoint, nullptr);
  if (!layer) gdal_failed(file);
  const auto add_field = [&](const std::string& name, OGRFieldType type) {
    OGRFieldDefn field(name.c_str(), type);
    if (layer->CreateField(&field) != OGRERR_NONE) gdal_failed(file);
  };
  add_field("survey", OFTString);
  add_field("station", OFTString);
  add_field("station_no", OFTInteger);
  add_field("lane", OFTString);
  for (const std::string& f : fields) add_field(f, OFTReal);
  add_field("flagged_drops", OFTInteger);
  add_field("flags", OFTString);
  add_field("section", OFTInteger);
  return layer;
}

// The stations of the surveys of the status bound to ?1, with their flagged drops and flags; the
// columns in the order fill_station reads them.
std::string station_query(const std::vector<std::string>& fields) {
  std::string sql = "SELECT st.survey, st.station, st.station_no, st.lane, st.latitude, st.longitude";
  for (const std::string& f : fields) sql += ", st.\"" + f + "\"";
  return sql +
         ", (SELECT count(*) FROM drops d WHERE d.survey = st.survey AND d.station_no = st.station_no AND "
         "d.flags IS NOT NULL AND d.flags <> ''),"
         " (SELECT group_concat(DISTINCT d.flags) FROM drops d WHERE d.survey = st.survey AND "
         "d.station_no = st.station_no AND d.flags IS NOT NULL AND d.flags <> '')"
         ", st.chainage_m, st.chainage_ft"
         " FROM stations st JOIN surveys s ON s.survey = st.survey WHERE s.status = ?"
         " ORDER BY st.survey, st.station_no";
}

// One row of station_query as a point feature (the row has a position).
void fill_station(OGRFeature& feature, const sqlite::Statement& row, const std::vector<std::string>& fields,
                  const std::map<std::string, std::vector<SectionRange>>& sections) {
  const std::string survey = row.column_text(0), station = row.column_text(1);
  const int station_no = static_cast<int>(row.column_integer(2));
  feature.SetField("survey", survey.c_str());
  feature.SetField("station", station.c_str());
  feature.SetField("station_no", station_no);
  if (!row.is_null(3)) feature.SetField("lane", row.column_text(3).c_str());
  int column = 6;
  for (const std::string& f : fields) {
    if (!row.is_null(column)) feature.SetField(f.c_str(), row.column_real(column));
    ++column;
  }
  feature.SetField("flagged_drops", static_cast<int>(row.column_integer(column)));
  feature.SetField("flags", row.column_text(column + 1).c_str());
  const auto optional_at = [&](int c) {
    return row.is_null(c) ? std::optional<double>() : std::optional<double>(row.column_real(c));
  };
  if (const auto found = sections.find(survey); found != sections.end())
    if (const auto section =
            section_of(found->second, station, station_no, optional_at(column + 2), optional_at(column + 3)))
      feature.SetField("section", *section);
  OGRPoint point(row.column_real(5), row.column_real(4));
  feature.SetGeometry(&point);
}

// Every station with a position as a feature of `layer`, in one GeoPackage transaction.
ExportOutcome write_stations(sqlite::Connection& db, GDALDataset& out, OGRLayer& layer,
                             const std::vector<std::string>& fields, const std::filesystem::path& file) {
  const auto sections = read_sections(db);
  sqlite::Statement rows(db, station_query(fields));
  rows.bind_text(1, to_text(SurveyStatus::kOk));
  if (out.StartTransaction() != OGRERR_NONE) gdal_failed(file);
  ExportOutcome outcome;
  while (rows.step()) {
    if (rows.is_null(4) || rows.is_null(5)) {
      ++outcome.without_position;
      continue;
    }
    OGRFeature feature(layer.GetLayerDefn());
    fill_station(feature, rows, fields, sections);
    if (layer.CreateFeature(&feature) != OGRERR_NONE) gdal_failed(file);
    ++outcome.written;
  }
  if (out.CommitTransaction() != OGRERR_NONE) gdal_failed(file);
  return outcome;
}

}  // namespace

ExportOutcome export_geopackage(const std::filesystem::path& out, const std::filesystem::path& file) {
  Database db(out / "results.sqlite", DatabaseUse::kRead);
  refuse_output_over_batch(out, file, "GeoPackage", db);
  const std::vector<std::string> fields = station_fields(db.connection());

  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  if (!driver)
    throw InputError(file.string(), 0, "GDAL has no GeoPackage driver", InputError::Kind::kFileSystem);
  // GDAL creates the file by name: in a private folder beside the target, then renamed.
  ReplacementFile replacement = ReplacementFile::for_writer(file, "GeoPackage", "stations.gpkg");
  ExportOutcome outcome;
  const GdalFailures failures;
  {
    std::unique_ptr<GDALDataset, DatasetCloser> out(
        driver->Create(replacement.path().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!out) gdal_failed(file);
    OGRLayer* layer = create_station_layer(*out, fields, file);
    outcome = write_stations(db.connection(), *out, *layer, fields, file);
  }
  // Closed: every byte of the GeoPackage has been written, or a failure was heard.
  if (failures.first())
    throw InputError(file.string(), 0, "cannot write the GeoPackage: " + *failures.first(),
                     InputError::Kind::kFileSystem);
  replacement.commit();
  return outcome;
}

}  // namespace basinfit::network
