// The terminal platform (see terminal_platform.h).
#include "gui/terminal/terminal_platform.h"

#include <unistd.h>

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/tuple.h"
#include "gui/faces.h"
#include "gui/terminal/draw_dialect.h"
#include "gui/terminal/real_terminal.h"
#include "gui/terminal/text_cells.h"
#include "gui/terminal/widget_painter.h"
#include "runtime/output.h"
#include "runtime/output_hooks.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/upcalls.h"

namespace kel::tui {

using gui::faces::field;
using gui::faces::is_word;

namespace {

Cell none_cell() { return make_cell(TYPE_NONE); }

// While the outermost loop shows the GUI, printing erases it first; the
// next frame draws it again below what was printed.
Display* printing_display = nullptr;
void print_below_gui(const Cell* string, bool newline) {
  if (printing_display != nullptr) printing_display->suspend_output();
  output_hooks::print_to_console(string, newline);
  output::flush();
  if (printing_display != nullptr) printing_display->resume_output();
}

// system/view/platform/mouse-event?
bool mouse_reporting_asked() {
  Cell* system = context::global_slot(symbol::resolve(symbol::make("system")));
  if (system == nullptr) return false;
  Cell flag = field(field(field(*system, "view"), "platform"), "mouse-event?");
  return flag.is(TYPE_LOGIC) && logic::get(flag) != 0;
}

// The state block's change bits (its second value), or nullptr.
Cell* change_bits(const Cell& face) {
  Cell state = field(face, "state");
  if (!state.is(TYPE_BLOCK) || block::length_from_head(&state) < 2) return nullptr;
  Cell* bits = block::rs_abs_at(&state, 1);
  return bits->is(TYPE_INTEGER) ? bits : nullptr;
}

// Text laid out in cells as the painter lays it, wrapping at width (0: no
// limit): the column and line where each code point starts.
struct LaidOutText {
  std::vector<CellPoint> starts;  // one per code point, then the end
  int32_t columns = 0;
  int32_t lines = 1;
};
LaidOutText lay_out(std::u32string_view text, int32_t width) {
  LaidOutText layout;
  int32_t column = 0, line = 0;
  for (char32_t c : text) {
    if (c == U'\n') {
      layout.starts.push_back(CellPoint{column, line});
      column = 0;
      ++line;
      continue;
    }
    int32_t cells = c < 0x20 ? 1 : std::max(measure_text(std::u32string_view(&c, 1), 0, false).columns, 0);
    if (width > 0 && column > 0 && column + cells > width) {
      column = 0;
      ++line;
    }
    layout.starts.push_back(CellPoint{column, line});
    column += cells;
    layout.columns = std::max(layout.columns, column);
  }
  layout.starts.push_back(CellPoint{column, line});
  layout.lines = line + 1;
  return layout;
}

}  // namespace

// The outermost loop's hold on the terminal; the nesting level and the
// count of running loops are put back on every way out.
class TerminalPlatform::OutermostLoop {
 public:
  OutermostLoop(TerminalPlatform& platform, bool outermost, int32_t level)
      : platform_(platform), outermost_(outermost), level_(level) {
    ++platform_.running_loops_;
    if (!outermost_) return;
    platform_.frames_->enter(mouse_reporting_asked());
    size_t hooks = output_hooks::print_hook_count();
    output_hooks::remove(output_hooks::print_to_console, nullptr);
    replaced_printing_ = output_hooks::print_hook_count() < hooks;
    if (replaced_printing_) {
      output_hooks::add(print_below_gui, nullptr);
      printing_display = &platform_.frames_->display();
    }
  }
  ~OutermostLoop() {
    --platform_.running_loops_;
    if (platform_.nesting_ > level_) platform_.nesting_ = level_;
    if (!outermost_) return;
    if (replaced_printing_) {
      output_hooks::remove(print_below_gui, nullptr);
      output_hooks::add(output_hooks::print_to_console, nullptr);
      printing_display = nullptr;
    }
    platform_.frames_->leave();
    platform_.frames_->display().set_mode(DisplayMode::kInline);
    if (platform_.any_full_screen_window()) platform_.frames_->display().set_mode(DisplayMode::kFullScreen);
  }

