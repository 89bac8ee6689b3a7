#include "app/modapuzr.h"

#include <cstring>
#include <functional>
#include <initializer_list>

#include "app/modapuzr_menu.h"
#include "forcing/expokorr.h"
#include "framework/build_stamp.h"
#include "forcing/meteoint.h"
#include "forcing/meteoint_precicorr.h"
#include "forcing/meteoint_superposition.h"
#include "framework/diagnostics_writer.h"
#include "framework/end_state_stage.h"
#include "framework/gridtable.h"
#include "framework/signals.h"
#include "framework/statistics_table.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "framework/teilmod_pointseries.h"
#include "framework/vegetation_state.h"
#include "lateral/gwflow.h"
#include "lateral/irrigate.h"
#include "lateral/siltingup.h"
#include "lateral/surfrout.h"
#include "routing/abfluss.h"
#include "setup/defltuzr.h"
#include "setup/tracer_ini.h"
#include "soil/unsatzon.h"
#include "surface/etpetr.h"
#include "surface/interzep.h"
#include "surface/snowmod.h"

namespace {

// Throws a non-zero status reported by a constructor.
void ThrowStatus(int status) {
    if (status != 0) throw status;
}

}  // namespace

ModellApplication::ModellApplication() = default;

ModellApplication::~ModellApplication() {
    // Only memory is freed here; a component whose run never reached the
    // teardown writes nothing.
    DeleteComponents();
}

void ModellApplication::init(DiagnosticsWriter* writer, int argc, char** argv, int index) {
    Writer = writer;
    ModuleName = "modapuzr";
    try {
        *Writer << "file " << "modapuzr" << ", compiled at " << RuvexBuildStamp() << "[end-entry]";
        ControlFileName = argv[index];
        Construct(argc, argv);
    } catch (int code) {
        *Writer << "FATAL: exceptions in ModellApplication::init() caught!" << "[end-entry]";
        throw;
    }
}

