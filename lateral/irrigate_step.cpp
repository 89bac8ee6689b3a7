// The irrigation step: the demand of every cell, the limitation of the
// surface-water amounts by the routing's availability, and the irrigated
// water added to precipitation.

#include <algorithm>

#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "lateral/irrigate.h"
#include "lateral/irrigate_rules.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"

namespace {

constexpr int FromGroundwater = 1;
constexpr int FromSurfaceWater = 2;

}  // namespace

const IrrigationRule* irrigationclass::RuleOf(int row, int col) const {
    if (!IrrigationTable || !IrrigationCodes) return nullptr;
    const double position = IrrigationCodes[row][col];
    if (!(position > 0) || position > RuleCount) return nullptr;
    const IrrigationRule& rule = IrrigationTable[static_cast<int>(position)];
    return rule.Method > 0 ? &rule : nullptr;
}

void irrigationclass::DemandRow(int row, int64_t month, int64_t day) {
    const RowExtent& extent = RowExtents[row];
    for (int col = extent.first; col <= extent.last; ++col) {
        const double zone = ZoneGrid[row][col];
        if (!(zone > NoData)) {
            Amounts[row][col] = NoData;
            continue;
        }
        const int rank = SubbasinRank(zone);
        double area = 1.0;
        if (RelCellArea && RelCellArea[row][col] > zonalstatistic::Missing) area = RelCellArea[row][col];
        const IrrigationRule* rule = RuleOf(row, col);
        double amount = 0.0;
        double surface = 0.0;
        if (!rule) {
            if (rank >= 1) GroundwaterStatistics->AddToRow(row, col, rank, 0.0, 1.0);
        } else {
            irrigate::CellWater cell;
            cell.Previous = Amounts[row][col];
            cell.SB1 = SB1[row][col];
            cell.SBLow = SBLow[row][col];
            cell.SBHigh = SBHigh[row][col];
            cell.EtrToEtp = EtrToEtp[row][col];
            cell.RootDepth = RootDepth[row][col];
            if (SoilTypes && Settings.SoilTable) {
                const double soil = SoilTypes[row][col];
                if (soil >= 1 && soil <= Settings.SoilCount)
                    cell.ProfileDepth = Settings.SoilTable[static_cast<int>(soil)].TotalDepth;
            }
            amount = irrigate::RuleAmount(*rule, cell, TimeInterval, month, day, NoData);
            if (rule->Origin == FromGroundwater) {
                const double pumping = MaxPumping[row][col];
                amount = std::min(amount, pumping > NoData ? std::max(0.0, pumping) : 0.0);
                if (rank >= 1) GroundwaterStatistics->AddToRow(row, col, rank, amount, 1.0);
            } else if (rule->Origin == FromSurfaceWater) {
                // Outside every subbasin no river can deliver.
                if (rank < 1) amount = 0.0;
                if (rank >= 1) GroundwaterStatistics->AddToRow(row, col, rank, 0.0, 1.0);
                surface = amount;
            }
        }
        Amounts[row][col] = amount;
        // The demand is a mean over the whole subbasin, so that the mean
        // times the subbasin's area is the water its cells receive.
        if (rank >= 1) DemandRows.Add(row, rank, surface, 1.0, area);
    }
}

void irrigationclass::ScaleRow(int row, const std::vector<double>& factor) {
    const RowExtent& extent = RowExtents[row];
    for (int col = extent.first; col <= extent.last; ++col) {
        const double zone = ZoneGrid[row][col];
        if (!(zone > NoData)) continue;
        const int rank = SubbasinRank(zone);
        if (rank < 1) continue;
        double area = 1.0;
        if (RelCellArea && RelCellArea[row][col] > zonalstatistic::Missing) area = RelCellArea[row][col];
        const IrrigationRule* rule = RuleOf(row, col);
        double surface = 0.0;
        if (rule && rule->Origin == FromSurfaceWater) {
            Amounts[row][col] *= factor[static_cast<size_t>(rank)];
            surface = Amounts[row][col];
        }
        DemandRows.Add(row, rank, surface, 1.0, area);
    }
}

