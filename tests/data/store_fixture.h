// Fixture of the data store unit tests: the data session with the session line dropped and
// files written into its directory.
#pragma once

#include <fstream>
#include <string>

#include "data/infile.h"
#include "data_session.h"

namespace korw::data::unit {

class StoreTest : public test::DataSession {
  protected:
    void SetUp() override {
        DataSession::SetUp();
        ASSERT_TRUE(ErrorFree) << ErrorMessage;
        Output();  // drop the session line
    }

    void WriteFile(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
};

}  // namespace korw::data::unit
