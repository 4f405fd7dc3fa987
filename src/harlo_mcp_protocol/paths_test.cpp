#include "harlo_mcp_protocol/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace harlo_mcp_protocol::paths {
namespace {

// Gives each test a real home directory whose path has an exact length, and
// restores HOME and TMPDIR afterwards.
class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"HOME", "TMPDIR"}) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
    }
  }
  void TearDown() override {
    for (const char* name : {"HOME", "TMPDIR"}) {
      if (auto it = saved_.find(name); it != saved_.end()) {
        setenv(name, it->second.c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
  }

  // Creates a directory below the root whose path is `length` bytes long.
  std::string home_of_length(size_t length) {
    std::string path = root_ + "/";
    path.append(length - path.size(), 'h');
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0);
    return path;
  }

  uid_t owner_of(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return status.st_uid;
  }

  harlo_test::TempDir dir_;
  const std::string root_ = dir_.path();

 private:
  std::map<std::string, std::string> saved_;
};

TEST_F(EndpointTest, PrimaryPathBelowTheDataDirectory) {
  const std::string home = home_of_length(30);
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(endpoint(), home + "/Library/Application Support/Harlo/mcp.sock");
  setenv("HOME", (home + "/").c_str(), 1);
  EXPECT_EQ(endpoint(), home + "/Library/Application Support/Harlo/mcp.sock");
}

TEST_F(EndpointTest, HundredBytesIsStillPrimaryOneMoreFallsBack) {
  const std::string home57 = home_of_length(57);
  setenv("HOME", home57.c_str(), 1);
  setenv("TMPDIR", "/var/tmp/x/", 1);
  const auto primary = endpoint();
  ASSERT_TRUE(primary.has_value());
  EXPECT_EQ(primary->size(), 100u);
  EXPECT_EQ(*primary, home57 + "/Library/Application Support/Harlo/mcp.sock");

  const std::string home58 = home_of_length(58);
  setenv("HOME", home58.c_str(), 1);
  EXPECT_EQ(endpoint(), "/var/tmp/x/Harlo-" + std::to_string(owner_of(home58)) + ".sock");
}

TEST_F(EndpointTest, FallbackTemporaryDirectory) {
  const std::string home = home_of_length(80);
  setenv("HOME", home.c_str(), 1);
  const std::string name = "Harlo-" + std::to_string(owner_of(home)) + ".sock";

  setenv("TMPDIR", "/var/tmp/x", 1);
  EXPECT_EQ(endpoint(), "/var/tmp/x/" + name);
  setenv("TMPDIR", "", 1);  // set but empty: a relative path
  EXPECT_EQ(endpoint(), name);
  unsetenv("TMPDIR");
  const auto fallback = endpoint();
  ASSERT_TRUE(fallback.has_value());
  EXPECT_TRUE(fallback->ends_with("/" + name)) << *fallback;
}

TEST_F(EndpointTest, OwnerOfHomeNotTheProcessNamesTheFallback) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the home directory another owner";
  const std::string home = home_of_length(70);
  ASSERT_EQ(chown(home.c_str(), 501, 20), 0);
  setenv("HOME", home.c_str(), 1);
  setenv("TMPDIR", "/t", 1);
  EXPECT_EQ(endpoint(), "/t/Harlo-501.sock");
}

TEST_F(EndpointTest, AbsentWhenHomeCannotBeExamined) {
  setenv("HOME", (root_ + "/missing").c_str(), 1);
  EXPECT_EQ(endpoint(), std::nullopt);
}

}  // namespace
}  // namespace harlo_mcp_protocol::paths
