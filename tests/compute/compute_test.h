// Session fixture shared by the COMPUTE tests: a fresh library session per test, its output
// read back line by line.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compute/compute.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"

namespace korw::compute::test {

class ComputeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // One file per process: ctest runs the tests of this program side by side.
        path_ = ::testing::TempDir() + "compute_test_" + std::to_string(::getpid()) + ".out";
        if (data::Active) data::Finish();
        data::Start("KORW JUN2009", path_);
        data::ContinueOnError = true;
        ClearOutput();
    }
    void TearDown() override {
        if (data::Active) data::Finish();
        std::remove(path_.c_str());
    }

    void ClearOutput() { data::NewOutFile(path_); }

    // The text written since the last ClearOutput; starts a new output file.
    std::string Output() {
        data::CloseOutFile();
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        ClearOutput();
        return s.str();
    }

    // Runs the line and expects it to succeed.
    void Run(const std::string& line) {
        Compute(line);
        ASSERT_TRUE(data::ErrorFree) << line << ": " << data::ErrorMessage;
    }

    // The message the line fails with ("" when it succeeds).
    std::string ErrorOf(const std::string& line) {
        Compute(line);
        return data::ErrorFree ? "" : data::ErrorMessage;
    }

    static void Variate(const std::string& name, const std::vector<float>& values) {
        data::DeclareVariate(name, static_cast<int32_t>(values.size()));
        float* v = data::VariatePointer(name);
        for (size_t i = 0; i < values.size(); ++i) v[i + 1] = values[i];
    }

    static std::vector<float> Values(const std::string& name) {
        int32_t n = data::LengthOf(name);
        const float* v = data::VariatePointer(name);
        return std::vector<float>(v + 1, v + 1 + n);
    }

    static std::vector<int> Levels(const std::string& name) {
        int32_t n = data::LengthOf(name);
        const uint8_t* f = data::FactorPointer(name);
        return std::vector<int>(f + 1, f + 1 + n);
    }

    std::string path_;
};

inline constexpr float M = data::MissingValue;

}  // namespace korw::compute::test
