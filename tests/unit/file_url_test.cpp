// file!, url!, tag!, email! and ref!: their text forms, the percent codec,
// URLs built from blocks, path access, and POSIX paths.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/email.h"
#include "datatypes/file.h"
#include "datatypes/ref.h"
#include "datatypes/tag.h"
#include "datatypes/url.h"
#include "literal_helpers.h"
#include "runtime/platform.h"

namespace kel {
namespace {

using namespace literal_testing;

class FileTest : public LiteralTest {};
class UrlTest : public LiteralTest {};
class TextTypesTest : public LiteralTest {};

Cell File(std::string_view text, uint32_t index = 0) { return T(TYPE_FILE, text, index); }
Cell Url(std::string_view text) { return T(TYPE_URL, text); }

// --- file! ---------------------------------------------------------------------------------

TEST_F(FileTest, MoldQuotesOnlyWhatTheLexerWouldMisread) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"dir/file.txt", "%dir/file.txt"},
      {"/usr/lib/", "%/usr/lib/"},
      {"caf\xC3\xA9.txt", "%caf\xC3\xA9.txt"},
      {"my file", "%\"my file\""},
      {"a;b", "%\"a;b\""},
      {"", "%\"\""},
      {"100%", "%\"100%\""},
      {"12:00.log", "%\"12:00.log\""},
      {"a(1).txt", "%\"a(1).txt\""},
      {"me@home", "%\"me@home\""},
      // Inside the quotes a quote, a caret and line breaks are escaped, so
      // the text loads back to the same name.
      {"say \"hi\".txt", "%\"say ^\"hi^\".txt\""},
      {"a^b", "%\"a^^b\""},
      {"line\nbreak\ttab", "%\"line^/break^-tab\""},
  };
  for (const Case& c : cases) EXPECT_EQ(mold(File(c.name)), c.text) << c.name;
  EXPECT_EQ(mold(File("dir/file", 4)), "%file");
  EXPECT_EQ(mold(File("dir", 3)), "%\"\"");
  EXPECT_EQ(form(File("my file")), "my file");
}

TEST_F(FileTest, PathsArePosixPaths) {
  EXPECT_EQ(file::to_os_path(File("/usr/lib/x.so"), false), "/usr/lib/x.so");
  EXPECT_EQ(file::to_os_path(File("dir/sub/file.txt"), false), "dir/sub/file.txt");
  std::string cwd = platform::get_current_dir();
  if (cwd.back() != '/') cwd += '/';
  EXPECT_EQ(file::to_os_path(File("dir/sub"), true), cwd + "dir/sub");
  EXPECT_EQ(file::to_os_path(File("/abs"), true), "/abs");
  Cell* target = string::push_new(8);
  file::convert_path(File("a/b"), target, false);
  EXPECT_EQ(string::to_std_string(*target), "a/b");
  Cell* here = file::get_current_dir();
  EXPECT_EQ(string::to_std_string(*here), cwd);
  const char* path = "/tmp/x y/";
  Cell* loaded = file::from_os_path(reinterpret_cast<const uint8_t*>(path), 9);
  EXPECT_EQ(mold(*loaded), "%\"/tmp/x y/\"");
}

TEST_F(FileTest, ConversionAndPathAccessGiveFiles) {
  EXPECT_EQ(converted<Action::to>(TYPE_FILE, S("a b")), "file! %\"a b\"");
  EXPECT_EQ(converted<Action::make>(TYPE_FILE, S("x")), "file! %x");
  EXPECT_EQ(mold(path_get(File("dir"), W("name"))), "%dir/name");
  EXPECT_EQ(mold(path_get(File("dir/"), S("name"))), "%dir/name");
  EXPECT_EQ(mold(path_get(File("dir/"), S("/name"))), "%dir/name");
  EXPECT_EQ(mold(path_get(File("dir"), S("/name"))), "%dir/name");
}

TEST_F(FileTest, EveryNameMoldsToTextThatLoadsBack) {
  for (const char* name : {"dir/file.txt", "my file", "a;b", "100%", "12:00.log", "a(1).txt", "me@home",
                           "say \"hi\".txt", "a^b", "line\nbreak\ttab", "caf\xC3\xA9", "[x]{y}<z>", "\\back"}) {
    Cell file = File(name);
    Cell loaded = make_cell(TYPE_UNSET);
    ASSERT_EQ(word::scan_text(mold(file), &loaded), TYPE_FILE) << mold(file);
    EXPECT_EQ(string::to_std_string(loaded), name) << mold(file);
  }
}

// --- url! ----------------------------------------------------------------------------------

TEST_F(UrlTest, MoldEscapesWhatTheUrlSetDoesNotAllow) {
  EXPECT_EQ(mold(Url("http://a b")), "http://a%20b");
  EXPECT_EQ(mold(Url("http://x/100%")), "http://x/100%25");
  EXPECT_EQ(mold(Url("http://x/caf\xC3\xA9")), "http://x/caf%C3%A9");
  EXPECT_EQ(mold(Url("http://x/?a=1&b=2~")), "http://x/?a=1&b=2~");
  // Parentheses would end the URL when it is loaded back.
  EXPECT_EQ(mold(Url("http://x/f(2)")), "http://x/f%282%29");
  EXPECT_EQ(form(Url("http://a b")), "http://a b");
}

