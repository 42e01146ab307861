// The terminal GUI's events (see widget_events.h).
#include "gui/terminal/widget_events.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "gui/faces.h"
#include "gui/terminal/widget_painter.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kel::tui {

using gui::faces::field;

namespace {

constexpr int32_t kDoubleClickMilliseconds = 500;
constexpr int32_t kRepeatLimitMilliseconds = 800;
constexpr int32_t kBackspace = 8, kDeleteBack = 127, kTab = 9, kLineFeed = 10, kEnter = 13, kSpace = 32;
constexpr int32_t kControlB = 2, kControlF = 6;

int32_t columns_of(std::u32string_view text) {
  int32_t columns = 0;
  for (char32_t c : text) columns += c < 0x20 ? 1 : std::max(unicode::char_width(c), 0);
  return columns;
}

std::string utf8_of(std::u32string_view text) {
  std::string bytes;
  for (char32_t c : text) {
    uint32_t code = c;
    if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += static_cast<char>(0xC0 | code >> 6);
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes += static_cast<char>(0xE0 | code >> 12);
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | code >> 18);
      bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return bytes;
}

bool is_key(int32_t type) { return type == event_type::kKey; }

}  // namespace

void EventRouter::redraw(uint32_t id) {
  Widget* widget = tree_.find(id);
  Widget* window = tree_.active_window();
  if (widget != nullptr && window != nullptr && widget->window == window->id) display_.mark_dirty();
}

void EventRouter::forget(uint32_t id) {
  if (hovered_ == id) hovered_ = 0;
  if (captured_ == id) captured_ = 0;
  pressed_.erase(std::remove(pressed_.begin(), pressed_.end(), id), pressed_.end());
  remove_timers(id);
}

bool EventRouter::deliver(uint32_t id, int32_t type, const EventDetails& details) {
  Widget* widget = tree_.find(id);
  if (widget == nullptr || widget->has(widget_flag::kDisabled)) return false;
  stack::Guard guard;
  Cell face = *stack::push(widget->face);  // kept alive while Kel code runs
  react(*widget, type, details);
  if (tree_.find(id) == nullptr) return false;
  return kel_.dispatch(face, type, details);
}

void EventRouter::focus(uint32_t id) {
  Widget* widget = tree_.find(id);
  if (widget == nullptr) return;
  uint32_t previous = 0;
  if (!tree_.focus(*widget, &previous)) return;
  display_.mark_dirty();
  EventDetails details;
  if (previous != 0) deliver(previous, event_type::kUnfocus, details);
  deliver(id, event_type::kFocus, details);
}

void EventRouter::build_ui(uint32_t id) {
  Widget* widget = tree_.find(id);
  if (widget == nullptr) return;
  const char* helper = nullptr;
  switch (widget->type) {
    case WidgetType::kProgress: helper = "make-progress-ui"; break;
    case WidgetType::kTextList: helper = "make-text-list-ui"; break;
    case WidgetType::kCheck: helper = "make-checkbox-ui"; break;
    case WidgetType::kRadio: helper = "make-radio-ui"; break;
    default: return;
  }
  stack::Guard guard;
  Cell face = *stack::push(widget->face);
  Cell ui = kel_.call_helper(helper, face);
  if (Widget* built = tree_.find(id)) built->ui_text = ui.is(TYPE_STRING) ? ui : make_cell(TYPE_NONE);
}

// --- Keys ---------------------------------------------------------------------------------

void EventRouter::key(int32_t key, uint32_t flags) {
  Widget* widget = tree_.focused_widget();
  if (widget == nullptr) widget = tree_.active_window();
  if (widget == nullptr || key == 0 || widget->has(widget_flag::kDisabled)) return;
  uint32_t id = widget->id;
  EventDetails details;
  details.key = key;
  details.special = (flags & event_flag::kSpecialKey) != 0;
  details.flags = flags & ~event_flag::kSpecialKey;
  stack::Guard guard;
  Cell face = *stack::push(widget->face);
  if (kel_.dispatch(face, event_type::kKeyDown, details)) return;
  if (tree_.find(id) == nullptr || kel_.dispatch(face, event_type::kKey, details)) return;
  if (Widget* still = tree_.find(id)) react(*still, event_type::kKey, details);
}

