#include "io/delimited.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/mman.h>
#include <unistd.h>

#include "data/vectors.h"

namespace korw::io::unit {
namespace {

using data::MissingValue;

class Delimited : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("korw_delimited_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& text, const std::string& name = "t.csv") {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Reads `text` as a file; the error text when it does not read.
    std::string Read(const std::string& text, DelimitedOptions options = {}) {
        table = ImportTable();
        std::string error;
        if (!ReadDelimited(Write(text), "t.csv", options, table, error)) return error;
        EXPECT_TRUE(error.empty());
        return "";
    }
    std::vector<float> Values(size_t column) const {
        const auto& values = table.columns.at(column).values;
        return {values.begin() + 1, values.end()};
    }
    std::vector<std::string> Texts(size_t column) const {
        const ImportColumn& c = table.columns.at(column);
        std::vector<std::string> texts;
        for (size_t u = 1; u < c.levels.size(); ++u) {
            texts.push_back(c.levels[u] == 0 ? "<missing>" : c.texts[c.levels[u] - 1u]);
        }
        return texts;
    }

    std::filesystem::path dir_;
    ImportTable table;
};

using Floats = std::vector<float>;
using Strings = std::vector<std::string>;
const float M = MissingValue;

TEST_F(Delimited, SniffsTheDelimiterAndDecimalMark) {
    EXPECT_EQ(Read("a,b\n1,2\n3,4\n"), "");
    EXPECT_EQ(table.detected, "delimiter ',', header row");
    EXPECT_EQ(Values(1), (Floats{2, 4}));

    EXPECT_EQ(Read("x;y;z\n1;34;2,5\n2;35;-0,75\n"), "");
    EXPECT_EQ(table.detected, "delimiter ';', decimal comma, header row");
    ASSERT_EQ(table.columns.size(), 3u);
    EXPECT_EQ(Values(2), (Floats{2.5f, -0.75f}));

    EXPECT_EQ(Read("1;34;2,5\n"), "");
    ASSERT_EQ(table.columns.size(), 3u);
    EXPECT_EQ(Values(2), (Floats{2.5f}));
    EXPECT_EQ(table.detected, "delimiter ';', decimal comma, no header row");

    // A decimal point anywhere keeps commas out of numbers.
    EXPECT_EQ(Read("a;b\n1,5;2.5\n"), "");
    EXPECT_EQ(table.detected, "delimiter ';', header row");
    EXPECT_EQ(table.columns[0].kind, ColumnKind::Levels);

    EXPECT_EQ(Read("a\tb c\n1\t2\n"), "");
    EXPECT_EQ(table.detected, "delimiter tab, header row");
    EXPECT_EQ(table.columns[1].name, "b c");
    EXPECT_EQ(Read("a|b\n1|1,5E3\n"), "");
    EXPECT_EQ(table.detected, "delimiter '|', decimal comma, header row");
    EXPECT_EQ(Values(1), (Floats{1500}));
    EXPECT_EQ(Read("  a   b\n  1    2\n 10   20  \n"), "");
    EXPECT_EQ(table.detected, "delimiter blanks, header row");
    EXPECT_EQ(Values(1), (Floats{2, 20}));
    EXPECT_EQ(Read("a b c\n\"x y\" 1 2\nz  \"\" 4\n"), "");
    EXPECT_EQ(Texts(0), (Strings{"x y", "z"}));
    EXPECT_EQ(Values(1), (Floats{1, M}));
    // A delimiter that splits the rows below the first but not the first is none.
    EXPECT_EQ(Read("name\nJohn Smith\nAnn Lee\n"), "");
    EXPECT_EQ(table.detected, "no delimiter, header row");
    EXPECT_EQ(Texts(0), (Strings{"John Smith", "Ann Lee"}));
    EXPECT_EQ(Read("1.5\n2\n-3\n"), "");
    EXPECT_EQ(table.detected, "no delimiter, no header row");
    EXPECT_EQ(Values(0), (Floats{1.5f, 2, -3}));

    DelimitedOptions forced;
    forced.delimiter = ',';
    forced.decimal = ',';
    EXPECT_EQ(Read("a;b\n1;2\n", forced),
              "Decimal comma and delimiter comma cannot be used together");
    forced.delimiter = ';';
    forced.header = 0;
    EXPECT_EQ(Read("1,5;2\n", forced), "");
    EXPECT_EQ(table.detected, "delimiter ';', decimal comma, no header row");
    EXPECT_EQ(Values(0), (Floats{1.5f}));
}

TEST_F(Delimited, QuotesHoldDelimitersQuotesAndLineBreaks) {
    EXPECT_EQ(
        Read("name,n\n\"a, b\",1\n\"say \"\"hi\"\"\",2\n  \"two\nlines\r\nhere\" ,3\n\" x \",4\n"
             "\"\",5\n"),
        "");
    EXPECT_EQ(Texts(0), (Strings{"a, b", "say \"hi\"", "two\nlines\r\nhere", " x ", "<missing>"}));
    EXPECT_EQ(Values(1), (Floats{1, 2, 3, 4, 5}));
    // Lines inside quotes still count: the bad row starts on line 4.
    EXPECT_EQ(Read("a,b\n\"1\n2\",3\n4\n"), "Line 4 of t.csv has 1 fields, not 2");
    EXPECT_EQ(Read("a,b\n1,2\n3,\"open\n4,5\n"), "Quote opened on line 3 of t.csv is not closed");
    // A quote inside an unquoted field is data; text after a closing quote joins the field.
    EXPECT_EQ(Read("h,w\n5'3\",1\n"), "");
    EXPECT_EQ(Texts(0), (Strings{"5'3\""}));
    std::string quotes = "a,b\nx \"y,1\n\"p\" q,2\n  \"r\n\",3\n";
    EXPECT_EQ(Read(quotes), "");
    EXPECT_EQ(Texts(0), (Strings{"x \"y", "p q", "r\n"}));
    EXPECT_EQ(Values(1), (Floats{1, 2, 3}));
    EXPECT_EQ(Read(quotes + "4\n"), "Line 6 of t.csv has 1 fields, not 2");
}

TEST_F(Delimited, GuessesTheHeaderRow) {
    EXPECT_EQ(Read("1,2\n3,4\n"), "");
    EXPECT_EQ(table.detected, "delimiter ',', no header row");
    EXPECT_EQ(table.columns[0].name, "");
    EXPECT_EQ(Values(0), (Floats{1, 3}));
    EXPECT_EQ(Read("name,town\nann,oslo\nbo,rome\n"), "");  // texts throughout
    EXPECT_EQ(table.detected, "delimiter ',', header row");
    EXPECT_EQ(Texts(1), (Strings{"oslo", "rome"}));
    EXPECT_EQ(Read("when,x\n2020-01-01,1\n"), "");
    EXPECT_EQ(table.detected, "delimiter ',', header row");
    EXPECT_EQ(Read("2020-01-01\n2020-01-02\n"), "");
    EXPECT_EQ(table.detected, "no delimiter, no header row");
    DelimitedOptions options;
    options.header = 0;
    EXPECT_EQ(Read("a,b\n1,2\n", options), "");
    EXPECT_EQ(table.rows, 2);
    options.header = 1;
    EXPECT_EQ(Read("1,2\n3,4\n", options), "");
    EXPECT_EQ(table.columns[1].name, "2");
    EXPECT_EQ(Read("a,b\n"), "t.csv holds no data");
    EXPECT_EQ(Read(""), "t.csv holds no data");
    EXPECT_EQ(Read("\n\n  \n"), "t.csv holds no data");
}

TEST_F(Delimited, LineEndsBomAndEmptyLines) {
    EXPECT_EQ(Read("\xEF\xBB\xBF"
                   "a,b\r\n1,2\r\n\r\n3,4"),
              "");
    EXPECT_EQ(table.columns[0].name, "a");
    EXPECT_EQ(Values(1), (Floats{2, 4}));
    EXPECT_EQ(Read("a,b\r1,2\r3,4\r"), "");
    EXPECT_EQ(Values(0), (Floats{1, 3}));
    // Empty lines count for line numbers.
    EXPECT_EQ(Read("a,b\n\n1,2\n\n3\n"), "Line 5 of t.csv has 1 fields, not 2");
    EXPECT_EQ(Read("a,b\n1,2\n \n\t\n\n"), "");
    EXPECT_EQ(table.rows, 1);
}

TEST_F(Delimited, MissingTextsAreUnquoted) {
    DelimitedOptions options;
    options.missingTexts = {"-99"};
    EXPECT_EQ(Read("x,t\n1,a\nNA,NA\n.,\"NA\"\n*,\n NaN ,b\n-99,-99\n", options), "");
    EXPECT_EQ(Values(0), (Floats{1, M, M, M, M, M}));
    EXPECT_EQ(table.columns[0].nonNumbers, 0);
    EXPECT_EQ(Texts(1), (Strings{"a", "<missing>", "NA", "<missing>", "b", "<missing>"}));
    EXPECT_EQ(table.columns[1].texts, (Strings{"NA", "a", "b"}));
    // nan is not a number and not a missing text.
    EXPECT_EQ(Read("t\nnan\n"), "");
    EXPECT_EQ(Texts(0), (Strings{"nan"}));
    EXPECT_EQ(Read("x\nNA\n\n.\n"), "");
    EXPECT_EQ(table.columns[0].kind, ColumnKind::Number);
    EXPECT_EQ(Values(0), (Floats{M, M}));
}

TEST_F(Delimited, FewNonNumbersBecomeMissingValues) {
    std::string text = "x,y\n";
    for (int i = 1; i <= 60; ++i) {
        text += (i == 7    ? "n/a"
                 : i == 30 ? "0x10"
                           : std::to_string(i)) +
                "," + (i % 10 == 0 ? "?" : "1") + "\n";
    }
    EXPECT_EQ(Read(text), "");
    const ImportColumn& x = table.columns[0];
    EXPECT_EQ(x.kind, ColumnKind::Number);
    EXPECT_EQ(x.nonNumbers, 2);
    EXPECT_EQ(x.firstNonNumberLine, 8);
    EXPECT_EQ(x.firstNonNumberText, "n/a");
    EXPECT_EQ(Values(0)[6], M);
    EXPECT_EQ(Values(0)[7], 8);
    // One in ten is too many: texts.
    EXPECT_EQ(table.columns[1].kind, ColumnKind::Levels);
    EXPECT_EQ(table.columns[1].texts, (Strings{"1", "?"}));
    EXPECT_EQ(Read("x\n+1.5\n.5\n1.\n-2e-3\n1E+2\n1e-50\ninfinity\n0x1p3\n1e\n1.5.2\n"), "");
    EXPECT_EQ(table.columns[0].kind, ColumnKind::Levels);
}

TEST_F(Delimited, NumbersAreSinglePrecision) {
    EXPECT_EQ(Read("x\n+1.5\n.5\n1.\n-2e-3\n1E+2\n1e-50\n16777216\n16777217\n"
                   "00000000000000000016777217\n100000000000000000000\n"),
              "");
    EXPECT_EQ(Values(0),
              (Floats{1.5f, 0.5f, 1, -2e-3f, 100, 0, 16777216, 16777216, 16777216, 1e20f}));
    EXPECT_EQ(table.columns[0].rounded, 3);
    EXPECT_EQ(table.columns[0].firstRoundedLine, 9);
    EXPECT_EQ(Read("x\n1\n3.4028235e38\n-3.5e38\n"),
              "Value -3.5e38 in column x on line 4 is beyond single precision");
    EXPECT_EQ(Read("1\nInf\n"), "Value Inf in column V1 on line 2 is beyond single precision");
    // Every decimal reads as from_chars rounds it, short or long, near halfway or not.
    std::mt19937 random(5);
    std::string text = "x\n";
    Floats expected;
    for (int i = 0; i < 30000; ++i) {
        std::string number = std::to_string(random() % 1000000000);
        if (i % 3 == 0) number += std::to_string(random() % 100000000);
        if (i % 2 == 0) number.insert(random() % number.size(), ".");
        if (i % 5 == 0) number += "e" + std::to_string(static_cast<int>(random() % 60) - 40);
        if (i % 7 == 0) number = "16777217." + std::string(i % 11, '0') + "1";  // just past halfway
        float value = 0;
        auto result = std::from_chars(number.data(), number.data() + number.size(), value);
        if (result.ec != std::errc()) continue;
        text += number + "\n";
        expected.push_back(value);
    }
    EXPECT_EQ(Read(text), "");
    Floats values = Values(0);
    ASSERT_EQ(values.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(std::bit_cast<uint32_t>(values[i]), std::bit_cast<uint32_t>(expected[i])) << i;
    }
    // In a column of texts such a text is a text.
    EXPECT_EQ(Read("t\na\nb\ninf\n"), "");
    EXPECT_EQ(table.columns[0].texts, (Strings{"a", "b", "inf"}));
}

TEST_F(Delimited, TextColumnsHoldAtMost255Texts) {
    std::string text = "t,n\n";
    for (int i = 0; i < 255; ++i) text += "w" + std::to_string(i) + "," + std::to_string(i) + "\n";
    EXPECT_EQ(Read(text), "");
    EXPECT_EQ(table.columns[0].texts.size(), 255u);
    EXPECT_EQ(table.columns[0].texts[0], "w0");
    EXPECT_EQ(table.columns[0].texts[1], "w1");
    EXPECT_EQ(table.columns[0].texts[2], "w10");  // byte order
    EXPECT_EQ(table.columns[0].values.size(), 0u);
    EXPECT_EQ(Read(text + "w255,1\n"), "Column t has more than 255 distinct texts");
    DelimitedOptions options;
    options.keep = [](int index, std::string_view name) { return index == 1 && name == "n"; };
    EXPECT_EQ(Read(text + "w255,1\n", options), "");
    ASSERT_EQ(table.columns.size(), 1u);
    EXPECT_EQ(table.columns[0].name, "n");
    EXPECT_EQ(table.rows, 256);
}

TEST_F(Delimited, IsoDatesAreDaysSince1960) {
    EXPECT_EQ(Read("d,t\n1960-01-01,2021-03-04T12:00\n1959-12-31,2000-02-29 06:00:00\nNA,\n"), "");
    EXPECT_TRUE(table.columns[0].date);
    EXPECT_EQ(Values(0), (Floats{0, -1, M}));
    EXPECT_EQ(Values(1), (Floats{22343.5f, 14669.25f, M}));
    EXPECT_EQ(Read("d\n2021-02-29\n2021-02-28\n"), "");  // no such day: texts
    EXPECT_EQ(table.columns[0].kind, ColumnKind::Levels);
    std::string many = "d\n";
    for (int i = 0; i < 1000; ++i)
        many += "2000-01-" + std::string(i % 31 < 9 ? "0" : "") + std::to_string(i % 31 + 1) + "\n";
    EXPECT_EQ(Read(many), "");
    EXPECT_TRUE(table.columns[0].date);
    EXPECT_EQ(Values(0)[30], 14610 + 30);
}

TEST_F(Delimited, RefusesWhatIsNoTable) {
    std::string binary("PK\x03\x04\x14\0\0\0", 8);
    EXPECT_EQ(Read(binary + "abc,def\n"), "t.csv is not a text file");
    std::string late(200000, 'a');
    late += "\n";
    late[150000] = '\0';
    EXPECT_EQ(Read(late), "t.csv is not a text file");
    ImportTable t;
    std::string error;
    EXPECT_FALSE(ReadDelimited((dir_ / "none.csv").string(), "none.csv", {}, t, error));
    EXPECT_EQ(error, "IO error reading none.csv");
    EXPECT_FALSE(ReadDelimited(dir_.string(), "dir", {}, t, error));
    EXPECT_EQ(error, "IO error reading dir");
}

TEST_F(Delimited, HugeFieldsAndWideRowsReadInLinearTime) {
    std::string big(1000000, 'x');
    EXPECT_EQ(Read("a,b\n\"" + big + "\",1\n" + big + ",2\n"), "");
    ASSERT_EQ(table.columns[0].texts.size(), 1u);
    EXPECT_EQ(table.columns[0].texts[0].size(), 1000000u);
    std::string quotes;
    for (int i = 0; i < 300000; ++i) quotes += "\"\"";
    EXPECT_EQ(Read("a\n\"" + quotes + "\"\n"), "");
    EXPECT_EQ(table.columns[0].texts[0], std::string(300000, '"'));
    // Wide rows of texts: each column turns to texts, read again with all the others at once.
    std::string wide;
    for (int row = 0; row < 30; ++row) {
        for (int c = 0; c < 20000; ++c)
            wide += (c > 0 ? "," : "") + std::string(row % 2 ? "a" : "b");
        wide += "\n";
    }
    EXPECT_EQ(Read(wide), "");
    ASSERT_EQ(table.columns.size(), 20000u);
    EXPECT_EQ(table.rows, 29);
    EXPECT_EQ(Texts(19999)[0], "a");
}

// A mix that turns columns to texts, dates and numbers in different parts of the file.
std::string MixedFile(int rows) {
    std::mt19937 random(7);
    std::string text = "n,t,mostly,late,d,e\n";
    for (int i = 0; i < rows; ++i) {
        text += std::to_string(random() % 1000) + "." + std::to_string(random() % 10) + ",";
        text += "\"lvl " + std::to_string(random() % 30) + "\",";
        text += (random() % 50 == 0 ? "x" + std::to_string(i) : std::to_string(i)) + ",";
        text += (i > rows * 3 / 4 ? "word" + std::to_string(i % 7) : std::to_string(i % 5)) + ",";
        text += "2001-0" + std::to_string(i % 9 + 1) + "-1" + std::to_string(i % 10) + ",";
        text += (i % 3 == 0 ? "NA" : "16777217") + std::string("\n");
    }
    return text;
}

TEST_F(Delimited, ResultsDoNotDependOnThreads) {
    std::string text = MixedFile(5000);
    DelimitedOptions options;
    options.threads = 1;
    ASSERT_EQ(Read(text, options), "");
    ImportTable one = table;
    EXPECT_EQ(one.columns[2].kind, ColumnKind::Number);
    EXPECT_GT(one.columns[2].nonNumbers, 0);
    EXPECT_EQ(one.columns[3].kind, ColumnKind::Levels);
    EXPECT_TRUE(one.columns[4].date);
    EXPECT_EQ(one.columns[5].rounded, 3333);
    for (int threads : {2, 3, 8, 64}) {
        options.threads = threads;
        ASSERT_EQ(Read(text, options), "");
        for (size_t c = 0; c < one.columns.size(); ++c) {
            const ImportColumn& a = one.columns[c];
            const ImportColumn& b = table.columns[c];
            EXPECT_EQ(a.kind, b.kind) << c;
            EXPECT_EQ(a.values, b.values) << c;
            EXPECT_EQ(a.levels, b.levels) << c;
            EXPECT_EQ(a.texts, b.texts) << c;
            EXPECT_EQ(a.nonNumbers, b.nonNumbers) << c;
            EXPECT_EQ(a.firstNonNumberLine, b.firstNonNumberLine) << c;
            EXPECT_EQ(a.firstNonNumberText, b.firstNonNumberText) << c;
            EXPECT_EQ(a.firstRoundedLine, b.firstRoundedLine) << c;
        }
    }
    options.threads = 4;
    EXPECT_EQ(Read(text + "1,2\n" + text, options), "Line 5002 of t.csv has 2 fields, not 6");
}

// Files written by R (tests/reference/io_delimited.R) read back to the values R printed.
TEST_F(Delimited, ReadsWhatRWrites) {
    const std::pair<const char*, const char*> files[] = {
        {"r_write_csv.csv", "delimiter ',', header row"},
        {"r_write_csv2.csv", "delimiter ';', decimal comma, header row"},
        {"r_write_table.tsv", "delimiter tab, header row"}};
    for (auto [file, detected] : files) {
        std::string error;
        ASSERT_TRUE(ReadDelimited(std::string(KORW_TEST_DIR) + "/io/fixtures/" + file, file, {},
                                  table, error))
            << error;
        EXPECT_EQ(table.detected, detected) << file;
        ASSERT_EQ(table.columns.size(), 5u);
        EXPECT_EQ(table.columns[0].name, "x");
        EXPECT_EQ(Values(0), (Floats{1.5f, M, -2.25f, 0.001f, 123456.7f})) << file;
        EXPECT_EQ(Values(1), (Floats{1, 2, M, 16777216, 5})) << file;
        EXPECT_EQ(table.columns[1].rounded, 1);
        EXPECT_EQ(table.columns[1].firstRoundedLine, 5);
        EXPECT_EQ(table.columns[2].texts, (Strings{"a, c", "b", "say \"hi\""})) << file;
        EXPECT_EQ(table.columns[2].levels, (std::vector<uint8_t>{0, 2, 1, 0, 3, 2})) << file;
        EXPECT_EQ(Texts(3), (Strings{"NA", "x", "<missing>", "y", "z"})) << file;
        EXPECT_TRUE(table.columns[4].date);
        EXPECT_EQ(Values(4), (Floats{21915, M, 0, -1, 14669})) << file;
    }
}

std::string WriteToText(const std::vector<ExportColumn>& columns, char delimiter, bool writeNA) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(WriteDelimited(file, columns, delimiter, writeNA));
    std::string text(static_cast<size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), file), text.size());
    std::fclose(file);
    return text;
}

