#include "history/sql_database.h"

#include <sqlite3.h>

#include <utility>

namespace sentrel {

SqlFault FaultOf(int code) {
  switch (code & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return SqlFault::None;
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      return SqlFault::CannotWrite;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return SqlFault::Damaged;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return SqlFault::Busy;
    default:
      return SqlFault::Other;
  }
}

SqlStatement::~SqlStatement() { sqlite3_finalize(statement_); }

SqlStatement::SqlStatement(SqlStatement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

SqlStatement& SqlStatement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

SqlStatement& SqlStatement::Bind(int index, const std::string& text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

SqlStatement& SqlStatement::Bind(int index, std::optional<int64_t> value) {
  if (value) return Bind(index, *value);
  sqlite3_bind_null(statement_, index);
  return *this;
}

int SqlStatement::Step() { return sqlite3_step(statement_); }

int SqlStatement::Run() {
  int code = SQLITE_ROW;
  while (code == SQLITE_ROW) code = sqlite3_step(statement_);
  Reset();
  return code == SQLITE_DONE ? SQLITE_OK : code;
}

void SqlStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

int64_t SqlStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<int64_t> SqlStatement::MaybeInt(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Int(column);
}

std::string SqlStatement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

SqlDatabase::~SqlDatabase() { Close(); }

int SqlDatabase::Open(const std::string& path, bool readOnly, int busyMs) {
  Close();
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    // Even a failed open hands back a handle that must be closed.
    sqlite3_close(db_);
    db_ = nullptr;
    return code;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyMs);
  return SQLITE_OK;
}

void SqlDatabase::Close() {
  // Statements belong to their owners, which finalize them first; a
  // connection with statements left would stay open (sqlite3_close_v2).
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int SqlDatabase::Exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
}

int SqlDatabase::Prepare(const std::string& sql, SqlStatement& statement) {
  sqlite3_stmt* raw = nullptr;
  const int code = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  statement = SqlStatement(raw);
  return code;
}

int64_t SqlDatabase::Changes() const { return sqlite3_changes64(db_); }

int64_t SqlDatabase::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

bool SqlDatabase::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

std::string SqlDatabase::Error() const { return db_ ? sqlite3_errmsg(db_) : std::string(); }

}  // namespace sentrel
