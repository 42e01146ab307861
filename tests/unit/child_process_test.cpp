// The child-process layer on its own: splitting a command line, and what
// the Kel cases cannot show: a process that has not ignored SIGPIPE (as this
// test program has not) survives a child that stops reading its input, and
// a child not waited for is reaped without anyone asking.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "io/child_process.h"

namespace kel {
namespace {

using child_process::Request;
using child_process::Stream;

TEST(ChildProcess, SplitsCommandLines) {
  struct Case {
    const char* line;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"", {}},
      {"   ", {}},
      {"ls -l  /tmp", {"ls", "-l", "/tmp"}},
      {"printf \"a b\" c", {"printf", "a b", "c"}},
      {"say \"\"", {"say", ""}},
      {"x\"y z\"w", {"xy zw"}},
      {R"(echo \"quoted\" back\\slash)", {"echo", "\"quoted\"", "back\\slash"}},
      {"tab\tand\nline", {"tab", "and", "line"}},
  };
  for (const Case& c : cases) EXPECT_EQ(child_process::split_command_line(c.line), c.arguments) << c.line;
}

TEST(ChildProcess, ChildThatStopsReadingDoesNotEndTheCaller) {
  Request request;
  request.arguments = {"true"};
  request.input.kind = Stream::Kind::kBytes;
  request.input.bytes.assign(16 << 20, 'x');
  EXPECT_EQ(child_process::run(request), 0);
}

TEST(ChildProcess, FeedsAndDrainsLargeStreamsTogether) {
  Request request;
  request.shell_command = "tee /dev/stderr";
  request.input.kind = Stream::Kind::kBytes;
  for (int i = 0; i < (16 << 20); ++i) request.input.bytes.push_back(static_cast<uint8_t>(i * 7));
  request.output.kind = Stream::Kind::kBytes;
  request.error.kind = Stream::Kind::kBytes;
  EXPECT_EQ(child_process::run(request), 0);
  EXPECT_EQ(request.output.bytes, request.input.bytes);
  EXPECT_EQ(request.error.bytes, request.input.bytes);
}

TEST(ChildProcess, ChildrenNotWaitedForAreReaped) {
  for (int i = 0; i < 50; ++i) {
    Request request;
    request.arguments = {"true"};
    EXPECT_GT(child_process::run(request), 0);
  }
  for (int tries = 0; tries < 500 && child_process::pending_children() > 0; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(child_process::pending_children(), 0);
}

}  // namespace
}  // namespace kel
