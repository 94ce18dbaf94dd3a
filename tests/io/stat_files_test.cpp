#include "io/stat_files.h"

#include <gtest/gtest.h>
#include <readstat.h>
#include <unistd.h>

#include <bit>
#include <cfloat>
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

struct ReadResult {
    bool ok = false;
    ImportTable table;
    std::string error;
};

// Reads the file, named in messages by its last part.
ReadResult Read(const std::string& path, StatFormat format) {
    ReadResult result;
    result.ok =
        ReadStatFile(path, fs::path(path).filename().string(), format, result.table, result.error);
    return result;
}

// A variable of a file written straight through ReadStat, to make inputs that neither KORW nor R
// writes: text when `texts` is given, else numbers (NaN for system missing).
struct TestVariable {
    TestVariable(std::string n, std::vector<double> x = {}, std::vector<std::string> t = {},
                 std::string f = "", std::string l = "")
        : name(std::move(n)),
          numbers(std::move(x)),
          texts(std::move(t)),
          format(std::move(f)),
          label(std::move(l)) {}
    std::string name;
    std::vector<double> numbers;
    std::vector<std::string> texts;
    std::string format;
    std::string label;
    std::vector<std::pair<double, std::string>> labels;  // SPSS types only
};

ssize_t ToFile(const void* bytes, size_t length, void* ctx) {
    return static_cast<ssize_t>(std::fwrite(bytes, 1, length, static_cast<std::FILE*>(ctx)));
}

readstat_error_t BeginWriting(readstat_writer_t* writer, const std::string& type, std::FILE* file,
                              long rows) {
    if (type == "dta") return readstat_begin_writing_dta(writer, file, rows);
    if (type == "zsav") readstat_writer_set_compression(writer, READSTAT_COMPRESS_BINARY);
    if (type == "sav" || type == "zsav") return readstat_begin_writing_sav(writer, file, rows);
    if (type == "por") return readstat_begin_writing_por(writer, file, rows);
    return readstat_begin_writing_sas7bdat(writer, file, rows);
}

readstat_variable_t* AddTestVariable(readstat_writer_t* writer, const TestVariable& v) {
    size_t width = 0;
    for (const std::string& t : v.texts) width = std::max(width, t.size() + 1);
    readstat_variable_t* variable =
        readstat_add_variable(writer, v.name.c_str(),
                              v.texts.empty() ? READSTAT_TYPE_DOUBLE : READSTAT_TYPE_STRING, width);
    readstat_variable_set_format(variable, v.format.c_str());
    readstat_variable_set_label(variable, v.label.c_str());
    if (v.labels.empty()) return variable;
    readstat_label_set_t* set =
        readstat_add_label_set(writer, READSTAT_TYPE_DOUBLE, v.name.c_str());
    for (const auto& [code, label] : v.labels)
        readstat_label_double_value(set, code, label.c_str());
    readstat_variable_set_label_set(variable, set);
    return variable;
}

