#pragma once
// The survey page's style sheet and script, built into the program from web/survey/ (see
// src/survey/CMakeLists.txt and cmake/EmbedFiles.cmake), so that every page carries them inline
// and the program needs no file beside it.
//
//   page.css  the style sheet, screen and print (the fonts it names are installed with the
//             program: Liberation, metric-compatible with Arial, Times New Roman and Courier New)
//   page.js   the one script: sorting by a column keeps each station's drop row with it (one
//             tbody per station); folding shows or hides the drop row, drawing its drops from
//             their data the first time (a table of each drop and its basin: measured
//             deflections as points, the calculated basin as a line, the residual of every
//             sensor as a bar on the page's one residual scale).  Its last line marks the page
//             as scripted for tests.
//
// The page holds each file's bytes exactly, its final newline included, between the opening
// tag and its own line break (`<style>\n`, `<script>\n`) and the closing tag: an edit to a file
// is an edit to every page written afterwards, which the expected page of the tests shows.

#include <cstddef>
#include <string_view>

namespace basinfit::survey {

// One embedded file; `data` is followed by a zero byte that `size` does not count.
struct WebAsset {
  std::string_view path;  // "page.css", "page.js"
  const unsigned char* data;
  std::size_t size;
};

// The file of that name, or nullptr.
const WebAsset* find_web_asset(std::string_view path);

// The text of page.css and page.js.
std::string_view page_style();
std::string_view page_script();

}  // namespace basinfit::survey
