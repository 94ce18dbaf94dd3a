#include "data/datasets.h"

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "data/restrict.h"
#include "data_session.h"

namespace korw::data::test {
namespace {

using Bytes = std::vector<uint8_t>;

class DataSets : public DataSession {
  protected:
    Bytes Read(const std::string& name) {
        std::ifstream in(Path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const std::string& name, const Bytes& bytes) {
        std::ofstream out(Path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
    static Bytes Header() {
        std::string text = "\x21 Korbelin Data Set - do not edit \x1a";
        return Bytes(text.begin(), text.end());
    }
    static void Append(Bytes& b, const void* data, size_t n) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        b.insert(b.end(), p, p + n);
    }
};

TEST_F(DataSets, SmallFileHasExactBytesAndWarnsOfExcludedUnits) {
    DeclareVariate("x", 3);
    DeclareFactor("sex", 4, 2);
    AssignValue("x", 1, 1.5f);
    AssignValue("x", 2, MissingValue);
    AssignValue("x", 3, -2.0f);
    for (int u = 1; u <= 4; ++u) AssignLevel("sex", u, u % 3);
    Exclude(2);
    SaveData(Path("small"), "");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(Output(), " *** WARNING: Only units present are saved ***\n");

    Bytes want = Header();
    float values[] = {1.5f, -2.0f};
    Append(want, "\x02\x01X\x02\x00", 5);
    Append(want, values, sizeof values);
    Append(want, "\x01\x03SEX\x03\x00\x02\x01\x00\x01", 11);
    Bytes got = Read("small.KDS");
    EXPECT_EQ(got, want);
    int files = 0;  // no temporary file is left beside the data set
    for (const auto& entry : std::filesystem::directory_iterator(Path("")))
        files += entry.path().filename().string().rfind("small.KDS", 0) == 0;
    EXPECT_EQ(files, 1);

    IncludeAll();
    SaveData(Path("small"), "sex");
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(Read("small.KDS").size(), Header().size() + 12);
}

TEST_F(DataSets, LongRecordsFromSixteenThousandThreeHundredEighty) {
    DeclareVariate("a", 16379);
    DeclareVariate("b", 16380);
    DeclareFactor("f", 16380, 3);
    SaveData(Path("long"), "");
    ASSERT_EQ(Error(), "");
    Bytes b = Read("long.KDS");
    size_t at = Header().size();
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 5), (Bytes{2, 1, 'A', 0xfb, 0x3f}));
    at += 5 + 4 * 16379;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 7), (Bytes{130, 1, 'B', 0xfc, 0x3f, 0, 0}));
    at += 7 + 4 * 16380;
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 8), (Bytes{129, 1, 'F', 0xfc, 0x3f, 0, 0, 3}));
    EXPECT_EQ(b.size(), at + 8 + 16380);
}

TEST_F(DataSets, RoundTripRenumbersPresentUnits) {
    DeclareVariate("y", 10);
    DeclareFactor("g", 10, 4);
    for (int u = 1; u <= 10; ++u) {
        AssignValue("y", u, u == 5 ? MissingValue : u * 0.25f);
        AssignLevel("g", u, u % 5);
    }
    Exclude(3);
    Exclude(7);
    SaveData(Path("rt"), "y g");
    Output();
    Rename("y", "y0");
    Rename("g", "g0");
    GetData(Path("rt"), "");
    ASSERT_EQ(Error(), "");
    EXPECT_EQ(LengthOf("y"), 8);
    EXPECT_EQ(NumberOfLevels("g"), 4);
    std::vector<int> units = {1, 2, 4, 5, 6, 8, 9, 10};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Value("y", i + 1), Value("y0", units[i]));
        EXPECT_EQ(Level("g", i + 1), Level("g0", units[i]));
    }
    EXPECT_EQ(Value("y", 4), MissingValue);
}

TEST_F(DataSets, GetDataNamesAndMessages) {
    DeclareVariate("v w", 2);
    SaveData(Path("data"), "");
    Output();
    GetData(Path("data.KDS"), "");
    EXPECT_EQ(Error(), "Duplicate identifier V");
    GetData(Path("data.kds"), "");
    EXPECT_EQ(Error(), Path("DATA.KDS.KDS") + " not found");
    GetData(Path("data"), "v");
    EXPECT_EQ(Error(), "Duplicate identifier V");
    Delete("v");
    GetData(Path("data"), "v q");
    EXPECT_EQ(Error(), "Not found in data set: Q");
    EXPECT_EQ(LengthOf("v"), 2);  // loaded before the error, and kept

    SaveData(Path("none"), "v nosuch other");
    EXPECT_EQ(Error(), "No data set created - vectors NOSUCH, OTHER do not exist");
    for (int u = 1; u <= 2; ++u) Exclude(u);
    SaveData(Path("none"), "");
    EXPECT_EQ(Error(), "No data to save - file not created");
    EXPECT_FALSE(std::filesystem::exists(Path("none.KDS")));
}

