#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace db::sql {

// An argument of CREATE VIRTUAL TABLE ... USING m('...') as written: quotes removed, doubled
// ones made single.
std::string unquote(const char* arg);
int setError(char** target, const char* message);
// The column names and SQLite types of a table, as sqlite3_declare_vtab takes them.
using Columns = std::vector<std::pair<std::string, const char*>>;
std::string tableDeclaration(const Columns& columns);

// A read-only virtual-table module over the program's tables, whatever keeps them. T (a
// sqlite3_vtab) is made from the module's arguments, and C (a sqlite3_vtab_cursor) scans it:
//   T: kArguments, kUsage; void open(args); Columns columns() const; double rows() const
//   C: void start(T&, uint64_t used); void next(T&); bool atEnd(const T&) const; sqlite3_int64 rowid(T&)
//   const;
//      void column(T&, sqlite3_context*, int i)
// used has bit i set when the statement reads column i (bit 63: any column from 63 on).
// What either throws reaches SQLite as the statement's error.
template <typename T, typename C> class ReadOnlyModule {
public:
    static int install(sqlite3* db, const char* name) {
        return sqlite3_create_module_v2(db, name, &kModule, nullptr, nullptr);
    }

private:
    static T& table(sqlite3_vtab_cursor* cur) { return *static_cast<T*>(cur->pVtab); }
    static C& cursor(sqlite3_vtab_cursor* cur) { return *static_cast<C*>(cur); }

    static int connect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out,
                       char** err) {
        if (argc != 3 + T::kArguments) return setError(err, T::kUsage);
        try {
            auto t = std::make_unique<T>();
            std::vector<std::string> args;
            for (int i = 3; i < argc; ++i)
                args.push_back(unquote(argv[i]));
            t->open(args);
            if (sqlite3_declare_vtab(db, tableDeclaration(t->columns()).c_str()) != SQLITE_OK)
                return setError(err, sqlite3_errmsg(db));
            *out = t.release();
            return SQLITE_OK;
        } catch (const std::exception& e) {
            return setError(err, e.what());
        }
    }
    // Distinct from connect so the module has no eponymous table: only the tables we register
    // are visible.
    static int create(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
                      char** err) {
        return connect(db, aux, argc, argv, out, err);
    }
    static int disconnect(sqlite3_vtab* vtab) {
        delete static_cast<T*>(vtab);
        return SQLITE_OK;
    }
    static int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
        // Always a full scan; SQLite evaluates the WHERE clause itself.
        const double rows = static_cast<T*>(vtab)->rows();
        info->idxNum = 0;
        info->estimatedCost = rows + 1;
        info->estimatedRows = sqlite3_int64(rows) + 1;
        info->idxStr = sqlite3_mprintf("%llx", static_cast<unsigned long long>(info->colUsed));
        info->needToFreeIdxStr = 1;
        return SQLITE_OK;
    }
    static int open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
        *out = new C();
        return SQLITE_OK;
    }
    static int close(sqlite3_vtab_cursor* cur) {
        delete static_cast<C*>(cur);
        return SQLITE_OK;
    }
    static int filter(sqlite3_vtab_cursor* cur, int, const char* used, int, sqlite3_value**) {
        try {
            cursor(cur).start(table(cur), used ? std::strtoull(used, nullptr, 16) : ~uint64_t(0));
        } catch (const std::exception& e) {
            return setError(&table(cur).zErrMsg, e.what());
        }
        return SQLITE_OK;
    }
    static int next(sqlite3_vtab_cursor* cur) {
        try {
            cursor(cur).next(table(cur));
        } catch (const std::exception& e) {
            return setError(&table(cur).zErrMsg, e.what());
        }
        return SQLITE_OK;
    }
    static int atEnd(sqlite3_vtab_cursor* cur) { return cursor(cur).atEnd(table(cur)) ? 1 : 0; }
    static int rowid(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
        try {
            *out = cursor(cur).rowid(table(cur));
        } catch (const std::exception& e) {
            return setError(&table(cur).zErrMsg, e.what());
        }
        return SQLITE_OK;
    }
    static int column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int i) {
        try {
            cursor(cur).column(table(cur), ctx, i);
        } catch (const std::exception& e) {
            sqlite3_result_error(ctx, e.what(), -1);
            return SQLITE_ERROR;
        }
        return SQLITE_OK;
    }

    static inline const sqlite3_module kModule = {
        /* iVersion */ 1,
        /* xCreate */ create,
        /* xConnect */ connect,
        /* xBestIndex */ bestIndex,
        /* xDisconnect */ disconnect,
        /* xDestroy */ disconnect,
        /* xOpen */ open,
        /* xClose */ close,
        /* xFilter */ filter,
        /* xNext */ next,
        /* xEof */ atEnd,
        /* xColumn */ column,
        /* xRowid */ rowid,
        /* xUpdate */ nullptr, // no writes through SQL
        /* xBegin */ nullptr,
        /* xSync */ nullptr,
        /* xCommit */ nullptr,
        /* xRollback */ nullptr,
        /* xFindFunction */ nullptr,
        /* xRename */ nullptr,
        /* xSavepoint */ nullptr,
        /* xRelease */ nullptr,
        /* xRollbackTo */ nullptr,
        /* xShadowName */ nullptr,
    };
};

} // namespace db::sql
