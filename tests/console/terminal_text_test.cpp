#include <gtest/gtest.h>

#include "console/terminal_desktop.h"

namespace korw::console::test {
namespace {

// Bytes read from a data file reach the terminal only as visible text: an ESC sequence in an
// item cannot colour, move or clear the screen. Line feeds, tabs and UTF-8 letters stay.
TEST(TerminalText, ControlCharactersAreShownVisibly) {
    EXPECT_EQ(Visible("READ ERROR: Invalid real number \x1b[2J\x1b]0;x\a"),
              "READ ERROR: Invalid real number ^[[2J^[]0;x^G");
    EXPECT_EQ(Visible("a\tb\nc\r\x7f"), "a\tb\nc^M^?");
    EXPECT_EQ(Visible("\xc3\xa6\xc3\xb8\xc3\xa5"), "\xc3\xa6\xc3\xb8\xc3\xa5");
}

}  // namespace
}  // namespace korw::console::test
