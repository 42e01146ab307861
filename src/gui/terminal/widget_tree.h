// The terminal GUI's widgets: one small record per shown face, holding its
// box in cells, its flags and what its type needs (a field's caret, a text
// list's first shown row, the text the framework's helpers build for it),
// and the windows they belong to.
//
// A widget is known by its id, which is also the value of the handle! the
// face keeps at the head of its `state` block; a face leads to its widget
// only through that handle, and only while the widget's own face is that
// same object, so a stale or copied handle finds nothing. Boxes are relative
// to the parent widget (a window's box starts at 0x0); the children of a
// widget are the widgets of the faces in its face's `pane`, read when they
// are needed, so that the pane's order is always the painting order.
//
// The tree holds face cells outside the collected heap: mark() marks them.
// It reads faces and never runs Kel code; what must run Kel code (events,
// the helpers that build UI texts) is the caller's.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "gui/terminal/screen.h"
#include "runtime/cell.h"

namespace kel::tui {

// Widget flags.
namespace widget_flag {
constexpr uint32_t kSizeGiven = 0x10000;
constexpr uint32_t kHidden = 0x20000;
constexpr uint32_t kDisabled = 0x40000;
constexpr uint32_t kAllOver = 0x100000;
constexpr uint32_t kShowsCaret = 0x200000;
constexpr uint32_t kFocusable = 0x400000;
constexpr uint32_t kLeftWhileCaptured = 0x1000000;
constexpr uint32_t kFocused = 0x2000000;
constexpr uint32_t kPassword = 0x10000000;
constexpr uint32_t kFullScreen = 0x40000000;
constexpr uint32_t kNamesCaretFace = 0x80000000;
}  // namespace widget_flag

// The face flag words as bits (the `flags` facet).
namespace face_flag {
constexpr uint32_t kAllOver = 0x1, kFocusable = 0x2, kTriState = 0x20000, kScrollable = 0x40000;
constexpr uint32_t kPassword = 0x80000, kNoSync = 0x100000, kFullScreen = 0x200000, kPopup = 0x1000000;
constexpr uint32_t kModal = 0x2000000, kResize = 0x4000000, kNoButtons = 0x8000000, kNoMax = 0x10000000;
constexpr uint32_t kNoMin = 0x20000000, kNoTitle = 0x40000000, kNoBorder = 0x80000000;
}  // namespace face_flag

// The change bits a face keeps in its state block (bit n-1 for facet n).
namespace facet_bit {
constexpr uint32_t kOffset = 0x2, kSize = 0x4, kImage = 0x10, kData = 0x80, kEnabled = 0x100;
constexpr uint32_t kVisible = 0x200, kSelected = 0x400, kFlags = 0x800, kRate = 0x10000, kPara = 0x40000;
}  // namespace facet_bit

enum class WidgetType : uint8_t {
  kOther, kWindow, kBase, kText, kButton, kField, kArea, kCheck, kRadio, kProgress, kTextList,
  kRichText, kGroupBox, kPanel, kTabPanel, kDropDown, kDropList, kSlider,
};

struct Widget {
  uint32_t id = 0;
  WidgetType type = WidgetType::kOther;
  uint32_t flags = 0;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // cells, relative to the parent
  uint32_t parent = 0;                   // 0 for a window
  uint32_t window = 0;                   // the window widget it belongs to (itself for a window)
  Cell face;
  Cell ui_text;                          // a string!, or none
  int32_t data = 0;                      // a text list's first shown row
  int32_t caret_index = 0;               // a field's caret, in characters
  int32_t caret_column = 0;              // and in cells
  uint32_t caret_face_widget = 0;        // a base that names a caret face: that face's widget

  bool has(uint32_t flag) const { return (flags & flag) != 0; }
  int32_t width() const { return static_cast<int32_t>(x2 - x1); }
  int32_t height() const { return static_cast<int32_t>(y2 - y1); }
};

struct WindowRecord {
  uint32_t widget = 0;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // the window's box, grown to hold its children
  uint32_t focused = 0;                  // the widget with the focus, 0 for none
  int32_t caret_widgets = 0;
};

// The type of a face's `type` word.
WidgetType widget_type_of(const Cell& type_word);
// The bits of a `flags` facet (a word or a block of words); an unknown
// word raises invalid-arg.
uint32_t face_flags(const Cell& flags);
// Reads a pair! or point2D! as two floats; false for anything else.
bool read_point(const Cell& value, float* x, float* y);

class WidgetTree {
 public:
  // A widget for the face under the parent widget (0: none, for a window),
  // set up from the face's facets; its id.
  uint32_t make(const Cell& face, uint32_t parent);
  // The widget of a face, or nullptr.
  Widget* widget_of(const Cell& face);
  Widget* find(uint32_t id);
  // Forgets a widget (a window also leaves the window list).
  void release(uint32_t id);
  // Re-reads the facets the change bits name: offset, size, enabled?,
  // visible?, flags.
  void apply_changes(Widget& widget, uint32_t bits);

  // The windows, oldest first; the active one is the newest.
  const std::vector<WindowRecord>& windows() const { return windows_; }
  WindowRecord* window_record(uint32_t window_widget);
  Widget* active_window();
  // Makes the window the active one (the newest).
  void activate(uint32_t window_widget);

  // Moves the focus of the widget's window to it; the widget that had it
  // (0 for none) goes to *previous. False when it had the focus already.
  bool focus(Widget& widget, uint32_t* previous);
  Widget* focused_widget();

  // The widget's top-left cell relative to its window.
  CellRect absolute_box(const Widget& widget);
  // The widgets of the faces in the widget's pane, in pane order.
  std::vector<uint32_t> children(const Widget& widget);
  // Whether the widget and every ancestor are visible.
  bool shown(const Widget& widget);
  // Whether ancestor is the widget or one of its ancestors.
  bool descends_from(const Widget& widget, uint32_t ancestor);
  // The path from the window down to the deepest visible widget under the
  // point (cells relative to the window); empty outside it.
  std::vector<uint32_t> path_at(uint32_t window, float x, float y);

  void mark();

 private:
  std::unordered_map<uint32_t, std::unique_ptr<Widget>> widgets_;
  std::vector<WindowRecord> windows_;
  uint32_t last_id_ = 0;

  void read_box(Widget& widget, bool keep_size);
};

}  // namespace kel::tui
