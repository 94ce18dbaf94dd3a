// Session fixture shared by the COMPUTE tests: the data session with helpers to run a line
// and read vectors back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../data/data_session.h"
#include "compute/compute.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"

namespace korw::compute::test {

class ComputeTest : public data::test::DataSession {
  protected:
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
};

inline constexpr float M = data::MissingValue;

}  // namespace korw::compute::test
