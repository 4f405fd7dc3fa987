# Dependencies of a cross-build (cmake/zig-toolchain.cmake), taken from the
# build machine's Debian packages in forms that serve any target.

# nlohmann/json is header-only. Its headers sit in /usr/include beside the
# build machine's own C headers, which must stay out of sight of the
# target's compiler, so it is shown a directory that holds only them.
find_path(HARLO_JSON_INCLUDE_DIR nlohmann/json.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_harlo_json_view ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${_harlo_json_view})
file(CREATE_LINK ${HARLO_JSON_INCLUDE_DIR}/nlohmann ${_harlo_json_view}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${_harlo_json_view})

# GoogleTest, built for the target from its source (Debian's googletest
# package); it defines GTest::gtest and GTest::gtest_main as find_package
# would.
if(HARLO_BUILD_TESTS)
  set(HARLO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${HARLO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Its code is not ours to hold to our warnings.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
endif()
