// What the application calls on the snow model besides its step: the grids it
// hands around, lakes, tracers, the snow section of the storage content file,
// flushing and teardown.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/state_checks.h"
#include "framework/storage_content_file.h"
#include "framework/zonalstatistic.h"
#include "framework/string_helpers.h"
#include "setup/tracer_ini.h"
#include "surface/snowmod.h"
#include "surface/snowmod_physics.h"

namespace {

}  // namespace

void schneemodellklasse::SetCorrectedRadiationGrid(double** grid) {
    if (Method != 0) correctedRadiationGrid = grid;
}

double** schneemodellklasse::GetSnowStorageGrid() { return Method == 0 ? nullptr : solidStorageGrid; }

int schneemodellklasse::GetSnowMethod() { return Method == 0 ? 0 : method; }

double schneemodellklasse::SeasonalMeltFactor(int day, int month) {
    return snowphys::SeasonalFactor(rmfMean, rmfAmplitude, snowphys::DayOfYear(day, month, DaysPerMonth));
}

// Without glaciers both radiation factors stay at 0.
double schneemodellklasse::SeasonalIceRadiationFactor(int day, int month) {
    return snowphys::SeasonalFactor(aiceMean, aiceAmplitude, snowphys::DayOfYear(day, month, DaysPerMonth));
}

double schneemodellklasse::SeasonalSnowRadiationFactor(int day, int month) {
    return snowphys::SeasonalFactor(asnowMean, asnowAmplitude, snowphys::DayOfYear(day, month, DaysPerMonth));
}

double schneemodellklasse::SaturationVapourPressureIce(double t) { return snowphys::SaturationVapourPressureIce(t); }

void schneemodellklasse::InitLakes(const std::string& sectionName) {
    if (FindGrid("lake_codes") <= 0) {
        if (Writer) {
            *Writer << "INFO: no LAKE-grid was found in " << ModuleName << "\n"
                    << "Lake modelling is switched off for " << ModuleName << "."
                    << "[end-entry]";
        }
        return;
    }
    FILE* file = std::fopen(ControlFilePath.c_str(), "rt");
    if (!file) ThrowFatal("FATAL: error opening " + ControlFilePath, 28);
    {
        LentControlFile lent(*this, file);
        const std::string section = sectionName.substr(0, 1200);
        try {
            FindSection(section, true);
            ReadValue(file, "%d", &lakeFlag, "flow control parameter for " + section);
        } catch (...) {
            std::fclose(file);
            throw;
        }
        if (hruGrid) lakeFlag = 0;
        if (lakeFlag != 0) {
            lakeCodesGrid = OptionalGrid("lake_codes");
            pondingStorageGrid = OptionalGrid("ponding_storage");
            if (!pondingStorageGrid) pondingStorageGrid = OptionalGrid("ponding_storage_top");
            if (!pondingStorageGrid) {
                std::fclose(file);
                ThrowFatal(std::string("FATAL: \n\n=======================================\n") +
                               "!!!! ERROR !!!! \n\n" + "\nLAKE-grid was found, but no POND-Grid. For using lakes," +
                               "\nboth grids as well as the MAXPOND grid must be present." +
                               "\n\n=======================================\n",
                           28);
            }
        }
    }
    if (std::fclose(file) != 0) {
        ThrowFatal("FATAL: error closing " + ControlFilePath + "after reading initialization method for " +
                       sectionName,
                   11);
    }
}

void schneemodellklasse::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                     int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
    if (*status != 0) throw *status;
    TracerDecay.assign(static_cast<size_t>(std::max(n, 0)) + 1, 1.0);
    TracerInput.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
    for (int i = 1; i <= n; ++i) {
        const TracerInfo& tracer = table[i];
        if (tracer.radioactive)
            TracerDecay[static_cast<size_t>(i)] =
                std::exp(-(TimeInterval / 60.0 / 24.0) / (1.442695041111 * tracer.half_time));
        char irrigation[64], input[64];
        std::snprintf(irrigation, sizeof irrigation, "concflux_tracer_%1d_%s", i, "irrigation");
        std::snprintf(input, sizeof input, "concflux_tracer_%1d_%s", i, "input");
        const int index = FindOneOfThreeGrids(irrigation, input, "\x01no grid bears this name");
        TracerInput[static_cast<size_t>(i)] = GridTable[index].Data;
    }
}

void schneemodellklasse::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
    TracerInput.clear();
}

