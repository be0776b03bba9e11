#pragma once
// A canvas that draws nothing and records every operation with its coordinates, the current
// colour, dash mask and font.  Tests read the chart back from it.
//
// Text metrics follow the font request: every character is `width` pixels wide and
// `height` pixels high, so layouts are predictable.

#include <set>
#include <string>
#include <vector>

#include "plot/canvas.h"

namespace basinfit::plot {

enum class OpKind {
  kResetWindow,
  kViewport,
  kWindowCoordinates,
  kColour,
  kLineMask,
  kLine,
  kRectangle,
  kEllipse,
  kPolygon,
  kFont,
  kText,
};

struct RecordedOp {
  OpKind kind = OpKind::kLine;
  std::vector<Point> points;  // line: from, to; rectangle and ellipse: two corners; polygon: vertices;
                              // text: its anchor; viewport and window coordinates: (left, top),
                              // (right, bottom) or (0, 0), (width, height)
  Fill fill = Fill::kBorder;
  int colour = 0;                   // current colour when the operation ran
  std::uint16_t mask = kSolidMask;  // current dash mask
  std::string font;                 // current font request
  std::string text;                 // text, or the request of a font selection
  bool vertical = false;
};

class RecordingCanvas : public Canvas {
 public:
  explicit RecordingCanvas(std::optional<PixelSize> size = PixelSize{640, 480}) : size_(size) {}

  // Fonts whose selection should fail, by request text.
  void refuse_font(std::string request) { refused_fonts_.insert(std::move(request)); }
  void set_can_rotate(bool can) { can_rotate_ = can; }
  void set_reset_fails(bool fails) { reset_fails_ = fails; }
  void set_size(std::optional<PixelSize> size) { size_ = size; }

  const std::vector<RecordedOp>& ops() const { return ops_; }
  void clear() { ops_.clear(); }
  // Operations of one kind, in order.
  std::vector<RecordedOp> ops_of(OpKind kind) const;
  // The text operations whose text equals `text`.
  std::vector<RecordedOp> texts(std::string_view text) const;

  std::optional<PixelSize> window_size() override { return size_; }
  bool reset_window() override;
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
  bool can_rotate_text() const override { return can_rotate_; }
  void text(Point at, std::string_view text, bool vertical) override;

 private:
  RecordedOp& record(OpKind kind, std::vector<Point> points = {});

  std::optional<PixelSize> size_;
  std::set<std::string, std::less<>> refused_fonts_;
  bool can_rotate_ = true;
  bool reset_fails_ = false;
  int colour_ = 15;
  std::uint16_t mask_ = kSolidMask;
  std::string font_;
  FontRequest metrics_{"", 0, 0};
  std::vector<RecordedOp> ops_;
};

}  // namespace basinfit::plot
