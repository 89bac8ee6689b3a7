#include "framework/routstatistic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Three subbasins with the codes 1, 2 and 3 and the weights 0.25, 0.35, 0.4.
const double kWeights[] = {1.0, 0.25, 0.35, 0.4};

std::vector<ZoneRecord> Subbasins() {
    std::vector<ZoneRecord> zones(4);
    for (int i = 1; i <= 3; ++i) {
        zones[i].zonenwert = i;
        zones[i].rel = 0.1 * i;
    }
    return zones;
}

class RoutStatisticTest : public ::testing::Test {
protected:
    RoutStatisticTest() : Writer(Dir.file("diag.xml"), DiagDebug, Console), Table(StatisticsTableSize + 1) {}

    std::unique_ptr<routstatistic> Make(int code, std::vector<ZoneRecord>& zones, const std::vector<int>& listed = {},
                                        int entries = StatisticsTableSize) {
        int status = -1;
        std::vector<int> codes(listed.size() + 1, 0);
        std::copy(listed.begin(), listed.end(), codes.begin() + 1);
        std::string fileName = "Q.txt";
        auto statistic = std::make_unique<routstatistic>(&status, &Writer, Table.data(), entries, nullptr, 1, 1,
                                                         zones.data(), kWeights, 3, code, 5, fileName,
                                                         Dir.path() + "/", static_cast<int>(listed.size()),
                                                         codes.data());
        EXPECT_EQ(status, 0);
        return statistic;
    }

    // One routing step: subbasin i carries 10 i + step.
    static void RoutingStep(routstatistic& statistic, int step) {
        statistic.ResetStep();
        ZoneRecord* zones = statistic.GetZones();
        for (int i = 1; i <= 3; ++i) {
            zones[i].sx += 10.0 * i + step;
            zones[i].n += 1;
            zones[i].RelCellSum += 1;
        }
        statistic.CloseRoutedStep(2001, 3, 4, step);
    }

    TempDir Dir;
    std::ostringstream Console;
    DiagnosticsWriter Writer;
    std::vector<StatisticsTableEntry> Table;
};

