#pragma once
// Water balance of a sub-model, per cell and per step: what enters, what
// leaves and what stays. A test snapshots the storages before a step, adds the
// step's inputs and outputs, snapshots the storages after it, and asks for the
// residual
//     inputs - outputs - (storage after - storage before)
// of every cell. Grids are the model's 1-based matrices [1..rows][1..cols];
// cells whose value in the optional mask grid is nodata (-9999) are skipped.
//
//     WaterBalance wb(rows, cols);
//     wb.BeginStep();
//     wb.Storage(store);                 // storage before the step
//     model.RunTimeStep(...);
//     wb.In(precipitation);
//     wb.Out(throughfall);
//     wb.Out(evaporation);
//     wb.EndStorage(store);              // storage after the step
//     EXPECT_EQ(wb.Check(1e-12), "");    // or the first failing cell
//
// Several storages, inputs and outputs may be added; a scalar in or out (a
// whole-basin value in mm) is spread over nothing: use InCell/OutCell for one
// cell. The report names the step, cell, the terms and the residual.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

class WaterBalance {
public:
    WaterBalance(int rows, int cols, double nodata = -9999.0)
        : Rows(rows), Cols(cols), Nodata(nodata),
          In_(Size(), 0.0), Out_(Size(), 0.0), Before(Size(), 0.0), After(Size(), 0.0),
          Inputs(Size(), 0.0), Outputs(Size(), 0.0), Change(Size(), 0.0) {}

    // Cells outside the mask (nodata in it) take no part in the balance.
    void Mask(double** mask) {
        Active.assign(Size(), 1);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                if (mask[r][c] == Nodata) Active[Index(r, c)] = 0;
    }

    // Starts a new step: inputs, outputs and storages are cleared.
    void BeginStep() {
        ++Step;
        Clear(In_);
        Clear(Out_);
        Clear(Before);
        Clear(After);
    }

    void Storage(double** g, double factor = 1.0) { Add(Before, g, factor); }
    void EndStorage(double** g, double factor = 1.0) { Add(After, g, factor); }
    void In(double** g, double factor = 1.0) { Add(In_, g, factor); }
    void Out(double** g, double factor = 1.0) { Add(Out_, g, factor); }
    void StorageCell(int r, int c, double v) { Before[Index(r, c)] += v; }
    void EndStorageCell(int r, int c, double v) { After[Index(r, c)] += v; }
    void InCell(int r, int c, double v) { In_[Index(r, c)] += v; }
    void OutCell(int r, int c, double v) { Out_[Index(r, c)] += v; }

    double Residual(int r, int c) const {
        const size_t i = Index(r, c);
        return In_[i] - Out_[i] - (After[i] - Before[i]);
    }

    // Sum of the residuals of the active cells in this step: water that moves
    // between cells cancels out.
    double BasinResidual() const {
        double sum = 0;
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                if (Active.empty() || Active[Index(r, c)]) sum += Residual(r, c);
        return sum;
    }

    // Empty when every active cell closes within `tolerance` [mm] (absolute,
    // or relative to the largest term when that is above 1); else a line that
    // names the first failing cell. The step's terms are also added to the
    // run totals.
    std::string Check(double tolerance) {
        std::string report;
        for (int r = 1; r <= Rows && report.empty(); ++r)
            for (int c = 1; c <= Cols; ++c) {
                const size_t i = Index(r, c);
                if (!Active.empty() && !Active[i]) continue;
                const double res = Residual(r, c);
                Largest = std::fmax(Largest, std::fabs(res));
                const double scale = std::fmax(1.0, std::fmax(std::fabs(In_[i]), std::fmax(std::fabs(Out_[i]),
                                     std::fmax(std::fabs(Before[i]), std::fabs(After[i])))));
                if (!(std::fabs(res) <= tolerance * scale)) {
                    char line[320];
                    std::snprintf(line, sizeof line,
                                  "step %d, cell (%d,%d): in %.17g, out %.17g, storage %.17g -> %.17g, residual %.3g",
                                  Step, r, c, In_[i], Out_[i], Before[i], After[i], res);
                    report = line;
                    break;
                }
            }
        for (size_t i = 0; i < Size(); ++i) {
            Inputs[i] += In_[i];
            Outputs[i] += Out_[i];
            Change[i] += After[i] - Before[i];
        }
        return report;
    }

    // Sums over the steps checked so far, per cell.
    double TotalIn(int r, int c) const { return Inputs[Index(r, c)]; }
    double TotalOut(int r, int c) const { return Outputs[Index(r, c)]; }
    double TotalChange(int r, int c) const { return Change[Index(r, c)]; }
    int Steps() const { return Step; }
    // The largest absolute residual [mm] of the cells checked so far.
    double LargestResidual() const { return Largest; }

private:
    size_t Size() const { return static_cast<size_t>(Rows + 1) * static_cast<size_t>(Cols + 1); }
    size_t Index(int r, int c) const { return static_cast<size_t>(r) * static_cast<size_t>(Cols + 1) + static_cast<size_t>(c); }
    static void Clear(std::vector<double>& v) { std::fill(v.begin(), v.end(), 0.0); }
    void Add(std::vector<double>& v, double** g, double factor) {
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                if (g[r][c] != Nodata) v[Index(r, c)] += factor * g[r][c];
    }

    int Rows, Cols;
    double Nodata;
    int Step = 0;
    double Largest = 0;
    std::vector<double> In_, Out_, Before, After;
    std::vector<double> Inputs, Outputs, Change;
    std::vector<char> Active;
};

}  // namespace testsupport
