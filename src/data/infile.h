// Input files: one text file at a time, read item by item into vectors.
#pragma once

#include <cstdint>
#include <string>

namespace korw::data {

void OpenInFile(const std::string& name);
void CloseInFile();
bool InFileOpen();

// Reads the next item into the variate (or as a level of the factor) at the unit. The factor
// specification is a name, optionally "=" and comma-separated level texts for levels 0, 1, ...
void ReadValue(const std::string& variate, int32_t unit);
void ReadLevel(const std::string& factorSpec, int32_t unit);
void SkipItem();

// The same for a table index already looked up (the READ loop resolves its names once).
void ReadValueAt(int index, int32_t unit);
void ReadLevelAt(int index, const std::string& levelTexts, int32_t unit);

// True when the input file is at its end (nothing more to read).
bool InputAtEnd();

// Reads up to and including the next line end.
void SkipRestOfLine();

// True when the last item read was ended by a line end (its line is finished).
bool LastItemEndedLine();

// Separator set: control characters, blank, "," and ";" by default.
void AddSeparators(const std::string& chars);
void ResetSeparators();

}  // namespace korw::data