void EventRouter::react(Widget& widget, int32_t type, const EventDetails& details) {
  uint32_t id = widget.id;
  switch (widget.type) {
    case WidgetType::kButton:
      if (is_key(type)) {
        if (!details.special && details.key == kSpace) deliver(id, event_type::kClick, EventDetails{});
        redraw(id);
      }
      break;
    case WidgetType::kField:
    case WidgetType::kArea:
      if (is_key(type) || type == event_type::kClick) edit_field(widget, type, details);
      break;
    case WidgetType::kCheck:
    case WidgetType::kRadio:
      if ((is_key(type) && !details.special && details.key == kSpace) || type == event_type::kClick) toggle(widget);
      else if (type == event_type::kFocus || type == event_type::kUnfocus) redraw(id);
      break;
    case WidgetType::kTextList:
      if (is_key(type) || type == event_type::kClick) {
        move_list_selection(widget, type, details);
      } else if (type == event_type::kFocus || type == event_type::kUnfocus) {
        build_ui(id);
        redraw(id);
      }
      break;
    default:
      break;
  }
}

void EventRouter::edit_field(Widget& widget, int32_t type, const EventDetails& details) {
  uint32_t id = widget.id;
  stack::Guard guard;
  Cell face = *stack::push(widget.face);
  Cell text_cell = field(face, "text");
  if (!text_cell.is(TYPE_STRING)) {
    kel_.set_facet(face, "text", *string::load_cstr("", 0, string::kEncodingUtf8));
    text_cell = field(face, "text");
  }
  std::u32string text = code_points_of(text_cell);
  Widget* at = tree_.find(id);
  if (at == nullptr) return;
  int32_t length = static_cast<int32_t>(text.size());
  int32_t caret = std::clamp(at->caret_index, 0, length);
  bool changed = false;
  if (type == event_type::kClick) {
    // The caret goes before the character under the pointer.
    int32_t column = 0;
    caret = 0;
    while (caret < length) {
      int32_t width = columns_of(std::u32string_view(&text[caret], 1));
      if (column + width > static_cast<int32_t>(details.x)) break;
      column += width;
      ++caret;
    }
  } else {
    int32_t key = details.key;
    if (details.special) {
      if (key == special_key::kLeft) caret = std::max(caret - 1, 0);
      else if (key == special_key::kRight) caret = std::min(caret + 1, length);
    } else if (key == 0 || key == kTab || key == kEnter || key == kLineFeed) {
      return;  // left to the actors
    } else if (key == kControlB) {
      caret = std::max(caret - 1, 0);
    } else if (key == kControlF) {
      caret = std::min(caret + 1, length);
    } else if (key == kBackspace || key == kDeleteBack) {
      if (caret > 0) {
        text.erase(static_cast<size_t>(caret - 1), 1);
        --caret;
        changed = true;
      }
    } else if (key >= kSpace) {
      // A character goes in only while the text still fits the field.
      int32_t added = columns_of(std::u32string(1, static_cast<char32_t>(key)));
      if (columns_of(text) + added <= at->width()) {
        text.insert(static_cast<size_t>(caret), 1, static_cast<char32_t>(key));
        ++caret;
        changed = true;
      }
    } else {
      return;
    }
  }
  at->caret_index = caret;
  at->caret_column = columns_of(std::u32string_view(text).substr(0, static_cast<size_t>(caret)));
  if (changed) {
    std::string bytes = utf8_of(text);
    Cell updated = *string::load_cstr(bytes.data(), static_cast<uint32_t>(bytes.size()), string::kEncodingUtf8);
    kel_.set_facet(face, "text", updated);
  }
  display_.mark_dirty();
}

void EventRouter::toggle(Widget& widget) {
  uint32_t id = widget.id;
  stack::Guard guard;
  Cell face = *stack::push(widget.face);
  Cell data = field(face, "data");
  Cell value;
  if (widget.type == WidgetType::kRadio) value = logic::make(true);
  else if (data.is(TYPE_NONE)) value = logic::make(true);
  else if (data.is(TYPE_LOGIC)) value = logic::make(logic::get(data) == 0);
  else value = logic::make(false);
  kel_.set_facet(face, "data", value);
  build_ui(id);
  // Setting a radio button turns the others of its pane off; their looks
  // follow at once.
  Widget* set = tree_.find(id);
  if (set != nullptr && set->type == WidgetType::kRadio) {
    if (Widget* parent = tree_.find(set->parent)) {
      for (uint32_t sibling : tree_.children(*parent)) {
        Widget* other = tree_.find(sibling);
        if (sibling != id && other != nullptr && other->type == WidgetType::kRadio) build_ui(sibling);
      }
    }
  }
  redraw(id);
  deliver(id, event_type::kChange, EventDetails{});
}

