// Draws the replay's panels as plain SVG text: a step line of occupancy, a
// dashed busy level, and marks below the line for the module's acts.
#include "sim/replay_svg.h"

#include <algorithm>
#include <cstdio>

#include "sim/trace.h"

namespace sim {
namespace {

using simhost::Clock;

constexpr double kWidth = 760, kPlot = 150, kLeft = 60, kPanel = 230;

std::string xml(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '"')
      out += "&quot;";
    else if (c < 0x20 || c >= 0x7f)
      out += '?';  // a label, not data: keep the file valid
    else
      out += static_cast<char>(c);
  }
  return out;
}

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

struct Frame {
  Clock start, end;
  double top, ceiling;  // the panel's top, the channel count at the plot's top
  double x(Clock t) const {
    return kLeft + kWidth * static_cast<double>(t - start) /
                       static_cast<double>(std::max<Clock>(1, end - start));
  }
  double y(double n) const { return top + 30 + kPlot * (1 - n / ceiling); }
};

std::string panel(const ReplayOutcome& r, const Frame& f) {
  std::string s = "<g>\n<text x=\"" + num(kLeft) + "\" y=\"" + num(f.top + 18) +
                  "\" font-size=\"14\" font-weight=\"bold\">" + xml(r.label) + ": " +
                  counted(r.warnings, "warning", "warnings") + ", " +
                  counted(r.bumps, "bump", "bumps") + ", " + std::to_string(r.busy) +
                  " turned away busy</text>\n";
  s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(f.y(f.ceiling)) + "\" width=\"" + num(kWidth) +
       "\" height=\"" + num(kPlot) + "\" fill=\"#f8f8f8\" stroke=\"#999\"/>\n";
  s += "<line x1=\"" + num(kLeft) + "\" x2=\"" + num(kLeft + kWidth) + "\" y1=\"" +
       num(f.y(r.threshold)) + "\" y2=\"" + num(f.y(r.threshold)) +
       "\" stroke=\"#c00\" stroke-dasharray=\"6 4\"/>\n";
  s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(f.y(r.threshold) + 4) +
       "\" font-size=\"10\" text-anchor=\"end\" fill=\"#c00\">busy " + std::to_string(r.threshold) +
       "</text>\n";
  s += "<text x=\"" + num(kLeft - 6) + "\" y=\"" + num(f.y(f.ceiling) + 8) +
       "\" font-size=\"10\" text-anchor=\"end\">" + std::to_string(static_cast<int>(f.ceiling)) +
       "</text>\n";
  std::string path;
  double lastY = f.y(0);
  for (const Occupancy& o : r.occupancy) {
    const double x = f.x(o.at);
    path += (path.empty() ? "M" + num(x) + " " + num(f.y(o.busy))
                          : " H" + num(x) + " V" + num(f.y(o.busy)));
    lastY = f.y(o.busy);
  }
  (void)lastY;
  if (!path.empty())
    s += "<path d=\"" + path + " H" + num(kLeft + kWidth) +
         "\" fill=\"none\" stroke=\"#036\" stroke-width=\"1.5\"/>\n";
  const double base = f.y(0) + 12;
  for (const Mark& m : r.marks) {
    const double x = f.x(m.at);
    if (m.kind == Mark::Kind::Warning)
      s += "<path d=\"M" + num(x) + " " + num(base - 5) +
           " l4 8 h-8 z\" fill=\"#e90\"><title>warning " + simhost::formatClock(m.at) +
           "</title></path>\n";
    else if (m.kind == Mark::Kind::Bump)
      s += "<circle cx=\"" + num(x) + "\" cy=\"" + num(base + 12) +
           "\" r=\"4\" fill=\"#c00\"><title>bump " + simhost::formatClock(m.at) +
           "</title></circle>\n";
    else
      s += "<path d=\"M" + num(x - 4) + " " + num(base + 20) +
           " l8 8 m0 -8 l-8 8\" stroke=\"#06c\" stroke-width=\"1.5\"><title>busy " +
           simhost::formatClock(m.at) + "</title></path>\n";
  }
  return s + "</g>\n";
}

}  // namespace

std::string replaySvg(const std::vector<ReplayOutcome>& runs, Clock start, Clock end) {
  double ceiling = 1;
  for (const ReplayOutcome& r : runs) {
    ceiling = std::max(ceiling, static_cast<double>(r.rangeSize));
    for (const Occupancy& o : r.occupancy) ceiling = std::max(ceiling, static_cast<double>(o.busy));
  }
  const double height = kPanel * static_cast<double>(runs.size()) + 40;
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
      num(kLeft + kWidth + 20) + "\" height=\"" + num(height) +
      "\" font-family=\"sans-serif\">\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  for (std::size_t i = 0; i < runs.size(); ++i)
    s += panel(runs[i], Frame{start, end, kPanel * static_cast<double>(i), ceiling});
  const double foot = height - 14;
  s += "<text x=\"" + num(kLeft) + "\" y=\"" + num(foot) + "\" font-size=\"11\">" +
       simhost::formatClock(start) + "</text>\n<text x=\"" + num(kLeft + kWidth) + "\" y=\"" +
       num(foot) + "\" font-size=\"11\" text-anchor=\"end\">" + simhost::formatClock(end) +
       "</text>\n<text x=\"" + num(kLeft + kWidth / 2) + "\" y=\"" + num(foot) +
       "\" font-size=\"11\" text-anchor=\"middle\">occupied channels of the watched range; "
       "\xe2\x96\xb2 warning, \xe2\x97\x8f bump, \xc3\x97 busy refusal</text>\n</svg>\n";
  return s;
}

}  // namespace sim
