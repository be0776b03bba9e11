#include "solver/solver_messages.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "common/record_format.h"

namespace basinfit::solver::messages {
namespace {

// The relative change (a - b) / max(|a|, |b|), 0 when both are 0.
float relative_to(float numerator, float f0, float f) {
  const float scale = std::max(std::fabs(f0), std::fabs(f));
  return scale > 0.0f ? numerator / scale : 0.0f;
}

}  // namespace

void algorithm_mismatch(TextUnit& out, int expected, int given) {
  out.write(BASINFIT_FMT("(/,' the first parameter to  ivset should be',I3,' rather than',I3)"), expected,
            given);
}

void bad_algorithm(TextUnit& out, int alg) {
  out.write(BASINFIT_FMT("(/,' /// alg =',I5,' must be 1 2, 3, or 4')"), alg);
}

void liv_too_small_for_sizes(TextUnit& out, int liv, int minimum) {
  out.write(
      BASINFIT_FMT("(/,' /// liv =',I5,' must be at least',I5,' to compute true min. liv and min. lv')"), liv,
      minimum);
}

void liv_too_small(TextUnit& out, int liv, int needed) {
  out.write(BASINFIT_FMT("(/,' /// liv =',I5,' must be at least',I5)"), liv, needed);
}

void lv_too_small(TextUnit& out, int lv, int needed) {
  out.write(BASINFIT_FMT("(/,' /// lv =',I5,' must be at least',I5)"), lv, needed);
}

void p_changed(TextUnit& out, int from, int to) {
  out.write(BASINFIT_FMT("(/,' /// ',1A1,' changed from ',I5,' to ',I5)"), std::string_view("p"), from, to);
}

void bad_state(TextUnit& out, int state) {
  out.write(BASINFIT_FMT("(/,' ///  iv(1) =',I5,' should be between 0 and 14.')"), state);
}

void default_count(TextUnit& out, int have, int want) {
  out.write(BASINFIT_FMT("(/,' iv(nvdflt) =',I5,' rather than ',I5)"), have, want);
}

void out_of_range(TextUnit& out, const char* name, int element, float value, float lower, float upper) {
  const std::string_view text(name, 8);
  out.write(
      BASINFIT_FMT("(/,' ///  ',2A4,'.. v(',I2,') =',E11.3,' should',' be between',E11.3,' and',D11.3)"),
      text.substr(0, 4), text.substr(4, 4), element, value, lower, static_cast<double>(upper));
}

void scale_not_positive(TextUnit& out, int index, float value) {
  out.write(BASINFIT_FMT("(/,' ///  d(',I3,') =',E11.3,' should be positive')"), index, value);
}

void nondefault_listing(TextUnit& out, bool first_check, int initial_secant_kind, int scale_type,
                        bool any_iv_change, std::span<const float> v, std::span<const float> defaults,
                        int copy_start, int last_element) {
  if (any_iv_change) {
    if (initial_secant_kind != 0) {
      out.write(BASINFIT_FMT("(/,' nondefault values....',/,' init',A1,'..... iv(25) =',I3)"),
                std::string_view("s"), initial_secant_kind);
    }
    if (scale_type != 1) out.write(BASINFIT_FMT("(' dtype..... iv(16) =',I3)"), scale_type);
  }
  static constexpr const char* kNames[32] = {
      "epslon..", "phmnfc..", "phmxfc..", "decfac..", "incfac..", "rdfcmn..", "rdfcmx..", "tuner1..",
      "tuner2..", "tuner3..", "tuner4..", "tuner5..", "afctol..", "rfctol..", "xctol...", "xftol...",
      "lmax0...", "lmaxs...", "sctol...", "dinit...", "dtinit..", "d0init..", "dfac....", "dltfdc..",
      "dltfdj..", "delta0..", "fuzz....", "rlimit..", "cosmin..", "huberc..", "rsptol..", "sigmin.."};
  bool heading = false;
  for (int element = 19; element <= last_element; ++element) {
    const std::size_t here = static_cast<std::size_t>(element - 1);
    const std::size_t copy = static_cast<std::size_t>(copy_start + element - 19 - 1);
    const float reference = first_check ? defaults[here] : (copy < v.size() ? v[copy] : defaults[here]);
    if (v[here] == reference) continue;
    if (!heading) {
      const std::string_view title = first_check ? "nondefault v" : "---changed v";
      out.write(BASINFIT_FMT("(/,' ',3A4,'alues....',/)"), title.substr(0, 4), title.substr(4, 4),
                title.substr(8, 4));
      heading = true;
    }
    const std::string_view name(kNames[element - 19], 8);
    out.write(BASINFIT_FMT("(1X,2A4,'.. v(',I2,') =',E15.7)"), name.substr(0, 4), name.substr(4, 4), element,
              v[here]);
  }
}

namespace {

void iteration_line(TextUnit& out, const IntParams& iv, const RealParams& v, int p, std::span<const float> x,
                    std::span<const float> d) {
  const int interval = iv(iv::kSummaryInterval);
  if (interval == 0) return;
  const int iteration = iv(iv::kIterations);
  const int evaluations = iv(iv::kFunctionEvaluations) - iv(iv::kCovarianceEvaluations);
  const float f = v(v::kFunction);
  if (iteration == 0) {
    if (iv(iv::kStartListing) > 0) {
      std::vector<FormatArg> items;
      for (int k = 0; k < p; ++k) {
        items.emplace_back(k + 1);
        items.emplace_back(x[static_cast<std::size_t>(k)]);
        items.emplace_back(d[static_cast<std::size_t>(k)]);
      }
      out.write_list(BASINFIT_FMT("(/,'     i     initial x(i)',8X,'d(i)',/,/,(1X,I5,E17.6,E14.3))"), items);
    }
    if (interval < 0) {
      out.write(BASINFIT_FMT("(/,'   it   nf',6X,'f',7X,'reldf',3X,'preldf',3X,'reldx',2X,'model  stppar')"));
    } else {
      out.write(
          BASINFIT_FMT("(/,'    it   nf',6X,'f',7X,'reldf',3X,'preldf',3X,'reldx',2X,'model  stppar',2X,"
                       "'d*step',2X,'npreldf')"));
    }
    out.write(BASINFIT_FMT("(/,'     0',I5,E10.3)"), evaluations, f);
    return;
  }
  if (iteration % std::abs(interval) != 0) return;
  const float f0 = v(v::kPreviousFunction);
  const float reldf = relative_to(f0 - f, f0, f);
  const float preldf = relative_to(v(v::kPredictedReduction), f0, f);
  const float npreldf = relative_to(v(v::kFullStepReduction), f0, f);
  static constexpr const char* kFirst[6] = {"   ", "   ", "   ", "   ", "  g", "  s"};
  static constexpr const char* kSecond[6] = {" g  ", " s  ", "g-s ", "s-g ", "-s-g", "-g-s"};
  const int model_code = std::clamp(iv(iv::kModelCode), 1, 6);
  const std::string_view first = kFirst[model_code - 1];
  const std::string_view second = kSecond[model_code - 1];
  const Format& line = BASINFIT_FMT("(I6,I5,E10.3,2E9.2,E8.1,A3,A4,2E8.1,E9.2)");
  if (interval < 0) {
    out.write(line, iteration, evaluations, f, reldf, preldf, v(v::kRelativeStep), first, second,
              v(v::kStepParameter));
  } else {
    out.write(line, iteration, evaluations, f, reldf, preldf, v(v::kRelativeStep), first, second,
              v(v::kStepParameter), v(v::kStepLength), npreldf);
  }
}

void termination(TextUnit& out, const IntParams& iv, const RealParams& v) {
  const int state = iv(iv::kState);
  // Codes 12 to 62 come from the parameter checks, which have written their own message.
  if (state >= 12 && state <= 62) return;
  const int shown = state > 62 ? state - 51 : state;
  switch (shown) {
    case 3:
      out.write(BASINFIT_FMT("(/,' ***** x-convergence *****')"));
      break;
    case 4:
      out.write(BASINFIT_FMT("(/,' ***** relative function convergence *****')"));
      break;
    case 5:
      out.write(BASINFIT_FMT("(/,' ***** x- and relative function convergence *****')"));
      break;
    case 6:
      out.write(BASINFIT_FMT("(/,' ***** absolute function convergence *****')"));
      break;
    case 7:
      out.write(BASINFIT_FMT("(/,' ***** singular convergence *****')"));
      break;
    case 8:
      out.write(BASINFIT_FMT("(/,' ***** false convergence *****')"));
      break;
    case 9:
      out.write(BASINFIT_FMT("(/,' ***** function evaluation limit *****')"));
      break;
    case 10:
      out.write(BASINFIT_FMT("(/,' ***** iteration limit *****')"));
      break;
    case 11:
      out.write(BASINFIT_FMT("(/,' ***** stopx *****')"));
      break;
    case 12:
      out.write(BASINFIT_FMT("(/,' ***** initial f(x) cannot be computed *****')"));
      break;
    case 13:
      out.write(BASINFIT_FMT("(/,' ***** bad parameters to assess *****')"));
      break;
    case 14:
      out.write(BASINFIT_FMT("(/,' ***** gradient could not be computed *****')"));
      break;
    case 15:
      out.write(BASINFIT_FMT("(/,' inconsistent dimensions')"));
      break;
    default:
      out.write(BASINFIT_FMT("(/,' ***** iv(1) =',I5,' *****')"), state);
      return;
  }
  if (shown >= 3 && shown <= 11 && iv(iv::kFinalStatistics) > 0) {
    const float f0 = v(v::kPreviousFunction);
    const float f = v(v::kFunction);
    out.write(BASINFIT_FMT("(/,' function',E17.6,'   reldx',E17.3,/,' func. evals',I8,9X,'grad. evals',I8,/,"
                           "' preldf',E16.3,6X,'npreldf',E15.3)"),
              f, v(v::kRelativeStep), iv(iv::kFunctionEvaluations) - iv(iv::kCovarianceEvaluations),
              iv(iv::kJacobianCount), relative_to(v(v::kPredictedReduction), f0, f),
              relative_to(v(v::kFullStepReduction), f0, f));
  }
}

void final_listing(TextUnit& out, const IntParams& iv, const RealParams&, int p, std::span<const float> x,
                   std::span<const float> d, std::span<const float> g) {
  if (iv(iv::kSolutionListing) <= 0) return;
  out.write(BASINFIT_FMT("(/,'     i      final x(i)',8X,'d(i)',10X,'g(i)',/)"));
  for (int k = 0; k < p; ++k) {
    const std::size_t i = static_cast<std::size_t>(k);
    out.write(BASINFIT_FMT("(1X,I5,E16.6,2E14.3)"), k + 1, x[i], d[i], g[i]);
  }
}

}  // namespace

}  // namespace basinfit::solver::messages

namespace basinfit::solver {

void iteration_summary(TextUnit& out, const IntParams& iv, const RealParams& v, int p,
                       std::span<const float> x, std::span<const float> d, std::span<const float> g) {
  const int state = iv(iv::kState);
  if (state < 3) {
    messages::iteration_line(out, iv, v, p, x, d);
    return;
  }
  messages::termination(out, iv, v);
  if (state <= 11) messages::final_listing(out, iv, v, p, x, d, g);
}

}  // namespace basinfit::solver