void ModellApplication::Construct(int argc, char** argv) {
    GridTable = CreateGridTable();
    StatisticsTable.assign(static_cast<size_t>(StatisticsTableSize) + 1, StatisticsTableEntry{});
    MemoryGrid* grids = GridTable.get();
    StatisticsTableEntry* statistics = StatisticsTable.data();
    const int size = StatisticsTableSize;
    int status = 0;

    // The set-up object, driven through its steps.
    Setup = new defaultini(&status, Writer, ControlFileName, statistics, size, 2, grids);
    ThrowStatus(status);
    int done = 0;
    while (!done) Setup->InitStep(&done);
    Setup->InitGridStatistics();
    Setup->ExportSettings(Settings);
    CompiledControlFileName = Settings.CompiledControlFile;
    MeteoInputCount = Settings.MeteoInputCount;
    Setup->SetStatus(1);
    const ModelSettings& s = Settings;

    SpinUpSettings spinUp = Setup->ReadSpinUpAndCreateHRUs();
    SpinUpSwitch = spinUp.SpinUpSwitch;
    doTemperaturePreSpinUp = spinUp.doTemperaturePreSpinUp;
    repeatCnt = spinUp.repeatCnt;
    HRUList = std::move(spinUp.HRUList);

    // Meteorological inputs, in the order of their names.
    MeteoInputs.assign(static_cast<size_t>(MeteoInputCount) + 1, nullptr);
    MeteoInputNames.assign(static_cast<size_t>(MeteoInputCount) + 1, std::string());
    for (int i = 1; i <= MeteoInputCount; ++i) {
        MeteoInputNames[static_cast<size_t>(i)] = s.MeteoNames[i];
        const int entry = FindFreeGridEntry(grids);
        if (entry == NoFreeGridEntry) {
            *Writer << "FATAL: no more free grids in memeory, (max. " << 1000 << ")!" << "[end-entry]";
            throw 12;
        }
        auto* input = new meteointerpol(&status, Writer, statistics, size, s.MeteoNames[i], entry, s, grids);
        MeteoInputs[static_cast<size_t>(i)] = input;
        ThrowStatus(status);
        input->SetWarnings(s.SearchRadiusWarning);
        input->SetTimeStep(s.MinToIntEnd / 60.0);
        if (s.MeteoNames[i].find("irrigation_amounts") != std::string::npos) input->SetWarnings(0);
        input->SetStatus(1);
    }

    TracerSettings = new tracer_ini_class(&status, Writer, s.CompiledControlFile, &TracerCount, &Tracers,
                                          s.WriteAsciiGrids, s.WriteDoubleGrids, s.InitialStateDirectory,
                                          s.DefaultOutputDirectory);
    ThrowStatus(status);
    TracerSettings->SetStatus(1);

    Superposition = new RegionalSuperposition(&status, Writer, statistics, size, "RegionalSuperposition", s, grids);
    PrecipitationCorrection = new precicorrclass(&status, Writer, statistics, size, MeteoInputs.data(),
                                                 MeteoInputNames.data(), MeteoInputCount, s, grids);
    ThrowStatus(status);
    PrecipitationCorrection->SetMaxAltitude(Setup->GetMaxElevation());
    PrecipitationCorrection->SetStatus(1);

    RadiationCorrection = new expokorrklasse(&status, Writer, statistics, size, "radiation_correction", s, grids);
    ThrowStatus(status);
    RadiationCorrection->SetStatus(1);

    Evapotranspiration =
        new verdunstungsmodellklasse(&status, Writer, statistics, size, "evapotranspiration", s, grids);
    ThrowStatus(status);
    Evapotranspiration->SetCorrectedRadiationGrid(RadiationCorrection->GetCorrectedRadiationGrid());

    Snow = new schneemodellklasse(&status, Writer, statistics, size, "snow_model", s, grids);
    ThrowStatus(status);
    Snow->SetCorrectedRadiationGrid(RadiationCorrection->GetCorrectedRadiationGrid());
    Snow->SetStorageContentStage(&StorageContent);
    Evapotranspiration->SetSnowStorageGrid(Snow->GetSnowStorageGrid());
    Evapotranspiration->SetSnowMethod(Snow->GetSnowMethod());
    Evapotranspiration->SetStatus(1);

    Interception = new interzeptionsmodellklasse(&status, Writer, statistics, size, "interception_model", s, grids);
    ThrowStatus(status);
    SiltingUp = new siltingupclass(&status, Writer, statistics, size, "SiltingUpModel", s, grids);
    ThrowStatus(status);

    const int subSteps = Setup->ReadSubsteps();
    IrrigationRule* irrigationTable = s.IrrigationTable;
    UnsaturatedZone = new unsatzonmodellklasse(&status, Writer, statistics, size, "unsatzon_model", s, grids,
                                               irrigationTable, subSteps);
    ThrowStatus(status);
    UnsaturatedZone->SetStorageContentStage(&StorageContent);
    UnsaturatedZone->UpdateMaxPumping();
    // Read modes 1 and 3 go on from an earlier run's state.
    const int readMode = UnsaturatedZone->GetReadGridMode();
    if (readMode == 1 || readMode == 3) {
        // The phenology first: the parameters of the first step follow from it.
        if (UnsaturatedZone->GetMethod() != 0 && UnsaturatedZone->GetStorageFileName()) {
            Setup->ReadPhenologyState(
                InDirectory(Settings.InitialStateDirectory, *UnsaturatedZone->GetStorageFileName()));
        }
        Setup->ResumeLanduseParameters();
    }
    const DumpSwitches dump = DumpSwitchesOf(argc, argv);
    UnsaturatedZone->SetDumpMode(dump.DumpMode, dump.CloseAfterDump);
    Evapotranspiration->InitLakes("[lake_model]");
    Snow->InitLakes("[lake_model]");

    SurfaceRouting =
        new surfaceroutingclass(&status, Writer, statistics, size, "SurfaceRoutingModel", s, grids, subSteps,
                                SpinUpSwitch);
    ThrowStatus(status);
    SurfaceRouting->SetStorageContentStage(&StorageContent);
    Irrigation = new irrigationclass(&status, Writer, statistics, size, "irrigation", s, grids, irrigationTable,
                                     UnsaturatedZone->GetSubbasinTable(), SpinUpSwitch);
    ThrowStatus(status);
    Groundwater = new gwflowclass(&status, Writer, statistics, size, "groundwater_flow", s, grids, irrigationTable,
                                  UnsaturatedZone->GetSubbasinTable(), subSteps, SpinUpSwitch);
    ThrowStatus(status);

    Evapotranspiration->SetSubSteps(subSteps);
    UnsaturatedZone->GroundwaterActive = Groundwater->GetMethod() != 0 ? 1 : 0;

    // Tracer set-up of seven sub-models.
    auto initTracers = [&](teilmodellklasse* model, bool ready) {
        model->InitTracers(&status, TracerCount, Tracers, statistics, size);
        ThrowStatus(status);
        if (ready) model->SetStatus(1);
    };
    initTracers(Irrigation, false);
    initTracers(Snow, false);
    initTracers(Interception, true);
    initTracers(SiltingUp, true);
    initTracers(Groundwater, false);
    initTracers(UnsaturatedZone, true);
    initTracers(SurfaceRouting, true);

    Routing = new abflussmodellklasse(&status, Writer, statistics, size, "routing_model", s, grids,
                                      UnsaturatedZone->GetSubbasinTable(), TracerCount, Tracers,
                                      UnsaturatedZone->ReadGridsCode);
    ThrowStatus(status);

    // Runoff for the routing: from surface routing when it is on.
    if (SurfaceRouting->GetMethod() > 0) {
        SurfaceRouting->SetQBb(UnsaturatedZone->GetQBb());
        SurfaceRouting->SetGlacierRunoff(UnsaturatedZone->GetGlacierRunoff());
        SurfaceRouting->SetKelsqd(UnsaturatedZone->GetKelsqd());
        SurfaceRouting->SetKelsqi(UnsaturatedZone->GetKelsqi());
        SurfaceRouting->CheckSubbasins(UnsaturatedZone->GetSubbasinTable());
        UnsaturatedZone->SetSurfaceRoutingActive(1);
        if (Routing->GetMethod() > 0) Routing->SetQg(SurfaceRouting->GetQg());
    } else if (Routing->GetMethod() > 0) {
        Routing->SetQg(UnsaturatedZone->GetQg());
    }
    Routing->LinkLakeGrids();
    if (Routing->GetMethod() > 0) {
        Routing->InitRouting();
        Routing->SetIrrigationDemand(Irrigation->GetIrrigationDemand());
        Groundwater->SetRiverflowTable(UnsaturatedZone->GetRiverflowTable());
        Routing->SetRiverflowTable(UnsaturatedZone->GetRiverflowTable());
        Routing->ReadStorageFile(UnsaturatedZone->GetStorageFileName(), UnsaturatedZone->ReadGridsCode);
        Routing->SetStatus(1);
    }

    Irrigation->SetRiverflowTable(UnsaturatedZone->GetRiverflowTable());
    Irrigation->SetQg(UnsaturatedZone->GetQg());
    Irrigation->LinkGroundwaterTracerStorage();
    IrrigationAvailability fromReservoirs = Routing->GetMaxIrrigFromReservoirs();
    Irrigation->SetMaxIrrigTables(Routing->GetMaxIrrig(), fromReservoirs);
    Irrigation->SetRoutingTargetTable(Routing->GetRoutingTargetTable());
    Irrigation->SetAbfrel(Routing->GetAbfrel());
    Irrigation->SetStatus(1);

    Groundwater->SetQg(UnsaturatedZone->GetQg());
    Groundwater->SetStatus(1);

    Evapotranspiration->SetStorageContentStage(&StorageContent);
    Evapotranspiration->ReadStorageContent(UnsaturatedZone->GetStorageFileName(), UnsaturatedZone->ReadGridsCode);
    if ((readMode == 1 || readMode == 3) && UnsaturatedZone->GetMethod() != 0 && UnsaturatedZone->GetStorageFileName()) {
        ReadVegetationState(GridTable.get(), Settings.NRows, Settings.NCols,
                            InDirectory(Settings.InitialStateDirectory, *UnsaturatedZone->GetStorageFileName()),
                            Writer);
    }

    if (Snow->GetMethod() > 0) {
        Snow->SetGlacierRunoffTarget(UnsaturatedZone->GetGlacierRunoff());
        Snow->ReadStorageContent(UnsaturatedZone->GetStorageFileName(), UnsaturatedZone->ReadGridsCode);
        Snow->SetStatus(1);
    }

    SpecialOutput = new SpecialOutputClass(&status, Writer, statistics, size, "special_output", s, grids, subSteps);
    ThrowStatus(status);

    Setup->FindCouplingEntities(statistics, size);

    *Writer << "end of initialization reached..." << "[end-entry]";
    InitComplete = 1;
}