 private:
  TerminalPlatform& platform_;
  bool outermost_;
  int32_t level_;
  bool replaced_printing_ = false;
};

TerminalPlatform::TerminalPlatform() { use_terminal(nullptr); }
TerminalPlatform::~TerminalPlatform() = default;

void TerminalPlatform::use_terminal(TerminalIO* io) {
  if (io == nullptr) {
    if (own_terminal_ == nullptr) own_terminal_ = std::make_unique<RealTerminal>(STDIN_FILENO, STDOUT_FILENO);
    io = own_terminal_.get();
  }
  io_ = io;
  frames_ = std::make_unique<TerminalFrames>(*io_);
  router_ = std::make_unique<EventRouter>(tree_, kel_, frames_->display());
  if (any_full_screen_window()) frames_->display().set_mode(DisplayMode::kFullScreen);
}

void TerminalPlatform::restore_terminal() {
  if (frames_ != nullptr) frames_->leave();
}

bool TerminalPlatform::any_full_screen_window() {
  for (const WindowRecord& record : tree_.windows()) {
    Widget* window = tree_.find(record.widget);
    if (window != nullptr && window->has(widget_flag::kFullScreen)) return true;
  }
  return false;
}

void TerminalPlatform::sync_window_size() {
  Display& display = frames_->display();
  Widget* window = tree_.active_window();
  if (window == nullptr) {
    display.set_window_size(0, 0);
    return;
  }
  if (display.mode() == DisplayMode::kFullScreen) {
    display.set_window_size(display.console_columns(), display.console_rows());
    return;
  }
  WindowRecord* record = tree_.window_record(window->id);
  display.set_window_size(static_cast<int32_t>(record->x2), static_cast<int32_t>(record->y2));
}

void TerminalPlatform::present_now() {
  sync_window_size();
  frames_->display().mark_dirty();
  frames_->display().present([&](Screen& screen) { render(screen, frames_->display()); });
}

// --- Start-up and screens -------------------------------------------------------------

gui::PlatformIdentity TerminalPlatform::start() {
  Cell version = make_cell(TYPE_TUPLE);
  const uint8_t bytes[3] = {10, 10, 10};
  tuple::set_bytes(&version, bytes, 3);
  return gui::PlatformIdentity{version, 1000, 0};
}

Cell TerminalPlatform::make_null_handle() { return handle::make_value(0, 0); }
Cell TerminalPlatform::fetch_all_screens() { return none_cell(); }

Cell TerminalPlatform::get_screen_size(int32_t) {
  int32_t columns = 80, rows = 24;
  if (!io_->size(&columns, &rows) || columns <= 0 || rows <= 0) {
    columns = 80;
    rows = 24;
  }
  return pair::make(columns, rows);
}

// --- Text -----------------------------------------------------------------------------

Cell TerminalPlatform::size_text(const Cell&, const Cell& text) {
  TextSize size = measure_text(code_points_of(text), 0, false);
  return point2d::make(size.columns, std::max(size.lines, 1));
}

Cell TerminalPlatform::text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t kind) {
  float width = 0, height = 0;
  read_point(field(face, "size"), &width, &height);
  std::u32string points = code_points_of(text);
  LaidOutText layout = lay_out(points, static_cast<int32_t>(width));
  int32_t count = static_cast<int32_t>(points.size());
  switch (kind) {
    case 0:
    case 6: {
      int32_t index = argument.is(TYPE_INTEGER) ? std::clamp(integer::get(argument) - 1, 0, count) : 0;
      CellPoint at = layout.starts[static_cast<size_t>(index)];
      return point2d::make(at.x, at.y + (kind == 6 ? 1 : 0));
    }
    case 1:
    case 5: {
      float x = 0, y = 0;
      if (!read_point(argument, &x, &y)) return integer::make(1);
      int32_t column = static_cast<int32_t>(x), line = static_cast<int32_t>(y);
      // The first character at or past the point on its line; past the
      // line's end, the position after its last character.
      int32_t index = 0;
      while (index < count && (layout.starts[index].y < line ||
                               (layout.starts[index].y == line && layout.starts[index + 1].y == line &&
                                layout.starts[index + 1].x <= column)))
        ++index;
      bool past_end = index >= count || layout.starts[index].y > line ||
                      (points[index] == U'\n' && column > layout.starts[index].x);
      return integer::make(index + 1 - (kind == 5 && past_end ? 1 : 0));
    }
    case 2: return float_type::make(1.0);
    case 3: return point2d::make(layout.columns, layout.lines);
    case 4: return integer::make(layout.lines);
    default: return none_cell();
  }
}

// --- Views ----------------------------------------------------------------------------

