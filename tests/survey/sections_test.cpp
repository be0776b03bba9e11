// Uniform sections by cumulative differences, on surveys whose sections are known by
// construction.

#include "survey/sections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace basinfit::survey {
namespace {

// Deterministic noise in [-1, 1).
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : state_(seed) {}
  double next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / static_cast<double>(1u << 23) - 1.0;
  }

 private:
  std::uint32_t state_;
};

struct Segment {
  int stations;
  double level;
};

struct Survey {
  std::vector<double> position;
  std::vector<double> value;
  std::vector<std::size_t> true_cuts;  // last station of every segment but the last
};

Survey step_survey(const std::vector<Segment>& segments, double spacing, double noise, std::uint32_t seed,
                   double start = 0) {
  Survey s;
  Noise n(seed);
  for (const Segment& segment : segments) {
    for (int i = 0; i < segment.stations; ++i) {
      s.position.push_back(start + spacing * static_cast<double>(s.position.size()));
      s.value.push_back(segment.level * (1 + noise * n.next()));
    }
    s.true_cuts.push_back(s.position.size() - 1);
  }
  s.true_cuts.pop_back();
  return s;
}

std::vector<std::size_t> cuts_of(const std::vector<Section>& sections) {
  std::vector<std::size_t> cuts;
  for (std::size_t k = 0; k + 1 < sections.size(); ++k) cuts.push_back(sections[k].last);
  return cuts;
}

TEST(CumulativeDifference, EqualSpacingIsTheRunningSumOfDeviationsAndEndsAtZero) {
  Noise n(7);
  const double spacing = 25;
  std::vector<double> position, value;
  for (int i = 0; i < 40; ++i) {
    position.push_back(1000 + spacing * i);
    value.push_back(150 + 60 * n.next());
  }
  double mean = 0;
  for (double v : value) mean += v;
  mean /= static_cast<double>(value.size());

  const std::vector<double> z = cumulative_difference(position, value);
  ASSERT_EQ(z.size(), value.size());
  double running = 0;
  for (std::size_t k = 0; k < value.size(); ++k) {
    running += value[k] - mean;
    EXPECT_NEAR(z[k], spacing * running, 1e-9 * spacing * 150 * 40) << "k = " << k;
  }
  EXPECT_NEAR(z.back(), 0, 1e-9);
}

TEST(CumulativeDifference, UnevenSpacingWeighsEachValueByItsGround) {
  const std::vector<double> position = {0, 10, 40, 50, 100};
  const std::vector<double> value = {1, 2, 3, 4, 5};
  const std::vector<double> ends = interval_ends(position);
  EXPECT_EQ(ends, (std::vector<double>{-5, 5, 25, 45, 75, 125}));
  // Ground held: 10, 20, 20, 30, 50 (length 130); area 10 + 40 + 60 + 120 + 250 = 480.
  const double mean = 480.0 / 130.0;
  const std::vector<double> z = cumulative_difference(position, value);
  EXPECT_NEAR(z[0], 10 - mean * 10, 1e-12);
  EXPECT_NEAR(z[2], 110 - mean * 50, 1e-12);
  EXPECT_NEAR(z[4], 0, 1e-12);
}

