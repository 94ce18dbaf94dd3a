// Fixture of the data store unit tests: a fresh library session per test, writing to an output
// file in a private mkdtemp directory, with the output read back as text.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "data/errors.h"
#include "data/infile.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"

namespace korw::data::unit {

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/korw_unit_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        out_ = dir_ + "/out.txt";
        if (Active) Finish();
        Start("KORW JUN2009", out_);
        ASSERT_TRUE(ErrorFree) << ErrorMessage;
        ContinueOnError = true;
        Output();  // drop the session line
    }
    void TearDown() override {
        if (Active) Finish();
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    void WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }

    // The text written to the output file since the last call.
    std::string Output() {
        CloseOutFile();
        std::ifstream in(out_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        NewOutFile(out_);
        return s.str();
    }

    // The error of the last library call, "" when it succeeded.
    static std::string Error() { return ErrorFree ? "" : ErrorMessage; }

    std::string dir_, out_;
};

}  // namespace korw::data::unit
