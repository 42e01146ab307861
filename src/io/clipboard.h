// The desktop's clipboard through its command-line tools: wl-copy and
// wl-paste on a Wayland desktop (WAYLAND_DISPLAY set), xclip on an X
// desktop (DISPLAY set), when they are on PATH.
//
// Text crosses as text/plain;charset=utf-8, lists of files as
// text/uri-list (file:// URIs, one a line, CR LF between them), images as
// image/png. Nothing here
// touches cells: the routines (library/clipboard_routines.cpp) turn values
// into texts and paths and back, and keep an in-process store for when no
// tool is there, so a value written reads back on a machine without a
// desktop too. The tool is looked up at each use, so a desktop that appears
// or goes while the process runs is followed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kel::clipboard {

enum class Tool { kNone, kWayland, kX11 };

// The tool of the desktop this process runs on, or kNone.
Tool system_tool();

struct Content {
  enum class Kind { kEmpty, kText, kFiles, kImage, kOther };
  Kind kind = Kind::kEmpty;
  std::string text;                // kText: UTF-8, every CR dropped
  std::vector<std::string> paths;  // kFiles: the operating system's paths
  std::vector<uint8_t> png;        // kImage: the bytes offered as image/png
};

// What the clipboard holds: text when it offers text, else files when it
// offers a list of them, else a PNG image when it offers one, else kOther
// or kEmpty. nullopt
// when the tool failed to give what it offered.
std::optional<Content> read(Tool tool);

// Puts text, or a list of files, on the clipboard, or empties it; true when
// the tool took it.
bool write_text(Tool tool, const std::string& utf8);
bool write_files(Tool tool, const std::vector<std::string>& paths);
bool write_png(Tool tool, const std::vector<uint8_t>& png);
bool clear(Tool tool);

// A text/uri-list of paths, and the paths of the file URIs of one (other
// URIs and comment lines are left out).
std::string uri_list(const std::vector<std::string>& paths);
std::vector<std::string> paths_of_uri_list(const std::string& list);

}  // namespace kel::clipboard
