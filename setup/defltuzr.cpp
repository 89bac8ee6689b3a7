#include "setup/defltuzr.h"

#include <cstdlib>
#include <exception>

#include "framework/diagnostics_writer.h"

defaultini::defaultini(int* status, DiagnosticsWriter* writer, const std::string& controlFilePath,
                       StatisticsTableEntry* statisticsTable, int statisticsTableSize, int modelVariant,
                       MemoryGrid* gridTable)
    : modelobject(writer, controlFilePath) {
    *status = 0;
    try {
        ModuleName = "defaults";
        if (Writer) {
            *Writer << "file " << "defltuzr" << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
        }
        StatisticsTable = statisticsTable;
        StatisticsTableSize = statisticsTableSize;
        ModelVariant = modelVariant;
        GridTable = gridTable;
        Substeps = 1;
        InitStepCounter = 0;
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void defaultini::FreeBuffers(void* first, void* second, void* third, void* fourth, void* fifth, void* sixth) {
    for (void* buffer : {first, second, third, fourth, fifth, sixth}) {
        if (buffer) std::free(buffer);
    }
}

void defaultini::DeleteModule() {
    if (Deleted()) return;
    Coupling.Release();
    if (LanduseGrids) LanduseGrids->Release(Settings.WriteAsciiGrids, Settings.WriteDoubleGrids);
    MultilayerTable.clear();
    LanduseTable.clear();
    SoilTable.clear();
    IrrigationTable.clear();
    LanduseLayers.clear();
    CloseGridStatistics();
    ReleaseModelGrids();
    FreeMPIRegions(*this, Decomposition);
    Settings.MeteoNames = nullptr;
    Settings.OutputListCodes = nullptr;
    MeteoNameList.clear();
    MeteoNameList.shrink_to_fit();
    OutputListCodeList.clear();
    OutputListCodeList.shrink_to_fit();
    InputDirectory.clear();
    OutputDirectory.clear();
    modelobject::DeleteModule();
}

void defaultini::ValueOutOfRange(const std::string& description, long long value, const std::string& allowed) {
    if (Writer) {
        *Writer << "FATAL: error in control file, " << description;
        if (!ModuleName.empty()) *Writer << "; " << ModuleName;
        *Writer << ": the value " << value << " is not allowed (" << allowed << ")" << "[end-entry]";
    }
    throw 17;
}