void TerminalPlatform::refresh_widget(uint32_t id) {
  Widget* widget = tree_.find(id);
  if (widget == nullptr) return;
  if (widget->type == WidgetType::kField) {
    std::u32string text = code_points_of(field(widget->face, "text"));
    widget->caret_index = std::clamp(widget->caret_index, 0, static_cast<int32_t>(text.size()));
    widget->caret_column =
        measure_text(std::u32string_view(text).substr(0, static_cast<size_t>(widget->caret_index)), 0, false).columns;
    return;
  }
  router_->build_ui(id);
}

Cell TerminalPlatform::make_view(const Cell& face, const Cell& parent_handle) {
  uint32_t parent = 0;
  if (parent_handle.is(TYPE_HANDLE) && tree_.find(parent_handle.data2) != nullptr) parent = parent_handle.data2;
  // A face that cannot be shown leaves no widget behind.
  EventRouter::rate_period(field(face, "rate"));
  uint32_t id = tree_.make(face, parent);
  Widget* widget = tree_.find(id);
  if (widget->type == WidgetType::kWindow) {
    if (widget->has(widget_flag::kFullScreen)) frames_->display().set_mode(DisplayMode::kFullScreen);
    // The window holds the focus until a widget that can take it comes.
    uint32_t previous = 0;
    tree_.focus(*widget, &previous);
  } else if (widget->type == WidgetType::kField) {
    std::u32string text = code_points_of(field(face, "text"));
    widget->caret_index = static_cast<int32_t>(text.size());
  } else if (widget->type == WidgetType::kTabPanel) {
    // A tab panel shows one of its pages; with none chosen yet, the first.
    // The view engine shows the page whose place `selected` names and
    // hides the others once the panel has its widget.
    Cell owner = face;
    Cell pane = field(owner, "pane");
    if (!field(owner, "selected").is(TYPE_INTEGER) && pane.is(TYPE_BLOCK) &&
        block::length_from_head(&pane) > block::clamped_index(&pane))
      kel_.set_facet(owner, "selected", integer::make(1));
    if (tree_.find(id) == nullptr) return none_cell();
  }
  refresh_widget(id);
  widget = tree_.find(id);
  if (widget != nullptr && widget->type != WidgetType::kWindow && widget->has(widget_flag::kFocusable)) {
    WindowRecord* record = tree_.window_record(widget->window);
    if (record != nullptr && (record->focused == 0 || record->focused == record->widget)) router_->focus(id);
  }
  Cell rate = field(face, "rate");
  if (!rate.is(TYPE_NONE) && tree_.find(id) != nullptr) router_->set_rate(id, rate);
  frames_->display().mark_dirty();
  return handle::make_value(id, handle::kClassWindow);
}

void TerminalPlatform::show_selected_page(Cell panel) {
  stack::Guard guard;
  stack::push(panel);
  // Each page is shown exactly when the panel is and `selected` names its
  // place; the pane is read again at every step, as the pages' change
  // handlers run Kel code.
  for (uint32_t place = 1;; ++place) {
    Cell pane = field(panel, "pane");
    if (!pane.is(TYPE_BLOCK)) return;
    uint32_t at = block::clamped_index(&pane) + place - 1;
    if (at >= block::length_from_head(&pane)) return;
    Cell page = *block::rs_abs_at(&pane, at);
    if (!page.is(TYPE_OBJECT)) continue;
    Cell selected = field(panel, "selected"), visible = field(panel, "visible?");
    bool shown = visible.is(TYPE_LOGIC) && logic::get(visible) != 0 && selected.is(TYPE_INTEGER) &&
                 integer::get(selected) == static_cast<int32_t>(place);
    Cell now = field(page, "visible?");
    if (now.is(TYPE_LOGIC) && (logic::get(now) != 0) == shown) continue;
    kel_.set_facet(page, "visible?", logic::make(shown));
  }
}

void TerminalPlatform::update_view(const Cell& face) {
  Widget* widget = tree_.widget_of(face);
  if (widget == nullptr) return;
  uint32_t id = widget->id;
  Cell* bits_cell = change_bits(face);
  uint32_t bits = bits_cell != nullptr ? static_cast<uint32_t>(integer::get(*bits_cell)) : 0;
  if (bits & facet_bit::kRate) router_->set_rate(id, field(face, "rate"));
  tree_.apply_changes(*widget, bits & (facet_bit::kOffset | facet_bit::kSize));
  if ((bits & facet_bit::kSelected) && widget->type == WidgetType::kWindow) {
    Widget* chosen = tree_.widget_of(field(face, "selected"));
    router_->focus(chosen != nullptr && chosen->window == id ? chosen->id : id);
  }
  if ((bits & facet_bit::kSelected) && widget->type == WidgetType::kTabPanel) show_selected_page(face);
  if ((widget = tree_.find(id)) == nullptr) return;
  tree_.apply_changes(*widget, bits & (facet_bit::kEnabled | facet_bit::kVisible | facet_bit::kFlags));
  if (bits & facet_bit::kFlags) {
    if (widget->type == WidgetType::kWindow && widget->has(widget_flag::kFullScreen))
      frames_->display().set_mode(DisplayMode::kFullScreen);
  }
  refresh_widget(id);
  router_->redraw(id);
  if (Cell* still = change_bits(face)) *still = integer::make(0);
}

