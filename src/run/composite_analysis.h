#pragma once
// Several station analyses wired in as one (the run takes a single analysis): each is begun,
// analysed and recorded in the order added, and each gets back exactly its own result.

#include <memory>
#include <vector>

#include "run/station_loop.h"

namespace basinfit {

class CompositeAnalysis : public StationAnalysis {
 public:
  // Adds an analysis (not owned; nullptr is ignored).
  void add(StationAnalysis* analysis) {
    if (analysis != nullptr) parts_.push_back(analysis);
  }
  // What to hand the run: nothing, the single analysis itself, or this composite.
  StationAnalysis* wiring() {
    if (parts_.empty()) return nullptr;
    return parts_.size() == 1 ? parts_.front() : this;
  }

  void begin(const RunState& state) override {
    for (StationAnalysis* part : parts_) part->begin(state);
  }
  std::unique_ptr<Result> analyse(const RunState& state) const override {
    auto results = std::make_unique<Results>();
    for (const StationAnalysis* part : parts_) results->parts.push_back(part->analyse(state));
    return results;
  }
  void record(const RunState& state, std::unique_ptr<Result> result) override {
    auto* results = dynamic_cast<Results*>(result.get());
    for (std::size_t i = 0; i < parts_.size(); ++i) {
      std::unique_ptr<Result> own;
      if (results != nullptr && i < results->parts.size()) own = std::move(results->parts[i]);
      parts_[i]->record(state, std::move(own));
    }
  }

 private:
  struct Results : Result {
    std::vector<std::unique_ptr<Result>> parts;
  };
  std::vector<StationAnalysis*> parts_;
};

}  // namespace basinfit
