// Draws the main window's banner, the picture that fills its picture box: a
// blue panel with the product's name, what it does, and a row of captcha-like
// tiles. Run by the build (the PNG is compiled into the program's resources),
// so the picture is ours and needs no file beside the program.
//
//   rez_draw_banner OUTPUT.png
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdio>

namespace {

// The picture box's size in the window's layout.
constexpr int kBannerWidth = 536;
constexpr int kBannerHeight = 224;

struct Colour {
  double r, g, b;
};

constexpr Colour kDeepBlue{0.04, 0.20, 0.50};
constexpr Colour kBrightBlue{0.12, 0.44, 0.85};
constexpr Colour kPaleBlue{0.80, 0.89, 1.00};

void setColour(cairo_t* cr, Colour c, double alpha = 1.0) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void roundedRectangle(cairo_t* cr, double x, double y, double w, double h, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + w - radius, y + h - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + h - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// Writes `utf8` with its top-left corner at x,y in the given font.
void drawText(cairo_t* cr, const char* utf8, const char* font, double x, double y) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* description = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, description);
  pango_layout_set_text(layout, utf8, -1);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(description);
  g_object_unref(layout);
}

void drawBackground(cairo_t* cr) {
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, kBannerWidth, kBannerHeight);
  cairo_pattern_add_color_stop_rgb(sky, 0, kDeepBlue.r, kDeepBlue.g, kDeepBlue.b);
  cairo_pattern_add_color_stop_rgb(sky, 1, kBrightBlue.r, kBrightBlue.g, kBrightBlue.b);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);

  // Two soft diagonal bands and a fine grid give the panel some depth.
  for (int band = 0; band < 2; ++band) {
    double left = 250 + band * 120;
    cairo_move_to(cr, left, 0);
    cairo_line_to(cr, left + 90, 0);
    cairo_line_to(cr, left - 40, kBannerHeight);
    cairo_line_to(cr, left - 130, kBannerHeight);
    cairo_close_path(cr);
    setColour(cr, kPaleBlue, 0.07);
    cairo_fill(cr);
  }
  setColour(cr, kPaleBlue, 0.06);
  cairo_set_line_width(cr, 1);
  for (int x = 0; x < kBannerWidth; x += 16) {
    cairo_move_to(cr, x + 0.5, 0);
    cairo_line_to(cr, x + 0.5, kBannerHeight);
  }
  for (int y = 0; y < kBannerHeight; y += 16) {
    cairo_move_to(cr, 0, y + 0.5);
    cairo_line_to(cr, kBannerWidth, y + 0.5);
  }
  cairo_stroke(cr);
}

// A row of tiles, each holding one tilted character with a noise stroke, as a
// captcha shows them; an arrow leads from them to the text they are read as.
void drawCaptchaRow(cairo_t* cr) {
  const char* characters[] = {"A", "7", "K", "3"};
  const double angles[] = {-0.18, 0.12, -0.08, 0.20};
  constexpr double kTile = 34, kGap = 8, kLeft = 28, kTop = 150;
  for (int i = 0; i < 4; ++i) {
    double x = kLeft + i * (kTile + kGap);
    roundedRectangle(cr, x, kTop, kTile, kTile, 5);
    setColour(cr, kPaleBlue, 0.95);
    cairo_fill(cr);
    cairo_save(cr);
    cairo_translate(cr, x + kTile / 2, kTop + kTile / 2);
    cairo_rotate(cr, angles[i]);
    setColour(cr, kDeepBlue);
    drawText(cr, characters[i], "DejaVu Serif Bold Italic 17", -8, -14);
    cairo_restore(cr);
  }
  setColour(cr, kBrightBlue, 0.8);
  cairo_set_line_width(cr, 1.5);
  cairo_move_to(cr, kLeft - 4, kTop + 24);
  cairo_curve_to(cr, kLeft + 40, kTop + 2, kLeft + 100, kTop + 36, kLeft + 4 * (kTile + kGap),
                 kTop + 10);
  cairo_stroke(cr);

  // The arrow and the answer the service gives for them.
  double arrowLeft = kLeft + 4 * (kTile + kGap) + 6;
  double middle = kTop + kTile / 2;
  setColour(cr, kPaleBlue);
  cairo_set_line_width(cr, 3);
  cairo_move_to(cr, arrowLeft, middle);
  cairo_line_to(cr, arrowLeft + 34, middle);
  cairo_stroke(cr);
  cairo_move_to(cr, arrowLeft + 44, middle);
  cairo_line_to(cr, arrowLeft + 32, middle - 7);
  cairo_line_to(cr, arrowLeft + 32, middle + 7);
  cairo_close_path(cr);
  cairo_fill(cr);
  setColour(cr, {1, 1, 1});
  drawText(cr, "code:A7K3", "DejaVu Sans Mono Bold 15", arrowLeft + 54, middle - 11);
}

