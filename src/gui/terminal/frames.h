// The terminal side of the GUI's event loop: frames of 33 ms that read
// what the terminal sent, run the timers, present the screen and hand the
// keys and mouse actions to the GUI above, and the session that puts the
// terminal back on every way out.
//
// The loop itself (its nesting, the halt request, which windows are open)
// belongs to the view engine, which calls run_frame once per frame and
// holds a TerminalSession for the length of the outermost loop.
//
// A frame: read every byte the terminal has sent (a modal frame waits for
// the first one until the frame's 33 ms are up, so a key is handled at
// once and an idle loop sleeps); take the signals' notices (a console
// resize, a continue after a stop); run the timers with the time since the
// last frame began; present the screen; parse the bytes and deliver them:
// cursor reports move the GUI's origin, keys and mouse actions go to the
// client. A one-frame call (polling) reads without waiting and does
// nothing more when nothing came.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/terminal/display.h"
#include "gui/terminal/input_parser.h"
#include "gui/terminal/terminal_io.h"

namespace kel::tui {

// What a frame asks of the GUI above it.
class FrameClient {
 public:
  virtual ~FrameClient() = default;
  virtual void run_timers(int32_t tick_milliseconds) = 0;
  // Paints the active window; sets the caret through the display.
  virtual void render(Screen& screen, Display& display) = 0;
  // A key (code point or special key) with its flag bits.
  virtual void key(int32_t key, uint32_t flags) = 0;
  virtual void mouse(const MouseAction& action) = 0;
  // The console's new size (the display has read it already).
  virtual void console_resized(int32_t columns, int32_t rows) = 0;
};

class TerminalFrames {
 public:
  static constexpr int32_t kFrameMilliseconds = 33;
  // How long leaving waits for the answer to a cursor query still out.
  static constexpr int32_t kCursorAnswerWaitMilliseconds = 200;

  explicit TerminalFrames(TerminalIO& io) : io_(io), display_(io) {}
  TerminalIO& io() { return io_; }
  Display& display() { return display_; }

  // The start and the end of the outermost loop: terminal modes on (mouse
  // reporting when asked) and back off.
  void enter(bool mouse_reporting);
  void leave();
  bool entered() const { return entered_; }

  // Reads every byte the terminal has sent, waiting up to the timeout for
  // the first; true when any came.
  bool read_input(int32_t timeout_milliseconds);
  // One frame (see above); true when it read input.
  bool run_frame(FrameClient& client, bool one_frame);
  // Drops what was read and not parsed yet, and what waits unread.
  void discard_input();

 private:
  TerminalIO& io_;
  Display display_;
  InputParser parser_;
  MouseDecoder mouse_;
  std::vector<InputEvent> events_;
  bool entered_ = false;
  int64_t last_frame_start_ = -1;  // microseconds, -1 before the first frame
  int32_t elapsed_milliseconds_ = 0;

  void take_notices(FrameClient& client);
  void deliver_input(FrameClient& client);
};

// Holds the terminal in the GUI's modes for a scope and puts it back
// however the scope ends (a return, an error, a halt).
class TerminalSession {
 public:
  TerminalSession(TerminalFrames& frames, bool mouse_reporting) : frames_(frames) {
    frames_.enter(mouse_reporting);
  }
  ~TerminalSession() { frames_.leave(); }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

 private:
  TerminalFrames& frames_;
};

}  // namespace kel::tui
