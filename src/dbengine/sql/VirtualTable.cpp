#include "VirtualTable.h"

namespace db::sql {

std::string unquote(const char* arg) {
    std::string s(arg);
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
        const char q = s.front();
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            out.push_back(s[i]);
            if (s[i] == q && s[i + 1] == q) ++i;
        }
        return out;
    }
    return s;
}

int setError(char** target, const char* message) {
    sqlite3_free(*target);
    *target = sqlite3_mprintf("%s", message);
    return SQLITE_ERROR;
}

std::string tableDeclaration(const Columns& columns) {
    std::string ddl = "CREATE TABLE x(";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) ddl += ", ";
        ddl += '"';
        for (char c : columns[i].first)
            ddl += c == '"' ? std::string("\"\"") : std::string(1, c);
        ddl += "\" ";
        ddl += columns[i].second;
    }
    return ddl + ')';
}

} // namespace db::sql
