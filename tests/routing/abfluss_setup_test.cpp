// The routing model's set-up from "[routing_model]": the checks of the
// section, the counting pass, the descriptions with their tables and files,
// the area fractions and the channel state at the start of the run.

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "framework/gridtable.h"
#include "routing/routing_harness.h"

using namespace routingtest;

namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

}  // namespace

TEST(RoutingSetUp, MalformedSectionsEndWithTheirCode) {
    const std::string line3Message =
        "values for min/max specific discharge and/or discharge and time interval splitting   \nnot found in "
        "control file";
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> edits;
        int code;
        std::string message;
    } cases[] = {
        {"outlet is no subbasin", {{"TG 3 A", "TG 5 A"}}, 41, "there is no subbasin with code 5"},
        {"negative outlet code", {{"TG 3 A", "TG -3 A"}}, 41, "there is no subbasin with code -3"},
        {"OL equal to the outlet", {{"OL 2 kh", "OL 3 kh"}}, 41,
         "subbasin 3: code of tributary 2 (3) is equal to subbasin code!\nIt is not allowed to rout the outflow of a "
         "subbasin back into \nthe same subbasin. Use a reservoir instead.\n"},
        {"unknown tributary", {{"OL 2 kh", "OL 8 kh"}}, 41,
         "there cant be a tributary with code 8 for no subbasin (according to zones)\n"},
        {"unknown & code", {{"12&13&14", "12&13&15"}}, 41,
         "there cant be a tributary with code 15 for no subbasin (according to zones)"},
        {"& code equal to the outlet", {{"12&13&14", "12&20&14"}}, 41, "Use a reservoir instead."},
        {"subbasin twice as tributary", {{"OL 2 kh", "OL 1 kh"}}, 41,
         "subbasin 1 is named as tributary of more than one channel (routing description 1, element 2)"},
        {"tributary in two descriptions", {{"12&13&14", "12&13&1"}}, 41,
         "subbasin 1 is named as tributary of more than one channel (routing description 2, element 2)"},
        {"more & codes than nine, one unknown", {{"12&13&14", "12&13&14&1&2&30&12&13&14&99"}}, 41,
         "subbasin 1 is named as tributary of more than one channel"},
        {"ZL 0", {{"ZL 1 =", "ZL 0 ="}}, 42,
         "there is/are only 1 inflow(s) for the entire basin,\n but the codes ranges from 1 to at least 0! in "
         "routing_model"},
        {"ZL above the total", {{"ZL 1 =", "ZL 2 ="}}, 42, "there is/are only 1 inflow(s)"},
        {"one inflow for two ZL",
         {{"end of the routing", "  ZL 1 = intern kh = 1 kv = 5 bm = 5 bf = 20 tm = 0.5 nm = 25 nf = 10 I = 0.003 L = "
                                 "2000 A = 3\nend of the routing"}},
         42, "inflow 1 is used by more than one \"ZL\" element (routing description 2, element 4)"},
        {"mode word Constant", {{"= constant 2.5", "= Constant 2.5"}}, 42,
         "the modus \"Constant\" is not supported for inflow 1"},
        {"no value after =", {{"OL 2 kh = 2 kv = 10", "OL 2 kh = 2 kv = bm"}}, 17,
         "routing description 1 (TG 3), element 2: no number after \"=\" for the storage constant of the flood "
         "plains"},
        {"= missing at the end", {{"L = 2000 A = 3", "L = 2000 A"}}, 17,
         "routing description 2 (TG 20), element 3: no \"=\" before the catchment area of the channel"},
        {"no code after &", {{"12&13&14", "12&13&"}}, 17, "no subbasin code after \"&\""},
        {"area factor 0", {{"A = 13.26 f = 1.0", "A = 13.26 f = 0"}}, 17,
         "routing description 1 (TG 3), element 0: the area factor 0 lies outside (0, 1000] (description on line 15 "
         "of "},
        {"q_min 0", {{"1 1000 10 2", "0 1000 10 2"}}, 17, line3Message},
        {"q_max below q_min", {{"1 1000 10 2", "10 5 10 2"}}, 17, line3Message},
        {"no intervals", {{"1 1000 10 2", "1 1000 0 2"}}, 17, line3Message},
        {"no sub-intervals", {{"1 1000 10 2", "1 1000 10 0"}}, 17,
         "the number of time sub-intervals per routing step 0 in line 3 of [routing_model] in "},
        {"sub-intervals beyond any step", {{"1 1000 10 2", "1 1000 10 222222222"}}, 17,
         "the number of time sub-intervals per routing step 222222222 in line 3 of [routing_model] in "},
        {"fractional sub-intervals", {{"1 1000 10 2", "1 1000 10 2.5"}}, 17, line3Message},
        {"line 3 number with a tail", {{"1 1000 10 2", "1 1000x 10 2"}}, 17, line3Message},
        {"line 3 nan", {{"1 1000 10 2", "nan 1000 10 2"}}, 17, line3Message},
        {"line 3 short", {{"1 1000 10 2", "1 1000 10"}}, 17, line3Message},
        {"negative descriptor count", {{"1                          # gauge", "-1                         # gauge"}},
         17, "number column descriptors for"},
        {"descriptor without column", {{"\n3 1\n", "\n3 one\n"}}, 17,
         "error reading a column number for column indexing in routing model"},
        {"no line ends the list", {{"end of the routing network\n", ""}}, 38,
         "error reading a routing description from control file! (eof reached)."},
        // Each value of a channel is one whole, finite number in its range.
        {"channel value with a tail", {{"OL 1 kh = 2 kv", "OL 1 kh = 2a kv"}}, 17,
         "routing description 1 (TG 3), element 1: no number after \"=\" for the storage constant of the main "
         "channel (\"2a\") (description on line 15 of "},
        {"channel value nan", {{"I = 0.002 L", "I = nan L"}}, 17, "no number after \"=\" for the slope (\"nan\")"},
        {"channel area -inf", {{"L = 4000 A = 5.49", "L = 4000 A = -inf"}}, 17,
         "no number after \"=\" for the catchment area of the channel (\"-inf\")"},
        {"channel value 1e-7 glued", {{"kv = 10 bm = 10", "kv = 1e<bytes>-7 bm = 10"}}, 17, "(\"1e<bytes>-7\")"},
        {"channel value 1e400", {{"kv = 10 bm = 10", "kv = 1e400 bm = 10"}}, 17, "(\"1e400\")"},
        {"channel area 0", {{"L = 4000 A = 5.49", "L = 4000 A = 0"}}, 17,
         "element 1: the catchment area of the channel 0 lies outside (0, 1e+07]"},
        {"channel area -0", {{"L = 4000 A = 5.49", "L = 4000 A = -0"}}, 17,
         "the catchment area of the channel -0 lies outside"},
        {"channel area -1", {{"L = 4000 A = 5.49", "L = 4000 A = -1"}}, 17,
         "the catchment area of the channel -1 lies outside"},
        {"channel length 0", {{"L = 4000 A = 5.49", "L = 0 A = 5.49"}}, 17,
         "the channel length 0 lies outside (0, 1e+07]"},
        {"channel length -1", {{"L = 4000 A = 5.49", "L = -1 A = 5.49"}}, 17, "the channel length -1 lies outside"},
        {"channel width 1e300", {{"kv = 10 bm = 10", "kv = 10 bm = 1e300"}}, 17,
         "the width of the main channel 1e+300 lies outside"},
        {"area factor 1e300", {{"A = 13.26 f = 1.0", "A = 13.26 f = 1e300"}}, 17,
         "the area factor 1e+300 lies outside (0, 1000]"},
        {"catchment area negative", {{"TG 3 A = 13.26", "TG 3 A = -13.26"}}, 17,
         "the catchment area [km2] -13.26 lies outside [0, 1e+07]"},
        {"tributary code with a tail", {{"OL 2 kh", "OL 2x kh"}}, 17, "no subbasin code after \"OL\""},
        {"constant inflow 1e300", {{"= constant 2.5", "= constant 1e300"}}, 17,
         "element 3: the constant inflow [m3/s] 1e+300 lies outside [0, 1e+06]"},
        {"constant inflow -1", {{"= constant 2.5", "= constant -1"}}, 17, "the constant inflow [m3/s] -1 lies outside"},
        {"constant inflow with a tail", {{"= constant 2.5", "= constant 2.5.1"}}, 17,
         "no number after \"constant\" (\"2.5.1\")"},
        // The gauge descriptor line given twice: its second copy is no
        // descriptor.
        {"descriptor count twice",
         {{"1                          # gauge descriptors\n", "1                          # gauge descriptors\n"
                                                                 "1                          # gauge descriptors\n"}},
         17, "error reading a column number for column indexing in routing model (\"#\" in descriptor 1 of "},
        // A channel line before the first description: the first pass
        // counts on, the second finds no description there.
        {"element before the first description",
         {{"TG 3 A = 13.26 f = 1.0\n", "  SP 9\nTG 3 A = 13.26 f = 1.0\n"}}, 38,
         "the first run counted 2 routing descriptions from line 15 of "},
        {"q_min 1e-300", {{"1 1000 10 2", "1e-300 1000 10 2"}}, 17,
         "routing description 1 (TG 3), element 1: the travel time through the channel at the lowest specific "
         "discharge, 3.00603e+126 h, is longer than 10000 routing steps"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RoutingHarness h;
        int status = -1;
        auto routing = h.Build(ControlText("network.ctl", c.edits), &status);
        EXPECT_EQ(status, c.code);
        EXPECT_NE(h.Console().find(c.message), std::string::npos) << h.Console();
        routing->DeleteModule();
    }
}

