#include "plot/graphics_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "plot/image_canvas.h"
#include "plot/palette.h"

namespace basinfit::plot {

struct GraphicsWindow::State {
  Display* display = nullptr;
  ::Window window = 0;
  unsigned long id = 0;
  std::atomic<bool> connection_lost{false};
  Atom delete_message = 0;
  int wake_read = -1, wake_write = -1;
  std::thread events;

  mutable std::mutex mutex;  // guards the fields below
  std::condition_variable closed_signal;
  bool closed = false;
  PixelSize size;
  std::unique_ptr<ImageSurface> picture;  // what the window shows

  std::atomic<bool> stop{false};
  std::atomic<bool> repaint{false};
  ChartLibrary library;  // used by the drawing thread only

  ~State() {
    if (wake_read >= 0) ::close(wake_read);
    if (wake_write >= 0) ::close(wake_write);
  }

  void wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_write, &byte, 1);
  }

  // Copies the picture to the window.  Event thread only.
  void paint(cairo_surface_t* target) {
    std::lock_guard lock(mutex);
    cairo_xlib_surface_set_size(target, size.width, size.height);
    cairo_t* cr = cairo_create(target);
    cairo_set_source_surface(cr, picture->surface(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
  }

  // A resized window keeps what it showed, at its top left, on the blue background; the next
  // drop is drawn at the new size.
  void resize(PixelSize new_size) {
    std::lock_guard lock(mutex);
    if (new_size == size || new_size.width <= 0 || new_size.height <= 0) return;
    auto resized = std::make_unique<ImageSurface>(new_size, 1);
    cairo_t* cr = cairo_create(resized->surface());
    cairo_set_source_surface(cr, picture->surface(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    picture = std::move(resized);
    size = new_size;
  }

  void run_events() {
    const int screen = DefaultScreen(display);
    cairo_surface_t* target =
        cairo_xlib_surface_create(display, window, DefaultVisual(display, screen), size.width, size.height);
    bool window_gone = false;
    while (!stop.load() && !window_gone) {
      bool wanted = repaint.exchange(false);
      while (!connection_lost.load() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
          case Expose:
            if (event.xexpose.count == 0) wanted = true;
            break;
          case MapNotify:
            wanted = true;
            break;
          case ConfigureNotify:
            resize({event.xconfigure.width, event.xconfigure.height});
            wanted = true;
            break;
          case ClientMessage:
            if (static_cast<Atom>(event.xclient.data.l[0]) == delete_message) window_gone = true;
            break;
          case DestroyNotify:
            window_gone = true;
            break;
          default:
            break;
        }
      }
      if (connection_lost.load()) window_gone = true;
      if (window_gone) break;
      if (wanted) {
        paint(target);
        XFlush(display);
      }
      pollfd watched[2] = {{ConnectionNumber(display), POLLIN, 0}, {wake_read, POLLIN, 0}};
      ::poll(watched, 2, 250);
      if ((watched[1].revents & POLLIN) != 0) {
        char drain[64];
        while (::read(wake_read, drain, sizeof drain) > 0) {
        }
      }
    }
    // A surface on a lost connection cannot be flushed any more (cairo would wait on it for
    // ever); it is left to the end of the process.
    if (!connection_lost.load()) cairo_surface_destroy(target);
    if (window_gone) {
      if (!connection_lost.load()) {
        XDestroyWindow(display, window);
        XFlush(display);
      }
      std::lock_guard lock(mutex);
      closed = true;
      window = 0;
      closed_signal.notify_all();
    }
  }
};

namespace {

// A protocol error (say, a window destroyed behind our back) must not end the run: the
// plot is a view, the reports are what matter.
int ignore_protocol_error(Display*, XErrorEvent*) { return 0; }

// A lost connection to the X server closes the window for the rest of the run instead of
// ending the process.
void note_connection_lost(Display*, void* state) {
  static_cast<GraphicsWindow::State*>(state)->connection_lost = true;
}

// Xlib's own handler for a broken connection ends the process; this one only lets the
// exit handler above take note.
int keep_running_on_lost_connection(Display*) { return 0; }

unsigned long palette_pixel(Display* display, int index) {
  const Rgb rgb = palette_colour(index);
  XColor colour{};
  colour.red = static_cast<unsigned short>(rgb.red * 257);
  colour.green = static_cast<unsigned short>(rgb.green * 257);
  colour.blue = static_cast<unsigned short>(rgb.blue * 257);
  colour.flags = DoRed | DoGreen | DoBlue;
  if (XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &colour) == 0) {
    return BlackPixel(display, DefaultScreen(display));
  }
  return colour.pixel;
}

}  // namespace

WindowOpening GraphicsWindow::open(const char* display_name, PixelSize size) {
  WindowOpening result;
  const char* shown_name = display_name != nullptr ? display_name : std::getenv("DISPLAY");
  if (shown_name == nullptr || *shown_name == '\0') {
    result.error = "no X display (DISPLAY is not set)";
    return result;
  }
  auto state = std::make_unique<State>();
  state->display = XOpenDisplay(display_name);
  if (state->display == nullptr) {
    result.error = std::string("cannot connect to X display ") + shown_name;
    return result;
  }
  Display* display = state->display;
  XSetErrorHandler(ignore_protocol_error);
  XSetIOErrorHandler(keep_running_on_lost_connection);
  XSetIOErrorExitHandler(display, note_connection_lost, state.get());
  const int screen = DefaultScreen(display);
  if (DefaultDepth(display, screen) < 15) {
    XCloseDisplay(display);
    result.error = "the X display has too few colours";
    return result;
  }
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) {
    XCloseDisplay(display);
    result.error = "no pipe for the window's event thread";
    return result;
  }
  state->wake_read = pipe_ends[0];
  state->wake_write = pipe_ends[1];
  ::fcntl(state->wake_read, F_SETFL, O_NONBLOCK);
  ::fcntl(state->wake_write, F_SETFL, O_NONBLOCK);

  const unsigned long blue = palette_pixel(display, 1);
  state->window =
      XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(size.width),
                          static_cast<unsigned>(size.height), 0, blue, blue);
  state->id = state->window;
  XStoreName(display, state->window, kTitle);
  const Atom net_name = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  XChangeProperty(display, state->window, net_name, utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(kTitle),
                  static_cast<int>(std::string_view(kTitle).size()));
  XClassHint class_hint;
  char name[] = "basinfit";
  char class_name[] = "Basinfit";
  class_hint.res_name = name;
  class_hint.res_class = class_name;
  XSetClassHint(display, state->window, &class_hint);
  state->delete_message = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, state->window, &state->delete_message, 1);
  XSelectInput(display, state->window, ExposureMask | StructureNotifyMask);
  state->size = size;
  state->picture = std::make_unique<ImageSurface>(size, 1);
  XMapWindow(display, state->window);
  XFlush(display);

  State* raw = state.get();
  state->events = std::thread([raw] { raw->run_events(); });
  result.window = std::unique_ptr<GraphicsWindow>(new GraphicsWindow(std::move(state)));
  return result;
}

