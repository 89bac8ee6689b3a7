#include "forcing/meteoint_precicorr.h"

#include <cstdio>

#include "forcing/meteoint.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"

precicorrclass::precicorrclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                               int statisticsTableSize, meteointerpol** inputs, const std::string* names,
                               int inputCount, const ModelSettings& settings, MemoryGrid* gridTable)
    : modelobject(writer, settings.CompiledControlFile, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.InitialStateDirectory, settings.DefaultOutputDirectory),
      Inputs(inputs),
      InputCount(inputCount > 0 ? inputCount : 0),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    try {
        ModuleName = "precipitation_correction";
        AdoptModelSettings(*this, settings, gridTable);
        ReadSection();
        if (DoIt != 0) LinkInputs(names);
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void precicorrclass::ReadSection() {
    ControlFile = std::fopen(ControlFilePath.c_str(), "r");
    if (!ControlFile) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
    FindSection("[" + ModuleName + "]", true);
    ReadValue(ControlFile, "%d", &DoIt, "do_it fuer ", &LineBuffer);
    ReadValue(ControlFile, "%lf", &ThresholdTemperature, "Grenztemperatur fuer ", &LineBuffer);
    ReadValue(ControlFile, "%lf", &RainConstant, "Konstante Regen fuer ", &LineBuffer);
    ReadValue(ControlFile, "%lf", &RainSlope, "Anstieg Regen fuer ", &LineBuffer);
    ReadValue(ControlFile, "%lf", &SnowConstant, "Konstante Schnee fuer ", &LineBuffer);
    ReadValue(ControlFile, "%lf", &SnowSlope, "Anstieg Schnee fuer ", &LineBuffer);
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing" << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

void precicorrclass::LinkInputs(const std::string* names) {
    auto position = [&](const char* name) {
        for (int i = 1; i <= InputCount && names; ++i) {
            if (names[i] == name) return i;
        }
        return 0;
    };
    // Precipitation must exist, as an input or as a grid.
    PrecipitationInput = position("precipitation");
    if (PrecipitationInput == 0) {
        InputMissing = true;
        PrecipitationGridIndex = GetGridIndex("precipitation");
    }
    // Temperature and wind speed may be missing: then all precipitation
    // counts as rain, and the wind speed as 0.
    auto optional = [&](const char* name, int& input, int& gridIndex) {
        input = position(name);
        if (input > 0) return;
        gridIndex = FindGridEntry(GridTable, name, false);
        if (gridIndex > 0) {
            input = 0;
            InputMissing = true;
        } else {
            input = -1;
        }
    };
    optional("temperature", TemperatureInput, TemperatureGridIndex);
    optional("wind_speed", WindInput, WindGridIndex);
}

void precicorrclass::SetMaxAltitude(double maxAltitude) { MaxAltitude = maxAltitude; }

void precicorrclass::CorrectStationData() {}
void precicorrclass::CorrectGrid() {}

void precicorrclass::DeleteModule() {
    Inputs = nullptr;
    modelobject::DeleteModule();
}
