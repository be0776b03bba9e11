// The layer solution for one transform value (V = double) or several side by side (V a GCC/Clang
// vector of doubles: element-wise IEEE arithmetic, so every lane gets exactly the value the scalar
// code gives).  This file is included inside a namespace, once by the portable code and once per
// instruction set by the vector kernels, so that each gets its own copy compiled for its own
// instruction set (a template shared between them could be instantiated with the wider
// instructions and then called on a processor without them); hence no include guard.
// Needs <array>, <cmath>, <cstddef>, <type_traits> and model/layer_solution.h before it.

template <class V>
inline constexpr std::size_t kLanesOf = std::is_same_v<V, double> ? 1 : sizeof(V) / sizeof(double);

template <class U, class W>
[[gnu::always_inline]] inline auto dot4(const std::array<U, 4>& u, const std::array<W, 4>& v) {
  return u[0] * v[0] + u[1] * v[1] + u[2] * v[2] + u[3] * v[3];
}

// The exponentials stay calls of the C library, lane by lane, so that every lane gets the very
// bits the scalar code gets.  Lanes from `active` on only pad a vector: they get 0 without a call.
template <class V, std::size_t active>
[[gnu::always_inline]] inline V exp_lanes(V y) {
  if constexpr (std::is_same_v<V, double>) {
    return guarded_exp(y);
  } else {
    V r = y;
    for (std::size_t l = 0; l < kLanesOf<V>; ++l) r[l] = l < active ? guarded_exp(y[l]) : 0.0;
    return r;
  }
}

// The non-zero rows and columns of the four transfer matrices of one bonded interface:
// A (rows 1 and 3), B (rows 2 and 4), C (columns 1 and 3), D (columns 2 and 4).  Rows 3 and 4
// and columns 1 and 2 do not depend on lambda.
template <class V>
struct InterfaceMatrices {
  std::array<V, 4> a_row1, b_row2, c_col3, d_col4;
  std::array<double, 4> a_row3, b_row4, c_col1, d_col2;
};

// L = lambda Z at the interface, nu of the layer above, nu' of the layer below.
template <class V>
[[gnu::always_inline]] inline InterfaceMatrices<V> interface_matrices(V L, double nu, double nu_below,
                                                                      double ratio, double bonded) {
  InterfaceMatrices<V> m;
  m.a_row1 = {-(1 + L), -(2 - 4 * nu - L), -(2 * nu + L), -(1 - 2 * nu - L)};
  m.a_row3 = {1, -1, 1, -1};
  m.b_row2 = {-(1 - L), 2 - 4 * nu + L, 2 * nu - L, -(1 - 2 * nu + L)};
  m.b_row4 = {-1, -1, 1, 1};
  m.c_col1 = {1, 1, ratio, bonded};
  m.c_col3 = {-(1 - 2 * nu_below - L), 2 * nu_below + L, -(2 - 4 * nu_below - L) * ratio, (1 + L) * bonded};
  m.d_col2 = {1, -1, -ratio, bonded};
  m.d_col4 = {1 - 2 * nu_below + L, 2 * nu_below - L, -(2 - 4 * nu_below + L) * ratio, -(1 - L) * bonded};
  return m;
}

// Entries (1,2), (1,4), (3,2), (3,4) of V = A D and (2,1), (2,3), (4,1), (4,3) of Y = B C.
template <class V>
struct InterfaceProducts {
  V v12, v14;
  double v32;
  V v34, y21, y23;
  double y41;
  V y43;
};

template <class V>
[[gnu::always_inline]] inline InterfaceProducts<V> interface_products(const InterfaceMatrices<V>& m) {
  return {dot4(m.a_row1, m.d_col2), dot4(m.a_row1, m.d_col4), dot4(m.a_row3, m.d_col2),
          dot4(m.a_row3, m.d_col4), dot4(m.b_row2, m.c_col1), dot4(m.b_row2, m.c_col3),
          dot4(m.b_row4, m.c_col1), dot4(m.b_row4, m.c_col3)};
}

template <class V>
struct Solution {
  std::array<V, 2> layer1;
  std::array<V, 4> layer2, layer3, layer4;
  V M1, M2;
};

