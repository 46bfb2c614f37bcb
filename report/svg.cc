#include "report/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace veska {

std::string escape_xml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string number_text(double x, int digits) {
  char text[64];
  snprintf(text, sizeof text, "%.*g", digits, x == 0.0 ? 0.0 : x);  // no "-0"
  return text;
}

std::vector<double> nice_ticks(double lo, double hi, int target) {
  // A range below the resolution of its values (a converged objective) is
  // drawn as flat rather than as ticks that rounding cannot tell apart.
  if (!(hi - lo > 1e-9 * std::max(std::fabs(lo), std::fabs(hi)))) {
    double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
    lo -= pad;
    hi += pad;
  }
  double raw = (hi - lo) / std::max(1, target);
  double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  double first = std::floor(lo / step) * step;
  std::vector<double> ticks;
  for (int i = 0; i < 1000; ++i) {
    double t = first + i * step;
    // Snap rounding noise so labels read 0.3, not 0.30000000000000004.
    t = std::round(t / step) * step;
    ticks.push_back(t);
    if (t >= hi - step * 1e-9) break;
  }
  return ticks;
}

const char* cluster_colour(int k) {
  static const char* const kColours[] = {"#0072B2", "#E69F00", "#009E73", "#D55E00",
                                         "#56B4E9", "#CC79A7", "#F0E442", "#000000"};
  return kColours[((k % 8) + 8) % 8];
}

std::string ramp_colour(double t) {
  static const double kStops[5][3] = {
      {68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
  if (!(t >= 0.0)) t = 0.0;
  if (t > 1.0) t = 1.0;
  double pos = t * 4.0;
  int i = std::min(3, static_cast<int>(pos));
  double f = pos - i;
  char text[8];
  int rgb[3];
  for (int c = 0; c < 3; ++c) rgb[c] = static_cast<int>(std::lround(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c])));
  snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

const char* ramp_text_colour(double t) { return t > 0.55 ? "#000000" : "#ffffff"; }

namespace {

std::string num(double x) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", x);
  return text;
}

std::string tip_element(std::string_view tip) {
  return tip.empty() ? "" : "<title>" + escape_xml(tip) + "</title>";
}

}  // namespace

Svg::Svg(double width, double height, std::string_view label) {
  body_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(height) +
          "\" viewBox=\"0 0 " + num(width) + " " + num(height) + "\" role=\"img\" aria-label=\"" +
          escape_xml(label) + "\" font-family=\"sans-serif\">\n";
}

void Svg::rect(double x, double y, double w, double h, std::string_view fill, std::string_view tip) {
  body_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" + num(h) +
           "\" fill=\"" + std::string(fill) + "\">" + tip_element(tip) + "</rect>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, std::string_view stroke, double width,
               std::string_view dash) {
  body_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" + num(y2) +
           "\" stroke=\"" + std::string(stroke) + "\" stroke-width=\"" + num(width) + "\"";
  if (!dash.empty()) body_ += " stroke-dasharray=\"" + std::string(dash) + "\"";
  body_ += "/>\n";
}

void Svg::polyline(const std::vector<std::pair<double, double>>& points, std::string_view stroke,
                   double width) {
  body_ += "<polyline fill=\"none\" stroke=\"" + std::string(stroke) + "\" stroke-width=\"" + num(width) +
           "\" points=\"";
  for (size_t i = 0; i < points.size(); ++i) {
    if (i > 0) body_ += ' ';
    body_ += num(points[i].first) + "," + num(points[i].second);
  }
  body_ += "\"/>\n";
}

