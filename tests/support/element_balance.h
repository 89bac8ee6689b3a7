#pragma once
// Water balance per storage element and step, for models whose water sits in
// a list of elements rather than on the grid (channels, sub-channels, storage
// elements, reservoirs). A test names the elements once, snapshots their
// contents before a step, adds what entered and left each one, snapshots the
// contents after it and asks for the residual
//     in - out - (after - before)
// of every element, all in one unit (m3, or mm over one area):
//
//     ElementBalance b({"channel 1", "channel 2", "outlet"});
//     b.BeginStep();
//     b.Storage(0, volumeBefore);
//     ...run the step...
//     b.In(0, inflow);  b.Out(0, outflow);  b.In(2, outflow);
//     b.EndStorage(0, volumeAfter);
//     EXPECT_EQ(b.Check(1e-9), "");     // or the first failing element
//
// The report names the step, the element, its terms and the residual.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

class ElementBalance {
public:
    explicit ElementBalance(std::vector<std::string> names)
        : Names(std::move(names)), In_(Names.size()), Out_(Names.size()), Before(Names.size()),
          After(Names.size()) {}

    // Starts a new step: every term of every element is cleared.
    void BeginStep() {
        ++Step;
        for (auto* terms : {&In_, &Out_, &Before, &After}) std::fill(terms->begin(), terms->end(), 0.0);
    }

    void Storage(size_t e, double v) { Before.at(e) += v; }
    void EndStorage(size_t e, double v) { After.at(e) += v; }
    void In(size_t e, double v) { In_.at(e) += v; }
    void Out(size_t e, double v) { Out_.at(e) += v; }
    // Water handed from one element to another in the step.
    void Move(size_t from, size_t to, double v) {
        Out(from, v);
        In(to, v);
    }

    double Residual(size_t e) const { return In_.at(e) - Out_.at(e) - (After.at(e) - Before.at(e)); }

    // Empty when every element closes within `tolerance` (absolute, or
    // relative to the largest term when that is above 1); else a line naming
    // the first failing element.
    std::string Check(double tolerance) const {
        for (size_t e = 0; e < Names.size(); ++e) {
            const double residual = Residual(e);
            const double scale =
                std::max({1.0, std::fabs(In_[e]), std::fabs(Out_[e]), std::fabs(Before[e]), std::fabs(After[e])});
            if (std::isfinite(residual) && std::fabs(residual) <= tolerance * scale) continue;
            char line[512];
            std::snprintf(line, sizeof line,
                          "step %d, element %s: in %.17g, out %.17g, before %.17g, after %.17g, residual %.17g", Step,
                          Names[e].c_str(), In_[e], Out_[e], Before[e], After[e], residual);
            return line;
        }
        return "";
    }

    // The largest residual of the step over all elements (absolute).
    double LargestResidual() const {
        double m = 0;
        for (size_t e = 0; e < Names.size(); ++e) m = std::max(m, std::fabs(Residual(e)));
        return m;
    }

private:
    std::vector<std::string> Names;
    std::vector<double> In_, Out_, Before, After;
    int Step = 0;
};

}  // namespace testsupport
