#pragma once
// The irrigation table: one rule per irrigation code of the grid
// "irrigation_codes", irrigating by a schedule of dates and amounts (a list or
// a short text) or by demand (soil suction or the ratio ETR/ETP).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class modelobject;

struct IrrigationRule {
    static constexpr size_t MaxNameLength = 50;

    // Methods: schedule as a list, schedule as text, demand by suction,
    // demand by the ratio ETR/ETP.
    static constexpr int32_t ScheduleList = 1;
    static constexpr int32_t ScheduleText = 2;
    static constexpr int32_t DemandSuction = 3;
    static constexpr int32_t DemandEtrEtp = 4;
    // A text scheme of the count form may hold at most one event per day of
    // a year.
    static constexpr int32_t MaxRepeatCount = 366;

    int32_t Code = 0;  // entry 0 of a table: the number of rules
    std::string Name;
    int32_t Method = 0;
    int32_t Origin = 0;         // source of the water, interpreted by the irrigation model
    double psi_dry = 0;         // suction at which irrigation starts
    double psi_wet = 0;         // suction at which irrigation stops
    double MinEtrToEtp = 0;     // ratio ETR/ETP below which irrigation starts (method 4)
    int32_t tabcnt = 0;         // scheduled events (methods 1 and 2)
    // Events 1..tabcnt (element 0 unused); empty for methods 3 and 4.
    std::vector<int64_t> Month;
    std::vector<int64_t> Day;
    std::vector<double> Amount;  // [mm/day]

    // An empty schedule: element 0 only, tabcnt 0.
    void ClearSchedule();
    // Appends one event (starting an empty schedule when there is none).
    void AddEvent(int64_t month, int64_t day, double amount);
};

// Reads "[irrigation]" and, when irrigation is on there, "[irrigation_table]"
// from `controlFile` (the reader's control-file stream, lent to the reader's
// section search for the call) when the model variant is above 1.
// `irrigationSwitch` receives the switch (0 off); `table` the rules 0..n
// (entry 0 with the code n), or nothing when irrigation is off.
void ReadIrrigation(modelobject& reader, FILE* controlFile, int modelVariant, int& irrigationSwitch,
                    std::vector<IrrigationRule>& table);

// The reading itself. A missing section or an unreadable switch or count
// ends with code 17; every other failure with code 29.
void ReadIrrigationTable(modelobject& reader, FILE* controlFile, int& irrigationSwitch,
                         std::vector<IrrigationRule>& table);

// Turns a text schedule ("starting from MM DD with XX mm to MM DD with YY mm
// every ZZ day" or "starting from MM DD with XX mm AA times every ZZ days",
// several schemes on one line) into events appended to `rule`. Days are
// clamped to the month lengths of the reader's calendar. A malformed text is
// refused with `IrrigationRuleError` for the rule at table position `entry`.
void ReadIrrigationSchedule(modelobject& reader, int entry, const std::string& text, IrrigationRule& rule);

// Writes the FATAL entry of a malformed irrigation rule (table position
// `entry`) with the help text on the formats, and throws 29.
[[noreturn]] void IrrigationRuleError(modelobject& reader, int entry);