TEST_F(Delimited, WritesRowsWithQuotesWhereNeeded) {
    ExportColumn x{"x", ColumnKind::Number, {1.5f, M, 1e-45f, 3e38f}, {}, {}, 0};
    ExportColumn f{"f", ColumnKind::Levels, {}, {0, 1, 2, 3}, {"", "a,b", "NA", " pad"}, 3};
    ExportColumn g{"g h", ColumnKind::Levels, {}, {0, 2, 1, 0}, {}, 2};
    EXPECT_EQ(WriteToText({x, f, g}, ',', false),
              "x,f,g h\n1.5,,0\n,\"a,b\",2\n1e-45,\"NA\",1\n3e+38,\" pad\",0\n");
    EXPECT_EQ(WriteToText({x}, '\t', true), "x\n1.5\nNA\n1e-45\n3e+38\n");
    std::FILE* closed = std::fopen("/dev/full", "w");
    ASSERT_NE(closed, nullptr);
    EXPECT_FALSE(WriteDelimited(closed, {x}, ',', false));
    std::fclose(closed);
}

TEST_F(Delimited, WrittenFilesReadBackBitForBit) {
    std::mt19937 random(11);
    ExportColumn x{"x", ColumnKind::Number, {}, {}, {}, 0};
    for (int i = 0; i < 20000; ++i) {
        float v = std::bit_cast<float>(static_cast<uint32_t>(random()));
        if (!std::isfinite(v) || v == MissingValue) v = 0;
        x.values.push_back(v);
    }
    Floats extremes = {FLT_MAX,
                       -FLT_MAX,
                       FLT_MIN,
                       std::numeric_limits<float>::denorm_min(),
                       -std::numeric_limits<float>::denorm_min(),
                       16777216,
                       M,
                       -0.0f};
    x.values.insert(x.values.end(), extremes.begin(), extremes.end());
    ExportColumn t{"t",
                   ColumnKind::Levels,
                   {},
                   {},
                   {"", "a,b", "say \"x\"", "two\nlines", "NA", " lead", "tail\t", "NaN"},
                   7};
    for (size_t i = 0; i < x.values.size(); ++i) t.levels.push_back(static_cast<uint8_t>(i % 8));
    for (char delimiter : {',', ';', '\t'}) {
        std::string path = Write(WriteToText({x, t}, delimiter, delimiter == ';'));
        std::string error;
        ASSERT_TRUE(ReadDelimited(path, "t", {}, table, error)) << error;
        ASSERT_EQ(table.rows, static_cast<int64_t>(x.values.size()));
        for (size_t i = 0; i < x.values.size(); ++i) {
            ASSERT_EQ(std::bit_cast<uint32_t>(table.columns[0].values[i + 1]),
                      std::bit_cast<uint32_t>(x.values[i]))
                << i;
        }
        Strings expected;
        for (uint8_t level : t.levels)
            expected.push_back(level == 0 ? "<missing>" : t.texts[level]);
        EXPECT_EQ(Texts(1), expected);
    }
}

