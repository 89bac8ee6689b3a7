#pragma once
// The water ledger of a whole basin, read from the state that a running
// application holds (not from its rounded text files). Every term is a volume
// in m3 over the cells of the soil model's subbasins: what entered in a step,
// what left in it, or what a storage holds. After each step the ledger books
// the fluxes, the change of every storage and the residual
//
//     entered - left - (stored now - stored before),
//
// and over the run the same sums from the first state on.

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
    };

    // Builds the terms of every sub-model that is on; call after init().
    // With `subbasin` (a rank of the soil model's subbasins) the ledger
    // covers that subbasin's cells down to its runoff handed to the
    // routing; it closes only without flows across its border (no
    // groundwater model, no surface routing).
    explicit BasinLedger(ModellApplication& app, int subbasin = 0);

    // Reads the storages before the first step.
    void Open();
    // Books one finished step (from the application's AfterTimeStep).
    void BookStep();

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
    std::vector<Term> TermList;
    int StepCount = 0;
    double LastStepResidual = 0, LastStepScale = 0, WorstStep = 0, BasinArea = 0;
};

}  // namespace testsupport
