#include "console/inline_picture.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "data/errors.h"
#include "plot/canvas.h"
#include "plot/picture.h"

namespace korw::console::test {
namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu;

// 8 x 6 pixels, the left half red and the right half blue, drawn on 4 x 3 cells of 2 x 2.
struct TinyPicture {
    std::vector<uint32_t> pixels = std::vector<uint32_t>(8 * 6);
    PictureCells cells{4, 3, 2, 2};
    TinyPicture() {
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) pixels[y * 8 + x] = x < 4 ? kRed : kBlue;
    }
    std::string Encode(PictureMode mode, bool tmux = false) const {
        return EncodePicture(reinterpret_cast<const unsigned char*>(pixels.data()), 8, 6, 8 * 4,
                             mode, cells, tmux);
    }
};

std::string Base64Decode(std::string_view text) {
    std::string out;
    int bits = 0, value = 0;
    for (char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* at = std::strchr(alphabet, c);
        if (c == '=' || at == nullptr) break;
        value = value << 6 | static_cast<int>(at - alphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The PNG file a kitty or iTerm2 picture carries, read back to its pixels.
std::vector<uint32_t> PngPixels(const std::string& png) {
    struct Reader {
        const std::string& bytes;
        size_t at = 0;
    } reader{png};
    cairo_surface_t* image = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->bytes.size()) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->bytes.data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    std::vector<uint32_t> pixels;
    if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
        auto* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(image));
        int n = cairo_image_surface_get_stride(image) / 4 * cairo_image_surface_get_height(image);
        pixels.assign(data, data + n);
    }
    cairo_surface_destroy(image);
    return pixels;
}

// Kitty: one placement on 4 x 3 cells of a PNG sent in chunks of at most 4096 characters,
// the terminal asked not to answer (q=2).
TEST(InlinePictureBytes, KittySendsAPngInChunks) {
    TinyPicture tiny;
    std::string bytes = tiny.Encode(PictureMode::Kitty);
    const std::string head = "\033_Ga=T,f=100,q=2,c=4,r=3,m=0;";
    ASSERT_EQ(bytes.substr(0, head.size()), head);
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\033\\");
    std::string png = Base64Decode(bytes.substr(head.size(), bytes.size() - 2 - head.size()));
    EXPECT_EQ(PngPixels(png), tiny.pixels);

    // A picture of 640 x 480 takes several chunks: m=1 on all but the last.
    std::vector<uint32_t> noise(640 * 480);
    uint32_t seed = 1;
    for (uint32_t& p : noise) p = 0xFF000000u | ((seed = seed * 1103515245u + 12345u) >> 8);
    std::string big = EncodePicture(reinterpret_cast<const unsigned char*>(noise.data()), 640, 480,
                                    640 * 4, PictureMode::Kitty, tiny.cells, false);
    std::string joined;
    size_t chunks = 0;
    for (size_t at = 0; at < big.size(); ++chunks) {
        size_t data = big.find(';', at) + 1, end = big.find("\033\\", data);
        bool last = big.compare(data - 4, 4, "m=0;") == 0;
        EXPECT_EQ(last, end + 2 == big.size());
        EXPECT_LE(end - data, 4096u);
        joined += big.substr(data, end - data);
        at = end + 2;
    }
    EXPECT_GT(chunks, 2u);
    EXPECT_EQ(PngPixels(Base64Decode(joined)), noise);
}

// iTerm2: one OSC 1337 file of 4 x 3 cells holding the PNG, ended by BEL.
TEST(InlinePictureBytes, ItermSendsAnInlinePng) {
    TinyPicture tiny;
    std::string bytes = tiny.Encode(PictureMode::Iterm);
    const std::string head = "\033]1337;File=inline=1;size=";
    ASSERT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_EQ(bytes.back(), '\a');
    size_t colon = bytes.find(':');
    std::string png = Base64Decode(bytes.substr(colon + 1, bytes.size() - colon - 2));
    EXPECT_EQ(bytes.substr(head.size(), colon - head.size()),
              std::to_string(png.size()) + ";width=4;height=3;preserveAspectRatio=0");
    EXPECT_EQ(PngPixels(png), tiny.pixels);
}

