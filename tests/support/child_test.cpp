// The harness's process runner, on ordinary system programs: a fault here
// would show up as a baffling failure in every integration test.
#include "support/child.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace harlo_test {
namespace {

constexpr std::chrono::milliseconds kQuietPeriod{200};

Child spawn_or_die(ChildOptions options) {
  std::string error;
  std::optional<Child> child = Child::spawn(options, &error);
  if (!child) {
    ADD_FAILURE() << error;
    std::abort();
  }
  return std::move(*child);
}

Child shell(const std::string& script, StdinMode stdin_mode = StdinMode::kPipe) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", script};
  options.env = {"PATH=/usr/bin:/bin"};
  options.stdin_mode = stdin_mode;
  return spawn_or_die(options);
}

TEST(ChildTest, RelaysLinesAndTellsTheEndFromATimeout) {
  Child child = shell("cat");
  ASSERT_TRUE(child.write("one\r\ntwo\nthree"));
  EXPECT_EQ(child.read_line(), "one\r");
  EXPECT_EQ(child.read_line(), "two");
  EXPECT_EQ(child.read_line(deadline_after(kQuietPeriod)), std::nullopt);
  EXPECT_FALSE(child.stdout_ended());

  child.close_stdin();
  EXPECT_EQ(child.read_line(), std::nullopt);
  EXPECT_TRUE(child.stdout_ended());
  EXPECT_EQ(child.read_stdout_until_eof(), "three");
  EXPECT_EQ(child.wait(), ExitStatus::exited(0));
}

TEST(ChildTest, GivesTheChildTheStreamsAsked) {
  // Whether reading descriptor 0 and writing descriptor 1 work, on stderr.
  const std::string probe =
      "cat >/dev/null 2>&1; echo \"in $?\" >&2; echo x 2>/dev/null; echo \"out $?\" >&2";
  struct Case {
    const char* name;
    StdinMode stdin_mode;
    bool stdout_closed;
    const char* seen;
  };
  const Case cases[] = {
      {"pipe", StdinMode::kPipe, false, "in 0\nout 0\n"},
      {"/dev/null", StdinMode::kDevNull, false, "in 0\nout 0\n"},
      {"stdin closed", StdinMode::kClosed, false, "in 1\nout 0\n"},
      {"stdout closed", StdinMode::kDevNull, true, "in 0\nout 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildOptions options;
    options.argv = {"/bin/sh", "-c", probe};
    options.env = {"PATH=/usr/bin:/bin"};
    options.stdin_mode = c.stdin_mode;
    options.stdout_closed = c.stdout_closed;
    Child child = spawn_or_die(options);
    child.close_stdin();  // ends cat's input on a pipe
    const std::optional<std::string> seen = child.read_stderr_until_eof();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen, c.seen);
    EXPECT_EQ(child.wait(), ExitStatus::exited(0));
  }
}

TEST(ChildTest, TerminalPassesBytesUnchangedAndEndsInputOnRequest) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c",
                  "test -t 0 && test -t 1 && ! test -t 2 && echo terminal; exec cat"};
  options.env = {"PATH=/usr/bin:/bin"};
  options.terminal = true;
  Child child = spawn_or_die(options);
  EXPECT_EQ(child.read_line(), "terminal");
  ASSERT_TRUE(child.write("a\rb\n"));
  EXPECT_EQ(child.read_line(), "a\rb");  // no echo, no CR added or removed
  child.close_stdin();
  EXPECT_EQ(child.wait(), ExitStatus::exited(0));
}

TEST(ChildTest, UsesTheGivenEnvironmentAndWorkingDirectory) {
  TempDir dir;
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", "pwd -P; echo \"$HOME|$PATH|${USER-unset}\""};
  options.env = {"HOME=/nowhere", "PATH=/bin"};
  options.working_dir = dir.path();
  Child child = spawn_or_die(options);
  const std::optional<std::string> pwd = child.read_line();
  ASSERT_TRUE(pwd);
  EXPECT_NE(pwd->find(dir.path().substr(dir.path().rfind('/'))), std::string::npos) << *pwd;
  EXPECT_EQ(child.read_line(), "/nowhere|/bin|unset");
}

TEST(ChildTest, ReportsHowTheChildEnded) {
  EXPECT_EQ(shell("exit 3").wait(), ExitStatus::exited(3));
  EXPECT_EQ(shell("kill -TERM $$").wait(), ExitStatus::killed_by(SIGTERM));

  Child sleeper = shell("exec sleep 30");
  EXPECT_EQ(sleeper.wait(deadline_after(kQuietPeriod)), std::nullopt);
  EXPECT_TRUE(sleeper.signal(SIGINT));
  EXPECT_EQ(sleeper.wait(), ExitStatus::killed_by(SIGINT));
  EXPECT_FALSE(sleeper.signal(SIGINT));
}

TEST(ChildTest, RefusesAProgramThatCannotRun) {
  ChildOptions options;
  options.argv = {"/nonexistent/harlo-program"};
  std::string error;
  EXPECT_FALSE(Child::spawn(options, &error));
  EXPECT_NE(error.find("/nonexistent/harlo-program"), std::string::npos) << error;
}

TEST(ChildTest, WritingToAChildThatStoppedReadingFailsWithoutKillingTheTest) {
  Child child = shell("exec true");
  ASSERT_EQ(child.wait(), ExitStatus::exited(0));
  EXPECT_FALSE(child.write("nobody reads this\n"));
}

TEST(ChildTest, LargeWriteDoesNotDeadlockAgainstAChildThatWritesFirst) {
  // The child fills its stdout before it reads anything; the write must
  // keep reading that output or both sides wait for ever.
  Child child = shell("head -c 1000000 /dev/zero; cat >/dev/null; echo done");
  ASSERT_TRUE(child.write(std::string(1'000'000, 'x')));
  child.close_stdin();
  const std::optional<std::string> out = child.read_stdout_until_eof();
  ASSERT_TRUE(out);
  EXPECT_EQ(out->size(), 1'000'005u);
  EXPECT_EQ(out->substr(1'000'000), "done\n");
}

}  // namespace
}  // namespace harlo_test
