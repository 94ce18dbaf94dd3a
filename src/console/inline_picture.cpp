#include "console/inline_picture.h"

#include <chafa.h>
#include <jpeglib.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "data/files.h"
#include "data/vectors.h"

extern char** environ;

namespace korw::console {

namespace {

constexpr char kEsc = '\033';
// A terminal that does not answer costs this once per session.
constexpr int kQueryTimeoutMs = 100;
// Assumed when neither the window size nor CSI 16 t gives the cell size.
constexpr int kDefaultCellWidth = 10, kDefaultCellHeight = 20;

std::optional<PictureMode> modeOption;

}  // namespace

std::optional<PictureMode> ParsePictureMode(std::string_view text) {
    static constexpr std::pair<std::string_view, PictureMode> kNames[] = {
        {"auto", PictureMode::Auto},       {"kitty", PictureMode::Kitty},
        {"iterm", PictureMode::Iterm},     {"sixel", PictureMode::Sixel},
        {"symbols", PictureMode::Symbols}, {"off", PictureMode::Off}};
    for (const auto& [name, mode] : kNames)
        if (text == name) return mode;
    return {};
}

void SetPictureModeOption(PictureMode mode) {
    modeOption = mode;
}

namespace {

// The text between `begin` and the string terminator (ESC \ or BEL) that follows, or nothing
// when the answer is not complete.
std::optional<std::string_view> StringBody(std::string_view bytes, size_t begin) {
    for (size_t i = begin; i < bytes.size(); ++i) {
        if (bytes[i] == '\a') return bytes.substr(begin, i - begin);
        if (bytes[i] == kEsc && i + 1 < bytes.size() && bytes[i + 1] == '\\')
            return bytes.substr(begin, i - begin);
    }
    return {};
}

std::vector<int> Numbers(std::string_view text) {
    std::vector<int> numbers;
    int value = 0;
    bool any = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            any = true;
        } else {
            if (any) numbers.push_back(value);
            value = 0;
            any = false;
        }
    }
    if (any) numbers.push_back(value);
    return numbers;
}

// The parameters of a CSI sequence whose parameters start with `lead` and that ends in `final`.
std::optional<std::string_view> CsiParameters(std::string_view bytes, std::string_view lead,
                                              char final) {
    std::string start = std::string(1, kEsc) + "[" + std::string(lead);
    for (size_t at = bytes.find(start); at != std::string_view::npos;
         at = bytes.find(start, at + 1)) {
        size_t i = at + start.size();
        while (i < bytes.size() && ((bytes[i] >= '0' && bytes[i] <= '9') || bytes[i] == ';')) ++i;
        if (i < bytes.size() && bytes[i] == final)
            return bytes.substr(at + start.size(), i - at - start.size());
    }
    return {};
}

}  // namespace

TerminalAnswers ParseAnswers(std::string_view bytes) {
    TerminalAnswers answers;
    if (auto attributes = CsiParameters(bytes, "?", 'c')) {
        answers.answered = true;
        for (int a : Numbers(*attributes)) answers.sixel = answers.sixel || a == 4;
    }
    std::string kitty = std::string(1, kEsc) + "_G";
    for (size_t at = bytes.find(kitty); at != std::string_view::npos;
         at = bytes.find(kitty, at + 1))
        if (auto body = StringBody(bytes, at + kitty.size()))
            answers.kitty = answers.kitty || body->find(";OK") != std::string_view::npos;
    std::string version = std::string(1, kEsc) + "P>|";
    if (size_t at = bytes.find(version); at != std::string_view::npos)
        if (auto body = StringBody(bytes, at + version.size())) answers.name = *body;
    if (auto size = CsiParameters(bytes, "6;", 't')) {
        std::vector<int> n = Numbers(*size);
        if (n.size() == 2 && n[0] > 0 && n[1] > 0) {
            answers.cellHeight = n[0];
            answers.cellWidth = n[1];
        }
    }
    return answers;
}