TEST_F(Delimited, RandomInputsGiveATableOrAnError) {
    std::mt19937 random(3);
    const std::string alphabet = ",;\t| \"\n\r.-+eE0123456789aNA*";
    std::vector<std::string> seeds = {MixedFile(30), "a;b\n1,5;\"x\"\"y\"\n", "\"a\nb\",c\r\n1,2",
                                      "1 2  3\n 4 5 6\n"};
    // A file in memory: truncating a file on disk thousands of times costs seconds.
    int fd = memfd_create("fuzz.csv", 0);
    ASSERT_GE(fd, 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        if (round % 2 == 0) {
            size_t length = random() % 60;
            for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        } else {
            text = seeds[random() % seeds.size()];
            for (int edits = 1 + static_cast<int>(random() % 4); edits > 0 && !text.empty();
                 --edits) {
                size_t at = random() % text.size();
                text[at] = alphabet[random() % alphabet.size()];
            }
        }
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
        DelimitedOptions options;
        options.threads = 1 + static_cast<int>(random() % 3);
        ImportTable t;
        std::string error;
        if (ReadDelimited(path, "f", options, t, error)) {
            ASSERT_TRUE(error.empty());
            for (const auto& column : t.columns) {
                size_t size =
                    column.kind == ColumnKind::Number ? column.values.size() : column.levels.size();
                ASSERT_EQ(size, static_cast<size_t>(t.rows + 1)) << text;
                for (uint8_t level : column.levels) ASSERT_LE(level, column.texts.size()) << text;
            }
        } else {
            ASSERT_FALSE(error.empty()) << text;
            ASSERT_TRUE(t.columns.empty());
        }
    }
    close(fd);
}

}  // namespace
}  // namespace korw::io::unit