TEST_F(UrlTest, MoldLoadsBackThroughTheLexer) {
  for (const char* text : {"http://a b", "http://x/100%", "http://x/caf\xC3\xA9", "http://x/?a=1&b=(2)~",
                           "ftp://x/%zz"}) {
    Cell u = Url(text);
    Cell loaded = make_cell(TYPE_UNSET);
    ASSERT_EQ(word::scan_text(mold(u), &loaded), TYPE_URL) << mold(u);
    EXPECT_EQ(string::to_std_string(loaded), text) << mold(u);
  }
}

TEST_F(UrlTest, EnhexWithBothSets) {
  auto enhexed = [](std::string_view text, int32_t mode) {
    Cell source = S(text);
    Cell* target = string::push_new(8);
    url::enhex(&source, target, mode);
    return string::to_std_string(*target);
  };
  EXPECT_EQ(enhexed("a b", url::kUrlMode), "a%20b");
  EXPECT_EQ(enhexed("/:", url::kUrlMode), "/:");
  EXPECT_EQ(enhexed("/:", url::kUnreservedMode), "%2F%3A");
  EXPECT_EQ(enhexed("a-b_c.d~", url::kUnreservedMode), "a-b_c.d~");
  EXPECT_EQ(enhexed("\xE2\x82\xAC", url::kUnreservedMode), "%E2%82%AC");
}

TEST_F(UrlTest, DehexNeverLosesAByte) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"%C3%A9", "\xC3\xA9"},
      {"%E2%82%AC!", "\xE2\x82\xAC!"},
      {"100%", "100%"},
      {"%41%42", "AB"},
      {"%zz", "%zz"},
      {"%4", "%4"},
      // Escapes that are not well-formed UTF-8, cut short or malformed:
      // each byte as a code point.
      {"%C3", "\xC3\x83"},
      {"%C3A9", "\xC3\x83" "A9"},
      {"%E2%82", "\xC3\xA2\xC2\x82"},
      {"%C3%28", "\xC3\x83("},
      {"%FF", "\xC3\xBF"},
      {"%FF%80%80%80", "\xC3\xBF\xC2\x80\xC2\x80\xC2\x80"},
      {"%ED%A0%80", "\xC3\xAD\xC2\xA0\xC2\x80"},
  };
  for (const Case& c : cases) {
    Cell source = S(c.text);
    Cell* target = string::push_new(8);
    url::dehex(&source, target);
    EXPECT_EQ(string::to_std_string(*target), c.expected) << c.text;
  }
}

TEST_F(UrlTest, LoadDecodesEscapes) {
  const char* text = "http://a%20b/%C3%A9";
  Cell* loaded = url::load(reinterpret_cast<const uint8_t*>(text), 19);
  ASSERT_TRUE(loaded->is(TYPE_URL));
  EXPECT_EQ(string::to_std_string(*loaded), "http://a b/\xC3\xA9");
  EXPECT_EQ(mold(*loaded), "http://a%20b/%C3%A9");
}

TEST_F(UrlTest, EscapeAndHexPairRoutines) {
  char out[3];
  EXPECT_EQ(url::escape_byte(url::kUrlMode, '/', out), 1u);
  EXPECT_EQ(url::escape_byte(url::kUrlMode, ' ', out), 3u);
  EXPECT_EQ(std::string(out, 3), "%20");
  uint8_t byte = 0;
  EXPECT_TRUE(url::decode_hex_pair(reinterpret_cast<const uint8_t*>("%7e"), 3, &byte));
  EXPECT_EQ(byte, 0x7E);
  EXPECT_FALSE(url::decode_hex_pair(reinterpret_cast<const uint8_t*>("%7"), 2, &byte));
  EXPECT_FALSE(url::url_byte_allowed(0xC3));
  EXPECT_FALSE(url::url_byte_allowed('"'));
}

