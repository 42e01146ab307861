// The terminal side of the GUI's event loop (see frames.h).
#include "gui/terminal/frames.h"

#include <algorithm>

namespace kel::tui {

void TerminalFrames::enter(bool mouse_reporting) {
  display_.enter();
  display_.set_mouse_reporting(mouse_reporting);
  mouse_.reset();
  entered_ = true;
  last_frame_start_ = -1;
  elapsed_milliseconds_ = 0;
}

void TerminalFrames::leave() {
  if (!entered_) return;
  entered_ = false;
  display_.leave();
  discard_input();
}

bool TerminalFrames::read_input(int32_t timeout_milliseconds) {
  char bytes[4096];
  bool any = false;
  int32_t timeout = timeout_milliseconds;
  for (;;) {
    ptrdiff_t count = io_.read(bytes, sizeof bytes, timeout);
    if (count <= 0) break;
    parser_.append(bytes, static_cast<size_t>(count));
    any = true;
    timeout = 0;  // then only what is there already
  }
  return any;
}

void TerminalFrames::discard_input() {
  // A cursor query written just before (console output printed by an
  // actor that then closed the window) is answered a moment later: wait a
  // little for the answer, so that it is not left for the console to show
  // as typed text. A terminal that never answers costs the wait once.
  char bytes[4096];
  int64_t deadline = io_.now_microseconds() + kCursorAnswerWaitMilliseconds * 1000;
  while (display_.unanswered_cursor_queries() > 0) {
    int64_t left = (deadline - io_.now_microseconds()) / 1000;
    if (left <= 0) break;
    ptrdiff_t count = io_.read(bytes, sizeof bytes, static_cast<int32_t>(left));
    if (count <= 0) break;
    parser_.append(bytes, static_cast<size_t>(count));
    events_.clear();
    parser_.parse(&events_);
    for (const InputEvent& event : events_)
      if (event.kind == InputEvent::Kind::kCursorReport) display_.on_cursor_report(event.row, event.column);
  }
  display_.forget_cursor_queries();
  parser_.clear();
  while (io_.read(bytes, sizeof bytes, 0) > 0) {
  }
}

void TerminalFrames::take_notices(FrameClient& client) {
  uint32_t notices = io_.take_notices();
  if ((notices & notice::kResumed) != 0) display_.on_resumed();
  if ((notices & notice::kResized) != 0) {
    display_.on_console_resize();
    client.console_resized(display_.console_columns(), display_.console_rows());
  }
}

void TerminalFrames::deliver_input(FrameClient& client) {
  events_.clear();
  parser_.parse(&events_);
  for (const InputEvent& event : events_) {
    switch (event.kind) {
      case InputEvent::Kind::kCursorReport:
        display_.on_cursor_report(event.row, event.column);
        break;
      case InputEvent::Kind::kKey:
        if (event.key != 0) client.key(event.key, event.flags);
        break;
      case InputEvent::Kind::kMouse: {
        MouseAction action = mouse_.decode(event, display_.origin_row());
        if (action.kind != MouseAction::Kind::kNone) client.mouse(action);
        break;
      }
    }
  }
}

bool TerminalFrames::run_frame(FrameClient& client, bool one_frame) {
  int32_t wait = 0;
  if (!one_frame && elapsed_milliseconds_ <= kFrameMilliseconds) {
    wait = kFrameMilliseconds - elapsed_milliseconds_;
  }
  bool read = read_input(wait);
  if (one_frame && !read) return false;
  int64_t start = io_.now_microseconds();
  // The timers get the time that really passed, so that time-driven faces
  // keep pace whether a frame was cut short by a key or ran long.
  int32_t tick = kFrameMilliseconds;
  if (last_frame_start_ >= 0) {
    tick = static_cast<int32_t>(std::clamp<int64_t>((start - last_frame_start_) / 1000, 0, 1 << 30));
  }
  last_frame_start_ = start;
  take_notices(client);
  client.run_timers(tick);
  display_.present([&](Screen& screen) { client.render(screen, display_); });
  deliver_input(client);
  elapsed_milliseconds_ =
      static_cast<int32_t>(std::clamp<int64_t>((io_.now_microseconds() - start) / 1000, 0, 1 << 30));
  return read;
}

}  // namespace kel::tui