// Sixel: one DCS string of 8 x 6 pixels; the first four columns are drawn in a red register,
// the last four in a blue one.
TEST(InlinePictureBytes, SixelDrawsBothHalvesInTheirColours) {
    std::string bytes = TinyPicture().Encode(PictureMode::Sixel);
    ASSERT_EQ(bytes.substr(0, 16), "\033P0;1;0q\"1;1;8;6");
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\033\\");
    EXPECT_EQ(bytes.find('\033', 1), bytes.size() - 2);  // one sequence
    auto registerColour = [&](const std::string& data) {
        size_t hash = bytes.rfind(data);
        std::string reg = data.substr(0, data.find('!'));
        size_t at = bytes.find(reg + ";2;");
        EXPECT_NE(hash, std::string::npos) << data;
        EXPECT_NE(at, std::string::npos) << reg;
        return bytes.substr(at + reg.size() + 3,
                            bytes.find_first_of("#\"", at + 1) - at - reg.size() - 3);
    };
    size_t data = bytes.rfind("!4~");
    ASSERT_NE(data, std::string::npos);
    // The data is "#R!4~$#B!4?!4~-": register R paints columns 0-3, register B columns 4-7.
    size_t redAt = bytes.rfind('#', bytes.find("!4~"));
    size_t blueAt = bytes.rfind('#', data);
    std::string red = bytes.substr(redAt, bytes.find('!', redAt) - redAt);
    std::string blue = bytes.substr(blueAt, bytes.find('!', blueAt) - blueAt);
    EXPECT_EQ(registerColour(red + "!"), "100;0;0");
    EXPECT_EQ(registerColour(blue + "!"), "0;0;100");
}

// Symbols: three lines of four cells, nothing but spaces and block elements U+2580..U+259F,
// coloured with 24-bit red and blue, the colours reset at the end.
TEST(InlinePictureBytes, SymbolsAreBlockElementsInColour) {
    std::string bytes = TinyPicture().Encode(PictureMode::Symbols);
    EXPECT_NE(bytes.find("38;2;255;0;0m"), std::string::npos);
    EXPECT_NE(bytes.find("48;2;0;0;255m"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "\033[0m");
    int lines = 1, cells = 0;
    for (size_t i = 0; i < bytes.size();) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\033') {
            i = bytes.find('m', i) + 1;
        } else if (c == '\n') {
            ++lines;
            ++i;
        } else if (c == ' ') {
            ++cells;
            ++i;
        } else {
            ASSERT_EQ(c, 0xE2) << i;  // U+2580..U+259F are E2 96 80..E2 96 9F
            ASSERT_EQ(static_cast<unsigned char>(bytes[i + 1]), 0x96);
            unsigned char last = static_cast<unsigned char>(bytes[i + 2]);
            EXPECT_TRUE(last >= 0x80 && last <= 0x9F) << std::hex << int(last);
            ++cells;
            i += 3;
        }
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(cells, 12);
}

// tmux passes a sequence on only inside its own DCS, with every ESC doubled; text between the
// sequences (and a forced picture's newlines) goes as it is.
TEST(InlinePictureBytes, TmuxPassthroughWrapsEachSequence) {
    EXPECT_EQ(TmuxPassthrough("\033_Gm=1;AA\033\\\033_Gm=0\033\\"),
              "\033Ptmux;\033\033_Gm=1;AA\033\033\\\033\\\033Ptmux;\033\033_Gm=0\033\033\\\033\\");
    std::string kitty = TinyPicture().Encode(PictureMode::Kitty, true);
    EXPECT_EQ(kitty.substr(0, 14), "\033Ptmux;\033\033_Ga=T");
    EXPECT_EQ(TmuxPassthrough("\033]1337;File=x\a"), "\033Ptmux;\033\033]1337;File=x\a\033\\");
    EXPECT_EQ(TmuxPassthrough("a\033[38;2;1;2;3mb\n"), "a\033Ptmux;\033\033[38;2;1;2;3m\033\\b\n");
    std::string sixel = TinyPicture().Encode(PictureMode::Sixel, true);
    EXPECT_EQ(sixel.substr(0, 10), "\033Ptmux;\033\033P");
    EXPECT_EQ(sixel.substr(sixel.size() - 5), "\033\033\\\033\\");
}

