// The HTTP client over libcurl (see http_client.h).
//
// One easy handle per request, made and cleaned up inside request(): no
// connection is kept between requests. libcurl's global set-up runs once,
// before the first request. Callbacks never let a C++ exception cross
// libcurl: one raised by the sink is kept, the transfer is stopped, and
// the exception is thrown again once libcurl has returned.
//
// libcurl is opened at the first request, not linked: it brings a TLS
// library and a dozen more with it, and binding them all would cost every
// start of kel more than the rest of its start-up, while few runs reach
// the network. A system without libcurl answers every request with a
// failure that says so.
#include "io/http_client.h"

#include <curl/curl.h>

#include <cctype>
#include <exception>

#include "runtime/shared_library.h"

namespace kel::http {

namespace {

// The libcurl functions the client uses, typed as its header declares them.
struct Libcurl {
  decltype(&curl_global_init) global_init;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
};

// Opens libcurl and runs its global set-up; null when the library or one
// of its functions is missing.
const Libcurl* open_libcurl() {
  SharedLibrary library("libcurl.so.4");
  static Libcurl functions;
  library.take(&functions.global_init, "curl_global_init");
  library.take(&functions.easy_init, "curl_easy_init");
  library.take(&functions.easy_setopt, "curl_easy_setopt");
  library.take(&functions.easy_getinfo, "curl_easy_getinfo");
  library.take(&functions.easy_perform, "curl_easy_perform");
  library.take(&functions.easy_cleanup, "curl_easy_cleanup");
  library.take(&functions.easy_strerror, "curl_easy_strerror");
  library.take(&functions.slist_append, "curl_slist_append");
  library.take(&functions.slist_free_all, "curl_slist_free_all");
  if (!library.complete()) return nullptr;
  functions.global_init(CURL_GLOBAL_DEFAULT);
  return &functions;
}

// libcurl once opened (null when it cannot be); opened and set up once.
const Libcurl* libcurl() {
  static const Libcurl* opened = open_libcurl();
  return opened;
}

struct Transfer {
  BodySink* sink;
  std::string header_text;  // the current response's header lines
  bool body_started = false;
  std::exception_ptr failure;
  CURL* handle;
};

bool starts_status_line(const char* line, size_t length) {
  return length >= 5 && line[0] == 'H' && line[1] == 'T' && line[2] == 'T' && line[3] == 'P' && line[4] == '/';
}

// Each header line of each response arrives here; a status line starts a
// new response (after a redirect, or a 100 Continue), whose fields replace
// those gathered before.
size_t on_header(char* line, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  size_t length = size * count;
  if (starts_status_line(line, length)) {
    transfer->header_text.clear();
    transfer->body_started = false;
  }
  transfer->header_text.append(line, length);
  return length;
}

size_t on_body(char* bytes, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  size_t length = size * count;
  try {
    if (!transfer->body_started) {
      curl_off_t announced = -1;
      if (libcurl()->easy_getinfo(transfer->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK)
        announced = -1;
      transfer->sink->start(announced);
      transfer->body_started = true;
    }
    transfer->sink->append(reinterpret_cast<const uint8_t*>(bytes), length);
  } catch (...) {
    transfer->failure = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
  return length;
}

// Frees what libcurl was given, on every way out of request().
struct Handles {
  CURL* easy = nullptr;
  curl_slist* fields = nullptr;
  ~Handles() {
    if (fields) libcurl()->slist_free_all(fields);
    if (easy) libcurl()->easy_cleanup(easy);
  }
};

}  // namespace

std::vector<Header> parse_headers(std::string_view text) {
  std::vector<Header> fields;
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(position, end - position);
    position = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    fields.push_back({std::string(line.substr(0, colon)), std::string(value)});
  }
  return fields;
}

std::string method_text(std::string_view name) {
  std::string text(name);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

const std::vector<Header>& default_headers() {
  static const std::vector<Header> fields = {
      {"Content-Type", "application/x-www-form-urlencoded"},
      {"Accept-Charset", "UTF-8"},
      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
  };
  return fields;
}

std::optional<Response> request(const std::string& method, const std::string& url, const std::vector<Header>& headers,
                                const std::optional<std::vector<uint8_t>>& body, BodySink& sink,
                                std::string* failure) {
  const Libcurl* api = libcurl();
  if (api == nullptr) {
    if (failure) *failure = "libcurl (libcurl.so.4) cannot be opened";
    return std::nullopt;
  }
  Handles handles;
  handles.easy = api->easy_init();
  if (handles.easy == nullptr) {
    if (failure) *failure = "cannot make a request";
    return std::nullopt;
  }
  CURL* easy = handles.easy;
  Transfer transfer{&sink, {}, false, nullptr, easy};
  char error_text[CURL_ERROR_SIZE] = {0};

  api->easy_setopt(easy, CURLOPT_URL, url.c_str());
  api->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  api->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  api->easy_setopt(easy, CURLOPT_MAXREDIRS, 50L);
  api->easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  api->easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  api->easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  api->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
  api->easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  api->easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
  api->easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  api->easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  api->easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
  api->easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  api->easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  api->easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  api->easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

  bool sends_body = method != "GET" && method != "HEAD";
  static const std::vector<uint8_t> kEmpty;
  const std::vector<uint8_t>& payload = body ? *body : kEmpty;
  if (method == "HEAD") {
    api->easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (method == "GET") {
    api->easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else {
    if (sends_body && body) {
      api->easy_setopt(easy, CURLOPT_POSTFIELDS, payload.empty() ? "" : reinterpret_cast<const char*>(payload.data()));
      api->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    } else if (method == "POST") {
      api->easy_setopt(easy, CURLOPT_POSTFIELDS, "");
      api->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    }
    if (method != "POST") api->easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // The fields given, in order; then the ones libcurl would add of its own
  // accord are switched off (a field with nothing after its colon), unless
  // given.
  auto given = [&](std::string_view name) {
    for (const Header& h : headers) {
      if (h.name.size() != name.size()) continue;
      bool same = true;
      for (size_t i = 0; i < name.size() && same; ++i)
        same = std::tolower(static_cast<unsigned char>(h.name[i])) == std::tolower(static_cast<unsigned char>(name[i]));
      if (same) return true;
    }
    return false;
  };
  for (const Header& h : headers) {
    // A field with an empty value is sent as "Name;" (libcurl's way of
    // saying an empty value; "Name:" would remove the field).
    std::string line = h.value.empty() ? h.name + ";" : h.name + ": " + h.value;
    handles.fields = api->slist_append(handles.fields, line.c_str());
  }
  for (const char* own : {"Accept", "Expect", "Content-Type"}) {
    if (given(own)) continue;
    handles.fields = api->slist_append(handles.fields, (std::string(own) + ":").c_str());
  }
  api->easy_setopt(easy, CURLOPT_HTTPHEADER, handles.fields);

  CURLcode outcome = api->easy_perform(easy);
  if (transfer.failure) std::rethrow_exception(transfer.failure);
  if (outcome != CURLE_OK) {
    if (failure) *failure = error_text[0] ? error_text : api->easy_strerror(outcome);
    return std::nullopt;
  }
  Response response;
  long status = 0;
  api->easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  response.status = status;
  response.headers = parse_headers(transfer.header_text);
  // A response without a body still starts one: the sink answers empty.
  if (!transfer.body_started) sink.start(0);
  return response;
}

}  // namespace kel::http
