// Listings of vectors and the text histogram.
#pragma once

#include <string>
#include <vector>

namespace korw::data {

// Lists vectors side by side in columns; items name[=level names][:format].
void List(const std::string& items);

// One item of LIST's syntax, name[=level names][:format], split but not looked up.
struct ListItem {
    std::string name;
    bool hasNames = false;
    std::vector<std::string> names;  // level texts from level 0 on
    bool hasFormat = false;
    std::string format;
};
std::vector<ListItem> SplitListItems(const std::string& items);

// Lists each vector across the line; items name[:format]; the name on a line first when header.
void List1(const std::string& items, bool header);

// Frequency tables: factor items name[=level names], variate items name[=lower,upper,count].
void Histogram(const std::string& items);

// WriteNumber: the value right-aligned in W characters with D significant digits.
void WriteNumber(int fieldWidth, int digits, double value);

}  // namespace korw::data
