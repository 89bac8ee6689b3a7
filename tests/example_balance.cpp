// The water balance of a whole run, year by year, for the basin and for each
// of its subbasins: the application is stepped in this process on a control
// file, and the ledgers read its state after every step (see
// support/basin_ledger.h). `make balance` runs it on the example basin.
//
//     ruvex_balance [-steps] [control file [directory]]
//
// With -steps it also lists every step in which a ledger does not close to
// 1e-9 of what moved in it, with the terms of that step.
//
// The run writes its outputs as `ruvex` would. The tables give every term in
// mm over the ledger's area; the exit code is 0 when the basin's ledger and
// every subbasin's close every year to 1e-9 of their precipitation, else 1
// (2 when the run itself fails).

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/modapuzr.h"
#include "soil/unsatzon.h"
#include "support/basin_ledger.h"
#include "support/in_process_run.h"

using testsupport::BasinLedger;

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool steps = !arguments.empty() && arguments[0] == "-steps";
    if (steps) arguments.erase(arguments.begin());
    const std::string control = arguments.size() > 0 ? arguments[0] : "basin.ctl";
    const std::string directory = arguments.size() > 1 ? arguments[1] : ".";
    constexpr double Limit = 1e-9;

    testsupport::InProcessRun process(std::filesystem::absolute(directory).string(), "balance_diag.xml");
    int code = process.Init(control);
    if (code != 0) {
        std::fprintf(stderr, "the set-up of %s ended with code %d\n%s", control.c_str(), code,
                     process.Console.str().c_str());
        return 2;
    }
    ModellApplication& app = process.App;
    std::vector<BasinLedger> ledgers{BasinLedger(app)};
    std::vector<std::string> names{"basin"};
    const unsatzonmodellklasse* soil = app.UnsaturatedZone;
    const int subbasins = soil ? static_cast<int>(soil->SubbasinCellWeight.size()) - 1 : 0;
    for (int s = 1; s <= subbasins; ++s) {
        ledgers.emplace_back(app, s);
        names.push_back("subbasin " + std::to_string(s));
    }
    // The ledgers open before the first step, so that a year's sums hold
    // every one of its steps.
    for (BasinLedger& ledger : ledgers) ledger.Open();
    int64_t year = 0;
    app.AfterTimeStep = [&] {
        for (BasinLedger& ledger : ledgers) ledger.BookStep();
        year = app.CurrentYear;
        for (size_t l = 0; steps && l < ledgers.size(); ++l) {
            const BasinLedger& ledger = ledgers[l];
            if (!(std::fabs(ledger.StepResidual()) > Limit * ledger.StepScale())) continue;
            std::printf("%s, %lld-%02lld-%02lld hour %lld: residual %.9g m3\n", names[l].c_str(),
                        static_cast<long long>(app.CurrentYear), static_cast<long long>(app.CurrentMonth),
                        static_cast<long long>(app.CurrentDay), static_cast<long long>(app.CurrentHour),
                        ledger.StepResidual());
            for (const BasinLedger::Term& t : ledger.Terms())
                if (t.StepValue != 0) std::printf("    %-38s %.9g\n", t.Name.c_str(), t.StepValue);
        }
        if (app.CurrentHour == 24 && app.CurrentDay == 31 && app.CurrentMonth == 12)
            for (BasinLedger& ledger : ledgers) ledger.ClosePeriod(std::to_string(app.CurrentYear));
    };
    code = process.Run();
    app.AfterTimeStep = nullptr;
    if (code != 0) {
        std::fprintf(stderr, "the run ended with code %d\n%s", code, process.Console.str().c_str());
        return 2;
    }
    // A run that ends within a year closes that year where it ends.
    for (BasinLedger& ledger : ledgers) {
        int booked = 0;
        for (const BasinLedger::Period& p : ledger.Periods()) booked += p.Steps;
        if (booked < ledger.Steps()) ledger.ClosePeriod(std::to_string(year) + " (to the run's end)");
    }

    bool closed = true;
    for (size_t k = 0; k < ledgers[0].Periods().size(); ++k) {
        for (size_t l = 0; l < ledgers.size(); ++l) {
            std::printf("%s\n", ledgers[l].PeriodTableInMm(k, names[l]).c_str());
        }
        for (size_t l = 0; l < ledgers.size(); ++l) {
            const double precipitation = ledgers[l].PeriodTotal(k, "precipitation");
            const double residual = ledgers[l].Periods()[k].Residual;
            if (!(std::fabs(residual) <= Limit * precipitation)) closed = false;
        }
    }
    std::printf("the ledgers of the basin and its subbasins %s every year to %.0e of their precipitation\n",
                closed ? "close" : "do NOT close", Limit);
    return closed ? 0 : 1;
}
