// The terminal platform: the display backend that shows the GUI in the text
// terminal the program runs in, inline below the console's text or full
// screen on the alternate screen.
//
// It answers the platform contract over the lower half (frames, display,
// input parser) and the widget tree: a face shown gets a widget, the active
// window (the newest) is painted every frame the display is dirty, keys go
// to the focused widget and the mouse to the widget under the pointer.
//
// The event loop: a modal call raises the nesting level and runs frames
// until the level falls below it again (destroying a window, exit-event-loop
// and a halt request each lower it by one); a no-wait call runs one frame,
// and only while a loop shows the GUI. The outermost loop (one started while
// no loop runs and the terminal is not in raw mode) holds the terminal in
// the GUI's modes and puts it back however it ends; while it runs, the
// console's printing erases the GUI first and the next frame draws it
// again below the printed text. The process ending (quit in an actor, a
// fatal error) restores the terminal through restore_terminal().
#pragma once

#include <cstdint>
#include <memory>

#include "gui/platform.h"
#include "gui/terminal/frames.h"
#include "gui/terminal/kel_bridge.h"
#include "gui/terminal/widget_events.h"
#include "gui/terminal/widget_tree.h"

namespace kel::tui {

class TerminalPlatform final : public gui::Platform, public FrameClient {
 public:
  TerminalPlatform();
  ~TerminalPlatform() override;

  // The terminal to talk to: the program's own by default (standard input
  // and output); tests give a scripted one. Not while a loop runs.
  void use_terminal(TerminalIO* io);
  TerminalFrames& frames() { return *frames_; }
  WidgetTree& tree() { return tree_; }
  EventRouter& router() { return *router_; }
  // Paints the active window into the screen and writes it, as a frame
  // does (for tests and the benchmark).
  void present_now();
  // Puts the terminal back at once (the process is ending).
  void restore_terminal();

  // --- gui::Platform ---
  gui::PlatformIdentity start() override;
  Cell make_null_handle() override;
  Cell fetch_all_screens() override;
  Cell get_screen_size(int32_t screen) override;
  Cell size_text(const Cell& face, const Cell& text) override;
  Cell text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t kind) override;
  Cell make_view(const Cell& face, const Cell& parent_handle) override;
  void update_view(const Cell& face) override;
  void on_change_facet(const gui::FacetChange& change) override;
  void update_text(const Cell& face) override;
  void destroy_view(const Cell& face, bool empty) override;
  void refresh_window(const Cell& handle) override;
  void redraw(const Cell& face) override;
  void show_window(const Cell& handle) override;
  void set_dark_mode(const Cell& face, bool dark) override;
  bool support_dark_mode() override;
  void toggle_gpu() override;
  void update_font(const Cell& font, int32_t field) override;
  void update_para(const Cell& face, int32_t field) override;
  void update_scroller(const Cell& scroller, int32_t field) override;
  void detach_image(const Cell& image) override;
  void draw_image(const Cell& image, const Cell& commands) override;
  void draw_face(const Cell& face, const Cell& commands) override;
  bool do_event_loop(bool no_wait) override;
  void exit_event_loop() override;
  bool send_event(const Cell& event, bool queued) override;
  Cell request_font(const Cell& font, const Cell& selected, bool mono) override;
  Cell request_file(const Cell& title, const Cell& name, const Cell& filter, bool save, bool multi) override;
  Cell request_dir(const Cell& title, const Cell& folder, const Cell& filter, bool keep, bool multi) override;
  bool focused(const Cell& face) override;
  int32_t widget_data(const Cell& face) override;
  void set_face_ui(const Cell& face, const Cell& ui) override;
  void mark() override;

  // --- FrameClient ---
  void run_timers(int32_t tick_milliseconds) override;
  void render(Screen& screen, Display& display) override;
  void key(int32_t key, uint32_t flags) override;
  void mouse(const MouseAction& action) override;
  void console_resized(int32_t columns, int32_t rows) override;

  // The nesting level of the modal loops (for tests).
  int32_t nesting() const { return nesting_; }

 private:
  std::unique_ptr<TerminalIO> own_terminal_;
  TerminalIO* io_ = nullptr;
  std::unique_ptr<TerminalFrames> frames_;
  WidgetTree tree_;
  KelBridge kel_;
  std::unique_ptr<EventRouter> router_;
  int32_t nesting_ = 0;
  int32_t running_loops_ = 0;
  int32_t color_level_ = 4;

  class OutermostLoop;
  // The display's window size from the active window (the console's in
  // full-screen mode).
  void sync_window_size();
  void destroy_tree(Cell face, bool* window_destroyed);
  // A widget's first look and the looks after its changes.
  void refresh_widget(uint32_t id);
  // Shows the page of a tab panel that its `selected` names and hides the
  // others.
  void show_selected_page(Cell panel);
  bool any_full_screen_window();
};

// The one terminal platform of the program.
TerminalPlatform& terminal_platform();

// The terminal layer's start-up: fills its entry of the registration table
// (the process end restores the terminal); answers the platform to install.
gui::Platform* init();

}  // namespace kel::tui
