#include "io/stat_files.h"

#include <gtest/gtest.h>
#include <readstat.h>
#include <unistd.h>

#include <bit>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "data/vectors.h"

namespace korw::io {
namespace {

namespace fs = std::filesystem;
using data::MissingValue;

const std::string kFixtures = std::string(KORW_TEST_DIR) + "/io/fixtures/";

// A scratch directory of its own for each test.
class StatFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("korw_stat_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const ImportColumn& Column(const ImportTable& table, const std::string& name) {
    for (const ImportColumn& column : table.columns)
        if (column.name == name) return column;
    ADD_FAILURE() << "no column " << name;
    static const ImportColumn none;
    return none;
}

std::vector<float> Values(const ImportColumn& column) {
    return std::vector<float>(column.values.begin() + 1, column.values.end());
}
std::vector<int> Levels(const ImportColumn& column) {
    return std::vector<int>(column.levels.begin() + 1, column.levels.end());
}

// A file written straight through ReadStat, to make inputs that neither KORW nor R writes.
struct TestVariable {
    std::string name;
    readstat_type_t type = READSTAT_TYPE_DOUBLE;
    std::string format;
    std::vector<double> numbers;     // NaN: system missing
    std::vector<std::string> texts;  // for a string variable
    std::vector<std::pair<double, std::string>> labels;
};

ssize_t ToFile(const void* bytes, size_t length, void* ctx) {
    return static_cast<ssize_t>(std::fwrite(bytes, 1, length, static_cast<std::FILE*>(ctx)));
}

void WriteTestFile(const std::string& path, const std::string& type,
                   const std::vector<TestVariable>& variables, long rows) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    readstat_writer_t* writer = readstat_writer_init();
    readstat_set_data_writer(writer, ToFile);
    std::vector<readstat_variable_t*> added;
    for (const TestVariable& v : variables) {
        size_t width = 0;
        for (const std::string& t : v.texts) width = std::max(width, t.size() + 1);
        readstat_variable_t* variable =
            readstat_add_variable(writer, v.name.c_str(), v.type, width);
        if (!v.format.empty()) readstat_variable_set_format(variable, v.format.c_str());
        if (!v.labels.empty()) {
            bool stata = type == "dta";
            readstat_label_set_t* set = readstat_add_label_set(
                writer, stata ? READSTAT_TYPE_INT32 : READSTAT_TYPE_DOUBLE, v.name.c_str());
            for (const auto& [code, label] : v.labels) {
                if (stata)
                    readstat_label_int32_value(set, static_cast<int32_t>(code), label.c_str());
                else
                    readstat_label_double_value(set, code, label.c_str());
            }
            readstat_variable_set_label_set(variable, set);
        }
        added.push_back(variable);
    }
    readstat_error_t status = READSTAT_OK;
    if (type == "dta") {
        readstat_writer_set_file_format_version(writer, 118);
        status = readstat_begin_writing_dta(writer, file, rows);
    } else if (type == "sav") {
        status = readstat_begin_writing_sav(writer, file, rows);
    } else if (type == "por") {
        status = readstat_begin_writing_por(writer, file, rows);
    } else if (type == "sas7bdat") {
        status = readstat_begin_writing_sas7bdat(writer, file, rows);
    } else {
        status = readstat_begin_writing_xport(writer, file, rows);
    }
    for (long row = 0; row < rows && status == READSTAT_OK; ++row) {
        status = readstat_begin_row(writer);
        for (size_t i = 0; i < variables.size() && status == READSTAT_OK; ++i) {
            const TestVariable& v = variables[i];
            if (v.type == READSTAT_TYPE_STRING)
                status = readstat_insert_string_value(writer, added[i], v.texts[row].c_str());
            else if (std::isnan(v.numbers[row]))
                status = readstat_insert_missing_value(writer, added[i]);
            else
                status = readstat_insert_double_value(writer, added[i], v.numbers[row]);
        }
        if (status == READSTAT_OK) status = readstat_end_row(writer);
    }
    if (status == READSTAT_OK) status = readstat_end_writing(writer);
    readstat_writer_free(writer);
    std::fclose(file);
    ASSERT_EQ(status, READSTAT_OK) << readstat_error_message(status);
}

TestVariable Numbers(const std::string& name, std::vector<double> numbers,
                     const std::string& format = "") {
    TestVariable v{name, READSTAT_TYPE_DOUBLE, format, std::move(numbers), {}, {}};
    return v;
}

// ---------------------------------------------------------------------------------------------
// Files written by R's haven (tests/reference/io_stat.R)

TEST_F(StatFiles, StataFixture) {
    ImportTable table;
    std::string error;
    ASSERT_TRUE(ReadStatFile(kFixtures + "stat.dta", "stat.dta", StatFormat::Stata, table, error))
        << error;
    EXPECT_EQ(table.rows, 4);
    EXPECT_EQ(table.detected, "");
    ASSERT_EQ(table.columns.size(), 8u);

    const ImportColumn& num = Column(table, "NUM");
    EXPECT_EQ(Values(num), (std::vector<float>{1.5f, MissingValue, -2.25f, 16777216.0f}));
    EXPECT_EQ(num.rounded, 1);
    EXPECT_EQ(num.firstRoundedLine, 4);

    const ImportColumn& str = Column(table, "STR");
    EXPECT_EQ(str.kind, ColumnKind::Levels);
    EXPECT_EQ(Levels(str), (std::vector<int>{2, 0, 1, 2}));
    EXPECT_EQ(str.texts, (std::vector<std::string>{"a", "b"}));

    const ImportColumn& day = Column(table, "DAY");
    EXPECT_TRUE(day.date);
    EXPECT_EQ(Values(day), (std::vector<float>{0, 14669, MissingValue, -1}));
    const ImportColumn& stamp = Column(table, "STAMP");
    EXPECT_TRUE(stamp.date);
    EXPECT_EQ(Values(stamp), (std::vector<float>{0.5f, 14669.25f, -0.25f, MissingValue}));

    // Codes 1..255 are the levels; an unlabelled code is named by its number.
    const ImportColumn& lab = Column(table, "LAB");
    EXPECT_EQ(lab.kind, ColumnKind::Levels);
    EXPECT_EQ(Levels(lab), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(lab.texts, (std::vector<std::string>{"One", "2", "Three"}));
    // Other codes are numbered in increasing order.
    const ImportColumn& odd = Column(table, "ODD");
    EXPECT_EQ(Levels(odd), (std::vector<int>{2, 1, 3, 2}));
    EXPECT_EQ(odd.texts, (std::vector<std::string>{"Neg", "None", "99"}));

    EXPECT_EQ(Values(Column(table, "TAG")), (std::vector<float>{1, MissingValue, 3, MissingValue}));
    const ImportColumn& coxint = Column(table, "#COXINT");
    EXPECT_EQ(coxint.label, "");
    EXPECT_EQ(Values(coxint), (std::vector<float>{7, 8, 9, 10}));
}

TEST_F(StatFiles, SpssFixture) {
    ImportTable table;
    std::string error;
    ASSERT_TRUE(ReadStatFile(kFixtures + "stat.sav", "stat.sav", StatFormat::Spss, table, error))
        << error;
    EXPECT_EQ(table.rows, 4);
    ASSERT_EQ(table.columns.size(), 10u);
    EXPECT_EQ(Values(Column(table, "NUM")),
              (std::vector<float>{1.5f, MissingValue, -2.25f, 16777216.0f}));
    EXPECT_EQ(Column(table, "STR").texts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Levels(Column(table, "STR")), (std::vector<int>{2, 0, 1, 2}));
    // Seconds since 1582-10-14 come in as days since 1960.
    EXPECT_EQ(Values(Column(table, "DAY")), (std::vector<float>{0, 14669, MissingValue, -1}));
    EXPECT_EQ(Values(Column(table, "STAMP")),
              (std::vector<float>{0.5f, 14669.25f, -0.25f, MissingValue}));
    EXPECT_EQ(Column(table, "LAB").texts, (std::vector<std::string>{"One", "2", "Three"}));
    EXPECT_EQ(Levels(Column(table, "ODD")), (std::vector<int>{2, 1, 3, 2}));

    const ImportColumn& frac = Column(table, "FRAC");
    EXPECT_EQ(Levels(frac), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(frac.texts, (std::vector<std::string>{"Half", "1"}));

    // User-missing values are missing, and a labelled user-missing code is no level.
    const ImportColumn& um = Column(table, "UM");
    EXPECT_EQ(Levels(um), (std::vector<int>{1, 0, 2, 0}));
    EXPECT_EQ(um.texts, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(Values(Column(table, "UMN")),
              (std::vector<float>{1.5f, MissingValue, MissingValue, 2}));
    EXPECT_EQ(Column(table, "#COXINT").label, "");
}

TEST_F(StatFiles, SasTransportFixture) {
    ImportTable table;
    std::string error;
    ASSERT_TRUE(
        ReadStatFile(kFixtures + "stat.xpt", "stat.xpt", StatFormat::SasTransport, table, error))
        << error;
    EXPECT_EQ(table.rows, 4);
    EXPECT_EQ(Values(Column(table, "NUM")),
              (std::vector<float>{1.5f, MissingValue, -2.25f, 16777216.0f}));
    EXPECT_EQ(Levels(Column(table, "STR")), (std::vector<int>{2, 0, 1, 2}));
    EXPECT_EQ(Values(Column(table, "DAY")), (std::vector<float>{0, 14669, MissingValue, -1}));
    EXPECT_EQ(Values(Column(table, "STAMP")),
              (std::vector<float>{0.5f, 14669.25f, -0.25f, MissingValue}));
    EXPECT_EQ(Values(Column(table, "#COXINT")), (std::vector<float>{7, 8, 9, 10}));
}

// ---------------------------------------------------------------------------------------------
// Files written by ReadStat itself: the formats R cannot write, and inputs made to fail

TEST_F(StatFiles, PortableAndSasDataSets) {
    TestVariable text{"T", READSTAT_TYPE_STRING, "", {}, {"x", "", "w"}, {}};
    std::vector<TestVariable> spss = {Numbers("X", {1.25, NAN, -3}),
                                      Numbers("D", {137775.0 * 86400, NAN, 0}, "DATE11"), text};
    WriteTestFile(Path("t.por"), "por", spss, 3);
    ImportTable table;
    std::string error;
    ASSERT_TRUE(ReadStatFile(Path("t.por"), "t.por", StatFormat::SpssPortable, table, error))
        << error;
    EXPECT_EQ(Values(Column(table, "X")), (std::vector<float>{1.25f, MissingValue, -3}));
    EXPECT_EQ(Values(Column(table, "D")), (std::vector<float>{0, MissingValue, -137775}));
    EXPECT_EQ(Column(table, "T").texts, (std::vector<std::string>{"w", "x"}));

    std::vector<TestVariable> sas = {Numbers("X", {1.25, NAN, -3}),
                                     Numbers("D", {1, 2, NAN}, "MMDDYY10"),
                                     Numbers("DT", {43200, NAN, -86400}, "DATETIME20"),
                                     Numbers("TM", {43200, 1, 2}, "TIME8"), text};
    WriteTestFile(Path("t.sas7bdat"), "sas7bdat", sas, 3);
    ASSERT_TRUE(ReadStatFile(Path("t.sas7bdat"), "t.sas7bdat", StatFormat::Sas, table, error))
        << error;
    EXPECT_EQ(Values(Column(table, "X")), (std::vector<float>{1.25f, MissingValue, -3}));
    EXPECT_EQ(Values(Column(table, "D")), (std::vector<float>{1, 2, MissingValue}));
    EXPECT_EQ(Values(Column(table, "DT")), (std::vector<float>{0.5f, MissingValue, -1}));
    EXPECT_FALSE(Column(table, "TM").date);  // a duration, not a point in time
    EXPECT_EQ(Levels(Column(table, "T")), (std::vector<int>{2, 0, 1}));
}

TEST_F(StatFiles, StataCountsOtherThanDaysStayNumbers) {
    WriteTestFile(Path("w.dta"), "dta",
                  {Numbers("W", {1, 2}, "%tw"), Numbers("D", {1, 2}, "%-tdDD_Mon_CCYY"),
                   Numbers("C", {86400000, 0}, "%tC")},
                  2);
    ImportTable table;
    std::string error;
    ASSERT_TRUE(ReadStatFile(Path("w.dta"), "w.dta", StatFormat::Stata, table, error)) << error;
    EXPECT_FALSE(Column(table, "W").date);
    EXPECT_EQ(Values(Column(table, "W")), (std::vector<float>{1, 2}));
    EXPECT_TRUE(Column(table, "D").date);
    EXPECT_EQ(Values(Column(table, "C")), (std::vector<float>{1, 0}));
}

TEST_F(StatFiles, DataBeyondWhatColumnsHold) {
    ImportTable table;
    std::string error;
    WriteTestFile(Path("big.dta"), "dta", {Numbers("BIG", {1, -1e39})}, 2);
    EXPECT_FALSE(ReadStatFile(Path("big.dta"), "big.dta", StatFormat::Stata, table, error));
    EXPECT_EQ(error, "Value -1e+39 in column BIG on row 2 is beyond single precision");
    EXPECT_TRUE(table.columns.empty());

    TestVariable texts{"T", READSTAT_TYPE_STRING, "", {}, {}, {}};
    for (int i = 0; i < 256; ++i) texts.texts.push_back("t" + std::to_string(i));
    WriteTestFile(Path("texts.sav"), "sav", {texts}, 256);
    EXPECT_FALSE(ReadStatFile(Path("texts.sav"), "texts.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(error, "Column T has more than 255 distinct texts");
    texts.texts.back() = "t0";
    WriteTestFile(Path("texts.sav"), "sav", {texts}, 256);
    EXPECT_TRUE(ReadStatFile(Path("texts.sav"), "texts.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(table.columns[0].texts.size(), 255u);

    // 255 codes from 1 to 255 make a factor; a code 0 more makes 256 codes, too many.
    TestVariable codes = Numbers("C", {});
    for (int i = 1; i <= 255; ++i) codes.numbers.push_back(i);
    codes.labels = {{1, "one"}};
    WriteTestFile(Path("codes.sav"), "sav", {codes}, 255);
    ASSERT_TRUE(ReadStatFile(Path("codes.sav"), "codes.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(table.columns[0].texts.size(), 255u);
    EXPECT_EQ(table.columns[0].texts[254], "255");
    codes.labels.emplace_back(0, "zero");
    WriteTestFile(Path("codes.sav"), "sav", {codes}, 255);
    EXPECT_FALSE(ReadStatFile(Path("codes.sav"), "codes.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(error, "Column C has more than 255 distinct codes");
}

TEST_F(StatFiles, FilesThatAreNoTables) {
    ImportTable table;
    std::string error;
    EXPECT_FALSE(ReadStatFile(Path("none.dta"), "none.dta", StatFormat::Stata, table, error));
    EXPECT_EQ(error, "IO error reading none.dta");
    EXPECT_FALSE(ReadStatFile(dir_.string(), "dir.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(error, "IO error reading dir.sav");

    Put(Path("text.dta"), "a,b\n1,2\n");
    EXPECT_FALSE(ReadStatFile(Path("text.dta"), "text.dta", StatFormat::Stata, table, error));
    EXPECT_EQ(error.rfind("text.dta is not a valid Stata file (", 0), 0u) << error;

    WriteTestFile(Path("empty.sav"), "sav", {Numbers("X", {})}, 0);
    EXPECT_FALSE(ReadStatFile(Path("empty.sav"), "empty.sav", StatFormat::Spss, table, error));
    EXPECT_EQ(error, "empty.sav holds no data");

    const std::pair<std::string, StatFormat> kinds[] = {{"stat.dta", StatFormat::Stata},
                                                        {"stat.sav", StatFormat::Spss},
                                                        {"stat.xpt", StatFormat::SasTransport}};
    const std::string names[] = {"Stata file", "SPSS file", "SAS transport file"};
    for (size_t k = 0; k < 3; ++k) {
        std::string bytes = Bytes(kFixtures + kinds[k].first);
        // Cut in the header, in the data and in the last bytes (the end of a Stata file's
        // value labels, the padding of the transport file's last record).
        for (size_t keep : {size_t{40}, bytes.size() / 2, bytes.size() - 200, bytes.size() - 10}) {
            Put(Path("cut"), bytes.substr(0, keep));
            EXPECT_FALSE(ReadStatFile(Path("cut"), "cut", kinds[k].second, table, error))
                << kinds[k].first << " cut at " << keep;
            EXPECT_EQ(error.rfind("cut is not a valid " + names[k] + " (", 0), 0u) << error;
        }
    }
}

// Every mutation of a valid file is read as a table or refused with a message; none may crash,
// hang or give columns of the wrong size.
TEST_F(StatFiles, MutatedFilesNeverBreakTheReader) {
    WriteTestFile(Path("seed.por"), "por",
                  {Numbers("X", {1.5, NAN, 3}),
                   TestVariable{"T", READSTAT_TYPE_STRING, "", {}, {"a", "", "b"}, {}}},
                  3);
    WriteTestFile(Path("seed.sas7bdat"), "sas7bdat", {Numbers("X", {1.5, NAN, 3})}, 3);
    const std::pair<std::string, StatFormat> seeds[] = {
        {kFixtures + "stat.dta", StatFormat::Stata},
        {kFixtures + "stat.sav", StatFormat::Spss},
        {kFixtures + "stat.xpt", StatFormat::SasTransport},
        {Path("seed.por"), StatFormat::SpssPortable},
        {Path("seed.sas7bdat"), StatFormat::Sas}};
    constexpr int kCasesPerSeed = 600;
    std::mt19937 random(20261208);
    int tables = 0;
    int refused = 0;
    for (const auto& [seed, format] : seeds) {
        std::string original = Bytes(seed);
        ASSERT_FALSE(original.empty());
        for (int i = 0; i < kCasesPerSeed; ++i) {
            std::string bytes = original;
            int flips = 1 + static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f) {
                size_t at = random() % bytes.size();
                bytes[at] = static_cast<char>(random() % 3 == 0 ? 0xff : random());
            }
            if (random() % 4 == 0) bytes.resize(random() % bytes.size());
            Put(Path("case"), bytes);
            ImportTable table;
            std::string error;
            if (ReadStatFile(Path("case"), "case", format, table, error)) {
                ++tables;
                ASSERT_GT(table.rows, 0);
                for (const ImportColumn& column : table.columns) {
                    auto size = static_cast<size_t>(table.rows) + 1;
                    if (column.kind == ColumnKind::Number) {
                        ASSERT_EQ(column.values.size(), size);
                    } else {
                        ASSERT_EQ(column.levels.size(), size);
                        for (uint8_t level : column.levels) ASSERT_LE(level, column.texts.size());
                    }
                }
            } else {
                ++refused;
                ASSERT_FALSE(error.empty());
                ASSERT_TRUE(table.columns.empty());
            }
        }
    }
    EXPECT_GT(tables, 0);
    EXPECT_GT(refused, 0);
}

// ---------------------------------------------------------------------------------------------
// Writing and reading back

ExportColumn NumberColumn(const std::string& name, std::vector<float> values) {
    ExportColumn column;
    column.name = name;
    column.values = std::move(values);
    return column;
}

ExportColumn FactorColumn(const std::string& name, std::vector<uint8_t> levels, int levelCount,
                          std::vector<std::string> texts) {
    ExportColumn column;
    column.name = name;
    column.kind = ColumnKind::Levels;
    column.levels = std::move(levels);
    column.levelCount = levelCount;
    column.texts = std::move(texts);
    return column;
}

std::vector<uint32_t> Bits(const std::vector<float>& values) {
    std::vector<uint32_t> bits;
    for (float v : values) bits.push_back(std::bit_cast<uint32_t>(v));
    return bits;
}

class StatRoundTrip : public StatFiles, public ::testing::WithParamInterface<StatFormat> {
  protected:
    // Writes the columns and reads them back.
    ImportTable RoundTrip(const std::vector<ExportColumn>& columns,
                          std::vector<std::pair<std::string, std::string>>& mapped) {
        std::string path = Path("round");
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::string error;
        EXPECT_TRUE(WriteStatFile(file, GetParam(), columns, mapped, error)) << error;
        std::fclose(file);
        ImportTable table;
        EXPECT_TRUE(ReadStatFile(path, "round", GetParam(), table, error)) << error;
        return table;
    }
};

TEST_P(StatRoundTrip, NumbersComeBackBitForBit) {
    std::vector<float> special = {0.0f,         -0.0f,         1.0f / 3,    FLT_MIN,
                                  FLT_TRUE_MIN, -FLT_TRUE_MIN, 1e-40f,      MissingValue,
                                  -FLT_MAX,     3.4e38f,       16777215.0f, 123456.789f};
    std::vector<float> small = {1,      2,       0.5f, -7, MissingValue, 1e38f, FLT_MIN, -0.0f,
                                1e-45f, 1.7e38f, 3,    4};
    std::vector<std::pair<std::string, std::string>> mapped;
    ImportTable table =
        RoundTrip({NumberColumn("WIDE", special), NumberColumn("NARROW", small)}, mapped);
    ASSERT_EQ(table.rows, 12);
    EXPECT_EQ(Bits(Values(Column(table, "WIDE"))), Bits(special));
    EXPECT_EQ(Bits(Values(Column(table, "NARROW"))), Bits(small));
    EXPECT_TRUE(mapped.empty());
}

TEST_P(StatRoundTrip, FactorsKeepLevelsAndTexts) {
    std::vector<std::pair<std::string, std::string>> mapped;
    ImportTable table =
        RoundTrip({FactorColumn("SEX", {1, 2, 0, 2}, 2, {"", "male", "female"}),
                   FactorColumn("GROUP", {3, 1, 1, 0}, 4, {"", "low", "", "high", ""}),
                   FactorColumn("PLAIN", {5, 255, 1, 0}, 255, {}),
                   FactorColumn("UTF", {1, 1, 1, 1}, 1,
                                {"",
                                 "\xc3\xa6"
                                 "bler \xc3\xb8 \xc3\xa5"})},
                  mapped);
    const ImportColumn& sex = Column(table, "SEX");
    EXPECT_EQ(sex.kind, ColumnKind::Levels);
    EXPECT_EQ(Levels(sex), (std::vector<int>{1, 2, 0, 2}));
    EXPECT_EQ(sex.texts, (std::vector<std::string>{"male", "female"}));
    // Unnamed levels are named by their numbers, unused ones are kept.
    EXPECT_EQ(Column(table, "GROUP").texts, (std::vector<std::string>{"low", "2", "high", "4"}));
    EXPECT_EQ(Levels(Column(table, "GROUP")), (std::vector<int>{3, 1, 1, 0}));
    const ImportColumn& plain = Column(table, "PLAIN");
    EXPECT_EQ(Levels(plain), (std::vector<int>{5, 255, 1, 0}));
    ASSERT_EQ(plain.texts.size(), 255u);
    EXPECT_EQ(plain.texts[99], "100");
    EXPECT_EQ(Column(table, "UTF").texts[0],
              "\xc3\xa6"
              "bler \xc3\xb8 \xc3\xa5");
}

TEST_P(StatRoundTrip, RefusedNamesAreMappedAndRestored) {
    std::vector<std::string> names = {"#COXINT", "_N", "_B",  "BY",   "A#",
                                      "A_",      "$X", "%&@", "WITH", "X1"};
    std::vector<ExportColumn> columns;
    for (const std::string& name : names) columns.push_back(NumberColumn(name, {1, 2}));
    std::vector<std::pair<std::string, std::string>> mapped;
    ImportTable table = RoundTrip(columns, mapped);
    ASSERT_EQ(table.columns.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(table.columns[i].name, names[i]);
        EXPECT_EQ(table.columns[i].label, "");
    }
    bool spss = GetParam() == StatFormat::Spss;
    std::vector<std::pair<std::string, std::string>> expected = {
        {"#COXINT", spss ? "V_COXINT" : "_COXINT"},
        {"_N", spss ? "V_N" : "V_N"},
        {"_B", spss ? "V_B" : "V_B"},
        {"A#", "A_2"},
        {"$X", spss ? "V_X" : "_X"},
        {"%&@", spss ? "V___" : "___"}};
    if (spss) {
        expected.insert(expected.begin() + 3, {"BY", "VBY"});
        expected.push_back({"WITH", "VWITH"});
    }
    EXPECT_EQ(mapped, expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, StatRoundTrip,
                         ::testing::Values(StatFormat::Stata, StatFormat::Spss));

TEST_F(StatFiles, NamesAreRestoredOnlyFromTheirOwnMapping) {
    EXPECT_EQ(StatVariableName("#COXINT", StatFormat::Stata), "_COXINT");
    EXPECT_EQ(StatVariableName("#COXINT", StatFormat::Spss), "V_COXINT");
    EXPECT_EQ(StatVariableName("AGE", StatFormat::Spss), "AGE");
    // A label that is a name but does not map to the variable's name stays a label.
    ImportTable table;
    std::string error;
    std::FILE* file = std::fopen(Path("l.sav").c_str(), "wb");
    readstat_writer_t* writer = readstat_writer_init();
    readstat_set_data_writer(writer, ToFile);
    readstat_variable_t* a = readstat_add_variable(writer, "income", READSTAT_TYPE_DOUBLE, 0);
    readstat_variable_set_label(a, "Money");
    readstat_variable_t* b = readstat_add_variable(writer, "Q_1", READSTAT_TYPE_DOUBLE, 0);
    readstat_variable_set_label(b, "q$1 ");
    readstat_variable_t* c = readstat_add_variable(writer, "Z", READSTAT_TYPE_DOUBLE, 0);
    readstat_variable_set_label(c, "CONSTANT");
    readstat_begin_writing_sav(writer, file, 1);
    readstat_begin_row(writer);
    for (auto* v : {a, b, c}) readstat_insert_double_value(writer, v, 1);
    readstat_end_row(writer);
    readstat_end_writing(writer);
    readstat_writer_free(writer);
    std::fclose(file);
    ASSERT_TRUE(ReadStatFile(Path("l.sav"), "l.sav", StatFormat::Spss, table, error)) << error;
    EXPECT_EQ(table.columns[0].name, "income");
    EXPECT_EQ(table.columns[0].label, "Money");
    EXPECT_EQ(table.columns[1].name, "Q$1");
    EXPECT_EQ(table.columns[1].label, "");
    EXPECT_EQ(table.columns[2].name, "Z");
    EXPECT_EQ(table.columns[2].label, "CONSTANT");
}

TEST_F(StatFiles, WriteFailuresAreReported) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    std::vector<float> many(100000, 1.5f);
    std::vector<std::pair<std::string, std::string>> mapped;
    std::string error;
    EXPECT_FALSE(WriteStatFile(full, StatFormat::Stata, {NumberColumn("X", many)}, mapped, error));
    EXPECT_EQ(error.rfind("Can not write the Stata file (", 0), 0u) << error;
    std::fclose(full);
}

}  // namespace
}  // namespace korw::io
