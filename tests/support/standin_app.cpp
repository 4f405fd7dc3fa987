#include "support/standin_app.h"

#include <signal.h>

#include <string_view>
#include <thread>
#include <utility>

namespace harlo_test {
namespace {

constexpr std::string_view kRecordFileName = "record.txt";
constexpr std::string_view kListeningPrefix = "listening ";

// How often wait_for_recorded_lines reads the record file again.
constexpr std::chrono::milliseconds kRecordPollInterval{5};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  return lines;
}

}  // namespace

StandinApp::StandinApp(TempDir work_dir, Child child, std::string socket_path)
    : work_dir_(std::move(work_dir)),
      child_(std::move(child)),
      socket_path_(std::move(socket_path)) {}

std::optional<StandinApp> StandinApp::start(const StandinConfig& config, std::string* error,
                                            Deadline deadline) {
  const auto fail = [error](std::string why) -> std::optional<StandinApp> {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  TempDir work_dir;
  ChildOptions options;
  options.argv = {kStandinAppBinary, "--record", work_dir.file(kRecordFileName)};
  options.argv.insert(options.argv.end(), config.args.begin(), config.args.end());
  options.env = sanitizer_env();
  options.env.push_back("HOME=" + config.home);
  if (config.tmpdir) options.env.push_back("TMPDIR=" + *config.tmpdir);
  options.stdin_mode = StdinMode::kDevNull;

  std::string spawn_error;
  std::optional<Child> child = Child::spawn(options, &spawn_error);
  if (!child) return fail(spawn_error);
  const std::optional<std::string> line = child->read_line(deadline);
  if (!line || line->rfind(kListeningPrefix, 0) != 0) {
    std::string why = "harlo-standin-app did not start listening";
    if (line) why += " (stdout: " + *line + ")";
    return fail(why + "; stderr: " + child->stderr_so_far());
  }
  std::string socket_path = line->substr(kListeningPrefix.size());
  return StandinApp(std::move(work_dir), std::move(*child), std::move(socket_path));
}

std::vector<std::string> StandinApp::recorded_lines() const {
  const std::optional<std::string> text = read_file(work_dir_.file(kRecordFileName));
  if (!text) return {};
  return split_lines(*text);
}

std::vector<std::string> StandinApp::wait_for_recorded_lines(size_t count, Deadline deadline) {
  for (;;) {
    std::vector<std::string> lines = recorded_lines();
    if (lines.size() >= count || Clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(kRecordPollInterval);
  }
}

std::optional<ExitStatus> StandinApp::stop(Deadline deadline) {
  child_.signal(SIGTERM);
  return child_.wait(deadline);
}

}  // namespace harlo_test