int ModellApplication::run() {
    // The snapshots of the last step under their plain names are staged with
    // the end state.
    endstate::Enable();
    try {
        if (SpinUpSwitch > 0 && doTemperaturePreSpinUp > 0) PreSpinUp();
        if (SpinUpSwitch > 0 && repeatCnt <= 0) Finished = 1;
        int repetition = 1;
        while (!Finished) {
            TimeStep();
            if (SpinUpSwitch == 1 && Finished && repetition < repeatCnt) {
                *Writer << "INFO: SpinUp reached end of defined time range for run #" << repetition
                        << ", resetting inputs and starting again now (repetition " << repetition + 1 << " of "
                        << repeatCnt << ")" << "[end-entry]";
                Finished = 0;
                for (int i = 1; i <= MeteoInputCount; ++i) {
                    MeteoInputs[static_cast<size_t>(i)]->ResetToStart();
                    MeteoInputs[static_cast<size_t>(i)]->ReadNextStep();
                }
                ++repetition;
            }
        }
    } catch (int code) {
        *Writer << "FATAL: Exception in Modellapplication::run() caught!" << "[end-entry]";
        throw;
    }
    return CtrlCState;
}

void ModellApplication::PreSpinUp() {
    if (MeteoInputCount < 1 || MeteoInputNames[1] != "temperature") {
        *Writer << "FATAL: temperature interpolation not found. This is required for pre-SpinUp! (no regions should "
                   "be used for pre-SpinUp)"
                << "[end-entry]";
        throw 1035;
    }
    meteointerpol* temperature = MeteoInputs[1];
    const RunHooks hooks = MenuHooks();
    while (!Finished) {
        StopWhenTerminated(Writer);
        CheckCtrlC(hooks);
        temperature->GetActualDate(&CurrentHour, &CurrentDay, &CurrentMonth, &CurrentYear);
        const int64_t h = CurrentHour, d = CurrentDay, m = CurrentMonth, y = CurrentYear;
        if (temperature->InterpolationMethod == 10 || temperature->InterpolationMethod == 11) {
            temperature->CalcElevationRegression(0);
        }
        if (static_cast<double>(h) + Settings.MinToIntEnd / 60.0 == 24) {
            Writer->SetWidth(20);
            *Writer << "temperature pre-SpinUp " << d << "." << m << "." << y << " " << h << ". h " << "[end-entry]";
        }
        temperature->InterpolateStep(h, d, m, y);
        temperature->WriteResultGrid();
        UnsaturatedZone->PreSpinUpStep(h, d, m, y);
        temperature->ReadNextStep();
        if (temperature->EndOfData()) Finished = 1;
    }
    *Writer << "INFO: pre-SpinUp reached end of defined time range. Soil-temperatures are going to be set now."
            << "[end-entry]";
    UnsaturatedZone->FinishPreSpinUp();
    Finished = 0;
    temperature->ResetToStart();
    temperature->ReadNextStep();
}

