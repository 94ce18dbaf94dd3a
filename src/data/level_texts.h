// The texts of the levels of factors that IMPORT made from text or labelled columns, kept beside
// the vector table so that EXPORT can write them back. They travel with the table entry (DELETE
// drops them, RENAME keeps them) and count only while the factor still holds as many units at
// each level as when they were kept: reordering units (SORT) keeps them, new values drop them.
#pragma once

#include <string>
#include <vector>

namespace korw::data {

// Keeps texts[k - 1] as the text of level k of the factor at table index `index`.
void KeepLevelTexts(int index, std::vector<std::string> texts);

// The texts kept for the factor at `index`; nullptr when there are none or its values changed.
const std::vector<std::string>* KeptLevelTexts(int index);

}  // namespace korw::data
