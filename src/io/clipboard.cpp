// The desktop's clipboard through wl-copy/wl-paste or xclip (see
// clipboard.h). Each operation is one or two runs of a tool through the
// child-process layer, its output captured and its error output dropped.
#include "io/clipboard.h"

#include <unistd.h>

#include <cstdlib>

#include "io/child_process.h"

namespace kel::clipboard {

namespace {

constexpr const char* kTextType = "text/plain;charset=utf-8";
constexpr const char* kFilesType = "text/uri-list";
constexpr const char* kImageType = "image/png";

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string folders(path);
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    if (::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Runs a tool; its standard output captured into *output when given.
bool run_tool(std::vector<std::string> arguments, const std::vector<uint8_t>* input, std::string* output) {
  child_process::Request request;
  request.arguments = std::move(arguments);
  request.wait = true;
  if (input) {
    request.input.kind = child_process::Stream::Kind::kBytes;
    request.input.bytes = *input;
  }
  if (output) request.output.kind = child_process::Stream::Kind::kBytes;
  if (child_process::run(request) != 0) return false;
  if (output) output->assign(request.output.bytes.begin(), request.output.bytes.end());
  return true;
}

std::vector<std::string> paste_command(Tool tool, const std::string& type) {
  if (tool == Tool::kWayland) return {"wl-paste", "--no-newline", "--type", type};
  return {"xclip", "-selection", "clipboard", "-o", "-t", type};
}

std::vector<std::string> copy_command(Tool tool, const std::string& type) {
  if (tool == Tool::kWayland) return {"wl-copy", "--type", type};
  return {"xclip", "-selection", "clipboard", "-i", "-t", type};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool plain_in_uri(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

Tool system_tool() {
  if (set("WAYLAND_DISPLAY") && on_path("wl-copy") && on_path("wl-paste")) return Tool::kWayland;
  if (set("DISPLAY") && on_path("xclip")) return Tool::kX11;
  return Tool::kNone;
}

std::string uri_list(const std::vector<std::string>& paths) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string list;
  for (const std::string& path : paths) {
    list += "file://";
    for (unsigned char c : path) {
      if (plain_in_uri(c)) {
        list += static_cast<char>(c);
      } else {
        list += '%';
        list += kHex[c >> 4];
        list += kHex[c & 15];
      }
    }
    list += "\r\n";
  }
  return list;
}

std::vector<std::string> paths_of_uri_list(const std::string& list) {
  std::vector<std::string> paths;
  for (const std::string& line : lines_of(list)) {
    if (line.empty() || line[0] == '#') continue;
    std::string_view uri = line;
    if (uri.substr(0, 7) != "file://") continue;
    uri.remove_prefix(7);
    // file://host/path: the host (often empty, or localhost) goes.
    size_t slash = uri.find('/');
    if (slash == std::string_view::npos) continue;
    uri.remove_prefix(slash);
    std::string path;
    for (size_t i = 0; i < uri.size(); ++i) {
      if (uri[i] == '%' && i + 2 < uri.size() && hex_value(uri[i + 1]) >= 0 && hex_value(uri[i + 2]) >= 0) {
        path += static_cast<char>(hex_value(uri[i + 1]) * 16 + hex_value(uri[i + 2]));
        i += 2;
      } else {
        path += uri[i];
      }
    }
    paths.push_back(path);
  }
  return paths;
}

std::optional<Content> read(Tool tool) {
  Content content;
  if (tool == Tool::kNone) return content;
  std::string types_text;
  std::vector<std::string> list_types =
      tool == Tool::kWayland ? std::vector<std::string>{"wl-paste", "--list-types"}
                             : std::vector<std::string>{"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"};
  // A clipboard that holds nothing makes the tools fail: that is empty.
  if (!run_tool(list_types, nullptr, &types_text)) return content;
  std::vector<std::string> types = lines_of(types_text);
  auto offers = [&](const std::string& type) {
    for (const std::string& t : types)
      if (t == type) return true;
    return false;
  };
  for (const char* text_type : {kTextType, "text/plain", "UTF8_STRING", "STRING", "TEXT"}) {
    if (!offers(text_type)) continue;
    std::string text;
    if (!run_tool(paste_command(tool, text_type), nullptr, &text)) return std::nullopt;
    content.kind = Content::Kind::kText;
    for (char c : text)
      if (c != '\r') content.text += c;
    return content;
  }
  if (offers(kFilesType)) {
    std::string list;
    if (!run_tool(paste_command(tool, kFilesType), nullptr, &list)) return std::nullopt;
    content.kind = Content::Kind::kFiles;
    content.paths = paths_of_uri_list(list);
    return content;
  }
  if (offers(kImageType)) {
    std::string bytes;
    if (!run_tool(paste_command(tool, kImageType), nullptr, &bytes)) return std::nullopt;
    content.kind = Content::Kind::kImage;
    content.png.assign(bytes.begin(), bytes.end());
    return content;
  }
  content.kind = types.empty() ? Content::Kind::kEmpty : Content::Kind::kOther;
  return content;
}

bool write_text(Tool tool, const std::string& utf8) {
  if (tool == Tool::kNone) return false;
  std::vector<uint8_t> bytes(utf8.begin(), utf8.end());
  return run_tool(copy_command(tool, kTextType), &bytes, nullptr);
}

bool write_files(Tool tool, const std::vector<std::string>& paths) {
  if (tool == Tool::kNone) return false;
  std::string list = uri_list(paths);
  std::vector<uint8_t> bytes(list.begin(), list.end());
  return run_tool(copy_command(tool, kFilesType), &bytes, nullptr);
}

bool write_png(Tool tool, const std::vector<uint8_t>& png) {
  if (tool == Tool::kNone) return false;
  return run_tool(copy_command(tool, kImageType), &png, nullptr);
}

bool clear(Tool tool) {
  if (tool == Tool::kWayland) return run_tool({"wl-copy", "--clear"}, nullptr, nullptr);
  if (tool == Tool::kX11) {
    std::vector<uint8_t> nothing;
    return run_tool(copy_command(tool, kTextType), &nothing, nullptr);
  }
  return false;
}

}  // namespace kel::clipboard
