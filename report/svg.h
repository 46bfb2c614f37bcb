// A small SVG writer and the axis, tick and colour rules every plot of the
// report shares. The page carries no script and no external file: each
// picture is inline SVG text built here.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veska {

// Text for XML: & < > " escaped.
std::string escape_xml(std::string_view text);
// A number for people: %.*g with `digits` significant digits.
std::string number_text(double x, int digits = 6);

// About `target` round tick values (1, 2 or 5 times a power of ten) covering
// [lo, hi]; the first is at or below lo, the last at or above hi.
std::vector<double> nice_ticks(double lo, double hi, int target = 5);

// Colours that stay apart for colour-blind readers: the Okabe-Ito set for
// clusters (repeating after 8, when marker shapes tell them apart), and the
// viridis ramp for values in [0, 1].
const char* cluster_colour(int k);
std::string ramp_colour(double t);
// Black or white, whichever reads better on ramp_colour(t).
const char* ramp_text_colour(double t);

class Svg {
 public:
  Svg(double width, double height, std::string_view label);
  void rect(double x, double y, double w, double h, std::string_view fill, std::string_view tip = "");
  void line(double x1, double y1, double x2, double y2, std::string_view stroke, double width = 1.0,
            std::string_view dash = "");
  void polyline(const std::vector<std::pair<double, double>>& points, std::string_view stroke,
                double width = 1.5);
  // Marker shape (k / 8) % 4: circle, square, triangle, diamond.
  void marker(double x, double y, int k, double size, std::string_view tip = "");
  void text(double x, double y, std::string_view text, std::string_view anchor = "start",
            double size = 12, std::string_view extra = "");
  std::string str() const { return body_ + "</svg>\n"; }

 private:
  std::string body_;
};

// The frame of one chart: data ranges mapped onto a plot rectangle, with
// ticked axes and their labels.
struct Frame {
  double left, top, width, height;
  double x_lo, x_hi, y_lo, y_hi;

  double px(double x) const { return left + (x - x_lo) / (x_hi - x_lo) * width; }
  double py(double y) const { return top + height - (y - y_lo) / (y_hi - y_lo) * height; }
};

// A frame over [x_lo, x_hi] x [y_lo, y_hi] widened to nice ticks (the x axis
// to whole numbers when `integer_x`), axes and grid drawn into svg.
Frame draw_frame(Svg& svg, double left, double top, double width, double height, double x_lo,
                 double x_hi, double y_lo, double y_hi, std::string_view x_label,
                 std::string_view y_label, bool integer_x);

}  // namespace veska