TEST_F(UrlTest, BuiltFromABlock) {
  struct Case {
    Cell spec;
    const char* expected;
  } cases[] = {
      {Blk({W("http"), W("example"), I(8080), W("a"), W("b")}), "url! http://example:8080/a/b"},
      {Blk({W("http"), W("example")}), "url! http://example"},
      {Blk({W("https"), S("x.org"), S("path"), W("frag", TYPE_ISSUE)}), "url! https://x.org/path#frag"},
      {Blk({W("http")}), "error bad-to-arg"},
      {Blk({}), "error bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converted<Action::to>(TYPE_URL, c.spec), c.expected) << mold(c.spec);
    EXPECT_EQ(converted<Action::make>(TYPE_URL, c.spec), c.expected) << mold(c.spec);
  }
  EXPECT_EQ(converted<Action::to>(TYPE_URL, S("http://x")), "url! http://x");
}

TEST_F(UrlTest, PathAppendsOneSegmentAndRefusesSetting) {
  EXPECT_EQ(mold(path_get(Url("http://a.com"), W("b"))), "http://a.com/b");
  EXPECT_EQ(mold(path_get(Url("http://a.com/"), W("b"))), "http://a.com/b");
  EXPECT_EQ(mold(path_get(Url("http://a.com/"), S("/b"))), "http://a.com/b");
  EXPECT_EQ(mold(path_get(Url("http://a.com"), I(1))), "http://a.com/1");
  Cell u = Url("http://a.com");
  path_get(u, W("b"));
  EXPECT_EQ(mold(u), "http://a.com");  // the URL itself is unchanged
  EXPECT_EQ(error_of([] { path_set(Url("http://a.com"), W("b"), I(1)); }), "bad-path-set");
}

// --- tag!, email!, ref! ----------------------------------------------------------------------

TEST_F(TextTypesTest, TagsAreWrittenInAngleBrackets) {
  EXPECT_EQ(mold(T(TYPE_TAG, "a href")), "<a href>");
  EXPECT_EQ(form(T(TYPE_TAG, "a href")), "<a href>");
  EXPECT_EQ(mold(T(TYPE_TAG, "")), "<>");
  EXPECT_EQ(mold(T(TYPE_TAG, "p \"q\"")), "<p \"q\">");
  const char* text = "br/";
  EXPECT_EQ(mold(*tag::load(reinterpret_cast<const uint8_t*>(text), 3)), "<br/>");
}

TEST_F(TextTypesTest, MoldLoadsBackThroughTheLexer) {
  for (const Cell& v : {T(TYPE_TAG, "a href"), T(TYPE_TAG, "br/"), T(TYPE_EMAIL, "joe@example.com"),
                        T(TYPE_REF, "name")})
    EXPECT_EQ(reloaded(v), typed_mold(v));
}

TEST_F(TextTypesTest, RefsMoldWithTheirSign) {
  EXPECT_EQ(mold(T(TYPE_REF, "name")), "@name");
  EXPECT_EQ(form(T(TYPE_REF, "name")), "name");
  // ref! has no append and no path access of its own.
  EXPECT_EQ(action_entry(TYPE_REF, Action::append), nullptr);
  EXPECT_EQ(action_entry(TYPE_REF, Action::eval_path), nullptr);
  EXPECT_NE(action_entry(TYPE_REF, Action::insert), nullptr);
}

TEST_F(TextTypesTest, EmailsMoldBareAndSplitAtTheFirstAt) {
  EXPECT_EQ(mold(T(TYPE_EMAIL, "joe@example.com")), "joe@example.com");
  Cell e = T(TYPE_EMAIL, "joe@example.com");
  EXPECT_EQ(mold(path_get(e, W("user"))), "\"joe\"");
  EXPECT_EQ(mold(path_get(e, W("host"))), "\"example.com\"");
  EXPECT_EQ(mold(path_get(e, I(1))), "#\"j\"");
  Cell bare = T(TYPE_EMAIL, "nobody");
  EXPECT_EQ(mold(path_get(bare, W("user"))), "\"nobody\"");
  EXPECT_EQ(mold(path_get(bare, W("host"))), "\"\"");
  EXPECT_EQ(error_of([&] { path_get(e, W("domain")); }), "invalid-path");
  EXPECT_EQ(error_of([&] { path_get(e, S("x")); }), "invalid-path");
}

TEST_F(TextTypesTest, SettingAnEmailHalfReplacesItInPlace) {
  EXPECT_EQ(mold(path_set(T(TYPE_EMAIL, "joe@example.com"), W("host"), S("kel.org"))), "joe@kel.org");
  EXPECT_EQ(mold(path_set(T(TYPE_EMAIL, "joe@example.com"), W("user"), S("ann"))), "ann@example.com");
  EXPECT_EQ(mold(path_set(T(TYPE_EMAIL, "a@b@c"), W("host"), S("d"))), "a@d");
  // Without "@" the new host gets one, so user and host stay apart.
  EXPECT_EQ(mold(path_set(T(TYPE_EMAIL, "joe"), W("host"), S("kel.org"))), "joe@kel.org");
  EXPECT_EQ(mold(path_set(T(TYPE_EMAIL, "joe"), W("user"), S("ann"))), "ann");
}

TEST_F(TextTypesTest, InheritedActionsComeFromString) {
  for (TypeId type : {TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY}) {
    EXPECT_EQ(action_entry(type, Action::length_q), action_entry(TYPE_STRING, Action::length_q)) << type;
    EXPECT_EQ(action_entry(type, Action::find), action_entry(TYPE_STRING, Action::find)) << type;
  }
  EXPECT_EQ(action_entry(TYPE_FILE, Action::sort), nullptr);
  EXPECT_EQ(action_entry(TYPE_URL, Action::random), nullptr);
  EXPECT_EQ(action_entry(TYPE_FILE, Action::make), action_entry(TYPE_URL, Action::make));
  EXPECT_EQ(action_entry(TYPE_TAG, Action::trim), nullptr);
}

}  // namespace
}  // namespace kel
