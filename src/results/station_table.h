#pragma once
// The station table of a run folder: where each test point lies along the route, with its
// lane, GPS position and the operator's comment, as the importer knows them from the source
// file.  UTF-8, RFC 4180 CSV, a header row then one row per test point in survey order:
//
//   station,chainage,chainage_unit,lane,latitude,longitude,comment
//
// `station` is the identifier exactly as in the deflection data file (the engine matches rows
// by it), `chainage` a plain decimal number in `chainage_unit` (m or ft), `latitude` and
// `longitude` WGS 84 decimal degrees or empty.  A text field that a spreadsheet would run as a
// formula is written with a leading single quote, which the reader takes off again.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace basinfit::results {

struct StationTableRow {
  std::string station;
  double chainage = 0;  // in the table's unit until converted
  std::string lane;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::string comment;
};

class StationTable {
 public:
  // Reads and checks the whole table; throws InputError naming the file, the line and what was
  // expected.  The file may be at most `kMaxBytes` long.
  static StationTable read(const std::string& file);
  static constexpr std::size_t kMaxBytes = std::size_t{256} << 20;

  const std::string& file() const { return file_; }
  // "m" or "ft": the unit every chainage is in.
  const std::string& unit() const { return unit_; }
  const std::vector<StationTableRow>& rows() const { return rows_; }
  // The row of a station identifier (blanks around it ignored); nullptr when the table has none.
  const StationTableRow* find(std::string_view station) const;
  // Carries every chainage to metres (metric) or feet.
  void convert_to(bool metric);
  bool any_lane() const;
  bool any_position() const;

 private:
  std::string file_;
  std::string unit_;
  std::vector<StationTableRow> rows_;
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace basinfit::results
