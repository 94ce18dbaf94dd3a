// Commands on the input file: OPENINFILE, SKIPITEM, SKIPLINE, READ.
#include <utility>
#include <vector>

#include "data/errors.h"
#include "data/infile.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"

namespace korw::interp {

namespace {

constexpr int kMaxReadItems = 255;

// How many times to skip: the parameter, 1 by default; false after the command's error.
bool SkipCount(const std::string& params, int32_t& n, const std::string& expressionMessage) {
    if (!InputFileOpen) return SetCommandError("No input file has been opened"), false;
    n = 1;
    if (!params.empty() && IntegerParameter(params, n) != 0)
        return SetCommandError(expressionMessage), false;
    if (n < 1) return SetCommandError("Invalid integer parameter"), false;
    return true;
}

struct ReadItem {
    enum Kind { Vector, SkipOne, SkipLine } kind = Vector;
    std::string name;        // upper-case vector name
    std::string levelTexts;  // the text after "=" of a factor item
    int index = 0;
    bool factor = false;
};

// Parses the items and checks the vectors; false after the command's error.
bool ReadItems(const std::string& text, std::vector<ReadItem>& items) {
    // The number of items is checked before any of their names.
    std::vector<std::string> words;
    for (std::string rest = text; !rest.empty();) {
        Split word = SplitFirst(rest);
        rest = word.tail;
        if (static_cast<int>(words.size()) == kMaxReadItems)
            return SetCommandError("Too many variables"), false;
        words.push_back(word.head);
    }
    for (const std::string& word : words) {
        ReadItem item;
        if (word == "*") {
            item.kind = ReadItem::SkipOne;
        } else if (word == "\\" || word == "/") {
            item.kind = ReadItem::SkipLine;
        } else {
            Split eq = SplitFirst(word, "=");
            item.name = data::UpperName(eq.head);
            item.levelTexts = eq.tail;
            if (data::LengthOf(item.name) == 0)
                return SetCommandError(item.name + " does not exist"), false;
            data::CheckIdentifier(item.name);  // trims the name for the table search
            item.index = data::FindVector(item.name);
            item.factor = data::Entry(item.index).kind == data::FactorKind;
        }
        items.push_back(std::move(item));
    }
    const ReadItem* first = nullptr;
    for (const ReadItem& item : items) {
        if (item.kind != ReadItem::Vector) continue;
        if (first == nullptr) first = &item;
        if (data::Entry(item.index).length != data::Entry(first->index).length)
            return SetCommandError(item.name + " is of incorrect length"), false;
    }
    return true;
}

// Reads one item at unit u; a failed read leaves the missing value and a READ ERROR line.
void ReadOne(const ReadItem& item, int32_t u) {
    data::ErrorFree = true;
    switch (item.kind) {
        case ReadItem::SkipOne:
            data::SkipItem();
            break;
        case ReadItem::SkipLine:
            // After an item that ended its line, the rest of that line is empty.
            if (!data::LastItemEndedLine()) data::SkipRestOfLine();
            break;
        case ReadItem::Vector:
            if (item.factor)
                data::ReadLevelAt(item.index, item.levelTexts, u);
            else
                data::ReadValueAt(item.index, u);
            break;
    }
    if (data::ErrorFree) return;
    data::WriteLine("READ ERROR: " + data::ErrorMessage);
    data::Vector& v = data::Entry(item.index);
    if (item.kind == ReadItem::Vector) {
        if (item.factor)
            v.factor[u] = 0;
        else
            v.variate[u] = data::MissingValue;
    }
    data::ErrorFree = true;
}

constexpr int32_t kUnitsPerPoll = 4096;

void ReadUnitsFrom(const std::vector<ReadItem>& items, int32_t length, int32_t lastRead);

void ReadUnits(const std::vector<ReadItem>& items) {
    int32_t length = 0;
    for (const ReadItem& item : items)
        if (item.kind == ReadItem::Vector) {
            length = data::Entry(item.index).length;
            break;
        }
    // The last unit that is read: a final line skip there may meet the end of the file.
    int32_t lastRead = length;
    while (lastRead > 0 && !data::UnitIncluded(lastRead)) --lastRead;
    // A stopped READ leaves the vectors as they were (the file goes on where it stopped).
    std::vector<std::pair<int, data::Vector>> before;
    for (const ReadItem& item : items)
        if (item.kind == ReadItem::Vector) before.emplace_back(item.index, data::Entry(item.index));
    try {
        ReadUnitsFrom(items, length, lastRead);
    } catch (const data::Interrupted&) {
        for (auto& [index, v] : before) data::Entry(index) = std::move(v);
        throw;
    }
}

void ReadUnitsFrom(const std::vector<ReadItem>& items, int32_t length, int32_t lastRead) {
    for (int32_t u = 1; u <= length; ++u) {
        if (u % kUnitsPerPoll == 0) {
            data::Poll();
            data::ReportFraction(static_cast<double>(u) / length);
        }
        if (!data::UnitIncluded(u)) continue;
        for (size_t k = 0; k < items.size(); ++k) {
            const ReadItem& item = items[k];
            if (data::InputAtEnd()) {
                bool finalSkip =
                    item.kind == ReadItem::SkipLine && k + 1 == items.size() && u == lastRead;
                if (finalSkip) continue;
                ShowCommandOutput();
                std::string name = item.kind == ReadItem::Vector    ? item.name
                                   : item.kind == ReadItem::SkipOne ? "*"
                                                                    : "\\";
                return SetCommandError("Unexpected end of file before unit " + std::to_string(u) +
                                       " of " + name);
            }
            ReadOne(item, u);
        }
    }
    ShowCommandOutput();
}

// The separators given in brackets hold for one READ: they go when it ends, also through a
// fault (the results failing to reach the output file), or every later READ would split there.
struct SeparatorsReset {
    ~SeparatorsReset() { data::ResetSeparators(); }
};

}  // namespace

void CmdOpenInFile(const std::string& params) {
    InputFileOpen = false;
    data::OpenInFile(params.empty() ? "nul" : params);
    if (!LibraryFailed()) InputFileOpen = true;
}

void CmdSkipItem(const std::string& params) {
    int32_t n;
    if (!SkipCount(params, n, "Invalid integer expression " + params)) return;
    for (int32_t i = 0; i < n; ++i) {
        data::SkipItem();
        if (LibraryFailed()) return;
    }
}

void CmdSkipLine(const std::string& params) {
    int32_t n;
    if (!SkipCount(params, n, "Invalid integer expression")) return;
    for (int32_t i = 0; i < n; ++i) {
        if (data::InputAtEnd()) return SetCommandError("End of input file");
        data::SkipRestOfLine();
    }
}

void CmdRead(const std::string& params) {
    if (!InputFileOpen) return SetCommandError("Input file not open");
    SeparatorsReset reset;
    std::string items = params;
    Split first = SplitFirst(params);
    if (!first.head.empty() && first.head[0] == '[') {
        if (first.head.size() < 2 || first.head.back() != ']')
            return SetCommandError("Invalid argument " + first.head);
        data::AddSeparators(first.head.substr(1, first.head.size() - 2));
        items = first.tail;
    }
    std::vector<ReadItem> parsed;
    if (ReadItems(items, parsed)) ReadUnits(parsed);
}

}  // namespace korw::interp