void schneemodellklasse::SetGlacierRunoffTarget(RunoffTable qg) {
    if (Method == 0) return;
    runoffTarget = qg;
    SetStatus(1);
}

void schneemodellklasse::ReadStorageContent(const std::string* fileName, int readMode) {
    if (Method == 0) return;
    if (!fileName || readMode == 2 || readMode == 4) return;
    storageFileName = std::make_unique<std::string>(*fileName);
    // Without glaciers there is nothing to read; the section is still written.
    if (readMode == 0 || Qice_els.empty() || Qfirn_els.empty() || Qsnow_els.empty()) return;

    const std::string path = InDirectory(InputDirectory, *fileName);
    // The run was asked to go on from a state: a state that is not there
    // ends it rather than starting the glaciers cold without a word.
    auto missing = [&](const std::string& text, int code) {
        if (Writer) *Writer << "FATAL: (snow model) " << text << "[end-entry]";
        throw code;
    };
    storageFile = std::fopen(path.c_str(), "rt");
    if (!storageFile) missing("error opening storage content file " + path, 64);
    struct Closer {
        FILE*& file;
        ~Closer() {
            if (file) std::fclose(file);
            file = nullptr;
        }
    } closer{storageFile};
    std::string line;
    bool found = false;
    for (int ch; !found && (ch = std::fgetc(storageFile)) != EOF;) {
        if (ch != '\n') {
            line += static_cast<char>(ch);
            continue;
        }
        found = line.find("snow_model") != std::string::npos;
        line.clear();
    }
    if (!found && line.find("snow_model") != std::string::npos) found = true;
    if (!found) {
        std::fclose(storageFile);
        storageFile = nullptr;
        missing("error in storage file content reading: the section [snow_model] is missing in " + path, 71);
    }
    // Every value is checked: a section cut short ends the run naming the
    // value that was expected.
    const int n = Subbasins.Count;
    auto readInteger = [&](const std::string& description, int expected) {
        int value = 0;
        if (std::fscanf(storageFile, "%d", &value) != 1) StorageMismatchError(description, expected, NoData);
        return value;
    };
    const int count = readInteger("number of subbasins", n);
    ReadRestOfLine(storageFile, nullptr);
    if (count != n) StorageMismatchError("number of subbasins", n, count);
    std::vector<double>* arrays[3] = {&Qice_els, &Qfirn_els, &Qsnow_els};
    const char* names[3] = {"Qice_els", "Qfirn_els", "Qsnow_els"};
    for (int i = 1; i <= n; ++i) {
        for (int k = 0; k < 3; ++k) {
            const int code = readInteger("subbasin code", i);
            if (code != i) StorageMismatchError("subbasin code", i, code);
            double value = 0;
            if (std::fscanf(storageFile, "%lf", &value) != 1)
                StorageMismatchError(std::string(names[k]) + " of subbasin " + std::to_string(i), 0, NoData);
            // A storage's outflow: finite and not negative.
            statecheck::CheckValue(Writer, path,
                                   "[snow_model] " + std::string(names[k]) + " of subbasin " + std::to_string(i),
                                   value, {0, statecheck::MaxDischarge}, 71);
            (*arrays[k])[static_cast<size_t>(i)] = value;
            ReadRestOfLine(storageFile, nullptr);
        }
    }
}

void schneemodellklasse::WriteStorageContent(bool append) {
    if (!storageFileName) return;
    const std::string path = InDirectory(OutputDirectory, *storageFileName);
    const int n = Subbasins.Count;
    std::string text = "[snow_model]\n" + std::to_string(n) + " (number of subasins)\n";
    auto value = [](const std::vector<double>& v, int i) {
        return static_cast<size_t>(i) < v.size() ? v[static_cast<size_t>(i)] : 0.0;
    };
    for (int i = 1; i <= n; ++i) {
        const std::string id = std::to_string(i) + "\t";
        text += id + ShortestText(value(Qice_els, i)) + "(TG code and Qice_slr value)\n";
        text += id + ShortestText(value(Qfirn_els, i)) + "(TG code and Qfirn_slr value)\n";
        text += id + ShortestText(value(Qsnow_els, i)) + "(TG code and Qsnow_slr value)\n";
    }
    text += "\n";

    StorageContentStage own;
    StorageContentStage& stage = StorageStage ? *StorageStage : own;
    storageFile = append ? stage.Append(path, Writer) : stage.Create(path, Writer);
    const bool written = std::fwrite(text.data(), 1, text.size(), storageFile) == text.size();
    storageFile = nullptr;
    if (!written) ThrowFatal("FATAL: error writing storage content file " + path, 18);
    if (!StorageStage) own.Commit(Writer);
}