void EventRouter::move_list_selection(Widget& widget, int32_t type, const EventDetails& details) {
  uint32_t id = widget.id;
  stack::Guard guard;
  Cell face = *stack::push(widget.face);
  Cell data = field(face, "data");
  if (!data.is(TYPE_BLOCK) && !data.is(TYPE_HASH)) return;
  int32_t count = static_cast<int32_t>(block::length_from_head(&data)) - static_cast<int32_t>(block::clamped_index(&data));
  Cell selected_cell = field(face, "selected");
  int32_t selected = selected_cell.is(TYPE_INTEGER) ? integer::get(selected_cell) : 0;
  int32_t chosen = selected;
  if (type == event_type::kClick) {
    chosen = widget.data + static_cast<int32_t>(details.y) + 1;
    if (chosen > count) return;
  } else if (details.special && details.key == special_key::kUp) {
    chosen = std::max(selected - 1, 1);
  } else if (details.special && details.key == special_key::kDown) {
    chosen = std::min(selected + 1, count);
  } else {
    return;
  }
  if (chosen == selected || chosen < 1) return;
  // The selection stays in the rows the list shows.
  int32_t height = std::max(widget.height(), 1);
  if (chosen - 1 < widget.data) widget.data = chosen - 1;
  if (chosen - 1 >= widget.data + height) widget.data = chosen - height;
  EventDetails picked;
  picked.picked = chosen;
  bool done = kel_.dispatch(face, event_type::kSelect, picked);
  Cell now = field(face, "selected");
  bool unchanged = now.is(TYPE_INTEGER) ? integer::get(now) == selected : selected == 0;
  if (!unchanged || tree_.find(id) == nullptr) return;
  kel_.set_facet(face, "selected", integer::make(chosen));
  build_ui(id);
  redraw(id);
  if (!done) deliver(id, event_type::kChange, picked);
}

// --- The mouse -------------------------------------------------------------------------------

void EventRouter::mouse(const MouseAction& action) {
  Widget* window = tree_.active_window();
  if (window == nullptr) return;
  switch (action.kind) {
    case MouseAction::Kind::kButton: button_event(window->id, action); break;
    case MouseAction::Kind::kMotion: motion(window->id, action); break;
    case MouseAction::Kind::kWheel: {
      std::vector<uint32_t> path = tree_.path_at(window->id, action.x, action.y);
      for (auto id = path.rbegin(); id != path.rend(); ++id) {
        Widget* widget = tree_.find(*id);
        if (widget == nullptr || widget->has(widget_flag::kDisabled)) continue;
        CellRect box = tree_.absolute_box(*widget);
        EventDetails details;
        details.flags = action.flags;
        details.x = action.x - static_cast<float>(box.x1);
        details.y = action.y - static_cast<float>(box.y1);
        details.picked = action.picked;
        details.wheel = true;
        deliver(*id, event_type::kWheel, details);
        break;
      }
      break;
    }
    case MouseAction::Kind::kNone: break;
  }
}