void Svg::marker(double x, double y, int k, double size, std::string_view tip) {
  std::string fill = cluster_colour(k);
  double r = size / 2;
  switch ((k / 8) % 4) {
    case 0:
      body_ += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"" + num(r) + "\" fill=\"" + fill + "\">";
      break;
    case 1:
      body_ += "<rect x=\"" + num(x - r) + "\" y=\"" + num(y - r) + "\" width=\"" + num(size) + "\" height=\"" +
               num(size) + "\" fill=\"" + fill + "\">";
      break;
    case 2:
      body_ += "<polygon points=\"" + num(x) + "," + num(y - r) + " " + num(x + r) + "," + num(y + r) + " " +
               num(x - r) + "," + num(y + r) + "\" fill=\"" + fill + "\">";
      break;
    default:
      body_ += "<polygon points=\"" + num(x) + "," + num(y - r) + " " + num(x + r) + "," + num(y) + " " + num(x) +
               "," + num(y + r) + " " + num(x - r) + "," + num(y) + "\" fill=\"" + fill + "\">";
  }
  body_ += tip_element(tip);
  body_ += (k / 8) % 4 == 0 ? "</circle>\n" : (k / 8) % 4 == 1 ? "</rect>\n" : "</polygon>\n";
}

void Svg::text(double x, double y, std::string_view text, std::string_view anchor, double size,
               std::string_view extra) {
  body_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" font-size=\"" + num(size) + "\" text-anchor=\"" +
           std::string(anchor) + "\"";
  if (!extra.empty()) body_ += " " + std::string(extra);
  body_ += ">" + escape_xml(text) + "</text>\n";
}

namespace {

// Significant digits that tell neighbouring ticks apart: a converged
// objective's restarts can differ only in the fourth decimal of -2388.7.
int tick_digits(const std::vector<double>& ticks) {
  if (ticks.size() < 2) return 7;
  double top = 0.0;
  for (double t : ticks) top = std::max(top, std::fabs(t));
  const double step = std::fabs(ticks[1] - ticks[0]);
  if (!(step > 0.0) || !(top > 0.0)) return 7;
  const int needed = static_cast<int>(std::floor(std::log10(top)) - std::floor(std::log10(step))) + 1;
  return std::clamp(needed, 7, 15);
}

}  // namespace

Frame draw_frame(Svg& svg, double left, double top, double width, double height, double x_lo,
                 double x_hi, double y_lo, double y_hi, std::string_view x_label,
                 std::string_view y_label, bool integer_x) {
  std::vector<double> xt;
  if (integer_x) {
    double lo = std::floor(x_lo), hi = std::ceil(x_hi);
    if (hi <= lo) {
      lo -= 1;
      hi += 1;
    }
    double step = std::max(1.0, std::ceil((hi - lo) / 8));
    for (double t = lo; t <= hi + 1e-9; t += step) xt.push_back(t);
    if (xt.back() < hi) xt.push_back(xt.back() + step);
    // Half a unit of room so the end points are not on the frame.
    xt.insert(xt.begin(), lo - 0.5);
    xt.push_back(xt.back() + 0.5);
  } else {
    xt = nice_ticks(x_lo, x_hi);
  }
  std::vector<double> yt = nice_ticks(y_lo, y_hi);
  Frame f{left, top, width, height, xt.front(), xt.back(), yt.front(), yt.back()};
  svg.rect(left, top, width, height, "#ffffff");
  const int y_digits = tick_digits(yt);
  for (size_t i = 0; i < yt.size(); ++i) {
    double y = f.py(yt[i]);
    svg.line(left, y, left + width, y, "#e4e4e4");
    svg.text(left - 6, y + 4, number_text(yt[i], y_digits), "end", 11);
  }
  for (size_t i = 0; i < xt.size(); ++i) {
    if (integer_x && (i == 0 || i + 1 == xt.size())) continue;
    double x = f.px(xt[i]);
    svg.line(x, top + height, x, top + height + 4, "#333333");
    svg.text(x, top + height + 17, number_text(xt[i], tick_digits(xt)), "middle", 11);
  }
  svg.line(left, top + height, left + width, top + height, "#333333");
  svg.line(left, top, left, top + height, "#333333");
  svg.text(left + width / 2, top + height + 34, x_label, "middle", 12);
  // The axis title left of tick labels of up to 9 characters.
  double title_x = left - 70;
  svg.text(title_x, top + height / 2, y_label, "middle", 12,
           "transform=\"rotate(-90 " + number_text(title_x, 8) + " " + number_text(top + height / 2, 8) + ")\"");
  return f;
}

}  // namespace veska
