// The recording platform (see recording_platform.h).
#include "gui/recording_platform.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/tuple.h"
#include "gui/faces.h"
#include "runtime/actions.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/output_hooks.h"
#include "runtime/string_buffer.h"
#include "runtime/symbol_table.h"

namespace kel::gui {

namespace {

Cell none_cell() { return make_cell(TYPE_NONE); }

const char* yes_no(bool flag) { return flag ? "true" : "false"; }

// The lines of a text as code point counts.
std::vector<int32_t> line_lengths(const Cell& text) {
  std::vector<int32_t> lines{0};
  for (unsigned char byte : string::to_std_string(text)) {
    if (byte == '\n') lines.push_back(0);
    else if ((byte & 0xC0) != 0x80) ++lines.back();
  }
  return lines;
}

// Column and row of the caret before character position (1-based).
Cell caret_point(const Cell& text, int32_t position) {
  std::vector<int32_t> lines = line_lengths(text);
  int32_t left = std::max(position - 1, 0);
  int32_t row = 0;
  while (row + 1 < static_cast<int32_t>(lines.size()) && left > lines[row]) {
    left -= lines[row] + 1;
    ++row;
  }
  return point2d::make(std::min(left, lines[row]), row);
}

// The character position (1-based) at a column and row; with
// under_character, one less when the point lies past the end of its line.
int32_t position_at(const Cell& text, const Cell& point, bool under_character) {
  std::vector<int32_t> lines = line_lengths(text);
  double x = point.is(TYPE_PAIR) ? pair::x_of(point) : point2d::x_of(point);
  double y = point.is(TYPE_PAIR) ? pair::y_of(point) : point2d::y_of(point);
  int32_t row = std::clamp(static_cast<int32_t>(y), 0, static_cast<int32_t>(lines.size()) - 1);
  int32_t position = 1;
  for (int32_t i = 0; i < row; ++i) position += lines[i] + 1;
  bool past_end = static_cast<int32_t>(x) > lines[row];
  return position + std::clamp(static_cast<int32_t>(x), 0, lines[row]) - (under_character && past_end ? 1 : 0);
}

}  // namespace

std::string RecordingPlatform::summary(const Cell& value, int depth) {
  if (object::is_object_kind(value.type())) {
    Cell type = faces::field(value, "type");
    return type.is(TYPE_WORD) ? actions::mold_to_string(type, false) : "object";
  }
  if (value.is(TYPE_BLOCK)) {
    if (depth >= 3) return "[...]";
    std::string text = "[";
    for (uint32_t i = block::clamped_index(&value); i < block::length_from_head(&value); ++i) {
      if (text.size() > 1) text += ' ';
      Cell element = *block::rs_abs_at(&value, i);
      text += summary(element, depth + 1);
    }
    return text + "]";
  }
  return actions::mold_to_string(value, value.is(TYPE_HANDLE));
}

void RecordingPlatform::log(const char* member, std::initializer_list<std::string> arguments) {
  if (!logging_) return;
  std::string line = std::string("platform: ") + member;
  for (const std::string& argument : arguments) line += " " + argument;
  output_hooks::print_text(line, true);
}

RecordingPlatform::View* RecordingPlatform::view_of(const Cell& face) {
  for (View& view : views_)
    if (faces::same_object(view.face, face)) return &view;
  return nullptr;
}

PlatformIdentity RecordingPlatform::start() {
  log("start", {});
  Cell version = make_cell(TYPE_TUPLE);
  const uint8_t bytes[3] = {10, 10, 10};
  tuple::set_bytes(&version, bytes, 3);
  return PlatformIdentity{version, 1000, 0};
}

Cell RecordingPlatform::make_null_handle() {
  log("make-null-handle", {});
  return handle::make_value(0, 0);
}

Cell RecordingPlatform::fetch_all_screens() {
  log("fetch-all-screens", {});
  return none_cell();
}

Cell RecordingPlatform::get_screen_size(int32_t screen) {
  log("get-screen-size", {std::to_string(screen)});
  return pair::make(80, 24);
}

Cell RecordingPlatform::size_text(const Cell& face, const Cell& text) {
  log("size-text", {summary(face), summary(text)});
  std::vector<int32_t> lines = line_lengths(text);
  return point2d::make(*std::max_element(lines.begin(), lines.end()), static_cast<double>(lines.size()));
}

Cell RecordingPlatform::text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t kind) {
  log("text-box-metrics", {summary(face), summary(argument), std::to_string(kind)});
  switch (kind) {
    case 0:
    case 6: {
      Cell caret = caret_point(text, argument.is(TYPE_INTEGER) ? integer::get(argument) : 1);
      return kind == 6 ? point2d::make(point2d::x_of(caret), point2d::y_of(caret) + 1) : caret;
    }
    case 1:
    case 5:
      return integer::make(argument.is(TYPE_PAIR) || argument.is(TYPE_POINT2D) ? position_at(text, argument, kind == 5)
                                                                                : 1);
    case 2: return float_type::make(1.0);
    case 3: {
      std::vector<int32_t> lines = line_lengths(text);
      return point2d::make(*std::max_element(lines.begin(), lines.end()), static_cast<double>(lines.size()));
    }
    case 4: return integer::make(static_cast<int32_t>(line_lengths(text).size()));
    default: return none_cell();
  }
}

