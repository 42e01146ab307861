// The text steps of running the command line's script: turning a local
// path into Kel's form, and finding where the script's own arguments begin
// in the raw command text (the console transcripts run whole scripts).
#include <gtest/gtest.h>

#include <string>

#include "boot/script_run.h"

namespace kel {
namespace {

TEST(ScriptRunTest, LocalPathsTakeKelsForm) {
  struct Case {
    const char* local;
    const char* kel;
  } cases[] = {
      {"", ""},
      {"script.kel", "script.kel"},
      {"dir/sub/x.kel", "dir/sub/x.kel"},
      {"a\\\\b", "a/b"},                     // a run of separators is one
      {"/tmp//x/", "/tmp/x/"},
      {"dir\\", "dir/"},                     // a trailing one stays single
      {"C:\\Users\\x\\", "/C/Users/x/"},      // a drive becomes a segment
      {"C:a", "/C/a"},
      {"a:b:c", "a/b"},                      // a second colon ends it as it is
  };
  for (const Case& c : cases) EXPECT_EQ(boot::to_kel_file(c.local), c.kel) << c.local;
}

TEST(ScriptRunTest, TheScriptsArgumentsFollowItsSwitchesAndName) {
  struct Case {
    const char* raw;
    const char* rest;
  } cases[] = {
      {"script.kel a b", "a b"},
      {"  script.kel   a", "a"},
      {"script.kel", ""},
      {"--foo --catch script.kel a b", "a b"},
      {"\"--quoted switch\" script.kel x", "x"},
      {"\"my script.kel\" \"a b\" c", "\"a b\" c"},  // a quoted name keeps its blank
      {"dir/\"my file\".kel x", "x"},
      {"-- --weird.kel x", "x"},                       // a bare -- ends the switches
      {"--foo", ""},
  };
  for (const Case& c : cases) {
    std::string raw = c.raw;
    EXPECT_EQ(raw.substr(boot::script_arguments_offset(raw)), c.rest) << c.raw;
  }
}

}  // namespace
}  // namespace kel
