#include <gtest/gtest.h>

#include "console/terminal_desktop.h"

namespace korw::console::test {
namespace {

using Extensions = std::vector<std::string>;

// Every pattern of every type a filter offers, in any case and in any number per type.
TEST(FilePrompt, FiltersListTheirExtensions) {
    EXPECT_EQ(FilterExtensions("KOR data set (*.KDS)|*.KDS"), (Extensions{".KDS"}));
    EXPECT_EQ(FilterExtensions("JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp"),
              (Extensions{".JPG", ".BMP"}));
    EXPECT_EQ(FilterExtensions("Data files (*.csv *.tsv *.tab *.txt *.dat *.dta *.sav *.zsav "
                               "*.por *.sas7bdat *.xpt)|*.csv;*.tsv;*.tab;*.txt;*.dat;*.dta;"
                               "*.sav;*.zsav;*.por;*.sas7bdat;*.xpt"),
              (Extensions{".CSV", ".TSV", ".TAB", ".TXT", ".DAT", ".DTA", ".SAV", ".ZSAV", ".POR",
                          ".SAS7BDAT", ".XPT"}));
    EXPECT_EQ(FilterExtensions("CSV file (*.csv)|*.csv|TSV file (*.tsv)|*.tsv|Stata file "
                               "(*.dta)|*.dta|SPSS file (*.sav)|*.sav"),
              (Extensions{".CSV", ".TSV", ".DTA", ".SAV"}));
    // The labels are not patterns; a pattern for every file lets everything through.
    EXPECT_EQ(FilterExtensions("Files (*.x)|*.*"), Extensions{});
    EXPECT_EQ(FilterExtensions("All|*|Programs|*.KOR"), Extensions{});
    EXPECT_EQ(FilterExtensions(""), Extensions{});
}

// A save prompt adds the default extension only to a name without one: a name typed with another
// extension is kept, and the command that writes the file says which types it takes.
TEST(FilePrompt, DefaultExtensionOnlyForANameWithoutOne) {
    interp::FileDialog exportFile{"Save",
                                  "CSV file (*.csv)|*.csv|TSV file (*.tsv)|*.tsv|Stata "
                                  "file (*.dta)|*.dta|SPSS file (*.sav)|*.sav",
                                  ".csv",
                                  "/w",
                                  "",
                                  true};
    EXPECT_EQ(WithDefaultExtension("out", exportFile), "out.csv");
    EXPECT_EQ(WithDefaultExtension("out.dta", exportFile), "out.dta");
    EXPECT_EQ(WithDefaultExtension("OUT.SAV", exportFile), "OUT.SAV");
    EXPECT_EQ(WithDefaultExtension("out.Tsv", exportFile), "out.Tsv");
    EXPECT_EQ(WithDefaultExtension("survey.v2", exportFile), "survey.v2");
    EXPECT_EQ(WithDefaultExtension("sub.dir/out", exportFile), "sub.dir/out.csv");
    EXPECT_EQ(WithDefaultExtension("out.", exportFile), "out.");
    interp::FileDialog anyFile{"Save", "", ".OUT", "/w", "", true};
    EXPECT_EQ(WithDefaultExtension("KORW1", anyFile), "KORW1.OUT");
    EXPECT_EQ(WithDefaultExtension("notes.txt", anyFile), "notes.txt");
    interp::FileDialog noDefault{"Open", "Data|*.csv", "", "/w", "", false};
    EXPECT_EQ(WithDefaultExtension("data", noDefault), "data");
}

}  // namespace
}  // namespace korw::console::test
