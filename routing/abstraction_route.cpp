// The abstractions of a routing description: their elements, rules and
// files, their share of the channel routing step, and the pairing of
// internal abstractions with internal inflows.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "routing/abfluss.h"
#include "routing/abfluss_routingclass.h"
#include "routing/abstraction.h"
#include "routing/routing_text.h"

void routingclass::SetAblaufModus(FILE* controlFile, int e, const std::string& text, size_t& position,
                                  int subIntervals, int64_t year, int64_t month, int64_t day, int64_t hour) {
    const size_t found = text.find("AL", position);
    if (found == std::string::npos) {
        position = text.size();
        return;
    }
    position = found + 2;
    const char* start = text.c_str() + position;
    char* end = nullptr;
    const long code = std::strtol(start, &end, 10);
    position += static_cast<size_t>(end - start);
    const int k = e - ChannelCount;
    if (k < 1 || k > Counts.AL) return;
    // A number is a whole token: "AL 1x" names no abstraction. (A word that
    // holds "AL", such as "TOTAL =", is an element without a number, 0.)
    const bool glued = end != start && position < text.size() &&
                       (std::isalnum(static_cast<unsigned char>(text[position])) || text[position] == '.') &&
                       !routingtext::KeywordAt(text, position);
    if (glued) {
        if (Writer) {
            *Writer << "FATAL: no abstraction number after \"AL\" in the routing description of TG " << OutletCode
                    << " (\"" << routingtext::TokenAt(text, found + 2) << "\")" << "[end-entry]";
        }
        throw 44;
    }
    if (Abstractions.empty()) {
        Abstractions.resize(static_cast<size_t>(Counts.AL) + 1);
        for (int j = 1; j <= Counts.AL; ++j) {
            Abstractions[static_cast<size_t>(j)] = std::make_unique<AL_class>();
            Abstractions[static_cast<size_t>(j)]->SetParams(Writer, Links.Tracers, Links.TracerCount, OutletCode,
                                                            CatchmentArea, AreaFactor, TimeStep, OutputDirectory);
        }
    }
    SubIntervals = subIntervals;
    // A description without channels still needs its outlet flows.
    if (OutletFlows.empty()) {
        const size_t T = static_cast<size_t>(Links.TracerCount + 1);
        OutletFlows.assign(T, std::vector<double>(static_cast<size_t>(subIntervals + 1), 0.0));
        ChannelFlows.assign(T, std::vector<double>(static_cast<size_t>(subIntervals + 1), 0.0));
    }
    const int value = code > INT_MAX || code < INT_MIN ? 0 : static_cast<int>(code);
    Abstractions[static_cast<size_t>(k)]->ReadDescription(controlFile, value, text, position, subIntervals, year,
                                                          month, day, hour);
}

void routingclass::InitAbstractionRules(FILE* controlFile) {
    for (int k = 1; k <= Counts.AL && static_cast<size_t>(k) < Abstractions.size(); ++k)
        Abstractions[static_cast<size_t>(k)]->ReadRules(controlFile);
}

void routingclass::RescaleAbstractions(double ratio, double area) {
    for (auto& a : Abstractions)
        if (a) a->Rescale(ratio, area);
}

void routingclass::FlushAbstractions() {
    for (auto& a : Abstractions)
        if (a) a->FlushBuffer(1);
}

// Abstractions after the channels have reached the outlet: each takes its
// amount of the water left at the outlet; internal ones hand it (m3/s) to
// their paired inflow.
void routingclass::RouteAbstractions(int64_t year, int64_t month, int64_t day, int64_t hour) {
    AbstractionSum = 0;
    if (Counts.AL == 0 || Abstractions.empty()) return;
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    const int Ns = SubIntervals;
    double** F = StepFlows;
    double*** Fs = SubIntervalFlows;
    const int g = RankOf(OutletCode);
    const double area = CatchmentArea / AreaFactor;
    const bool zeroDate = month < 1;
    // With reservoirs the abstractions draw on the last reservoir's volume
    // less what it gives to irrigation, and leave the outlet flow to it.
    const SP_class* reservoir = Reservoirs.size() > 1 ? Reservoirs.back().get() : nullptr;
    double available = F[0][g];
    if (reservoir) {
        const double volume = std::max(0.0, reservoir->State[0] - ReservoirIrrigationVolume(zeroDate));
        available = ConvertToMm(volume / TimeStep / 60, area, TimeStep);
    }
    std::vector<double>& X = TracerLoads;
    for (int k = 1; k <= Counts.AL; ++k) {
        AL_class& al = *Abstractions[static_cast<size_t>(k)];
        if (al.Mode == AL_class::InternWithRuleFromReservoir) continue;
        const double a = al.CalcAbstraction(F, AbstractionSum, available, year, month, day, hour);
        X[0] = ConvertToM3s(a, area, TimeStep);
        for (int t = 1; t <= T; ++t)
            X[static_cast<size_t>(t)] = reservoir ? reservoir->State[static_cast<size_t>(t)] : F[t][g];
        if (!zeroDate) al.BufferRecord(year, month, day, hour, X.data());
        if (!reservoir && a > 0) {
            const double before = F[0][g];
            // Taken from every sub-interval alike; where a sub-interval holds
            // less, in proportion to what each holds (the mean is at least a).
            bool uniform = true;
            for (int s = 1; s <= Ns; ++s) uniform = uniform && Fs[0][s][g] >= a;
            if (uniform) {
                for (int s = 1; s <= Ns; ++s) Fs[0][s][g] -= a;
                F[0][g] -= a;
            } else {
                const double keep = F[0][g] > 0 ? std::max(0.0, 1 - a / F[0][g]) : 0.0;
                double sum = 0;
                for (int s = 1; s <= Ns; ++s) {
                    Fs[0][s][g] *= keep;
                    sum += Fs[0][s][g];
                }
                F[0][g] = sum / Ns;
            }
            if (Exchange) Exchange->LastStep.Abstractions += (before - F[0][g]) * area * 1000;
        }
        if (al.Mode == AL_class::Intern || al.Mode == AL_class::InternWithRule) {
            const int z = al.Code;
            for (int s = 1; s <= Ns; ++s) {
                Fs[0][s][n + z] = X[0];
                for (int t = 1; t <= T; ++t) Fs[t][s][n + z] = F[t][g];
            }
            F[0][n + z] = X[0];
        }
    }
}