TEST(RoutingSetUp, SecondPassStartsWhereTheFirstDid) {
    // A blank line before the offset shifts the descriptions by one line;
    // both passes still find them.
    RoutingHarness h;
    int status = -1;
    auto routing =
        h.Build(ControlText("network.ctl", {{"\n0                          # offset", "\n\n0                          # offset"}}),
                &status);
    ASSERT_EQ(status, 0) << h.Console();
    ASSERT_EQ(routing->DescriptionCount, 2);
    EXPECT_EQ(routing->Descriptions[1]->OutletCode, 3);
    EXPECT_EQ(routing->Descriptions[2]->OutletCode, 20);
    routing->DeleteModule();
}

TEST(RoutingSetUp, FirstPassCountsEveryToken) {
    RoutingHarness h;
    int status = -1;
    auto routing = h.Build(ControlText("network.ctl"), &status);
    ASSERT_EQ(status, 0) << h.Console();
    const std::string console = h.Console();
    for (const char* entry :
         {"number inbetween areas (routings)    : 2", "number tributaries  total      (OL)  : 6",
          " - flowing into another at the end   : 3", " - flowing into another at the start : 3",
          "so the total of routingchannels is   : 4", "number of inflows              (ZL)  : 1",
          "number of abstractions         (AL)  : 0", "number reservoirs              (SP)  : 0",
          "reading routing description 1", "reading routing description 2"}) {
        EXPECT_NE(console.find(entry), std::string::npos) << entry << "\n" << console;
    }
    EXPECT_EQ(routing->DescriptionCount, 2);
    EXPECT_EQ(routing->Totals.SUMTRIB, 1);
    EXPECT_EQ(routing->Totals.Ampersand, 2);
    routing->DeleteModule();

    // A word holding a token counts and is read as that element (here an
    // external abstraction); continuation lines join without a blank.
    RoutingHarness t;
    auto other = t.Build(ControlText("network.ctl", {{"TG 3 A = 13.26 f = 1.0", "TG 3 A = 13.26 f = 1.0 TOTAL = extern total.txt 0 0 0 mm"},
                                                      {"L = 4000 A = 5.49\n  OL 2", "L = 40\n00 A = 5.49 OL 2"}}),
                         &status);
    ASSERT_EQ(status, 0) << t.Console();
    EXPECT_NE(t.Console().find("number of abstractions         (AL)  : 1"), std::string::npos);
    EXPECT_EQ(other->Descriptions[1]->Counts.AL, 1);
    EXPECT_EQ(other->Descriptions[1]->Counts.OL, 2);
    EXPECT_EQ(other->Descriptions[1]->Length[1], 4000.0);
    EXPECT_EQ(other->Descriptions[1]->ChannelArea[1], 5.49);
    other->DeleteModule();
}

