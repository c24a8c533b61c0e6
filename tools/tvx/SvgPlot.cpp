#include "SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace tvxcli {

namespace {

constexpr double kWidth = 860.0;
constexpr double kHeight = 480.0;
constexpr double kLeft = 90.0;
constexpr double kRight = 30.0;
constexpr double kTop = 56.0;
constexpr double kBottom = 64.0;

std::string num(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

std::string label(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return buf;
}

} // namespace

std::string xmlEscape(std::string const& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<double> niceTicks(double lo, double hi, int target)
{
    std::vector<double> ticks;
    if (!(hi > lo) || target < 1)
        return ticks;
    double const raw = (hi - lo) / target;
    double const mag = std::pow(10.0, std::floor(std::log10(raw)));
    double const frac = raw / mag;
    double const step = (frac < 1.5 ? 1.0 : frac < 3.5 ? 2.0 : frac < 7.5 ? 5.0 : 10.0) * mag;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1.0)
        ticks.push_back(k * step);
    return ticks;
}

std::string renderClearancePlot(std::vector<PlotSample> const& samples, PlotText const& text)
{
    if (samples.empty())
        throw std::invalid_argument("a plot needs at least one sample");

    double x0 = samples.front().x, x1 = samples.front().x;
    double yMax = 0.0;
    double yMin = 0.0;
    for (PlotSample const& s : samples) {
        x0 = std::min(x0, s.x);
        x1 = std::max(x1, s.x);
        if (!s.contact) {
            yMax = std::max(yMax, s.clearance);
            yMin = std::min(yMin, s.clearance);
        }
    }
    if (x1 <= x0)
        x1 = x0 + 1.0;
    if (yMax <= yMin)
        yMax = yMin + 1.0;
    yMax += 0.06 * (yMax - yMin);

    double const plotW = kWidth - kLeft - kRight;
    double const plotH = kHeight - kTop - kBottom;
    auto px = [&](double x) { return kLeft + (x - x0) / (x1 - x0) * plotW; };
    auto py = [&](double y) { return kTop + (yMax - y) / (yMax - yMin) * plotH; };

    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" font-family=\"sans-serif\" font-size=\"13\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << num(kWidth / 2) << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">"
      << xmlEscape(text.title) << "</text>\n";

    // Grid and tick labels.
    o << "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    std::vector<double> const xt = niceTicks(x0, x1, 8);
    std::vector<double> const yt = niceTicks(yMin, yMax, 6);
    for (double x : xt)
        o << "<line x1=\"" << num(px(x)) << "\" y1=\"" << num(kTop) << "\" x2=\"" << num(px(x)) << "\" y2=\""
          << num(kTop + plotH) << "\"/>\n";
    for (double y : yt)
        o << "<line x1=\"" << num(kLeft) << "\" y1=\"" << num(py(y)) << "\" x2=\"" << num(kLeft + plotW)
          << "\" y2=\"" << num(py(y)) << "\"/>\n";
    o << "</g>\n<g fill=\"#333333\">\n";
    for (double x : xt)
        o << "<text x=\"" << num(px(x)) << "\" y=\"" << num(kTop + plotH + 18) << "\" text-anchor=\"middle\">"
          << label(x) << "</text>\n";
    for (double y : yt)
        o << "<text x=\"" << num(kLeft - 8) << "\" y=\"" << num(py(y) + 4) << "\" text-anchor=\"end\">" << label(y)
          << "</text>\n";
    o << "</g>\n";

    // Steps in contact: a shaded band around each, so runs of contact read as
    // one region, and a mark on the zero line.
    double const halfStep = samples.size() > 1 ? 0.5 * plotW / static_cast<double>(samples.size() - 1) : 4.0;
    o << "<g fill=\"#e53935\" fill-opacity=\"0.15\">\n";
    for (PlotSample const& s : samples)
        if (s.contact) {
            double const l = std::max(kLeft, px(s.x) - halfStep);
            double const r = std::min(kLeft + plotW, px(s.x) + halfStep);
            o << "<rect x=\"" << num(l) << "\" y=\"" << num(kTop) << "\" width=\"" << num(r - l) << "\" height=\""
              << num(plotH) << "\"/>\n";
        }
    o << "</g>\n";

    // Axes, with the zero line drawn darker.
    o << "<rect x=\"" << num(kLeft) << "\" y=\"" << num(kTop) << "\" width=\"" << num(plotW) << "\" height=\""
      << num(plotH) << "\" fill=\"none\" stroke=\"#333333\"/>\n";
    o << "<line x1=\"" << num(kLeft) << "\" y1=\"" << num(py(0.0)) << "\" x2=\"" << num(kLeft + plotW) << "\" y2=\""
      << num(py(0.0)) << "\" stroke=\"#555555\" stroke-width=\"1.2\"/>\n";

    // The clearance curve, broken where the bodies are in contact (a contact
    // step has no clearance to draw).
    o << "<g fill=\"none\" stroke=\"#1e63c4\" stroke-width=\"2\" stroke-linejoin=\"round\">\n";
    std::string run;
    int runPoints = 0;
    auto flush = [&]() {
        if (runPoints > 1)
            o << "<polyline points=\"" << run << "\"/>\n";
        run.clear();
        runPoints = 0;
    };
    for (PlotSample const& s : samples) {
        if (s.contact) {
            flush();
            continue;
        }
        run += num(px(s.x)) + "," + num(py(s.clearance)) + " ";
        ++runPoints;
    }
    flush();
    o << "</g>\n";

    // Sample dots when they are few enough to tell apart.
    if (samples.size() <= 200) {
        o << "<g fill=\"#1e63c4\">\n";
        for (PlotSample const& s : samples)
            if (!s.contact)
                o << "<circle cx=\"" << num(px(s.x)) << "\" cy=\"" << num(py(s.clearance)) << "\" r=\"2.5\"/>\n";
        o << "</g>\n";
    }
    o << "<g fill=\"#e53935\">\n";
    for (PlotSample const& s : samples)
        if (s.contact)
            o << "<circle cx=\"" << num(px(s.x)) << "\" cy=\"" << num(py(0.0)) << "\" r=\"4\"/>\n";
    o << "</g>\n";

    // The smallest clearance outside contact.
    PlotSample const* best = nullptr;
    for (PlotSample const& s : samples)
        if (!s.contact && (best == nullptr || s.clearance < best->clearance))
            best = &s;
    if (best != nullptr) {
        double const bx = px(best->x), by = py(best->clearance);
        bool const leftSide = bx > kLeft + 0.7 * plotW;
        o << "<circle cx=\"" << num(bx) << "\" cy=\"" << num(by) << "\" r=\"5\" fill=\"none\" stroke=\"#111111\"/>\n"
          << "<text x=\"" << num(leftSide ? bx - 9 : bx + 9) << "\" y=\"" << num(std::max(kTop + 14, by - 9))
          << "\" text-anchor=\"" << (leftSide ? "end" : "start") << "\">min " << label(best->clearance)
          << "</text>\n";
    }

    // Axis titles and legend.
    o << "<text x=\"" << num(kLeft + plotW / 2) << "\" y=\"" << num(kHeight - 16) << "\" text-anchor=\"middle\">"
      << xmlEscape(text.xLabel) << "</text>\n"
      << "<text transform=\"translate(22," << num(kTop + plotH / 2) << ") rotate(-90)\" text-anchor=\"middle\">"
      << xmlEscape(text.yLabel) << "</text>\n";
    double const lx = kLeft + plotW - 220, ly = 44;
    o << "<line x1=\"" << num(lx) << "\" y1=\"" << num(ly) << "\" x2=\"" << num(lx + 24) << "\" y2=\"" << num(ly)
      << "\" stroke=\"#1e63c4\" stroke-width=\"2\"/>\n"
      << "<text x=\"" << num(lx + 30) << "\" y=\"" << num(ly + 4) << "\">clearance</text>\n"
      << "<circle cx=\"" << num(lx + 120) << "\" cy=\"" << num(ly) << "\" r=\"4\" fill=\"#e53935\"/>\n"
      << "<text x=\"" << num(lx + 130) << "\" y=\"" << num(ly + 4) << "\">contact</text>\n";
    o << "</svg>\n";
    return o.str();
}

} // namespace tvxcli
