# Cross-builds with zig (tools/zig) for the target named in HARLO_ZIG_TARGET,
# a zig target triple such as aarch64-macos.11.0-none, x86_64-macos.11.0-none
# or aarch64-linux-musl. zig brings the target's C library headers and builds
# its libc++; nothing of the build machine's own libraries is used, and
# find_package looks only where a dependency is named explicitly
# (cmake/cross_dependencies.cmake).
if(NOT HARLO_ZIG_TARGET)
  message(FATAL_ERROR "Set HARLO_ZIG_TARGET to a zig target, e.g. aarch64-macos.11.0-none")
endif()
# try_compile projects read this file again and need the target too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HARLO_ZIG_TARGET)

string(REGEX MATCH "^[^-]+" _harlo_arch "${HARLO_ZIG_TARGET}")
if(HARLO_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
elseif(HARLO_ZIG_TARGET MATCHES "-linux")
  set(CMAKE_SYSTEM_NAME Linux)
else()
  message(FATAL_ERROR "No system known for the zig target ${HARLO_ZIG_TARGET}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${_harlo_arch})

set(_harlo_zig_tools ${CMAKE_CURRENT_LIST_DIR}/../tools/zig)
set(CMAKE_CXX_COMPILER ${_harlo_zig_tools}/zig-c++)
# GoogleTest's project also enables C.
set(CMAKE_C_COMPILER ${_harlo_zig_tools}/zig-cc)
set(CMAKE_AR ${_harlo_zig_tools}/zig-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_harlo_zig_tools}/zig-ranlib CACHE FILEPATH "")
# CMake passes these flags to every compile and link line.
set(CMAKE_CXX_FLAGS_INIT "-target ${HARLO_ZIG_TARGET}")
set(CMAKE_C_FLAGS_INIT "-target ${HARLO_ZIG_TARGET}")
# CMake's Darwin platform wants this tool; the bridge sets no install names,
# so it never runs.
if(CMAKE_SYSTEM_NAME STREQUAL Darwin)
  find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-14 llvm-install-name-tool
    install_name_tool REQUIRED)
endif()

# Programs (node, the shell) come from the build machine; libraries, headers
# and packages only from a root that holds none, so that nothing built for
# the build machine is picked up by mistake.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_CURRENT_LIST_DIR}/no-target-root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A Linux target for another processor runs on the build machine through
# qemu's user-mode emulator (Debian's qemu-user-static, found on PATH), so
# that GoogleTest's test discovery and ctest run the target's tests there.
# Without the emulator the tests build but cannot run.
if(CMAKE_SYSTEM_NAME STREQUAL Linux AND CMAKE_HOST_SYSTEM_NAME STREQUAL Linux
    AND NOT _harlo_arch STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  find_program(HARLO_QEMU NAMES qemu-${_harlo_arch}-static qemu-${_harlo_arch})
  if(HARLO_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${HARLO_QEMU})
  else()
    message(STATUS "No qemu-${_harlo_arch}-static on PATH: the ${HARLO_ZIG_TARGET} tests cannot run here")
  endif()
endif()
