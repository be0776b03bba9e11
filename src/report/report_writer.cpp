#include "report/report_writer.h"

#include "report/detail_report.h"
#include "report/summary_report.h"

namespace basinfit {

namespace {

class DetailAndSummary final : public ReportWriter {
 public:
  DetailAndSummary(TextUnit& detail, TextUnit& summary)
      : detail_unit_(detail), summary_unit_(summary), detail_(detail), summary_(summary) {}

  void write_headers(const RunState& state) override {
    detail_.write_header(state);
    summary_.write_header(state);
    flush();
  }

  void write_station(const RunState& state) override {
    detail_.write_station(state);
    summary_.write_station(state);
    flush();
  }

 private:
  void flush() {
    detail_unit_.flush();
    summary_unit_.flush();
  }

  TextUnit& detail_unit_;
  TextUnit& summary_unit_;
  DetailReport detail_;
  SummaryReport summary_;
};

}  // namespace

std::unique_ptr<ReportWriter> make_report_writer(EngineUnits& units) {
  return std::make_unique<DetailAndSummary>(units.detail, units.summary);
}

}  // namespace basinfit
