// Reservoirs and lakes within the routing: the "SP" elements of a
// description, their rules and first release, the reservoir step of the
// channel routing, their lines of the routing state and the routing's
// lake settings and grids.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/tracer_info.h"
#include "framework/zonetable.h"
#include "framework/string_helpers.h"
#include "routing/abfluss.h"
#include "routing/reservoir.h"

void routingclass::CreateReservoirs() {
    const int R = Counts.SP;
    Reservoirs.clear();
    Reservoirs.resize(static_cast<size_t>(R + 1));
    ReservoirCode.assign(static_cast<size_t>(R + 1), 0);
    ReservoirGeometry geometry;
    geometry.NRows = Links.NRows;
    geometry.NCols = Links.NCols;
    geometry.CellSize = Links.CellSize;
    geometry.NoData = Links.NoData;
    geometry.RowExtents = Links.RowExtents;
    LakeGrids lake;
    if (Links.LakeSwitch != 0) {
        lake.LakeCodes = RequiredGrid("lake_codes");
        lake.Ponding = OptionalGrid("ponding_storage");
        if (!lake.Ponding) lake.Ponding = RequiredGrid("ponding_storage_top");
        lake.MaxPonding = RequiredGrid("max_ponding_storage");
        lake.Subbasins = RequiredGrid("zonegrid_soilmodel");
        lake.Elevation = RequiredGrid("[elevation_model]");
        lake.Transpiration = RequiredGrid("real_transpiration0");
        lake.Exchange = OptionalGrid("q_downext");
        lake.Baseflow = OptionalGrid("baseflow");
        lake.Precipitation = RequiredGrid("PrecOnLakes");
        lake.TracerStacks.assign(static_cast<size_t>(Links.TracerCount + 1), nullptr);
        for (int k = 1; k <= Links.TracerCount; ++k) {
            const std::string name = "concstor_tracer_" + std::to_string(k) + "_unsatzon_model";
            const int index = GetGridIndex(name);
            lake.TracerStacks[static_cast<size_t>(k)] = GridTable[index].Stack;
            if (!GridTable[index].Stack) {
                if (Writer) {
                    *Writer << "FATAL: " << name << " not found in memory,\nThese data are needed within "
                            << ModuleName << "[end-entry]";
                }
                throw 33;
            }
        }
    }
    for (int j = 1; j <= R; ++j) {
        auto reservoir = std::make_unique<SP_class>();
        reservoir->SetParams(Writer, Links.Tracers, Links.TracerCount, OutletCode, GridTable, geometry,
                             Links.CodeToRank, Links.LargestCode, Links.LakeSwitch, TimeStep, InputDirectory,
                             OutputDirectory);
        reservoir->ReadGridMode = Links.GridReadMode;
        if (Links.LakeSwitch != 0) reservoir->Lake = lake;
        Reservoirs[static_cast<size_t>(j)] = std::move(reservoir);
    }
}

void routingclass::CreateOutletArrays(int subIntervals) {
    if (ChannelCount != 0 || !OutletFlows.empty()) return;
    SubIntervals = subIntervals;
    const size_t rows = static_cast<size_t>(Links.TracerCount + 1);
    OutletFlows.assign(rows, std::vector<double>(static_cast<size_t>(subIntervals + 1), 0.0));
    ChannelFlows.assign(rows, std::vector<double>(static_cast<size_t>(subIntervals + 1), 0.0));
}

void routingclass::SetSpeicherParams(FILE* controlFile, int element, const std::string& text, size_t& position,
                                     int subIntervals) {
    if (Reservoirs.empty()) CreateReservoirs();
    int code = 0;
    std::string elementText;
    if (!NextReservoirElement(text, position, code, elementText)) return;
    const int j = element - Counts.OL - Counts.SUMTRIB - Counts.ZL - Counts.AL;
    if (j < 1 || j > Counts.SP) return;
    if (code < 0) {
        if (Writer) *Writer << "FATAL: no reservoir number after \"SP\" in the routing description of TG " << OutletCode << "[end-entry]";
        throw 35;
    }
    ReservoirCode[static_cast<size_t>(j)] = code;
    // A description with a reservoir and no channel routes with its own
    // per-tracer flow arrays.
    try {
        CreateOutletArrays(subIntervals);
    } catch (const std::bad_alloc&) {
        if (Writer) *Writer << "FATAL: memory allocation error in SetSpeicherParams()\n" << "[end-entry]";
        throw 1;
    }
    SP_class& reservoir = *Reservoirs[static_cast<size_t>(j)];
    reservoir.ReadDescription(controlFile, code, elementText);
    reservoir.BuildLakeTable();
    reservoir.OpenOutput();
    if (Links.GridReadMode != 0) {
        reservoir.InitLakeFromGrid();
    } else {
        reservoir.WriteLakeLevel(reservoir.State[0]);
    }
}