// The answers of real terminals, alone and mixed with each other.
TEST(TerminalDetection, AnswersAreRead) {
    TerminalAnswers xterm =
        ParseAnswers("\033P>|XTerm(379)\033\\\033[6;20;10t\033[?63;1;2;4;6;9;15;22c");
    EXPECT_TRUE(xterm.answered);
    EXPECT_TRUE(xterm.sixel);
    EXPECT_FALSE(xterm.kitty);
    EXPECT_EQ(xterm.name, "XTerm(379)");
    EXPECT_EQ(xterm.cellWidth, 10);
    EXPECT_EQ(xterm.cellHeight, 20);
    EXPECT_EQ(ModeFromAnswers(xterm), PictureMode::Sixel);

    TerminalAnswers kitty = ParseAnswers("\033_Gi=31;OK\033\\\033P>|kitty(0.26.5)\033\\\033[?62;c");
    EXPECT_TRUE(kitty.kitty);
    EXPECT_EQ(ModeFromAnswers(kitty), PictureMode::Kitty);

    // A kitty error answer is no acknowledgement; attribute 42 is not 4.
    TerminalAnswers plain = ParseAnswers("\033_Gi=31;ENOTSUPPORTED:x\033\\\033[?62;42;22c");
    EXPECT_FALSE(plain.kitty);
    EXPECT_FALSE(plain.sixel);
    EXPECT_EQ(ModeFromAnswers(plain), PictureMode::Symbols);

    EXPECT_EQ(ModeFromAnswers(ParseAnswers("\033P>|iTerm2 3.5.0\033\\\033[?62;c")),
              PictureMode::Iterm);
    TerminalAnswers none = ParseAnswers("typed keys\033[A");
    EXPECT_FALSE(none.answered);
    EXPECT_EQ(none.cellWidth, 0);
}

// A fake terminal on a pty: it reads the queries and writes `answer` once the device attributes
// were asked for (nothing when the answer is empty).
class FakeTerminal {
  public:
    explicit FakeTerminal(std::string answer) {
        EXPECT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        thread_ = std::thread([this, answer] {
            char buffer[256];
            while (received_.find("\033[c") == std::string::npos) {
                ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n <= 0) return;
                received_.append(buffer, static_cast<size_t>(n));
            }
            if (!answer.empty()) {
                EXPECT_EQ(::write(master_, answer.data(), answer.size()),
                          static_cast<ssize_t>(answer.size()));
            }
        });
    }
    ~FakeTerminal() {
        ::close(slave_);
        thread_.join();
        ::close(master_);
    }
    int Slave() const { return slave_; }
    // What the program wrote to the terminal, complete once Detect returned.
    std::string Received() {
        ::close(slave_);
        slave_ = -1;
        thread_.join();
        thread_ = std::thread([] {});
        return received_;
    }

  private:
    int master_ = -1, slave_ = -1;
    std::string received_;
    std::thread thread_;
};

char* kXtermEnvironment[] = {const_cast<char*>("TERM=xterm-256color"), nullptr};
char* kKittyEnvironment[] = {const_cast<char*>("TERM=xterm-kitty"), nullptr};

long Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

