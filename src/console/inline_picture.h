// Pictures drawn inline in the terminal: a PNG through the kitty graphics protocol or iTerm2's
// inline images, or through chafa sixel, or else Unicode block elements with 24-bit colours. The
// terminal is asked what it can show (so that this works over SSH), the answers cached for the
// session.
#pragma once

#include <cairo.h>

#include <optional>
#include <string>
#include <string_view>

namespace korw::console {

enum class PictureMode { Auto, Kitty, Iterm, Sixel, Symbols, Off };

// "auto", "kitty", "iterm", "sixel", "symbols", "off"; nothing for any other text.
std::optional<PictureMode> ParsePictureMode(std::string_view text);

// The mode --pictures=MODE asked for; it wins over KORW_PICTURES.
void SetPictureModeOption(PictureMode mode);

// What a terminal said to the queries QueryTerminal writes.
struct TerminalAnswers {
    bool answered = false;              // the primary device attributes came back
    bool kitty = false;                 // the kitty graphics query was acknowledged
    bool sixel = false;                 // attribute 4 among the device attributes
    std::string name;                   // XTVERSION's answer ("XTerm(390)", "iTerm2 3.5.0", ...)
    int cellWidth = 0, cellHeight = 0;  // CSI 16 t: the cell size in pixels
};

// The answers found in the bytes a terminal sent back (other bytes are ignored).
TerminalAnswers ParseAnswers(std::string_view bytes);

// Writes the kitty graphics query, XTVERSION, the cell-size query and the primary device
// attributes to `out` and reads the answers from `in` (a terminal put into raw mode meanwhile)
// until the device attributes come back, which every terminal answers last, or `timeoutMs`
// passed.
TerminalAnswers QueryTerminal(int in, int out, int timeoutMs);

// The mode the answers point to; Symbols when they point to no picture protocol.
PictureMode ModeFromAnswers(const TerminalAnswers& answers);

// chafa's guess from environment variables (TERM, TERM_PROGRAM, KITTY_WINDOW_ID, ...).
PictureMode ModeFromEnvironment(char** environment);

struct Detection {
    PictureMode mode = PictureMode::Off;
    bool tmux = false;  // the picture's sequences go through tmux's passthrough
    int cellWidth = 0, cellHeight = 0;
};

// The order: a mode asked for (Auto asks for none); inside tmux symbols; the terminal's answers
// (when `in` and `out` are a terminal); chafa's guess; symbols. A forced pixel mode inside tmux
// is wrapped for tmux's passthrough.
Detection DetectPictures(PictureMode requested, bool insideTmux, int in, int out,
                         char** environment, int timeoutMs);

// The cells a picture of 4:3 takes: the widest that fits the window's width and its height less
// two lines (the keys' hint and the line after it). Pixel pictures are never drawn larger than
// the bitmap itself. Columns or lines of 0 come from $COLUMNS and $LINES, else 80 x 24; an
// unknown cell size is taken as 10 x 20 pixels.
struct PictureCells {
    int columns = 0, rows = 0, cellWidth = 0, cellHeight = 0;
};
PictureCells FitPicture(PictureMode mode, int windowColumns, int windowLines, int cellWidth,
                        int cellHeight, int pictureWidth, int pictureHeight);

// The bytes that draw an ARGB32 image (Cairo's layout) in `mode` (Kitty, Iterm, Sixel or
// Symbols), each escape sequence wrapped for tmux when `tmux`.
std::string EncodePicture(const unsigned char* pixels, int width, int height, int stride,
                          PictureMode mode, const PictureCells& cells, bool tmux);

// Every escape sequence of `bytes` as a tmux passthrough sequence, its ESC bytes doubled;
// text between the sequences stays as it is.
std::string TmuxPassthrough(std::string_view bytes);

// A picture file (.PNG, .JPG or .BMP of 24 bits) as an image surface; nullptr when it cannot
// be read.
cairo_surface_t* LoadPictureFile(const std::string& file);

// The terminal console's pictures: detection once per session, then each picture drawn below
// the cursor, and redrawn in place.
class InlinePictures {
  public:
    // Draws the image when standard output is a terminal and pictures are on; false otherwise.
    bool Show(cairo_surface_t* image);
    // Draws the image again over the one Show drew; the cursor is on the line below it.
    void Redraw(cairo_surface_t* image);

  private:
    std::string Draw(cairo_surface_t* image, const PictureCells& cells);
    std::optional<Detection> detection_;
    PictureCells shown_;
};

}  // namespace korw::console