void routingclass::InitReservoirs(FILE* controlFile) {
    for (int j = 1; j < static_cast<int>(Reservoirs.size()); ++j) {
        SP_class& reservoir = *Reservoirs[static_cast<size_t>(j)];
        reservoir.ReadRules(controlFile);
        std::vector<double> drawn;
        // The first release, at the description's date, which is still zero.
        reservoir.Outflow = reservoir.RuleOutflow({}, drawn, 0, 0, 0.0, TimeStep, 0, 0);
        if (reservoir.Outflow * TimeStep * 60 > reservoir.State[0]) reservoir.Outflow = reservoir.State[0] / 60 / TimeStep;
    }
}

double routingclass::ReservoirIrrigationVolume(bool zeroDate) const {
    if (zeroDate || !Demand || !Exchange || Exchange->Empty()) return 0.0;
    const int g = RankOf(OutletCode);
    if (g <= 0 || static_cast<size_t>(g) >= Exchange->ReservoirDepth.size()) return 0.0;
    // Depth over the subbasin itself [mm] times its area [km2].
    const double areaKm2 = Demand[0].rel * Demand[g].rel;
    return std::max(0.0, Exchange->ReservoirDepth[static_cast<size_t>(g)]) * std::max(0.0, areaKm2) * 1000;
}

// The reservoirs in series: each takes the outlet flow that the one before
// left, releases by its rules and hands its release and concentrations on.
// The last one also gives the irrigation its share, feeds the abstractions
// that draw on it and offers its volume to the next step's irrigation.
void routingclass::RouteReservoirs(int64_t year, int64_t month, int64_t day, int64_t hour) {
    const int R = static_cast<int>(Reservoirs.size()) - 1;
    if (R < 1 || !StepFlows || !SubIntervalFlows) return;
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    const int g = RankOf(OutletCode);
    const double area = CatchmentArea / AreaFactor;
    const bool zeroDate = month < 1;
    double** F = StepFlows;
    double*** Fs = SubIntervalFlows;
    std::vector<double> concentrations(static_cast<size_t>(T + 1), 0.0);
    std::vector<double>& X = TracerLoads;
    for (int j = 1; j <= R; ++j) {
        SP_class& reservoir = *Reservoirs[static_cast<size_t>(j)];
        const bool last = j == R;
        double irrigation = 0.0, abstraction = 0.0;
        if (last && !zeroDate) {
            irrigation = ReservoirIrrigationVolume(zeroDate);
            abstraction = ConvertToM3s(AbstractionSum, area, TimeStep) * TimeStep * 60;
        }
        // What the reservoir could not give before is asked again.
        if (!zeroDate) abstraction += reservoir.CarriedWithdrawal;
        std::vector<std::function<double(double)>> draws;
        std::vector<AL_class*> drawing;
        if (last) {
            for (size_t k = 1; k < Abstractions.size(); ++k) {
                AL_class* al = Abstractions[k].get();
                if (!al || al->Mode != AL_class::InternWithRuleFromReservoir) continue;
                drawing.push_back(al);
                StorageElementArrays* storage = Storage;
                draws.emplace_back([al, storage, year, month, day, hour](double volume) {
                    return al->RuleWithWeekdays(storage, year, month, day, hour, volume);
                });
            }
        }
        const double inflow = ConvertToM3s(F[0][g], area, TimeStep);
        for (int t = 1; t <= T; ++t) concentrations[static_cast<size_t>(t)] = F[t][g];
        std::vector<double> drawRates;
        reservoir.CalcBalance(concentrations.data(), inflow, draws, drawRates, TimeStep, irrigation, abstraction,
                              static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                              static_cast<int>(hour));
        if (!zeroDate) reservoir.CarriedWithdrawal = reservoir.WithdrawalShortfall;
        for (size_t k = 0; k < drawing.size(); ++k) {
            AL_class& al = *drawing[k];
            const double rate = k < drawRates.size() ? drawRates[k] : 0.0;
            al.State[0] = rate;
            X[0] = rate;
            for (int t = 1; t <= T; ++t) X[static_cast<size_t>(t)] = reservoir.State[static_cast<size_t>(t)];
            const int z = al.Code;
            if (z >= 1) {
                for (int s = 1; s <= SubIntervals; ++s) {
                    Fs[0][s][n + z] = X[0];
                    for (int t = 1; t <= T; ++t) Fs[t][s][n + z] = X[static_cast<size_t>(t)];
                }
                F[0][n + z] = X[0];
            }
            if (year >= 1) al.BufferRecord(year, month, day, hour, X.data());
        }
        F[0][g] = ConvertToMm(reservoir.Outflow, area, TimeStep);
        for (int t = 1; t <= T; ++t) F[t][g] = reservoir.State[static_cast<size_t>(t)];
        for (int s = 1; s <= SubIntervals; ++s)
            for (int t = 0; t <= T; ++t) Fs[t][s][g] = F[t][g];
        if (!zeroDate) {
            if (last && MaxIrrigFromReservoirs) {
                // Offered as a depth over the outlet's own subbasin, the area
                // the irrigation delivers it over.
                const double areaKm2 = Demand && g > 0 ? Demand[0].rel * Demand[g].rel : 0.0;
                const double volume = std::max(0.0, reservoir.State[0]);
                MaxIrrigFromReservoirs[0][g] = areaKm2 > 0 ? volume / (areaKm2 * 1000)
                                                           : ConvertToMm(volume / 60 / TimeStep, area, TimeStep);
                for (int t = 1; t <= T; ++t) MaxIrrigFromReservoirs[t][g] = reservoir.State[static_cast<size_t>(t)];
            }
            reservoir.BufferRecord(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                                   static_cast<int>(hour));
        }
    }
}

