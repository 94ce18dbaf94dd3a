#include "interp/command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korw::interp {
namespace {

// The table before IMPORT and EXPORT joined it. Every word that worked with it must mean the
// same today, typed at Return or completed as it is typed.
constexpr std::string_view kTableBeforeImport[] = {
    "BARTLETT",
    "CLOSEPSFILE",
    "COMPUTE",
    "CONSTRUCTMINIMUM",
    "CORMAT",
    "DELETE",
    "ECHO",
    "EDIT",
    "ESTIMATE",
    "EXCLUDE",
    "EXCLUDELEVEL",
    "EXCLUDEMISSING",
    "FACTOR",
    "FITANOVA",
    "FITCLOGIT",
    "FITCOXMODEL",
    "FITCRASCH",
    "FITLINEARNORMAL",
    "FITLOGITLINEAR",
    "FITLOGLINEAR",
    "FITMCCLOGLOG",
    "FITMCLOGIT",
    "FITMCPROBIT",
    "FITNEGBIN",
    "FITNONLINEAR",
    "FOCUSONLEVEL",
    "FRAMETEXT",
    "GENERATELEVELS",
    "GETDATA",
    "GOTO",
    "GROUP",
    "HISTOGRAM",
    "INCLUDE",
    "INCLUDEALL",
    "KEYS",
    "L",
    "L1",
    "LIST",
    "LIST1",
    "LISTPARAMETERS",
    "ONEWAYTABLE",
    "OPEN",
    "OPENCOMMANDFILE",
    "OPENINFILE",
    "OPENPSFILE",
    "OUTFILE",
    "PLOT",
    "PSFRAME",
    "QUIT",
    "RAMSTATUS",
    "READ",
    "REMARK",
    "RENAME",
    "RUN",
    "SAVE",
    "SAVEDATA",
    "SAVEFITTED",
    "SAVENORMEDRESIDUALS",
    "SAVEPARAMETERS",
    "SHELL",
    "SHOW",
    "SKIPITEM",
    "SKIPLINE",
    "SORT",
    "SPEARMAN",
    "SUBSTITUTE",
    "SUMMARY",
    "TABULATE",
    "TESTMODELCHANGE",
    "THREEWAYTABLE",
    "TRANSFER",
    "TWOWAYTABLE",
    "VARIATE",
    "WILCOXON",
    "XTEXT",
    "YTEXT",
};

// The command window's completion at one key as it was with the old table (no memory of the
// previous key).
std::string OldLiveCompletion(const std::string& line, bool* invalid) {
    return CompleteShortWord(detail::ExpandCommandLineIn(kTableBeforeImport, line, invalid));
}

// A word typed key by key into a command line; each step is the line and the beep after a key.
struct Step {
    std::string line;
    bool beep;
    bool operator==(const Step&) const = default;
};

std::vector<Step> TypeNow(const std::string& keys) {
    std::vector<Step> steps;
    std::string line;
    ShortCompletion last;
    for (char key : keys) {
        bool beep = false;
        line = CompleteTypedLine(line + key, last, &beep);
        steps.push_back({line, beep});
    }
    return steps;
}

std::vector<Step> TypeBefore(const std::string& keys) {
    std::vector<Step> steps;
    std::string line;
    for (char key : keys) {
        bool beep = false;
        line = OldLiveCompletion(line + key, &beep);
        steps.push_back({line, beep});
    }
    return steps;
}

std::vector<std::string> Lines(const std::vector<Step>& steps) {
    std::vector<std::string> lines;
    for (const Step& s : steps) lines.push_back(s.line);
    return lines;
}

TEST(CommandTable, SeventyEightNamesInAlphabeticalOrder) {
    const auto& table = CommandTable();
    ASSERT_EQ(table.size(), 78u);
    EXPECT_EQ(table.front(), "BARTLETT");
    EXPECT_EQ(table.back(), "YTEXT");
    for (size_t i = 1; i < table.size(); ++i) EXPECT_LT(table[i - 1], table[i]) << table[i];
    // The old names in their old order, with IMPORT and EXPORT added.
    std::vector<std::string_view> old;
    std::copy_if(table.begin(), table.end(), std::back_inserter(old),
                 [](std::string_view n) { return n != "IMPORT" && n != "EXPORT"; });
    EXPECT_TRUE(std::equal(old.begin(), old.end(), std::begin(kTableBeforeImport),
                           std::end(kTableBeforeImport)));
    EXPECT_EQ(std::size(kTableBeforeImport), 76u);
}

TEST(CommandTable, PrefixMatching) {
    EXPECT_EQ(MatchCommand("FITLIN"), "FITLINEARNORMAL");
    EXPECT_EQ(MatchCommand("FITL"), "");  // FITLINEARNORMAL, FITLOGITLINEAR, FITLOGLINEAR
    EXPECT_EQ(MatchCommand("LIS"), "");   // LIST, LIST1, LISTPARAMETERS
    EXPECT_EQ(MatchCommand("LIST"), "LIST");
    EXPECT_EQ(MatchCommand("L1"), "L1");
    EXPECT_EQ(MatchCommand("VAR"), "VARIATE");
    EXPECT_EQ(MatchCommand("XYZ"), "");
    EXPECT_EQ(MatchCommand("IM"), "IMPORT");
    EXPECT_EQ(MatchCommand("EXP"), "EXPORT");
    EXPECT_EQ(MatchCommand("EXPORTS"), "");
}

// Ctrl+Right and Ctrl+Left step onto the new names from their neighbours and back.
TEST(CommandTable, BrowsingStepsThroughTheNewNames) {
    struct {
        const char* from;
        bool forward;
        const char* to;
    } steps[] = {{"EXCLUDEMISSING x", true, "EXPORT x"}, {"EXPORT x", true, "FACTOR x"},
                 {"FACTOR x", false, "EXPORT x"},        {"HISTOGRAM x", true, "IMPORT x"},
                 {"IMPORT x", true, "INCLUDE x"},        {"INCLUDE x", false, "IMPORT x"},
                 {"IMPORT x", false, "HISTOGRAM x"}};
    for (const auto& step : steps) {
        int caret = 1;
        EXPECT_EQ(BrowseName(step.from, caret, step.forward), step.to) << step.from;
    }
}

// Every prefix of every old name, at Return and completed at once by the command window, means
// what it meant with the old table: the new names take no word that worked before.
TEST(CommandTable, OldWordsResolveAsBefore) {
    int checked = 0;
    for (std::string_view name : kTableBeforeImport) {
        for (size_t n = 1; n <= name.size(); ++n) {
            std::string word(name.substr(0, n));
            EXPECT_EQ(MatchCommand(word), detail::MatchCommandIn(kTableBeforeImport, word)) << word;
            bool beepBefore = false, beepNow = true;
            ShortCompletion fresh;
            std::string before = OldLiveCompletion(word + " x", &beepBefore);
            EXPECT_EQ(CompleteTypedLine(word + " x", fresh, &beepNow), before) << word;
            EXPECT_EQ(beepNow, beepBefore) << word;
            before = OldLiveCompletion(word, &beepBefore);
            EXPECT_EQ(CompleteTypedLine(word, fresh, &beepNow), before) << word;
            EXPECT_EQ(beepNow, beepBefore) << word;
            ++checked;
        }
    }
    EXPECT_GT(checked, 600);
    // The short words the window completes further.
    struct {
        const char* word;
        const char* completed;
    } shortWords[] = {{"EX", "EXCLUDE"}, {"I", "INCLUDE"}, {"LI", "LIST"},    {"OP", "OPEN"},
                      {"SA", "SAVE"},    {"SK", "SKIP"},   {"TR", "TRANSFER"}};
    for (const auto& s : shortWords) {
        ShortCompletion fresh;
        EXPECT_EQ(CompleteTypedLine(s.word, fresh, nullptr), s.completed);
    }
}

// Typed key by key, every old name gives the same line and the same beeps after every key.
TEST(LiveCompletion, OldNamesTypedKeyByKeyAsBefore) {
    for (std::string_view name : kTableBeforeImport) {
        std::string keys(name);
        EXPECT_EQ(TypeNow(keys), TypeBefore(keys)) << keys;
        EXPECT_EQ(TypeNow(keys + " x"), TypeBefore(keys + " x")) << keys;
    }
}

// Right after a short word's completion, a key that runs past the completed name counts as typed
// after the short word only where that begins one of the new names; every other key is cut
// back as before.
TEST(LiveCompletion, KeyAfterAShortWordCompletion) {
    const char* shortWords[] = {"EX", "I", "LI", "OP", "SA", "SK", "TR"};
    const std::string keys = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=+.*x ";
    for (const char* word : shortWords) {
        for (char key : keys) {
            std::string typed = word + std::string(1, key);
            bool hidden = typed == "IM" || typed == "EXP";
            if (!hidden)
                EXPECT_EQ(TypeNow(typed), TypeBefore(typed)) << typed;
            else
                EXPECT_NE(TypeNow(typed), TypeBefore(typed)) << typed;
        }
    }
    EXPECT_EQ(Lines(TypeNow("IN")), (std::vector<std::string>{"INCLUDE", "INCLUDE"}));
    EXPECT_EQ(TypeNow("EXC").back(), (Step{"EXCLUDE", true}));
    EXPECT_EQ(TypeNow("SKI").back(), (Step{"SKIPITEM", false}));
    EXPECT_EQ(TypeNow("OPE").back(), (Step{"OPEN", true}));
}

// IMPORT and EXPORT typed letter by letter end as their names, in either case; the letters
// after the completed name are cut back with a beep as after any completed name.
TEST(LiveCompletion, ImportAndExportAreTypable) {
    EXPECT_EQ(Lines(TypeNow("IMPORT")), (std::vector<std::string>{"INCLUDE", "IMPORT", "IMPORT",
                                                                  "IMPORT", "IMPORT", "IMPORT"}));
    EXPECT_EQ(TypeNow("IM")[1], (Step{"IMPORT", false}));
    EXPECT_EQ(Lines(TypeNow("EXPORT")),
              (std::vector<std::string>{"E", "EXCLUDE", "EXPORT", "EXPORT", "EXPORT", "EXPORT"}));
    EXPECT_EQ(TypeNow("EXP")[2], (Step{"EXPORT", false}));
    EXPECT_EQ(TypeNow("import").back().line, "IMPORT");
    EXPECT_EQ(TypeNow("export").back().line, "EXPORT");
    EXPECT_EQ(TypeNow("im data.csv").back(), (Step{"IMPORT data.csv", false}));
    // Only a key right after the completion: a line that came another way stays as before, and
    // so does one where other keys were typed in between.
    ShortCompletion none;
    EXPECT_EQ(CompleteTypedLine("INCLUDEM", none, nullptr), "INCLUDE");
    ShortCompletion last;
    CompleteTypedLine("I", last, nullptr);
    EXPECT_EQ(CompleteTypedLine("INCLUDE", last, nullptr), "INCLUDE");  // a key that typed nothing
    EXPECT_EQ(CompleteTypedLine("INCLUDEM", last, nullptr), "IMPORT");
    CompleteTypedLine("I", last, nullptr);
    EXPECT_EQ(CompleteTypedLine("INCLUD", last, nullptr), "INCLUD");  // Backspace, then M
    EXPECT_EQ(CompleteTypedLine("INCLUDM", last, nullptr), "INCLUD");
}

}  // namespace
}  // namespace korw::interp
