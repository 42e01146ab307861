// The terminal GUI's widgets and windows (see widget_tree.h).
#include "gui/terminal/widget_tree.h"

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/word.h"
#include "gui/faces.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/symbol_table.h"

namespace kel::tui {

using gui::faces::field;
using gui::faces::is_word;

namespace {

struct TypeName {
  const char* name;
  WidgetType type;
};
constexpr TypeName kTypeNames[] = {
    {"window", WidgetType::kWindow},       {"base", WidgetType::kBase},
    {"text", WidgetType::kText},           {"button", WidgetType::kButton},
    {"field", WidgetType::kField},         {"area", WidgetType::kArea},
    {"check", WidgetType::kCheck},         {"radio", WidgetType::kRadio},
    {"progress", WidgetType::kProgress},   {"text-list", WidgetType::kTextList},
    {"rich-text", WidgetType::kRichText},  {"group-box", WidgetType::kGroupBox},
    {"panel", WidgetType::kPanel},         {"tab-panel", WidgetType::kTabPanel},
    {"drop-down", WidgetType::kDropDown},  {"drop-list", WidgetType::kDropList},
    {"slider", WidgetType::kSlider},
};

struct FlagName {
  const char* name;
  uint32_t bit;
};
constexpr FlagName kFlagNames[] = {
    {"all-over", face_flag::kAllOver},     {"focusable", face_flag::kFocusable},
    {"tri-state", face_flag::kTriState},   {"scrollable", face_flag::kScrollable},
    {"password", face_flag::kPassword},    {"no-sync", face_flag::kNoSync},
    {"fullscreen", face_flag::kFullScreen}, {"popup", face_flag::kPopup},
    {"modal", face_flag::kModal},          {"resize", face_flag::kResize},
    {"no-buttons", face_flag::kNoButtons}, {"no-max", face_flag::kNoMax},
    {"no-min", face_flag::kNoMin},         {"no-title", face_flag::kNoTitle},
    {"no-border", face_flag::kNoBorder},
};

uint32_t flag_of_word(const Cell& word) {
  for (const FlagName& flag : kFlagNames)
    if (is_word(word, flag.name)) return flag.bit;
  Cell argument = word;
  fire(ErrorId::script_invalid_arg, &argument);
}

// The widget flags the face flags and the face's logic facets give.
uint32_t flags_from_face(const Cell& face) {
  uint32_t bits = face_flags(field(face, "flags"));
  uint32_t flags = 0;
  if (bits & face_flag::kAllOver) flags |= widget_flag::kAllOver;
  if (bits & face_flag::kPassword) flags |= widget_flag::kPassword;
  if (bits & face_flag::kFocusable) flags |= widget_flag::kFocusable;
  if (bits & face_flag::kFullScreen) flags |= widget_flag::kFullScreen;
  Cell visible = field(face, "visible?");
  if (!visible.is(TYPE_LOGIC) || logic::get(visible) == 0) flags |= widget_flag::kHidden;
  Cell enabled = field(face, "enabled?");
  if (!enabled.is(TYPE_LOGIC) || logic::get(enabled) == 0) flags |= widget_flag::kDisabled;
  return flags;
}

// Whether a face's `options` block holds the word (as a word or set-word).
bool options_hold(const Cell& face, const char* name) {
  Cell options = field(face, "options");
  if (!options.is(TYPE_BLOCK)) return false;
  for (uint32_t i = block::clamped_index(&options); i < block::length_from_head(&options); ++i)
    if (is_word(*block::rs_abs_at(&options, i), name)) return true;
  return false;
}

}  // namespace

WidgetType widget_type_of(const Cell& type_word) {
  for (const TypeName& entry : kTypeNames)
    if (is_word(type_word, entry.name)) return entry.type;
  return WidgetType::kOther;
}

uint32_t face_flags(const Cell& flags) {
  if (word::is_any_word(flags.type())) return flag_of_word(flags);
  if (!flags.is(TYPE_BLOCK)) return 0;
  uint32_t bits = 0;
  for (uint32_t i = block::clamped_index(&flags); i < block::length_from_head(&flags); ++i) {
    Cell element = *block::rs_abs_at(&flags, i);
    if (word::is_any_word(element.type())) bits |= flag_of_word(element);
  }
  return bits;
}

bool read_point(const Cell& value, float* x, float* y) {
  if (value.is(TYPE_PAIR)) {
    *x = static_cast<float>(pair::x_of(value));
    *y = static_cast<float>(pair::y_of(value));
    return true;
  }
  if (value.is(TYPE_POINT2D)) {
    *x = point2d::x_of(value);
    *y = point2d::y_of(value);
    return true;
  }
  return false;
}

void WidgetTree::read_box(Widget& widget, bool keep_size) {
  float width = widget.x2 - widget.x1, height = widget.y2 - widget.y1;
  float x = 0, y = 0;
  if (widget.type != WidgetType::kWindow) read_point(field(widget.face, "offset"), &x, &y);
  if (!keep_size) {
    Cell size = field(widget.face, "size");
    width = height = 0;
    if (read_point(size, &width, &height)) {
      if (size.is(TYPE_PAIR)) widget.flags |= widget_flag::kSizeGiven;
    }
    if (widget.type == WidgetType::kField) height = std::min(height, 1.0f);
  }
  widget.x1 = x;
  widget.y1 = y;
  widget.x2 = x + std::max(width, 0.0f);
  widget.y2 = y + std::max(height, 0.0f);
}

uint32_t WidgetTree::make(const Cell& face, uint32_t parent) {
  auto widget = std::make_unique<Widget>();
  widget->face = face;
  widget->ui_text = make_cell(TYPE_NONE);
  widget->type = widget_type_of(field(face, "type"));
  widget->flags = flags_from_face(face);
  widget->parent = parent;
  read_box(*widget, false);
  uint32_t id = ++last_id_;
  widget->id = id;
  Widget* parent_widget = find(parent);
  widget->window = widget->type == WidgetType::kWindow ? id : parent_widget != nullptr ? parent_widget->window : 0;
  if (widget->type == WidgetType::kField) widget->flags |= widget_flag::kShowsCaret;
  if (widget->type == WidgetType::kBase && options_hold(face, "caret")) widget->flags |= widget_flag::kNamesCaretFace;
  Widget& made = *widget;
  widgets_.emplace(id, std::move(widget));
  if (made.type == WidgetType::kWindow) {
    WindowRecord record;
    record.widget = id;
    record.x2 = made.x2;
    record.y2 = made.y2;
    windows_.push_back(record);
  } else if (WindowRecord* record = window_record(made.window)) {
    // A window grows to hold the widgets placed right in it.
    if (parent_widget != nullptr && parent_widget->type == WidgetType::kWindow) {
      record->x2 = std::max(record->x2, made.x2);
      record->y2 = std::max(record->y2, made.y2);
    }
    if (made.has(widget_flag::kShowsCaret)) ++record->caret_widgets;
  }
  return id;
}

Widget* WidgetTree::find(uint32_t id) {
  if (id == 0) return nullptr;
  auto found = widgets_.find(id);
  return found == widgets_.end() ? nullptr : found->second.get();
}

Widget* WidgetTree::widget_of(const Cell& face) {
  Cell state = field(face, "state");
  if (!state.is(TYPE_BLOCK) || block::length_from_head(&state) < 1) return nullptr;
  Cell handle = *block::rs_abs_at(&state, 0);
  if (!handle.is(TYPE_HANDLE)) return nullptr;
  Widget* widget = find(handle.data2);
  if (widget == nullptr || !gui::faces::same_object(widget->face, face)) return nullptr;
  return widget;
}

void WidgetTree::release(uint32_t id) {
  Widget* widget = find(id);
  if (widget == nullptr) return;
  if (WindowRecord* record = window_record(widget->window)) {
    if (record->focused == id) record->focused = 0;
    if (widget->has(widget_flag::kShowsCaret) && widget->type != WidgetType::kWindow) --record->caret_widgets;
  }
  if (widget->type == WidgetType::kWindow) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                  [&](const WindowRecord& record) { return record.widget == id; }),
                   windows_.end());
  }
  widgets_.erase(id);
}

