// Several station analyses behind the run's single hook.

#include "run/composite_analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace basinfit {
namespace {

// Records every call; its result carries its own name and the station it was made for.
class NamedAnalysis : public StationAnalysis {
 public:
  struct Named : Result {
    std::string text;
  };
  NamedAnalysis(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
  void begin(const RunState& state) override { log_.push_back(name_ + " begin " + state.settings.title); }
  std::unique_ptr<Result> analyse(const RunState& state) const override {
    auto result = std::make_unique<Named>();
    result->text = name_ + "@" + state.station.id;
    return result;
  }
  void record(const RunState& state, std::unique_ptr<Result> result) override {
    auto* named = dynamic_cast<Named*>(result.get());
    log_.push_back(name_ + " record " + state.station.id + " " + (named != nullptr ? named->text : "none"));
  }

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

TEST(CompositeAnalysis, EachPartGetsItsOwnResultInTheOrderAdded) {
  std::vector<std::string> log;
  NamedAnalysis results("results", log), survey("survey", log);
  CompositeAnalysis none;
  none.add(nullptr);
  EXPECT_EQ(none.wiring(), nullptr);
  CompositeAnalysis one;
  one.add(&survey);
  EXPECT_EQ(one.wiring(), &survey);

  CompositeAnalysis both;
  both.add(&results);
  both.add(&survey);
  StationAnalysis* hook = both.wiring();
  ASSERT_EQ(hook, &both);
  RunState state;
  state.settings.title = "T";
  hook->begin(state);
  state.station.id = "A";
  auto a = hook->analyse(state);
  state.station.id = "B";
  auto b = hook->analyse(state);
  // Recorded in survey order, whatever order the workers finished in.
  state.station.id = "A";
  hook->record(state, std::move(a));
  state.station.id = "B";
  hook->record(state, std::move(b));
  hook->record(state, nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"results begin T", "survey begin T", "results record A results@A",
                                           "survey record A survey@A", "results record B results@B",
                                           "survey record B survey@B", "results record B none",
                                           "survey record B none"}));
}

}  // namespace
}  // namespace basinfit
