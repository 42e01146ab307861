// The HTTP client: one synchronous request through libcurl, for read, write
// and load of http and https URLs.
//
// The request is fixed by its method, URL, header fields and body; the
// answer is the final response's status, its header fields in the order
// the server sent them, and its body, which arrives through a sink so that
// the caller can put it straight where it belongs (a large download is
// never held twice). Redirects are followed (only the last response is
// reported), TLS certificates are verified, HTTP/1.1 is spoken so header
// names keep the server's spelling, a connection must be made within 60 s
// and a transfer that stays below one byte a second for 30 s is given up.
// libcurl adds no header field of its own beyond those the protocol needs
// (Host, and Content-Length for a body).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::http {

struct Header {
  std::string name;
  std::string value;
};

// Where a response body goes. start is called when a response's header has
// arrived, with its announced length (-1 when unknown); a redirect's body is
// dropped by a new start. append may throw: the request stops and the
// exception passes to the caller of request().
class BodySink {
 public:
  virtual ~BodySink() = default;
  virtual void start(int64_t announced_length) = 0;
  virtual void append(const uint8_t* bytes, size_t count) = 0;
};

struct Response {
  int64_t status = 0;
  std::vector<Header> headers;
};

// The header fields of a response's header text: the name is the text
// before the first ":", the value what follows after optional blanks, up to
// the end of its line (a CR before the LF dropped); a line without ":" (the
// status line, the empty line at the end) is skipped.
std::vector<Header> parse_headers(std::string_view text);

// The method text of a method name: get, head and post are GET, HEAD and
// POST; any other name is sent in upper case.
std::string method_text(std::string_view name);

// Sends one request and waits for the whole response. GET and HEAD never
// send a body. nullopt when the request cannot be made, the server cannot
// be reached, or the transfer fails; the reason is left in *failure when
// given.
std::optional<Response> request(const std::string& method, const std::string& url, const std::vector<Header>& headers,
                                const std::optional<std::vector<uint8_t>>& body, BodySink& sink,
                                std::string* failure = nullptr);

// The header fields sent when a request names none.
const std::vector<Header>& default_headers();

}  // namespace kel::http
