// The compiled-in tables against the verified data files they were transcribed from, value for
// value and bit for bit, plus the structural facts the codec relies on.
#include "codec/tables/AnalysisTables.h"
#include "codec/tables/LspTables.h"
#include "codec/tables/PitchTables.h"
#include "codec/tables/PulseTables.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace velmar {
namespace {

std::map<std::string, std::vector<double>> DerivedTables() {
    std::map<std::string, std::vector<double>> tables;
    std::vector<double>* current = nullptr;
    for (const std::string& line : test::ReadLines(test::DataDir() / "codec" / "derived_tables.txt")) {
        if (line[0] == '#') {
            continue;
        }
        std::istringstream in(line);
        if (line[0] == '@') {
            std::string at, name;
            in >> at >> name;
            current = &tables[name];
            continue;
        }
        for (std::string word; in >> word;) {
            current->push_back(std::strtod(word.c_str(), nullptr));
        }
    }
    return tables;
}

template <typename Table>
void ExpectSameValues(const Table& table, const std::vector<double>& expected, const char* name) {
    ASSERT_EQ(table.size(), expected.size()) << name;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        // Bitwise equality: the file prints each value so that it reads back as the exact double.
        ASSERT_EQ(static_cast<double>(table[i]), expected[i]) << name << "[" << i << "]";
        ASSERT_FALSE(std::signbit(static_cast<double>(table[i])) && table[i] == 0)
            << name << "[" << i << "] is -0";
    }
}

TEST(Tables, DerivedTablesMatchTheirDataFile) {
    const auto tables = DerivedTables();
    ExpectSameValues(CosineTable, tables.at("CosineTable"), "CosineTable");
    ExpectSameValues(AnalysisWindow, tables.at("AnalysisWindow"), "AnalysisWindow");
    ExpectSameValues(LagWindow, tables.at("LagWindow"), "LagWindow");
    ExpectSameValues(BandwidthFactors, tables.at("BandwidthFactors"), "BandwidthFactors");
    ExpectSameValues(WeightNumFactors, tables.at("WeightNumFactors"), "WeightNumFactors");
    ExpectSameValues(WeightDenFactors, tables.at("WeightDenFactors"), "WeightDenFactors");
    ExpectSameValues(SharpenLagOffset, tables.at("SharpenLagOffset"), "SharpenLagOffset");
    ExpectSameValues(SharpenGain, tables.at("SharpenGain"), "SharpenGain");
    std::vector<double> rows;
    for (const auto& row : PitchTapTable) {
        rows.insert(rows.end(), row.begin(), row.end());
    }
    ExpectSameValues(rows, tables.at("PitchTapTable"), "PitchTapTable");
}

TEST(Tables, LspCodebooksMatchTheirDataFile) {
    std::vector<double> values;
    for (const std::string& line : test::ReadLines(test::DataDir() / "codec" / "lsp_codebook_values.txt")) {
        if (line[0] == '#') {
            continue;
        }
        std::istringstream in(line);
        int table = 0, entry = 0;
        in >> table >> entry;
        for (std::string word; in >> word;) {
            values.push_back(std::strtod(word.c_str(), nullptr));
        }
    }
    ExpectSameValues(LspCodebookData, values, "LspCodebookData");
}

std::vector<double> SplitEntry(int split, int entry) {
    const LspSplit& s = kLspSplitLayout[split];
    const auto* first = LspCodebookData.data() + s.dataOffset + s.length * entry;
    return {first, first + s.length};
}

TEST(Tables, SplitWindowsOverlapTheStoredCodebooksAsLaidOut) {
    EXPECT_EQ(SplitEntry(0, 1), (std::vector<double>{-2.10938, -10.7188, -8.0625}));
    EXPECT_EQ(SplitEntry(0, 255), (std::vector<double>{13.2266, 37.4453, 46.9688}));
    EXPECT_EQ(SplitEntry(1, 63), SplitEntry(0, 255));
    EXPECT_EQ(SplitEntry(1, 0), (std::vector<double>{-11.0234, -5.625, 5.75}));
    EXPECT_EQ(SplitEntry(1, 64), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(SplitEntry(1, 255), (std::vector<double>{-9.0625, -17.3906, -10.8828}));
    EXPECT_EQ(SplitEntry(2, 0), (std::vector<double>{2.05469, -0.992188, 3.46875, 2.0625}));
    EXPECT_EQ(SplitEntry(2, 95), (std::vector<double>{28.625, 31.5234, 41.6719, 38.375}));
    EXPECT_EQ(SplitEntry(2, 96), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(SplitEntry(2, 255), (std::vector<double>{4.8125, 0.0546875, 0.609375, 2.375}));
}

TEST(Tables, StructuralFacts) {
    for (int j = 1; j < kLpcOrder; ++j) {
        EXPECT_LT(LspMean[j - 1], LspMean[j]);
    }
    EXPECT_EQ(CosineTable[0], 1.0);
    EXPECT_EQ(CosineTable[256], -1.0);
    EXPECT_EQ(AnalysisWindow[0], 0.08);
    EXPECT_EQ(AnalysisWindow[179], 0.08);
    EXPECT_EQ(AnalysisWindow[51], 0.640109);
    EXPECT_EQ(AnalysisWindow[128], 0.64011);
    for (int g = 0; g < kPitchGainRows; ++g) {
        // Rows that never sharpen carry gain 0, and a sharpening lag offset is otherwise small.
        if (SharpenLagOffset[g] == 60) {
            EXPECT_EQ(SharpenGain[g], 0.0) << g;
        } else {
            EXPECT_LE(std::abs(SharpenLagOffset[g]), 2) << g;
        }
    }
    for (double v : PitchTapTable[0]) {
        EXPECT_EQ(v, 0.0);
    }
    for (int i = 1; i < kPulseGainLevels; ++i) {
        EXPECT_LT(PulseGainTable[i - 1], PulseGainTable[i]);
    }
    EXPECT_EQ(PulseGainTable[0], 2.0);
    EXPECT_EQ(PulseGainTable[23], 13246.0);
}

} // namespace
} // namespace velmar
