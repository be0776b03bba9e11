#pragma once
// The pavement structure the engineer supplies beside the deflection file: layers, the
// stiff-layer flag, thicknesses for the whole survey or per chainage range, and optional
// evaluation points.  A CSV file whose first field names the record:
//
//   units,metric                      metric: cm, MPa, chainage in m; english: in, ksi, ft
//   title,Route 12 overlay design     (optional)
//   layer,1,backcalculated,0.35,3000,500,20000   number, type, Poisson's ratio, seed, bounds
//   layer,3,fixed,0.45,60                        a fixed layer has no bounds
//   stiff_layer,no                    yes: the last layer is a stiff layer
//   thickness,,,15.0,35.0             from, to (chainage, inclusive, empty = open), one
//   thickness,1000,1200,15.9,35.2       thickness per layer above the last; first match wins
//   point,0,1,2                       evaluation point: radial distance, layer, position
//
// Lines starting with # and empty lines are ignored.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit::import {

struct StructureLayer {
  int number = 0;
  int type = 0;  // 0 backcalculated, 1 fixed
  double poisson = 0;
  double modulus = 0;
  double lower = 0;
  double upper = 0;
  int line = 0;
};

struct ThicknessRange {
  std::optional<double> from;
  std::optional<double> to;
  std::vector<double> thicknesses;
  int line = 0;
};

struct EvaluationPoint {
  double radius = 0;
  int layer = 0;
  int position = 0;
  int line = 0;
};

struct Structure {
  std::string file;
  bool english = false;
  bool units_given = false;
  std::string title;
  std::vector<StructureLayer> layers;  // ordered by number
  bool stiff_layer = false;
  std::vector<ThicknessRange> ranges;
  std::vector<EvaluationPoint> points;

  // The range that holds `chainage` (in this file's chainage unit): the first row whose
  // bounds contain it; a station without chainage matches only an open row.
  const ThicknessRange* thickness_at(std::optional<double> chainage) const;
};

Structure parse_structure(std::string_view text, const std::string& file);
Structure read_structure(const std::string& path);

// Bounds on what is read, so that a device or a pipe that never ends (/dev/zero) is refused
// with a message instead of exhausting the memory: the longest line (a PDDX drop line with
// time histories stays far below it), the largest survey (the LTPP deflection tables of one
// section hold a few megabytes) and the largest structure file (a few hundred
// lines at most).
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxSurveyBytes = std::size_t{256} << 20;
inline constexpr std::size_t kMaxStructureBytes = std::size_t{16} << 20;

// Reads a whole file as bytes; a missing or unreadable file is an InputError of kind
// kFileSystem naming it; a line longer than kMaxLineBytes or a file larger than `max_bytes`
// an input error naming it and the limit.
std::string read_bytes(const std::string& path, std::size_t max_bytes = kMaxSurveyBytes);

}  // namespace basinfit::import
