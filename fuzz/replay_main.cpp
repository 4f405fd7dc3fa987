// Runs a fuzz target over stored inputs where there is no libFuzzer to do it
// (zig, Apple's clang): links with the target's LLVMFuzzerTestOneInput and
// calls it once per input, so the checks of the target run on every seed,
// kept regression input and grown corpus, on any platform the code builds
// for.
//
// Usage: <target>_replay <file or directory>...
//
// A file is one input; a directory gives one input per regular file in it,
// in the order of their names. Its hidden files (.gitkeep, which keeps an
// empty directory in git) are not inputs, and it is not descended into.
// Before each input its path goes to standard error as "Running: <path>", so
// that when a check fails and the run aborts the last such line names the
// input. At the end "<n> inputs replayed" goes to standard output; the exit
// status is 1 when any file or directory could not be read.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// The whole of the file at `path` into `contents`; false, with the reason
// written to standard error, when it cannot be read.
bool read_file(const std::string& path, std::string& contents) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "replay: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  contents.clear();
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, count);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "replay: cannot read %s: %s\n", path.c_str(), std::strerror(error));
    return false;
  }
  return true;
}

// The inputs named by one argument, in the order they are replayed; false
// when it is a directory that cannot be listed.
bool inputs_of(const std::string& argument, std::vector<std::string>& inputs) {
  std::error_code error;
  if (!fs::is_directory(argument, error)) {
    // Not a directory, or not there: reading it says which.
    inputs.push_back(argument);
    return true;
  }
  std::vector<fs::path> files;
  fs::directory_iterator it(argument, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code status_error;
    if (it->is_regular_file(status_error)) files.push_back(it->path());
  }
  if (error) {
    std::fprintf(stderr, "replay: cannot read the directory %s: %s\n", argument.c_str(),
                 error.message().c_str());
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) inputs.push_back(file.string());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <file or directory>...\n", argv[0]);
    return 2;
  }
  bool all_read = true;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) all_read = inputs_of(argv[i], inputs) && all_read;

  size_t replayed = 0;
  std::string contents;
  for (const std::string& path : inputs) {
    if (!read_file(path, contents)) {
      all_read = false;
      continue;
    }
    std::fprintf(stderr, "Running: %s\n", path.c_str());
    std::fflush(stderr);
    // A copy of exactly the input's size, as libFuzzer passes it, so that a
    // read past its end is a read past a heap block under a sanitizer
    // rather than into the string's spare capacity.
    const auto data = std::make_unique<uint8_t[]>(contents.size());
    std::copy(contents.begin(), contents.end(), data.get());
    LLVMFuzzerTestOneInput(data.get(), contents.size());
    ++replayed;
  }
  std::printf("%zu inputs replayed\n", replayed);
  return all_read ? 0 : 1;
}
