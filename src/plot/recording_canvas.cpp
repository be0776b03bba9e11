#include "plot/recording_canvas.h"

namespace basinfit::plot {

RecordedOp& RecordingCanvas::record(OpKind kind, std::vector<Point> points) {
  RecordedOp op;
  op.kind = kind;
  op.points = std::move(points);
  op.colour = colour_;
  op.mask = mask_;
  op.font = font_;
  ops_.push_back(std::move(op));
  return ops_.back();
}

std::vector<RecordedOp> RecordingCanvas::ops_of(OpKind kind) const {
  std::vector<RecordedOp> found;
  for (const RecordedOp& op : ops_) {
    if (op.kind == kind) found.push_back(op);
  }
  return found;
}

std::vector<RecordedOp> RecordingCanvas::texts(std::string_view text) const {
  std::vector<RecordedOp> found;
  for (const RecordedOp& op : ops_) {
    if (op.kind == OpKind::kText && op.text == text) found.push_back(op);
  }
  return found;
}

bool RecordingCanvas::reset_window() {
  record(OpKind::kResetWindow);
  return !reset_fails_;
}

void RecordingCanvas::set_viewport(const PixelRect& v) {
  record(OpKind::kViewport, {Point{static_cast<double>(v.left), static_cast<double>(v.top)},
                             Point{static_cast<double>(v.right), static_cast<double>(v.bottom)}});
}

void RecordingCanvas::set_window_coordinates(double width, double height) {
  record(OpKind::kWindowCoordinates, {Point{0, 0}, Point{width, height}});
}

void RecordingCanvas::set_colour(int palette_index) {
  colour_ = palette_index;
  record(OpKind::kColour);
}

void RecordingCanvas::set_line_mask(std::uint16_t mask) {
  mask_ = mask;
  record(OpKind::kLineMask);
}

void RecordingCanvas::line(Point from, Point to) { record(OpKind::kLine, {from, to}); }

void RecordingCanvas::rectangle(Fill fill, Point corner1, Point corner2) {
  record(OpKind::kRectangle, {corner1, corner2}).fill = fill;
}

void RecordingCanvas::ellipse(Fill fill, Point corner1, Point corner2) {
  record(OpKind::kEllipse, {corner1, corner2}).fill = fill;
}

void RecordingCanvas::polygon(Fill fill, std::span<const Point> vertices) {
  record(OpKind::kPolygon, std::vector<Point>(vertices.begin(), vertices.end())).fill = fill;
}

bool RecordingCanvas::select_font(std::string_view request) {
  const auto parsed = parse_font_request(request);
  const bool ok = parsed && !refused_fonts_.contains(request);
  if (ok) {
    font_ = std::string(request);
    metrics_ = *parsed;
  }
  record(OpKind::kFont).text = std::string(request);
  return ok;
}

double RecordingCanvas::text_width(std::string_view text) {
  return static_cast<double>(text.size()) * metrics_.width;
}

double RecordingCanvas::character_height() { return metrics_.height; }

void RecordingCanvas::text(Point at, std::string_view text, bool vertical) {
  RecordedOp& op = record(OpKind::kText, {at});
  op.text = std::string(text);
  op.vertical = vertical;
}

}  // namespace basinfit::plot
