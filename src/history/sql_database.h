#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace sentrel {

// What an SQLite result code means to the history.
enum class SqlFault {
  None,
  CannotWrite,  // disk full, I/O error, read-only file: pause and retry later
  Damaged,      // not a database, or a damaged one: move it aside
  Busy,         // another connection holds the lock: try again at the next round
  Other,
};
SqlFault FaultOf(int code);

// One prepared statement, finalized with the object. Binding indexes are
// 1-based, columns 0-based, as in SQLite.
class SqlStatement {
 public:
  SqlStatement() = default;
  ~SqlStatement();
  SqlStatement(SqlStatement&& other) noexcept;
  SqlStatement& operator=(SqlStatement&& other) noexcept;
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  SqlStatement& Bind(int index, int64_t value);
  SqlStatement& Bind(int index, const std::string& text);
  SqlStatement& Bind(int index, std::optional<int64_t> value);
  // SQLITE_ROW while rows come, then SQLITE_DONE or an error code.
  int Step();
  // Steps to the end, then resets and clears the bindings; SQLITE_OK when
  // the statement ran through.
  int Run();
  void Reset();

  int64_t Int(int column) const;
  std::optional<int64_t> MaybeInt(int column) const;
  std::string Text(int column) const;

 private:
  friend class SqlDatabase;
  explicit SqlStatement(sqlite3_stmt* statement) : statement_(statement) {}
  sqlite3_stmt* statement_ = nullptr;
};

// One connection to a database file, closed with the object.
class SqlDatabase {
 public:
  SqlDatabase() = default;
  ~SqlDatabase();
  SqlDatabase(const SqlDatabase&) = delete;
  SqlDatabase& operator=(const SqlDatabase&) = delete;

  // Opens `path` for reading and writing (creating it) or read-only. The
  // connection waits up to `busyMs` for another connection's lock.
  int Open(const std::string& path, bool readOnly, int busyMs);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }

  int Exec(const std::string& sql);
  int Prepare(const std::string& sql, SqlStatement& statement);
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int64_t Changes() const;
  int64_t LastInsertId() const;
  bool InTransaction() const;
  // The connection's last error in words (empty when closed).
  std::string Error() const;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace sentrel
