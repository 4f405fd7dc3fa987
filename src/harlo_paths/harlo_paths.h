// Where the desktop app keeps its per-user files.
//
// Paths are byte strings as the system gives them (they need not be UTF-8).
// Every operation reads the environment and the password database afresh
// on each call, creates nothing, and answers nothing when the path cannot
// be determined.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace harlo_paths {

// The per-user data area below the home directory, and the app's folder in it.
inline constexpr std::string_view kDataArea = "Library/Application Support";
inline constexpr std::string_view kAppDirName = "Harlo";
inline constexpr std::string_view kPreferencesFileName = "preferences.json";

// The home directory: $HOME when set and not empty, else the home field of
// the password database entry of the real user id (one getpwuid_r attempt
// with the buffer size the system suggests, 512 bytes when it suggests
// none). Nothing when neither gives a non-empty path.
std::optional<std::string> home_dir();

// `base` and `name` with one "/" between them, unless `base` is empty or
// already ends with "/".
std::string join(std::string_view base, std::string_view name);

// <home>/Library/Application Support/Harlo for the given home directory.
std::string data_dir_in(std::string_view home);

// data_dir_in(home_dir()).
std::optional<std::string> data_dir();

// <data dir>/preferences.json; nothing exactly when data_dir() is nothing.
std::optional<std::string> preferences_file();

}  // namespace harlo_paths
