// Session fixture of the data store tests: a fresh library session per test in a private
// directory, its output read back as text.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"

namespace korw::data::test {

class DataSession : public ::testing::Test {
  protected:
    void SetUp() override {
        // One directory per process: ctest runs the tests of this program side by side.
        dir_ = ::testing::TempDir() + "korw_data_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(dir_);
        out_ = dir_ + "/out.txt";
        if (Active) Finish();
        Start("KORW JUN2009", out_);
        ContinueOnError = true;
        NewOutFile(out_);
    }
    void TearDown() override {
        if (Active) Finish();
        std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // The text written since the last call.
    std::string Output() {
        CloseOutFile();
        std::ifstream in(out_);
        std::stringstream s;
        s << in.rdbuf();
        NewOutFile(out_);
        return s.str();
    }

    // Declares a variate (a factor with `levels` levels) holding the values.
    static void Variate(const std::string& name, const std::vector<float>& values) {
        DeclareVariate(name, static_cast<int32_t>(values.size()));
        for (size_t i = 0; i < values.size(); ++i)
            AssignValue(name, static_cast<int32_t>(i + 1), values[i]);
        ASSERT_TRUE(ErrorFree) << ErrorMessage;
    }
    static void Factor(const std::string& name, int levels, const std::vector<int>& values) {
        DeclareFactor(name, static_cast<int32_t>(values.size()), levels);
        for (size_t i = 0; i < values.size(); ++i)
            AssignLevel(name, static_cast<int32_t>(i + 1), values[i]);
        ASSERT_TRUE(ErrorFree) << ErrorMessage;
    }

    // The error of the last call, "" when it succeeded.
    static std::string Error() { return ErrorFree ? "" : ErrorMessage; }

    static bool Contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    // The levels of a factor, unit by unit.
    static std::vector<int> Levels(const std::string& name) {
        std::vector<int> levels;
        for (int32_t u = 1; u <= LengthOf(name); ++u) levels.push_back(Level(name, u));
        return levels;
    }

    // Entries in use: a command leaves behind exactly the vectors it was given.
    static int VectorsInUse() {
        int n = 0;
        for (int i = 1; i <= TableSize; ++i) n += Entry(i).kind != FreeEntry;
        return n;
    }

    std::string dir_, out_;
};

}  // namespace korw::data::test