TEST_F(DataSets, ContentsListsAndMarksExistingVectors) {
    DeclareVariate("x", 3);
    DeclareFactor("f", 5, 2);
    SaveData(Path("c"), "");
    Delete("x");
    Output();
    Contents(Path("c"));
    ASSERT_EQ(Error(), "");
    std::string name = Path("C.KDS");
    std::string title = "Vectors in Korbelin data set " + name;
    if (title.size() > 80) title = "Vectors in Korbelin data set \n" + name;
    EXPECT_EQ(Output(), "\n" + title +
                            "\n\n"
                            "TYPE         NAME  LENGTH    BYTES  LEVELS\n"
                            "Variate         X       3       12\n"
                            "Factor          F*      5        5      2\n"
                            "                   ---------------\n"
                            "                                17\n");
}

TEST_F(DataSets, HeaderOnlyAndCorruptFilesAreNotDataSets) {
    WriteFile("h.KDS", Header());
    GetData(Path("h"), "");
    EXPECT_EQ(Error(), Path("H.KDS") + " is not a Korbelin data set");

    Bytes good = Header();
    float one = 1.0f;
    Append(good,
           "\x02\x01"
           "A\x01\x00",
           5);
    Append(good, &one, 4);
    Bytes bad = good;
    Append(bad,
           "\x02\x01"
           "B\xff\xff",
           5);  // 65535 values claimed, none there
    WriteFile("t.KDS", bad);
    GetData(Path("t"), "");
    EXPECT_EQ(Error(), Path("T.KDS") + " is not a Korbelin data set");
    EXPECT_EQ(LengthOf("A"), 1);  // the record before the bad one stays
    EXPECT_EQ(LengthOf("B"), 0);

    Bytes huge = Header();
    Append(huge,
           "\x82\x01"
           "H\xff\xff\xff\x7f",
           7);  // two thousand million values claimed
    WriteFile("u.KDS", huge);
    GetData(Path("u"), "");
    EXPECT_EQ(Error(), Path("U.KDS") + " is not a Korbelin data set");
    Contents(Path("u"));
    EXPECT_EQ(Error(), Path("U.KDS") + " is not a Korbelin data set");

    Bytes level = Header();
    Append(level, "\x01\x01L\x02\x00\x02\x01\x03", 8);  // level 3 of a 2-level factor
    WriteFile("l.KDS", level);
    GetData(Path("l"), "");
    EXPECT_EQ(Error(), Path("L.KDS") + " is not a Korbelin data set");
    EXPECT_EQ(LengthOf("L"), 0);
}

// Every truncation and many random corruptions of a valid file: the reader reports or loads,
// never reads past the data or allocates beyond the file.
TEST_F(DataSets, FuzzedFilesNeverCrash) {
    DeclareVariate("x", 40);
    DeclareFactor("f", 20000, 7);
    SaveData(Path("base"), "");
    Bytes base = Read("base.KDS");
    Delete("x f");
    std::mt19937 random(12345);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes b = base;
        if (trial < 100) {
            b.resize(random() % b.size());
        } else {
            for (int k = 0; k < 1 + trial % 4; ++k)
                b[random() % std::min<size_t>(b.size(), 200)] = static_cast<uint8_t>(random());
        }
        WriteFile("fz.KDS", b);
        GetData(Path("fz"), "");
        Contents(Path("fz"));
        Output();
        for (int i = 1; i <= TableSize; ++i)
            if (Entry(i).kind != FreeEntry) Delete(Entry(i).name);
    }
    SUCCEED();
}

// A write that fails half-way (here: a file size limit, which holds for every user) leaves the
// old data set whole; a replaced data set keeps its permissions; a link planted where a
// temporary file could be expected is not followed.
TEST_F(DataSets, SavingReplacesTheOldFileWholeOrNotAtAll) {
    DeclareVariate("x", 2);
    SaveData(Path("keep"), "");
    Bytes before = Read("keep.KDS");
    DeclareVariate("y", 5000);
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    SaveData(Path("keep"), "");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(Error(), "Error writing to " + Path("keep") + ".KDS");
    EXPECT_EQ(Read("keep.KDS"), before);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Path("")))
        files += entry.path().filename().string().rfind("keep", 0) == 0;
    EXPECT_EQ(files, 1);

    std::filesystem::permissions(Path("keep.KDS"), std::filesystem::perms(0600));
    WriteFile("victim.txt", Bytes{'v'});
    std::filesystem::create_symlink(Path("victim.txt"), Path("keep.KDS.part"));
    SaveData(Path("keep"), "x");
    EXPECT_EQ(Error(), "");
    EXPECT_EQ(Read("victim.txt"), Bytes{'v'});
    EXPECT_FALSE(std::filesystem::is_symlink(Path("keep.KDS")));
    EXPECT_EQ(std::filesystem::status(Path("keep.KDS")).permissions(),
              std::filesystem::perms(0600));
}

}  // namespace
}  // namespace korw::data::test
