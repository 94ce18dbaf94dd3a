// Session fixture of the model tests: a fresh library session with the test data of
// tests/reference/linear.R, its output read back as text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "../data/data_session.h"
#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "models/cross_product.h"
#include "models/fit_record.h"
#include "models/models.h"

namespace korw::models::test {

// The data session with the model fits installed; the model and special model tests build on
// it.
class SessionTest : public data::test::DataSession {
  protected:
    void SetUp() override {
        InstallModelFitHooks();
        DataSession::SetUp();
    }

    // The design of `formula` over units 1..n of the table, every unit taking part, for the
    // data of a likelihood built on the blocked kernel (its columns, design and units).
    template <typename Data>
    static void SetDesign(Data& d, std::string formula, int32_t n) {
        ParseFormula(formula);
        BuildColumns(formula, n);
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        d.columns = static_cast<int>(detail::Fit().columns.size());
        ASSERT_TRUE(detail::MakeDesign(detail::Fit().terms, d.design));
        for (int32_t u = 1; u <= n; ++u) d.units.push_back(u);
    }
};

class ModelTest : public SessionTest {
  protected:
    // Y, A (3 levels), B (2 levels), X1, X2 = 2 X1 + 1 and W over 14 units.
    void DeclareTestData() {
        static const float y[] = {4.2f, 5.1f, 3.8f, 6.0f, 5.5f, 7.1f, 6.8f,
                                  8.2f, 7.7f, 5.9f, 6.3f, 9.1f, 8.8f, 7.4f};
        static const int a[] = {1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3};
        static const int b[] = {1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 2, 1};
        static const float x1[] = {1.5f, 2.1f, 0.7f, 3.3f, 2.8f, 1.9f, 4.0f,
                                   3.1f, 2.2f, 1.1f, 3.7f, 2.6f, 4.4f, 0.9f};
        static const float w[] = {1, 2, 0, 1, 1, 3, 1, 0, 2, 1, 1, 1, 2, 1};
        data::DeclareVariate("Y", 14);
        data::DeclareFactor("A", 14, 3);
        data::DeclareFactor("B", 14, 2);
        data::DeclareVariate("X1 X2 W", 14);
        for (int u = 1; u <= 14; ++u) {
            data::AssignValue("Y", u, y[u - 1]);
            data::AssignLevel("A", u, a[u - 1]);
            data::AssignLevel("B", u, b[u - 1]);
            data::AssignValue("X1", u, x1[u - 1]);
            data::AssignValue("X2", u, 2.0f * x1[u - 1] + 1.0f);
            data::AssignValue("W", u, w[u - 1]);
        }
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }

    // Fits the model and returns its output; the fit must succeed.
    std::string FitOk(const std::string& model) {
        Output();
        FitLinearNormal(model);
        EXPECT_TRUE(data::ErrorFree) << model << ": " << data::ErrorMessage;
        return Output();
    }

    std::string FitError(const std::string& model) {
        FitLinearNormal(model);
        return data::ErrorFree ? "" : data::ErrorMessage;
    }
};

}  // namespace korw::models::test