void schneemodellklasse::StorageMismatchError(const std::string& description, double run, double file) {
    if (Writer) {
        *Writer << "FATAL: (snow model) error in storage file content reading " << description
                << ":\nvalue in actual control is:   " << run << "\nbut value in storage file is: " << file
                << "\nRuvex throws..." << "[end-entry]";
    }
    throw 71;
}

void schneemodellklasse::ReadAndCompareStorageValue(double expected, const std::string& description) {
    double a = 0;
    if (!storageFile || std::fscanf(storageFile, "%lf", &a) != 1) StorageMismatchError(description, expected, a);
    if ((a != 0 && std::fabs((a - expected) / a) > 1e-5) || (a == 0 && expected != 0))
        StorageMismatchError(description, expected, a);
}

void schneemodellklasse::FlushStatistics() {
    if (Method == 0) return;
    for (zonalstatistic* s : {statOutflow, statMeltOnly, statSnowStorage, statSnowDays, statSnowAge, statSnowFraction,
                              statRainFraction, statAlbedo, statSnowTemp, statSurfTemp, statInputMass,
                              statMobileMass, statDeposition, statSnowStorageNoGlacier, statFirnMelt, statIceMelt,
                              statGlacierMelt, statSnowOnIceMelt, statFirnWE, statMassBalance,
                              statMassBalanceGlacier, statThawDepth})
        if (s && s->IsOn()) s->Flush();
    for (size_t i = 1; i < TracerStorage.size(); ++i)
        if (TracerStorage[i].Statistics && TracerStorage[i].Statistics->IsOn()) TracerStorage[i].Statistics->Flush();
}

void schneemodellklasse::ReleaseAll() {
    ReleaseOwnedStatistics();
    statOutflow = statMeltOnly = statSnowDays = statSnowAge = statSnowFraction = statRainFraction = statSnowStorage =
        statAlbedo = statSnowTemp = statSurfTemp = statInputMass = statMobileMass = statDeposition = statThawDepth =
            nullptr;
    // Only the grids the snow model made; found ones stay with their owners.
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        free_matrix(g.Data, 1, NRows, 1, NCols);
    }
    OwnGrids.clear();
    solidStorageGrid = liquidStorageGrid = totalStorageGrid = snowDaysGrid = snowAgeGrid = snowTempGrid =
        surfTempGrid = maxDepositionGrid = elevOrderRowGrid = elevOrderColGrid = inputMassGrid = mobileMassGrid =
            depositionGrid = snowFractionGrid = rainFractionGrid = snowcoverOutflowGrid = meltFromSnowcoverGrid =
                snowFreeDaysGrid = snowCoverDaysGrid = meltFromFirnGrid = meltFromIceGrid = nullptr;
    glacierFractionGrid = glacierCodeGrid = debrisGrid = glacierRadiationGrid = nullptr;
    if (firnStack) free_matrix3d(firnStack, 1, NRows);
    firnStack = nullptr;
    firnWEGrid = massBalanceGrid = oldMassBalanceGrid = glacierSolidStorageGrid = glacierLiquidStorageGrid =
        glacierTotalStorageGrid = glacierSnowMeltGrid = glacierSnowTempGrid = glacierSurfTempGrid =
            glacierSnowEvaporationGrid = oldGlacierFractionGrid = oldGlacierCodeGrid = nullptr;
    glaciers.clear();
    glacierIndex.clear();
    Qice_els.clear();
    Qfirn_els.clear();
    Qsnow_els.clear();
    iceInflow.clear();
    firnInflow.clear();
    snowInflow.clear();
    glacierAreas.clear();
    IceSum.clear();
    FirnSum.clear();
    SnowOnIceSum.clear();
    AreaSum.clear();
    AreaSumDone = false;
    GlacierRowTerms.clear();
    Slides = SlideWalk{};
}

void schneemodellklasse::DeleteModule() {
    if (Deleted()) return;
    if (Method > 0 && Status != 0) WriteStorageContent(true);
    ReleaseAll();
    storageFileName.reset();
    correctedRadiationGrid = nullptr;
    runoffTarget = nullptr;
    modelobject::DeleteModule();
}