void WriteTestFile(const std::string& path, const std::string& type,
                   const std::vector<TestVariable>& variables) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    readstat_writer_t* writer = readstat_writer_init();
    readstat_set_data_writer(writer, ToFile);
    if (type == "dta") readstat_writer_set_file_format_version(writer, 118);
    if (type == "zsav") readstat_writer_set_file_format_version(writer, 3);
    std::vector<readstat_variable_t*> added;
    for (const TestVariable& v : variables) added.push_back(AddTestVariable(writer, v));
    size_t rows = std::max(variables[0].numbers.size(), variables[0].texts.size());
    readstat_error_t status = BeginWriting(writer, type, file, static_cast<long>(rows));
    for (size_t row = 0; row < rows && status == READSTAT_OK; ++row) {
        status = readstat_begin_row(writer);
        for (size_t i = 0; i < variables.size() && status == READSTAT_OK; ++i) {
            const TestVariable& v = variables[i];
            if (!v.texts.empty())
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

// ---------------------------------------------------------------------------------------------
// Files written by R's haven (tests/reference/io_stat.R)

const std::pair<std::string, StatFormat> kFixtureFiles[] = {{"stat.dta", StatFormat::Stata},
                                                            {"stat.sav", StatFormat::Spss},
                                                            {"stat.xpt", StatFormat::SasTransport}};

TEST_F(StatFiles, ColumnsEveryFixtureHolds) {
    for (const auto& [file, format] : kFixtureFiles) {
        SCOPED_TRACE(file);
        ReadResult read = Read(kFixtures + file, format);
        ASSERT_TRUE(read.ok) << read.error;
        const ImportTable& table = read.table;
        EXPECT_EQ(table.rows, 4);
        EXPECT_EQ(table.detected, "");
        const ImportColumn& num = Column(table, "NUM");
        EXPECT_EQ(Values(num), (std::vector<float>{1.5f, MissingValue, -2.25f, 16777216.0f}));
        EXPECT_EQ(num.rounded, 1);
        EXPECT_EQ(num.firstRoundedLine, 4);
        const ImportColumn& str = Column(table, "STR");
        EXPECT_EQ(Levels(str), (std::vector<int>{2, 0, 1, 2}));
        EXPECT_EQ(str.texts, (std::vector<std::string>{"a", "b"}));
        // Days since 1960, from Stata's days and milliseconds, SPSS's seconds since 1582-10-14
        // and SAS's days and seconds.
        EXPECT_TRUE(Column(table, "DAY").date);
        EXPECT_EQ(Values(Column(table, "DAY")), (std::vector<float>{0, 14669, MissingValue, -1}));
        EXPECT_TRUE(Column(table, "STAMP").date);
        EXPECT_EQ(Values(Column(table, "STAMP")),
                  (std::vector<float>{0.5f, 14669.25f, -0.25f, MissingValue}));
        EXPECT_EQ(Values(Column(table, "#COXINT")), (std::vector<float>{7, 8, 9, 10}));
        EXPECT_EQ(Column(table, "#COXINT").label, "");
    }
}

TEST_F(StatFiles, LabelledCodesAndMissingValues) {
    for (const auto& [file, format] : {kFixtureFiles[0], kFixtureFiles[1]}) {
        SCOPED_TRACE(file);
        ReadResult read = Read(kFixtures + file, format);
        ASSERT_TRUE(read.ok) << read.error;
        // Codes 1..255 are the levels; an unlabelled code is named by its number.
        const ImportColumn& lab = Column(read.table, "LAB");
        EXPECT_EQ(lab.kind, ColumnKind::Levels);
        EXPECT_EQ(Levels(lab), (std::vector<int>{1, 2, 3, 0}));
        EXPECT_EQ(lab.texts, (std::vector<std::string>{"One", "2", "Three"}));
        // Other codes are numbered in increasing order.
        EXPECT_EQ(Levels(Column(read.table, "ODD")), (std::vector<int>{2, 1, 3, 2}));
        EXPECT_EQ(Column(read.table, "ODD").texts, (std::vector<std::string>{"Neg", "None", "99"}));
    }
    ReadResult dta = Read(kFixtures + "stat.dta", StatFormat::Stata);
    EXPECT_EQ(Values(Column(dta.table, "TAG")),
              (std::vector<float>{1, MissingValue, 3, MissingValue}));

    ReadResult sav = Read(kFixtures + "stat.sav", StatFormat::Spss);
    EXPECT_EQ(Levels(Column(sav.table, "FRAC")), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(Column(sav.table, "FRAC").texts, (std::vector<std::string>{"Half", "1"}));
    // User-missing values are missing, and a labelled user-missing code is no level.
    EXPECT_EQ(Levels(Column(sav.table, "UM")), (std::vector<int>{1, 0, 2, 0}));
    EXPECT_EQ(Column(sav.table, "UM").texts, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(Values(Column(sav.table, "UMN")),
              (std::vector<float>{1.5f, MissingValue, MissingValue, 2}));
}

// ---------------------------------------------------------------------------------------------
// Files written by ReadStat itself: the formats R cannot write, and inputs made to fail

TEST_F(StatFiles, PortableCompressedAndSasDataSets) {
    const double day0 = 137775.0 * 86400;  // 1960-01-01 in SPSS's seconds
    std::vector<TestVariable> spss = {
        {"X", {1.25, NAN, -3}}, {"D", {day0, NAN, 0}, {}, "DATE11"}, {"T", {}, {"x", "", "w"}}};
    for (const char* type : {"por", "zsav"}) {
        WriteTestFile(Path("t"), type, spss);
        ReadResult read = Read(
            Path("t"), type == std::string("por") ? StatFormat::SpssPortable : StatFormat::Spss);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(Values(Column(read.table, "X")), (std::vector<float>{1.25f, MissingValue, -3}));
        EXPECT_EQ(Values(Column(read.table, "D")), (std::vector<float>{0, MissingValue, -137775}));
        EXPECT_EQ(Column(read.table, "T").texts, (std::vector<std::string>{"w", "x"}));
    }
    WriteTestFile(Path("t"), "sas7bdat",
                  {{"D", {1, 2, NAN}, {}, "MMDDYY10"},
                   {"DT", {43200, NAN, -86400}, {}, "DATETIME20"},
                   {"TM", {43200, 1, 2}, {}, "TIME8"}});
    ReadResult sas = Read(Path("t"), StatFormat::Sas);
    ASSERT_TRUE(sas.ok) << sas.error;
    EXPECT_EQ(Values(Column(sas.table, "D")), (std::vector<float>{1, 2, MissingValue}));
    EXPECT_EQ(Values(Column(sas.table, "DT")), (std::vector<float>{0.5f, MissingValue, -1}));
    EXPECT_FALSE(Column(sas.table, "TM").date);  // a duration, not a point in time

    // Stata's weeks (and months, quarters...) are counts, not days.
    WriteTestFile(Path("t"), "dta",
                  {{"W", {1, 2}, {}, "%tw"},
                   {"D", {1, 2}, {}, "%-tdDD_Mon_CCYY"},
                   {"C", {86400000, 0}, {}, "%tC"}});
    ReadResult dta = Read(Path("t"), StatFormat::Stata);
    EXPECT_FALSE(Column(dta.table, "W").date);
    EXPECT_TRUE(Column(dta.table, "D").date);
    EXPECT_EQ(Values(Column(dta.table, "C")), (std::vector<float>{1, 0}));
}

TEST_F(StatFiles, DataBeyondWhatColumnsHold) {
    WriteTestFile(Path("big.dta"), "dta", {{"BIG", {1, -1e39}}});
    ReadResult read = Read(Path("big.dta"), StatFormat::Stata);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, "Value -1e+39 in column BIG on row 2 is beyond single precision");
    EXPECT_TRUE(read.table.columns.empty());

    TestVariable texts{"T"};
    for (int i = 0; i < 256; ++i) texts.texts.push_back("t" + std::to_string(i));
    WriteTestFile(Path("t.sav"), "sav", {texts});
    EXPECT_EQ(Read(Path("t.sav"), StatFormat::Spss).error,
              "Column T has more than 255 distinct texts");
    texts.texts.back() = "t0";
    WriteTestFile(Path("t.sav"), "sav", {texts});
    EXPECT_EQ(Read(Path("t.sav"), StatFormat::Spss).table.columns[0].texts.size(), 255u);

    // Codes 1 to 255 make a factor of their own levels; a code 0 more makes 256, too many.
    TestVariable codes{"C"};
    for (int i = 1; i <= 255; ++i) codes.numbers.push_back(i);
    codes.labels = {{1, "one"}};
    WriteTestFile(Path("c.sav"), "sav", {codes});
    read = Read(Path("c.sav"), StatFormat::Spss);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.table.columns[0].texts.size(), 255u);
    EXPECT_EQ(read.table.columns[0].texts[254], "255");
    codes.labels.emplace_back(0, "zero");
    WriteTestFile(Path("c.sav"), "sav", {codes});
    EXPECT_EQ(Read(Path("c.sav"), StatFormat::Spss).error,
              "Column C has more than 255 distinct codes");
}

TEST_F(StatFiles, FilesThatAreNoTables) {
    EXPECT_EQ(Read(Path("none.dta"), StatFormat::Stata).error, "IO error reading none.dta");
    EXPECT_EQ(Read(dir_.string(), StatFormat::Spss).error,
              "IO error reading " + dir_.filename().string());
    Put(Path("text.dta"), "a,b\n1,2\n");
    EXPECT_EQ(Read(Path("text.dta"), StatFormat::Stata)
                  .error.rfind("text.dta is not a valid Stata file (", 0),
              0u);
    WriteTestFile(Path("empty.sav"), "sav", {{"X", {}}});
    EXPECT_EQ(Read(Path("empty.sav"), StatFormat::Spss).error, "empty.sav holds no data");

    const std::string names[] = {"Stata file", "SPSS file", "SAS transport file"};
    for (size_t k = 0; k < 3; ++k) {
        std::string bytes = Bytes(kFixtures + kFixtureFiles[k].first);
        // Cut in the header, in the data and in the last bytes (the end of a Stata file's
        // value labels, the padding of the transport file's last record).
        for (size_t keep : {size_t{40}, bytes.size() / 2, bytes.size() - 200, bytes.size() - 10}) {
            Put(Path("cut"), bytes.substr(0, keep));
            ReadResult read = Read(Path("cut"), kFixtureFiles[k].second);
            EXPECT_FALSE(read.ok) << kFixtureFiles[k].first << " cut at " << keep;
            EXPECT_EQ(read.error.rfind("cut is not a valid " + names[k] + " (", 0), 0u)
                << read.error;
        }
    }
}

// Every mutation of a valid file is read as a table or refused with a message; none may crash,
// hang or give columns of the wrong size.
TEST_F(StatFiles, MutatedFilesNeverBreakTheReader) {
    WriteTestFile(Path("seed.por"), "por", {{"X", {1.5, NAN, 3}}, {"T", {}, {"a", "", "b"}}});
    WriteTestFile(Path("seed.sas7bdat"), "sas7bdat", {{"X", {1.5, NAN, 3}}});
    const std::pair<std::string, StatFormat> seeds[] = {
        {kFixtures + "stat.dta", StatFormat::Stata},
        {kFixtures + "stat.sav", StatFormat::Spss},
        {kFixtures + "stat.xpt", StatFormat::SasTransport},
        {Path("seed.por"), StatFormat::SpssPortable},
        {Path("seed.sas7bdat"), StatFormat::Sas}};
    constexpr int kCasesPerSeed = 500;
    std::mt19937 random(20261208);
    int tables = 0;
    for (const auto& [seed, format] : seeds) {
        std::string original = Bytes(seed);
        for (int i = 0; i < kCasesPerSeed; ++i) {
            std::string bytes = original;
            for (int flips = 1 + static_cast<int>(random() % 8); flips > 0; --flips)
                bytes[random() % bytes.size()] =
                    static_cast<char>(random() % 3 == 0 ? 0xff : random());
            if (random() % 4 == 0) bytes.resize(random() % bytes.size());
            Put(Path("case"), bytes);
            ReadResult read = Read(Path("case"), format);
            ASSERT_EQ(read.ok, read.error.empty());
            ASSERT_EQ(read.ok, read.table.rows > 0);
            tables += read.ok;
            auto size = static_cast<size_t>(read.table.rows) + 1;
            for (const ImportColumn& column : read.table.columns) {
                bool number = column.kind == ColumnKind::Number;
                ASSERT_EQ(number ? column.values.size() : column.levels.size(), size);
                for (uint8_t level : column.levels) ASSERT_LE(level, column.texts.size());
            }
        }
    }
    EXPECT_GT(tables, 0);
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
        {"_N", "V_N"},
        {"_B", "V_B"},
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
    WriteTestFile(Path("l.sav"), "sav",
                  {{"income", {1}, {}, "", "Money"},
                   {"Q_1", {1}, {}, "", "q$1 "},
                   {"Z", {1}, {}, "", "CONSTANT"},
                   {"Q12", {1}, {}, "", "Q"},
                   {"V_Q12", {1}, {}, "", "_Q"}});
    ReadResult read = Read(Path("l.sav"), StatFormat::Spss);
    ASSERT_TRUE(read.ok) << read.error;
    std::vector<std::pair<std::string, std::string>> got;
    for (const ImportColumn& column : read.table.columns)
        got.emplace_back(column.name, column.label);
    // Digits after the written name only where the name was mapped (added against a clash).
    EXPECT_EQ(got,
              (std::vector<std::pair<std::string, std::string>>{
                  {"income", "Money"}, {"Q$1", ""}, {"Z", "CONSTANT"}, {"Q12", "Q"}, {"_Q", ""}}));
}

TEST_F(StatFiles, WriteFailuresAreReported) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    std::vector<float> many(100000, 1.5f);
    std::vector<std::pair<std::string, std::string>> mapped;
    std::string error;
    EXPECT_FALSE(WriteStatFile(full, StatFormat::Stata, {NumberColumn("X", many)}, mapped, error));
    EXPECT_EQ(error.rfind("Can not write the Stata file (", 0), 0u) << error;
    // SPSS would cut a long level name short.
    ExportColumn factor = FactorColumn("F", {1, 2}, 2, {"", "a", std::string(121, 'x')});
    EXPECT_FALSE(WriteStatFile(full, StatFormat::Spss, {factor}, mapped, error));
    EXPECT_EQ(error,
              "Can not write the SPSS file (the name of level 2 of F is longer than 120 bytes)");
    std::fclose(full);
}

}  // namespace
}  // namespace korw::io
