#include "payload.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace harlo_bench {
namespace {

// Texts as a database hands them over: quotes, backslashes, control
// characters, escaped and raw non-ASCII, and plain ASCII.
constexpr std::array<std::string_view, 8> kNames = {
    R"(Zoë \"the tester\" Müller)",
    R"(O'Brien, Seán)",
    R"(C:\\Users\\harlo\\data.db)",
    R"(Ren\u00e9e Fran\u00e7ois)",
    "日本 株式会社",
    "Łódź → Kraków",
    "plain ascii name",
    R"(tab\tseparated\tvalue)",
};

constexpr std::array<std::string_view, 6> kNotes = {
    R"(first line\nsecond line\nthird line)",
    R"(price: 12 € — \"special\" offer)",
    "naïve café résumé, déjà vu",
    R"(emoji-free but \u00e9\u00e8\u00ea escaped)",
    "→ next step: 確認してください",
    "",
};

constexpr std::array<std::string_view, 5> kTags = {
    R"("new")", R"("vip","eu")", R"("日本","α","β")", R"("a\\b","c\"d")", "",
};

// A small deterministic generator, so each size always gives the same text.
uint64_t next_random(uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return state >> 33;
}

void append_number(std::string& out, const char* format, auto value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, value);
  out.append(text, static_cast<size_t>(n));
}

void append_row(std::string& out, uint64_t index, uint64_t& state) {
  const uint64_t r = next_random(state);
  out += "{\"id\":";
  append_number(out, "%llu", static_cast<unsigned long long>(index + 1));
  out += ",\"name\":\"";
  out += kNames[r % kNames.size()];
  out += "\",\"note\":\"";
  out += kNotes[(r >> 4) % kNotes.size()];
  out += "\",\"balance\":";
  append_number(out, "%lld", -static_cast<long long>(next_random(state) % 1000000));
  out += ",\"rate\":";
  append_number(out, "%.17g", static_cast<double>(next_random(state) % 100000) / 7919.0);
  out += ",\"small\":";
  append_number(out, "%.3e", static_cast<double>(next_random(state) % 1000) * 1.5e-9);
  out += ",\"active\":";
  out += (r & 1) != 0 ? "true" : "false";
  out += ",\"deleted_at\":";
  out += (r & 6) != 0 ? "null" : "\"2024-02-29T23:59:59.999Z\"";
  out += ",\"tags\":[";
  out += kTags[(r >> 8) % kTags.size()];
  out += "],\"address\":{\"street\":\"Rue de l'Église ";
  append_number(out, "%llu", static_cast<unsigned long long>(r % 200));
  out += "\",\"city\":\"Genève\",\"geo\":[";
  append_number(out, "%.6f", 46.2 + static_cast<double>(r % 1000) / 10000.0);
  out += ',';
  append_number(out, "%.6f", 6.1 - static_cast<double>((r >> 10) % 1000) / 10000.0);
  out += "],\"extra\":null},\"history\":[[1,-2,3],[],[{\"k\":\"v\",\"n\":null}]]}";
}

}  // namespace

std::string result_rows(size_t bytes) {
  static constexpr std::string_view kHead =
      R"({"columns":["id","name","note","balance","rate","small","active","deleted_at","tags","address","history"],"rows":[)";
  static constexpr std::string_view kTail = R"(],"row_count":)";
  static constexpr std::string_view kEnd = R"(,"truncated":false})";
  std::string out;
  out.reserve(bytes + 1024);
  out += kHead;
  uint64_t state = 0x853c49e6748fea9bull;
  uint64_t rows = 0;
  // The tail adds at least one digit besides its fixed texts.
  while (out.size() + kTail.size() + 1 + kEnd.size() < bytes || rows == 0) {
    if (rows > 0) out += ',';
    append_row(out, rows, state);
    ++rows;
  }
  out += kTail;
  append_number(out, "%llu", static_cast<unsigned long long>(rows));
  out += kEnd;
  return out;
}

std::string response_line(std::string_view id, std::string_view result) {
  std::string line;
  line.reserve(result.size() + id.size() + 40);
  line += R"({"jsonrpc":"2.0","id":)";
  line += id;
  line += R"(,"result":)";
  line += result;
  line += '}';
  return line;
}

}  // namespace harlo_bench
