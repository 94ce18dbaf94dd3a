#include "console/session_life.h"

#include <gtest/gtest.h>

namespace korw::console {
namespace {

// A program runs by its name without extension; a data set is loaded by its file name, so
// the echo shows the file that was given. A data set whose extension is not ".KDS" in upper
// case is named without it, since GETDATA would add ".KDS" to any other ending.
TEST(StartCommand, ProgramsRunAndDataSetsLoadWithTheirValues) {
    EXPECT_EQ(StartCommandFor("/w/prog.kor", {}), "RUN prog");
    EXPECT_EQ(StartCommandFor("/w/PROG.KOR", {"5", "x"}), "RUN PROG 5 x");
    EXPECT_EQ(StartCommandFor("/w/d.KDS", {}), "GETDATA d.KDS");
    EXPECT_EQ(StartCommandFor("/w/d.KDS", {"a", "b"}), "GETDATA d.KDS a b");
    EXPECT_EQ(StartCommandFor("/w/d.kds", {}), "GETDATA d");
    EXPECT_EQ(StartCommandFor("/w/notes.txt", {"a"}), "");
}

}  // namespace
}  // namespace korw::console
