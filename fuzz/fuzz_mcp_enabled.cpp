// Writes the input as the whole of a preferences file and asks
// mcp_enabled about it. Checks that the answer is true exactly when the
// input reads by read_json as an object whose last "mcp" member is an
// enabled record, worked out here: an object whose "enabled" is true and
// whose "max_rows" and "timeout_secs", where present, are unsigned
// integers; or an array of one to three elements holding true and then
// such integers.
//
// The file is created once per process in $TMPDIR (else /tmp), rewritten
// for every input and removed when the process exits normally.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "harlo_mcp_protocol/prefs.h"
#include "mcp_wire/json.h"

namespace {

using harlo_fuzz::fail;
using harlo_fuzz::printable;
using mcp_wire::Json;

struct PreferencesFile {
  std::string path;
  int fd = -1;
};

PreferencesFile* preferences_file = nullptr;

void remove_preferences_file() {
  close(preferences_file->fd);
  unlink(preferences_file->path.c_str());
}

const PreferencesFile& open_preferences_file() {
  if (preferences_file != nullptr) return *preferences_file;
  const char* temp = std::getenv("TMPDIR");
  std::string path = (temp != nullptr && *temp != '\0') ? temp : "/tmp";
  path += "/harlo-fuzz-preferences-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) fail("cannot create the preferences file", path + ": " + std::strerror(errno));
  preferences_file = new PreferencesFile{path, fd};
  std::atexit(remove_preferences_file);
  return *preferences_file;
}

void rewrite(const PreferencesFile& file, std::string_view contents) {
  if (ftruncate(file.fd, 0) != 0)
    fail("cannot truncate the preferences file", std::strerror(errno));
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n =
        pwrite(file.fd, contents.data() + done, contents.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("cannot write the preferences file", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

bool is_enabled_record(const Json& record) {
  if (record.is_object()) {
    bool enabled = false;
    for (const auto& [name, field] : record.items()) {
      if (name == "enabled") {
        if (!field.is_boolean()) return false;
        enabled = field.get<bool>();
      } else if (name == "max_rows" || name == "timeout_secs") {
        if (!field.is_number_unsigned()) return false;
      }
    }
    return enabled;
  }
  if (record.is_array()) {
    if (record.empty() || record.size() > 3) return false;
    if (!record[0].is_boolean() || !record[0].get<bool>()) return false;
    for (size_t i = 1; i < record.size(); ++i) {
      if (!record[i].is_number_unsigned()) return false;
    }
    return true;
  }
  return false;
}

bool reference_enabled(std::string_view contents) {
  const std::optional<Json> document = mcp_wire::read_json(contents);
  if (!document || !document->is_object()) return false;
  const Json* record = nullptr;
  for (const auto& [name, member] : document->items()) {
    if (name == "mcp") record = &member;
  }
  return record != nullptr && is_enabled_record(*record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  const PreferencesFile& file = open_preferences_file();
  rewrite(file, contents);
  const bool enabled = harlo_mcp_protocol::prefs::mcp_enabled(file.path);
  const bool want = reference_enabled(contents);
  if (enabled != want) {
    fail(enabled ? "mcp_enabled says true for a document without an enabled \"mcp\" record"
                 : "mcp_enabled says false for a document with an enabled \"mcp\" record",
         "preferences: " + printable(contents));
  }
  return 0;
}
