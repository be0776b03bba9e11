#pragma once
// The drawing surface the chart library draws on.
//
// A canvas offers exactly the operations a charting window offers: its size, a viewport in
// pixels, a window coordinate system laid over that viewport, a palette colour, a 16-bit line
// dash mask, lines, rectangles, ellipses and polygons, fonts chosen by a typeface request,
// text metrics in pixels, and text.  Three canvases implement it: a recording canvas for
// tests, a cairo image canvas (PNG and SVG files) and the X11 graphics window.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace basinfit::plot {

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// Inclusive pixel rectangle, as a viewport is given: (0, 0, 639, 479) is a whole 640 x 480
// window.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// A point in window coordinates (after set_window_coordinates), y growing downward.
struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Border or filled shape.
enum class Fill { kBorder, kFilled };

// A font request such as "t'Courier New'h20w10": typeface, cell height and average character
// width in pixels.
struct FontRequest {
  std::string typeface;
  int height = 0;
  int width = 0;
};

// Parses a request of the form t'<typeface>'h<height>w<width>; nullopt when malformed.
std::optional<FontRequest> parse_font_request(std::string_view request);

// Dash masks: each bit is one pixel along the line, most significant bit first.
inline constexpr std::uint16_t kSolidMask = 0xFFFF;

class Canvas {
 public:
  virtual ~Canvas() = default;

  // Current size of the drawing area in pixels; nullopt when there is no window to draw in.
  virtual std::optional<PixelSize> window_size() = 0;
  // Returns the window to its default configuration; false when that is impossible.
  virtual bool reset_window() = 0;
  // Restricts drawing to the inclusive pixel rectangle.  Until set_window_coordinates is
  // called, coordinates are pixels relative to the viewport's top-left corner.
  virtual void set_viewport(const PixelRect& viewport) = 0;
  // Maps (0, 0)..(width, height) onto the whole viewport, origin top left, y downward.
  virtual void set_window_coordinates(double width, double height) = 0;
  // Palette index 0..15 (the chart library clamps requests before they reach a canvas).
  virtual void set_colour(int palette_index) = 0;
  virtual void set_line_mask(std::uint16_t mask) = 0;

  virtual void line(Point from, Point to) = 0;
  virtual void rectangle(Fill fill, Point corner1, Point corner2) = 0;
  // The ellipse inscribed in the box from corner1 to corner2.
  virtual void ellipse(Fill fill, Point corner1, Point corner2) = 0;
  virtual void polygon(Fill fill, std::span<const Point> vertices) = 0;

  // Selects a font by its request text; false when the request cannot be honoured.
  virtual bool select_font(std::string_view request) = 0;
  // Width of `text` and character height, in pixels, in the selected font.
  virtual double text_width(std::string_view text) = 0;
  virtual double character_height() = 0;
  // True when text can be drawn rotated by 90 degrees.
  virtual bool can_rotate_text() const = 0;
  // Draws text with the top-left corner of its box (as read) at `at`.  With `vertical` the
  // text runs upward, rotated 90 degrees counter-clockwise, so `at` is the bottom-left corner
  // of the rotated box on the screen.
  virtual void text(Point at, std::string_view text, bool vertical = false) = 0;
};

}  // namespace basinfit::plot