void WidgetTree::apply_changes(Widget& widget, uint32_t bits) {
  if (bits & (facet_bit::kOffset | facet_bit::kSize)) {
    read_box(widget, (bits & facet_bit::kSize) == 0);
    if (widget.type == WidgetType::kWindow && (bits & facet_bit::kSize)) {
      if (WindowRecord* record = window_record(widget.id)) {
        record->x2 = widget.x2;
        record->y2 = widget.y2;
      }
    }
  }
  constexpr uint32_t kFromFace = widget_flag::kHidden | widget_flag::kDisabled | widget_flag::kAllOver |
                                 widget_flag::kPassword | widget_flag::kFocusable | widget_flag::kFullScreen;
  if (bits & (facet_bit::kEnabled | facet_bit::kVisible | facet_bit::kFlags)) {
    widget.flags = (widget.flags & ~kFromFace) | (flags_from_face(widget.face) & kFromFace);
  }
}

WindowRecord* WidgetTree::window_record(uint32_t window_widget) {
  for (WindowRecord& record : windows_)
    if (record.widget == window_widget) return &record;
  return nullptr;
}

void WidgetTree::activate(uint32_t window_widget) {
  auto found = std::find_if(windows_.begin(), windows_.end(),
                            [&](const WindowRecord& record) { return record.widget == window_widget; });
  if (found == windows_.end()) return;
  WindowRecord record = *found;
  windows_.erase(found);
  windows_.push_back(record);
}

