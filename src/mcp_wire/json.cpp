#include "mcp_wire/json.h"

#include <functional>
#include <vector>

namespace mcp_wire {
namespace {

// Whether the brackets of `text`, outside string literals, ever nest deeper
// than kMaxNesting. For a valid JSON text this is exactly its nesting depth;
// for an invalid one the answer does not matter, the parse fails anyway.
bool nests_too_deep(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '[':
      case '{':
        if (++depth > kMaxNesting) return true;
        break;
      case ']':
      case '}':
        --depth;
        break;
      default:
        break;
    }
  }
  return false;
}

// The library reads the integer -0 as a signed zero, which is written back
// as 0 and then reads as unsigned: an id would change its kind on the way
// through. -0 is not negative, so it is the unsigned zero from the start.
void make_negative_zeros_unsigned(Json& root) {
  std::vector<Json*> pending = {&root};
  while (!pending.empty()) {
    Json& value = *pending.back();
    pending.pop_back();
    if (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() == 0) {
      value = Json(uint64_t{0});
    } else if (value.is_structured()) {
      for (Json& element : value) pending.push_back(&element);
    }
  }
}

}  // namespace

std::optional<Json> read_json(std::string_view text) {
  // The library skips a leading byte-order mark; to JSON it is not whitespace.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  // The library takes a NUL byte for the end of its input and would accept
  // whatever follows; in JSON a NUL is never valid, inside strings or out.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (nests_too_deep(text)) return std::nullopt;
  Json value = Json::parse(text.begin(), text.end(), /*cb=*/nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  if (text.find("-0") != std::string_view::npos) make_negative_zeros_unsigned(value);
  return value;
}

std::string write_json(const Json& value) {
  // Strings in a Json come from validated UTF-8 or from the program's own
  // texts; `replace` keeps dump() from ever throwing all the same.
  return value.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

bool json_equal(const Json& a, const Json& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return true;
    case Json::value_t::boolean:
      return a.get_ref<const Json::boolean_t&>() == b.get_ref<const Json::boolean_t&>();
    case Json::value_t::number_unsigned:
      return a.get_ref<const Json::number_unsigned_t&>() ==
             b.get_ref<const Json::number_unsigned_t&>();
    case Json::value_t::number_integer:
      return a.get_ref<const Json::number_integer_t&>() ==
             b.get_ref<const Json::number_integer_t&>();
    case Json::value_t::number_float:
      return a.get_ref<const Json::number_float_t&>() == b.get_ref<const Json::number_float_t&>();
    case Json::value_t::string:
      return a.get_ref<const Json::string_t&>() == b.get_ref<const Json::string_t&>();
    case Json::value_t::binary:
      return a.get_binary() == b.get_binary();
    case Json::value_t::array: {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i) {
        if (!json_equal(a[i], b[i])) return false;
      }
      return true;
    }
    case Json::value_t::object: {
      if (a.size() != b.size()) return false;
      for (const auto& [name, value] : a.items()) {
        const auto other = b.find(name);
        if (other == b.end() || !json_equal(value, *other)) return false;
      }
      return true;
    }
  }
  return false;
}

size_t json_hash(const Json& value) {
  auto mix = [](size_t seed, size_t h) {
    return seed ^ (h + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
  };
  size_t seed = static_cast<size_t>(value.type());
  switch (value.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return seed;
    case Json::value_t::boolean:
      return mix(seed, value.get<bool>() ? 1 : 0);
    case Json::value_t::number_unsigned:
      return mix(seed, std::hash<uint64_t>{}(value.get<uint64_t>()));
    case Json::value_t::number_integer:
      return mix(seed, std::hash<int64_t>{}(value.get<int64_t>()));
    case Json::value_t::number_float: {
      const double number = value.get<double>();
      return mix(seed, std::hash<double>{}(number == 0.0 ? 0.0 : number));  // -0.0 == 0.0
    }
    case Json::value_t::string:
      return mix(seed, std::hash<std::string>{}(value.get_ref<const Json::string_t&>()));
    case Json::value_t::binary:
      return seed;
    case Json::value_t::array:
      for (const Json& element : value) seed = mix(seed, json_hash(element));
      return seed;
    case Json::value_t::object: {
      size_t members = 0;  // a sum, so member order does not matter
      for (const auto& [name, member] : value.items()) {
        members += mix(std::hash<std::string>{}(name), json_hash(member));
      }
      return mix(seed, members);
    }
  }
  return seed;
}

}  // namespace mcp_wire
