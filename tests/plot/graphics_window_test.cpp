// The "Graphics Output" window under a private Xvfb server: mapping, title, size, drawing,
// repainting after exposure, resizing, closing by the user, and runs without a display.

#include "plot/graphics_window.h"

// GoogleTest before Xlib: Xlib's macros (None, Bool) would break its templates.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
// clang-format on
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "plot/palette.h"

extern char** environ;

namespace basinfit::plot {
namespace {

using namespace std::chrono_literals;

// Polls `done` every 20 ms for at most `timeout`.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return done();
}

std::optional<std::filesystem::path> find_program(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// A private Xvfb server, stopped at the end of the test.  The server picks a free display
// number itself and reports it when it is ready (-displayfd), so tests running in parallel
// never share or race for a display.
class XvfbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto xvfb = find_program("Xvfb");
    if (!xvfb) GTEST_SKIP() << "Xvfb is not installed";
    start_server(*xvfb);
    ASSERT_NE(client_, nullptr) << "no Xvfb server could be started";
  }

  void TearDown() override {
    if (client_ != nullptr) XCloseDisplay(client_);
    stop_server();
  }

  void start_server(const std::filesystem::path& xvfb) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    std::string program = xvfb.string();
    std::array<std::string, 8> args = {
        program, "-displayfd", std::to_string(ready[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    std::array<char*, 9> argv{};
    for (std::size_t i = 0; i < args.size(); ++i) argv[i] = args[i].data();
    const int spawned = posix_spawn(&server_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    if (spawned != 0) {
      server_ = 0;
      ::close(ready[0]);
      return;
    }
    // The display number arrives as a line once the server accepts connections.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd readable{ready[0], POLLIN, 0};
      if (::poll(&readable, 1, 100) <= 0) continue;
      char buffer[16];
      const ssize_t n = ::read(ready[0], buffer, sizeof buffer);
      if (n <= 0) break;  // the server ended without a display
      number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ready[0]);
    if (number.find('\n') == std::string::npos) {
      stop_server();
      return;
    }
    display_name_ = ":";
    display_name_.append(number.substr(0, number.find('\n')));
    client_ = XOpenDisplay(display_name_.c_str());
    if (client_ == nullptr) stop_server();
  }

  void stop_server() {
    if (server_ <= 0) return;
    ::kill(server_, SIGTERM);
    int status;
    const bool ended = eventually([&] { return waitpid(server_, &status, WNOHANG) == server_; }, 5000ms);
    if (!ended) {
      ::kill(server_, SIGKILL);
      waitpid(server_, &status, 0);
    }
    server_ = 0;
  }

  // Opens the window on the private server and waits until it is on screen.
  std::unique_ptr<GraphicsWindow> open_mapped_window() {
    WindowOpening opening = GraphicsWindow::open(display_name_.c_str());
    EXPECT_TRUE(opening.error.empty()) << opening.error;
    if (opening.window && !eventually([&] { return viewable(opening.window->window_id()); })) {
      ADD_FAILURE() << "the window was not mapped";
      return nullptr;
    }
    return std::move(opening.window);
  }

  bool viewable(unsigned long id) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(client_, id, &attributes) != 0 && attributes.map_state == IsViewable;
  }

  // A screenshot of the window as the X server shows it.
  struct Screenshot {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    int count(Rgb c) const {
      int n = 0;
      for (const Rgb& p : pixels) n += (p.red == c.red && p.green == c.green && p.blue == c.blue) ? 1 : 0;
      return n;
    }
  };
  Screenshot screenshot(unsigned long id) {
    Screenshot shot;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(client_, id, &attributes) == 0) return shot;
    XImage* image = XGetImage(client_, id, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return shot;
    shot.width = attributes.width;
    shot.height = attributes.height;
    for (int y = 0; y < shot.height; ++y) {
      for (int x = 0; x < shot.width; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        shot.pixels.push_back({static_cast<std::uint8_t>((p >> 16) & 0xFF),
                               static_cast<std::uint8_t>((p >> 8) & 0xFF),
                               static_cast<std::uint8_t>(p & 0xFF)});
      }
    }
    XDestroyImage(image);
    return shot;
  }

  std::string display_name_;
  pid_t server_ = 0;
  Display* client_ = nullptr;
};

constexpr std::array<float, 7> kOffsets = {0, 8, 12, 18, 24, 36, 60};
constexpr std::array<float, 7> kMeasured = {21.4, 17.9, 15.2, 11.8, 9.1, 5.6, 2.4};
constexpr std::array<float, 7> kCalculated = {21.0, 18.2, 15.0, 11.9, 9.0, 5.8, 2.3};

struct Drop {
  std::string caption = basin_caption("STA 0+50", 2);
  BasinDrop basin{caption, 7, kOffsets, kMeasured, kCalculated};
};

TEST_F(XvfbTest, MapsAWindowTitledGraphicsOutputAndShowsEachDrop) {
  auto window = open_mapped_window();
  ASSERT_NE(window, nullptr);
  const unsigned long id = window->window_id();
  char* name = nullptr;
  ASSERT_NE(XFetchName(client_, id, &name), 0);
  EXPECT_STREQ(name, "Graphics Output");
  XFree(name);
  EXPECT_EQ(window->size(), (PixelSize{640, 480}));
  EXPECT_TRUE(window->is_open());
  // Blue before any drop, then the basin.
  ASSERT_TRUE(eventually([&] { return screenshot(id).count(kVgaPalette[1]) == 640 * 480; }));
  Drop drop;
  ASSERT_TRUE(window->show_basin(drop.basin));
  Screenshot shot;
  ASSERT_TRUE(eventually([&] {
    shot = screenshot(id);
    return shot.count(kVgaPalette[14]) > 7 * 40;
  })) << "no yellow markers on screen";
  EXPECT_EQ(shot.width, 640);
  EXPECT_EQ(shot.height, 480);
  EXPECT_GT(shot.count(kVgaPalette[2]), 100) << "no green calculated line";
  EXPECT_GT(shot.count(kVgaPalette[15]), 2 * 640);
  EXPECT_EQ(shot.at(0, 0).blue, 0xAA);
  EXPECT_EQ(shot.at(639, 479).blue, 0xAA);
}

TEST_F(XvfbTest, RepaintsWhenUncovered) {
  auto window = open_mapped_window();
  ASSERT_NE(window, nullptr);
  const unsigned long id = window->window_id();
  Drop drop;
  ASSERT_TRUE(window->show_basin(drop.basin));
  ASSERT_TRUE(eventually([&] { return screenshot(id).count(kVgaPalette[14]) > 7 * 40; }));

  // Cover the window with a black one, then take it away.
  XSetWindowAttributes cover_attributes{};
  cover_attributes.override_redirect = True;
  cover_attributes.background_pixel = BlackPixel(client_, DefaultScreen(client_));
  const ::Window cover =
      XCreateWindow(client_, DefaultRootWindow(client_), 0, 0, 640, 480, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &cover_attributes);
  XMapRaised(client_, cover);
  XSync(client_, False);
  ASSERT_TRUE(eventually([&] { return viewable(cover); }));
  XDestroyWindow(client_, cover);
  XSync(client_, False);
  EXPECT_TRUE(eventually([&] {
    const Screenshot shot = screenshot(id);
    return shot.count(kVgaPalette[14]) > 7 * 40 && shot.count(kVgaPalette[0]) < 100;
  })) << "the uncovered window was not repainted";
}

TEST_F(XvfbTest, NextDropFillsAResizedWindow) {
  auto window = open_mapped_window();
  ASSERT_NE(window, nullptr);
  const unsigned long id = window->window_id();
  XResizeWindow(client_, id, 800, 600);
  XSync(client_, False);
  ASSERT_TRUE(eventually([&] { return window->size() == PixelSize{800, 600}; }));
  Drop drop;
  ASSERT_TRUE(window->show_basin(drop.basin));
  // The frame's right edge now runs down the window's last column, above the free strip.
  EXPECT_TRUE(eventually([&] {
    const Screenshot shot = screenshot(id);
    return shot.width == 800 && shot.at(799, 250).red == 0xFF && shot.at(799, 550).blue == 0xAA &&
           shot.at(799, 550).red == 0;
  }));
}

TEST_F(XvfbTest, ClosingByTheUserEndsTheWaitAndTheRunGoesOn) {
  auto window = open_mapped_window();
  ASSERT_NE(window, nullptr);
  const unsigned long id = window->window_id();
  EXPECT_FALSE(window->wait_until_closed_for(100ms));

  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = id;
  close.xclient.message_type = XInternAtom(client_, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(client_, "WM_DELETE_WINDOW", False));
  close.xclient.data.l[1] = CurrentTime;
  XSendEvent(client_, id, False, NoEventMask, &close);
  XSync(client_, False);

  ASSERT_TRUE(window->wait_until_closed_for(5000ms));
  EXPECT_FALSE(window->is_open());
  window->wait_until_closed();  // returns at once
  Drop drop;
  EXPECT_FALSE(window->show_basin(drop.basin));
  EXPECT_TRUE(eventually([&] { return !viewable(id); }));
}

TEST(GraphicsWindowWithoutDisplay, ReportsWhyInsteadOfFailingTheRun) {
  const char* saved = std::getenv("DISPLAY");
  const std::string saved_display = saved != nullptr ? saved : "";
  ::unsetenv("DISPLAY");
  const WindowOpening no_variable = GraphicsWindow::open();
  if (!saved_display.empty()) ::setenv("DISPLAY", saved_display.c_str(), 1);
  EXPECT_EQ(no_variable.window, nullptr);
  EXPECT_NE(no_variable.error.find("DISPLAY"), std::string::npos) << no_variable.error;

  const WindowOpening no_server = GraphicsWindow::open(":4987");
  EXPECT_EQ(no_server.window, nullptr);
  EXPECT_NE(no_server.error.find(":4987"), std::string::npos) << no_server.error;
}

}  // namespace
}  // namespace basinfit::plot
