// Deflection basin indices from the basin alone, one drop at a time: no structure, no model.
//
//   DropBasin basin{40.3, 7, {0, 200, 300, 450, 600, 900, 1500}, {412, 301, 247, 180, 133, 76, 31}};
//   BasinIndices indices = basin_indices(basin, BasinOptions{});
//   if (indices.sci_um.has_value()) write(indices.sci_um.value);   // at the standard load
//   else write_empty(indices.sci_um.reason);
//
// Every index is normalised linearly to the standard load (deflections times standard load /
// drop load); the ratios (AREA, F1, F2) and the impulse stiffness do not change under that
// normalisation.  Units are in the names: offsets mm, deflections um (micrometres), loads kN.
//
// Which deflection an index uses.  An index is defined at nominal offsets (0, 200, 300, 600,
// 900 mm; 12, 24, 36 in).  A sensor counts as at a nominal offset when it lies within the
// offset tolerance (the larger of 5 mm and 2 % of the offset): the 12-in (304.8 mm) and the
// 300-mm sensor positions of English and metric devices are the same position to the indices.
// Otherwise the deflection at the nominal offset is interpolated between the measured sensors
// beyond the centre by a monotone piecewise cubic in log deflection against log offset, and
// only between two of them: the basin is never extrapolated beyond the outermost sensor, never
// interpolated between the centre sensor and the first one beyond it (across the edge of the
// load plate, where the basin bends sharply), and a sensor at the nominal offset whose reading
// is unusable is never replaced by an interpolation around it.  Where no deflection can be
// had, the index is empty with the reason.
//
// Why log-log: beyond the plate the basin of a half-space falls as 1 / offset, a straight line
// in log-log, and a layered pavement's basin bends only slowly there; in linear coordinates it
// is strongly convex near the plate.  A half-space's D300 read from sensors at 200 and 450 mm
// is 9 % high by a monotone cubic in linear coordinates, 4 % by a straight line, and 0.8 % by
// the monotone cubic in log-log (tested).  Monotone in log-log is monotone in offset.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "structural/value.h"

namespace basinfit::structural {

inline constexpr std::size_t kMaxSensors = 10;

// One drop as measured: its peak load and the peak deflections at the sensors.  A sensor whose
// deflection is not a positive finite number has no usable reading.
struct DropBasin {
  double load_kn = 0.0;
  std::size_t sensor_count = 0;
  std::array<double, kMaxSensors> offset_mm{};
  std::array<double, kMaxSensors> deflection_um{};
};

struct BasinOptions {
  double standard_load_kn = 40.0;  // the indices are carried to this load
  // A sensor within max(offset_tolerance_mm, offset_tolerance_percent of the offset) of a
  // nominal offset is read as the deflection there.
  double offset_tolerance_mm = 5.0;
  double offset_tolerance_percent = 2.0;
};

// A monotone piecewise cubic Hermite interpolant (F. N. Fritsch and R. E. Carlson, Monotone
// piecewise cubic interpolation, SIAM J. Numer. Anal. 17(2), 1980, 238-246) with the interior
// slopes of F. N. Fritsch and J. Butland (A method for constructing local monotone piecewise
// cubic interpolants, SIAM J. Sci. Stat. Comput. 5(2), 1984, 300-304): a weighted harmonic mean
// of the neighbouring secants, zero where the data turn; shape-preserving three-point slopes at
// the ends.  Where the data are monotone the interpolant is monotone; it never overshoots the
// data between two knots; it is C1 and local (a knot moves the curve over two intervals only).
class MonotoneCubic {
 public:
  // x strictly increasing and finite, y finite, 2 to kMaxSensors knots; false otherwise.
  bool build(std::span<const double> x, std::span<const double> y);
  // The interpolant at x, which must lie within [first knot, last knot].
  double operator()(double x) const;
  std::size_t knot_count() const { return count_; }

 private:
  std::size_t count_ = 0;
  std::array<double, kMaxSensors> x_{}, y_{}, slope_{};
};

// How the deflection at a nominal offset was found.
enum class ReadingSource {
  kNone,          // no deflection: `reason` says why
  kSensor,        // a sensor within the offset tolerance (`sensor_offset_mm`)
  kInterpolated,  // between two measured sensors
};

struct BasinReading {
  double nominal_offset_mm = 0.0;
  double deflection_um = kNoValue;  // as measured, not normalised
  ReadingSource source = ReadingSource::kNone;
  double sensor_offset_mm = kNoValue;  // the sensor read, for kSensor
  std::string reason;
};

// The nominal offsets the indices need, in the order of BasinIndices::readings.
inline constexpr std::array<double, 8> kNominalOffsetsMm{0.0,   200.0, 300.0, 600.0,
                                                         900.0, 304.8, 609.6, 914.4};

struct BasinIndices {
  double load_kn = kNoValue;           // the drop's load
  double standard_load_kn = kNoValue;  // the load the values below are carried to
  Value d0_um;                         // peak deflection under the load
  Value sci_um;                        // surface curvature index D0 - D300 (Horak's base layer index BLI)
  Value bdi_um;                        // base damage index D300 - D600 (middle layer index MLI)
  Value bci_um;                        // base curvature index D600 - D900 (lower layer index LLI)
  Value roc_m;                         // radius of curvature L^2 / (2 (D0 - D200)), L = 200 mm
  Value area_in;                       // AREA = 6 (1 + 2 D12/D0 + 2 D24/D0 + D36/D0), inches
  Value f1;                            // shape factor (D0 - D24) / D12
  Value f2;                            // shape factor (D12 - D36) / D24
  Value impulse_stiffness_kn_per_mm;   // load / D0
  std::array<BasinReading, kNominalOffsetsMm.size()> readings{};  // how each deflection was found
  bool interpolated = false;  // some index used an interpolated deflection
};

// The deflection of `basin` at `nominal_offset_mm` under the rules above (not normalised).
BasinReading read_basin(const DropBasin& basin, double nominal_offset_mm, const BasinOptions& options);

// All indices of one drop, normalised to options.standard_load_kn.
BasinIndices basin_indices(const DropBasin& basin, const BasinOptions& options);

}  // namespace basinfit::structural
