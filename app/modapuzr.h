#pragma once
// One model run: builds, wires, runs and tears down every component of the
// run described by one control file.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/modapuzr_menu.h"
#include "framework/memory_handling.h"
#include "framework/model_settings.h"
#include "framework/storage_content_file.h"
#include "parameters/defltuzr_spinup.h"

class DiagnosticsWriter;
class defaultini;
class tracer_ini_class;
class meteointerpol;
class precicorrclass;
class RegionalSuperposition;
class expokorrklasse;
class verdunstungsmodellklasse;
class schneemodellklasse;
class interzeptionsmodellklasse;
class siltingupclass;
class unsatzonmodellklasse;
class surfaceroutingclass;
class irrigationclass;
class gwflowclass;
class abflussmodellklasse;
class SpecialOutputClass;
struct MemoryGrid;
struct StatisticsTableEntry;
struct TracerInfo;

class ModellApplication : public memory_handling {
public:
    ModellApplication();
    ~ModellApplication() override;

    // Builds the application for the control file in argument `index`; every
    // failure is thrown as an integer code.
    void init(DiagnosticsWriter* writer, int argc, char** argv, int index);
    // Runs the time loop; returns the Ctrl-C state as it stands at the end.
    virtual int run();
    // Flushes, lets every component finish in a fixed order and releases all.
    virtual void ClearMemory();
    // The end of a run by a thrown code: the buffered statistics and point
    // series of the completed steps go to their files; nothing else is
    // written and nothing thrown leaves it.
    void FlushAfterError() noexcept;

    int InitComplete = 0;
    int TeardownStarted = 0;  // set once the components have been told to finish
    int Finished = 0;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
    std::string ControlFileName;
    std::string CompiledControlFileName;

    // Called after every time step, once all components have finished it
    // (a test's balance over the whole model).
    std::function<void()> AfterTimeStep;

    // The Ctrl-C menu and the coupling waits.
    virtual void WaitTicks(long ticks);
    virtual void WaitForFile(const std::string& name, long ticks);
    RunHooks MenuHooks();
    CouplingProgress CouplingState;
    // The sections of the storage content file, renamed over the target
    // once the last section is written.
    StorageContentStage StorageContent;

    std::unique_ptr<MemoryGrid[]> GridTable;
    std::vector<StatisticsTableEntry> StatisticsTable;
    int StatisticsTableSize = 200;
    ModelSettings Settings;

    int MeteoInputCount = 0;
    std::vector<meteointerpol*> MeteoInputs;  // 1-based
    std::vector<std::string> MeteoInputNames;  // 1-based

    int SpinUpSwitch = 0;
    int doTemperaturePreSpinUp = 0;
    int repeatCnt = 0;
    std::vector<HRUEntry> HRUList;

    int TracerCount = 0;
    TracerInfo* Tracers = nullptr;

    defaultini* Setup = nullptr;
    tracer_ini_class* TracerSettings = nullptr;
    RegionalSuperposition* Superposition = nullptr;
    precicorrclass* PrecipitationCorrection = nullptr;
    expokorrklasse* RadiationCorrection = nullptr;
    verdunstungsmodellklasse* Evapotranspiration = nullptr;
    schneemodellklasse* Snow = nullptr;
    interzeptionsmodellklasse* Interception = nullptr;
    siltingupclass* SiltingUp = nullptr;
    unsatzonmodellklasse* UnsaturatedZone = nullptr;
    surfaceroutingclass* SurfaceRouting = nullptr;
    irrigationclass* Irrigation = nullptr;
    gwflowclass* Groundwater = nullptr;
    abflussmodellklasse* Routing = nullptr;
    SpecialOutputClass* SpecialOutput = nullptr;

private:
    void Construct(int argc, char** argv);
    void TimeStep();
    void PreSpinUp();
    // The flush of every statistics and output buffer, in the teardown's order.
    std::vector<std::function<void()>> FlushOperations();
    void FlushAll();
    void FinishComponents();
    void DeleteComponents();
};
