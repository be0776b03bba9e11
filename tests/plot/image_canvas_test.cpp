// The cairo image canvas: chart files of a known basin, palette colours, dash masks and the
// font table.

#include "plot/image_canvas.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plot/basin_plot.h"
#include "plot/palette.h"

namespace basinfit::plot {
namespace {

// A scratch directory removed after the test.
class ScratchDir {
 public:
  ScratchDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("basinfit-plot-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::remove_all(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

// Pixels of an RGB24 image surface.
class Pixels {
 public:
  explicit Pixels(cairo_surface_t* surface) : surface_(surface) { cairo_surface_flush(surface_); }
  Rgb at(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    std::uint32_t v;
    std::memcpy(&v, data + y * stride + 4 * x, 4);
    return {static_cast<std::uint8_t>((v >> 16) & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF),
            static_cast<std::uint8_t>(v & 0xFF)};
  }
  int width() const { return cairo_image_surface_get_width(surface_); }
  int height() const { return cairo_image_surface_get_height(surface_); }
  int count(Rgb colour, int top = 0, int bottom = -1) const {
    if (bottom < 0) bottom = height() - 1;
    int n = 0;
    for (int y = top; y <= bottom; ++y) {
      for (int x = 0; x < width(); ++x) n += same(at(x, y), colour) ? 1 : 0;
    }
    return n;
  }
  static bool same(Rgb a, Rgb b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

 private:
  cairo_surface_t* surface_;
};

constexpr std::array<float, 9> kOffsets = {0, 20, 30, 45, 60, 90, 120, 150, 180};
constexpr std::array<float, 9> kMeasured = {812, 640, 560, 455, 370, 250, 170, 110, 75};
constexpr std::array<float, 9> kCalculated = {800, 652, 548, 450, 380, 245, 160, 118, 70};

TEST(ChartFiles, PngOfAKnownBasinShowsTheChart) {
  ScratchDir dir;
  BasinImageWriter writer(dir.path() / "charts");
  const std::string caption = basin_caption("1250", 3);
  const BasinDrop drop{caption, 9, kOffsets, kMeasured, kCalculated};
  const std::filesystem::path stem = writer.write("1250      ", 3, drop);
  EXPECT_EQ(stem, dir.path() / "charts" / "1250-3");
  const std::string png = (dir.path() / "charts" / "1250-3.png").string();
  ASSERT_TRUE(std::filesystem::exists(png));

  cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const Pixels pixels(image);
  EXPECT_EQ(pixels.width(), 640);
  EXPECT_EQ(pixels.height(), 480);
  const Rgb blue = kVgaPalette[1];
  // Corners: outside the rounded frame, and the strip below the chart, in the background.
  for (const auto& [x, y] : {std::pair{0, 0}, {639, 0}, {0, 380}, {639, 380}, {0, 479}, {639, 479}}) {
    EXPECT_TRUE(Pixels::same(pixels.at(x, y), blue)) << x << "," << y;
  }
  EXPECT_EQ(pixels.count(blue, 381, 479), 640 * 99);
  // Inside: yellow octagons and grid, green calculated line, white frame and box.
  EXPECT_GT(pixels.count(kVgaPalette[14]), 9 * 40);
  EXPECT_GT(pixels.count(kVgaPalette[2]), 300);
  EXPECT_GT(pixels.count(kVgaPalette[15]), 2 * 478 + 2 * 380);
  // The measured point under the plate: a yellow octagon at the box's left edge, -812 down.
  const int x0 = static_cast<int>(1300 * 639.0 / 10240 + 0.5);
  const int y0 = static_cast<int>((6032 - 4784 * 88 / 900.0) * 380.0 / 7680 + 0.5);
  EXPECT_TRUE(Pixels::same(pixels.at(x0 + 1, y0 + 1), kVgaPalette[14]));
  cairo_surface_destroy(image);

  std::ifstream svg(dir.path() / "charts" / "1250-3.svg");
  ASSERT_TRUE(svg.good());
  std::stringstream text;
  text << svg.rdbuf();
  EXPECT_NE(text.str().find("<svg"), std::string::npos);
  EXPECT_NE(text.str().find("width=\"640"), std::string::npos);
  EXPECT_NE(text.str().find("rgb(100%,100%,33.333333%)"), std::string::npos) << "yellow markers";
  // The next drop gets its own files; a station name unsafe as a file name is made safe.
  writer.write("A/7", 4, drop);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "charts" / "A_7-4.png"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "charts" / "A_7-4.svg"));
}

TEST(ChartFiles, UnwritableDirectoryIsReported) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path());
  const std::filesystem::path not_a_directory = dir.path() / "file";
  std::ofstream(not_a_directory) << "x";
  BasinImageWriter writer(not_a_directory);
  const std::string caption = basin_caption("1", 1);
  const BasinDrop drop{caption, 9, kOffsets, kMeasured, kCalculated};
  EXPECT_THROW(writer.write("1", 1, drop), PlotFileError);

