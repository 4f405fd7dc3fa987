#include "harlo_paths/harlo_paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace harlo_paths {
namespace {

// Restores HOME after each test, which sets it as it needs.
class HomeEnv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* home = std::getenv("HOME")) saved_ = home;
  }
  void TearDown() override {
    if (saved_) {
      setenv("HOME", saved_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST(Join, InsertsOneSlashOnlyWhereNeeded) {
  EXPECT_EQ(join("/a", "b"), "/a/b");
  EXPECT_EQ(join("/a/", "b"), "/a/b");
  EXPECT_EQ(join("", "b"), "b");
  EXPECT_EQ(join("/", "b"), "/b");
}

TEST_F(HomeEnv, PathsFollowHome) {
  setenv("HOME", "/Users/ann", 1);
  EXPECT_EQ(data_dir(), "/Users/ann/Library/Application Support/Harlo");
  EXPECT_EQ(preferences_file(), "/Users/ann/Library/Application Support/Harlo/preferences.json");
  setenv("HOME", "/Users/ann/", 1);
  EXPECT_EQ(data_dir(), "/Users/ann/Library/Application Support/Harlo");
}

TEST_F(HomeEnv, HomeIsTakenAsBytesWithoutChecks) {
  setenv("HOME", "/nonexistent/\xff\xfe", 1);
  EXPECT_EQ(data_dir(), "/nonexistent/\xff\xfe/Library/Application Support/Harlo");
}

TEST_F(HomeEnv, UnsetOrEmptyHomeFallsBackToPasswordDatabase) {
  const passwd* entry = getpwuid(getuid());
  ASSERT_NE(entry, nullptr);
  const std::string expected = std::string(entry->pw_dir) + "/Library/Application Support/Harlo";
  unsetenv("HOME");
  EXPECT_EQ(data_dir(), expected);
  setenv("HOME", "", 1);
  EXPECT_EQ(data_dir(), expected);
}

}  // namespace
}  // namespace harlo_paths