TEST_F(RoutStatisticTest, RowsHaveOneColumnPerSubbasinAndNoTotal) {
    struct Case {
        int code;
        std::vector<int> listed;
        std::string line1, line3;
        std::vector<std::string> rows;
        int64_t valueCount;
    };
    const std::string all = "\t\"1\"\t\"2\"\t\"3\"";
    const std::string allWeights = "\t0.2500000\t0.3500000\t0.4000000";
    const std::vector<Case> cases = {
        {2001, {}, all, allWeights,
         {"2001\t 3\t 4\t 1\t11.00000\t21.00000\t31.00000", "2001\t 3\t 4\t 2\t12.00000\t22.00000\t32.00000",
          "2001\t 3\t 4\t 3\t13.00000\t23.00000\t33.00000", "2001\t 3\t 4\t 4\t14.00000\t24.00000\t34.00000"},
         4},
        {2002, {}, all, allWeights,
         {"2001\t 3\t 4\t 2\t11.50000\t21.50000\t31.50000", "2001\t 3\t 4\t 4\t13.50000\t23.50000\t33.50000"}, 4},
        {4002, {}, all, allWeights,
         {"2001\t 3\t 4\t 2\t23.00000\t43.00000\t63.00000", "2001\t 3\t 4\t 4\t27.00000\t47.00000\t67.00000"}, 4},
        {5002, {3}, "\t\"3\"", "\t0.4000000", {"2001\t 3\t 4\t 2\t31.50000", "2001\t 3\t 4\t 4\t33.50000"}, 2},
        {6002, {1, 3}, "\t\"1\"\t\"3\"", "\t0.2500000\t0.4000000",
         {"2001\t 3\t 4\t 2\t23.00000\t63.00000", "2001\t 3\t 4\t 4\t27.00000\t67.00000"}, 3},
        {1002, {}, "", "", {"2001\t 3\t 4\t 2", "2001\t 3\t 4\t 4"}, 1},
        {3001, {}, "", "", {"2001\t 3\t 4\t 1", "2001\t 3\t 4\t 2", "2001\t 3\t 4\t 3", "2001\t 3\t 4\t 4"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        std::fill(Table.begin(), Table.end(), StatisticsTableEntry{});
        auto zones = Subbasins();
        auto statistic = Make(c.code, zones, c.listed);
        statistic->WriteHeader("routed discharge [ m3 per sec ] ", "routing_model");
        for (int step = 1; step <= 4; ++step) RoutingStep(*statistic, step);
        // Readers use the values 1 to count - 1: every column is visible.
        EXPECT_EQ(Table[0].ValueCount, c.valueCount);
        EXPECT_EQ(Table[1].ValueCount, c.valueCount);
        statistic->Close();
        const auto lines = Lines(ReadFile(Dir.file("Q.txt")));
        ASSERT_EQ(lines.size(), 3 + c.rows.size());
        EXPECT_EQ(lines[0], "YY\tMM\tDD\tHH" + c.line1);
        EXPECT_EQ(lines[1], "routed discharge [ m3 per sec ] _submodel:routing_model");
        EXPECT_EQ(lines[2], "--\t--\t--\t--" + c.line3);
        for (size_t r = 0; r < c.rows.size(); ++r) EXPECT_EQ(lines[3 + r], c.rows[r]);
    }
}

TEST_F(RoutStatisticTest, CloseStepOfARoutedStatisticAddsNoTotal) {
    auto zones = Subbasins();
    auto statistic = Make(2001, zones);
    statistic->WriteHeader("Q", "routing_model");
    statistic->ResetStep();
    for (int i = 1; i <= 3; ++i) {
        zones[i].sx = i;
        zones[i].n = zones[i].RelCellSum = 1;
    }
    statistic->CloseStep(2001, 1, 1, 0);
    statistic->Close();
    EXPECT_EQ(Lines(ReadFile(Dir.file("Q.txt")))[3], "2001\t 1\t 1\t 0\t1.00000\t2.00000\t3.00000");
}

TEST_F(RoutStatisticTest, ObservedEntryFollowsTheRoutedEntry) {
    Table[0].ValueCount = 2;  // taken by another statistic
    auto zones = Subbasins();
    auto statistic = Make(2001, zones);
    EXPECT_EQ(statistic->WriteHeader("Q", "routing_model"), 2);
    EXPECT_EQ(statistic->GetTableIndex(), 1);
    const StatisticsTableEntry& observed = Table[2];
    EXPECT_EQ(observed.ValueCount, 4);
    EXPECT_STREQ(observed.NameText, "observed Runoff");
    EXPECT_STREQ(Table[1].NameText, "Q_submodel:routing_model");
    for (int j = 1; j <= 3; ++j) {
        EXPECT_EQ(observed.ColumnCodes[j], j);
        EXPECT_EQ(observed.AreaFractions[j], kWeights[j]);
        EXPECT_EQ(Table[1].AreaFractions[j], kWeights[j]);
    }
    ASSERT_EQ(statistic->ObservedValues(), observed.CurrentValues);
    statistic->ObservedValues()[3] = 7.5;
    EXPECT_EQ(observed.CurrentValues[3], 7.5);
    RoutingStep(*statistic, 1);
    EXPECT_EQ(Table[1].CurrentValues[3], 31.0);
    statistic->Close();
    EXPECT_EQ(Table[1].ValueCount, 0);
    EXPECT_EQ(Table[2].ValueCount, 0);
    EXPECT_EQ(Table[2].CurrentValues, nullptr);
    EXPECT_EQ(Table[0].ValueCount, 2);
}

TEST_F(RoutStatisticTest, NoObservedEntryWhenTheNextEntryIsTakenOrMissing) {
    {
        SCOPED_TRACE("the routed entry takes the last one");
        auto zones = Subbasins();
        auto statistic = Make(2001, zones, {}, 1);
        EXPECT_EQ(statistic->WriteHeader("Q", "routing_model"), 0);
        EXPECT_EQ(statistic->GetTableIndex(), 0);
        EXPECT_EQ(statistic->ObservedValues(), nullptr);
        EXPECT_EQ(Table[1].ValueCount, 0);
        statistic->Close();
    }
    {
        SCOPED_TRACE("the next entry is in use");
        std::fill(Table.begin(), Table.end(), StatisticsTableEntry{});
        Table[1].ValueCount = 3;
        auto zones = Subbasins();
        auto statistic = Make(2001, zones);
        EXPECT_EQ(statistic->WriteHeader("Q", "routing_model"), 0);
        EXPECT_EQ(statistic->GetTableIndex(), 0);
        EXPECT_EQ(statistic->ObservedValues(), nullptr);
        EXPECT_EQ(Table[1].ValueCount, 3);
        EXPECT_EQ(Table[1].CurrentValues, nullptr);
        statistic->Close();
    }
    {
        SCOPED_TRACE("off");
        std::fill(Table.begin(), Table.end(), StatisticsTableEntry{});
        std::remove(Dir.file("Q.txt").c_str());
        auto zones = Subbasins();
        auto statistic = Make(1000, zones);
        EXPECT_EQ(statistic->WriteHeader("Q", "routing_model"), 0);
        EXPECT_EQ(statistic->ObservedValues(), nullptr);
        statistic->WriteEfficiency(nullptr, nullptr);
        statistic->Close();
        EXPECT_FALSE(FileExists(Dir.file("Q.txt")));
        EXPECT_EQ(Table[0].ValueCount, 0);
    }
}

// Sums of the pairs: N, D, Q, M, S, R.
std::vector<double> PairSums(const std::vector<double>& observed, const std::vector<double>& simulated) {
    std::vector<double> s(6, 0.0);
    for (size_t i = 0; i < observed.size(); ++i) {
        const double d = simulated[i] - observed[i];
        s[0] += 1;
        s[1] += d;
        s[2] += d * d;
        s[3] += 1;
        s[4] += observed[i];
        s[5] += observed[i] * observed[i];
    }
    return s;
}

TEST(EfficiencyKernels, NashSutcliffeAndBiasFreeForms) {
    struct Case {
        const char* what;
        std::vector<double> sums;
        double rSquare, coefficient;
    };
    const std::vector<double> obs = {1, 2, 3, 4, 5};  // variance 2.5
    const std::vector<Case> cases = {
        // A constant bias of +1: Nash-Sutcliffe 1 - 5/10; without the bias a perfect fit.
        {"bias 1", PairSums(obs, {2, 3, 4, 5, 6}), 0.5, 1.0},
        {"perfect", PairSums(obs, obs), 1.0, 1.0},
        // Deviations 1, 0, 0, 0, -1: 1 - (2/4)/2.5 for both.
        {"unbiased noise", PairSums(obs, {2, 2, 3, 4, 4}), 0.8, 0.8},
        // Deviations 0, 1, 0, 1, 1: 1 - (3/4)/2.5 and 1 - ((3 - 9/5)/4)/2.5.
        {"biased noise", PairSums(obs, {1, 3, 3, 5, 6}), 0.7, 0.88},
        {"two pairs", PairSums({1, 3}, {1, 3}), -9999, -9999},
        {"no pairs", std::vector<double>(6, 0.0), -9999, -9999},
        {"constant observations", PairSums({3, 3, 3, 3}, {3, 4, 2, 3}), -9999, -9999},
        {"two observations", {5, 0, 1, 2, 4, 10}, -9999, -9999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(EfficiencyRSquare(c.sums.data()), c.rSquare, 1e-12);
        EXPECT_NEAR(EfficiencyCoefficient(c.sums.data()), c.coefficient, 1e-12);
    }
    EXPECT_EQ(EfficiencyRSquare(nullptr), -9999);
    EXPECT_DOUBLE_EQ(ObservedVariance(5, 15, 55), 2.5);
    EXPECT_EQ(ObservedVariance(2, 3, 5), 0.0);
}

TEST_F(RoutStatisticTest, EfficiencyTablesFollowTheRowsWithShiftsInOrder) {
    // Sums per shift index k (shift k - 10), linear: subbasin 1 has N = M = 5,
    // variance 2.5, D = 2 and Q = k + 1, so R-square = 1 - (k + 1)/10 and the
    // coefficient 1 - (k + 0.2)/10; subbasin 2 has only two pairs, subbasin 3
    // constant observations. Logarithmic: subbasin 1 has Q = 21 - k.
    std::vector<std::vector<double>> linear(21, std::vector<double>(24, 0.0));
    std::vector<std::vector<double>> logarithmic(21, std::vector<double>(24, 0.0));
    for (int k = 0; k < 21; ++k) {
        for (auto* sums : {&linear[k], &logarithmic[k]}) {
            double* s = sums->data();
            s[6 + 0] = 5, s[6 + 1] = 2, s[6 + 3] = 5, s[6 + 4] = 15, s[6 + 5] = 55;
            s[12 + 0] = 2, s[12 + 2] = 1, s[12 + 3] = 2, s[12 + 4] = 3, s[12 + 5] = 5;
            s[18 + 0] = 5, s[18 + 2] = 3, s[18 + 3] = 5, s[18 + 4] = 10, s[18 + 5] = 20;
        }
        linear[k][6 + 2] = k + 1;
        logarithmic[k][6 + 2] = 21 - k;
    }
    std::vector<const double*> L, G;
    for (int k = 0; k < 21; ++k) {
        L.push_back(linear[k].data());
        G.push_back(logarithmic[k].data());
    }

    auto format = [](double v) {
        char text[64];
        std::snprintf(text, sizeof text, "\t%.4f", v);
        return std::string(text);
    };
    struct Case {
        int code;
        std::vector<int> listed;
        std::vector<int> columns;  // subbasins printed
    };
    for (const Case& c : std::vector<Case>{{2001, {}, {1, 2, 3}}, {5001, {1, 3}, {1, 3}}, {1001, {}, {}}}) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        auto zones = Subbasins();
        auto statistic = Make(c.code, zones, c.listed);
        statistic->WriteHeader("Q", "routing_model");
        RoutingStep(*statistic, 1);
        RoutingStep(*statistic, 2);
        statistic->WriteEfficiency(L.data(), G.data());
        const auto lines = Lines(ReadFile(Dir.file("Q.txt")));
        ASSERT_EQ(lines.size(), 3u + 2u + 4u * 22u + 1u);
        const char* labels[4][2] = {{"LIN. R-SQUARE", "lin. R-square"},
                                    {"LOG. R-SQUARE", "log. R-square"},
                                    {"COEFF.VAR.LIN", "coeff.var.lin"},
                                    {"COEFF.VAR.LOG", "coeff.var.log"}};
        for (int table = 0; table < 4; ++table) {
            const size_t first = 5 + table * 22;
            EXPECT_EQ(lines[first], "----------------------");
            for (int k = 0; k < 21; ++k) {
                const int shift = k - 10;
                const double q = table % 2 == 0 ? k + 1 : 21 - k;
                const double value = table < 2 ? 1 - q / 10 : 1 - (q - 0.8) / 10;
                std::string expected = std::string(labels[table][shift == 0 ? 0 : 1]) + "\t" + std::to_string(shift);
                for (int column : c.columns) expected += column == 1 ? format(value) : "\t-9999.0000";
                EXPECT_EQ(lines[first + 1 + k], expected);
            }
        }
        EXPECT_EQ(lines.back(), "----------------------");
        EXPECT_EQ(lines[3].substr(0, 13), "2001\t 3\t 4\t 1") << "the buffered rows come first";
        EXPECT_EQ(lines[4].substr(0, 13), "2001\t 3\t 4\t 2");
        // The zero-shift linear coefficients stay in the zone table, printed or not.
        EXPECT_NEAR(zones[1].sx, 1 - (10 + 0.2) / 10, 1e-12);
        EXPECT_EQ(zones[2].sx, -9999);
        EXPECT_EQ(zones[3].sx, -9999);
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(zones[i].n, 1);
        statistic->Close();
        EXPECT_EQ(Lines(ReadFile(Dir.file("Q.txt"))).size(), lines.size()) << "nothing is written after the tables";
    }
}

TEST_F(RoutStatisticTest, MissingSumsGiveMissingEfficiencies) {
    auto zones = Subbasins();
    auto statistic = Make(2001, zones);
    statistic->WriteHeader("Q", "routing_model");
    statistic->WriteEfficiency(nullptr, nullptr);
    const auto lines = Lines(ReadFile(Dir.file("Q.txt")));
    ASSERT_EQ(lines.size(), 3u + 89u);
    EXPECT_EQ(lines[4], "lin. R-square\t-10\t-9999.0000\t-9999.0000\t-9999.0000");
    EXPECT_EQ(lines[14], "LIN. R-SQUARE\t0\t-9999.0000\t-9999.0000\t-9999.0000");
}

}  // namespace
