#include "forcing/meteoint_precicorr.h"

#include <algorithm>
#include <cstdio>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_station.h"
#include "forcing/meteoint_precicorr_physics.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"

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
    // A quantity given only as a grid leaves nothing to correct at the
    // stations.
    if (!InputMissing) PrepareStations();
}

void precicorrclass::PrepareStations() {
    const meteointerpol* precipitation = Input(PrecipitationInput);
    PrecipitationMethod = precipitation ? precipitation->InterpolationMethod : 0;
    StationCount = 0;
    if (PrecipitationMethod == 2 || PrecipitationMethod == 10) {
        StationCount = 1;
    } else if (precipitation) {
        const StationFileReader* file = precipitation->StationFile(0);
        if (file) StationCount = static_cast<int>(std::max<int64_t>(file->StationCount(), 0));
    }
    StationTemperature.assign(static_cast<size_t>(StationCount) + 1, 0.0);
    StationWind.assign(static_cast<size_t>(StationCount) + 1, 0.0);
}

meteointerpol* precicorrclass::Input(int position) const {
    if (!Inputs || position < 1 || position > InputCount) return nullptr;
    return Inputs[position];
}

double precicorrclass::NoDataOf(int position) const {
    if (const meteointerpol* input = Input(position)) return input->StationNoData();
    if (const meteointerpol* last = Input(InputCount)) return last->StationNoData();
    return 9999;
}

double** precicorrclass::GridOf(int position, int gridIndex) const {
    if (position > 0) {
        const meteointerpol* input = Input(position);
        return input ? input->ResultGrid : nullptr;
    }
    if (position < 0 || !GridTable || gridIndex < FirstGridIndex || gridIndex > LastGridIndex) return nullptr;
    return GridTable[gridIndex].Data;
}

void precicorrclass::SetMaxAltitude(double maxAltitude) { MaxAltitude = maxAltitude; }

void precicorrclass::CorrectStationData() {
    if (DoIt == 0 || InputMissing) return;
    meteointerpol* precipitation = Input(PrecipitationInput);
    if (!precipitation) return;
    meteointerpol* temperature = Input(TemperatureInput);
    meteointerpol* wind = Input(WindInput);
    const meteoint::UndercatchParameters p{ThresholdTemperature, RainConstant, RainSlope, SnowConstant, SnowSlope};
    const double noDataP = precipitation->StationNoData();
    const double noDataT = temperature ? temperature->StationNoData() : 0;
    const double noDataW = wind ? wind->StationNoData() : 0;

    // Scratch for the point service, sized for the largest station file.
    int64_t largest = 0;
    for (const meteointerpol* input : {precipitation, temperature, wind}) {
        const StationFileReader* file = input ? input->StationFile(0) : nullptr;
        if (file) largest = std::max(largest, file->StationCount());
    }
    Work.assign(static_cast<size_t>(largest) + 1, 0.0);

    // The factor at a point; a missing temperature counts as rain, a missing
    // wind speed as calm.
    auto factorAt = [&](double x, double y, double z, double* stationT, double* stationU) {
        const double t = temperature ? meteoint::UsableTemperature(temperature->InterpolatePoint(Work.data(), x, y, z),
                                                                   noDataT, ThresholdTemperature)
                                     : ThresholdTemperature + 1;
        const double u =
            wind ? meteoint::UsableWindSpeed(wind->InterpolatePoint(Work.data(), x, y, z), noDataW) : 0.0;
        if (stationT) *stationT = t;
        if (stationU) *stationU = u;
        return meteoint::UndercatchFactor(p, t, u);
    };

    const int method = PrecipitationMethod;
    if (method != 2 && method != 10) {
        StationFileReader* file = precipitation->StationFile(0);
        if (file) {
            std::vector<double>& values = file->Values();
            const StationDescription& stations = file->Stations();
            const size_t n = std::min({static_cast<size_t>(StationCount) + 1, values.size(), stations.X.size(),
                                       stations.Y.size(), stations.Altitude.size(), StationTemperature.size(),
                                       StationWind.size()});
            // All factors first: the point service of one input never sees a
            // half-corrected station file.
            std::vector<double> factors(n, 1.0);
            for (size_t i = 1; i < n; ++i) {
                factors[i] = factorAt(stations.X[i], stations.Y[i], stations.Altitude[i], &StationTemperature[i],
                                      &StationWind[i]);
            }
            for (size_t i = 1; i < n; ++i) {
                values[i] = meteoint::CorrectedPrecipitation(values[i], noDataP, factors[i]);
            }
        }
    }

    if (method == 2 || method == 3 || method == 10 || method == 11) {
        // No horizontal position: the factor of an altitude alone.
        const double g = NoData;
        meteoint::RefitRegression(precipitation->Regression(), noDataP, MaxAltitude,
                                  [&](double z) { return factorAt(g, g, z, nullptr, nullptr); });
    }
}

void precicorrclass::CorrectGrid() {
    if (DoIt == 0) return;
    double** precipitation = GridOf(PrecipitationInput, PrecipitationGridIndex);
    if (!precipitation) return;
    double** temperature = GridOf(TemperatureInput, TemperatureGridIndex);
    double** wind = GridOf(WindInput, WindGridIndex);
    const int regionsIndex = GridTable ? FindGrid("MPIRegions") : 0;
    double** regions = regionsIndex > 0 ? GridTable[regionsIndex].Data : nullptr;
    const meteoint::UndercatchParameters p{ThresholdTemperature, RainConstant, RainSlope, SnowConstant, SnowSlope};
    const double noDataP = NoDataOf(PrecipitationInput);
    const double noDataT = NoDataOf(TemperatureInput);
    const double noDataW = NoDataOf(WindInput);
    const double g = NoData;
    const int process = ProcessNumber;
    const int rows = NRows;
    const int cols = NCols;
    const RowExtent* extents = RowExtents;

#pragma omp parallel for schedule(static, 1) if (WorthThreads(static_cast<int64_t>(rows) * cols))
    for (int row = 1; row <= rows; ++row) {
        const int first = extents ? std::max(extents[row].first, 1) : 1;
        const int last = extents ? std::min(extents[row].last, cols) : cols;
        double* cells = precipitation[row];
        for (int col = first; col <= last; ++col) {
            if (regions && regions[row][col] != process) continue;
            // A cell the inputs left without a value keeps the grid's marker.
            if (cells[col] == g) continue;
            double t = ThresholdTemperature + 1;
            if (temperature && temperature[row][col] != g) {
                t = meteoint::UsableTemperature(temperature[row][col], noDataT, ThresholdTemperature);
            }
            double u = 0;
            if (wind && wind[row][col] != g) u = meteoint::UsableWindSpeed(wind[row][col], noDataW);
            cells[col] = meteoint::CorrectedPrecipitation(cells[col], noDataP, meteoint::UndercatchFactor(p, t, u));
        }
    }
}

void precicorrclass::DeleteModule() {
    StationTemperature.clear();
    StationTemperature.shrink_to_fit();
    StationWind.clear();
    StationWind.shrink_to_fit();
    Work.clear();
    Work.shrink_to_fit();
    Inputs = nullptr;
    modelobject::DeleteModule();
}