TEST(TerminalDetection, TerminalsThatAnswer) {
    {
        FakeTerminal vt340("\033P>|XTerm(379)\033\\\033[6;16;8t\033[?63;1;2;4;6;9;15;22c");
        auto start = std::chrono::steady_clock::now();
        Detection d = DetectPictures(PictureMode::Auto, false, vt340.Slave(), vt340.Slave(),
                                     kXtermEnvironment, 2000);
        EXPECT_LT(Milliseconds(start), 1000);  // the answer ends the wait, not the timeout
        EXPECT_EQ(d.mode, PictureMode::Sixel);
        EXPECT_FALSE(d.tmux);
        EXPECT_EQ(d.cellWidth, 8);
        EXPECT_EQ(d.cellHeight, 16);
        std::string queries = vt340.Received();
        EXPECT_NE(queries.find("\033_Gi=31,s=1,v=1,a=q"), std::string::npos);
        EXPECT_NE(queries.find("\033[>0q"), std::string::npos);
        EXPECT_EQ(queries.substr(queries.size() - 3), "\033[c");
    }
    {
        FakeTerminal kitty("\033_Gi=31;OK\033\\\033[?62;c");
        EXPECT_EQ(DetectPictures(PictureMode::Auto, false, kitty.Slave(), kitty.Slave(),
                                 kXtermEnvironment, 2000)
                      .mode,
                  PictureMode::Kitty);
    }
    {
        // xterm without sixel: the answers say symbols, and its TERM adds nothing.
        FakeTerminal xterm("\033[?1;2c");
        EXPECT_EQ(DetectPictures(PictureMode::Auto, false, xterm.Slave(), xterm.Slave(),
                                 kXtermEnvironment, 2000)
                      .mode,
                  PictureMode::Symbols);
    }
}

// Silence costs the timeout once, then the environment decides.
TEST(TerminalDetection, ASilentTerminalCostsTheTimeoutOnly) {
    FakeTerminal silent("");
    auto start = std::chrono::steady_clock::now();
    Detection d = DetectPictures(PictureMode::Auto, false, silent.Slave(), silent.Slave(),
                                 kKittyEnvironment, 100);
    long elapsed = Milliseconds(start);
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 300);
    EXPECT_EQ(d.mode, PictureMode::Kitty);
}

// Inside tmux nothing is asked and symbols are drawn, unless a mode is forced: then its
// sequences go through the passthrough. A forced mode is never questioned.
TEST(TerminalDetection, TmuxAndForcedModes) {
    FakeTerminal tmux("\033_Gi=31;OK\033\\\033[?62;4c");
    Detection d =
        DetectPictures(PictureMode::Auto, true, tmux.Slave(), tmux.Slave(), kKittyEnvironment, 100);
    EXPECT_EQ(d.mode, PictureMode::Symbols);
    EXPECT_FALSE(d.tmux);
    d = DetectPictures(PictureMode::Sixel, true, tmux.Slave(), tmux.Slave(), kKittyEnvironment,
                       100);
    EXPECT_EQ(d.mode, PictureMode::Sixel);
    EXPECT_TRUE(d.tmux);
    d = DetectPictures(PictureMode::Off, false, tmux.Slave(), tmux.Slave(), kKittyEnvironment, 100);
    EXPECT_EQ(d.mode, PictureMode::Off);
    EXPECT_EQ(tmux.Received(), "");

    EXPECT_EQ(ParsePictureMode("iterm"), PictureMode::Iterm);
    EXPECT_EQ(ParsePictureMode("symbols"), PictureMode::Symbols);
    EXPECT_FALSE(ParsePictureMode("Sixel"));
    EXPECT_FALSE(ParsePictureMode(""));
}

