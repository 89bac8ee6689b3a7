#pragma once
// The set-up object of one model run (module "defaults"): compiles the control
// file, reads the model-wide sections and holds the model-wide settings until
// the application takes them over.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "setup/model_settings.h"

struct StatisticsTableEntry;

class defaultini : public modelobject {
public:
    // A compiled line holds at most this many characters before its line end:
    // the readers take a line in pieces of 1199 characters, line end included.
    static constexpr size_t MaxCompiledLineLength = 1198;
    // While symbols are substituted a line may grow beyond the final limit
    // (joining marks are removed afterwards), but never beyond this.
    static constexpr size_t MaxSubstitutionLength = 8192;

    // `status` receives 0, the code of an error raised inside, or 103.
    defaultini(int* status, DiagnosticsWriter* writer, const std::string& controlFilePath,
               StatisticsTableEntry* statisticsTable, int statisticsTableSize, int modelVariant,
               MemoryGrid* gridTable);
    ~defaultini() override = default;

    // Frees each buffer from AllocBuffer that is not null.
    virtual void FreeBuffers(void* first = nullptr, void* second = nullptr, void* third = nullptr,
                             void* fourth = nullptr, void* fifth = nullptr, void* sixth = nullptr);

    // Writes the copy of `sourcePath` with its "$set" symbols replaced, its
    // comments cut and its joining marks removed, under the name
    // "<sourcePath>_<process number>.$$$", which `targetPath` receives.
    // `targetPath` may be the object's own ControlFilePath.
    virtual void CompileSymbols(const std::string& sourcePath, std::string& targetPath);

    // Reads "[output_interval]" with its key lines, "[output_list]",
    // "[coordinates]", "[meteo_data_count]" and "[meteo_names]" from the file.
    // The values go into `receiver` (names and codes as references to arrays
    // this object owns), the third line of "[output_interval]" into
    // OutputSwitch and OutputSwitchRaw, the key values also into the base part.
    virtual void ReadOutputControl(const std::string& controlFilePath, ModelSettings& receiver);

    // Treats one line in place: cuts its comment, substitutes the references to
    // symbols 1 to `count` (names and values are 1-based) and removes the
    // joining marks "//". Lines holding "$set" keep everything but their
    // comment. `lineNumber` is only quoted in messages.
    virtual std::string& ReplaceSymbols(std::string& line, int lineNumber, const std::vector<std::string>& names,
                                        const std::vector<std::string>& values, int count);

    // Requires the section "[radiation_correction]".
    virtual void ReadRadiationCorrection();

    // Reads "[model_time]" into Settings (start and end date, normalised) and
    // sets February of the calendar from the end year.
    virtual void ReadModelTime();

    // Reads the optional "[soil_surface_groundwater_substeps]"; returns the
    // count (1 when absent) and keeps it in Substeps.
    int ReadSubsteps();

    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    int ModelVariant = 0;
    int InitStepCounter = 0;

    // The model-wide settings as far as they are known; the compiled-path
    // buffer is Settings.CompiledControlFile.
    ModelSettings Settings;

    // Third line of "[output_interval]": as read, and as the 0/1 switch.
    int OutputSwitchRaw = 0;
    int OutputSwitch = 0;

    int Substeps = 1;

private:
    [[noreturn]] void UndefinedSymbol(int lineNumber, const std::string& line);
    [[noreturn]] void LineTooLong(int lineNumber, const std::string& line, size_t length);
    [[noreturn]] void ValueOutOfRange(const std::string& description, long long value, const std::string& allowed);
    void WarnEqualSymbolValues(const std::vector<std::string>& names, const std::vector<std::string>& values,
                               int newest);
    void ReadOutputInterval(ModelSettings& receiver);
    void ReadOutputKeys(ModelSettings& receiver, const std::string& path);
    void ReadOutputList(ModelSettings& receiver);
    void ReadMeteoInputs(ModelSettings& receiver);

    // Arrays handed out by reference through the settings (1-based).
    std::vector<std::string> MeteoNameList;
    std::vector<int> OutputListCodeList;
};
