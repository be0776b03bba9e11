// Critical strains under a standard load from the backcalculated moduli, by the project's own
// layered elastic model (model/response_model.h), and the allowable repetitions and remaining
// life from the Asphalt Institute's transfer functions.  SI in, SI out: moduli MPa, lengths mm,
// loads kN, pressures kPa; strains in microstrain (1e-6), tension positive for the horizontal
// strain, compression positive for the vertical one.
//
//   LayerStructure pavement{{3, {150, 300}, {0.35, 0.35, 0.45}, 1, 3}, {3000, 300, 60}};
//   CriticalStrains strains = critical_strains(pavement, WheelLoads{});
//   RemainingLife life = remaining_life(strains.dual_wheel, pavement.modulus_mpa[0], traffic, {});
//
// The single wheel is one circular load; the dual wheel two equal circular loads side by side
// on the x axis, superposed by the model, which resolves each load's radial and tangential
// responses into one x, y frame before adding them.  The worst point of the dual wheel is
// searched along the axle line from the centre line between the tyres to the outer half of a
// tyre, at the bottom of the bound layers and at the top of the subgrade separately (the
// single wheel's worst points are on its axis).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "structural/traffic.h"
#include "structural/value.h"

namespace basinfit::structural {

inline constexpr std::size_t kMaxLayers = 5;

// The pavement's layers as the survey describes them.  Layers are numbered from the surface;
// the model takes up to four layers on a half-space, and a system with fewer layers repeats its
// last layer below.
struct PavementLayers {
  std::size_t layer_count = 0;                        // 2-5, the subgrade and any stiff layer included
  std::array<double, kMaxLayers - 1> thickness_mm{};  // layers 1 .. layer_count - 1
  std::array<double, kMaxLayers> poisson{};
  // The top layers bound with bitumen: the fatigue strain is taken at the bottom of the last
  // of them.  0: no bound layer (no fatigue strain).
  std::size_t bound_layer_count = 1;
  // The layer that is the subgrade (1-based): the last layer, or the one above a stiff layer;
  // 0 stands for the last layer.
  std::size_t subgrade_layer = 0;

  std::size_t subgrade() const { return subgrade_layer == 0 ? layer_count : subgrade_layer; }
  // Thickness of everything above the subgrade, mm.
  double pavement_thickness_mm() const {
    double total = 0.0;
    for (std::size_t j = 0; j + 1 < subgrade() && j < thickness_mm.size(); ++j) total += thickness_mm[j];
    return total;
  }
};

// The layers with the moduli the strains are computed for.
struct LayerStructure {
  PavementLayers layers;
  std::array<double, kMaxLayers> modulus_mpa{};
};

// The standard load.  Defaults: the 80 kN (18-kip) single axle whose passes the ESALs count,
// each half of it 40 kN; the single wheel carries 40 kN on one circle, the dual wheel 20 kN on
// each of two circles 350 mm apart centre to centre; a tyre pressure of 700 kPa (about 100 psi,
// a truck tyre's inflation pressure) is the uniform contact pressure of every circle.
struct WheelLoads {
  double single_load_kn = 40.0;
  double single_pressure_kpa = 700.0;
  double dual_load_kn = 20.0;  // per tyre
  double dual_pressure_kpa = 700.0;
  double dual_spacing_mm = 350.0;  // centre to centre; at least one tyre's diameter
};

struct CriticalStrain {
  Value microstrain;
  // Where it was found, along the axle line from the centre line of the wheel (the single
  // wheel's axis, or the midpoint between the dual tyres).
  double offset_mm = kNoValue;
};

struct WheelStrains {
  CriticalStrain horizontal_tensile;    // largest horizontal principal tension, bottom of the bound layers
  CriticalStrain vertical_compressive;  // largest vertical compression, top of the subgrade
};

struct CriticalStrains {
  WheelStrains single_wheel;
  WheelStrains dual_wheel;
  int model_evaluations = 0;  // evaluations of the layered model spent on them
};

CriticalStrains critical_strains(const LayerStructure& pavement, const WheelLoads& loads);

// The dual wheel's strains at given offsets along the axle line (mm from the midpoint between
// the tyres), at both depths, in one evaluation of the model: the profile the search of
// critical_strains walks.  At most kMaxAxlePoints offsets; false when the pavement or the loads
// are refused or the model fails.
inline constexpr std::size_t kMaxAxlePoints = 5;
struct AxlePoint {
  double offset_mm = kNoValue;
  double tensile_microstrain = kNoValue;      // bottom of the bound layers (NaN without one)
  double compressive_microstrain = kNoValue;  // top of the subgrade
};
bool dual_wheel_strains_along_axle(const LayerStructure& pavement, const WheelLoads& loads,
                                   std::span<const double> offsets_mm, std::span<AxlePoint> out);

// --- Transfer functions: the Asphalt Institute (Thickness Design, Manual Series MS-1, 1981) --

// Mix volumetrics of the fatigue criterion's C = 10^M, M = 4.84 (Vb / (Va + Vb) - 0.69).  Not
// given (the default): C = 1, the widely quoted form Nf = 0.0796 et^-3.291 E^-0.854 (18.4 x
// 4.325e-3 = 0.0796), which stands for a mix with Vb / (Va + Vb) = 0.69.
struct TransferOptions {
  double air_voids_percent = kNoValue;      // Va
  double binder_volume_percent = kNoValue;  // Vb, effective binder by volume
};

// Fatigue cracking (20 % of the wheel path):  Nf = 18.4 C 4.325e-3 et^-3.291 E^-0.854,
// et the horizontal tensile strain at the bottom of the asphalt (in/in), E its modulus in psi.
double ai_fatigue_repetitions(double tensile_strain, double asphalt_modulus_psi,
                              const TransferOptions& options);

// Subgrade rutting (a 0.5 in rut):  Nd = 1.365e-9 ec^-4.477, ec the vertical compressive strain
// at the top of the subgrade (in/in).
double ai_rutting_repetitions(double compressive_strain);

enum class Criterion { kNone, kFatigue, kRutting };
std::string_view criterion_word(Criterion criterion);  // "", "fatigue", "rutting"

struct RemainingLife {
  Value fatigue_repetitions;    // Nf, 80 kN axle passes
  Value rutting_repetitions;    // Nd
  Value allowable_repetitions;  // the lesser of the two
  Criterion governing = Criterion::kNone;
  // Miner's damage of the design traffic: W18 / allowable repetitions (above 1: the pavement in
  // its present state does not carry the design traffic).
  Value damage_ratio;
  // Years until the traffic, from now and growing as given, adds up to the allowable
  // repetitions.  The backcalculated moduli describe the pavement as it is today, so the
  // allowable repetitions are what remains: past traffic is not subtracted again.
  Value remaining_life_years;
};

// The life of one wheel's strains.  `asphalt_modulus_mpa` is the modulus of the layer whose
// bottom carries the tensile strain (temperature-adjusted where the run adjusts it).
RemainingLife remaining_life(const WheelStrains& strains, double asphalt_modulus_mpa,
                             const DesignTraffic& traffic, const TransferOptions& options);

}  // namespace basinfit::structural
