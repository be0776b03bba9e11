#pragma once
// Element numbers of the two parameter arrays of the bounded least-squares solver.
//
// The solver is steered entirely through an integer array `iv` and a single-precision
// array `v`.  Their element numbers are part of the solver's contract: callers, messages
// and tests refer to "iv(6)" or "v(31)", always counting from 1.  The accessors below keep
// that numbering so the code can be read against the parameter tables element by element.

#include <cassert>
#include <span>

namespace basinfit::solver {

// 1-based view of the integer parameter array.
class IntParams {
 public:
  IntParams(std::span<int> storage, int length) : data_(storage.data()), length_(length) {}
  int& operator()(int element) const {
    assert(element >= 1 && element <= length_);
    return data_[element - 1];
  }
  int length() const { return length_; }
  int* data() const { return data_; }

 private:
  int* data_;
  int length_;
};

// 1-based view of the real parameter and work array.
class RealParams {
 public:
  RealParams(std::span<float> storage, int length) : data_(storage.data()), length_(length) {}
  float& operator()(int element) const {
    assert(element >= 1 && element <= length_);
    return data_[element - 1];
  }
  // Pointer to the block that starts at `element` (a work vector laid out inside v).
  float* block(int element) const {
    assert(element >= 1 && element <= length_);
    return data_ + (element - 1);
  }
  int length() const { return length_; }

