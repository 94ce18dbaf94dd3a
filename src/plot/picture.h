// The picture bitmap saved as a file: .JPG (JPEG), .BMP (24-bit, uncompressed) or .PNG.
#pragma once

#include <string>

namespace korw::plot {

// Writes the bitmap in the format of the name's extension (upper-cased: ".JPG", ".BMP",
// ".PNG"). Any other extension writes nothing and reports "Unknown picture type " + name;
// a file that cannot be written reports "Failed to save " + name (procedure "SavePicture").
bool SavePicture(const std::string& fileName);

// "KORW" + n + ".JPG" with n the smallest positive integer for which no such file exists in
// `directory` (the current directory when empty).
std::string DefaultPictureName(const std::string& directory = "");

}  // namespace korw::plot
