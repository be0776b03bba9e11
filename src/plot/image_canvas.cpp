#include "plot/image_canvas.h"

#include <fontconfig/fontconfig.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "common/text_encoding.h"
#include "plot/palette.h"

namespace basinfit::plot {
namespace {

struct FontMapping {
  std::string_view typeface;
  FontFamily installed;
};

// The chart's typeface requests and the installed fonts with matching metrics that render
// them (fonts-liberation2).
constexpr std::array<FontMapping, 4> kFontTable = {{
    {"Courier New", {"Liberation Mono", true}},
    {"Times New Roman", {"Liberation Serif", false}},
    {"MS Sans Serif", {"Liberation Sans", false}},
    {"Small Fonts", {"Liberation Sans", false}},
}};

// A 16-bit dash mask as cairo dashes in pixels, starting with a drawn run; the offset makes
// the mask's first bit fall at the start of the line.
struct Dashes {
  std::vector<double> runs;
  double offset = 0;
};

Dashes dashes_for(std::uint16_t mask) {
  Dashes dashes;
  int rotation = 0;
  while (((mask << rotation) & 0x8000) == 0) ++rotation;  // mask != 0 here
  const auto rotated = static_cast<std::uint16_t>((mask << rotation) | (mask >> (16 - rotation)));
  bool on = true;
  double run = 0;
  for (int bit = 15; bit >= 0; --bit) {
    const bool set = ((rotated >> bit) & 1) != 0;
    if (set != on) {
      dashes.runs.push_back(run);
      run = 0;
      on = set;
    }
    ++run;
  }
  dashes.runs.push_back(run);
  if (dashes.runs.size() % 2 != 0) dashes.runs.push_back(0);
  dashes.offset = (16 - rotation) % 16;
  return dashes;
}

}  // namespace

std::optional<FontFamily> font_family_for(std::string_view typeface) {
  for (const FontMapping& mapping : kFontTable) {
    if (mapping.typeface == typeface) return mapping.installed;
  }
  return std::nullopt;
}

void release_font_caches() {
  cairo_debug_reset_static_data();
  FcFini();
}

ImageCanvas::ImageCanvas(cairo_surface_t* surface, PixelSize size)
    : cairo_(cairo_create(surface)), size_(size), viewport_{0, 0, size.width - 1, size.height - 1} {
  cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_NONE);
  // Layout needs true metrics; hinted metrics are rounded to whole pixels.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cairo_, options);
  cairo_font_options_destroy(options);
  cairo_set_line_width(cairo_, 1.0);
  cairo_set_line_cap(cairo_, CAIRO_LINE_CAP_SQUARE);
  ImageCanvas::set_colour(15);  // bright white until the chart chooses
}

ImageCanvas::~ImageCanvas() { cairo_destroy(cairo_); }

cairo_status_t ImageCanvas::status() const { return cairo_status(cairo_); }

void ImageCanvas::set_viewport(const PixelRect& viewport) {
  viewport_ = viewport;
  scale_x_ = scale_y_ = 1;
  cairo_reset_clip(cairo_);
  cairo_rectangle(cairo_, viewport.left, viewport.top, viewport.width(), viewport.height());
  cairo_clip(cairo_);
}

void ImageCanvas::set_window_coordinates(double width, double height) {
  scale_x_ = (viewport_.width() - 1) / width;
  scale_y_ = (viewport_.height() - 1) / height;
}

Point ImageCanvas::to_device(Point p) const {
  return {viewport_.left + p.x * scale_x_ + 0.5, viewport_.top + p.y * scale_y_ + 0.5};
}