namespace {

long MillisecondsSince(const timespec& start) {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

TerminalAnswers QueryTerminal(int in, int out, int timeoutMs) {
    termios saved{};
    bool raw = ::tcgetattr(in, &saved) == 0;
    if (raw) {
        termios t = saved;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(in, TCSANOW, &t);
    }
    // The kitty query names a 1 x 1 image that is never stored; DA1 goes last so that its answer
    // ends the wait in every terminal, whether it knows the other queries or not.
    const std::string queries =
        "\033_Gi=31,s=1,v=1,a=q,t=d,f=24;AAAA\033\\"
        "\033[>0q"
        "\033[16t"
        "\033[c";
    std::string received;
    if (WriteAll(out, queries)) {
        timespec start;
        ::clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            long left = timeoutMs - MillisecondsSince(start);
            pollfd p{in, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            char buffer[256];
            ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
            if (CsiParameters(received, "?", 'c')) break;
        }
    }
    if (raw) ::tcsetattr(in, TCSANOW, &saved);
    return ParseAnswers(received);
}

PictureMode ModeFromAnswers(const TerminalAnswers& answers) {
    if (answers.kitty) return PictureMode::Kitty;
    if (answers.name.rfind("iTerm2", 0) == 0) return PictureMode::Iterm;
    if (answers.sixel) return PictureMode::Sixel;
    if (answers.name.rfind("WezTerm", 0) == 0) return PictureMode::Iterm;
    return PictureMode::Symbols;
}

PictureMode ModeFromEnvironment(char** environment) {
    ChafaTermInfo* info = chafa_term_db_detect(chafa_term_db_get_default(), environment);
    PictureMode mode = PictureMode::Symbols;
    if (chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_KITTY_IMMEDIATE_IMAGE_V1))
        mode = PictureMode::Kitty;
    else if (chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_ITERM2_IMAGE))
        mode = PictureMode::Iterm;
    else if (chafa_term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_SIXELS))
        mode = PictureMode::Sixel;
    chafa_term_info_unref(info);
    return mode;
}

Detection DetectPictures(PictureMode requested, bool insideTmux, int in, int out,
                         char** environment, int timeoutMs) {
    Detection d;
    if (requested != PictureMode::Auto) {
        d.mode = requested;
        d.tmux = insideTmux && requested != PictureMode::Symbols;
        return d;
    }
    if (insideTmux) {
        d.mode = PictureMode::Symbols;
        return d;
    }
    TerminalAnswers answers;
    if (::isatty(in) && ::isatty(out)) answers = QueryTerminal(in, out, timeoutMs);
    d.cellWidth = answers.cellWidth;
    d.cellHeight = answers.cellHeight;
    d.mode = ModeFromAnswers(answers);
    if (d.mode != PictureMode::Symbols) return d;
    // A terminal that answered without sixel does not draw sixels whatever its name suggests;
    // kitty's and iTerm2's pictures have no device attribute, so the environment may add them.
    PictureMode guess = ModeFromEnvironment(environment);
    if (!answers.answered || guess != PictureMode::Sixel) d.mode = guess;
    return d;
}

PictureCells FitPicture(PictureMode mode, int windowColumns, int windowLines, int cellWidth,
                        int cellHeight, int pictureWidth, int pictureHeight) {
    auto fromEnvironment = [](const char* name, int fallback) {
        const char* value = std::getenv(name);
        int n = value != nullptr ? std::atoi(value) : 0;
        return n > 0 ? n : fallback;
    };
    if (windowColumns <= 0) windowColumns = fromEnvironment("COLUMNS", 80);
    if (windowLines <= 0) windowLines = fromEnvironment("LINES", 24);
    PictureCells cells;
    cells.cellWidth = cellWidth > 0 ? cellWidth : kDefaultCellWidth;
    cells.cellHeight = cellHeight > 0 ? cellHeight : kDefaultCellHeight;
    double width = static_cast<double>(windowColumns) * cells.cellWidth;
    double height = static_cast<double>(std::max(windowLines - 2, 1)) * cells.cellHeight;
    width = std::min(width, height * pictureWidth / pictureHeight);
    if (mode != PictureMode::Symbols) width = std::min<double>(width, pictureWidth);
    height = width * pictureHeight / pictureWidth;
    cells.columns = std::clamp(static_cast<int>(width / cells.cellWidth + 0.5), 1, windowColumns);
    cells.rows = std::max(static_cast<int>(height / cells.cellHeight + 0.5), 1);
    return cells;
}