TEST(RoutingSetUp, DescriptionsTablesAndTargets) {
    RoutingHarness h;
    int status = -1;
    auto routing = h.Build(ControlText("network.ctl"), &status);
    ASSERT_EQ(status, 0) << h.Console();
    routingclass& first = *routing->Descriptions[1];
    routingclass& second = *routing->Descriptions[2];
    EXPECT_EQ(first.ModuleName, "routingmodel");
    // element order: all "OL", then "SUMTRIB", then "ZL"
    EXPECT_EQ(first.Code, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(second.Code, (std::vector<int>{20, 3, 12, 1}));
    EXPECT_EQ(second.Tributaries[2], (std::vector<int>{2, 13, 14}));
    EXPECT_TRUE(second.IsZL(3));
    EXPECT_EQ(second.InflowMode[1], 1);
    EXPECT_EQ(second.InflowValue[0][1], 2.5);
    EXPECT_EQ(first.SubIntervals, 2);
    EXPECT_EQ(first.Tables[1].Rows, 11);
    EXPECT_EQ(first.ChannelArea[2], 2.78);

    // The routing targets: tributaries in order, each pointing at its outlet.
    int** targets = routing->GetRoutingTargetTable();
    auto rank = [&](int code) { return h.Rank(code); };
    const int expected[] = {rank(1), rank(2), rank(3), rank(12), rank(13), rank(14), 0};
    for (int j = 0; j < 7; ++j) EXPECT_EQ(targets[0][j + 1], expected[j]) << j;
    EXPECT_EQ(targets[1][rank(1)], rank(3));
    EXPECT_EQ(targets[1][rank(14)], rank(20));
    EXPECT_EQ(targets[1][rank(3)], rank(20));
    EXPECT_EQ(targets[1][rank(20)], 0);
    EXPECT_EQ(targets[2][rank(3)], 1);
    EXPECT_EQ(targets[2][rank(20)], 2);
    EXPECT_EQ(targets[2][rank(1)], 0);

    // "PrecOnLakes" takes a grid-table entry and gives it back at the end.
    const int lakes = FindGridEntry(h.table.get(), "PrecOnLakes", true);
    EXPECT_GT(lakes, 1);
    EXPECT_EQ(h.table[lakes].Data[3][4], -9999.0);
    EXPECT_EQ(h.table[lakes].Data[1][1], 0.0);
    routing->DeleteModule();
    EXPECT_EQ(FindGridEntry(h.table.get(), "PrecOnLakes", true), 0);
    EXPECT_NE(h.Console().find(" free memory TG 20, OL 1 (Subb. 3), OL 2 (Subb. 12, 13, 14), (only ZL's), --> ZLs... "
                               "1, Rest... ok"),
              std::string::npos)
        << h.Console();
}

TEST(RoutingSetUp, WaterLevelDischargeFiles) {
    RoutingHarness h;
    int status = -1;
    auto routing = h.Build(ControlText("network.ctl"), &status);
    ASSERT_EQ(status, 0) << h.Console();
    char name[32];
    std::snprintf(name, sizeof name, "wq_table.%.3d", h.Rank(1));
    const std::string ol = h.File(name);
    std::snprintf(name, sizeof name, "wq_table.%.3d", h.Rank(12));
    const std::string sumtrib = h.File(name);
    const std::string zl = h.File("wq_tabZL.001");
    EXPECT_EQ(FirstLine(sumtrib),
              "waterlevel-discharge-table for the channel of subbasins 12, 13 and 14 to the outlet of subbasin 20\n");
    EXPECT_EQ(FirstLine(zl), "waterlevel-discharge-table for the channel of inflow 1 to the outlet of subbasin 20\n");
    const std::string head =
        "waterlevel-discharge-table for the channel of subbasin 1 to the outlet of subbasin 3\n"
        "input parameters from the control file:\n"
        "------------------------------------------\n"
        "storage constant mean channel [h] :    2.00\n"
        "storage constant flood plain [h]  :   10.00\n"
        "width of the mean channel [m]     :   10.00\n"
        "width of flood plains  [m]        :   50.00\n"
        "depth of mean channel  [m]        :    1.00\n"
        "Manning-coef. mean chan[m^(1/3)/s]:   30.00\n"
        "Manning-ceof. flood pl.[m^(1/3)/s]:   15.00\n"
        "slope angle            [1/1]      :  0.0010\n"
        "channel length         [m]        :  4000.0\n"
        "catchment area         [km^2]     :    5.49\n"
        "min. spec. discharge   [l/s/km^2] :     1.0\n"
        "max. spec. discharge   [l/s/km^2] :  1000.0\n"
        "intervals for w-q-table[-]        :      11\n"
        "sub-intervals (time)   [-]        :       2  \n";
    ASSERT_EQ(ol.substr(0, head.size()), head);
    const wqtab& w = routing->Descriptions[1]->Tables[1];
    char tail[1000];
    std::snprintf(tail, sizeof tail,
                  "number of sub-channels            : %7.0f\n"
                  "total number of storage elements  : %7d  \n"
                  "-------------------------------------------------------------------------------\n"
                  "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n"
                  "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n"
                  "-------------------------------------------------------------------------------\n"
                  "  1  0.004    1.0    0.01  %5.2f  0.00 %5.2f  %5.2f   0.00  %5.2f  %3d   0.000\n",
                  w.S, w.StorageElements + 2, w.dm[1], w.v[1], w.vm[1], w.t[1], w.delta[1]);
    EXPECT_EQ(ol.substr(head.size(), std::string(tail).size()), tail);
    // one line per row, 11 rows
    EXPECT_EQ(std::count(ol.begin(), ol.end(), '\n'), 23 + 11);
    routing->DeleteModule();
}

TEST(RoutingSetUp, TableFileThatCannotBeWrittenEndsTheRun) {
    RoutingHarness h;
    char name[32];
    std::snprintf(name, sizeof name, "wq_table.%.3d", h.Rank(2));
    // A directory in the way of the file.
    std::filesystem::create_directory(h.dir.file(name));
    int status = -1;
    auto routing = h.Build(ControlText("network.ctl"), &status);
    EXPECT_EQ(status, 15);
    EXPECT_NE(h.Console().find(std::string("error opening file ") + name + " (check user rights or disk space)"),
              std::string::npos)
        << h.Console();
    routing->DeleteModule();
}

TEST(RoutingSetUp, RoutedDischargeHeaderByOutputUnit) {
    struct Case {
        const char* unit;
        const char* title;
    } cases[] = {{"0", "routed discharge [mm per subbasin] "},
                 {"1", "routed discharge [ m3 per sec ] "},
                 {"2", "routed discharge (unknown measure)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        RoutingHarness h;
        int status = -1;
        auto routing = h.Build(ControlText("network.ctl", {{"1                          # output unit",
                                                            std::string(c.unit) + " output unit"},
                                                           {"Qrouted.sta 0", "Qrouted.sta 2001"}}),
                               &status);
        ASSERT_EQ(status, 0) << h.Console();
        EXPECT_EQ(routing->OutputUnit, std::atoi(c.unit));
        routing->FlushOutputs();
        const std::string header = h.File("Qrouted.sta");
        EXPECT_NE(header.find(c.title), std::string::npos) << header;
        // the weights after the area check: subbasin 3 stands for its routed
        // catchment
        EXPECT_NE(header.find("\t0.1326000"), std::string::npos) << header;
        routing->DeleteModule();
    }
}

TEST(RoutingSetUp, FurtherTributariesEndAtTheFirstBlank) {
    RoutingHarness h;
    int status = -1;
    auto routing = h.Build(ControlText("network.ctl", {{"12&13&14", "12 &13&14"}}), &status);
    ASSERT_EQ(status, 0) << h.Console();
    routingclass& d = *routing->Descriptions[2];
    EXPECT_EQ(d.Code[2], 12);
    EXPECT_EQ(d.Tributaries[2], std::vector<int>{0});
    EXPECT_EQ(routing->GetRoutingTargetTable()[1][h.Rank(13)], 0);
    char name[32];
    std::snprintf(name, sizeof name, "wq_table.%.3d", h.Rank(12));
    EXPECT_EQ(FirstLine(h.File(name)),
              "waterlevel-discharge-table for the channel of subbasins 12 to the outlet of subbasin 20\n");
    routing->DeleteModule();
}