Cell RecordingPlatform::make_view(const Cell& face, const Cell& parent_handle) {
  log("make-view", {summary(face), summary(parent_handle)});
  views_.push_back(View{++last_handle_, face});
  return handle::make_value(last_handle_, 0);
}

void RecordingPlatform::update_view(const Cell& face) {
  // The log names the pending change bits, which this update takes in: like
  // every display backend, it clears them (a face without a view yet has
  // nothing to update). A window's `selected` face takes the focus, as on a
  // terminal.
  Cell state = faces::field(face, "state");
  if (state.is(TYPE_BLOCK) && block::length_from_head(&state) >= 2)
    log("update-view", {summary(face), summary(*block::rs_abs_at(&state, 1))});
  else
    log("update-view", {summary(face)});
  if (view_of(face) == nullptr) return;
  state = faces::field(face, "state");
  if (state.is(TYPE_BLOCK) && block::length_from_head(&state) >= 2) *block::rs_abs_at(&state, 1) = integer::make(0);
  Cell type = faces::field(face, "type");
  Cell selected = faces::field(face, "selected");
  if (type.is(TYPE_WORD) && faces::is_word(type, "window") && object::is_object_kind(selected.type()))
    focus_ = selected;
}

void RecordingPlatform::on_change_facet(const FacetChange& change) {
  log("on-change-facet", {summary(change.owner), summary(change.word), summary(change.target),
                          summary(change.action), summary(change.new_value), std::to_string(change.index),
                          std::to_string(change.part)});
}

void RecordingPlatform::update_text(const Cell& face) { log("update-text", {summary(face)}); }

void RecordingPlatform::destroy_view(const Cell& face, bool empty) {
  log("destroy-view", {summary(face), yes_no(empty)});
  views_.erase(std::remove_if(views_.begin(), views_.end(),
                              [&](const View& view) { return faces::same_object(view.face, face); }),
               views_.end());
  if (faces::same_object(focus_, face)) focus_ = none_cell();
}

void RecordingPlatform::refresh_window(const Cell& handle) { log("refresh-window", {summary(handle)}); }
void RecordingPlatform::redraw(const Cell& face) { log("redraw", {summary(face)}); }
void RecordingPlatform::show_window(const Cell& handle) { log("show-window", {summary(handle)}); }

void RecordingPlatform::set_dark_mode(const Cell& face, bool dark) {
  log("set-dark-mode", {summary(face), yes_no(dark)});
}

bool RecordingPlatform::support_dark_mode() {
  log("support-dark-mode?", {});
  return false;
}

void RecordingPlatform::toggle_gpu() { log("toggle-GPU", {}); }

void RecordingPlatform::update_font(const Cell& font, int32_t field) {
  log("update-font", {summary(font), std::to_string(field)});
}
void RecordingPlatform::update_para(const Cell& face, int32_t field) {
  log("update-para", {summary(face), std::to_string(field)});
}
void RecordingPlatform::update_scroller(const Cell& scroller, int32_t field) {
  log("update-scroller", {summary(scroller), std::to_string(field)});
}

void RecordingPlatform::detach_image(const Cell& image) { log("detach-image", {summary(image)}); }
void RecordingPlatform::draw_image(const Cell& image, const Cell& commands) {
  log("draw-image", {summary(image), summary(commands)});
}
void RecordingPlatform::draw_face(const Cell& face, const Cell& commands) {
  log("draw-face", {summary(face), summary(commands)});
}

bool RecordingPlatform::do_event_loop(bool no_wait) {
  log("do-event-loop", {yes_no(no_wait)});
  return false;
}
void RecordingPlatform::exit_event_loop() { log("exit-event-loop", {}); }

bool RecordingPlatform::send_event(const Cell& event, bool queued) {
  log("send-event", {summary(event), yes_no(queued)});
  return false;
}

Cell RecordingPlatform::request_font(const Cell& font, const Cell& selected, bool mono) {
  log("request-font", {summary(font), summary(selected), yes_no(mono)});
  return none_cell();
}
Cell RecordingPlatform::request_file(const Cell& title, const Cell& name, const Cell& filter, bool save, bool multi) {
  log("request-file", {summary(title), summary(name), summary(filter), yes_no(save), yes_no(multi)});
  return none_cell();
}
Cell RecordingPlatform::request_dir(const Cell& title, const Cell& folder, const Cell& filter, bool keep, bool multi) {
  log("request-dir", {summary(title), summary(folder), summary(filter), yes_no(keep), yes_no(multi)});
  return none_cell();
}

bool RecordingPlatform::focused(const Cell& face) {
  bool answer = view_of(face) != nullptr && faces::same_object(focus_, face);
  log("focused?", {summary(face)});
  return answer;
}

int32_t RecordingPlatform::widget_data(const Cell& face) {
  log("widget-data", {summary(face)});
  return 0;
}

void RecordingPlatform::set_face_ui(const Cell& face, const Cell& ui) {
  log("set-face-ui", {summary(face), summary(ui)});
}

void RecordingPlatform::mark() {
  for (const View& view : views_) collector::mark_value(view.face);
  collector::mark_value(focus_);
}

}  // namespace kel::gui