void irrigationclass::ApplyRow(int row) {
    const RowExtent& extent = RowExtents[row];
    for (int col = extent.first; col <= extent.last; ++col) {
        if (!(ZoneGrid[row][col] > NoData)) continue;
        const double a = Amounts[row][col];
        const double p = Precipitation[row][col];
        if (TracerCount >= 1) {
            const IrrigationRule* rule = RuleOf(row, col);
            const int origin = rule ? rule->Origin : 0;
            const int rank = SubbasinRank(ZoneGrid[row][col]);
            const int zone = ZoneRankOfCell(row, col);
            for (int n = 1; n <= TracerCount; ++n) {
                TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
                double** input = static_cast<size_t>(n) < TracerInput.size() ? TracerInput[static_cast<size_t>(n)]
                                                                             : nullptr;
                if (!record.FluxGrid || !input) continue;
                const double cInput = input[row][col];
                double& flux = record.FluxGrid[row][col];
                if (a > 0) {
                    double cWater = flux;
                    bool mixed = true;
                    if (origin == FromGroundwater && static_cast<size_t>(n) < SoilConcentration.size() &&
                        SoilConcentration[static_cast<size_t>(n)]) {
                        cWater = SoilConcentration[static_cast<size_t>(n)][row][col];
                    } else if (origin == FromSurfaceWater && MaxIrrig && rank >= 1) {
                        cWater = MaxIrrig[n][rank];
                    } else {
                        mixed = false;
                    }
                    if (mixed) flux = irrigate::MixedConcentration(cInput, std::max(p, 0.0), cWater, a);
                } else {
                    flux = irrigate::MixedConcentration(cInput, p, 0.0, 0.0);
                }
                if (record.Statistics && zone >= 0) record.Statistics->AddToRow(row, col, zone, flux, p + a);
            }
        }
        if (a > 0 && p > NoData) Precipitation[row][col] = p + a;
    }
}

void irrigationclass::FoldDemand() {
    const int n = static_cast<int>(DemandRecords.size()) - 1;
    DemandRows.ForEachPartial([&](const ZonePartial& partial) {
        if (partial.Zone < 1 || partial.Zone > n) return;
        ZoneRecord& record = DemandRecords[static_cast<size_t>(partial.Zone)];
        record.n += partial.Weight;
        record.RelCellSum += partial.Area;
        record.sx += partial.Sum;
    });
    DemandRows.Clear();
}

void irrigationclass::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (!Active() || !Amounts || !RowExtents || !ZoneGrid) return;
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (record.Statistics) record.Statistics->ResetStep();
    }
    GroundwaterStatistics->ResetStep();
    SurfaceStatistics->ResetStep();
    for (ZoneRecord& record : DemandRecords) record.n = record.sx = record.RelCellSum = 0;
    DemandRows.Clear();

    const int first = std::max(FirstRow, 1);
    const int last = LastRow;
    const bool parallel = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int row = first; row <= last; ++row) DemandRow(row, month, day);
    GroundwaterStatistics->FoldRows();
    FoldDemand();

    const int n = static_cast<int>(DemandRecords.size()) - 1;
    if (n >= 1 && MaxIrrig && MaxIrrigFromReservoirs) {
        irrigate::ExchangeView view;
        view.Count = n;
        view.TimeStep = TimeInterval;
        view.Demand = DemandRecords.data();
        view.MaxIrrig = MaxIrrig;
        view.FromReservoirs = MaxIrrigFromReservoirs;
        view.Targets = RoutingTargets;
        view.Rivers = RiverFlows;
        const irrigate::Limitation limit = irrigate::LimitSurfaceWater(view);
        if (limit.Short) {
            for (int k = 1; k <= n; ++k) {
                ZoneRecord& record = DemandRecords[static_cast<size_t>(k)];
                record.n = record.sx = record.RelCellSum = 0;
            }
#pragma omp parallel for schedule(static, 1) if (parallel)
            for (int row = first; row <= last; ++row) ScaleRow(row, limit.Factor);
            FoldDemand();
        }
    }

#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int row = first; row <= last; ++row) ApplyRow(row);

    WriteGridByCode(AmountsIndex, true, false);
    GroundwaterStatistics->CloseStep(year, month, day, hour);
    // The surface-water statistic reports the water delivered in the step,
    // which is what the demand records hold.
    if (SurfaceStatistics->IsOn()) {
        for (size_t k = 1; k < DemandRecords.size() && k < SurfaceRecords.size(); ++k) {
            SurfaceRecords[k].n = DemandRecords[k].n;
            SurfaceRecords[k].sx = DemandRecords[k].sx;
            SurfaceRecords[k].RelCellSum = DemandRecords[k].RelCellSum;
        }
    }
    SurfaceStatistics->CloseStep(year, month, day, hour);
    for (int k = 1; k <= TracerCount && static_cast<size_t>(k) < TracerStorage.size(); ++k) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(k)];
        if (record.Statistics) record.Statistics->CloseStep(year, month, day, hour);
        if (record.FluxGridIndex > 0) WriteGridByCode(record.FluxGridIndex, true, false);
    }
}
