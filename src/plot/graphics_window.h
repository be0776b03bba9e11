#pragma once
// The "Graphics Output" window of windowed runs: an X11 window, 640 x 480 pixels unless the
// user resizes it, blue, showing the basin of the latest drop.
//
// The engine's thread only draws: each basin is drawn into an image kept with the window,
// and a thread of the window's own copies that image to the screen whenever X asks for a
// repaint (exposure, resizing) and after each drop.  When the user closes the window the
// run goes on without it.

#include <chrono>
#include <memory>
#include <string>

#include "plot/basin_plot.h"
#include "plot/canvas.h"

namespace basinfit::plot {

class GraphicsWindow;

// The outcome of opening the window: a window, or the reason there is none (a short phrase
// such as "no X display (DISPLAY is not set)", for the engine's one message).
struct WindowOpening {
  std::unique_ptr<GraphicsWindow> window;
  std::string error;
};

class GraphicsWindow {
 public:
  static constexpr PixelSize kDefaultSize{640, 480};
  static constexpr const char* kTitle = "Graphics Output";

  // Opens the window on `display_name` (nullptr: the DISPLAY environment variable).
  static WindowOpening open(const char* display_name = nullptr, PixelSize size = kDefaultSize);

  // Closes the window at once.
  ~GraphicsWindow();
  GraphicsWindow(const GraphicsWindow&) = delete;
  GraphicsWindow& operator=(const GraphicsWindow&) = delete;

  // Draws one drop's basin over the previous one.  False once the user has closed the
  // window; nothing is drawn then.
  bool show_basin(const BasinDrop& drop);

  // True until the user closes the window.
  bool is_open() const;
  // Keeps the window on screen until the user closes it.
  void wait_until_closed();
  // As wait_until_closed, for at most `timeout`; true when the window has been closed.
  bool wait_until_closed_for(std::chrono::milliseconds timeout);

  // Current size of the window in pixels.
  PixelSize size() const;
  // The X11 window identifier (for tools and tests).
  unsigned long window_id() const;

 public:
  struct State;  // private to the implementation

 private:
  explicit GraphicsWindow(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace basinfit::plot