RunHooks ModellApplication::MenuHooks() {
    RunHooks hooks;
    hooks.Writer = Writer;
    hooks.StopInputsAtActualDate = [this] {
        for (int i = 1; i <= MeteoInputCount; ++i) MeteoInputs[static_cast<size_t>(i)]->StopAtActualDate();
    };
    hooks.ActualDate = [this](StepDate& date) {
        if (MeteoInputCount < 1) return false;
        MeteoInputs[1]->GetActualDate(&date.Hour, &date.Day, &date.Month, &date.Year);
        return true;
    };
    hooks.SetEndDate = [this](int64_t year, int64_t month, int64_t day, int64_t hour) {
        for (modelobject* component : std::initializer_list<modelobject*>{
                 RadiationCorrection, Superposition, Evapotranspiration, Snow, Interception, SiltingUp, Irrigation,
                 UnsaturatedZone, SurfaceRouting, Groundwater, Routing, Setup, SpecialOutput}) {
            if (component) component->SetEndDate(year, month, day, hour);
        }
    };
    hooks.FlushOutputs = [this] { FlushAll(); };
    hooks.ApplyExternalGWTable = [this](int step) {
        if (UnsaturatedZone) UnsaturatedZone->ApplyExternalGWTable(step);
    };
    hooks.WaitTicks = [this](long ticks) { WaitTicks(ticks); };
    return hooks;
}