void ImageCanvas::set_colour(int palette_index) {
  const Rgb c = palette_colour(palette_index);
  cairo_set_source_rgb(cairo_, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

void ImageCanvas::set_line_mask(std::uint16_t mask) { mask_ = mask; }

void ImageCanvas::stroke() {
  if (mask_ == 0) {
    cairo_new_path(cairo_);
    return;
  }
  if (mask_ == kSolidMask) {
    cairo_set_dash(cairo_, nullptr, 0, 0);
  } else {
    const Dashes dashes = dashes_for(mask_);
    cairo_set_dash(cairo_, dashes.runs.data(), static_cast<int>(dashes.runs.size()), dashes.offset);
  }
  cairo_set_line_cap(cairo_, mask_ == kSolidMask ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
  cairo_stroke(cairo_);
}

void ImageCanvas::line(Point from, Point to) {
  Point a = to_device(from);
  Point b = to_device(to);
  if (mask_ != kSolidMask) {
    // Dashed lines run from the outer edge of the first pixel to that of the last, so that
    // each bit of the mask covers exactly one pixel.
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    if (length > 0) {
      const double ux = (b.x - a.x) / length / 2, uy = (b.y - a.y) / length / 2;
      a = {a.x - ux, a.y - uy};
      b = {b.x + ux, b.y + uy};
    }
  }
  cairo_move_to(cairo_, a.x, a.y);
  cairo_line_to(cairo_, b.x, b.y);
  stroke();
}

void ImageCanvas::rectangle(Fill fill, Point corner1, Point corner2) {
  const Point a = to_device(corner1);
  const Point b = to_device(corner2);
  const double left = std::min(a.x, b.x), right = std::max(a.x, b.x);
  const double top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
  if (fill == Fill::kFilled) {
    // Cover the pixels under both corners, as a filled box on a raster display does.
    cairo_rectangle(cairo_, left - 0.5, top - 0.5, right - left + 1, bottom - top + 1);
    cairo_fill(cairo_);
  } else {
    cairo_rectangle(cairo_, left, top, right - left, bottom - top);
    stroke();
  }
}

void ImageCanvas::ellipse(Fill fill, Point corner1, Point corner2) {
  const Point a = to_device(corner1);
  const Point b = to_device(corner2);
  const double rx = std::abs(b.x - a.x) / 2, ry = std::abs(b.y - a.y) / 2;
  if (rx <= 0 || ry <= 0) return;
  cairo_save(cairo_);
  cairo_translate(cairo_, (a.x + b.x) / 2, (a.y + b.y) / 2);
  cairo_scale(cairo_, rx, ry);
  cairo_new_path(cairo_);
  cairo_arc(cairo_, 0, 0, 1, 0, 2 * std::numbers::pi);
  cairo_restore(cairo_);  // the path stays in device space; the pen is not scaled
  if (fill == Fill::kFilled) {
    cairo_fill_preserve(cairo_);
  }
  stroke();
}

void ImageCanvas::polygon(Fill fill, std::span<const Point> vertices) {
  if (vertices.empty()) return;
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    const Point d = to_device(vertices[i]);
    if (i == 0) {
      cairo_move_to(cairo_, d.x, d.y);
    } else {
      cairo_line_to(cairo_, d.x, d.y);
    }
  }
  cairo_close_path(cairo_);
  if (fill == Fill::kFilled) {
    // A filled polygon includes its border pixels.
    cairo_fill_preserve(cairo_);
    const std::uint16_t mask = mask_;
    mask_ = kSolidMask;
    stroke();
    mask_ = mask;
  } else {
    stroke();
  }
}

bool ImageCanvas::select_font(std::string_view request) {
  const auto parsed = parse_font_request(request);
  if (!parsed) return false;
  const auto family = font_family_for(parsed->typeface);
  if (!family) return false;
  const std::string name(family->family);
  cairo_select_font_face(cairo_, name.c_str(), CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  // Size the font so that its cell (ascent + descent) is the requested height in pixels, and
  // a monospaced font's advance is the requested width.
  constexpr double kProbeSize = 100;
  cairo_set_font_size(cairo_, kProbeSize);
  cairo_font_extents_t probe;
  cairo_font_extents(cairo_, &probe);
  const double cell = (probe.ascent + probe.descent) / kProbeSize;
  if (!(cell > 0)) return false;
  const double size_y = parsed->height / cell;
  double size_x = size_y;
  if (family->monospaced && probe.max_x_advance > 0)
    size_x = parsed->width * kProbeSize / probe.max_x_advance;
  cairo_matrix_t matrix;
  cairo_matrix_init_scale(&matrix, size_x, size_y);
  cairo_set_font_matrix(cairo_, &matrix);
  font_selected_ = cairo_status(cairo_) == CAIRO_STATUS_SUCCESS;
  return font_selected_;
}

double ImageCanvas::text_width(std::string_view text) {
  if (!font_selected_) return 0;
  // Captions carry station identifiers, titles and routes as read; cairo refuses text that is
  // not UTF-8, so bytes that are not, and control characters, are drawn as U+FFFD.
  const std::string s = printable_utf8(text);
  cairo_text_extents_t extents;
  cairo_text_extents(cairo_, s.c_str(), &extents);
  return extents.x_advance;
}

double ImageCanvas::character_height() {
  if (!font_selected_) return 0;
  cairo_font_extents_t extents;
  cairo_font_extents(cairo_, &extents);
  return extents.ascent + extents.descent;
}

void ImageCanvas::text(Point at, std::string_view text, bool vertical) {
  if (!font_selected_ || text.empty()) return;
  const std::string s = printable_utf8(text);
  const Point d = to_device(at);
  cairo_font_extents_t extents;
  cairo_font_extents(cairo_, &extents);
  cairo_save(cairo_);
  cairo_translate(cairo_, d.x - 0.5, d.y - 0.5);
  if (vertical) cairo_rotate(cairo_, -std::numbers::pi / 2);
  cairo_move_to(cairo_, 0, extents.ascent);
  cairo_show_text(cairo_, s.c_str());
  cairo_restore(cairo_);
}

ImageSurface::ImageSurface(PixelSize size, int background_colour)
    : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height)), size_(size) {
  cairo_t* cr = cairo_create(surface_);
  const Rgb c = palette_colour(background_colour);
  cairo_set_source_rgb(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
}

ImageSurface::~ImageSurface() { cairo_surface_destroy(surface_); }

bool ImageSurface::encode_png(std::string& bytes) const {
  cairo_surface_flush(surface_);
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  return cairo_surface_write_to_png_stream(surface_, append, &bytes) == CAIRO_STATUS_SUCCESS;
}

}  // namespace basinfit::plot
