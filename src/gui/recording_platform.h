// The recording platform: a display backend that draws nothing, answers
// every operation as a text terminal of 80x24 cells would, and writes one
// line per call to the console ("platform: update-font object 1"), so that
// Kel case files can check what the GUI framework asks of its backend.
//
// Each argument of a log line is written in short: an object as the word of
// its `type` field ("object" without one), a block as its elements in
// brackets (three levels deep, "[...]" below), any other value molded.
//
// It keeps what a backend keeps: the views it made (handle value -> face;
// the faces are marked through mark()) and the face that has the focus,
// which is the `selected` face of the last window pushed to update-view.
// Text is measured in code points, one row per line.
//
// Start-up installs it while no terminal backend is there; the line log is
// written only once set_logging(true) has been called (start-up does that
// after booting when KEL_GUI_PLATFORM=recording is in the environment).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "gui/platform.h"

namespace kel::gui {

class RecordingPlatform final : public Platform {
 public:
  void set_logging(bool on) { logging_ = on; }

  PlatformIdentity start() override;
  Cell make_null_handle() override;
  Cell fetch_all_screens() override;
  Cell get_screen_size(int32_t screen) override;
  Cell size_text(const Cell& face, const Cell& text) override;
  Cell text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t kind) override;
  Cell make_view(const Cell& face, const Cell& parent_handle) override;
  void update_view(const Cell& face) override;
  void on_change_facet(const FacetChange& change) override;
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

  // The short text of a value as log lines write it.
  static std::string summary(const Cell& value, int depth = 0);

 private:
  struct View {
    uint32_t handle;
    Cell face;
  };
  void log(const char* member, std::initializer_list<std::string> arguments);
  View* view_of(const Cell& face);

  bool logging_ = false;
  uint32_t last_handle_ = 0;
  std::vector<View> views_;
  Cell focus_ = make_cell(TYPE_NONE);  // the face that has the focus, or none
};

}  // namespace kel::gui