void ModellApplication::WaitTicks(long ticks) { ::WaitTicks(ticks); }

void ModellApplication::WaitForFile(const std::string& name, long ticks) { ::WaitForFile(MenuHooks(), name, ticks); }

void ModellApplication::TimeStep() {
    const RunHooks hooks = MenuHooks();
    // SIGTERM and SIGHUP end the run between two steps.
    StopWhenTerminated(Writer);
    // Ctrl-C: the state is examined and cleared at the start of every step.
    CheckCtrlC(hooks);

    if (MeteoInputCount >= 1) {
        MeteoInputs[1]->GetActualDate(&CurrentHour, &CurrentDay, &CurrentMonth, &CurrentYear);
    } else {
        CurrentHour = CurrentDay = CurrentMonth = CurrentYear = -9999;
    }
    const int64_t h = CurrentHour, d = CurrentDay, m = CurrentMonth, y = CurrentYear;
    if (Setup->IsCoupled()) CouplingWait(hooks, Setup->Coupling, CouplingState, StepDate{h, d, m, y});

    for (int i = 1; i <= MeteoInputCount; ++i) {
        meteointerpol* input = MeteoInputs[static_cast<size_t>(i)];
        if (input->InterpolationMethod == 10 || input->InterpolationMethod == 11) input->CalcElevationRegression(0);
    }
    if (Superposition->GetMethod() == 0) PrecipitationCorrection->CorrectStationData();
    for (int i = 1; i <= MeteoInputCount; ++i) MeteoInputs[static_cast<size_t>(i)]->InterpolateStep(h, d, m, y);
    Superposition->RunTimeStep(h, d, m, y);
    if (Superposition->GetMethod() != 0) PrecipitationCorrection->CorrectGrid();

    const int period = Evapotranspiration->GetMethod() != 0 ? Evapotranspiration->GetTimeStep() : 1440;
    Setup->UpdatePeriodicGrids(h, d, m, y);
    Setup->CalcActualLanduseParameters(h, d, m, y, period);

    for (int i = 1; i <= MeteoInputCount; ++i) MeteoInputs[static_cast<size_t>(i)]->WriteResultGrid();
    Superposition->WriteOutputs();

    RadiationCorrection->RunTimeStep(h, d, m, y);
    Evapotranspiration->PotentialEvapotranspiration(h, d, m, y);
    Irrigation->RunTimeStep(h, d, m, y);
    Evapotranspiration->SnowEvaporation(h, d, m, y);
    Snow->RunTimeStep(h, d, m, y);
    Interception->RunTimeStep(h, d, m, y);
    SiltingUp->RunTimeStep(h, d, m, y);

    UnsaturatedZone->BeginTimeStep(h, d, m, y);
    SurfaceRouting->BeginTimeStep(h, d, m, y);
    Evapotranspiration->BeginRealEvapotranspiration(h, d, m, y);
    Groundwater->BeginTimeStep(h, d, m, y);
    const int subSteps = UnsaturatedZone->GetSubSteps();
    for (int j = 1; j <= subSteps; ++j) {
        UnsaturatedZone->RunTimeStep(h, d, m, y);
        SurfaceRouting->RunTimeStep(h, d, m, y);
        Evapotranspiration->RunSubstep(h, d, m, y);
        Groundwater->RunTimeStep(h, d, m, y);
        SpecialOutput->Step(h, d, m, y, true, j);
    }
    UnsaturatedZone->UpdateMaxPumping();
    UnsaturatedZone->EndTimeStep(h, d, m, y);
    SurfaceRouting->RouteZonesToSubbasins(h, d, m, y);
    Evapotranspiration->SumRealEvapotranspiration(h, d, m, y);
    Groundwater->WriteOutput(h, d, m, y);
    Routing->RunTimeStep(h, d, m, y);

    Setup->WriteStandardGrids(h, d, m, y);
    Setup->WriteVariableGrids(h, d, m, y);
    Setup->ResetGridStatistics();
    Setup->AddGridStatistics();
    Setup->CloseGridStatisticsStep(h, d, m, y);

    SpecialOutput->Step(h, d, m, y, false, 0);
    if (AfterTimeStep) AfterTimeStep();

    Finished = 1;
    for (int i = 1; i <= MeteoInputCount; ++i) {
        meteointerpol* input = MeteoInputs[static_cast<size_t>(i)];
        input->ReadNextStep();
        if (!input->EndOfData()) Finished = 0;
    }
    if (Setup->IsCoupled()) {
        StepDate current{CurrentHour, CurrentDay, CurrentMonth, CurrentYear};
        CouplingExchange(hooks, Setup->Coupling, CouplingState, current, Finished == 1);
        CurrentHour = current.Hour;
        CurrentDay = current.Day;
        CurrentMonth = current.Month;
        CurrentYear = current.Year;
    }
}