void routingclass::FlushReservoirs() {
    for (auto& reservoir : Reservoirs)
        if (reservoir) reservoir->FlushBuffer(1);
}

void routingclass::ReleaseReservoirs() {
    if (Reservoirs.size() <= 1) {
        Reservoirs.clear();
        return;
    }
    if (Writer) *Writer << ", --> SPs...";
    for (int j = 1; j < static_cast<int>(Reservoirs.size()); ++j) {
        if (!Reservoirs[static_cast<size_t>(j)]) continue;
        Reservoirs[static_cast<size_t>(j)]->FlushBuffer(1);
        if (Writer) *Writer << " " << j << " ";
    }
    Reservoirs.clear();
    ReservoirCode.clear();
}

void routingclass::WriteReservoirStates(std::string& out) {
    const int R = Counts.SP;
    out += std::to_string(R) + " (number of reservoirs)\n";
    for (int j = 1; j <= R && j < static_cast<int>(Reservoirs.size()); ++j) {
        const SP_class& reservoir = *Reservoirs[static_cast<size_t>(j)];
        for (double v : reservoir.State) {
            AppendShortest(out, v);
            out += ' ';
        }
        // The withdrawal it still owes follows its state when there is one.
        if (reservoir.CarriedWithdrawal != 0) {
            AppendShortest(out, reservoir.CarriedWithdrawal);
            out += ' ';
        }
        out += " (reservoir " + std::to_string(j) + ")\n";
    }
}

