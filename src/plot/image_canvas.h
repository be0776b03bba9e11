#pragma once
// A canvas on a cairo surface: an image in memory (encoded as PNG) or an SVG document.
//
// Window coordinates map onto pixel centres, so a one-pixel line at a coordinate lands on
// one row or column of pixels; shapes are drawn without antialiasing (palette colours stay
// exact), text with it.  Font requests map through one table to installed
// metric-compatible fonts (font_family_for).

#include <cairo.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "plot/canvas.h"

namespace basinfit::plot {

// The installed family that renders a requested typeface, and whether it is monospaced;
// nullopt for typefaces we do not map.
struct FontFamily {
  std::string_view family;
  bool monospaced;
};
std::optional<FontFamily> font_family_for(std::string_view typeface);

// Releases the process-wide font caches of cairo and fontconfig.  Only for the very end of a
// process (leak checkers otherwise report them): no canvas, image or window may still exist.
void release_font_caches();

class ImageCanvas : public Canvas {
 public:
  // Draws on `surface` (not owned), which is `size` pixels large.
  ImageCanvas(cairo_surface_t* surface, PixelSize size);
  ~ImageCanvas() override;
  ImageCanvas(const ImageCanvas&) = delete;
  ImageCanvas& operator=(const ImageCanvas&) = delete;

  std::optional<PixelSize> window_size() override { return size_; }
  bool reset_window() override { return true; }  // an image is always in its default configuration
  void set_viewport(const PixelRect& viewport) override;
  void set_window_coordinates(double width, double height) override;
  void set_colour(int palette_index) override;
  void set_line_mask(std::uint16_t mask) override;
  void line(Point from, Point to) override;
  void rectangle(Fill fill, Point corner1, Point corner2) override;
  void ellipse(Fill fill, Point corner1, Point corner2) override;
  void polygon(Fill fill, std::span<const Point> vertices) override;
  bool select_font(std::string_view request) override;
  double text_width(std::string_view text) override;
  double character_height() override;
  bool can_rotate_text() const override { return true; }
  void text(Point at, std::string_view text, bool vertical) override;

  // Status of the underlying cairo context (CAIRO_STATUS_SUCCESS when all went well).
  cairo_status_t status() const;

 private:
  Point to_device(Point p) const;
  void stroke();

  cairo_t* cairo_;
  PixelSize size_;
  PixelRect viewport_;
  double scale_x_ = 1, scale_y_ = 1;
  std::uint16_t mask_ = kSolidMask;
  bool font_selected_ = false;
};

// An in-memory image filled with one palette colour, to be drawn on and saved.
class ImageSurface {
 public:
  ImageSurface(PixelSize size, int background_colour);
  ~ImageSurface();
  ImageSurface(const ImageSurface&) = delete;
  ImageSurface& operator=(const ImageSurface&) = delete;

  cairo_surface_t* surface() const { return surface_; }
  PixelSize size() const { return size_; }
  // The image encoded as PNG, appended to `bytes`; false when it cannot be encoded.
  bool encode_png(std::string& bytes) const;

 private:
  cairo_surface_t* surface_;
  PixelSize size_;
};

}  // namespace basinfit::plot