std::string TmuxPassthrough(std::string_view bytes) {
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        if (bytes[i] != kEsc) {
            out += bytes[i++];
            continue;
        }
        // The sequence's end: the string terminator of APC, DCS and OSC strings, else the
        // final byte of a CSI sequence, else the byte after ESC.
        size_t end = i + 1;
        char kind = end < bytes.size() ? bytes[end] : '\0';
        if (kind == '_' || kind == 'P' || kind == ']') {
            for (end = i + 2; end < bytes.size(); ++end) {
                if (bytes[end] == '\a') break;
                if (bytes[end] == kEsc && end + 1 < bytes.size() && bytes[end + 1] == '\\') {
                    ++end;
                    break;
                }
            }
        } else if (kind == '[') {
            for (end = i + 2; end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7E);)
                ++end;
        }
        end = std::min(end, bytes.size() - 1);
        out += "\033Ptmux;";
        for (size_t k = i; k <= end; ++k) {
            if (bytes[k] == kEsc) out += kEsc;
            out += bytes[k];
        }
        out += "\033\\";
        i = end + 1;
    }
    return out;
}

namespace {

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

cairo_status_t AppendPng(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

std::string Png(const unsigned char* pixels, int width, int height, int stride) {
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<unsigned char*>(pixels), CAIRO_FORMAT_ARGB32, width, height, stride);
    std::string png;
    cairo_surface_write_to_png_stream(surface, AppendPng, &png);
    cairo_surface_destroy(surface);
    return png;
}

// Kitty's and iTerm2's pictures carry a PNG file, which the terminal scales to the cells:
// chafa would send every pixel uncompressed, 1.6 MB for the bitmap against some 20 kB of PNG
// for a plot's line art, and that is the time the picture takes to reach the terminal.
constexpr size_t kKittyChunk = 4096;

std::string KittyPicture(const std::string& png, const PictureCells& cells) {
    std::string data = Base64(png);
    // q=2: no answer from the terminal, which would arrive as keys.
    std::string out = "\033_Ga=T,f=100,q=2,c=" + std::to_string(cells.columns) +
                      ",r=" + std::to_string(cells.rows);
    for (size_t at = 0; at < data.size() || at == 0; at += kKittyChunk) {
        bool last = at + kKittyChunk >= data.size();
        if (at > 0) out += "\033_G";
        out += at > 0 ? "m=" : ",m=";
        out += last ? "0;" : "1;";
        out += data.substr(at, kKittyChunk);
        out += "\033\\";
    }
    return out;
}

std::string ItermPicture(const std::string& png, const PictureCells& cells) {
    return "\033]1337;File=inline=1;size=" + std::to_string(png.size()) +
           ";width=" + std::to_string(cells.columns) + ";height=" + std::to_string(cells.rows) +
           ";preserveAspectRatio=0:" + Base64(png) + "\a";
}

}  // namespace

