// Basin indices: the interpolation, which sensor an index reads, the indices themselves against
// hand computation and against the closed-form half-space, and the condition bands.
#include "structural/basin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include "model/half_space.h"
#include "structural/condition_bands.h"

namespace basinfit::structural {
namespace {

DropBasin basin_of(double load_kn, std::initializer_list<double> offsets,
                   std::initializer_list<double> deflections) {
  DropBasin basin;
  basin.load_kn = load_kn;
  std::size_t i = 0;
  for (const double x : offsets) basin.offset_mm[i++] = x;
  basin.sensor_count = i;
  i = 0;
  for (const double d : deflections) basin.deflection_um[i++] = d;
  return basin;
}

// Surface deflection (um) of a homogeneous half-space (E MPa, nu) under load_kn on a plate of
// radius a mm, by the model's closed form.
double half_space_um(double load_kn, double radius_mm, double offset_mm, double modulus_mpa = 100.0,
                     double poisson = 0.35) {
  const double pressure = load_kn * 1000.0 / (M_PI * radius_mm * radius_mm);
  return -1000.0 * model::half_space_surface(poisson, modulus_mpa, pressure, radius_mm, offset_mm).w;
}

TEST(MonotoneCubic, KeepsMonotoneDataMonotoneWithoutOvershoot) {
  // A basin that falls steeply and then flattens: a natural cubic spline rises above the last
  // knots here; the monotone cubic stays between neighbouring knots and never rises.
  const double x[] = {0, 200, 300, 450, 600, 900, 1500};
  const double y[] = {800, 420, 260, 120, 60, 40, 38};
  MonotoneCubic curve;
  ASSERT_TRUE(curve.build(x, y));
  double previous = curve(0.0);
  for (double t = 0.0; t <= 1500.0; t += 2.5) {
    const double v = curve(t);
    EXPECT_LE(v, previous + 1e-12) << t;
    previous = v;
  }
  for (std::size_t i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(curve(x[i]), y[i]);
  // Straight data give the straight line.
  const double line[] = {10, 8, 7, 5.5, 4, 1, -5};
  ASSERT_TRUE(curve.build(x, line));
  EXPECT_NEAR(curve(1200.0), -2.0, 1e-12);
  EXPECT_NEAR(curve(250.0), 7.5, 1e-12);
  // Offsets that do not increase are refused.
  const double repeated[] = {0, 200, 200};
  EXPECT_FALSE(curve.build(std::span(repeated, 3), std::span(y, 3)));
}

TEST(MonotoneCubic, FollowsAHalfSpaceBasinBetweenSensors) {
  // D300 and D750 of a half-space read from sensors at 0, 200, 450, 600, 900 and 1200 mm: the
  // log-log interpolation is within 1 % of the closed form (a straight line between 200 and
  // 450 mm is 4 % high: the basin is convex there).
  const double offsets[] = {0, 200, 450, 600, 900, 1200};
  DropBasin basin;
  basin.load_kn = 40.0;
  basin.sensor_count = 6;
  for (std::size_t i = 0; i < 6; ++i) {
    basin.offset_mm[i] = offsets[i];
    basin.deflection_um[i] = half_space_um(40.0, 150.0, offsets[i]);
  }
  for (const double offset : {300.0, 750.0}) {
    const BasinReading r = read_basin(basin, offset, BasinOptions{});
    ASSERT_EQ(r.source, ReadingSource::kInterpolated);
    EXPECT_NEAR(r.deflection_um / half_space_um(40.0, 150.0, offset), 1.0, 0.01) << offset;
  }
  // Between the centre and the first sensor beyond it lies the plate's edge: no interpolation.
  const BasinReading inside = read_basin(basin, 100.0, BasinOptions{});
  EXPECT_EQ(inside.source, ReadingSource::kNone);
  EXPECT_NE(inside.reason.find("edge of the load plate"), std::string::npos);
}

TEST(BasinReading, ReadsTheSensorAtTheOffsetAndNeverAnother) {
  const BasinOptions options;
  // An LTPP layout (0, 8, 12, 18, 24, 36, 60 in): the 305 mm sensor is the 300 mm position.
  const DropBasin ltpp = basin_of(40, {0, 203, 305, 457, 610, 914, 1524}, {500, 380, 320, 240, 180, 110, 50});
  const BasinReading at300 = read_basin(ltpp, 300.0, options);
  EXPECT_EQ(at300.source, ReadingSource::kSensor);
  EXPECT_EQ(at300.sensor_offset_mm, 305.0);
  EXPECT_EQ(at300.deflection_um, 320.0);
  // 500 mm has no sensor within max(5 mm, 2 %): interpolated between 457 and 610 mm.
  EXPECT_EQ(read_basin(ltpp, 500.0, options).source, ReadingSource::kInterpolated);

  // No sensor reaches 900 mm: the index is empty, not extrapolated from 600 mm.
  const DropBasin short_basin = basin_of(40, {0, 200, 300, 450, 600}, {500, 400, 330, 250, 180});
  const BasinIndices short_indices = basin_indices(short_basin, options);
  EXPECT_TRUE(short_indices.bdi_um.has_value());
  EXPECT_FALSE(short_indices.bci_um.has_value());
  EXPECT_NE(short_indices.bci_um.reason.find("not extrapolated"), std::string::npos)
      << short_indices.bci_um.reason;

  // A dead sensor at 300 mm is not bridged by interpolating between 200 and 450 mm.
  const DropBasin dead = basin_of(40, {0, 200, 300, 450, 600, 900}, {500, 400, -2, 250, 180, 100});
  const BasinIndices dead_indices = basin_indices(dead, options);
  EXPECT_FALSE(dead_indices.sci_um.has_value());
  EXPECT_NE(dead_indices.sci_um.reason.find("no usable deflection"), std::string::npos);
  EXPECT_TRUE(dead_indices.bci_um.has_value());  // what does not need the dead sensor stays

  // Without a sensor under the load nothing built on D0 exists.
  const BasinIndices no_centre =
      basin_indices(basin_of(40, {200, 300, 600, 900}, {400, 330, 180, 100}), options);
  EXPECT_FALSE(no_centre.d0_um.has_value());
  EXPECT_FALSE(no_centre.area_in.has_value());
  EXPECT_TRUE(no_centre.bdi_um.has_value());
}

TEST(BasinIndices, AreTheirDefinitionsAtTheStandardLoad) {
  // Sensors exactly at the nominal offsets, drop at 50 kN: deflections scale by 40/50.
  const DropBasin basin =
      basin_of(50, {0, 200, 300, 600, 900, 1500}, {600.0, 450.0, 380.0, 220.0, 130.0, 50.0});
  const BasinIndices i = basin_indices(basin, BasinOptions{});
  const double k = 40.0 / 50.0;
  EXPECT_DOUBLE_EQ(i.d0_um.value, 600.0 * k);
  EXPECT_DOUBLE_EQ(i.sci_um.value, 220.0 * k);
  EXPECT_DOUBLE_EQ(i.bdi_um.value, 160.0 * k);
  EXPECT_DOUBLE_EQ(i.bci_um.value, 90.0 * k);
  EXPECT_DOUBLE_EQ(i.roc_m.value, 200.0 * 200.0 / (2.0 * 150.0 * k));  // mm^2/um = m
  // The 12/24/36-in positions read the 300/600/900 mm sensors: ratios, not scaled.
  EXPECT_DOUBLE_EQ(i.area_in.value, 6.0 * (1.0 + 2.0 * 380.0 / 600.0 + 2.0 * 220.0 / 600.0 + 130.0 / 600.0));
  EXPECT_DOUBLE_EQ(i.f1.value, (600.0 - 220.0) / 380.0);
  EXPECT_DOUBLE_EQ(i.f2.value, (380.0 - 130.0) / 220.0);
  EXPECT_DOUBLE_EQ(i.impulse_stiffness_kn_per_mm.value, 50.0 / 0.6);
  EXPECT_FALSE(i.interpolated);
}

TEST(ConditionBands, FollowSapemTable46AtFortyKilonewtons) {
  BasinIndices i;
  i.standard_load_kn = 40.0;
  const auto rate = [&](double d0, double roc, double sci, double bdi, double bci, BaseType base) {
    i.d0_um = Value::of(d0);
    i.roc_m = Value::of(roc);
    i.sci_um = Value::of(sci);
    i.bdi_um = Value::of(bdi);
    i.bci_um = Value::of(bci);
    return rate_basin(i, base);
  };
  BasinRatings r = rate(499, 101, 199, 99, 49, BaseType::kGranular);
  EXPECT_EQ(r.d0, Condition::kSound);
  EXPECT_EQ(r.roc, Condition::kSound);
  EXPECT_EQ(r.bci, Condition::kSound);
  r = rate(500, 100, 400, 200, 100, BaseType::kGranular);  // the limits themselves: warning
  EXPECT_EQ(r.d0, Condition::kWarning);
  EXPECT_EQ(r.roc, Condition::kWarning);
  EXPECT_EQ(r.sci, Condition::kWarning);
  EXPECT_EQ(r.bci, Condition::kWarning);
  r = rate(751, 49, 401, 201, 101, BaseType::kGranular);
  EXPECT_EQ(r.d0, Condition::kSevere);
  EXPECT_EQ(r.roc, Condition::kSevere);
  EXPECT_EQ(r.bdi, Condition::kSevere);
  // The same basin on a cemented base is severe; on a bituminous one MLI 160 is severe.
  EXPECT_EQ(rate(450, 120, 150, 60, 45, BaseType::kCementitious).d0, Condition::kSevere);
  EXPECT_EQ(rate(450, 120, 150, 160, 45, BaseType::kBituminous).bdi, Condition::kSevere);
  EXPECT_EQ(rate(450, 120, 150, 160, 45, BaseType::kBituminous).roc, Condition::kWarning);
  // Indices at a 50 kN standard load are carried to 40 kN first: 600 um is 480 um.
  i.standard_load_kn = 50.0;
  EXPECT_EQ(rate(600, 80, 240, 120, 60, BaseType::kGranular).d0, Condition::kSound);
  EXPECT_EQ(rate(600, 80, 240, 120, 60, BaseType::kGranular).roc, Condition::kWarning);  // 100 m at 40 kN
  i.d0_um = Value::none("no sensor");
  EXPECT_EQ(rate_basin(i, BaseType::kGranular).d0, Condition::kNone);
}

}  // namespace
}  // namespace basinfit::structural
