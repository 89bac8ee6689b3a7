#include "support/tracer_ledger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "app/modapuzr.h"
#include "framework/gridtable.h"
#include "framework/tracer_info.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_runoff.h"
#include "soil/unsatzon_tracer_physics.h"
#include "surface/interzep.h"
#include "surface/snowmod.h"

namespace tracerledger {

namespace {

double** Grid(ModellApplication& app, const char* name) {
    const int k = FindGridEntry(app.GridTable.get(), name, true);
    return k > 0 ? app.GridTable[k].Data : nullptr;
}

}  // namespace

TracerLedger::TracerLedger(ModellApplication& app, int tracer) : App(app), Tracer(tracer) {
    Evaporating = App.Tracers && App.Tracers[tracer].evaporating != 0;
    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    for (int r = 1; r <= soil.NRows; ++r)
        for (int c = 1; c <= soil.NCols; ++c)
            if (Counts(r, c)) BasinArea += soil.CellWeight(r, c);
    Start = Last = HeldNow();
}

bool TracerLedger::Counts(int r, int c) const {
    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    return soil.OwnModelCell(r, c) && soil.SubbasinRankOfCell(r, c) > 0;
}

template <typename F>
double TracerLedger::OverCells(F value) const {
    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    double sum = 0;
    for (int r = 1; r <= soil.NRows; ++r)
        for (int c = 1; c <= soil.NCols; ++c)
            if (Counts(r, c)) sum += soil.CellWeight(r, c) * value(r, c);
    return BasinArea > 0 ? sum / BasinArea : 0.0;
}

template <typename F>
double TracerLedger::OverSubbasins(F value) const {
    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    double sum = 0;
    for (size_t s = 1; s < soil.SubbasinCellWeight.size(); ++s)
        sum += soil.SubbasinCellWeight[s] * value(static_cast<int>(s));
    return BasinArea > 0 ? sum / BasinArea : 0.0;
}

Held TracerLedger::HeldNow() const {
    Held held;
    const size_t k = static_cast<size_t>(Tracer);
    schneemodellklasse* snow = App.Snow;
    if (snow && snow->GetMethod() > 0 && k < snow->TracerStorage.size() && snow->TracerStorage[k].StorageGrid) {
        double** stored = snow->TracerStorage[k].StorageGrid;
        double** water = snow->totalStorageGrid;
        held.Snow = OverCells([&](int r, int c) { return Evaporating ? stored[r][c] * water[r][c] : stored[r][c]; });
    }
    interzeptionsmodellklasse* interception = App.Interception;
    if (interception && interception->GetMethod() > 0 && k < interception->TracerStorage.size() &&
        interception->TracerStorage[k].StorageGrid) {
        // A canopy of several vegetation layers holds its tracer as one
        // well-mixed store: the concentration goes with the water of all layers.
        double** stored = interception->TracerStorage[k].StorageGrid;
        const int layers = std::max(1, interception->LayerCount);
        held.Interception = OverCells([&](int r, int c) {
            if (!Evaporating) return stored[r][c];
            double water = 0;
            for (int l = 1; l <= layers; ++l) water += interception->Storage[static_cast<size_t>(l)][r][c];
            return stored[r][c] * water;
        });
    }

    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    if (k < soil.SoilTracers.size() && soil.SoilTracers[k].Stack) {
        const int L = soil.maxLayers;
        GridStack stack = soil.SoilTracers[k].Stack;
        held.Soil = OverCells([&](int r, int c) {
            const SoilType& type = soil.CellSoil(r, c);
            std::vector<double> theta(static_cast<size_t>(L) + 1, 0.0);
            for (int l = 1; l <= L; ++l) theta[static_cast<size_t>(l)] = soil.Theta[r][c][l];
            const double pond = soil.PondingStorage ? soil.PondingStorage[r][c] : 0.0;
            return unsatzon::TracerColumnAmount(std::span<const double>(stack[r][c], static_cast<size_t>(L) + 1),
                                                Evaporating, theta, type.thickness, L, pond);
        });
    }

    // A zone's water reaches the outlet spread over every cell of its
    // subbasin, S times; its tracer leaves at the zone's concentration.
    const int S = std::max(1, soil.SubSteps);
    held.Queues = OverSubbasins([&](int s) {
        const double outletWeight = soil.SubbasinCellWeight[static_cast<size_t>(s)] * S;
        double load = 0;
        for (const unsatzon::FlowTimeQueues* q : {&soil.zoneFZT_QD, &soil.zoneFZT_QI}) {
            if (!q->Allocated() || outletWeight <= 0 || Tracer > q->Tracers()) continue;
            const unsatzon::FlowTimeZone* water = q->Zones(0, s);
            const unsatzon::FlowTimeZone* tracer = q->Zones(Tracer, s);
            for (int z = 2; z <= q->ZoneCount(s); ++z)
                if (tracer[z].RelCellSum > 0) load += water[z].sx / outletWeight * tracer[z].sx / tracer[z].RelCellSum;
        }
        return load;
    });
    const bool bypassed = soil.SurfaceRoutingActive != 0;
    held.LinearStorages = OverSubbasins([&](int s) {
        double load = 0;
        auto content = [&](ExchangeTable<double>& table, const std::vector<double>& recession) {
            double** rows = table.Rows();
            if (!rows) return;
            const double m = unsatzon::StorageFactor(soil.TimeInterval, recession[static_cast<size_t>(s)], bypassed);
            load += unsatzon::StorageContent(rows[0][s] * rows[Tracer][s], m);
        };
        content(soil.QDd, soil.kelsqd);
        content(soil.QIi, soil.kelsqi);
        return load;
    });
    return held;
}

double TracerLedger::Input() const {
    double** precipitation = Grid(App, "precipitation");
    char name[64];
    std::snprintf(name, sizeof name, "concflux_tracer_%d_input", Tracer);
    double** concentration = Grid(App, name);
    if (!precipitation || !concentration) return 0;
    return OverCells([&](int r, int c) { return std::max(0.0, precipitation[r][c]) * concentration[r][c]; });
}

double TracerLedger::Runoff() const {
    unsatzonmodellklasse& soil = *App.UnsaturatedZone;
    RunoffTable qg = soil.GetQg();
    return OverSubbasins([&](int s) { return qg[0][s] * qg[Tracer][s]; });
}

void TracerLedger::Step() {
    const Held now = HeldNow();
    const double in = Input(), out = Runoff();
    WorstStep = std::max(WorstStep, std::fabs(in - out - (now.Total() - Last.Total())));
    InputSum += in;
    RunoffSum += out;
    Last = now;
    ++StepCount;
}

double TracerLedger::Residual() const { return InputSum - RunoffSum - (Last.Total() - Start.Total()); }

double TracerLedger::RelativeResidual() const {
    const double scale = std::max({std::fabs(InputSum), std::fabs(Start.Total()), std::fabs(Last.Total())});
    return scale > 0 ? Residual() / scale : Residual();
}

std::string TracerLedger::Table() const {
    char line[4096];
    std::snprintf(line, sizeof line,
                  "tracer %d over %d steps [concentration x mm over the basin]\n"
                  "  in with precipitation     %.12g\n"
                  "  out as subbasin runoff    %.12g\n"
                  "  held       %14s %14s %14s\n"
                  "  snow       %14.9g %14.9g %14.9g\n"
                  "  interception %12.9g %14.9g %14.9g\n"
                  "  soil       %14.9g %14.9g %14.9g\n"
                  "  queues     %14.9g %14.9g %14.9g\n"
                  "  linear     %14.9g %14.9g %14.9g\n"
                  "  total      %14.9g %14.9g %14.9g\n"
                  "  residual %.6g (relative %.3g), largest step residual %.3g\n",
                  Tracer, StepCount, InputSum, RunoffSum, "start", "end", "change", Start.Snow, Last.Snow,
                  Last.Snow - Start.Snow, Start.Interception, Last.Interception,
                  Last.Interception - Start.Interception, Start.Soil, Last.Soil, Last.Soil - Start.Soil, Start.Queues,
                  Last.Queues, Last.Queues - Start.Queues, Start.LinearStorages, Last.LinearStorages,
                  Last.LinearStorages - Start.LinearStorages, Start.Total(), Last.Total(), Last.Total() - Start.Total(),
                  Residual(), RelativeResidual(), WorstStep);
    return line;
}

}  // namespace tracerledger