std::string EncodePicture(const unsigned char* pixels, int width, int height, int stride,
                          PictureMode mode, const PictureCells& cells, bool tmux) {
    if (mode == PictureMode::Kitty || mode == PictureMode::Iterm) {
        std::string png = Png(pixels, width, height, stride);
        std::string bytes =
            mode == PictureMode::Kitty ? KittyPicture(png, cells) : ItermPicture(png, cells);
        return tmux ? TmuxPassthrough(bytes) : bytes;
    }
    ChafaPixelMode pixelMode = CHAFA_PIXEL_MODE_SYMBOLS;
    if (mode == PictureMode::Sixel) pixelMode = CHAFA_PIXEL_MODE_SIXELS;
    ChafaSymbolMap* symbols = chafa_symbol_map_new();
    chafa_symbol_map_add_by_range(symbols, 0x2580, 0x259F);  // the block elements
    chafa_symbol_map_add_by_range(symbols, ' ', ' ');
    ChafaCanvasConfig* config = chafa_canvas_config_new();
    chafa_canvas_config_set_geometry(config, cells.columns, cells.rows);
    chafa_canvas_config_set_cell_geometry(config, cells.cellWidth, cells.cellHeight);
    chafa_canvas_config_set_pixel_mode(config, pixelMode);
    chafa_canvas_config_set_canvas_mode(config, CHAFA_CANVAS_MODE_TRUECOLOR);
    chafa_canvas_config_set_symbol_map(config, symbols);
    ChafaCanvas* canvas = chafa_canvas_new(config);
    // Cairo's ARGB32 is premultiplied BGRA in memory on a little-endian machine.
    chafa_canvas_draw_all_pixels(canvas, CHAFA_PIXEL_BGRA8_PREMULTIPLIED, pixels, width, height,
                                 stride);
    ChafaTermInfo* info = chafa_term_db_get_fallback_info(chafa_term_db_get_default());
    GString* printed = chafa_canvas_print(canvas, info);
    std::string bytes(printed->str, printed->len);
    g_string_free(printed, TRUE);
    chafa_term_info_unref(info);
    chafa_canvas_unref(canvas);
    chafa_canvas_config_unref(config);
    chafa_symbol_map_unref(symbols);
    if (mode == PictureMode::Symbols) bytes += "\033[0m";
    return tmux ? TmuxPassthrough(bytes) : bytes;
}

namespace {

cairo_surface_t* LoadJpeg(const std::string& file) {
    FILE* in = data::OpenFile(file, "rb");
    if (in == nullptr) return nullptr;
    struct ErrorExit {
        jpeg_error_mgr manager;
        std::jmp_buf jump;
    } error;
    jpeg_decompress_struct jpeg;
    jpeg.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr info) {
        std::longjmp(reinterpret_cast<ErrorExit*>(info->err)->jump, 1);
    };
    // Set before the jump point so that a broken file frees them on the way out.
    cairo_surface_t* volatile surface = nullptr;
    std::vector<unsigned char> row;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&jpeg);
        std::fclose(in);
        if (surface != nullptr) cairo_surface_destroy(surface);
        return nullptr;
    }
    jpeg_create_decompress(&jpeg);
    jpeg_stdio_src(&jpeg, in);
    jpeg_read_header(&jpeg, TRUE);
    jpeg.out_color_space = JCS_RGB;
    jpeg_start_decompress(&jpeg);
    int w = static_cast<int>(jpeg.output_width), h = static_cast<int>(jpeg.output_height);
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    row.resize(static_cast<size_t>(w) * 3);
    while (jpeg.output_scanline < jpeg.output_height) {
        JSAMPROW rows[] = {row.data()};
        int y = static_cast<int>(jpeg.output_scanline);
        jpeg_read_scanlines(&jpeg, rows, 1);
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x)
            out[x] = 0xFF000000u | (uint32_t{row[3 * x]} << 16) | (uint32_t{row[3 * x + 1]} << 8) |
                     row[3 * x + 2];
    }
    jpeg_finish_decompress(&jpeg);
    jpeg_destroy_decompress(&jpeg);
    std::fclose(in);
    cairo_surface_mark_dirty(surface);
    return surface;
}