 private:
  float* data_;
  int length_;
};

// Element numbers of iv.
namespace iv {
inline constexpr int kState = 1;                // request on entry / return code on exit
inline constexpr int kEvaluationFailed = 2;     // 1 when the last evaluation could not be used
inline constexpr int kExtraIvNeeded = 3;        // iv elements still to be reserved (first pass)
inline constexpr int kExtraVNeeded = 4;         // v elements still to be reserved (first pass)
inline constexpr int kModel = 5;                // 1 Gauss-Newton, 2 augmented (secant) model
inline constexpr int kFunctionEvaluations = 6;  // evaluations at trial points, start included
inline constexpr int kJacobianTag = 7;          // evaluation tag of the point being differenced
inline constexpr int kRestorePending = 8;       // a good step is kept while a longer one is tried
inline constexpr int kModelChanges = 9;         // model changes made in this iteration
inline constexpr int kStepFailed = 10;          // a step failed in this iteration
inline constexpr int kModelChangeLimit = 11;    // model changes allowed per iteration
inline constexpr int kPendingRequest = 12;      // what the outstanding request is for
inline constexpr int kFinalCode = 13;           // return code held while the last Jacobian is formed
inline constexpr int kCovariancePrint = 14;
inline constexpr int kCovarianceRequest = 15;
inline constexpr int kScaleType = 16;  // dtype: 1 = update d from every Jacobian
inline constexpr int kEvaluationLimit = 17;
inline constexpr int kIterationLimit = 18;
inline constexpr int kSummaryInterval = 19;
inline constexpr int kParameterListing = 20;
inline constexpr int kOutputUnit = 21;
inline constexpr int kSolutionListing = 22;
inline constexpr int kFinalStatistics = 23;
inline constexpr int kStartListing = 24;
inline constexpr int kInitialSecantKind = 25;
inline constexpr int kGoodEvaluationTag = 26;  // evaluation tag of the kept good step
inline constexpr int kScaleBlock = 27;         // d
inline constexpr int kLastAcceptCode = 28;     // assessment code of the last accepted step
inline constexpr int kAssessCode = 29;
inline constexpr int kDifferenceEvaluations = 30;
inline constexpr int kIterations = 31;
inline constexpr int kSummaryLines = 32;  // iteration lines printed (header bookkeeping)
inline constexpr int kGradientBlock = 33;
inline constexpr int kColumnMaximaBlock = 34;  // column maxima of J, then reflector factors
inline constexpr int kStartPhase = 35;         // -1 until the first Jacobian has been used
inline constexpr int kTriangleBlock = 36;      // packed upper-triangular R
inline constexpr int kQtrBlock = 37;           // first P elements of Q^T r
inline constexpr int kScaleFloorBlock = 38;    // dtinit copies
inline constexpr int kScaleResetBlock = 39;    // d0init copies
inline constexpr int kSecantBlock = 40;        // packed symmetric S, lower triangle by rows
inline constexpr int kFreeCount = 41;
inline constexpr int kFirstFreeV = 42;
inline constexpr int kStepBlock = 43;
inline constexpr int kNeededLiv = 44;
inline constexpr int kNeededLv = 45;
inline constexpr int kPreviousXBlock = 46;
inline constexpr int kNextFreeV = 47;
inline constexpr int kPreviousGradientBlock = 48;
inline constexpr int kDefaultCopy = 49;
inline constexpr int kRealDefaultCount = 50;
inline constexpr int kAlgorithm = 51;
inline constexpr int kCovarianceEvaluations = 52;
inline constexpr int kGoodXBlock = 54;
inline constexpr int kOldJacobianResidualBlock = 55;  // J_old^T r at the new point
inline constexpr int kModelTimesStepBlock = 56;       // H s of the accepted step
inline constexpr int kRegressionDiagnostics = 57;
inline constexpr int kFirstFreeIv = 58;
inline constexpr int kPermutation = 59;  // first iv element of the permutation
inline constexpr int kRegressionLayout = 60;
inline constexpr int kResidualBlock = 61;
inline constexpr int kStoredP = 62;
inline constexpr int kFirstPassDone = 63;     // range limits and default copy recorded
inline constexpr int kModelCode = 64;         // models tried this iteration, 1..6
inline constexpr int kPointTag = 65;          // evaluation tag of the point now in x
inline constexpr int kJacobianCount = 66;     // difference Jacobians formed
inline constexpr int kPieceModelBlock = 67;   // packed model triangle or matrix of a step piece
inline constexpr int kModelFactorBlock = 68;  // packed R_mu or Cholesky factor of the model matrix
inline constexpr int kJacobianBlock = 70;
inline constexpr int kSecondResidualBlock = 82;  // rd
}  // namespace iv

// Element numbers of v.
namespace v {
inline constexpr int kProjectedGradientNorm = 1;  // gamma
inline constexpr int kStepLength = 2;             // ||D s||
inline constexpr int kFullStepLength = 3;         // L0, negative when not available
inline constexpr int kSlope = 4;
inline constexpr int kStepParameter = 5;      // mu (stppar)
inline constexpr int kFullStepReduction = 6;  // nred, negative when not available
inline constexpr int kPredictedReduction = 7;
inline constexpr int kRadius = 8;
inline constexpr int kFunction = 10;
inline constexpr int kActualReduction = 11;
inline constexpr int kPreviousFunction = 13;  // f0
inline constexpr int kRadiusFactor = 16;      // q
inline constexpr int kRelativeStep = 17;      // reldx
inline constexpr int kEpslon = 19;
inline constexpr int kPhmnfc = 20;
inline constexpr int kPhmxfc = 21;
inline constexpr int kDecfac = 22;
inline constexpr int kIncfac = 23;
inline constexpr int kRdfcmn = 24;
inline constexpr int kRdfcmx = 25;
inline constexpr int kTuner1 = 26;
inline constexpr int kTuner2 = 27;
inline constexpr int kTuner3 = 28;
inline constexpr int kTuner4 = 29;
inline constexpr int kTuner5 = 30;
inline constexpr int kAfctol = 31;
inline constexpr int kRfctol = 32;
inline constexpr int kXctol = 33;
inline constexpr int kXftol = 34;
inline constexpr int kLmax0 = 35;
inline constexpr int kLmaxs = 36;
inline constexpr int kSctol = 37;
inline constexpr int kDinit = 38;
inline constexpr int kDtinit = 39;
inline constexpr int kD0init = 40;
inline constexpr int kDfac = 41;
inline constexpr int kDltfdc = 42;
inline constexpr int kDltfdj = 43;
inline constexpr int kDelta0 = 44;
inline constexpr int kFuzz = 45;
inline constexpr int kRlimit = 46;
inline constexpr int kCosmin = 47;
inline constexpr int kHuberc = 48;
inline constexpr int kRsptol = 49;
inline constexpr int kSigmin = 50;
// Data of the good step kept while a longer step is tried.
inline constexpr int kGoodFunction = 51;
inline constexpr int kGoodPredicted = 52;
inline constexpr int kGoodSlope = 53;
inline constexpr int kGoodStepLength = 54;
inline constexpr int kGoodStepParameter = 55;
inline constexpr int kGoodFullReduction = 56;
inline constexpr int kGoodFullLength = 57;
inline constexpr int kGoodRelativeStep = 58;
inline constexpr int kGoodRadiusFactor = 59;
inline constexpr int kGoodCode = 60;
}  // namespace v

// Return codes left in iv(1) for the caller.
namespace code {
inline constexpr int kXConvergence = 3;
inline constexpr int kRelativeFunctionConvergence = 4;
inline constexpr int kBothConvergence = 5;
inline constexpr int kAbsoluteFunctionConvergence = 6;
inline constexpr int kSingularConvergence = 7;
inline constexpr int kFalseConvergence = 8;
inline constexpr int kEvaluationLimit = 9;
inline constexpr int kIterationLimit = 10;
inline constexpr int kStopRequested = 11;
inline constexpr int kStart = 12;
inline constexpr int kStorageOnly = 13;
inline constexpr int kStorageReady = 14;
inline constexpr int kLivTooSmall = 15;
inline constexpr int kLvTooSmall = 16;
inline constexpr int kPChanged = 17;
inline constexpr int kScaleNotPositive = 18;
inline constexpr int kDefaultCountWrong = 51;
inline constexpr int kInitialFunctionFailed = 63;
inline constexpr int kBadAssessState = 64;
inline constexpr int kGradientFailed = 65;
inline constexpr int kBadDimensions = 66;
inline constexpr int kBadAlgorithm = 67;
inline constexpr int kBadState = 80;
inline constexpr int kBadBounds = 82;

// True for the codes that report a usable solution (one of the convergence tests held).
constexpr bool is_convergence(int c) { return c >= kXConvergence && c <= kAbsoluteFunctionConvergence; }
// True for the codes that end a solve because of a limit or a stall, with x still usable.
constexpr bool is_limit_or_stall(int c) { return c >= kSingularConvergence && c <= kStopRequested; }
}  // namespace code

// Algorithm kinds accepted by ivset.
inline constexpr int kRegression = 1;

}  // namespace basinfit::solver