void drawTitle(cairo_t* cr) {
  // A faint shadow under the name, then the name itself.
  setColour(cr, {0, 0, 0}, 0.25);
  drawText(cr, "REZ_UDO", "DejaVu Sans Bold 38", 30, 22);
  setColour(cr, {1, 1, 1});
  drawText(cr, "REZ_UDO", "DejaVu Sans Bold 38", 28, 20);
  setColour(cr, kPaleBlue);
  drawText(cr, "验证码识别服务端  V1.0", "WenQuanYi Micro Hei 17", 30, 82);
  setColour(cr, kPaleBlue, 0.8);
  drawText(cr, "HTTP API  ·  GET /vexo/?code=…&length=…", "DejaVu Sans 10", 31, 114);

  // A thin rule under the texts.
  setColour(cr, kPaleBlue, 0.5);
  cairo_set_line_width(cr, 1);
  cairo_move_to(cr, 30, 138.5);
  cairo_line_to(cr, 506, 138.5);
  cairo_stroke(cr);
}

// A stylised eye reading a frame of characters, at the right.
void drawEmblem(cairo_t* cr) {
  constexpr double kCentreX = 448, kCentreY = 70;
  setColour(cr, kPaleBlue, 0.9);
  cairo_set_line_width(cr, 4);
  cairo_move_to(cr, kCentreX - 52, kCentreY);
  cairo_curve_to(cr, kCentreX - 20, kCentreY - 38, kCentreX + 20, kCentreY - 38, kCentreX + 52,
                 kCentreY);
  cairo_curve_to(cr, kCentreX + 20, kCentreY + 38, kCentreX - 20, kCentreY + 38, kCentreX - 52,
                 kCentreY);
  cairo_stroke(cr);
  cairo_arc(cr, kCentreX, kCentreY, 17, 0, 2 * M_PI);
  setColour(cr, {1, 1, 1});
  cairo_fill(cr);
  cairo_arc(cr, kCentreX, kCentreY, 8, 0, 2 * M_PI);
  setColour(cr, kDeepBlue);
  cairo_fill(cr);
  // Corner marks of a scan frame around the eye.
  setColour(cr, kPaleBlue, 0.7);
  cairo_set_line_width(cr, 2.5);
  const double half = 66, mark = 14;
  for (int sx = -1; sx <= 1; sx += 2) {
    for (int sy = -1; sy <= 1; sy += 2) {
      double x = kCentreX + sx * half, y = kCentreY + sy * (half - 18);
      cairo_move_to(cr, x - sx * mark, y);
      cairo_line_to(cr, x, y);
      cairo_line_to(cr, x, y - sy * mark);
    }
  }
  cairo_stroke(cr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, kBannerWidth, kBannerHeight);
  cairo_t* cr = cairo_create(surface);
  drawBackground(cr);
  drawTitle(cr);
  drawEmblem(cr);
  drawCaptchaRow(cr);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, argv[1]);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[1],
                 cairo_status_to_string(status));
    return 1;
  }
  return 0;
}
