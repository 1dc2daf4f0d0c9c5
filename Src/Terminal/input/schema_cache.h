// What Tab completion knows of the connected database's schema: its tables and views, its
// schemas and the columns of the tables asked for, each fetched when first needed and kept
// until the schema may have changed (DDL, another connection, \refresh). A catalog call that
// fails or takes longer than a moment gives nothing, and is not asked again meanwhile.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vela/odbc/connection.h"
#include "vela/odbc/connection_info.h"
#include "vela/result.h"

namespace vela::terminal {

class schema_cache {
 public:
  // The columns of a table named as typed ([schema.]table), as \d finds them.
  using column_lookup = std::function<result(odbc::connection&, const std::wstring&, std::vector<odbc::column_info>&)>;
  schema_cache(odbc::connection& connection, column_lookup find_columns)
      : connection_(connection), find_columns_(std::move(find_columns)) {}

  // The user's tables and views (the database's own left out).
  const std::vector<odbc::table_info>& tables();
  // The names of the tables and views of one schema (MySQL: database), the database's own too.
  const std::vector<std::wstring>& tables_in(const std::wstring& schema);
  // The user's schemas (MySQL: databases).
  const std::vector<std::wstring>& schemas();
  const std::vector<std::wstring>& columns(const std::wstring& table);
  // Everything is fetched again when next needed.
  void clear();

 private:
  // One catalog call, cancelled when it has not ended in time; false when it failed. A
  // failure that came at once (a transaction that failed, which ends) is not kept: again_
  // tells so, and the next Tab asks again.
  bool bounded(const std::function<result()>& call);

  odbc::connection& connection_;
  column_lookup find_columns_;
  bool again_ = false;
  std::optional<std::vector<odbc::table_info>> tables_;
  std::optional<std::vector<std::wstring>> schemas_;
  std::map<std::wstring, std::vector<std::wstring>> schema_tables_;  // by schema in lower case
  std::map<std::wstring, std::vector<std::wstring>> columns_;        // by table as typed, in lower case
};

} // namespace vela::terminal
