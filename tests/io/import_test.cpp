#include "io/import.h"

#include <cfloat>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../data/data_session.h"
#include "data/level_texts.h"
#include "data/restrict.h"
#include "data/sort.h"

namespace korw::io {
namespace {

using data::test::DataSession;

class ImportExport : public DataSession {
  protected:
    void SetUp() override {
        DataSession::SetUp();
        Output();  // drop the session line
    }
    void WriteText(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    // The names of the vectors in table order.
    static std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int i = 1; i <= data::TableSize; ++i)
            if (data::Entry(i).kind != data::FreeEntry) names.push_back(data::Entry(i).name);
        return names;
    }
    static std::vector<uint32_t> Bits(const std::string& name) {
        std::vector<uint32_t> bits;
        const float* v = data::VariatePointer(name);
        for (int32_t u = 1; u <= data::LengthOf(name); ++u) {
            uint32_t b;
            std::memcpy(&b, &v[u], sizeof b);
            bits.push_back(b);
        }
        return bits;
    }
    static std::vector<std::string> Texts(const std::string& name) {
        std::string n = name;
        const std::vector<std::string>* texts = data::KeptLevelTexts(data::LookUp(n));
        return texts == nullptr ? std::vector<std::string>{} : *texts;
    }
};

// Floats whose shortest texts are hard to read back: the ends of the range, subnormals, signed
// zero, values next to powers of ten, integers at the edge of single precision, and the missing
// value; then random bit patterns of finite floats.
std::vector<float> HardFloats() {
    std::vector<float> values = {
        FLT_MAX,     -FLT_MAX,    FLT_MIN, -FLT_MIN,    1.0e-45f, -1.4e-45f, 0.0f,
        -0.0f,       0.1f,        1e10f,   16777216.0f, 3.4e38f,  1.0e-37f,  data::MissingValue,
        123456.789f, 9.999999e-5f};
    std::mt19937 random(7);
    while (values.size() < 2000) {
        uint32_t bits = static_cast<uint32_t>(random());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f)) values.push_back(f);
    }
    return values;
}

TEST_F(ImportExport, DelimitedRoundTripsGiveEveryValueBackBitForBit) {
    std::vector<float> values = HardFloats();
    Variate("X", values);
    Factor("F", 3, std::vector<int>(values.size(), 2));
    std::vector<uint32_t> want = Bits("X");
    for (const char* file : {"round.csv", "round.tsv", "round.txt"}) {
        Export(Path(file), "", {});
        ASSERT_EQ(Error(), "") << file;
        data::Delete("X F");
        Import(Path(file), {});
        ASSERT_EQ(Error(), "") << file;
        EXPECT_EQ(Bits("X"), want) << file;
        // A factor without texts comes back as a variate of its level numbers.
        EXPECT_EQ(data::NumberOfLevels("F"), 0) << file;
        EXPECT_EQ(data::Value("F", 17), 2.0f);
        data::Delete("F");
        Factor("F", 3, std::vector<int>(values.size(), 2));
    }
}

TEST_F(ImportExport, StataAndSpssRoundTripsKeepFactorsLevelNamesAndVectorNames) {
    std::vector<float> values = HardFloats();
    Variate("#COXINT", values);
    std::vector<int> levels(values.size());
    for (size_t u = 0; u < levels.size(); ++u) levels[u] = static_cast<int>(u % 4);
    Factor("F", 3, levels);
    data::KeepLevelTexts(2, {"low", "mid, or so", "h\xC3\xB8y"});
    Factor("G", 5, levels);
    std::vector<uint32_t> want = Bits("#COXINT");
    for (const char* file : {"round.dta", "round.sav"}) {
        Export(Path(file), "", {});
        ASSERT_EQ(Error(), "") << file;
        EXPECT_TRUE(Contains(Output(), "#COXINT   ")) << file;
        data::Delete("#COXINT F G");
        Import(Path(file), {});
        ASSERT_EQ(Error(), "") << file;
        EXPECT_EQ(Names(), (std::vector<std::string>{"#COXINT", "F", "G"})) << file;
        EXPECT_EQ(Bits("#COXINT"), want) << file;
        EXPECT_EQ(Levels("F"), levels) << file;
        EXPECT_EQ(Texts("F"), (std::vector<std::string>{"low", "mid, or so", "h\xC3\xB8y"}));
        // Without names the levels are labelled with their numbers.
        EXPECT_EQ(Levels("G"), levels) << file;
        EXPECT_EQ(Texts("G"), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    }
}

TEST_F(ImportExport, TextsOfImportedFactorsGoOutAgainAndFollowTheVector) {
    WriteText("city.csv", "city,n\n\"New York, NY\",1\nOslo,2\n\"say \"\"hi\"\"\",3\nOslo,4\n,5\n");
    Import(Path("city.csv"), {});
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Levels("CITY"), (std::vector<int>{1, 2, 3, 2, 0}));
    EXPECT_EQ(Texts("CITY"), (std::vector<std::string>{"New York, NY", "Oslo", "say \"hi\""}));

    data::Rename("CITY", "TOWN");
    Export(Path("town.csv"), "TOWN N", {});
    ASSERT_EQ(Error(), "");
    data::Delete("TOWN N");
    Import(Path("town.csv"), {});
    EXPECT_EQ(Levels("TOWN"), (std::vector<int>{1, 2, 3, 2, 0}));
    EXPECT_EQ(Texts("TOWN"), (std::vector<std::string>{"New York, NY", "Oslo", "say \"hi\""}));

    // Reordering the units keeps the texts; changing a level drops them.
    Variate("K", {5, 4, 3, 2, 1});
    data::Sort("K +");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Texts("TOWN").size(), 3u);
    data::AssignLevel("TOWN", 1, 3);
    EXPECT_TRUE(Texts("TOWN").empty());

    // Names given in the item win over kept ones; a level beyond them is written as its number.
    data::Delete("TOWN N K");
    Factor("G", 3, {0, 1, 2, 3});
    Export(Path("g.csv"), "G=none,low", {});
    ASSERT_EQ(Error(), "");
    std::ifstream in(Path("g.csv"));
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "G\nnone\nlow\n2\n3\n");
}

