// Where the terminal GUI runs Kel code: an event handed to
// `system/view/awake`, a facet set as a script would set it (so the face's
// change handlers run), and the framework's TUI helpers that build the UI
// texts of progress bars, text lists, check boxes and radio buttons.
//
// Every call goes through a few small Kel functions made on first use and
// held here (marked by mark()): events through do-safe, so an error or a
// throw in an actor is printed and the loop goes on, and a halt asked from
// the console ends one level of the loop; the helpers with the view's
// auto-sync switched off, so the facets they set do not come back to the
// backend as updates while it is updating.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::tui {

// An event's details as the backend knows them.
struct EventDetails {
  int32_t key = 0;       // a code point, or a special key's negative code
  bool special = false;  // the key is a special key
  uint32_t flags = 0;    // the flag bits (modifiers, down, away)
  float x = 0, y = 0;    // cells, relative to the widget
  int32_t picked = 0;
  bool wheel = false;    // picked is a wheel step (a float in the event)
};

class KelBridge {
 public:
  // Hands the event to `system/view/awake`; true when it answered done.
  bool dispatch(const Cell& face, int32_t type_code, const EventDetails& details);
  // face/<name>: value, through the face's change handlers; errors are
  // printed.
  void set_facet(const Cell& face, const char* name, const Cell& value);
  // Sets the field without running the object's change handlers.
  void set_facet_quietly(const Cell& object, const char* name, const Cell& value);
  // Takes the face off the face lists of its font and para.
  void unlink_shared(const Cell& face);
  // TUI-helpers/request-file or request-dir with the name (or folder), the
  // two flags and none for the rest; the chosen value or none.
  Cell request(const char* name, const Cell& value, bool first_flag, bool second_flag);
  // TUI-helpers/<name> face, with auto-sync off; its result (none after an
  // error).
  Cell call_helper(const char* name, const Cell& face);
  // The terminal's color level (TUI-helpers/check-color-support), asked
  // once.
  int32_t color_level();
  void mark();

 private:
  Cell helpers_ = make_cell(TYPE_NONE);
  int32_t color_level_ = 0;
  Cell helper(const char* name);
};

}  // namespace kel::tui
