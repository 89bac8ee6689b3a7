#include "support/basin_ledger.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "app/modapuzr.h"
#include "lateral/gwflow.h"
#include "lateral/irrigate.h"
#include "lateral/siltingup.h"
#include "lateral/surfrout.h"
#include "parameters/soil.h"
#include "routing/abfluss.h"
#include "routing/abfluss_route.h"
#include "routing/abfluss_routingclass.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"
#include "surface/etpetr.h"
#include "surface/interzep.h"
#include "surface/snowmod.h"

namespace testsupport {

namespace {

// A grid value that is a number and not nodata, else 0.
double Valid(double** grid, int r, int c, double noData) {
    if (!grid) return 0;
    const double v = grid[r][c];
    return std::isfinite(v) && v != noData ? v : 0.0;
}

}  // namespace

BasinLedger::BasinLedger(ModellApplication& app, int subbasin) {
    unsatzonmodellklasse* soil = app.UnsaturatedZone;
    if (!soil || !soil->WaterInput) return;
    const double cellArea = soil->CellSize * soil->CellSize;
    const double noData = soil->NoData;

    // The cells of the basin with their area [m2] and glacier share.
    struct Cell {
        int r, c;
        double area, glacier;
    };
    auto cells = std::make_shared<std::vector<Cell>>();
    for (int r = 1; r <= soil->NRows; ++r) {
        for (int c = 1; c <= soil->NCols; ++c) {
            const int rank = soil->SubbasinRankOfCell(r, c);
            if (!soil->OwnModelCell(r, c) || rank < 1 || (subbasin > 0 && rank != subbasin)) continue;
            const double area = cellArea * soil->CellWeight(r, c);
            cells->push_back({r, c, area, soil->GlacierShare(r, c)});
            BasinArea += area;
        }
    }
    // mm on the ice-free part, on the glacier part and on the whole cell, to m3.
    auto iceFree = [cells, noData](double** grid) {
        return [cells, noData, grid] {
            double sum = 0;
            for (const Cell& k : *cells) sum += Valid(grid, k.r, k.c, noData) * (1 - k.glacier) * k.area;
            return sum / 1000;
        };
    };
    auto onGlacier = [cells, noData](double** grid) {
        return [cells, noData, grid] {
            double sum = 0;
            for (const Cell& k : *cells) sum += Valid(grid, k.r, k.c, noData) * k.glacier * k.area;
            return sum / 1000;
        };
    };
    auto wholeCell = [cells, noData](double** grid) {
        return [cells, noData, grid] {
            double sum = 0;
            for (const Cell& k : *cells) sum += Valid(grid, k.r, k.c, noData) * k.area;
            return sum / 1000;
        };
    };
    // mm over subbasin s (times the weight of its cells) to m3.
    auto perSubbasin = [soil, cellArea, subbasin](std::function<double(int)> mmTimesWeight) {
        return [soil, cellArea, subbasin, mmTimesWeight] {
            double sum = 0;
            for (size_t s = 1; s < soil->SubbasinCellWeight.size(); ++s)
                if (subbasin == 0 || static_cast<int>(s) == subbasin) sum += mmTimesWeight(static_cast<int>(s));
            return sum * cellArea / 1000;
        };
    };

    schneemodellklasse* snow = app.Snow && app.Snow->GetMethod() > 0 ? app.Snow : nullptr;
    verdunstungsmodellklasse* etp =
        app.Evapotranspiration && app.Evapotranspiration->GetMethod() > 0 ? app.Evapotranspiration : nullptr;
    interzeptionsmodellklasse* interception =
        app.Interception && app.Interception->GetMethod() > 0 ? app.Interception : nullptr;
    gwflowclass* groundwater = app.Groundwater && app.Groundwater->GetMethod() > 0 ? app.Groundwater : nullptr;
    surfaceroutingclass* surface =
        app.SurfaceRouting && app.SurfaceRouting->GetMethod() > 0 ? app.SurfaceRouting : nullptr;
    // A subbasin's ledger ends where its runoff is handed to the routing,
    // which stays out of it; surface routing's flows across its border
    // enter it as what flowed onto its cells less what flowed off them. The
    // groundwater model joins it
    // when it runs one sub-step per step: the flows across the border and
    // the cells' balance residuals are then those of the heads and balances
    // the step ends with.
    const bool bordered = subbasin > 0 && groundwater && soil->GetSubSteps() == 1;
    if (subbasin > 0 && !bordered) groundwater = nullptr;

    // --- Water entering -------------------------------------------------------
    // The irrigation adds its water to the precipitation grid: water from
    // the aquifer (origin 1) and from the rivers (origin 2) only moves within
    // the basin, any other origin comes from outside it.
    double** amounts = app.Irrigation && app.Irrigation->GetMethod() > 0 ? soil->IrrigationAmounts : nullptr;
    auto origin = [soil](int r, int c) {
        const double position = soil->IrrigationCodes ? soil->IrrigationCodes[r][c] : 0;
        if (!soil->irrigationRules || !(position >= 1 && position <= soil->irrigationRules[0].Code)) return 0;
        return static_cast<int>(soil->irrigationRules[static_cast<int>(position)].Origin);
    };
    if (snow) {
        Add("precipitation", Kind::In, [snow, amounts, cells, noData] {
            double sum = 0;
            for (const Cell& k : *cells) {
                const double p = snow->precipitationGrid[k.r][k.c];
                if (!(p > noData)) continue;
                const double a = amounts ? Valid(amounts, k.r, k.c, noData) : 0.0;
                sum += (a > 0 ? p - a : p) * k.area;
            }
            return sum / 1000;
        });
    }
    if (amounts) {
        // A subbasin's ledger ends at the routing: the rivers' water comes
        // into it from outside.
        auto moved = [amounts, cells, noData, origin, snow](int from) {
            return [amounts, cells, noData, origin, snow, from] {
                double sum = 0;
                for (const Cell& k : *cells) {
                    const double a = Valid(amounts, k.r, k.c, noData);
                    if (a > 0 && origin(k.r, k.c) == from && snow && snow->precipitationGrid[k.r][k.c] > noData)
                        sum += a * k.area;
                }
                return sum / 1000;
            };
        };
        if (subbasin == 0) {
            Add("irrigation within the basin", Kind::Transfer, [moved] { return moved(1)() + moved(2)(); });
        } else {
            Add("irrigation from the aquifer", Kind::Transfer, moved(1));
            Add("irrigation from the rivers", Kind::In, moved(2));
        }
        Add("irrigation from outside the basin", Kind::In, [amounts, cells, noData, origin, snow] {
            double sum = 0;
            for (const Cell& k : *cells) {
                const double a = Valid(amounts, k.r, k.c, noData);
                const int from = origin(k.r, k.c);
                if (a > 0 && from != 1 && from != 2 && snow && snow->precipitationGrid[k.r][k.c] > noData)
                    sum += a * k.area;
            }
            return sum / 1000;
        });
    }
    if (snow && snow->meltFromIceGrid) Add("glacier ice melt", Kind::In, onGlacier(snow->meltFromIceGrid));
    // A static glacier keeps no firn stack: its firn melt comes from outside
    // the ledger as its ice melt does.
    if (snow && snow->meltFromFirnGrid && !snow->firnWEGrid)
        Add("glacier firn melt", Kind::In, onGlacier(snow->meltFromFirnGrid));
    if (groundwater && !bordered) {
        // What the groundwater model's cells gained beyond the flows between
        // them over the step's sub-steps: the fixed heads, and what its
        // iterative solution leaves.
        Add("groundwater fixed heads", Kind::In, [groundwater] { return groundwater->StepFixedHeadVolume; });
        Add("groundwater solver residual", Kind::In, [groundwater] { return groundwater->StepResidualVolume; });
    }
    if (bordered) {
        // The same over the subbasin's cells, from their balance residuals of
        // the step's one sub-step.
        auto residuals = [groundwater, cells](bool fixedHeads) {
            return [groundwater, cells, fixedHeads] {
                const double noData = groundwater->NoData;
                double sum = 0;
                for (int k = 1; k <= groundwater->Layers; ++k) {
                    const size_t kk = static_cast<size_t>(k);
                    for (const Cell& cell : *cells) {
                        if (!groundwater->ModelCell(cell.r, cell.c) || groundwater->GlacierOf(cell.r, cell.c) >= 1)
                            continue;
                        const double balance = groundwater->Balance[kk][cell.r][cell.c];
                        if (!std::isfinite(balance) || balance == noData) continue;
                        const bool fixed = groundwater->FixedHead[kk] && groundwater->FixedHead[kk][cell.r][cell.c] != noData;
                        if (fixed == fixedHeads)
                            sum += balance * groundwater->WidthX(cell.r, cell.c) * groundwater->WidthY(cell.r, cell.c) /
                                   1000;
                    }
                }
                return sum;
            };
        };
        Add("groundwater fixed heads", Kind::In, residuals(true));
        Add("groundwater solver residual", Kind::In, residuals(false));
        // What flowed in every layer across the faces between the
        // subbasin's cells and the model's other cells, as the groundwater
        // model's balance takes it.
        const int rows = soil->NRows, cols = soil->NCols;
        auto member = std::make_shared<std::vector<char>>(static_cast<size_t>((rows + 2) * (cols + 2)), 0);
        for (const Cell& cell : *cells) (*member)[static_cast<size_t>(cell.r * (cols + 2) + cell.c)] = 1;
        Add("groundwater across the border", Kind::In, [groundwater, cells, member, rows, cols] {
            const double noData = groundwater->NoData;
            const double dt = groundwater->SubStepSeconds();
            double** zone = groundwater->ZoneGrid;
            double sum = 0;
            for (int k = 1; k <= groundwater->Layers; ++k) {
                const size_t kk = static_cast<size_t>(k);
                double** h = groundwater->Head[kk];
                double** flowX = groundwater->FlowX[kk];
                double** flowY = groundwater->FlowY[kk];
                double** transX = groundwater->TransX[kk];
                double** transY = groundwater->TransY[kk];
                for (const Cell& cell : *cells) {
                    const int r = cell.r, c = cell.c;
                    if (zone[r][c] == noData || zone[r][c] < noData || groundwater->GlacierOf(r, c) >= 1) continue;
                    const double dx = groundwater->WidthX(r, c), dy = groundwater->WidthY(r, c);
                    // North, east, south, west, each with the face's flow
                    // marker and transmissivity.
                    const int nr[4] = {r - 1, r, r + 1, r};
                    const int nc[4] = {c, c + 1, c, c - 1};
                    const bool inside[4] = {r > 1, c < cols, r < rows, c > 1};
                    for (int x = 0; x < 4; ++x) {
                        if (!inside[x] || (*member)[static_cast<size_t>(nr[x] * (cols + 2) + nc[x])]) continue;
                        if (zone[nr[x]][nc[x]] == noData) continue;
                        double marker = 0, face = 0;
                        switch (x) {
                            case 0: marker = flowY[r - 1][c], face = transY[r - 1][c]; break;
                            case 1: marker = flowX[r][c], face = transX[r][c]; break;
                            case 2: marker = flowY[r][c], face = transY[r][c]; break;
                            default: marker = flowX[r][c - 1], face = transX[r][c - 1]; break;
                        }
                        if (marker == noData) continue;
                        const bool northSouth = x % 2 == 0;
                        const double width =
                            ((northSouth ? dx : dy) + (northSouth ? groundwater->WidthX(nr[x], nc[x])
                                                                  : groundwater->WidthY(nr[x], nc[x]))) /
                            2;
                        const double distance =
                            ((northSouth ? dy : dx) + (northSouth ? groundwater->WidthY(nr[x], nc[x])
                                                                  : groundwater->WidthX(nr[x], nc[x]))) /
                            2;
                        sum += (h[nr[x]][nc[x]] - h[r][c]) / distance * face * width * dt;
                    }
                }
            }
            return sum;
        });
    }

    if (subbasin > 0 && surface) {
        // Water on the surface flows between the subbasins' cells.
        Add("surface water across the border", Kind::In, [surface, cells] {
            double sum = 0;
            for (const Cell& k : *cells) sum += surface->StepNetInflow(k.r, k.c) * k.area;
            return sum / 1000;
        });
    }

    // --- Water leaving --------------------------------------------------------
    if (etp && etp->SnowEvaporationGrid) Add("snow evaporation", Kind::Out, iceFree(etp->SnowEvaporationGrid));
    if (etp && etp->GlacierSnowEvaporation)
        Add("glacier snow evaporation", Kind::Out, onGlacier(etp->GlacierSnowEvaporation));
    if (interception && !interception->Evaporation.empty())
        Add("interception evaporation", Kind::Out, iceFree(interception->Evaporation[0]));
    Add("soil evaporation", Kind::Out, iceFree(soil->RealEvaporation));
    for (int v = 1; v <= soil->vegetationLayers; ++v)
        Add("transpiration " + std::to_string(v), Kind::Out, iceFree(soil->RealTranspiration[static_cast<size_t>(v)]));
    // The routing joins the ledger when it reports in m3/s and routes its
    // channels as "OL" elements, with inflows from files and abstractions
    // to outside the basin at outlets without a reservoir: then the basin's
    // outlets, its channels and reservoirs, the inflows and abstractions are
    // booked, else the ledger ends at the routing's input.
    abflussmodellklasse* routing = app.Routing && app.Routing->GetMethod() > 0 ? app.Routing : nullptr;
    bool routed = subbasin == 0 && routing && routing->OutputUnit == 1 && routing->DescriptionCount > 0;
    std::vector<int> feeding;  // outlet codes that a channel carries on
    for (int d = 1; routed && d <= routing->DescriptionCount; ++d) {
        const routingclass& description = *routing->Descriptions[static_cast<size_t>(d)];
        routed = description.Counts.SUMTRIB == 0 && description.Counts.Ampersand == 0;
        for (int z = 1; z <= description.Counts.ZL; ++z) routed = routed && description.InflowMode[static_cast<size_t>(z)] == 4;
        for (int a = 1; a <= description.Counts.AL; ++a) {
            const AL_class* abstraction = description.Abstractions[static_cast<size_t>(a)].get();
            routed = routed && abstraction && !abstraction->IsInternal() && description.Counts.SP == 0;
        }
        for (int e = 1; e <= description.Counts.OL; ++e) feeding.push_back(description.Code[static_cast<size_t>(e)]);
    }
    if (routed) {
        // m3 per mm over the area of description `d`'s outlet: the area its
        // discharge in m3/s is computed from.
        auto outletFactor = [routing](const routingclass& description) {
            double** abfrel = routing->GetAbfrel();
            const int g = description.RankOf(description.OutletCode);
            return abfrel[0][0] * abfrel[0][g] * 1000 / description.AreaFactor;
        };
        Add("outlet discharge", Kind::Out, [routing, feeding, outletFactor] {
            double sum = 0;
            for (int d = 1; d <= routing->DescriptionCount; ++d) {
                const routingclass& description = *routing->Descriptions[static_cast<size_t>(d)];
                if (std::find(feeding.begin(), feeding.end(), description.OutletCode) != feeding.end()) continue;
                const int g = description.RankOf(description.OutletCode);
                sum += routing->StepFlows.Rows()[0][g] * outletFactor(description);
            }
            return sum;
        });
        // An inflow from a file enters its channel in mm over the channel's
        // area [km2].
        Add("inflows from files", Kind::In, [routing] {
            double sum = 0;
            for (int d = 1; d <= routing->DescriptionCount; ++d) {
                const routingclass& description = *routing->Descriptions[static_cast<size_t>(d)];
                for (int e = 1; e <= description.ChannelCount; ++e)
                    if (description.IsZL(e))
                        sum += description.StepFlows[0][description.IndexOf(e)] *
                               description.ChannelArea[static_cast<size_t>(e)] * 1000;
            }
            return sum;
        });
        Add("abstractions", Kind::Out, [routing] { return routing->Exchange.LastStep.Abstractions; });
        // A sub-channel holds the flows of its filled translation elements
        // and its two linear storages per sub-interval, each a rate over the
        // step for one sub-interval; its water is nowhere else.
        Add("channels", Kind::Store, [routing, outletFactor] {
            double sum = 0;
            double** abfrel = routing->GetAbfrel();
            for (int d = 1; d <= routing->DescriptionCount; ++d) {
                const routingclass& description = *routing->Descriptions[static_cast<size_t>(d)];
                const int Ns = description.SubIntervals;
                for (int e = 1; e <= description.ChannelCount; ++e) {
                    const size_t ke = static_cast<size_t>(e);
                    const int i = description.IndexOf(e);
                    if (i <= 0 || !description.Storage || (!description.IsZL(e) && abfrel[1][i] == 0)) continue;
                    const wqtab& w = description.Tables[ke];
                    const std::vector<double>& E = (*description.Storage)[0][static_cast<size_t>(i)];
                    const int length = description.BlockLength(e);
                    double held = 0;
                    for (int sigma = 1; sigma <= static_cast<int>(w.S); ++sigma) {
                        const size_t ks = static_cast<size_t>(sigma);
                        const int b = (sigma - 1) * length + 1;
                        // Elements b .. b + Ns - 1 left in this step.
                        for (int p = b + Ns; p <= w.FillPosition[ks]; ++p) held += E[static_cast<size_t>(p)];
                        for (int k = 1; k <= Ns; ++k)
                            held += TwoLinearStoragesContent(
                                w.QausMain[ks][static_cast<size_t>(k)], w.QausPlain[ks][static_cast<size_t>(k)],
                                description.RetentionMain[ke], description.RetentionPlain[ke]);
                    }
                    sum += description.IsZL(e) ? held / Ns * description.ChannelArea[ke] * 1000
                                               : held / Ns * description.Weights[ke] / abfrel[1][i] *
                                                     outletFactor(description);
                }
            }
            return sum;
        });
        // What the rivers gave to the fields and to the soil in the step, and
        // the withdrawals they still owe to the following steps: water the
        // land received before the rivers gave it up.
        Add("irrigation taken from the rivers", Kind::Transfer,
            [routing] { return routing->Exchange.LastStep.IrrigationFromRivers; });
        Add("withdrawals owed by the rivers", Kind::Store, [routing] { return -routing->CarriedWithdrawalVolume(); });
        bool reservoirs = false;
        for (int d = 1; d <= routing->DescriptionCount; ++d)
            reservoirs = reservoirs || routing->Descriptions[static_cast<size_t>(d)]->Counts.SP > 0;
        // Every reservoir's terms of the step [m3].
        auto reservoirTerm = [routing](std::function<double(const SP_class&)> term) {
            return [routing, term] {
                double sum = 0;
                for (int d = 1; d <= routing->DescriptionCount; ++d)
                    for (const auto& reservoir : routing->Descriptions[static_cast<size_t>(d)]->Reservoirs)
                        if (reservoir) sum += term(*reservoir);
                return sum;
            };
        };
        // A reservoir takes its inflow in m3/s with the factor 16.6666667
        // and gives its release back in mm with 0.06: the inflow gains
        // 2e-9 of itself.
        if (reservoirs) {
            Add("reservoir inflow conversion", Kind::In,
                reservoirTerm([](const SP_class& r) { return r.Qin.m3 - r.Qin.m3 / (16.6666667 * 0.06); }));
            Add("precipitation on reservoirs", Kind::In, reservoirTerm([](const SP_class& r) { return r.PREC.m3; }));
            Add("groundwater into reservoirs", Kind::In, reservoirTerm([](const SP_class& r) { return r.QGW.m3; }));
            Add("reservoir evaporation", Kind::Out, reservoirTerm([](const SP_class& r) { return r.ETR.m3; }));
            Add("reservoirs", Kind::Store, [routing] {
                double sum = 0;
                for (int d = 1; d <= routing->DescriptionCount; ++d)
                    for (const auto& reservoir : routing->Descriptions[static_cast<size_t>(d)]->Reservoirs)
                        if (reservoir && !reservoir->State.empty()) sum += reservoir->State[0];
                return sum;
            });
        }
    } else {
        RunoffTable table = surface ? surface->GetQg() : soil->GetQg();
        Add("runoff to the routing", Kind::Out, perSubbasin([soil, table](int s) {
                return table[0][s] * soil->SubbasinCellWeight[static_cast<size_t>(s)];
            }));
    }

    // --- Storages -------------------------------------------------------------
    if (snow) {
        Add("snow (ice-free part)", Kind::Store,
            [iceFree, snow] { return iceFree(snow->solidStorageGrid)() + iceFree(snow->liquidStorageGrid)(); });
        if (snow->glacierSolidStorageGrid) {
            Add("snow on the glacier part", Kind::Store, [onGlacier, snow] {
                return onGlacier(snow->glacierSolidStorageGrid)() + onGlacier(snow->glacierLiquidStorageGrid)();
            });
        } else if (snow->glacierFractionGrid) {
            // A glacier of fixed extent keeps no pack of its own: the cell's
            // pack covers its ice as well.
            Add("snow on the glacier part", Kind::Store, [onGlacier, snow] {
                return onGlacier(snow->solidStorageGrid)() + onGlacier(snow->liquidStorageGrid)();
            });
        }
        if (snow->firnWEGrid) Add("firn", Kind::Store, [onGlacier, snow] { return onGlacier(snow->firnWEGrid)(); });
        if (!snow->Qice_els.empty())
            Add("glacier runoff storages", Kind::Store,
                perSubbasin([snow](int s) { return snow->StoredGlacierRunoff(s); }));
    }
    if (interception && !interception->Storage.empty())
        Add("interception", Kind::Store, iceFree(interception->Storage[0]));
    Add("soil columns", Kind::Store, [soil, cells] {
        double sum = 0;
        const int L = soil->maxLayers;
        for (const Cell& k : *cells) {
            if (k.glacier >= 1) continue;
            const SoilType& type = soil->CellSoil(k.r, k.c);
            double water = 0;
            for (int l = 1; l <= L; ++l)
                water += 1000 * soil->Theta[k.r][k.c][l] * type.thickness[static_cast<size_t>(l)];
            sum += water * (1 - k.glacier) * k.area;
        }
        return sum / 1000;
    });
    if (soil->PondingStorage) Add("ponds", Kind::Store, iceFree(soil->PondingStorage));
    if (surface) {
        // The surface water is in mm over the whole cell, glacier or not.
        Add("water on the surface", Kind::Store, wholeCell(surface->Surface));
        // The travel-time zones behind the outlet zone hold mm x weight x
        // sub-steps; the two linear storages hold q B / (1 - B) over the
        // subbasin.
        Add("surface routing zones and storages", Kind::Store, perSubbasin([surface, soil](int s) {
                const double nsub = std::max(1, soil->GetSubSteps());
                double held = 0;
                for (const unsatzon::FlowTimeQueues* q : {&surface->zoneFZT_QD, &surface->zoneFZT_QI}) {
                    if (!q->Allocated()) continue;
                    const unsatzon::FlowTimeZone* z = q->Zones(0, s);
                    for (int k = 2; k <= q->ZoneCount(s); ++k) held += z[k].sx / nsub;
                }
                auto content = [&](const ExchangeTable<double>& table, const double* k) {
                    const double* const* rows = table.Rows();
                    if (!rows || !k) return 0.0;
                    const double B = std::exp(-surface->TimeInterval / k[s]);
                    return B < 1 ? rows[0][s] * B / (1 - B) : 0.0;
                };
                return held + (content(surface->QDd, surface->Kelsqd) + content(surface->QIi, surface->Kelsqi)) *
                                  soil->SubbasinCellWeight[static_cast<size_t>(s)];
            }));
    }
    Add("soil runoff zones and storages", Kind::Store, perSubbasin([soil](int s) {
            return soil->StoredRunoff(s) * soil->SubbasinCellWeight[static_cast<size_t>(s)];
        }));
    if (groundwater && soil->Baseflow) {
        // What the groundwater model moved out of its first layer in the last
        // sub-step, which the soil columns drain in the next one.
        const double seconds = groundwater->SubStepSeconds();
        Add("groundwater flow due from the soil", Kind::Store, [soil, cells, noData, seconds] {
            double sum = 0;
            for (const Cell& k : *cells)
                sum -= Valid(soil->Baseflow, k.r, k.c, noData) * seconds * k.area;
            return sum;
        });
    }
    if (groundwater && soil->Baseflow && soil->GetSubSteps() == 1) {
        // The soil columns drain what the groundwater model took from its
        // first layer; a column that could not give it all (one dry down to
        // its residual content) would leave the water the groundwater model
        // moved on to enter the basin from nowhere. It is what the
        // groundwater model asked for at the end of the step before less
        // what the columns' iteration steps drained.
        const int cols = soil->NCols;
        auto at = [cols](int r, int c) { return static_cast<size_t>(r * (cols + 2) + c); };
        const size_t size = static_cast<size_t>((soil->NRows + 2) * (cols + 2));
        auto drained = std::make_shared<std::vector<double>>(size, 0.0);   // mm over the ice-free part
        auto asked = std::make_shared<std::vector<double>>(size, 0.0);     // m/s over the cell
        auto previous = soil->StepObserver;
        soil->StepObserver = [previous, drained, at](const unsatzonmodellklasse::IterationStepRecord& record) {
            if (previous) previous(record);
            (*drained)[at(record.Row, record.Column)] += record.Baseflow;
        };
        auto ask = [soil, cells, noData, asked, drained, at] {
            for (const Cell& k : *cells) {
                (*asked)[at(k.r, k.c)] = Valid(soil->Baseflow, k.r, k.c, noData);
                (*drained)[at(k.r, k.c)] = 0;
            }
        };
        OpenActions.push_back(ask);
        const double seconds = groundwater->SubStepSeconds();
        Add("groundwater the soil could not give", Kind::In, [cells, asked, drained, at, ask, seconds] {
            double sum = 0;
            for (const Cell& k : *cells) {
                if (k.glacier >= 1) continue;
                const size_t i = at(k.r, k.c);
                sum += (*asked)[i] * seconds * k.area - (*drained)[i] / 1000 * (1 - k.glacier) * k.area;
            }
            ask();
            return sum;
        });
    }
    if (groundwater) {
        // Layer 1 is the soil column; a layer below holds what its sub-steps
        // stored, each head change times the coefficient the solver took.
        for (int k = 2; k <= groundwater->Layers; ++k) {
            Add("groundwater layer " + std::to_string(k), Kind::Store, [groundwater, cells, noData, k] {
                const size_t kk = static_cast<size_t>(k);
                double sum = 0;
                for (const Cell& cell : *cells) {
                    const double width = groundwater->WidthX(cell.r, cell.c) * groundwater->WidthY(cell.r, cell.c);
                    sum += Valid(groundwater->StoredWater[kk], cell.r, cell.c, noData) * width;
                }
                return sum;
            });
        }
    }
}

void BasinLedger::Add(const std::string& name, Kind kind, std::function<double()> value) {
    Term term;
    term.Name = name;
    term.kind = kind;
    term.Value = std::move(value);
    TermList.push_back(std::move(term));
}

void BasinLedger::Open() {
    for (const auto& action : OpenActions) action();
    for (Term& t : TermList) {
        if (t.kind != Kind::Store) continue;
        t.Start = t.Previous = t.Now = t.PeriodHeld = t.Value();
    }
}

void BasinLedger::BookStep() {
    double in = 0, out = 0, change = 0, largestChange = 0;
    for (Term& t : TermList) {
        if (t.kind == Kind::Store) {
            t.Now = t.Value();
            t.StepValue = t.Now - t.Previous;
            t.Previous = t.Now;
            t.Total = t.Now - t.Start;
            t.Largest = std::max(t.Largest, std::fabs(t.Total));
            change += t.StepValue;
            largestChange = std::max(largestChange, std::fabs(t.StepValue));
        } else {
            t.StepValue = t.Value();
            t.Total += t.StepValue;
            if (t.kind == Kind::In) in += t.StepValue;
            if (t.kind == Kind::Out) out += t.StepValue;
        }
    }
    ++StepCount;
    LastStepResidual = in - out - change;
    LastStepScale = std::max({std::fabs(in), std::fabs(out), largestChange});
    if (LastStepScale > 0) {
        const double relative = std::fabs(LastStepResidual) / LastStepScale;
        WorstStep = std::max(WorstStep, relative);
        PeriodWorstStep = std::max(PeriodWorstStep, relative);
    }
}

void BasinLedger::Sums(const std::function<double(const Term&)>& total, double& residual, double& scale) const {
    double in = 0, out = 0, largestChange = 0;
    residual = 0;
    for (const Term& t : TermList) {
        const double value = total(t);
        if (t.kind == Kind::In) residual += value, in += std::fabs(value);
        if (t.kind == Kind::Out) residual -= value, out += std::fabs(value);
        if (t.kind == Kind::Store) residual -= value, largestChange = std::max(largestChange, std::fabs(value));
    }
    scale = std::max({in, out, largestChange});
}

double BasinLedger::RunResidual() const {
    double residual = 0, scale = 0;
    Sums([](const Term& t) { return t.Total; }, residual, scale);
    return residual;
}

double BasinLedger::RunScale() const {
    double residual = 0, scale = 0;
    Sums([](const Term& t) { return t.Total; }, residual, scale);
    return scale;
}

void BasinLedger::ClosePeriod(const std::string& label) {
    Period period;
    period.Label = label;
    period.Steps = StepCount - PeriodStartStep;
    period.WorstStep = PeriodWorstStep;
    Sums([](const Term& t) { return t.Total - t.PeriodBase; }, period.Residual, period.Scale);
    for (Term& t : TermList) {
        period.Totals.push_back(t.Total - t.PeriodBase);
        period.HeldAtStart.push_back(t.kind == Kind::Store ? t.PeriodHeld : 0.0);
        period.HeldAtEnd.push_back(t.kind == Kind::Store ? t.Now : 0.0);
        t.PeriodBase = t.Total;
        t.PeriodHeld = t.Now;
    }
    PeriodList.push_back(std::move(period));
    PeriodStartStep = StepCount;
    PeriodWorstStep = 0;
}

double BasinLedger::TotalOf(const std::string& name) const {
    for (const Term& t : TermList)
        if (t.Name == name) return t.Total;
    return 0;
}

double BasinLedger::LargestOf(const std::string& name) const {
    for (const Term& t : TermList)
        if (t.Name == name) return t.Largest;
    return 0;
}

std::string BasinLedger::Table() const {
    std::ostringstream out;
    char line[200];
    std::snprintf(line, sizeof line, "%-34s %6s %22s %22s\n", "term [m3]", "kind", "over the run", "last step");
    out << line;
    for (const Term& t : TermList) {
        const char* kind = t.kind == Kind::In      ? "in"
                           : t.kind == Kind::Out   ? "out"
                           : t.kind == Kind::Store ? "change"
                                                   : "moved";
        std::snprintf(line, sizeof line, "%-34s %6s %22.12g %22.12g\n", t.Name.c_str(), kind, t.Total, t.StepValue);
        out << line;
    }
    std::snprintf(line, sizeof line, "%-34s %6s %22.12g %22.12g\n", "residual (in - out - change)", "", RunResidual(),
                  LastStepResidual);
    out << line;
    std::snprintf(line, sizeof line,
                  "%d steps over %.6g m2; relative residual %.3g over the run, "
                  "%.3g worst step\n",
                  StepCount, BasinArea, RunScale() > 0 ? std::fabs(RunResidual()) / RunScale() : 0.0, WorstStep);
    out << line;
    return out.str();
}

std::string BasinLedger::PeriodTable(size_t k) const {
    if (k >= PeriodList.size()) return "";
    const Period& period = PeriodList[k];
    std::ostringstream out;
    char line[200];
    std::snprintf(line, sizeof line, "%s\n%-34s %6s %22s %22s\n", period.Label.c_str(), "term [m3]", "kind",
                  "over the period", "held at its end");
    out << line;
    for (size_t i = 0; i < TermList.size(); ++i) {
        const Term& t = TermList[i];
        const bool store = t.kind == Kind::Store;
        const char* kind = t.kind == Kind::In ? "in" : t.kind == Kind::Out ? "out" : store ? "change" : "moved";
        std::snprintf(line, sizeof line, "%-34s %6s %22.12g ", t.Name.c_str(), kind, period.Totals[i]);
        out << line;
        if (store) {
            std::snprintf(line, sizeof line, "%22.12g", period.HeldAtEnd[i]);
            out << line;
        }
        out << "\n";
    }
    std::snprintf(line, sizeof line,
                  "%-34s %6s %22.12g\n%d steps; relative residual %.3g over the period, %.3g worst step\n",
                  "residual (in - out - change)", "", period.Residual, period.Steps, period.Relative(),
                  period.WorstStep);
    out << line;
    return out.str();
}

double BasinLedger::PeriodTotal(size_t k, const std::string& name) const {
    if (k >= PeriodList.size()) return 0;
    for (size_t i = 0; i < TermList.size(); ++i)
        if (TermList[i].Name == name) return PeriodList[k].Totals[i];
    return 0;
}

std::string BasinLedger::PeriodTableInMm(size_t k, const std::string& title) const {
    if (k >= PeriodList.size() || !(BasinArea > 0)) return "";
    const Period& period = PeriodList[k];
    const double mm = 1000 / BasinArea;
    std::ostringstream out;
    char line[240];
    std::snprintf(line, sizeof line, "%s, %s (%.4g km2, %d steps)\n%-38s %6s %14s %14s %14s\n", title.c_str(),
                  period.Label.c_str(), BasinArea / 1e6, period.Steps, "term [mm]", "kind", "in/out/change",
                  "held at start", "held at end");
    out << line;
    for (size_t i = 0; i < TermList.size(); ++i) {
        const Term& t = TermList[i];
        const bool store = t.kind == Kind::Store;
        const char* kind = t.kind == Kind::In ? "in" : t.kind == Kind::Out ? "out" : store ? "change" : "moved";
        std::snprintf(line, sizeof line, "%-38s %6s %14.4f", t.Name.c_str(), kind, period.Totals[i] * mm);
        out << line;
        if (store) {
            std::snprintf(line, sizeof line, " %14.4f %14.4f", period.HeldAtStart[i] * mm, period.HeldAtEnd[i] * mm);
            out << line;
        }
        out << "\n";
    }
    const double precipitation = PeriodTotal(k, "precipitation");
    std::snprintf(line, sizeof line, "%-38s %6s %14.3e\n%-38s %6s %14.3e\n", "residual (in - out - change)", "",
                  period.Residual * mm, "residual / precipitation", "",
                  precipitation > 0 ? period.Residual / precipitation : 0.0);
    out << line;
    return out.str();
}

}  // namespace testsupport
