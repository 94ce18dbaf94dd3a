#include "session/session_life.h"

#include <gtest/gtest.h>

namespace korw::session {
namespace {

// A program runs by its name without extension; a data set is loaded by its file name, so
// the echo shows the file that was given. A data set whose extension is not ".KDS" in upper
// case is named without it, since GETDATA would add ".KDS" to any other ending.
TEST(StartCommand, ProgramsRunAndDataSetsLoadWithTheirValues) {
    EXPECT_EQ(session::StartCommandFor("/w/prog.kor", {}), "RUN prog");
    EXPECT_EQ(session::StartCommandFor("/w/PROG.KOR", {"5", "x"}), "RUN PROG 5 x");
    EXPECT_EQ(session::StartCommandFor("/w/d.KDS", {}), "GETDATA d.KDS");
    EXPECT_EQ(session::StartCommandFor("/w/d.KDS", {"a", "b"}), "GETDATA d.KDS a b");
    EXPECT_EQ(session::StartCommandFor("/w/d.kds", {}), "GETDATA d");
    EXPECT_EQ(session::StartCommandFor("/w/notes.txt", {"a"}), "");
}

// Data files of other programs are imported by their name as given, in any case of the
// extension; a name with a blank is quoted. Plain .txt and .dat files (notes, READ's input)
// and files that only look alike only choose the directory.
TEST(StartCommand, DataFilesOfOtherProgramsAreImported) {
    EXPECT_EQ(session::StartCommandFor("/w/survey.csv", {}), "IMPORT survey.csv");
    EXPECT_EQ(session::StartCommandFor("/w/Survey.CSV", {"x"}), "IMPORT Survey.CSV x");
    EXPECT_EQ(session::StartCommandFor("/w/my data.tsv", {}), "IMPORT \"my data.tsv\"");
    for (const char* name :
         {"a.tab", "a.dta", "a.sav", "a.ZSAV", "a.por", "a.sas7bdat", "a.Sas7Bdat", "a.xpt"})
        EXPECT_EQ(session::StartCommandFor(std::string("/w/") + name, {}),
                  std::string("IMPORT ") + name);
    for (const char* name : {"a.txt", "a.DAT", "a.csv.bak", "csv", "a.sas7bcat", "a.xls"})
        EXPECT_EQ(session::StartCommandFor(std::string("/w/") + name, {}), "") << name;
}

}  // namespace
}  // namespace korw::session
