#include "surface/snowmod.h"

schneemodellklasse::schneemodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize, const std::string& sectionName,
                                       const ModelSettings& settings, MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void schneemodellklasse::SetCorrectedRadiationGrid(double** grid) {
    if (Method != 0) CorrectedRadiation = grid;
}

double** schneemodellklasse::GetSnowStorageGrid() { return Method == 0 ? nullptr : SnowStorage; }

int schneemodellklasse::GetSnowMethod() { return Method; }

void schneemodellklasse::InitLakes(const std::string&) {}

void schneemodellklasse::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                     int statisticsTableSize) {
    *status = 0;
    if (Method != 0) teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
}

void schneemodellklasse::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void schneemodellklasse::SetGlacierRunoffTarget(RunoffTable qg) {
    if (Method == 0) return;
    GlacierRunoffTarget = qg;
    SetStatus(1);
}

void schneemodellklasse::ReadStorageContent(const std::string*, int) {}

void schneemodellklasse::FlushStatistics() {}

void schneemodellklasse::DeleteModule() {
    CorrectedRadiation = nullptr;
    GlacierRunoffTarget = nullptr;
    modelobject::DeleteModule();
}
