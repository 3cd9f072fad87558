#include "Database.h"

#include <sqlite3.h>

namespace ntsim::database {

sqlite3* open(const std::string& file, int flags, int busyTimeoutMs, std::string& problem)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        problem = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return db;
}

Identity identify(sqlite3* db)
{
    Identity out;
    sqlite3_stmt* check = nullptr;
    const char query[] = "SELECT (SELECT application_id FROM pragma_application_id), "
                         "(SELECT user_version FROM pragma_user_version), "
                         "(SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_schema "
                         "WHERE name NOT LIKE 'sqlite_%' ORDER BY rowid))";
    if (sqlite3_prepare_v2(db, query, -1, &check, nullptr) != SQLITE_OK || sqlite3_step(check) != SQLITE_ROW) {
        out.error = sqlite3_errmsg(db);
        sqlite3_finalize(check);
        return out;
    }
    out.readable = true;
    out.applicationId = sqlite3_column_int(check, 0);
    out.version = sqlite3_column_int(check, 1);
    if (const unsigned char* tables = sqlite3_column_text(check, 2)) {
        out.hasTables = true;
        out.tables = reinterpret_cast<const char*>(tables);
    }
    sqlite3_finalize(check);
    return out;
}

std::string joined(const char* const* statements, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += (i ? ";" : "") + std::string(statements[i]);
    return text;
}

}