TEST(Sections, StepProfilesWithNoiseAreCutWithinOneStationOfTheSteps) {
  struct Case {
    const char* name;
    std::vector<Segment> segments;
    double spacing;
    double noise;
  };
  const Case cases[] = {
      {"soft middle", {{15, 120}, {10, 60}, {20, 110}}, 25, 0.08},
      {"rising steps", {{12, 50}, {12, 80}, {12, 130}}, 50, 0.10},
      {"falling, uneven lengths", {{30, 300}, {6, 180}, {14, 90}}, 10, 0.06},
      {"two segments", {{20, 70}, {20, 100}}, 20, 0.05},
  };
  for (const Case& c : cases) {
    for (std::uint32_t seed : {1u, 2u, 3u, 99u}) {
      SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
      const Survey s = step_survey(c.segments, c.spacing, c.noise, seed, 1000);
      const std::vector<Section> sections = find_sections(s.position, s.value, SectionOptions{});
      const std::vector<std::size_t> found = cuts_of(sections);
      ASSERT_EQ(found.size(), s.true_cuts.size());
      for (std::size_t k = 0; k < found.size(); ++k) {
        const auto gap = static_cast<long>(found[k]) - static_cast<long>(s.true_cuts[k]);
        EXPECT_LE(std::abs(gap), 1) << "cut " << k << " at station " << found[k] << ", step after "
                                    << s.true_cuts[k];
      }
      // The sections tile the survey's ground without gaps.
      EXPECT_EQ(sections.front().first, 0u);
      EXPECT_EQ(sections.back().last, s.position.size() - 1);
      for (std::size_t k = 1; k < sections.size(); ++k) {
        EXPECT_EQ(sections[k].first, sections[k - 1].last + 1);
        EXPECT_DOUBLE_EQ(sections[k].start, sections[k - 1].end);
      }

      // Reversed route: the same boundaries, mirrored.
      std::vector<double> mirrored, reversed;
      for (std::size_t i = s.position.size(); i-- > 0;) {
        mirrored.push_back(-s.position[i]);
        reversed.push_back(s.value[i]);
      }
      const std::vector<Section> back = find_sections(mirrored, reversed, SectionOptions{});
      ASSERT_EQ(back.size(), sections.size());
      for (std::size_t k = 0; k < sections.size(); ++k) {
        const Section& mirror = back[sections.size() - 1 - k];
        EXPECT_DOUBLE_EQ(-mirror.end, sections[k].start);
        EXPECT_DOUBLE_EQ(-mirror.start, sections[k].end);
      }
    }
  }
}

TEST(Sections, UniformSurveysStayOneSectionAndShortSectionsAreNotCut) {
  // Noise alone does not make sections.
  const Survey uniform = step_survey({{60, 100}}, 25, 0.15, 5);
  EXPECT_EQ(find_sections(uniform.position, uniform.value, SectionOptions{}).size(), 1u);

  // A 6-station soft spot (150 m) is a section of its own unless the minimum length is longer.
  const Survey spot = step_survey({{20, 100}, {6, 40}, {20, 100}}, 25, 0.05, 11);
  EXPECT_EQ(find_sections(spot.position, spot.value, SectionOptions{}).size(), 3u);
  SectionOptions longer;
  longer.min_length = 200;
  const std::vector<Section> sections = find_sections(spot.position, spot.value, longer);
  for (const Section& section : sections) EXPECT_GE(section.end - section.start, 200.0);

  // A step smaller than the significance threshold is not a boundary; a larger one is.
  const Survey small = step_survey({{20, 100}, {20, 106}}, 25, 0.0, 1);
  EXPECT_EQ(find_sections(small.position, small.value, SectionOptions{}).size(), 1u);
  SectionOptions fine;
  fine.min_relative_difference = 0.03;
  EXPECT_EQ(cuts_of(find_sections(small.position, small.value, fine)), std::vector<std::size_t>{19});

  EXPECT_TRUE(find_sections({}, {}, SectionOptions{}).empty());
  const std::vector<double> one = {5};
  EXPECT_EQ(find_sections(one, one, SectionOptions{}).size(), 1u);
}

TEST(SectionStatistics, SpreadAndPercentilesMatchHandComputedValues) {
  const std::vector<double> values = {4, 1, 5, 2, 3};
  const Spread s = spread(values);
  EXPECT_EQ(s.count, 5u);
  EXPECT_DOUBLE_EQ(s.mean, 3);
  EXPECT_DOUBLE_EQ(s.standard_deviation, std::sqrt(2.5));
  EXPECT_DOUBLE_EQ(s.cov_percent, 100 * std::sqrt(2.5) / 3);
  // Linear interpolation between order statistics: rank p/100 (n - 1).
  EXPECT_DOUBLE_EQ(percentile(values, 50), 3);
  EXPECT_DOUBLE_EQ(percentile(values, 15), 1.6);
  EXPECT_DOUBLE_EQ(percentile(values, 85), 4.4);
  EXPECT_DOUBLE_EQ(percentile(values, 0), 1);
  EXPECT_DOUBLE_EQ(percentile(values, 100), 5);
  EXPECT_DOUBLE_EQ(percentile({}, 50), 0);
  EXPECT_EQ(spread({}).count, 0u);
}

}  // namespace
}  // namespace basinfit::survey
