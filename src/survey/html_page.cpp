#include "survey/html_page.h"

#include "common/input_error.h"
#include "survey/internal/page_assets.h"
#include "survey/internal/page_markup.h"
#include "survey/internal/page_profiles.h"
#include "survey/internal/page_sections.h"
#include "survey/internal/page_stations.h"
#include "survey/internal/page_summary.h"

// The page is written by parts, one concept to a file:
//   page_markup    the text stream and the escaping of input text
//   page_numbers   numbers in text, coordinates and data
//   page_axes      chart frames, axes, section bands, colours
//   page_summary   header, run and survey summary
//   page_profiles  the modulus and RMS profiles along the route
//   page_sections  the uniform sections
//   page_stations  the station table and the drops' data
//   page_assets    the style sheet and script from web/survey/, built in

namespace basinfit::survey {

void write_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end,
                const PageSink& sink) {
  SurveyProfile made;
  const SurveyProfile& profile = profile_of(page, made);
  const SurveyLayout layout = lay_out_survey(page, profile, options);
  html::Html h(&sink);
  h.raw("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">");
  h.raw("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
  h.raw("<meta name=\"generator\" content=\"").text(page.engine_version).raw("\">");
  h.element("title", std::string(end.complete ? "" : "INCOMPLETE \xE2\x80\x94 ") +
                         "Survey: " + (page.route.empty() ? page.title : page.route));
  h.raw("<style>\n").raw(page_style()).raw("</style>");
  h.raw("<noscript><style>button.fold,#unfold-all{display:none}</style></noscript>");
  h.raw("</head><body>\n");
  html::write_header(h, page, profile.stations.size(), end);
  html::write_summary(h, page, profile);
  html::write_profiles(h, page, profile, layout);
  html::write_sections(h, page, layout, options);
  h.spill();
  html::write_stations(h, page, profile, layout);
  h.raw("<footer class=\"note\"><p>Written by ").text(page.engine_version).raw(".</p></footer>");
  h.raw("<script>\n").raw(page_script()).raw("</script>\n</body></html>\n");
  h.finish();
}

std::string render_page(const SurveyPage& page, const ReportOptions& options, const RunEnd& end) {
  std::string out;
  write_page(page, options, end, [&out](std::string_view piece) { out += piece; });
  return out;
}

SurveyPageFile::SurveyPageFile(const std::string& name) : file_(name, "survey page") {}

void SurveyPageFile::refuse_if_kept(const KeptFiles* kept) {
  if (kept == nullptr || done_) return;
  try {
    kept->refuse_if_kept(file_);
  } catch (const InputError&) {
    // The file is one the run keeps (even one this object created, which the run then took as
    // a report): it is left exactly as it is.
    file_.abandon(false);
    done_ = true;
    throw;
  }
}

SurveyPageFile::~SurveyPageFile() {
  if (!done_) file_.abandon(true);
}

void SurveyPageFile::abandon() {
  if (done_) return;
  done_ = true;
  file_.abandon(true);
}

void SurveyPageFile::write(const SurveyPage& page, const ReportOptions& options, const RunEnd& end) {
  try {
    file_.truncate();
    write_page(page, options, end, [this](std::string_view piece) {
      // Each piece goes to disk as it comes, so the page never gathers in memory.
      file_.write(piece);
      file_.flush();
    });
    file_.close();
    done_ = true;
  } catch (const InputError&) {
    done_ = true;
    file_.abandon(true);
    throw;
  }
}

}  // namespace basinfit::survey
