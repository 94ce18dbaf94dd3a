#include "plot/picture.h"

#include <jpeglib.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "plot/canvas.h"

namespace korw::plot {

namespace {

constexpr int jpegQuality = 90;

std::string Extension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return "";
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

// One row of the bitmap as red, green, blue bytes.
std::vector<unsigned char> RgbRow(int y) {
    std::vector<unsigned char> row(3 * BitmapWidth);
    for (int x = 0; x < BitmapWidth; ++x) {
        const Rgb c = Pixel(x, y);
        row[3 * x] = c.red, row[3 * x + 1] = c.green, row[3 * x + 2] = c.blue;
    }
    return row;
}

void PutLittleEndian(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// BMP: file header, 40-byte info header, rows bottom-up in blue-green-red order, each row
// padded to a multiple of 4 bytes.
bool WriteBmp(std::FILE* file) {
    const uint32_t rowBytes = (3 * BitmapWidth + 3) / 4 * 4;
    const uint32_t imageBytes = rowBytes * BitmapHeight;
    std::vector<unsigned char> header = {'B', 'M'};
    PutLittleEndian(header, 54 + imageBytes, 4);
    PutLittleEndian(header, 0, 4);
    PutLittleEndian(header, 54, 4);
    PutLittleEndian(header, 40, 4);
    PutLittleEndian(header, BitmapWidth, 4);
    PutLittleEndian(header, BitmapHeight, 4);
    PutLittleEndian(header, 1, 2);
    PutLittleEndian(header, 24, 2);
    PutLittleEndian(header, 0, 4);
    PutLittleEndian(header, imageBytes, 4);
    PutLittleEndian(header, 3780, 4);  // 96 dots per inch
    PutLittleEndian(header, 3780, 4);
    PutLittleEndian(header, 0, 4);
    PutLittleEndian(header, 0, 4);
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    for (int y = BitmapHeight - 1; ok && y >= 0; --y) {
        std::vector<unsigned char> row = RgbRow(y);
        for (int x = 0; x < BitmapWidth; ++x) std::swap(row[3 * x], row[3 * x + 2]);
        row.resize(rowBytes, 0);
        ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
    }
    return ok;
}

bool WriteJpeg(std::FILE* file) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = BitmapWidth;
    info.image_height = BitmapHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, jpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < BitmapHeight; ++y) {
        std::vector<unsigned char> row = RgbRow(y);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return !std::ferror(file);
}

cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length
               ? CAIRO_STATUS_SUCCESS
               : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool SavePicture(const std::string& fileName) {
    if (!data::Enter("SavePicture")) return false;
    const std::string ext = Extension(fileName);
    if (ext != ".JPG" && ext != ".BMP" && ext != ".PNG") {
        data::ReportError("Unknown picture type " + fileName);
        return false;
    }
    std::FILE* file = data::OpenFile(fileName, "wb");
    bool ok = file != nullptr;
    if (ok) {
        if (ext == ".BMP")
            ok = WriteBmp(file);
        else if (ext == ".JPG")
            ok = WriteJpeg(file);
        else
            ok = cairo_surface_write_to_png_stream(Bitmap(), WriteToFile, file) ==
                 CAIRO_STATUS_SUCCESS;
        ok = std::fclose(file) == 0 && ok;
    }
    if (!ok) data::ReportError("Failed to save " + fileName);
    return ok;
}

std::string DefaultPictureName(const std::string& directory) {
    for (int n = 1;; ++n) {
        const std::string name = "KORW" + std::to_string(n) + ".JPG";
        const std::string path =
            directory.empty() ? name : (std::filesystem::path(directory) / name).string();
        if (!data::FileExists(path)) return path;
    }
}

}  // namespace korw::plot
