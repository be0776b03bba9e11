// The structural evaluation of a finished station and of a uniform section: the one entry the
// engine's results, tables and pages call.  It takes what a finished station has (the drops'
// loads and deflections at the sensor offsets, the backcalculated moduli, the thicknesses and
// Poisson's ratios, the temperature adjustment) and returns records of numbers, each with the
// reason where it has none.
//
//   StationInput input = ...;                      // in SI; units.h converts a survey's units
//   StationStructure s = evaluate_station(input, options);
//   s.drops[d].indices.sci_um                      // per drop, at the standard load
//   s.ndt.effective_structural_number              // the reference drop's SNeff
//   s.overlay.overlay_thickness_mm                 // with traffic given
//   s.dual_wheel_life.remaining_life_years         // and its governing criterion
//   SectionStructure section = summarise_section(stations_of_the_section, options);
//
// Pure function of its arguments: no shared state, safe on several threads at once.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "structural/aashto.h"
#include "structural/basin.h"
#include "structural/condition_bands.h"
#include "structural/mechanistic.h"
#include "structural/section.h"
#include "structural/traffic.h"

namespace basinfit::structural {

inline constexpr std::size_t kMaxDrops = 16;

// A finished station in SI.  Values that do not exist are NaN.  Temperature enters through the
// run's adjusted surface modulus and through the Guide's D0 factor, not as a temperature.
struct StationInput {
  double plate_radius_mm = 0.0;
  std::size_t drop_count = 0;
  std::array<DropBasin, kMaxDrops> drops{};  // loads kN, offsets mm, deflections um
  PavementLayers layers;                     // thicknesses, Poisson's ratios, bound layers, subgrade
  // Backcalculated moduli of each drop, MPa.
  std::array<std::array<double, kMaxLayers>, kMaxDrops> drop_modulus_mpa{};
  // The station's moduli carried to the standard load (the results' normalised moduli), MPa;
  // NaN where the station has none.
  std::array<double, kMaxLayers> standard_load_modulus_mpa{kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};
  // The surface modulus carried to the reference temperature, where the run adjusts it: per
  // drop and at the standard load, MPa; NaN when not adjusted.
  std::array<double, kMaxDrops> drop_adjusted_surface_modulus_mpa{
      kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue,
      kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};
  double standard_load_adjusted_surface_modulus_mpa = kNoValue;
  // The Guide's adjustment of D0 to 68 F (a factor read from the Guide's chart for the
  // asphalt's thickness and temperature); NaN: D0 is used as measured.
  double d0_temperature_factor = kNoValue;
};

// Which wheel's life stands for the station and the section.
enum class DesignWheel { kSingle, kDual };

struct StructuralOptions {
  BasinOptions basin;           // the standard load (default 40 kN) and the offset tolerance
  bool rate_condition = false;  // opt-in: Horak's bands (SAPEM Table 46)
  BaseType base_type = BaseType::kGranular;
  NdtOptions ndt;  // the Guide's C
  double overlay_layer_coefficient = 0.44;
  DesignTraffic traffic;    // without design ESALs no SNf, overlay, damage or life
  bool mechanistic = true;  // critical strains and remaining life
  WheelLoads wheels;
  TransferOptions transfer;
  DesignWheel design_wheel = DesignWheel::kDual;             // the standard axle's wheel: what ESALs count
  double design_level_percent = kDefaultDesignLevelPercent;  // section design values
};

struct DropStructure {
  int drop = 0;  // 1-based
  BasinIndices indices;
  BasinRatings ratings;  // all kNone unless options.rate_condition
  NdtDrop ndt;
};

// Where the moduli of the mechanistic evaluation came from.
enum class ModulusBasis {
  kNone,           // no complete set of moduli: `strains` say why
  kStandardLoad,   // the station's moduli carried to the standard load
  kReferenceDrop,  // the moduli of the drop nearest the standard load
};
std::string_view modulus_basis_word(ModulusBasis basis);  // "", "standard load", "reference drop"

struct StationStructure {
  std::size_t drop_count = 0;
  std::array<DropStructure, kMaxDrops> drops{};
  // The drop whose load is nearest the standard load (1-based; 0: none has a load).  The
  // station's own AASHTO values are this drop's: the Guide's method is set for a 9 000 lbf
  // (40 kN) load, and the nearest drop needs the least carrying of stress-dependent moduli.
  int reference_drop = 0;
  NdtDrop ndt;            // the reference drop's
  OverlayDesign overlay;  // from its SNeff and design MR, with the traffic
  ModulusBasis modulus_basis = ModulusBasis::kNone;
  std::array<double, kMaxLayers> modulus_mpa{};  // the moduli the strains were computed for
  bool temperature_adjusted = false;             // the surface modulus was the adjusted one
  CriticalStrains strains;
  RemainingLife single_wheel_life;
  RemainingLife dual_wheel_life;
  const RemainingLife& design_life(DesignWheel wheel) const {
    return wheel == DesignWheel::kSingle ? single_wheel_life : dual_wheel_life;
  }
};

StationStructure evaluate_station(const StationInput& input, const StructuralOptions& options);

// The design values of a uniform section from its stations (see section.h for the tails).
struct SectionStructure {
  std::size_t stations = 0;
  SectionValue d0_um, sci_um, bdi_um, bci_um, area_in;        // the reference drops', at the standard load
  SectionValue subgrade_modulus_psi;                          // backcalculated MR
  SectionValue design_subgrade_modulus_psi;                   // C x MR
  SectionValue effective_modulus_psi;                         // Ep
  SectionValue effective_structural_number;                   // SNeff
  SectionValue required_structural_number;                    // SNf per station
  SectionValue overlay_thickness_in;                          // per station
  SectionValue tensile_microstrain, compressive_microstrain;  // of the design wheel
  SectionValue allowable_repetitions, remaining_life_years, damage_ratio;
  // The section's overlay: SNf from the mean design MR (the design equation carries the
  // scatter of its inputs in ZR S0, so the Guide asks for mean inputs there) and SNeff at the
  // design level of its lower tail (the weak part of the section is what the overlay must make
  // up for).
  OverlayDesign overlay;
};

SectionStructure summarise_section(std::span<const StationStructure> stations,
                                   const StructuralOptions& options);

}  // namespace basinfit::structural