Widget* WidgetTree::active_window() { return windows_.empty() ? nullptr : find(windows_.back().widget); }

bool WidgetTree::focus(Widget& widget, uint32_t* previous) {
  WindowRecord* record = window_record(widget.window);
  *previous = 0;
  if (record == nullptr || record->focused == widget.id) return false;
  if (Widget* old = find(record->focused)) {
    old->flags &= ~widget_flag::kFocused;
    *previous = old->id;
  }
  record->focused = widget.id;
  widget.flags |= widget_flag::kFocused;
  return true;
}

Widget* WidgetTree::focused_widget() {
  if (windows_.empty()) return nullptr;
  return find(windows_.back().focused);
}

CellRect WidgetTree::absolute_box(const Widget& widget) {
  float x = 0, y = 0;
  for (const Widget* at = &widget; at != nullptr && at->type != WidgetType::kWindow; at = find(at->parent)) {
    x += at->x1;
    y += at->y1;
  }
  int32_t left = static_cast<int32_t>(x), top = static_cast<int32_t>(y);
  return CellRect{left, top, left + widget.width(), top + widget.height()};
}

std::vector<uint32_t> WidgetTree::children(const Widget& widget) {
  std::vector<uint32_t> ids;
  Cell pane = field(widget.face, "pane");
  if (!pane.is(TYPE_BLOCK)) return ids;
  for (uint32_t i = block::clamped_index(&pane); i < block::length_from_head(&pane); ++i) {
    Widget* child = widget_of(*block::rs_abs_at(&pane, i));
    if (child != nullptr && child->parent == widget.id) ids.push_back(child->id);
  }
  return ids;
}

bool WidgetTree::shown(const Widget& widget) {
  for (const Widget* at = &widget; at != nullptr; at = find(at->parent))
    if (at->has(widget_flag::kHidden)) return false;
  return true;
}

bool WidgetTree::descends_from(const Widget& widget, uint32_t ancestor) {
  for (const Widget* at = &widget; at != nullptr; at = find(at->parent))
    if (at->id == ancestor) return true;
  return false;
}

std::vector<uint32_t> WidgetTree::path_at(uint32_t window, float x, float y) {
  std::vector<uint32_t> path;
  Widget* at = find(window);
  if (at == nullptr || at->has(widget_flag::kHidden)) return path;
  path.push_back(at->id);
  for (;;) {
    std::vector<uint32_t> ids = children(*at);
    Widget* hit = nullptr;
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
      Widget* child = find(*id);
      if (child == nullptr || child->has(widget_flag::kHidden)) continue;
      if (x >= child->x1 && x < child->x2 && y >= child->y1 && y < child->y2) {
        hit = child;
        break;
      }
    }
    if (hit == nullptr) return path;
    x -= hit->x1;
    y -= hit->y1;
    path.push_back(hit->id);
    at = hit;
  }
}

void WidgetTree::mark() {
  for (auto& [id, widget] : widgets_) {
    collector::mark_value(widget->face);
    collector::mark_value(widget->ui_text);
  }
}

}  // namespace kel::tui
