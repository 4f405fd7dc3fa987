#include "harlo_mcp_protocol/params.h"

#include <string_view>

namespace harlo_mcp_protocol::catalog {
namespace {

// Field descriptions, shown to the AI client's model. Several records use
// the same text for a field; each text is written here once.

constexpr std::string_view kConnectionIdText = "Connection id from list_connections.";
constexpr std::string_view kSqlConnectionIdText =
    "Connection id from list_connections (an SQL connection).";
constexpr std::string_view kCommandConnectionIdText =
    "Connection id from list_connections (a Redis, Valkey or MongoDB connection).";

constexpr std::string_view kTableText = "Table or view name.";

constexpr std::string_view kDatabaseText =
    "Database to use. On PostgreSQL and SQL Server this is the database (catalog) itself, not a "
    "schema \u2014 put schemas in `schema`. Omit to use the connection's configured database.";
constexpr std::string_view kSearchDatabaseText =
    "Database to search. On PostgreSQL and SQL Server this is the database (catalog) itself, not "
    "a schema. Omit to search the connection's default database on PostgreSQL and SQL Server "
    "(PostgreSQL connects to one database at a time), or up to 50 browsable databases elsewhere.";
constexpr std::string_view kChangeDatabaseText =
    "Database to change. On PostgreSQL and SQL Server this is the database (catalog) itself, not "
    "a schema. Omit to use the connection's default; if the connection has no definite default "
    "the call fails with DATABASE_REQUIRED and lists candidates \u2014 ask the user, do not "
    "guess.";
constexpr std::string_view kCommandDatabaseText =
    "Redis or Valkey: logical database number. MongoDB: database name. Omit to use the "
    "connection's default.";

constexpr std::string_view kSchemaText =
    "PostgreSQL and SQL Server only: schema inside the database. Omit for the default (public / "
    "dbo). Must be omitted on other databases.";
constexpr std::string_view kSearchSchemaText =
    "PostgreSQL and SQL Server only: search only this schema inside the database. Omit to search "
    "every schema of the database. Must be omitted on other databases.";

constexpr std::string_view kPatternText =
    "Text to find in table and view names. Case-insensitive substring; must not be blank.";
constexpr std::string_view kLimitText =
    "Rows to return, at most 50. Can only lower the server-side limit.";
constexpr std::string_view kSelectSqlText =
    "One read-only statement: SELECT, WITH, SHOW, DESCRIBE or EXPLAIN without ANALYZE.";
constexpr std::string_view kMaxRowsText =
    "Maximum rows to return. Can only lower the server-side limit.";
constexpr std::string_view kExplainSqlText =
    "One SELECT-style query to plan. It is not executed; only its plan is returned.";

constexpr std::string_view kCommandText =
    "Redis or Valkey: one redis-cli line, e.g. `GET user:1` or `HGETALL \"cart:9\"`. Quotes and "
    "escapes work as in redis-cli. MongoDB: one mongosh statement, e.g. "
    "`db.users.find({age: {$gt: 30}}).limit(10)`, with `database` as the database.";
constexpr std::string_view kCommandReasonText =
    "Why the command is needed. Shown to the user when a write needs approval.";
constexpr std::string_view kCommandWaitText =
    "Seconds to wait for the user's approval of a write, at most 60. Default 30.";

constexpr std::string_view kStatementsText =
    "One write statement per entry, run in the order given.";
constexpr std::string_view kChangeReasonText =
    "Why the change is needed. Required; shown to the user when they review the change.";
constexpr std::string_view kChangeWaitText =
    "Seconds to wait for the user's decision, at most 60. Default 30.";

constexpr std::string_view kProposalIdText =
    "The proposal_id returned by propose_change or run_command.";
constexpr std::string_view kStatusWaitText =
    "Seconds to wait for a final status, at most 60. Default 30.";

// The field tables, fields in declaration order.

constexpr ParamsField kDescribeTableFields[] = {
    field(&DescribeTableParams::connection_id, "connection_id", kConnectionIdText),
    field(&DescribeTableParams::table, "table", kTableText),
    field(&DescribeTableParams::database, "database", kDatabaseText),
    field(&DescribeTableParams::schema, "schema", kSchemaText),
};

constexpr ParamsField kSearchObjectsFields[] = {
    field(&SearchObjectsParams::connection_id, "connection_id", kConnectionIdText),
    field(&SearchObjectsParams::pattern, "pattern", kPatternText),
    field(&SearchObjectsParams::database, "database", kSearchDatabaseText),
    field(&SearchObjectsParams::schema, "schema", kSearchSchemaText),
};

constexpr ParamsField kSampleRowsFields[] = {
    field(&SampleRowsParams::connection_id, "connection_id", kConnectionIdText),
    field(&SampleRowsParams::table, "table", kTableText),
    field(&SampleRowsParams::database, "database", kDatabaseText),
    field(&SampleRowsParams::schema, "schema", kSchemaText),
    field(&SampleRowsParams::limit, "limit", kLimitText),
};

constexpr ParamsField kRunSelectFields[] = {
    field(&RunSelectParams::connection_id, "connection_id", kConnectionIdText),
    field(&RunSelectParams::sql, "sql", kSelectSqlText),
    field(&RunSelectParams::database, "database", kDatabaseText),
    field(&RunSelectParams::schema, "schema", kSchemaText),
    field(&RunSelectParams::max_rows, "max_rows", kMaxRowsText),
};

constexpr ParamsField kExplainFields[] = {
    field(&ExplainParams::connection_id, "connection_id", kConnectionIdText),
    field(&ExplainParams::sql, "sql", kExplainSqlText),
    field(&ExplainParams::database, "database", kDatabaseText),
    field(&ExplainParams::schema, "schema", kSchemaText),
};

constexpr ParamsField kListTablesFields[] = {
    field(&ListTablesParams::connection_id, "connection_id", kConnectionIdText),
    field(&ListTablesParams::database, "database", kDatabaseText),
    field(&ListTablesParams::schema, "schema", kSchemaText),
};

constexpr ParamsField kRunCommandFields[] = {
    field(&RunCommandParams::connection_id, "connection_id", kCommandConnectionIdText),
    field(&RunCommandParams::command, "command", kCommandText),
    field(&RunCommandParams::database, "database", kCommandDatabaseText),
    field(&RunCommandParams::reason, "reason", kCommandReasonText),
    field(&RunCommandParams::wait_seconds, "wait_seconds", kCommandWaitText),
};

constexpr ParamsField kProposeChangeFields[] = {
    field(&ProposeChangeParams::connection_id, "connection_id", kSqlConnectionIdText),
    field(&ProposeChangeParams::statements, "statements", kStatementsText),
    field(&ProposeChangeParams::reason, "reason", kChangeReasonText),
    field(&ProposeChangeParams::database, "database", kChangeDatabaseText),
    field(&ProposeChangeParams::schema, "schema", kSchemaText),
    field(&ProposeChangeParams::wait_seconds, "wait_seconds", kChangeWaitText),
};

constexpr ParamsField kGetChangeStatusFields[] = {
    field(&GetChangeStatusParams::proposal_id, "proposal_id", kProposalIdText),
    field(&GetChangeStatusParams::wait_seconds, "wait_seconds", kStatusWaitText),
};

}  // namespace

const ParamsTable DescribeTableParams::kTable = {"DescribeTableParams", kDescribeTableFields};
const ParamsTable SearchObjectsParams::kTable = {"SearchObjectsParams", kSearchObjectsFields};
const ParamsTable SampleRowsParams::kTable = {"SampleRowsParams", kSampleRowsFields};
const ParamsTable RunSelectParams::kTable = {"RunSelectParams", kRunSelectFields};
const ParamsTable ExplainParams::kTable = {"ExplainParams", kExplainFields};
const ParamsTable ListTablesParams::kTable = {"ListTablesParams", kListTablesFields};
const ParamsTable RunCommandParams::kTable = {"RunCommandParams", kRunCommandFields};
const ParamsTable ProposeChangeParams::kTable = {"ProposeChangeParams", kProposeChangeFields};
const ParamsTable GetChangeStatusParams::kTable = {"GetChangeStatusParams", kGetChangeStatusFields};

}  // namespace harlo_mcp_protocol::catalog
