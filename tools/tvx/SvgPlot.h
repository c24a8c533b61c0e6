#pragma once

// Writes the clearance along a motion as a plain SVG line chart: clearance
// against the motion parameter, steps in contact shaded and marked on the
// zero line, the smallest clearance labelled.

#include <string>
#include <vector>

namespace tvxcli {

struct PlotSample {
    double x = 0.0;         // motion parameter (step or fraction)
    double clearance = 0.0; // ignored when contact is true
    bool contact = false;
};

struct PlotText {
    std::string title;
    std::string xLabel;
    std::string yLabel;
};

// The whole SVG document. Needs at least one sample.
std::string renderClearancePlot(std::vector<PlotSample> const& samples, PlotText const& text);

// Tick positions covering [lo, hi] at a 1, 2 or 5 times a power of ten
// spacing, about `target` of them.
std::vector<double> niceTicks(double lo, double hi, int target);

std::string xmlEscape(std::string const& s);

} // namespace tvxcli
