// The two directions of blobfile.
#pragma once

#include <string>

#include "vela/odbc/query.h"
#include "vela/result.h"

namespace vela::blobfile {

struct download_options {
  bool any_place = false;  // -P: absolute names and names with ".." are written too
  std::wstring folder;     // -C: the folder relative names are written under
};

// SELECT: each row's first binary or long column into the file its first text column names.
// A row whose name is unusable or outside the folder is skipped; skipped rows end the run
// with code 123 once all rows ran.
result download(odbc::query& q, const download_options& options);
// INSERT or UPDATE: the file as the statement's one parameter. A statement that changed no
// row has printed so and returns code 1168 (not found).
result upload(odbc::query& q, const std::wstring& path);

// The statement kind by its first six characters: "select", "insert", "update" or empty.
std::wstring statement_kind(const std::wstring& statement);

} // namespace vela::blobfile