std::vector<std::function<void()>> ModellApplication::FlushOperations() {
    std::vector<std::function<void()>> operations;
    for (int i = 1; i <= MeteoInputCount; ++i) {
        if (meteointerpol* input = MeteoInputs[static_cast<size_t>(i)]) {
            operations.emplace_back([input] { input->FlushStatistics(); });
        }
    }
    if (Superposition) operations.emplace_back([this] { Superposition->FlushStatistics(); });
    if (Evapotranspiration) operations.emplace_back([this] { Evapotranspiration->FlushStatistics(); });
    if (Snow) operations.emplace_back([this] { Snow->FlushStatistics(); });
    if (Interception) operations.emplace_back([this] { Interception->FlushStatistics(); });
    if (Irrigation) operations.emplace_back([this] { Irrigation->FlushStatistics(); });
    if (SiltingUp) operations.emplace_back([this] { SiltingUp->FlushStatistics(); });
    if (UnsaturatedZone) operations.emplace_back([this] { UnsaturatedZone->FlushOutputs(); });
    if (SurfaceRouting) operations.emplace_back([this] { SurfaceRouting->FlushStatistics(); });
    if (Groundwater) operations.emplace_back([this] { Groundwater->FlushOutputs(); });
    if (Routing) operations.emplace_back([this] { Routing->FlushOutputs(); });
    if (SpecialOutput) operations.emplace_back([this] { SpecialOutput->Flush(); });
    if (Setup) operations.emplace_back([this] { Setup->FlushGridStatistics(); });
    return operations;
}

void ModellApplication::FlushAll() {
    for (const auto& flush : FlushOperations()) flush();
}

void ModellApplication::FlushAfterError() noexcept {
    // Nothing is buffered before the construction is complete, and once the
    // teardown has let the components finish their buffers are gone.
    if (!InitComplete || TeardownStarted) return;
    TeardownStarted = 1;
    try {
        *Writer << "writing the buffered statistics and point series of the completed steps" << "[end-entry]";
    } catch (...) {
    }
    // Every buffer gets its chance: one that cannot be written does not keep
    // the others from their files, and the run keeps the code it ended with.
    for (const auto& flush : FlushOperations()) {
        try {
            flush();
        } catch (...) {
        }
    }
    // The end state stays as it was: the grids and stacks staged at the last
    // step are removed, the storage content file's staged sections are
    // dropped with the application.
    endstate::Discard();
}

