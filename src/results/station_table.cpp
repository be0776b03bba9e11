#include "results/station_table.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tuple>

#include "common/csv.h"
#include "common/input_error.h"

namespace basinfit::results {
namespace {

constexpr double kFeetPerMetre = 1.0 / 0.3048;
constexpr const char* kColumns[] = {"station",  "chainage",  "chainage_unit", "lane",
                                    "latitude", "longitude", "comment"};

std::string trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

// The key a row is found by: the identifier as the engine keeps it, its first 10 characters
// without trailing blanks (the importer makes identifiers unique in those 10).
std::string engine_identifier(std::string_view station) {
  const std::string whole = trimmed(station);
  return trimmed(std::string_view(whole).substr(0, 10));
}

// The whole file, refusing one longer than the limit (a device that never ends, a wrong file)
// before reading it all.
std::string read_bounded(const std::string& file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!in)
    throw InputError(file, 0, std::string("cannot open the station table: ") + std::strerror(errno),
                     InputError::Kind::kFileSystem);
  std::string text;
  char buffer[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) {
    text.append(buffer, n);
    if (text.size() > StationTable::kMaxBytes)
      throw InputError(file, 0, "the station table is longer than 256 MiB: not a station table");
  }
  if (std::ferror(in.get()))
    throw InputError(file, 0, std::string("cannot read the station table: ") + std::strerror(errno),
                     InputError::Kind::kFileSystem);
  return text;
}

std::optional<double> plain_number(std::string_view text) {
  const std::string t = trimmed(text);
  if (t.empty()) return std::nullopt;
  double value = 0;
  const char* first = t.data();
  if (*first == '+') ++first;
  const auto [end, error] = std::from_chars(first, t.data() + t.size(), value);
  if (error != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

StationTable StationTable::read(const std::string& file) {
  StationTable table;
  table.file_ = file;
  const std::vector<CsvRecord> records = read_csv(read_bounded(file), file);
  if (records.empty())
    throw InputError(file, 1, "expected the header row station,chainage,chainage_unit,...");
  const CsvRecord& header = records.front();
  bool header_ok = header.fields.size() == std::size(kColumns);
  for (std::size_t c = 0; header_ok && c < header.fields.size(); ++c)
    header_ok = trimmed(header.fields[c]) == kColumns[c];
  if (!header_ok)
    throw InputError(
        file, header.line,
        "expected the header row station,chainage,chainage_unit,lane,latitude,longitude,comment");
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    if (record.fields.size() != std::size(kColumns))
      throw InputError(
          file, record.line,
          "expected 7 fields (station to comment), found " + std::to_string(record.fields.size()));
    StationTableRow row;
    row.station = trimmed(unguarded(record.fields[0]));
    if (row.station.empty()) throw InputError(file, record.line, "expected a station identifier, found none");
    const auto chainage = plain_number(record.fields[1]);
    if (!chainage)
      throw InputError(file, record.line,
                       "expected the chainage as a plain decimal number, found '" + record.fields[1] + "'");
    row.chainage = *chainage;
    const std::string unit = trimmed(record.fields[2]);
    if (unit != "m" && unit != "ft")
      throw InputError(file, record.line, "expected the chainage unit m or ft, found '" + unit + "'");
    if (table.unit_.empty()) table.unit_ = unit;
    if (unit != table.unit_)
      throw InputError(file, record.line,
                       "the chainage unit changes from " + table.unit_ + " to " + unit + " within the table");
    row.lane = unguarded(record.fields[3]);
    for (const auto& [field, limit, name, target] :
         {std::tuple{&record.fields[4], 90.0, "latitude", &row.latitude},
          std::tuple{&record.fields[5], 180.0, "longitude", &row.longitude}}) {
      if (trimmed(*field).empty()) continue;
      const auto degrees = plain_number(*field);
      if (!degrees || std::fabs(*degrees) > limit)
        throw InputError(file, record.line,
                         std::string("expected the ") + name + " in decimal degrees within \xC2\xB1" +
                             std::to_string(static_cast<int>(limit)) + ", found '" + *field + "'");
      *target = *degrees;
    }
    row.comment = unguarded(record.fields[6]);
    if (!table.index_.emplace(engine_identifier(row.station), table.rows_.size()).second)
      throw InputError(file, record.line,
                       "the station '" + row.station +
                           "' appears twice (the engine tells stations apart by their first 10 characters)");
    table.rows_.push_back(std::move(row));
  }
  if (table.unit_.empty()) table.unit_ = "m";
  return table;
}

const StationTableRow* StationTable::find(std::string_view station) const {
  const auto it = index_.find(engine_identifier(station));
  return it == index_.end() ? nullptr : &rows_[it->second];
}

void StationTable::convert_to(bool metric) {
  const std::string unit = metric ? "m" : "ft";
  if (unit == unit_) return;
  const double factor = metric ? 1 / kFeetPerMetre : kFeetPerMetre;
  for (StationTableRow& row : rows_) row.chainage *= factor;
  unit_ = unit;
}

bool StationTable::any_lane() const {
  for (const StationTableRow& row : rows_)
    if (!row.lane.empty()) return true;
  return false;
}

bool StationTable::any_position() const {
  for (const StationTableRow& row : rows_)
    if (row.latitude || row.longitude) return true;
  return false;
}

}  // namespace basinfit::results
