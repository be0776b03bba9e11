// The integrands of every point at one node of a panel (V = double) or at several nodes side by
// side (V a GCC/Clang vector of doubles, one node per lane), with the very operations of the scalar
// form in every lane.  Included inside a namespace after model/layer_solution-inl.h (whose
// exp_lanes it uses), once by the portable code and once per instruction set; hence no include
// guard.  Needs model/integrand.h and <cstring> before it.

template <class V>
[[gnu::always_inline]] inline V splat(double x) {
  if constexpr (std::is_same_v<V, double>) {
    return x;
  } else {
    V v;
    for (std::size_t l = 0; l < kLanesOf<V>; ++l) v[l] = x;
    return v;
  }
}

// The Bessel values of consecutive nodes: lanes p[0] .. p[lanes-1].  The storage of the Bessel
// lanes runs on far enough for a whole widest vector from the last distance's first node.
template <class V>
[[gnu::always_inline]] inline V lanes_at(const double* p) {
  if constexpr (std::is_same_v<V, double>) {
    return *p;
  } else {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
}

template <class V>
using ComponentTableOf = std::array<std::array<V, kMaxPoints>, kComponents>;

// Layer coefficients of several nodes side by side (LayerCoefficients serves a single node).
template <class V>
struct CoefficientsOf {
  std::array<V, 2> layer1;
  std::array<V, 4> layer2, layer3, layer4;
};

// Resolves an axisymmetric response into the x, y frame.  On the load axis only the mean
// horizontal stress enters.
template <class V>
[[gnu::always_inline]] inline void resolve_lanes(ComponentTableOf<V>& t, std::size_t i,
                                                 const PointLoadGeometry& g, V X1, V X2, V U, V T) {
  if (g.on_axis) {
    t[kSxx][i] += X1;
    t[kSyy][i] += X1;
    return;
  }
  t[kSxx][i] += X1 + X2 * g.cos_2t;
  t[kSyy][i] += X1 - X2 * g.cos_2t;
  t[kSxy][i] += X2 * g.sin_2t;
  t[kUx][i] += U * g.cos_t;
  t[kUy][i] += U * g.sin_t;
  t[kTxz][i] += T * g.cos_t;
  t[kTyz][i] += T * g.sin_t;
}

// Integrands of every point for the transform value(s) lambda; `node` is the panel node of lane 0,
// `active` the lanes that carry a node (the others pad the vector and make no C library calls).
// C is LayerCoefficients for V = double, CoefficientsOf<V> otherwise.
template <class V, std::size_t active, class C>
void fill_integrand(const IntegrandSetting& in, const BesselLanes& bessel, V lambda, const C& c,
                    std::size_t node, ComponentTableOf<V>& integrand) {
  const auto& E = in.modulus;
  const auto& nu = in.poisson;
  std::array<V, kMaxLoads> q;
  for (std::size_t j = 0; j < in.load_count; ++j) {
    q[j] = in.loads[j].radius * in.loads[j].pressure * lanes_at<V>(&bessel.j1[in.load_lane[j] + node]);
  }
  integrand = ComponentTableOf<V>{};
  const V e_surface = exp_lanes<V, active>(lambda * in.depth[0]);
  const double Z1 = in.depth[0];
  // Parts of the surface integrand shared by every surface point.
  const V surface_w = (c.layer1[0] - (1 - 2 * nu[0]) * c.layer1[1]) / lambda;
  const V surface_s = c.layer1[0] + 2 * nu[0] * c.layer1[1];

  for (std::size_t i = 0; i < in.point_count; ++i) {
    const NormalisedPoint& pt = in.points[i];
    if (pt.kind == PointKind::kNoContribution) continue;
    const double z = pt.z;
    const V L = lambda * z;
    V e1 = splat<V>(0.0), e2 = splat<V>(0.0);
    if (pt.kind == PointKind::kLayer1) {
      e1 = exp_lanes<V, active>(lambda * (Z1 - z));
      e2 = exp_lanes<V, active>(lambda * (Z1 + z));
    } else if (pt.kind == PointKind::kDeepLayer) {
      e1 = exp_lanes<V, active>(lambda * (pt.bottom - z));
      e2 = exp_lanes<V, active>(lambda * (z - pt.top));
    }
    for (std::size_t j = 0; j < in.load_count; ++j) {
      const PointLoadGeometry& g = in.geometry[i][j];
      // On the load axis J0(0) = 1 and J1(0) = 0.
      const V J0 = g.on_axis ? splat<V>(1.0) : lanes_at<V>(&bessel.j0[in.pair_lane[i][j] + node]);
      const V J1 = g.on_axis ? splat<V>(0.0) : lanes_at<V>(&bessel.j1[in.pair_lane[i][j] + node]);
      const V qj = q[j];
      V X1 = splat<V>(0.0), X2 = splat<V>(0.0), U = splat<V>(0.0), T = splat<V>(0.0);

      if (pt.kind == PointKind::kSurface) {
        // Surface: departure of the layered surface response from layer 1's half-space.
        const double v = nu[0];
        const V e = e_surface;
        const V S = surface_s;
        integrand[kW][i] += surface_w * qj * J0 * e;
        X1 = -2 * (1 + v) * J0 * e * S * qj;
        if (!g.on_axis) {
          X2 = -2 * (1 - v) * (J0 - 2 * J1 / (lambda * g.rho)) * e * S * qj;
          U = (J1 / lambda) * e * S * qj;
        }
      } else if (pt.kind == PointKind::kLayer1) {
        const double v = nu[0];
        const V c1 = c.layer1[0], c2 = c.layer1[1];
        integrand[kW][i] += ((c1 - (2 - 4 * v - L) * c2) * e1 +
                             ((3 - 4 * v + 2 * L) * c1 - (2 - 8 * v * (1 - v) + (1 - 4 * v) * L) * c2) * e2) /
                            lambda * J0 * qj;
        X1 = -0.5 * J0 * qj *
             ((c1 + (1 + 4 * v + L) * c2) * e1 +
              ((3 + 4 * v - 2 * L) * c1 - (1 - 4 * v - 8 * v * v - (1 - 4 * v) * L) * c2) * e2);
        integrand[kSzz][i] +=
            J0 * qj *
            ((c1 - (1 - 2 * v - L) * c2) * e1 + (((1 - 4 * v) * L - 2 * v + 1) * c2 - (1 + 2 * L) * c1) * e2);
        if (!g.on_axis) {
          const V D = (c1 + (1 + L) * c2) * e1 +
                      ((3 - 4 * v - 2 * L) * c1 - (1 - 8 * v * (1 - v) - (1 - 4 * v) * L) * c2) * e2;
          X2 = (J1 / (lambda * g.rho) - 0.5 * J0) * qj * D;
          U = (J1 / lambda) * qj * D;
          T = -((c1 + (L + 2 * v) * c2) * e1 - ((1 - 2 * L) * c1 + ((1 - 4 * v) * L + 2 * v) * c2) * e2) *
              J1 * qj;
        }
      } else {
        const std::size_t k = static_cast<std::size_t>(pt.layer) - 1;
        const double v = nu[k];
        const double Ek = E[k];
        const auto& cc = pt.layer == 2 ? c.layer2 : (pt.layer == 3 ? c.layer3 : c.layer4);
        const V c1 = cc[0], c2 = cc[1], c3 = cc[2], c4 = cc[3];
        integrand[kW][i] += ((c1 - (2 - 4 * v - L) * c3) * e1 - (c2 + (2 - 4 * v + L) * c4) * e2) /
                            (lambda * Ek) * qj * J0 * (1 + v);
        X1 = -0.5 * J0 * qj * ((c2 - (1 + 4 * v - L) * c4) * e2 + (c1 + (1 + 4 * v + L) * c3) * e1);
        integrand[kSzz][i] += J0 * qj * ((c2 + (1 - 2 * v + L) * c4) * e2 + (c1 - (1 - 2 * v - L) * c3) * e1);
        if (!g.on_axis) {
          const V D = (c2 - (1 - L) * c4) * e2 + (c1 + (1 + L) * c3) * e1;
          X2 = (J1 / (lambda * g.rho) - 0.5 * J0) * qj * D;
          U = -(J1 / (lambda * Ek)) * qj * D * (1 + v);
          T = -((c1 + (L + 2 * v) * c3) * e1 + ((2 * v - L) * c4 - c2) * e2) * J1 * qj;
        }
      }
      resolve_lanes<V>(integrand, i, g, X1, X2, U, T);
    }
  }
}