  BasinChart chart;
  ChartLibrary library;
  ASSERT_EQ(prepare_basin_chart(library, drop, kDefaultImageSize, chart), 0);
  EXPECT_THROW(write_basin_images(chart, not_a_directory / "sub" / "x"), PlotFileError);
}

// A small canvas for primitive checks: 64 x 16 pixels, black.
struct SmallImage {
  ImageSurface surface{PixelSize{64, 16}, 0};
  ImageCanvas canvas{surface.surface(), PixelSize{64, 16}};
};

TEST(ImageCanvasLines, DashMasksMapBitsToPixels) {
  struct Case {
    std::uint16_t mask;
    int lit_of_32;
  };
  for (const Case c :
       {Case{0xFFFF, 32}, Case{0xAAAA, 16}, Case{0xEEEE, 24}, Case{0xECEC, 20}, Case{0x0F0F, 16}}) {
    SmallImage image;
    image.canvas.set_colour(15);
    image.canvas.set_line_mask(c.mask);
    image.canvas.line({0, 4}, {31, 4});
    const Pixels pixels(image.surface.surface());
    int lit = 0;
    for (int x = 0; x < 32; ++x) lit += Pixels::same(pixels.at(x, 4), kVgaPalette[15]) ? 1 : 0;
    EXPECT_EQ(lit, c.lit_of_32) << std::hex << c.mask;
    // The first pixel follows the mask's most significant bit.
    EXPECT_EQ(Pixels::same(pixels.at(0, 4), kVgaPalette[15]), (c.mask & 0x8000) != 0) << std::hex << c.mask;
    EXPECT_EQ(pixels.count(kVgaPalette[15]), lit) << "nothing outside the line";
  }
}

TEST(ImageCanvasViewport, WindowCoordinatesSpanTheViewportInPaletteColours) {
  ImageSurface surface(PixelSize{100, 100}, 0);
  ImageCanvas canvas(surface.surface(), PixelSize{100, 100});
  canvas.set_viewport({10, 20, 59, 69});
  canvas.set_window_coordinates(1000, 1000);
  canvas.set_colour(12);
  canvas.rectangle(Fill::kFilled, {-500, -500}, {2000, 2000});  // clipped to the viewport
  canvas.set_colour(99);                                        // clamped to bright white
  canvas.line({1000, 0}, {1000, 1000});                         // the viewport's right column
  const Pixels pixels(surface.surface());
  EXPECT_EQ(pixels.count(kVgaPalette[12]), 49 * 50);
  EXPECT_EQ(pixels.count(kVgaPalette[15]), 50);
  EXPECT_TRUE(Pixels::same(pixels.at(59, 45), kVgaPalette[15]));
  EXPECT_TRUE(Pixels::same(pixels.at(9, 45), kVgaPalette[0]));
}

TEST(ImageCanvasFonts, RequestsMapToInstalledMetricCompatibleFonts) {
  EXPECT_EQ(font_family_for("Courier New")->family, "Liberation Mono");
  EXPECT_TRUE(font_family_for("Courier New")->monospaced);
  EXPECT_EQ(font_family_for("Times New Roman")->family, "Liberation Serif");
  EXPECT_EQ(font_family_for("MS Sans Serif")->family, "Liberation Sans");
  EXPECT_EQ(font_family_for("Small Fonts")->family, "Liberation Sans");
  EXPECT_FALSE(font_family_for("Wingdings"));

  SmallImage image;
  EXPECT_FALSE(image.canvas.select_font("t'Wingdings'h20w10"));
  EXPECT_FALSE(image.canvas.select_font("Courier New 20"));
  ASSERT_TRUE(image.canvas.select_font("t'Courier New'h20w10"));
  EXPECT_NEAR(image.canvas.character_height(), 20, 0.5);
  EXPECT_NEAR(image.canvas.text_width("Station: 1250"), 13 * 10, 1.0);
  ASSERT_TRUE(image.canvas.select_font("t'Small Fonts'h11w5"));
  EXPECT_NEAR(image.canvas.character_height(), 11, 0.5);
  EXPECT_NEAR(image.canvas.text_width("-900.00") / 7, 5, 1.5);
}

TEST(ImageCanvasText, DrawsHorizontalAndRotatedText) {
  ImageSurface surface(PixelSize{100, 100}, 0);
  ImageCanvas canvas(surface.surface(), PixelSize{100, 100});
  ASSERT_TRUE(canvas.select_font("t'Courier New'h20w10"));
  canvas.set_colour(15);
  canvas.text({5, 5}, "MMMM", false);
  canvas.text({5, 95}, "MMMM", true);
  const Pixels pixels(surface.surface());
  // Horizontal text lies in its box at the top; rotated text runs upward from the bottom left.
  int horizontal = 0, vertical = 0, elsewhere = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      if (pixels.at(x, y).red < 128) continue;
      if (y >= 4 && y <= 26 && x >= 4 && x <= 46) {
        ++horizontal;
      } else if (x >= 4 && x <= 26 && y >= 54 && y <= 96) {
        ++vertical;
      } else {
        ++elsewhere;
      }
    }
  }
  EXPECT_GT(horizontal, 40);
  EXPECT_GT(vertical, 40);
  EXPECT_EQ(elsewhere, 0);
}

}  // namespace
}  // namespace basinfit::plot