TEST_F(ImportExport, ColumnNamesBecomeValidUniqueVectorNames) {
    WriteText("names.csv",
              "first name,2nd,age,AGE,constant,,Gr\xC3\xB6\xC3\x9F"
              "e,#x,_a,averyverylongname,averyverylongname\n1,2,3,4,5,6,7,8,9,10,11\n");
    Import(Path("names.csv"), {});
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"FIRST_NA", "V2ND", "AGE", "AGE2", "CONSTAN_", "V6", "GR_E",
                                        "#X", "_A", "AVERYVER", "AVERYVE2"}));
    std::string out = Output();
    EXPECT_TRUE(Contains(out,
                         "\nColumn                              Vector\n"
                         "first name                          FIRST_NA\n"
                         "2nd                                 V2ND\n"
                         "AGE                                 AGE2\n"))
        << out;
    EXPECT_FALSE(Contains(out, "\nage ")) << out;
}

TEST_F(ImportExport, AFailedImportChangesNothing) {
    Variate("AGE", {1, 2});
    data::Exclude(2);
    WriteText("a.csv", "id,age\n1,30\n2,40\n3,50\n");
    WriteText("ragged.csv", "id,x\n1,2\n3\n");
    auto unchanged = [&](const std::string& what) {
        EXPECT_EQ(Names(), std::vector<std::string>{"AGE"}) << what;
        EXPECT_EQ(data::MaxLength(), 2) << what;
        EXPECT_FALSE(data::UnitIncluded(2)) << what;
    };
    Import(Path("a.csv"), {});
    EXPECT_EQ(Error(), "Duplicate identifier AGE");
    unchanged("duplicate");
    Import(Path("ragged.csv"), {});
    EXPECT_EQ(Error(), "Line 3 of " + Path("ragged.csv") + " has 1 fields, not 2");
    unchanged("ragged");
    Import(Path("none.csv"), {});
    EXPECT_EQ(Error(), Path("none.csv") + " not found");
    Import(Path("a.json"), {});
    EXPECT_EQ(Error(), "Unknown type of data file " + Path("a.json"));
    ImportOptions only;
    only.columns = {"id", "weight"};
    Import(Path("a.csv"), only);
    EXPECT_EQ(Error(), "Not found in " + Path("a.csv") + ": weight");
    unchanged("columns");

    // A full table refuses the whole file, naming the first column without room.
    for (int i = 2; i <= data::TableSize - 1; ++i) data::DeclareVariate("V" + std::to_string(i), 1);
    ImportOptions replace;
    replace.replace = true;
    WriteText("b.csv", "p,q,r\n1,2,3\n");
    Import(Path("b.csv"), replace);
    EXPECT_EQ(Error(), "Too many vectors - no free entry for column q");
    EXPECT_EQ(VectorsInUse(), data::TableSize - 1);

    // Replacing frees the entries of the vectors replaced.
    Import(Path("a.csv"), replace);
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(data::LengthOf("AGE"), 3);
    EXPECT_EQ(VectorsInUse(), data::TableSize);
}

TEST_F(ImportExport, ExportWritesIncludedUnitsAndPadsShortVectors) {
    Variate("X", {1.5f, data::MissingValue, 3.0f, 4.0f});
    Variate("Y", {7.0f, 8.0f});
    data::Exclude(3);
    ExportOptions na;
    na.writeNA = true;
    Export(Path("xy.csv"), "X Y:8:2", na);
    ASSERT_EQ(Error(), "");
    std::ifstream in(Path("xy.csv"));
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "X,Y\n1.5,7\nNA,8\n4,NA\n");
    EXPECT_EQ(Output(), "Wrote 3 units of 2 vectors to " + Path("xy.csv") +
                            "\n *** WARNING: Only units present are exported ***\n"
                            "Missing beyond their last unit: Y\n");

    Export(Path("x.csv"), "X X", {});
    EXPECT_EQ(Error(), "Duplicate identifier X");
    Export(Path("x.csv"), "X=a,b", {});
    EXPECT_EQ(Error(), "Level names given for variate X");
    Export(Path("x.xpt"), "X", {});
    EXPECT_EQ(Error(), "EXPORT writes .csv, .tsv, .tab, .txt, .dat, .dta and .sav files, not " +
                           Path("x.xpt"));
    data::Delete("X Y");
    Export(Path("x.csv"), "", {});
    EXPECT_EQ(Error(), "No vectors to export");
}

}  // namespace
}  // namespace korw::io
