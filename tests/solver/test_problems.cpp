#include "test_problems.h"

#include <numbers>

namespace basinfit::solver::testing {

namespace {

// Residuals of the problems that also appear with bounds.
void rosenbrock(std::span<const float> x, std::span<float> r) {
  r[0] = 10.0f * (x[1] - x[0] * x[0]);
  r[1] = 1.0f - x[0];
}

void helical_valley(std::span<const float> x, std::span<float> r) {
  const float two_pi = 2.0f * std::numbers::pi_v<float>;
  float theta = std::atan(x[1] / x[0]) / two_pi;
  if (x[0] < 0.0f) theta += 0.5f;
  r[0] = 10.0f * (x[2] - 10.0f * theta);
  r[1] = 10.0f * (std::sqrt(x[0] * x[0] + x[1] * x[1]) - 1.0f);
  r[2] = x[2];
}

void box_3d(std::span<const float> x, std::span<float> r) {
  for (int i = 1; i <= 10; ++i) {
    const float t = 0.1f * i;
    r[i - 1] = std::exp(-t * x[0]) - std::exp(-t * x[1]) - x[2] * (std::exp(-t) - std::exp(-10.0f * t));
  }
}

}  // namespace

std::vector<TestProblem> standard_problems() {
  std::vector<TestProblem> problems;
  // Zero-residual problems stop at f < afctol = 1e-5 (absolute function convergence), so
  // their tolerance is that threshold.
  problems.push_back({"Rosenbrock",
                      2,
                      2,
                      {-1.2f, 1.0f},
                      open_bounds(2),
                      rosenbrock,
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      60});
  problems.push_back({"FreudensteinRoth",
                      2,
                      2,
                      {0.5f, -2.0f},
                      open_bounds(2),
                      [](std::span<const float> x, std::span<float> r) {
                        r[0] = -13.0f + x[0] + ((5.0f - x[1]) * x[1] - 2.0f) * x[1];
                        r[1] = -29.0f + x[0] + ((x[1] + 1.0f) * x[1] - 14.0f) * x[1];
                      },
                      0.0f,
                      1.0e-5f,
                      0.5f * 48.9842f,
                      30});
  problems.push_back({"PowellBadlyScaled",
                      2,
                      2,
                      {0.0f, 1.0f},
                      open_bounds(2),
                      [](std::span<const float> x, std::span<float> r) {
                        r[0] = 1.0e4f * x[0] * x[1] - 1.0f;
                        r[1] = std::exp(-x[0]) + std::exp(-x[1]) - 1.0001f;
                      },
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      40});
  problems.push_back({"Beale",
                      3,
                      2,
                      {1.0f, 1.0f},
                      open_bounds(2),
                      [](std::span<const float> x, std::span<float> r) {
                        const float y[3] = {1.5f, 2.25f, 2.625f};
                        for (int i = 0; i < 3; ++i)
                          r[i] = y[i] - x[0] * (1.0f - std::pow(x[1], float(i + 1)));
                      },
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      20});
  // Nonzero residual: published sum of squares 124.362.  Single precision resolves f to a
  // few units in the sixth digit; 1e-4 relative covers that and the difference Jacobian.
  problems.push_back({"JennrichSampson",
                      10,
                      2,
                      {0.3f, 0.4f},
                      open_bounds(2),
                      [](std::span<const float> x, std::span<float> r) {
                        for (int i = 1; i <= 10; ++i) {
                          r[i - 1] = 2.0f + 2.0f * i - (std::exp(i * x[0]) + std::exp(i * x[1]));
                        }
                      },
                      0.5f * 124.362f,
                      0.5f * 124.362f * 1.0e-4f,
                      -1.0f,
                      30});
  problems.push_back({"HelicalValley",
                      3,
                      3,
                      {-1.0f, 0.0f, 0.0f},
                      open_bounds(3),
                      helical_valley,
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      40});
  problems.push_back({"Bard",
                      15,
                      3,
                      {1.0f, 1.0f, 1.0f},
                      open_bounds(3),
                      [](std::span<const float> x, std::span<float> r) {
                        const float y[15] = {0.14f, 0.18f, 0.22f, 0.25f, 0.29f, 0.32f, 0.35f, 0.39f,
                                             0.37f, 0.58f, 0.73f, 0.96f, 1.34f, 2.10f, 4.39f};
                        for (int i = 1; i <= 15; ++i) {
                          const float u = float(i);
                          const float v = float(16 - i);
                          const float w = std::min(u, v);
                          r[i - 1] = y[i - 1] - (x[0] + u / (v * x[1] + w * x[2]));
                        }
                      },
                      0.5f * 8.21487e-3f,
                      0.5f * 8.21487e-3f * 1.0e-3f,
                      -1.0f,
                      20});
  problems.push_back({"Box3D",
                      10,
                      3,
                      {0.0f, 10.0f, 20.0f},
                      open_bounds(3),
                      box_3d,
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      30});
  problems.push_back({"PowellSingular",
                      4,
                      4,
                      {3.0f, -1.0f, 0.0f, 1.0f},
                      open_bounds(4),
                      [](std::span<const float> x, std::span<float> r) {
                        r[0] = x[0] + 10.0f * x[1];
                        r[1] = std::sqrt(5.0f) * (x[2] - x[3]);
                        r[2] = (x[1] - 2.0f * x[2]) * (x[1] - 2.0f * x[2]);
                        r[3] = std::sqrt(10.0f) * (x[0] - x[3]) * (x[0] - x[3]);
                      },
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      30});
  problems.push_back({"Osborne1",
                      33,
                      5,
                      {0.5f, 1.5f, -1.0f, 0.01f, 0.02f},
                      open_bounds(5),
                      [](std::span<const float> x, std::span<float> r) {
                        const float y[33] = {0.844f, 0.908f, 0.932f, 0.936f, 0.925f, 0.908f, 0.881f,
                                             0.850f, 0.818f, 0.784f, 0.751f, 0.718f, 0.685f, 0.658f,
                                             0.628f, 0.603f, 0.580f, 0.558f, 0.538f, 0.522f, 0.506f,
                                             0.490f, 0.478f, 0.467f, 0.457f, 0.448f, 0.438f, 0.431f,
                                             0.424f, 0.420f, 0.414f, 0.411f, 0.406f};
                        for (int i = 0; i < 33; ++i) {
                          const float t = 10.0f * i;
                          r[i] = y[i] - (x[0] + x[1] * std::exp(-t * x[3]) + x[2] * std::exp(-t * x[4]));
                        }
                      },
                      0.5f * 5.46489e-5f,
                      0.5f * 5.46489e-5f * 0.02f,
                      -1.0f,
                      60});
  problems.push_back(
      {"KowalikOsborne",
       11,
       4,
       {0.25f, 0.39f, 0.415f, 0.39f},
       open_bounds(4),
       [](std::span<const float> x, std::span<float> r) {
         const float y[11] = {0.1957f, 0.1947f, 0.1735f, 0.1600f, 0.0844f, 0.0627f,
                              0.0456f, 0.0342f, 0.0323f, 0.0235f, 0.0246f};
         const float u[11] = {4.0f, 2.0f, 1.0f, 0.5f, 0.25f, 0.167f, 0.125f, 0.1f, 0.0833f, 0.0714f, 0.0625f};
         for (int i = 0; i < 11; ++i) {
           r[i] = y[i] - x[0] * (u[i] * u[i] + u[i] * x[1]) / (u[i] * u[i] + u[i] * x[2] + x[3]);
         }
       },
       0.5f * 3.07505e-4f,
       0.5f * 3.07505e-4f * 1.0e-3f,
       -1.0f,
       40});
  return problems;
}

TestProblem meyer_problem() {
  // Meyer: published sum of squares 87.9458.  Its Jacobian columns differ by ten orders of
  // magnitude; the forward-difference gradient error leaves an excess of about 1 % of f*,
  // so 2 % is allowed.
  return {"Meyer",
          16,
          3,
          {0.02f, 4000.0f, 250.0f},
          open_bounds(3),
          [](std::span<const float> x, std::span<float> r) {
            const float y[16] = {34780, 28610, 23650, 19630, 16370, 13720, 11540, 9744,
                                 8261,  7030,  6005,  5147,  4427,  3820,  3307,  2872};
            for (int i = 1; i <= 16; ++i) {
              const float t = 45.0f + 5.0f * i;
              r[i - 1] = x[0] * std::exp(x[1] / (t + x[2])) - y[i - 1];
            }
          },
          0.5f * 87.9458f,
          0.5f * 87.9458f * 0.02f,
          -1.0f,
          400};
}

TestProblem wood_problem() {
  // Published minimum 0 at (1, 1, 1, 1).
  return {"Wood",
          6,
          4,
          {-3.0f, -1.0f, -3.0f, -1.0f},
          open_bounds(4),
          [](std::span<const float> x, std::span<float> r) {
            r[0] = 10.0f * (x[1] - x[0] * x[0]);
            r[1] = 1.0f - x[0];
            r[2] = std::sqrt(90.0f) * (x[3] - x[2] * x[2]);
            r[3] = 1.0f - x[2];
            r[4] = std::sqrt(10.0f) * (x[1] + x[3] - 2.0f);
            r[5] = (x[1] - x[3]) / std::sqrt(10.0f);
          },
          0.0f,
          1.0e-5f,
          -1.0f,
          100};
}

std::vector<TestProblem> bounded_problems() {
  std::vector<TestProblem> problems;
  // Rosenbrock with x1 <= 0.5: the minimum lies on the upper bound at (0.5, 0.25), where
  // r1 = 0 and r2 = 0.5, so f* = 0.125 and df/dx1 = -0.5 points out of the box.
  problems.push_back({"RosenbrockUpperBound",
                      2,
                      2,
                      {-1.2f, 1.0f},
                      {-2.0f, 0.5f, -1.0f, 2.0f},
                      rosenbrock,
                      0.125f,
                      1.0e-5f,
                      -1.0f,
                      50});
  // Helical valley with x1 >= 1.5: the best point is (1.5, 0, 0) with r2 = 5, f* = 12.5.
  problems.push_back({"HelicalValleyLowerBound",
                      3,
                      3,
                      {2.0f, 0.5f, 0.5f},
                      {1.5f, 3.0f, -1.0f, 1.0f, -1.0f, 1.0f},
                      helical_valley,
                      12.5f,
                      12.5f * 1.0e-5f,
                      -1.0f,
                      20});
  // Linear residuals whose unconstrained minimum (10/3, -5/3) lies outside the box
  // x1 <= 2, x2 >= 0: both bounds are active at (2, 0) with f* = 3.
  problems.push_back({"LinearTwoActiveBounds",
                      3,
                      2,
                      {0.5f, 1.0f},
                      {-5.0f, 2.0f, 0.0f, 5.0f},
                      [](std::span<const float> x, std::span<float> r) {
                        r[0] = x[0] - 4.0f;
                        r[1] = x[1] + 1.0f;
                        r[2] = x[0] + x[1] - 1.0f;
                      },
                      3.0f,
                      3.0f * 1.0e-5f,
                      -1.0f,
                      10});
  // Box 3-D with x3 held by equal bounds at its solution value 1: f* = 0.
  problems.push_back({"Box3DFixedThird",
                      10,
                      3,
                      {0.0f, 10.0f, 1.0f},
                      {-5.0f, 5.0f, 0.0f, 20.0f, 1.0f, 1.0f},
                      box_3d,
                      0.0f,
                      1.0e-5f,
                      -1.0f,
                      12});
  return problems;
}

}  // namespace basinfit::solver::testing