uint32_t Little(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

// 24-bit uncompressed bitmaps, as pictures are saved; rows stored bottom-up unless the height
// is negative.
cairo_surface_t* LoadBmp(const std::string& file) {
    std::ifstream in(data::ResolveExisting(file), std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return nullptr;
    uint32_t offset = Little(b, 10, 4);
    auto w = static_cast<int32_t>(Little(b, 18, 4)), h = static_cast<int32_t>(Little(b, 22, 4));
    if (Little(b, 28, 2) != 24 || Little(b, 30, 4) != 0 || w <= 0 || h == 0 || w > 20000 ||
        h > 20000 || h < -20000)
        return nullptr;
    bool bottomUp = h > 0;
    h = std::abs(h);
    size_t rowBytes = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    if (offset + rowBytes * static_cast<size_t>(h) > b.size()) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y) {
        size_t row = offset + rowBytes * static_cast<size_t>(bottomUp ? h - 1 - y : y);
        auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x) out[x] = 0xFF000000u | Little(b, row + 3 * x, 3);
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

}  // namespace

cairo_surface_t* LoadPictureFile(const std::string& file) {
    std::string ext = data::UpperName(file.substr(std::min(file.rfind('.'), file.size())));
    cairo_surface_t* surface = nullptr;
    if (ext == ".PNG") {
        surface = cairo_image_surface_create_from_png(data::ResolveExisting(file).c_str());
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            surface = nullptr;
        }
    }
    if (ext == ".JPG" || ext == ".JPEG") surface = LoadJpeg(file);
    if (ext == ".BMP") surface = LoadBmp(file);
    return surface;
}

std::string InlinePictures::Draw(cairo_surface_t* image, const PictureCells& cells) {
    cairo_surface_flush(image);
    return EncodePicture(cairo_image_surface_get_data(image), cairo_image_surface_get_width(image),
                         cairo_image_surface_get_height(image),
                         cairo_image_surface_get_stride(image), detection_->mode, cells,
                         detection_->tmux);
}

bool InlinePictures::Show(cairo_surface_t* image) {
    shown_ = {};
    if (!::isatty(STDOUT_FILENO) || image == nullptr) return false;
    if (!detection_) {
        PictureMode requested = PictureMode::Auto;
        const char* variable = std::getenv("KORW_PICTURES");
        if (variable != nullptr && *variable != '\0')
            requested = ParsePictureMode(variable).value_or(PictureMode::Auto);
        if (modeOption) requested = *modeOption;
        const char* tmux = std::getenv("TMUX");
        std::cout << std::flush;
        detection_ = DetectPictures(requested, tmux != nullptr && *tmux != '\0', STDIN_FILENO,
                                    STDOUT_FILENO, environ, kQueryTimeoutMs);
    }
    if (detection_->mode == PictureMode::Off) return false;
    winsize ws{};
    ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws);
    int cellWidth = ws.ws_col > 0 && ws.ws_xpixel > 0 ? ws.ws_xpixel / ws.ws_col : 0;
    int cellHeight = ws.ws_row > 0 && ws.ws_ypixel > 0 ? ws.ws_ypixel / ws.ws_row : 0;
    if (cellWidth == 0 || cellHeight == 0) {
        cellWidth = detection_->cellWidth;
        cellHeight = detection_->cellHeight;
    }
    shown_ =
        FitPicture(detection_->mode, ws.ws_col, ws.ws_row, cellWidth, cellHeight,
                   cairo_image_surface_get_width(image), cairo_image_surface_get_height(image));
    // Room for the picture and the line below it first, so that the terminal does not scroll
    // while the picture is drawn and the saved cursor position stays its top left corner.
    std::string out = "\r" + std::string(static_cast<size_t>(shown_.rows), '\n') + "\033[" +
                      std::to_string(shown_.rows) + "A\0337";
    out += Draw(image, shown_);
    out += "\0338\033[" + std::to_string(shown_.rows) + "B\r";
    std::cout << out << std::flush;
    return true;
}

void InlinePictures::Redraw(cairo_surface_t* image) {
    if (!detection_ || shown_.rows == 0) return;
    std::string out = "\r\033[" + std::to_string(shown_.rows) + "A\0337";
    // kitty keeps every picture it was sent: the one under the cursor (the top left corner of
    // the previous drawing) goes, pixels and all, so that a long turn does not pile them up.
    if (detection_->mode == PictureMode::Kitty) {
        std::string remove = "\033_Ga=d,d=C,q=2\033\\";
        out += detection_->tmux ? TmuxPassthrough(remove) : remove;
    }
    out += Draw(image, shown_);
    out += "\0338\033[" + std::to_string(shown_.rows) + "B\r";
    std::cout << out << std::flush;
}

}  // namespace korw::console
