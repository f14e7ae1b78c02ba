// A production index against the tags a program keeps in it.
#include "Mdx.h"

#include <algorithm>
#include <cctype>

namespace dbf {

namespace {

// Expressions are compared as dBASE reads them: case and blanks do not matter.
std::string normal(const std::string& expr) {
    std::string out;
    for (char c : expr)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::vector<std::string> MdxFile::differences(const std::vector<TagSpec>& want) const {
    std::vector<std::string> out;
    for (const TagSpec& w : want) {
        const Tag* t = tag(w.name);
        if (!t) {
            out.push_back("tag " + w.name + " (" + w.expr + ") is missing");
            continue;
        }
        if (normal(t->expr) != normal(w.expr))
            out.push_back("tag " + w.name + " has the expression \"" + t->expr +
                          "\" where the program keeps \"" + w.expr + "\"");
        if (normal(t->filter) != normal(w.filter))
            out.push_back("tag " + w.name + " has the FOR condition \"" + t->filter +
                          "\" where the program keeps \"" + w.filter + "\"");
        if (t->descending != w.descending)
            out.push_back("tag " + w.name + (t->descending ? " descends" : " ascends") +
                          " where the program's " + (w.descending ? "descends" : "ascends"));
        if (t->unique != w.unique)
            out.push_back("tag " + w.name +
                          (t->unique ? " is unique (one record of each key)" : " is not unique") +
                          " where the program's " + (w.unique ? "is unique" : "keeps every record"));
    }
    return out;
}

bool sameKey(const TagSpec& a, const TagSpec& b) {
    return normal(a.expr) == normal(b.expr) && normal(a.filter) == normal(b.filter);
}

} // namespace dbf
