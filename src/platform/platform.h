// The few operating-system calls that differ between macOS and Linux.
// CMake compiles exactly one of platform_darwin.cpp and platform_linux.cpp;
// nothing else in the tree asks which system it runs on.
#pragma once

#include <optional>
#include <string>

namespace harlo_platform {

// The per-user temporary directory that the system itself reports, without
// a terminating NUL; nothing when the system has no such notion (Linux).
// Callers fall back to "/tmp".
std::optional<std::string> system_temp_dir();

}  // namespace harlo_platform