void TerminalPlatform::on_change_facet(const gui::FacetChange& change) {
  if (is_word(change.word, "pane")) return;
  Widget* widget = tree_.widget_of(change.owner);
  if (widget == nullptr) return;
  if (is_word(change.word, "data") && (widget->type == WidgetType::kDropList || widget->type == WidgetType::kDropDown) &&
      change.part == 0)
    return;
  if (is_word(change.word, "data") && widget->type == WidgetType::kTextList) {
    // The list changed length: the first shown row and the selection stay
    // within it.
    Cell data = field(change.owner, "data");
    int32_t count = data.is(TYPE_BLOCK) ? static_cast<int32_t>(block::length_from_head(&data)) : 0;
    widget->data = std::clamp(widget->data, 0, std::max(count - 1, 0));
    Cell selected = field(change.owner, "selected");
    if (selected.is(TYPE_INTEGER) && integer::get(selected) > count) {
      uint32_t id = widget->id;
      kel_.set_facet(change.owner, "selected", count > 0 ? integer::make(count) : none_cell());
      if (tree_.find(id) == nullptr) return;
    }
  }
  update_view(change.owner);
}

void TerminalPlatform::update_text(const Cell&) {}

void TerminalPlatform::destroy_tree(Cell face, bool* window_destroyed) {
  // A copy, kept alive on the stack: the pane it came from may move or
  // change while Kel code runs.
  stack::Guard guard;
  stack::push(face);
  Cell pane = field(face, "pane");
  if (pane.is(TYPE_BLOCK)) {
    // The pane is read again at every step: destroying runs Kel code.
    for (uint32_t i = 0;; ++i) {
      pane = field(face, "pane");
      if (!pane.is(TYPE_BLOCK) || i >= block::length_from_head(&pane)) break;
      destroy_tree(*block::rs_abs_at(&pane, i), window_destroyed);
    }
  }
  Widget* widget = tree_.widget_of(face);
  if (widget == nullptr) return;
  if (widget->type == WidgetType::kWindow) *window_destroyed = true;
  uint32_t id = widget->id;
  router_->forget(id);
  tree_.release(id);
  kel_.unlink_shared(face);
  Cell state = field(face, "state");
  if (state.is(TYPE_BLOCK)) kel_.set_facet_quietly(face, "state", none_cell());
}

void TerminalPlatform::destroy_view(const Cell& face, bool) {
  bool window_destroyed = false;
  destroy_tree(face, &window_destroyed);
  // Only a window closing ends a level of the loop: a face leaving a pane
  // must not end the view it was in.
  if (window_destroyed) {
    --nesting_;
    if (!any_full_screen_window() && !frames_->entered()) frames_->display().set_mode(DisplayMode::kInline);
  }
  if (tree_.active_window() != nullptr) {
    if (Widget* focused = tree_.focused_widget()) focused->flags |= widget_flag::kFocused;
    frames_->display().mark_dirty();
  }
}

void TerminalPlatform::refresh_window(const Cell&) { frames_->display().mark_dirty(); }

void TerminalPlatform::redraw(const Cell& face) {
  if (Widget* widget = tree_.widget_of(face)) router_->redraw(widget->id);
}

void TerminalPlatform::show_window(const Cell& handle) {
  if (!handle.is(TYPE_HANDLE)) return;
  Widget* window = tree_.find(handle.data2);
  if (window == nullptr || window->type != WidgetType::kWindow) return;
  tree_.activate(window->id);
  if (Widget* focused = tree_.focused_widget()) {
    focused->flags |= widget_flag::kFocused;
    // A widget focused while its face was being made could not be asked
    // about its focus yet: its look is built again now that it can.
    refresh_widget(focused->id);
  }
  frames_->display().mark_dirty();
}