void EventRouter::button_event(uint32_t window, const MouseAction& action) {
  std::vector<uint32_t> path = tree_.path_at(window, action.x, action.y);
  if (path.empty()) return;
  uint32_t deepest = path.back();
  auto details_for = [&](uint32_t id) {
    EventDetails details;
    details.flags = action.flags;
    if (Widget* widget = tree_.find(id)) {
      CellRect box = tree_.absolute_box(*widget);
      details.x = action.x - static_cast<float>(box.x1);
      details.y = action.y - static_cast<float>(box.y1);
    }
    return details;
  };
  bool going_down = action.type == event_type::kDown || action.type == event_type::kMidDown ||
                    action.type == event_type::kAltDown;
  if (going_down) {
    captured_ = hovered_ != 0 ? hovered_ : deepest;
    pressed_ = path;
    deliver(deepest, action.type, details_for(deepest));
    return;
  }
  deliver(deepest, action.type, details_for(deepest));
  if (action.type == event_type::kUp && std::find(pressed_.begin(), pressed_.end(), deepest) != pressed_.end()) {
    bool double_click = press_state_ == 2 && repeat_milliseconds_ < kDoubleClickMilliseconds;
    EventDetails details = details_for(deepest);
    bool done = deliver(deepest, event_type::kClick, details);
    if (double_click && !done) deliver(deepest, event_type::kDoubleClick, details);
    if (double_click) press_state_ = 10;
    Widget* hit = tree_.find(deepest);
    if (hit != nullptr && hit->has(widget_flag::kFocusable) && !hit->has(widget_flag::kFocused)) focus(deepest);
  }
  if (Widget* captured = tree_.find(captured_)) {
    if (captured->has(widget_flag::kLeftWhileCaptured) && captured_ != deepest) {
      captured->flags &= ~widget_flag::kLeftWhileCaptured;
      deliver(captured_, action.type, details_for(captured_));
    }
  }
  captured_ = 0;
  pressed_.clear();
  press_state_ = press_state_ == 10 ? 0 : 2;
  repeat_milliseconds_ = 0;
}

void EventRouter::motion(uint32_t window, const MouseAction& action) {
  std::vector<uint32_t> path = tree_.path_at(window, action.x, action.y);
  if (path.empty()) return;
  uint32_t deepest = path.back();
  auto details_for = [&](uint32_t id, float x, float y, uint32_t extra) {
    EventDetails details;
    details.flags = action.flags | extra;
    if (Widget* widget = tree_.find(id)) {
      CellRect box = tree_.absolute_box(*widget);
      details.x = x - static_cast<float>(box.x1);
      details.y = y - static_cast<float>(box.y1);
    }
    return details;
  };
  if (deepest != hovered_) {
    if (Widget* old = tree_.find(hovered_)) {
      if (hovered_ == captured_) old->flags |= widget_flag::kLeftWhileCaptured;
      deliver(hovered_, event_type::kOver, details_for(hovered_, last_x_, last_y_, event_flag::kAway));
    }
    if (Widget* entered = tree_.find(deepest)) {
      entered->flags &= ~widget_flag::kLeftWhileCaptured;
      deliver(deepest, event_type::kOver, details_for(deepest, action.x, action.y, 0));
    }
    hovered_ = deepest;
  } else if (Widget* same = tree_.find(deepest); same != nullptr && same->has(widget_flag::kAllOver)) {
    deliver(deepest, event_type::kOver, details_for(deepest, action.x, action.y, 0));
  }
  last_x_ = action.x;
  last_y_ = action.y;
}

// --- Timers -------------------------------------------------------------------------------

int32_t EventRouter::rate_period(const Cell& rate) {
  if (rate.is(TYPE_NONE)) return 0;
  if (rate.is(TYPE_INTEGER) && integer::get(rate) > 0) return std::max(1000 / integer::get(rate), 1);
  if (rate.is(TYPE_TIME) && rate.as_double() > 0) return std::max(static_cast<int32_t>(rate.as_double() * 1000), 1);
  Cell value = rate;
  fire(ErrorId::script_invalid_facet_type, &value);
}

void EventRouter::set_rate(uint32_t widget, const Cell& rate) {
  int32_t period = rate_period(rate);
  remove_timers(widget);
  if (period > 0) timers_.push_back(Timer{widget, period, 0});
}

void EventRouter::remove_timers(uint32_t widget) {
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& timer) { return timer.widget == widget; }),
                timers_.end());
}

void EventRouter::run_timers(int32_t tick) {
  if (press_state_ == 2 && repeat_milliseconds_ < kRepeatLimitMilliseconds) repeat_milliseconds_ += tick;
  // A time event may add or remove timers: the due ones are chosen first.
  std::vector<uint32_t> due;
  for (Timer& timer : timers_) {
    timer.accumulated += tick;
    if (timer.accumulated >= timer.period) {
      timer.accumulated = 0;
      due.push_back(timer.widget);
    }
  }
  for (uint32_t widget : due) deliver(widget, event_type::kTime, EventDetails{});
}

}  // namespace kel::tui