// `active`: the lanes that carry a transform value (the others pad the vector).
template <class V, std::size_t active = kLanesOf<V>>
Solution<V> solve_impl(V lambda, const LayerConstants& c) {
  const auto& nu = c.poisson;
  const auto v1 = nu[0], v2 = nu[1], v3 = nu[2], v4 = nu[3], v5 = nu[4];
  const auto R4 = c.stiffness_ratio[3];
  const auto d1 = c.slip[0], d2 = c.slip[1], d3 = c.slip[2];
  const auto a1 = c.a[0], a2 = c.a[1], a3 = c.a[2];
  const auto b1 = c.b[0], b2 = c.b[1], b3 = c.b[2];
  const auto g1 = c.g[0], g2 = c.g[1], g3 = c.g[2];

  const V L1 = lambda * c.depth[0];
  const V L2 = lambda * c.depth[1];
  const V L3 = lambda * c.depth[2];
  const V L4 = lambda * c.depth[3];

  // Decay factors between the surface and the interfaces and between neighbouring interfaces.
  const auto u1 = exp_lanes<V, active>(2 * L1);
  const auto u2 = exp_lanes<V, active>(2 * L2);
  const auto x12 = exp_lanes<V, active>(2 * (L2 - L1));
  const auto x23 = exp_lanes<V, active>(2 * (L3 - L2));
  const auto x34 = exp_lanes<V, active>(2 * (L4 - L3));
  const auto h12 = exp_lanes<V, active>(L2 - L1);
  const auto h23 = exp_lanes<V, active>(L3 - L2);
  const auto t1 = exp_lanes<V, active>(L1);
  const auto t2 = exp_lanes<V, active>(L2);
  const auto t3 = exp_lanes<V, active>(L3);
  const auto t4 = exp_lanes<V, active>(L4);

  const InterfaceMatrices<V> m1 = interface_matrices<V>(L1, v1, v2, c.stiffness_ratio[0], c.bonded_ratio[0]);
  const InterfaceMatrices<V> m2 = interface_matrices<V>(L2, v2, v3, c.stiffness_ratio[1], c.bonded_ratio[1]);
  const InterfaceMatrices<V> m3 = interface_matrices<V>(L3, v3, v4, c.stiffness_ratio[2], c.bonded_ratio[2]);

  // Bottom interface: layer 4 on the half-space, whose solution must decay with depth.
  const auto k5 = 3 - 4 * v5;
  const auto w = (k5 * R4 + 1) * R4;
  const std::array<V, 4> a4_row1 = {
      -R4 * (k5 * (2 * v4 + L4) * R4 + (3 - 4 * v4) * (1 - 2 * v5) + L4 + 1),
      -R4 * (k5 * (1 - 2 * v4 - L4) * R4 + 2 * (1 - v5) * (3 - 4 * v4) - L4 - 1),
      (1 - 2 * v5 - k5 * (2 * v4 + L4)) * R4 - L4 - 1,
      4 * v4 - (2 * (1 - v5) - k5 * (2 * v4 + L4)) * R4 + L4 - 2};
  const std::array<double, 4> a4_row3 = {w, -w, w / R4, -w / R4};
  const std::array<double, 4> b4_col1 = {-1, 1, 1, -1};
  const std::array<V, 4> b4_col2 = {-(1 - 2 * v4 + L4), L4 - 2 * v4, 2 - 4 * v4 + L4, 1 - L4};

  // Q4 = s4 A4 B4 (rows 2 and 4 are zero).
  const auto q11 = c.s4 * dot4(a4_row1, b4_col1);
  const auto q12 = c.s4 * dot4(a4_row1, b4_col2);
  const auto q31 = c.s4 * dot4(a4_row3, b4_col1);
  const auto q32 = c.s4 * dot4(a4_row3, b4_col2);

  // N3 = C3 Q4; only columns 1 and 3 of C3 and rows 1 and 3 of Q4 are non-zero.
  std::array<V, 4> n3_col1, n3_col2;
  for (std::size_t i = 0; i < 4; ++i) {
    n3_col1[i] = m3.c_col1[i] * q11 + m3.c_col3[i] * q31;
    n3_col2[i] = m3.c_col1[i] * q12 + m3.c_col3[i] * q32;
  }
  const auto S3_11 = dot4(m3.a_row1, n3_col1), S3_12 = dot4(m3.a_row1, n3_col2);
  const auto S3_31 = dot4(m3.a_row3, n3_col1), S3_32 = dot4(m3.a_row3, n3_col2);
  const auto T3_11 = dot4(m3.a_row1, m3.d_col2), T3_12 = dot4(m3.a_row1, m3.d_col4);
  const auto T3_31 = dot4(m3.a_row3, m3.d_col2);  // free of lambda: a double even for vectors
  const auto T3_32 = dot4(m3.a_row3, m3.d_col4);
  const auto U3_21 = dot4(m3.b_row2, n3_col1), U3_22 = dot4(m3.b_row2, n3_col2);
  const auto U3_41 = dot4(m3.b_row4, n3_col1), U3_42 = dot4(m3.b_row4, n3_col2);

  const InterfaceProducts<V> p2 = interface_products(m2);
  const InterfaceProducts<V> p1 = interface_products(m1);

  // The scalar reduction, term by term.
  const auto K1 = x34 * S3_11 + T3_11;
  const auto K2 = x34 * S3_12 + T3_12;
  const auto K3 = x34 * U3_21;
  const auto K4 = x34 * U3_22;
  const auto K5 = x34 * S3_31 + T3_31;
  const auto K6 = x34 * S3_32 + T3_32;
  const auto K7 = x34 * U3_41;
  const auto K8 = x34 * U3_42;
  const auto m1s = L1 * d1;
  const auto K9 = a1 - m1s;
  const auto K10 = ((a1 - b1) - m1s) * L1 - g1;
  const auto K11 = a1 + m1s;
  const auto K12 = ((a1 - b1) + m1s) * L1 + g1;
  const auto K13 = b1 + m1s;
  const auto K14 = -d1;
  const auto K15 = b1 - m1s;
  const auto m2s = L2 * d2;
  const auto K16 = a2 - m2s;
  const auto K17 = ((a2 - b2) - m2s) * L2 - g2;
  const auto K18 = a2 + m2s;
  const auto K19 = ((a2 - b2) + m2s) * L2 + g2;
  const auto K20 = b2 + m2s;
  const auto K21 = -d2;
  const auto K22 = b2 - m2s;
  const auto m3s = d3 * L3;
  const auto K23 = a3 + m3s;
  const auto K24 = ((a3 - b3) + m3s) * L3 + g3;
  const auto K25 = -d3;
  const auto K26 = b3 - m3s;
  const auto mu1 = 1 - 2 * v1;
  const auto K27 = p1.y41 * mu1 + p1.y21;
  const auto K28 = p1.v12 - p1.v32 * mu1;
  const auto K29 = p1.y43 * mu1 + p1.y23;
  const auto K30 = p1.v14 - p1.v34 * mu1;
  const auto K31 = v1 * p1.y41 * 2 - p1.y21;
  const auto K32 = v1 * p1.v32 * 2 + p1.v12;
  const auto K33 = v1 * p1.y43 * 2 - p1.y23;
  const auto K34 = v1 * p1.v34 * 2 + p1.v14;
  const auto K35 = K9 - d1 * mu1;
  const auto K36 = K14 * mu1 + K11;
  const auto K37 = K10 - K13 * mu1;
  const auto K38 = mu1 * K15 + K12;
  const auto K39 = v1 * d1 * 2 + K9;
  const auto K40 = v1 * K14 * 2 - K11;
  const auto K41 = v1 * K13 * 2 + K10;
  const auto K42 = v1 * K15 * 2 - K12;
  const auto y1 = K25 + K7;
  const auto y2 = K23 + K3;
  const auto K43 = p2.v12 * y2 + p2.v14 * y1 + (K1 * K16 + K5 * K17) * x23;
  const auto y3 = K24 + K4;
  const auto y4 = K8 + K26;
  const auto K44 = p2.v12 * y3 + p2.v14 * y4 + (K2 * K16 + K6 * K17) * x23;
  const auto K45 = K7 * K19 + K3 * K18 + (K1 * p2.y21 + K5 * p2.y23) * x23;
  const auto K46 = K8 * K19 + K4 * K18 + (K2 * p2.y21 + K6 * p2.y23) * x23;
  const auto K47 = p2.v32 * y2 + p2.v34 * y1 + (K20 * K5 + d2 * K1) * x23;
  const auto K48 = p2.v32 * y3 + p2.v34 * y4 + (K6 * K20 + d2 * K2) * x23;
  const auto K49 = K21 * K3 + K22 * K7 + (p2.y43 * K5 + p2.y41 * K1) * x23;
  const auto K50 = K21 * K4 + K8 * K22 + (K6 * p2.y43 + p2.y41 * K2) * x23;
  const auto K51 = K23 * K18 + K25 * K19;
  const auto K52 = K19 * K26 + K24 * K18;
  const auto K53 = K23 * K21 + K25 * K22;
  const auto K54 = K22 * K26 + K24 * K21;
  const auto K55 = K38 * K49 + K36 * K45 + (K27 * K43 + K47 * K29) * x12 + (K37 * K47 + K35 * K43) * u2 +
                   (K28 * K45 + K49 * K30 + K53 * K30 + K51 * K28) * u1;
  const auto K56 = K36 * K46 + K38 * K50 + (K27 * K44 + K48 * K29) * x12 + (K37 * K48 + K35 * K44) * u2 +
                   (K46 * K28 + K50 * K30 + K54 * K30 + K52 * K28) * u1;
  const auto K57 = K45 * K40 + K49 * K42 + (K43 * K39 + K47 * K41) * u2 + (K31 * K43 + K33 * K47) * x12 +
                   (K51 * K32 + K53 * K34 + K34 * K49 + K32 * K45) * u1;
  const auto K58 = K46 * K40 + K50 * K42 + (K44 * K39 + K48 * K41) * u2 + (K31 * K44 + K33 * K48) * x12 +
                   (K52 * K32 + K54 * K34 + K34 * K50 + K32 * K46) * u1;
  const auto K59 = K36 * K51 + K38 * K53;
  const auto K60 = K36 * K52 + K38 * K54;
  const auto K61 = K51 * K40 + K53 * K42;
  const auto K62 = K52 * K40 + K54 * K42;
  const auto y5 = K61 + K57;
  const auto K63 = K59 * K58 + K55 * (K62 + K58) +
                   (((b1 * a1 + g1 * d1) * (g2 * d2 + a2 * b2) * (d3 * g3 + b3 * a3) - K60 * K57) - y5 * K56);

  const auto determinant = K63;

  // Layer 4 (first pass), then back-substitution upwards through layers 3, 2 and 1.
  auto c42 = -64 * c.omega * (K62 + K58) / determinant;
  auto c44 = 64 * c.omega * (K61 + K57) / determinant;

  const auto z1 = c42 * K1 + c44 * K2;
  const auto z2 = y2 * c42 + y3 * c44;
  const auto z3 = c42 * K5 + c44 * K6;
  const auto z4 = y1 * c42 + y4 * c44;
  const auto c31 = -0.25 * z1 * t3 / (1 - v3);
  const auto c32 = -0.25 * z2 * t2 / (1 - v3);
  const auto c33 = -0.25 * z3 * t3 / (1 - v3);
  const auto c34 = -0.25 * z4 * t2 / (1 - v3);
  const auto s1 = -0.25 * z1 * x23 / (1 - v3);
  const auto s2 = -0.25 * z2 * t1 / (1 - v3);
  const auto s3 = -0.25 * z3 * x23 / (1 - v3);
  const auto s4 = -0.25 * z4 * t1 / (1 - v3);

  const auto c21 = -0.25 * ((c31 * K16 + c33 * K17) * h23 + c34 * p2.v14 + c32 * p2.v12) / (1 - v2);
  const auto c22 = -0.25 * ((s1 * p2.y21 + s3 * p2.y23) * t1 + s4 * K19 + s2 * K18) / (1 - v2);
  const auto c23 = -0.25 * ((c33 * K20 + c31 * d2) * h23 + c34 * p2.v34 + c32 * p2.v32) / (1 - v2);
  const auto c24 = -0.25 * ((s1 * p2.y41 + s3 * p2.y43) * t1 + s4 * K22 + s2 * K21) / (1 - v2);

  const auto c11 = -0.25 * ((c23 * K10 + c21 * K9) * h12 + c24 * p1.v14 + c22 * p1.v12) / (1 - v1);
  const auto c12 = -0.25 * ((c23 * K13 + c21 * d1) * h12 + c24 * p1.v34 + c22 * p1.v32) / (1 - v1);

  const auto c41 = (c42 * q11 + c44 * q12) * t4;
  const auto c43 = (c42 * q31 + c44 * q32) * t4;
  c42 = c42 * t3;
  c44 = c44 * t3;

  // Termination measure: the vertical-displacement kernel at the first interface seen from
  // layer 1 and from layer 2.
  const auto M1 = ((3 + 2 * L1 - 4 * v1) * u1 + 1) * c11 -
                  ((2 - 4 * v1 - L1) + ((1 - 4 * v1) * L1 - 8 * v1 * (1 - v1) + 2) * u1) * c12;
  const auto M2 = (c21 - (2 - 4 * v2 - L1) * c23) * h12 - (2 - 4 * v2 + L1) * c24 - c22;
  return {{c11, c12}, {c21, c22, c23, c24}, {c31, c32, c33, c34}, {c41, c42, c43, c44}, M1, M2};
}

// Lane `lane` of a solution as the coefficients of one transform value; the larger of the two
// measures in magnitude wins (a tie keeps layer 1's value).
template <class V>
LayerCoefficients lane_of(const Solution<V>& s, int lane, double threshold) {
  const auto pick = [lane](const V& v) {
    if constexpr (std::is_same_v<V, double>) {
      (void)lane;
      return v;
    } else {
      return static_cast<double>(v[lane]);
    }
  };
  LayerCoefficients out;
  out.layer1 = {pick(s.layer1[0]), pick(s.layer1[1])};
  for (std::size_t k = 0; k < 4; ++k) {
    out.layer2[k] = pick(s.layer2[k]);
    out.layer3[k] = pick(s.layer3[k]);
    out.layer4[k] = pick(s.layer4[k]);
  }
  const double M1 = pick(s.M1), M2 = pick(s.M2);
  out.measure = std::fabs(M2) > std::fabs(M1) ? M2 : M1;
  out.above_threshold = std::fabs(out.measure) > threshold;
  return out;
}