void TerminalPlatform::set_dark_mode(const Cell&, bool) {}
bool TerminalPlatform::support_dark_mode() { return false; }
void TerminalPlatform::toggle_gpu() {}

void TerminalPlatform::update_font(const Cell& font, int32_t field_index) {
  // The cells paint the font afresh every frame; its state is dropped as a
  // display backend drops its made font.
  if ((field_index >= 0 && field_index <= 3) || field_index == 5) kel_.set_facet_quietly(font, "state", none_cell());
}

void TerminalPlatform::update_para(const Cell& face, int32_t) {
  if (Cell* bits = change_bits(face))
    *bits = integer::make(static_cast<int32_t>(static_cast<uint32_t>(integer::get(*bits)) | facet_bit::kPara));
}

void TerminalPlatform::update_scroller(const Cell&, int32_t) {}
void TerminalPlatform::detach_image(const Cell&) {}
void TerminalPlatform::draw_image(const Cell& image, const Cell& commands) { os_do_draw(image, commands); }
void TerminalPlatform::draw_face(const Cell&, const Cell&) {}

// --- The event loop -------------------------------------------------------------------

bool TerminalPlatform::do_event_loop(bool no_wait) {
  Display& display = frames_->display();
  bool outermost = !no_wait && running_loops_ == 0 && !display.raw_mode();
  // A one-frame call only polls a GUI that a loop is showing.
  if (no_wait && !display.raw_mode()) return false;
  if (outermost) color_level_ = kel_.color_level();
  int32_t level = nesting_;
  if (!no_wait) ++nesting_;
  OutermostLoop loop(*this, outermost, level);
  // Without a terminal to take keys from, no window could ever close.
  if (outermost && !display.raw_mode()) return false;
  if (!outermost && !no_wait) frames_->discard_input();
  bool read = false;
  do {
    sync_window_size();
    read = frames_->run_frame(*this, no_wait);
    if (runtime::halt_requested) {
      runtime::halt_requested = 0;
      --nesting_;
    }
  } while (!no_wait && level < nesting_);
  return read;
}

void TerminalPlatform::exit_event_loop() { --nesting_; }
bool TerminalPlatform::send_event(const Cell&, bool) { return false; }

// --- Dialogs --------------------------------------------------------------------------

Cell TerminalPlatform::request_font(const Cell&, const Cell&, bool) { return none_cell(); }

Cell TerminalPlatform::request_file(const Cell&, const Cell& name, const Cell&, bool save, bool multi) {
  return kel_.request("request-file", name, save, multi);
}

Cell TerminalPlatform::request_dir(const Cell&, const Cell&, const Cell&, bool keep, bool multi) {
  return kel_.request("request-dir", none_cell(), keep, multi);
}

// --- TUI-helpers ----------------------------------------------------------------------

bool TerminalPlatform::focused(const Cell& face) {
  Widget* widget = tree_.widget_of(face);
  return widget != nullptr && widget->has(widget_flag::kFocused);
}

int32_t TerminalPlatform::widget_data(const Cell& face) {
  Widget* widget = tree_.widget_of(face);
  return widget != nullptr ? widget->data : 0;
}

void TerminalPlatform::set_face_ui(const Cell& face, const Cell& ui) {
  if (Widget* widget = tree_.widget_of(face)) widget->ui_text = ui;
}

void TerminalPlatform::mark() {
  tree_.mark();
  kel_.mark();
}

// --- Frames ---------------------------------------------------------------------------

void TerminalPlatform::run_timers(int32_t tick) { router_->run_timers(tick); }

void TerminalPlatform::render(Screen& screen, Display& display) {
  if (Widget* window = tree_.active_window()) paint_window(screen, display, tree_, *window, color_level_);
}

void TerminalPlatform::key(int32_t key, uint32_t flags) { router_->key(key, flags); }
void TerminalPlatform::mouse(const MouseAction& action) { router_->mouse(action); }

void TerminalPlatform::console_resized(int32_t, int32_t) {
  if (Widget* window = tree_.active_window()) router_->deliver(window->id, event_type::kResize, EventDetails{});
  frames_->display().mark_dirty();
}

// --- Start-up -------------------------------------------------------------------------

TerminalPlatform& terminal_platform() {
  static TerminalPlatform platform;
  return platform;
}

namespace {
void restore_at_process_end() { terminal_platform().restore_terminal(); }
}  // namespace

gui::Platform* init() {
  upcalls::table.end_of_process = restore_at_process_end;
  return &terminal_platform();
}

}  // namespace kel::tui
