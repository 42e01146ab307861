// The clipboard's list of files as text/uri-list, both ways: what another
// program reads from us, and what we take from another program's list.
#include <gtest/gtest.h>

#include "io/clipboard.h"

namespace kel {
namespace {

TEST(Clipboard, WritesFileUris) {
  EXPECT_EQ(clipboard::uri_list({"/a/b.txt", "/with space/", "/\xC3\xA9%#?"}),
            "file:///a/b.txt\r\nfile:///with%20space/\r\nfile:///%C3%A9%25%23%3F\r\n");
  EXPECT_EQ(clipboard::uri_list({}), "");
}

TEST(Clipboard, ReadsFileUris) {
  // Comments, other schemes and a URI without a path are left out; a host
  // goes; line ends may be CR LF or LF; a broken escape is kept as it is.
  std::string list =
      "# copied\r\nfile:///a/b.txt\r\nhttp://example.com/x\nfile://localhost/c%20d\nfile://nohost\n"
      "file:///50%\r\nfile:///%e2%82%ac";
  std::vector<std::string> expected = {"/a/b.txt", "/c d", "/50%", "/\xE2\x82\xAC"};
  EXPECT_EQ(clipboard::paths_of_uri_list(list), expected);
}

TEST(Clipboard, RoundTripsAnyPath) {
  std::vector<std::string> paths = {"/tmp/x y/z", "/\x01\x7f\xff", "/%41"};
  EXPECT_EQ(clipboard::paths_of_uri_list(clipboard::uri_list(paths)), paths);
}

}  // namespace
}  // namespace kel
