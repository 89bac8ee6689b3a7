#pragma once
// The load of one tracer in a whole run of the application, read from the
// state the sub-models hold: what entered with the precipitation, what the
// soil model handed on as subbasin runoff, and what every storage on the way
// holds (snow cover, interception, soil columns with their ponds, the
// flow-time queues and linear storages of the subbasins). Loads are amounts
// of concentration x mm averaged over the area of the soil model's
// subbasins. A tracer that evaporates is held as a concentration and is
// converted with the water held beside it; the others are held as amounts.

#include <string>

class ModellApplication;

namespace tracerledger {

// What one storage held, by kind.
struct Held {
    double Snow = 0, Interception = 0, Soil = 0, Queues = 0, LinearStorages = 0;
    double Total() const { return Snow + Interception + Soil + Queues + LinearStorages; }
};

class TracerLedger {
public:
    // Tracer `tracer` (1-based) of an initialised application; the load held
    // now is the start of the balance.
    TracerLedger(ModellApplication& app, int tracer);

    // Books the step just run; call from the application's after-step hook.
    void Step();

    Held HeldNow() const;
    // Load that entered with the precipitation of the step just run.
    double Input() const;
    // Load that the soil model handed on as subbasin runoff in that step.
    double Runoff() const;

    double In() const { return InputSum; }
    double Out() const { return RunoffSum; }
    // In - out - change of what is held, and that relative to the input.
    double Residual() const;
    double RelativeResidual() const;
    double WorstStepResidual() const { return WorstStep; }
    int Steps() const { return StepCount; }
    // Every term, one per line.
    std::string Table() const;

    double Area() const { return BasinArea; }
    const Held& Initial() const { return Start; }
    const Held& Final() const { return Last; }

private:
    bool Counts(int r, int c) const;
    template <typename F>
    double OverCells(F value) const;
    template <typename F>
    double OverSubbasins(F value) const;

    ModellApplication& App;
    int Tracer;
    bool Evaporating;
    double BasinArea = 0;
    Held Start, Last;
    double InputSum = 0, RunoffSum = 0, WorstStep = 0;
    int StepCount = 0;
};

}  // namespace tracerledger
