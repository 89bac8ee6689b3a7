#pragma once
// The water ledger of a whole basin, read from the state that a running
// application holds (not from its rounded text files). Every term is a volume
// in m3 over the cells of the soil model's subbasins: what entered in a step,
// what left in it, or what a storage holds. After each step the ledger books
// the fluxes, the change of every storage and the residual
//
//     entered - left - (stored now - stored before),
//
// and over the run the same sums from the first state on. With the
// groundwater model on and one sub-step per step, the ledger watches the soil
// columns' iteration steps (through the soil model's step observer) to book
// what the groundwater model drew from columns that could not give it. A run may be cut
// into periods (years, say): each holds its own sums, from the storages held
// where the one before it ended.

#include <cmath>
#include <functional>
#include <string>
#include <vector>

class ModellApplication;

namespace testsupport {

class BasinLedger {
public:
    // Transfer: water moved within the basin, shown but not in the sums.
    enum class Kind { In, Out, Store, Transfer };
    struct Term {
        std::string Name;
        Kind kind = Kind::In;
        std::function<double()> Value;            // m3: of the last step, or held now
        double Start = 0, Previous = 0, Now = 0;  // storages
        double StepValue = 0, Total = 0;          // fluxes, and the change of a storage
        double Largest = 0;                       // largest |held - held at the start| of a storage
        double PeriodBase = 0, PeriodHeld = 0;    // Total and, for a storage, Now where the period began
    };
    // The sums of one finished period: per term (in the order of Terms())
    // what entered, left or was moved, or a storage's content at its start
    // and end.
    struct Period {
        std::string Label;
        int Steps = 0;
        std::vector<double> Totals, HeldAtStart, HeldAtEnd;
        double Residual = 0, Scale = 0, WorstStep = 0;
        double Relative() const { return Scale > 0 ? std::abs(Residual) / Scale : 0.0; }
    };

    // Builds the terms of every sub-model that is on; call after init().
    // With `subbasin` (a rank of the soil model's subbasins) the ledger
    // covers that subbasin's cells down to its runoff handed to the
    // routing, with the groundwater flows across its border when the
    // groundwater model runs one sub-step per step and the surface water
    // that surface routing moved across it; the river water its fields
    // take comes into it from outside.
    explicit BasinLedger(ModellApplication& app, int subbasin = 0);

    // Reads the storages before the first step.
    void Open();
    // Books one finished step (from the application's AfterTimeStep).
    void BookStep();
    // Ends the current period after the last booked step: its sums go to
    // Periods() under `label`, and the next period starts from what the
    // storages hold now.
    void ClosePeriod(const std::string& label);
    const std::vector<Period>& Periods() const { return PeriodList; }
    // The table of every term over period `k`.
    std::string PeriodTable(size_t k) const;
    // The same in mm over the ledger's area, with the storages at the
    // period's start and end and the residual as a share of the
    // precipitation.
    std::string PeriodTableInMm(size_t k, const std::string& title) const;
    // What term `name` booked over period `k` [m3] (0 for a term the
    // ledger does not have).
    double PeriodTotal(size_t k, const std::string& name) const;

    int Steps() const { return StepCount; }
    // Residual of the last step and of the run [m3].
    double StepResidual() const { return LastStepResidual; }
    double RunResidual() const;
    // What moved over the run (the larger of inflow and outflow plus the
    // largest storage change) [m3]: the scale of a relative residual.
    double RunScale() const;
    double StepScale() const { return LastStepScale; }
    // The largest relative step residual so far.
    double WorstRelativeStep() const { return WorstStep; }
    // The table of every term over the run (and for the last step).
    std::string Table() const;
    const std::vector<Term>& Terms() const { return TermList; }
    double TotalOf(const std::string& name) const;
    double LargestOf(const std::string& name) const;
    // Basin area [m2].
    double Area() const { return BasinArea; }

private:
    void Add(const std::string& name, Kind kind, std::function<double()> value);
    // Residual and scale of sums over terms: what a term's sum is.
    void Sums(const std::function<double(const Term&)>& total, double& residual, double& scale) const;
    std::vector<Term> TermList;
    std::vector<std::function<void()>> OpenActions;  // run by Open() before the first reading
    std::vector<Period> PeriodList;
    int StepCount = 0, PeriodStartStep = 0;
    double LastStepResidual = 0, LastStepScale = 0, WorstStep = 0, PeriodWorstStep = 0, BasinArea = 0;
};

}  // namespace testsupport
