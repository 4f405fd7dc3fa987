// The argument records of the catalog's tools. The desktop app reads tool
// arguments into them; the bridge needs only their input schemas, which
// input_schema<Record>() derives from each record's field table (kTable).
// The tables, with the field descriptions, are in params.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harlo_mcp_protocol/schema.h"

namespace harlo_mcp_protocol::catalog {

struct DescribeTableParams {
  std::string connection_id;
  std::string table;
  std::optional<std::string> database;
  std::optional<std::string> schema;

  static const ParamsTable kTable;
};

struct SearchObjectsParams {
  std::string connection_id;
  std::string pattern;
  std::optional<std::string> database;
  std::optional<std::string> schema;

  static const ParamsTable kTable;
};

struct SampleRowsParams {
  std::string connection_id;
  std::string table;
  std::optional<std::string> database;
  std::optional<std::string> schema;
  std::optional<uint64_t> limit;

  static const ParamsTable kTable;
};

struct RunSelectParams {
  std::string connection_id;
  std::string sql;
  std::optional<std::string> database;
  std::optional<std::string> schema;
  std::optional<uint64_t> max_rows;

  static const ParamsTable kTable;
};

struct ExplainParams {
  std::string connection_id;
  std::string sql;
  std::optional<std::string> database;
  std::optional<std::string> schema;

  static const ParamsTable kTable;
};

struct ListTablesParams {
  std::string connection_id;
  std::optional<std::string> database;
  std::optional<std::string> schema;

  static const ParamsTable kTable;
};

struct RunCommandParams {
  std::string connection_id;
  std::string command;
  std::optional<std::string> database;  // text, even for a Redis database number
  std::optional<std::string> reason;
  std::optional<uint64_t> wait_seconds;

  static const ParamsTable kTable;
};

struct ProposeChangeParams {
  std::string connection_id;
  std::vector<std::string> statements;
  std::string reason;
  std::optional<std::string> database;
  std::optional<std::string> schema;
  std::optional<uint64_t> wait_seconds;

  static const ParamsTable kTable;
};

struct GetChangeStatusParams {
  uint64_t proposal_id = 0;
  std::optional<uint64_t> wait_seconds;

  static const ParamsTable kTable;
};

}  // namespace harlo_mcp_protocol::catalog
