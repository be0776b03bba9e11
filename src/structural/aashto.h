// The 1993 AASHTO Guide for Design of Pavement Structures: the non-destructive evaluation of a
// flexible pavement (Part III, Chapter 5, the NDT method for SNeff) and the flexible design
// equation (Part II, Chapter 3) that turns traffic into a required structural number.  Every
// function here works in the Guide's units: loads lbf, lengths and deflections in inches,
// moduli and pressures psi; the drop-level entry takes the survey's SI values and converts them
// at the edge (units.h).
//
//   NdtDrop ndt = evaluate_ndt(basin, 150.0 /*plate radius mm*/, 450.0 /*pavement mm*/, 1.0, {}, {});
//   OverlayDesign overlay = design_overlay(ndt.effective_structural_number,
//                                          ndt.design_subgrade_modulus_psi, traffic, 0.44);
#pragma once

#include "structural/basin.h"
#include "structural/traffic.h"
#include "structural/value.h"

namespace basinfit::structural {

// --- The Guide's NDT equations (Part III, 5.4.5) -------------------------------------------

// Subgrade resilient modulus from the deflection d_r at offset r under load P:
//   MR = 0.24 P / (d_r r)   [psi; P lbf, d_r and r in]
// (0.24 is 3/(4 pi) rounded: the surface deflection of an incompressible half-space under a
// point load).  Valid only where r >= 0.7 a_e, where the deflection comes from the subgrade alone.
double aashto_subgrade_modulus_psi(double load_lbf, double deflection_in, double offset_in);

// The Guide's deflection at the centre of the plate of a pavement of thickness D and effective
// modulus Ep on a subgrade of modulus MR, under pressure p on a plate of radius a:
//   d0 = 1.5 p a { 1 / (MR sqrt(1 + (D/a (Ep/MR)^(1/3))^2)) + (1 - 1/sqrt(1 + (D/a)^2)) / Ep }
double aashto_centre_deflection_in(double pressure_psi, double radius_in, double thickness_in,
                                   double subgrade_modulus_psi, double pavement_modulus_psi);

// Ep from a measured d0 (at 68 F): the equation above solved for Ep with a bracketed root finder
// in log Ep.  The deflection falls strictly as Ep rises, so the root is unique.
Value aashto_effective_modulus_psi(double d0_in, double pressure_psi, double radius_in, double thickness_in,
                                   double subgrade_modulus_psi);

// Radius of the stress bulb at the subgrade-pavement interface:
//   a_e = sqrt(a^2 + (D (Ep/MR)^(1/3))^2)   [in]
double aashto_stress_bulb_radius_in(double radius_in, double thickness_in, double pavement_modulus_psi,
                                    double subgrade_modulus_psi);

// SNeff = 0.0045 D Ep^(1/3)   [D in, Ep psi]
double aashto_effective_structural_number(double thickness_in, double pavement_modulus_psi);

// --- The flexible design equation (Part II, equation for W18) ------------------------------

// log10 W18 = ZR S0 + 9.36 log10(SN + 1) - 0.20 + log10(dPSI / (4.2 - 1.5)) / (0.40 + 1094 /
//             (SN + 1)^5.19) + 2.32 log10(MR) - 8.07      [MR psi]
double aashto_log10_esals(double structural_number, double zr, double overall_standard_deviation,
                          double serviceability_loss, double subgrade_modulus_psi);

// The standard normal deviate ZR of a reliability R (percent): the (1 - R/100) quantile of the
// standard normal distribution, solved from the C library's erfc.  It reproduces the Guide's
// Table 4.1 to its printed third decimal within one unit, except at R = 99.99 %, where the
// Guide prints -3.750 and the quantile is -3.719.  R must lie strictly between 0 and 100.
Value standard_normal_deviate(double reliability_percent);

// The least SN whose allowable traffic reaches W18: the design equation solved for SN by a scan
// for the first change of sign on [0, 25] and a bracketed root finder inside it.  0 when even
// SN = 0 carries the traffic.  The equation is used within its basis: 0 < dPSI <= 2.7,
// MR > 0, W18 > 0.
Value aashto_required_structural_number(const DesignTraffic& traffic, double subgrade_modulus_psi);

// --- A drop's evaluation and the overlay --------------------------------------------------

struct NdtOptions {
  // C: the design MR is C times the backcalculated MR.  The Guide recommends at most 0.33 for
  // use in its design equation (backcalculated moduli are higher than the laboratory values the
  // equation was built on); 1 takes the backcalculated value as it is.
  double correction_factor = 0.33;
};

struct NdtDrop {
  Value subgrade_modulus_psi;         // MR backcalculated from the chosen sensor
  Value design_subgrade_modulus_psi;  // C x MR
  Value subgrade_sensor_offset_in;    // r of the sensor MR comes from
  Value stress_bulb_radius_in;        // a_e at that sensor's MR and Ep
  Value effective_modulus_psi;        // Ep
  Value effective_structural_number;  // SNeff
};

// One drop: MR from the innermost sensor with r >= 0.7 a_e (the Guide asks for a sensor far
// enough out to see the subgrade only, and close enough to be measured accurately), Ep from
// d0 times `d0_temperature_factor` (the Guide's adjustment of d0 to 68 F; 1 when none is
// known), SNeff from Ep and the thickness of all layers above the subgrade.
// `basin_options` says which sensor is at the load centre (its offset tolerance).
NdtDrop evaluate_ndt(const DropBasin& basin, double plate_radius_mm, double pavement_thickness_mm,
                     double d0_temperature_factor, const NdtOptions& options,
                     const BasinOptions& basin_options);

struct OverlayDesign {
  Value required_structural_number;  // SNf for the traffic on the design MR
  Value structural_deficiency;       // SNol = SNf - SNeff, 0 when the pavement is adequate
  Value overlay_thickness_in;        // Dol = SNol / a_ol
  Value overlay_thickness_mm;
};

// The structural deficiency approach: SNol = SNf - SNeff, Dol = SNol / a_ol.  a_ol is the layer
// coefficient of the overlay material (0.44: the AASHO Road Test's asphalt concrete).
// A missing SNeff or design MR leaves the values that need it empty with its reason.
OverlayDesign design_overlay(const Value& effective_structural_number,
                             const Value& design_subgrade_modulus_psi, const DesignTraffic& traffic,
                             double overlay_layer_coefficient);

}  // namespace basinfit::structural
