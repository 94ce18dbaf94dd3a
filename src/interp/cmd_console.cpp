// Commands that lean on the front end: SHELL, EDIT and KEYS.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "data/files.h"
#include "data/outfile.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"

namespace korw::interp {

namespace {

struct KeyDescription {
    uint16_t key = 0;
    uint8_t modifiers = 0;
};

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// F2..F12 with or without A, C or S before the F; A or C with one digit; A or C with a
// letter (Ctrl with A, C, V, X or Z is kept for the editing keys).
std::optional<KeyDescription> ParseDescription(const std::string& description) {
    size_t digitsAt = description.find_last_not_of("0123456789") + 1;
    std::string head = description.substr(0, digitsAt);
    std::string digits = description.substr(digitsAt);
    auto modifierOf = [](char c) -> uint8_t {
        return c == 'A' ? kAlt : c == 'C' ? kCtrl : c == 'S' ? kShift : 0;
    };
    if (AllDigits(digits) && digits.size() <= 2) {
        int n = std::stoi(digits);
        if (head == "F" && n >= 2 && n <= 12) return KeyDescription{FunctionKey(n), 0};
        if (head.size() == 2 && head[1] == 'F' && modifierOf(head[0]) != 0 && n >= 2 && n <= 12)
            return KeyDescription{FunctionKey(n), modifierOf(head[0])};
        if ((head == "A" || head == "C") && digits.size() == 1)
            return KeyDescription{static_cast<uint16_t>(digits[0]), modifierOf(head[0])};
        return {};
    }
    if (description.size() == 2 && (description[0] == 'A' || description[0] == 'C') &&
        description[1] >= 'A' && description[1] <= 'Z') {
        char letter = description[1];
        bool reserved = description[0] == 'C' && (letter == 'A' || letter == 'C' || letter == 'V' ||
                                                  letter == 'X' || letter == 'Z');
        if (reserved) return {};
        return KeyDescription{static_cast<uint16_t>(letter), modifierOf(description[0])};
    }
    return {};
}

std::string KeyName(uint16_t key) {
    if (key >= FunctionKey(1) && key <= FunctionKey(12)) return "F" + std::to_string(key - 111);
    return std::string(1, static_cast<char>(key));
}

// The last of Alt, Ctrl and Shift that is set names the modifiers.
std::string ModifierField(uint8_t modifiers) {
    if (modifiers & kShift) return " <Shift>-";
    if (modifiers & kCtrl) return "  <Ctrl>-";
    if (modifiers & kAlt) return "   <Alt>-";
    return "         ";
}

void ListShortKeys() {
    data::WriteLine(" Present shortkey definitions.");
    for (int i = 1; i <= kShortKeyCount; ++i) {
        const ShortKey& entry = ShortKeyEntry(i);
        if (entry.key == 0) continue;
        std::string line = ModifierField(entry.modifiers) + KeyName(entry.key);
        line.resize(13, ' ');
        data::WriteLine(line + " " + entry.text);
    }
    ShowCommandOutput();
}

}  // namespace

void CmdShell(const std::string& params) {
    if (ProgramRunning) {
        if (EchoOn) AppendOutputLine(" *** SHELL command ignored ***");
        return;
    }
    Split split = SplitFirst(params);
    TheDesktop->ShellOpen(split.head, split.tail);
}

std::string PrepareProgramFile(const std::string& file, std::string& path) {
    path.clear();
    std::string name = file;
    if (name.empty()) {
        std::optional<std::string> chosen = ChooseProgramFile("Select file to EDIT");
        if (!chosen) return "";
        name = *chosen;
        if (EchoOn) {
            AppendOutputLine("File selected from dialog box:");
            AppendOutputLine(name);
        }
    }
    // A directory named as it stands is refused before ".KOR" is added to the name.
    if (data::DirectoryExists(name)) return name + " is a directory name";
    if (std::filesystem::path(name).extension().empty()) name += ".KOR";
    if (data::DirectoryExists(name)) return name + " is a directory name";
    std::string existing = data::ResolveExisting(name);
    if (!data::FileExists(existing)) {
        std::FILE* f = data::OpenFile(name, "w");
        if (f == nullptr) return "Unable to create file " + name;
        std::fclose(f);
        existing = data::ResolveExisting(name);
    }
    path = existing;
    return "";
}

void CmdEdit(const std::string& params) {
    if (ProgramRunning) {
        if (EchoOn) AppendOutputLine(" *** EDIT command ignored ***");
        return;
    }
    std::string error = TheDesktop->EditFile(params);
    if (!error.empty()) SetCommandError(error);
}

void CmdKeys(const std::string& params) {
    if (params.empty()) return ListShortKeys();
    if (params == "-") return ClearShortKeys();
    if (params == "+") return LoadShortKeys();
    Split split = SplitFirst(params);
    std::string description = split.head;
    for (char& c : description) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::optional<KeyDescription> key = ParseDescription(description);
    if (!key) return SetCommandError("Invalid shortkey description " + description);
    if (!DefineShortKey(key->key, key->modifiers, split.tail))
        SetCommandError("Too many shortkey definitions");
}

}  // namespace korw::interp
