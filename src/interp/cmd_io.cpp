// Data in and out: IMPORT and EXPORT of delimited text, Stata, SPSS and SAS files.
//
// Options are words of the form KEY=value after the file name. EXPORT's option keys are longer
// than eight characters, so they can never be taken for the name of a vector among its items.
#include <optional>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/state.h"
#include "io/import.h"

namespace korw::interp {

namespace {

// Splits off the file name: the first word, or a text in double quotes (names with blanks).
// False when a quote is not closed.
bool SplitFileName(const std::string& params, std::string& file, std::string& rest) {
    if (!params.empty() && params[0] == '"') {
        size_t close = params.find('"', 1);
        if (close == std::string::npos) return false;
        file = params.substr(1, close - 1);
        rest = params.substr(close + 1);
    } else {
        size_t blank = params.find(' ');
        file = params.substr(0, blank);
        rest = blank == std::string::npos ? "" : params.substr(blank + 1);
    }
    size_t start = rest.find_first_not_of(' ');
    rest = start == std::string::npos ? "" : rest.substr(start);
    return true;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        size_t blank = text.find(' ', i);
        if (blank == std::string::npos) blank = text.size();
        if (blank > i) words.push_back(text.substr(i, blank - i));
        i = blank + 1;
    }
    return words;
}

std::vector<std::string> CommaList(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

// DELIMITER=, ; | TAB BLANKS (and the names COMMA SEMICOLON BAR); 0 when not one of them.
char Delimiter(const std::string& value) {
    std::string v = data::UpperName(value);
    if (v == "," || v == "COMMA") return ',';
    if (v == ";" || v == "SEMICOLON") return ';';
    if (v == "|" || v == "BAR") return '|';
    if (v == "TAB") return '\t';
    if (v == "BLANK" || v == "BLANKS") return ' ';
    return 0;
}

bool ImportOption(const std::string& word, io::ImportOptions& options) {
    size_t eq = word.find('=');
    std::string key = data::UpperName(word.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
    std::string upper = data::UpperName(value);
    if (eq == std::string::npos) {
        if (key != "REPLACE") return false;
        options.replace = true;
        return true;
    }
    if (key == "DELIMITER") {
        options.delimiter = Delimiter(value);
        options.textOptions = true;
        return options.delimiter != 0;
    }
    if (key == "DECIMAL") {
        options.decimal = upper == "COMMA" || upper == ","   ? ','
                          : upper == "POINT" || upper == "." ? '.'
                                                             : 0;
        options.textOptions = true;
        return options.decimal != 0;
    }
    if (key == "HEADER") {
        options.header = upper == "YES" ? 1 : upper == "NO" ? 0 : -2;
        options.textOptions = true;
        return options.header != -2;
    }
    if (key == "MISSING") {
        options.missingTexts = CommaList(value);
        options.textOptions = true;
        return !options.missingTexts.empty();
    }
    if (key == "COLUMNS") {
        options.columns = CommaList(value);
        return !options.columns.empty();
    }
    return false;
}

// EXPORT's options, taken out of the item list; false with the word that is not a valid option.
bool ExportOptions(std::string& items, io::ExportOptions& options, std::string& bad) {
    std::string kept;
    for (const std::string& word : Words(items)) {
        std::string upper = data::UpperName(word);
        if (upper.rfind("MISSINGAS=", 0) == 0) {
            if (upper != "MISSINGAS=NA" && upper != "MISSINGAS=") return bad = word, false;
            options.writeNA = upper == "MISSINGAS=NA";
        } else if (upper.rfind("DELIMITER=", 0) == 0) {
            options.delimiter = Delimiter(word.substr(10));
            if (options.delimiter == 0 || options.delimiter == ' ') return bad = word, false;
        } else {
            kept += (kept.empty() ? "" : " ") + word;
        }
    }
    items = kept;
    return true;
}

// A file chosen in the desktop's dialog, echoed as GETDATA echoes its data set; nothing when the
// dialog was cancelled (or there is none, as in batch mode).
std::optional<std::string> DialogFile(bool save) {
    FileDialog dialog{save ? "Select file to EXPORT to" : "Select data file to IMPORT",
                      save ? io::kExportFilter : io::kImportFilter,
                      save ? ".csv" : "",
                      WorkingDirectory,
                      "",
                      save};
    std::optional<std::string> chosen =
        save ? TheDesktop->SaveDialog(dialog) : TheDesktop->OpenDialog(dialog);
    if (!chosen || chosen->empty()) return std::nullopt;
    if (EchoOn) {
        AppendOutputLine("Data file selected from dialog box:");
        AppendOutputLine(*chosen);
    }
    return chosen;
}

}  // namespace

// IMPORT [file [options]]: without a file the file is chosen in a dialog (an error in batch
// mode, which has none).
void CmdImport(const std::string& params) {
    std::string file, rest;
    if (!SplitFileName(params, file, rest)) return SetCommandError("Missing \" after file name");
    if (file.empty()) {
        std::optional<std::string> chosen = DialogFile(false);
        if (!chosen) return SetCommandError("No data file selected");
        file = *chosen;
    }
    io::ImportOptions options;
    for (const std::string& word : Words(rest))
        if (!ImportOption(word, options)) return SetCommandError("Invalid option " + word);
    io::Import(file, options);
    FinishWithOutput();
}

// EXPORT [file [items] [options]]: an existing file is replaced only when the user agrees, as
// SAVEDATA asks.
void CmdExport(const std::string& params) {
    std::string file, items;
    if (!SplitFileName(params, file, items)) return SetCommandError("Missing \" after file name");
    io::ExportOptions options;
    std::string bad;
    if (!ExportOptions(items, options, bad)) return SetCommandError("Invalid option " + bad);
    if (file.empty()) {
        std::optional<std::string> chosen = DialogFile(true);
        if (!chosen) return SetCommandError("No data file selected");
        file = *chosen;
    } else if (!ProgramRunning && data::FileExists(file) &&
               !TheDesktop->Confirm("The file " + file + " exists. Overwrite it?")) {
        if (EchoOn) AppendOutputLine(" *** OVERWRITE WARNING - OPERATION CANCELLED ***");
        return;
    }
    io::Export(file, items, options);
    FinishWithOutput();
}

}  // namespace korw::interp
