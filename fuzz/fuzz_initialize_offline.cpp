// Reads the input as initialize parameters and answers it as a line from
// the AI client while the app is closed. Checks that
//   - read_initialize_request_params, given whatever read_json makes of the
//     input, either reads a record whose protocol version is the one in the
//     value, or fails with a non-empty UTF-8 message;
//   - offline::answer, asked for what classify takes for a request, answers
//     exactly the requests (an object with an "id",
//     null included, and a string "method") for "ping", "initialize" and
//     "tools/list", and declines everything else;
//   - an answer is one line of JSON: {"jsonrpc":"2.0","id":<the request's
//     id>,"result"|"error":...}, in that order, with an empty result for
//     "ping" and error codes -32602 or -32022 for "initialize" only;
//   - the offline memory changes only with a successful "initialize", and
//     then holds the version that answer carries.
// One OfflineMemory lasts for the whole process, as it lasts for a session,
// so an "initialize" found earlier shapes later "tools/list" answers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz_check.h"
#include "harlo_mcp/offline.h"
#include "mcp_wire/initialize.h"
#include "mcp_wire/json.h"
#include "mcp_wire/response.h"
#include "mcp_wire/utf8.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using mcp_wire::Json;

harlo_mcp::offline::OfflineMemory memory;

void check_params_reader(const Json& params) {
  const mcp_wire::InitializeParamsRead read = mcp_wire::read_initialize_request_params(params);
  if (const auto* message = std::get_if<std::string>(&read)) {
    if (message->empty() || !mcp_wire::is_valid_utf8(*message)) {
      fail("read_initialize_request_params failed with an empty or non-UTF-8 message",
           "message: " + printable(*message) +
               "\nparams:  " + printable(mcp_wire::write_json(params)));
    }
    return;
  }
  // A record was read, so the version is a string at its name or position.
  const auto& record = std::get<mcp_wire::InitializeRequestParams>(read);
  const Json& version = params.is_object() ? params.at("protocolVersion") : params.at(1);
  if (!version.is_string() || version.get_ref<const std::string&>() != record.protocol_version) {
    fail("read_initialize_request_params read another protocol version",
         "record:  " + printable(record.protocol_version) +
             "\nparams:  " + printable(mcp_wire::write_json(params)));
  }
}

// The method of a request that offline::answer must answer, or nothing.
std::optional<std::string> answerable_method(const std::optional<Json>& request) {
  if (!request || !request->is_object() || !request->contains("id")) return std::nullopt;
  const auto method = request->find("method");
  if (method == request->end() || !method->is_string()) return std::nullopt;
  const auto& name = method->get_ref<const std::string&>();
  if (name != "ping" && name != "initialize" && name != "tools/list") return std::nullopt;
  return name;
}

// Stops on a broken property of an answer, showing the request and the answer.
[[noreturn]] void fail_answer(std::string_view what, std::string_view line,
                              std::string_view answer) {
  fail(what, "request: " + printable(line) + "\nanswer:  " + printable(answer));
}

void check_answer(std::string_view line, const Json& request, const std::string& method,
                  const std::string& answer, const std::optional<std::string>& memory_before) {
  if (answer.find('\n') != std::string::npos || !mcp_wire::is_valid_utf8(answer)) {
    fail_answer("the answer is not one UTF-8 line", line, answer);
  }
  const std::optional<Json> reply = mcp_wire::read_json(answer);
  if (!reply || !reply->is_object() || reply->size() != 3)
    fail_answer("the answer is not a response", line, answer);
  auto member = reply->begin();
  if (member.key() != "jsonrpc" || *member != "2.0")
    fail_answer("the answer's first member is not \"jsonrpc\":\"2.0\"", line, answer);
  ++member;
  if (member.key() != "id" || !mcp_wire::json_equal(*member, request.at("id"))) {
    fail_answer("the answer's second member is not the request's id", line, answer);
  }
  ++member;
  const bool success = member.key() == "result";
  if (!success && member.key() != "error")
    fail_answer("the answer has neither \"result\" nor \"error\"", line, answer);
  const Json& body = *member;

  if (method == "ping" && body != Json::object())
    fail_answer("ping is not answered with {}", line, answer);
  if (method == "tools/list" && !(success && body.contains("tools"))) {
    fail_answer("tools/list is not answered with the tools", line, answer);
  }
  if (!success) {
    const auto code = body.find("code");
    if (method != "initialize" || code == body.end() ||
        (*code != mcp_wire::kInvalidParams && *code != mcp_wire::kUnsupportedProtocolVersion)) {
      fail_answer("an error answer other than initialize's -32602 or -32022", line, answer);
    }
  }

  if (method == "initialize" && success) {
    const auto version = body.find("protocolVersion");
    if (version == body.end() || !version->is_string() ||
        memory.protocol_version != version->get_ref<const std::string&>()) {
      fail_answer("the offline memory does not hold the version initialize answered with", line,
                  answer);
    }
  } else if (memory.protocol_version != memory_before) {
    fail_answer("the offline memory changed without a successful initialize", line, answer);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::optional<Json> request = mcp_wire::read_json(line);
  if (request) check_params_reader(*request);

  const std::optional<std::string> memory_before = memory.protocol_version;
  // As the session asks: only what classifies as a request.
  const harlo_mcp::Incoming incoming = harlo_mcp::classify(line);
  const auto* classified = std::get_if<harlo_mcp::Request>(&incoming);
  const std::optional<std::string> answer =
      classified != nullptr ? harlo_mcp::offline::answer(*classified, line, memory) : std::nullopt;
  const std::optional<std::string> method = answerable_method(request);
  if (answer.has_value() != method.has_value()) {
    fail(answer ? "offline::answer answered a line it must decline"
                : "offline::answer declined a ping, initialize or tools/list request",
         "line: " + printable(line));
  }
  if (!answer && memory.protocol_version != memory_before) {
    fail("offline::answer declined a line but changed the offline memory",
         "line: " + printable(line));
  }
  if (answer) check_answer(line, *request, *method, *answer, memory_before);
  return 0;
}
