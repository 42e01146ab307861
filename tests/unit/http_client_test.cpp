// The HTTP client's text rules, apart from any server: how response header
// lines become fields and how method names become method texts.
#include <gtest/gtest.h>

#include "io/http_client.h"

namespace kel {
namespace {

TEST(HttpClient, ParsesHeaderLines) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, std::string>> fields;
  };
  const Case cases[] = {
      // The status line and the closing empty line have no ":".
      {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n", {{"Content-Type", "text/plain"}}},
      // Blanks after the colon go; the value runs to the end of its line,
      // colons and inner blanks included.
      {"Location:   http://x:80/a b  \r\n", {{"Location", "http://x:80/a b  "}}},
      {"X-Empty:\r\nX-Tab:\tv\n", {{"X-Empty", ""}, {"X-Tab", "v"}}},
      // A repeated name stays twice, in order.
      {"A: 1\r\nB: 2\r\nA: 3\r\n", {{"A", "1"}, {"B", "2"}, {"A", "3"}}},
      // A line without a colon is skipped, also a last one without a line end.
      {"garbage\r\nK: v", {{"K", "v"}}},
      {"no colon at all", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<http::Header> parsed = http::parse_headers(c.text);
    ASSERT_EQ(parsed.size(), c.fields.size()) << c.text;
    for (size_t i = 0; i < parsed.size(); ++i) {
      EXPECT_EQ(parsed[i].name, c.fields[i].first) << c.text;
      EXPECT_EQ(parsed[i].value, c.fields[i].second) << c.text;
    }
  }
}

TEST(HttpClient, MethodTexts) {
  EXPECT_EQ(http::method_text("get"), "GET");
  EXPECT_EQ(http::method_text("post"), "POST");
  EXPECT_EQ(http::method_text("Put"), "PUT");
  EXPECT_EQ(http::method_text("m-search"), "M-SEARCH");
}

}  // namespace
}  // namespace kel