// Internal inflow d and internal abstraction d belong together, wherever
// they stand; each must have exactly one partner.
void abflussmodellklasse::ConnectInternalFlows() {
    const int n = Subbasins.Count;
    const char* head = "FATAL: \n ---> Error in connecting internal abstractions with internal inflows:\n";
    std::vector<std::vector<char>> connected(static_cast<size_t>(DescriptionCount) + 1);
    for (int k = 1; k <= DescriptionCount; ++k)
        connected[static_cast<size_t>(k)].assign(Descriptions[static_cast<size_t>(k)]->Abstractions.size(), 0);
    for (int i = 1; i <= DescriptionCount; ++i) {
        routingclass& di = *Descriptions[static_cast<size_t>(i)];
        for (int z = 1; z <= di.Counts.ZL; ++z) {
            if (di.InflowMode[static_cast<size_t>(z)] != 3) continue;
            const int d = di.InflowNumber[static_cast<size_t>(z)];
            bool found = false;
            for (int k = 1; k <= DescriptionCount; ++k) {
                routingclass& dk = *Descriptions[static_cast<size_t>(k)];
                for (size_t j = 1; j < dk.Abstractions.size(); ++j) {
                    AL_class& al = *dk.Abstractions[j];
                    if (!al.IsInternal() || al.Code != d) continue;
                    if (found) {
                        if (Writer) {
                            *Writer << head << "in routing description " << k << " for TG " << dk.OutletCode << ":\n"
                                    << "Inflow " << d << " is already connected to an internal abstraction.\n"
                                    << "Each abstaction (AL-element) must be conencted to exactly one internal "
                                       "inflow(ZL-element)\n"
                                    << "[end-entry]";
                        }
                        throw 300;
                    }
                    if (dk.OutletCode == di.OutletCode) {
                        if (Writer) {
                            *Writer << head << "Abstraction AL " << d << " from routing description " << k
                                    << " and inflow ZL " << d << " are both defined for the same routing-subbasin TG "
                                    << di.OutletCode << ".\n" << "this is not allowed\n" << "[end-entry]";
                        }
                        throw 301;
                    }
                    al.ConnectInflow(di.RankOf(di.OutletCode), n + d, di.CatchmentArea, di.AreaFactor,
                                     dk.CatchmentArea);
                    connected[static_cast<size_t>(k)][j] = 1;
                    found = true;
                }
            }
            if (!found) {
                if (Writer) {
                    *Writer << head << "in routing description " << i << " for TG " << di.OutletCode << ":\n"
                            << "Internal Inflow ZL " << d << " has no conenction to an internal abstraction.\n"
                            << "this is not allowed\n" << "[end-entry]";
                }
                throw 302;
            }
        }
    }
    for (int b = 1; b <= DescriptionCount; ++b) {
        routingclass& db = *Descriptions[static_cast<size_t>(b)];
        for (size_t j = 1; j < db.Abstractions.size(); ++j) {
            if (!db.Abstractions[j]->IsInternal() || connected[static_cast<size_t>(b)][j]) continue;
            if (Writer) {
                *Writer << head << "in routing description " << b << " for TG " << db.OutletCode << ":\n"
                        << "Internal abstraction AL " << db.Abstractions[j]->Code
                        << " is not connected to any internal inflow.\n" << "[end-entry]";
            }
            throw 303;
        }
    }
}