void ModellApplication::ClearMemory() {
    try {
        *Writer << "reached end of simulation sucessfully" << "[end-entry]";
        if (InitComplete) FlushAll();
        TeardownStarted = 1;
        // Every file written from here on belongs to the end state, which is
        // put in place whole once all of it is written.
        endstate::Begin(Settings.DefaultOutputDirectory);
        // Taken before the components release their grids.
        const std::string vegetation = VegetationStateText(GridTable.get(), Settings.NRows, Settings.NCols) +
                                       (Setup ? Setup->PhenologyStateText() : std::string());
        const std::string* storageName =
            UnsaturatedZone && UnsaturatedZone->GetMethod() != 0 ? UnsaturatedZone->GetStorageFileName() : nullptr;
        FinishComponents();
        if (!vegetation.empty() && storageName) {
            WriteStorageSection(&StorageContent, InDirectory(Settings.DefaultOutputDirectory, *storageName), vegetation,
                                true, Writer);
        }
        StorageContent.Commit(Writer);
        // A signal to end that came while the end state was written: the
        // staged files are dropped, the state before this run stands.
        StopWhenTerminated(Writer);
        endstate::Commit(Writer);
        *Writer << "o.k.\n" << "[end-entry]";
        *Writer << "deleting modules..." << "[end-entry]";
    } catch (int code) {
        StorageContent.Discard();
        endstate::Discard();
        *Writer << "FATAL: Exception in Modellapplication::ClearMemory() caught!" << "[end-entry]";
        throw;
    }
    DeleteComponents();
}

void ModellApplication::FinishComponents() {
    for (int i = MeteoInputCount; i >= 1; --i) {
        if (MeteoInputs[static_cast<size_t>(i)]) MeteoInputs[static_cast<size_t>(i)]->DeleteModule();
        MeteoInputNames[static_cast<size_t>(i)].clear();
    }
    for (teilmodellklasse* model : std::initializer_list<teilmodellklasse*>{
             Snow, Interception, SiltingUp, Irrigation, Groundwater, Superposition}) {
        if (model) model->ReleaseTracers();
    }
    int r = 0;
    if (Routing) {
        r = Routing->GetMethod() != 0 ? 1 : 0;
        // The routing's state opens the staged storage content file.
        Routing->SetStorageStage(&StorageContent);
        Routing->DeleteModule();
    }
    if (UnsaturatedZone) {
        UnsaturatedZone->FinishRun(r);
        r = (r == 1 || UnsaturatedZone->GetMethod() != 0) ? 1 : 0;
    }
    if (SiltingUp) SiltingUp->DeleteModule();
    if (SurfaceRouting) SurfaceRouting->FinishRun(r);
    for (modelobject* component : std::initializer_list<modelobject*>{
             Interception, Irrigation, Snow, Evapotranspiration, RadiationCorrection, Superposition,
             PrecipitationCorrection, Groundwater, TracerSettings, SpecialOutput, Setup}) {
        if (component) component->DeleteModule();
    }
}

void ModellApplication::DeleteComponents() {
    for (int i = MeteoInputCount; i >= 1; --i) {
        delete MeteoInputs[static_cast<size_t>(i)];
        MeteoInputs[static_cast<size_t>(i)] = nullptr;
    }
    MeteoInputs.clear();
    MeteoInputCount = 0;
    delete TracerSettings;
    TracerSettings = nullptr;
    delete Routing;
    Routing = nullptr;
    delete Groundwater;
    Groundwater = nullptr;
    delete Irrigation;
    Irrigation = nullptr;
    delete SiltingUp;
    SiltingUp = nullptr;
    delete SurfaceRouting;
    SurfaceRouting = nullptr;
    delete UnsaturatedZone;
    UnsaturatedZone = nullptr;
    delete Interception;
    Interception = nullptr;
    delete Snow;
    Snow = nullptr;
    delete Evapotranspiration;
    Evapotranspiration = nullptr;
    delete RadiationCorrection;
    RadiationCorrection = nullptr;
    delete Superposition;
    Superposition = nullptr;
    delete PrecipitationCorrection;
    PrecipitationCorrection = nullptr;
    delete SpecialOutput;
    SpecialOutput = nullptr;
    delete Setup;
    Setup = nullptr;
    StatisticsTable.clear();
    GridTable.reset();
    HRUList.clear();
}