// 4:3 within the window less two lines; no pixel picture larger than the bitmap; defaults for
// a window that reports nothing.
TEST(PictureSize, FitsTheWindow) {
    PictureCells wide = FitPicture(PictureMode::Sixel, 200, 60, 10, 20, 640, 480);
    EXPECT_EQ(wide.columns, 64);  // 640 pixels, not more
    EXPECT_EQ(wide.rows, 24);     // 480 pixels
    PictureCells narrow = FitPicture(PictureMode::Sixel, 40, 60, 8, 16, 640, 480);
    EXPECT_EQ(narrow.columns, 40);  // 320 x 240 pixels
    EXPECT_EQ(narrow.rows, 15);
    PictureCells symbols = FitPicture(PictureMode::Symbols, 80, 24, 0, 0, 640, 480);
    EXPECT_EQ(symbols.cellWidth, 10);
    EXPECT_EQ(symbols.cellHeight, 20);
    EXPECT_EQ(symbols.rows, 22);     // 440 pixels high
    EXPECT_EQ(symbols.columns, 59);  // 587 pixels wide

    ::setenv("COLUMNS", "40", 1);
    ::setenv("LINES", "100", 1);
    PictureCells fromEnvironment = FitPicture(PictureMode::Symbols, 0, 0, 0, 0, 640, 480);
    EXPECT_EQ(fromEnvironment.columns, 40);
    EXPECT_EQ(fromEnvironment.rows, 15);
    ::unsetenv("COLUMNS");
    ::unsetenv("LINES");
    PictureCells fallback = FitPicture(PictureMode::Symbols, 0, 0, 0, 0, 640, 480);
    EXPECT_EQ(fallback.columns, 59);
    EXPECT_EQ(fallback.rows, 22);
}

// Standard output into a pipe gets no byte of a picture, whatever mode is asked for.
TEST(InlinePictureOutput, NothingGoesIntoAPipe) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::setenv("KORW_PICTURES", "sixel", 1);
    InlinePictures pictures;
    bool shown = pictures.Show(plot::Bitmap());
    pictures.Redraw(plot::Bitmap());
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(pipeEnds[1]);
    ::unsetenv("KORW_PICTURES");
    char buffer[16];
    EXPECT_FALSE(shown);
    EXPECT_EQ(::read(pipeEnds[0], buffer, sizeof buffer), 0);
    ::close(pipeEnds[0]);
}

// SHOW reads the picture files KORW writes back into the same pixels (JPEG nearly).
TEST(PictureFiles, SavedPicturesLoadBack) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("korw-load-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    bool active = std::exchange(data::Active, true);  // saving is a library procedure
    plot::ClearBitmap();
    plot::ScreenLine(10, 10, 300, 10, 4);
    plot::Rgb line = plot::Pixel(100, 10);
    for (const char* ext : {".PNG", ".BMP", ".JPG"}) {
        std::string name = (dir / (std::string("p") + ext)).string();
        ASSERT_TRUE(plot::SavePicture(name));
        cairo_surface_t* image = LoadPictureFile(name);
        ASSERT_NE(image, nullptr) << ext;
        EXPECT_EQ(cairo_image_surface_get_width(image), 640);
        EXPECT_EQ(cairo_image_surface_get_height(image), 480);
        auto* data = cairo_image_surface_get_data(image);
        int stride = cairo_image_surface_get_stride(image);
        auto pixel = [&](int x, int y) {
            return *reinterpret_cast<uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
        };
        uint32_t expected = (uint32_t(line.red) << 16) | (uint32_t(line.green) << 8) | line.blue;
        int tolerance = std::string(ext) == ".JPG" ? 80 : 0;
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(int(pixel(100, 10) >> shift & 0xFF), int(expected >> shift & 0xFF),
                        tolerance)
                << ext;
        EXPECT_EQ(pixel(5, 400), 0xFFFFFFu) << ext;
        cairo_surface_destroy(image);
    }
    std::FILE* bad = std::fopen((dir / "bad.BMP").c_str(), "w");
    std::fputs("BM not a bitmap", bad);
    std::fclose(bad);
    EXPECT_EQ(LoadPictureFile((dir / "bad.BMP").string()), nullptr);
    EXPECT_EQ(LoadPictureFile((dir / "none.PNG").string()), nullptr);
    fs::remove_all(dir);
    data::Active = active;
}

}  // namespace
}  // namespace korw::console::test