void routingclass::ReadReservoirStates(FILE* file, const std::string& path, int position) {
    auto fail = [&]() {
        if (Writer) *Writer << "FATAL: error reading reservoir code in file " << path << " (position " << position + 1 << ")" << "[end-entry]";
        throw 71;
    };
    int reservoirs = -1;
    if (std::fscanf(file, "%d", &reservoirs) != 1 || reservoirs != Counts.SP) fail();
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') {
    }
    for (int j = 1; j <= Counts.SP && j < static_cast<int>(Reservoirs.size()); ++j) {
        SP_class& reservoir = *Reservoirs[static_cast<size_t>(j)];
        std::vector<double> values(reservoir.State.size(), 0.0);
        for (double& v : values) {
            if (std::fscanf(file, "%lf", &v) != 1 || !std::isfinite(v)) {
                if (Writer) *Writer << "FATAL: error reading the state of reservoir " << j << " in file " << path << "[end-entry]";
                throw 71;
            }
        }
        if (values[0] < 0) {
            if (Writer) *Writer << "FATAL: error reading the state of reservoir " << j << " in file " << path << ": negative volume" << "[end-entry]";
            throw 71;
        }
        reservoir.State = values;
        std::string rest;
        while ((c = std::fgetc(file)) != EOF && c != '\n') rest += static_cast<char>(c);
        // An optional carried withdrawal [m3] before the comment.
        reservoir.CarriedWithdrawal = 0;
        const size_t first = rest.find_first_not_of(" \t\r");
        if (first != std::string::npos && rest[first] != '(') {
            double carried = 0;
            const auto r = std::from_chars(rest.data() + first, rest.data() + rest.size(), carried);
            if (r.ec != std::errc() || !std::isfinite(carried) || carried < 0) {
                if (Writer) *Writer << "FATAL: error reading the state of reservoir " << j << " in file " << path << "[end-entry]";
                throw 71;
            }
            reservoir.CarriedWithdrawal = carried;
        }
        reservoir.WriteLakeLevel(reservoir.State[0]);
    }
}

// Lakes on the grid: without "lake_codes" lake modelling is off; otherwise
// "[lake_model]" switches it, and any spin-up switches it off.
void abflussmodellklasse::ReadLakeModel(const std::string& sectionName) {
    LakeSwitch = 0;
    if (FindGrid("lake_codes") <= 0) {
        if (Writer) {
            *Writer << "INFO: no LAKE-grid was found in " << "routing_model" << "\n"
                    << "Lake modelling is switched off for " << "routing_model" << ".\n"
                    << "[end-entry]";
        }
        return;
    }
    int spinUp = 0;
    if (FindSection("[SpinUp]", false)) {
        long long value = 0;
        if (ReadInteger(ControlFile, &value, INT32_MIN, INT32_MAX, "spin-up switch for ") == 1) spinUp = static_cast<int>(value);
    }
    FindSection(sectionName, true);
    int method = 0;
    ReadValue(ControlFile, "%d", &method, "flow control parameter for " + sectionName, &LineBuffer);
    int readGrids = 0;
    if (spinUp != 0) {
        method = 0;
    } else if (method != 0) {
        for (int j = 0; j < 3; ++j) ReadRestOfLine(ControlFile, &LineBuffer);
        ReadValue(ControlFile, "%d", &readGrids, "readgrids for " + sectionName, &LineBuffer);
    }
    LakeSwitch = method;
    GridReadMode = readGrids;
}

void abflussmodellklasse::LinkLakeGrids() {
    if (LakeSwitch == 0 || FindGrid("lake_codes") <= 0) return;
    double** lakeCodes = RequiredGrid("lake_codes");
    if (!OptionalGrid("ponding_storage")) RequiredGrid("ponding_storage_top");
    RequiredGrid("real_transpiration0");
    FindOneOfThreeGrids("throughfall0", "snowcover_outflow", "precipitation");
    for (int k = 1; k <= RoutingTracerCount; ++k) GetGridIndex("concstor_tracer_" + std::to_string(k) + "_unsatzon_model");
    double** regions = OptionalGrid("MPIRegions");
    long cells = 0;
    for (int r = 1; r <= NRows; ++r) {
        const int first = RowExtents ? RowExtents[r].first : 1;
        const int last = RowExtents ? RowExtents[r].last : NCols;
        for (int c = first; c <= last; ++c) {
            if (!(ZoneGrid && ZoneGrid[r][c] > NoData)) continue;
            if (regions && regions[r][c] != ProcessNumber) continue;
            if (lakeCodes[r][c] > NoData) ++cells;
        }
    }
    if (Writer) *Writer << "DEBUG: lakeCellsPerMPIRank[" << 0 << "] " << cells << "[end-entry]";
}