GraphicsWindow::GraphicsWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

GraphicsWindow::~GraphicsWindow() {
  state_->stop = true;
  state_->wake();
  if (state_->events.joinable()) state_->events.join();
  // After a lost connection the display is left alone: Xlib can do nothing more with it.
  if (!state_->connection_lost.load()) {
    if (state_->window != 0) XDestroyWindow(state_->display, state_->window);
    XCloseDisplay(state_->display);
  }
}

bool GraphicsWindow::show_basin(const BasinDrop& drop) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return false;
    ImageCanvas canvas(state_->picture->surface(), state_->size);
    dispplot(state_->library, canvas, drop);
  }
  state_->repaint = true;
  state_->wake();
  return true;
}

bool GraphicsWindow::is_open() const {
  std::lock_guard lock(state_->mutex);
  return !state_->closed;
}

void GraphicsWindow::wait_until_closed() {
  std::unique_lock lock(state_->mutex);
  state_->closed_signal.wait(lock, [this] { return state_->closed; });
}

bool GraphicsWindow::wait_until_closed_for(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  return state_->closed_signal.wait_for(lock, timeout, [this] { return state_->closed; });
}

PixelSize GraphicsWindow::size() const {
  std::lock_guard lock(state_->mutex);
  return state_->size;
}

unsigned long GraphicsWindow::window_id() const { return state_->id; }

}  // namespace basinfit::plot
