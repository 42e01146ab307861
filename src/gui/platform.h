// The platform contract: what the GUI framework asks of a display backend.
//
// `system/view/platform` holds one routine per display operation; each
// routine (platform_routines.cpp) checks and reads its arguments, applies the
// rules every backend shares (what size-text measures, which faces
// text-box-metrics accepts, how update-view walks a block) and then calls
// the installed Platform. A backend implements this interface and is
// installed once at start-up, before the platform context is built; the
// recording platform (recording_platform.h) stands in for one in tests.
//
// Arguments are value cells copied out of the routine's frame; a backend
// may run Kel code (do_event_loop dispatches to `system/view/awake`), so it
// must not keep the addresses of series buffers across such calls, only
// cells. Cells a backend keeps beyond a call (the faces of its widgets, its
// windows and timers) must be marked by mark(), which the collector calls
// through the one hook the GUI registers at start-up.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kel::gui {

// The platform's own identity, set by its start-up: `system/view/platform`
// members version (a tuple), build and product.
struct PlatformIdentity {
  Cell version;
  int32_t build;
  int32_t product;
};

// An in-place change of a face's series facet (on-change-facet): the
// owner face, the facet word, the changed series, the action word, the new
// value (none for no value), the index and the part length.
struct FacetChange {
  Cell owner;
  Cell word;
  Cell target;
  Cell action;
  Cell new_value;
  int32_t index;
  int32_t part;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The backend's own start-up, run by the platform context's `init`.
  virtual PlatformIdentity start() = 0;

  // Screens.
  virtual Cell make_null_handle() = 0;               // a handle! that stands for no view
  virtual Cell fetch_all_screens() = 0;              // a block of [offset size scale handle] blocks, or none
  virtual Cell get_screen_size(int32_t screen) = 0;  // a pair

  // Text measuring. text is a string! (the framework has chosen it and
  // checked its type); size_text answers a point2D!. text_box_metrics is
  // asked only for rich-text faces; kind is the operation code (0 caret
  // position, 1 caret at a point, 2 line height, 3 text size, 4 line count,
  // 5 character at a point, 6 lower end of the caret).
  virtual Cell size_text(const Cell& face, const Cell& text) = 0;
  virtual Cell text_box_metrics(const Cell& face, const Cell& text, const Cell& argument, int32_t kind) = 0;

  // Views.
  virtual Cell make_view(const Cell& face, const Cell& parent_handle) = 0;  // the new view's handle!
  virtual void update_view(const Cell& face) = 0;  // one face, never a screen, whose state is a block
  virtual void on_change_facet(const FacetChange& change) = 0;
  virtual void update_text(const Cell& face) = 0;
  virtual void destroy_view(const Cell& face, bool empty) = 0;
  virtual void refresh_window(const Cell& handle) = 0;
  virtual void redraw(const Cell& face) = 0;
  virtual void show_window(const Cell& handle) = 0;
  virtual void set_dark_mode(const Cell& face, bool dark) = 0;
  virtual bool support_dark_mode() = 0;
  virtual void toggle_gpu() = 0;

  // Shared objects: field is the 0-based index of the changed field.
  virtual void update_font(const Cell& font, int32_t field) = 0;
  virtual void update_para(const Cell& face, int32_t field) = 0;
  virtual void update_scroller(const Cell& scroller, int32_t field) = 0;

  // Images and drawing.
  virtual void detach_image(const Cell& image) = 0;
  virtual void draw_image(const Cell& image, const Cell& commands) = 0;
  virtual void draw_face(const Cell& face, const Cell& commands) = 0;

  // Events: the loop dispatches each event to `system/view/awake` as a
  // live event (event.h); send_event hands over one event from Kel code.
  virtual bool do_event_loop(bool no_wait) = 0;
  virtual void exit_event_loop() = 0;
  virtual bool send_event(const Cell& event, bool queued) = 0;

  // Dialogs: the chosen value, or none.
  virtual Cell request_font(const Cell& font, const Cell& selected, bool mono) = 0;
  virtual Cell request_file(const Cell& title, const Cell& name, const Cell& filter, bool save, bool multi) = 0;
  virtual Cell request_dir(const Cell& title, const Cell& folder, const Cell& filter, bool keep, bool multi) = 0;

  // The widget side of `TUI-helpers`: whether the face's widget has the
  // focus (false without a widget), the widget's data word (0 without
  // one), and the text the widget draws (ignored without a widget).
  virtual bool focused(const Cell& face) = 0;
  virtual int32_t widget_data(const Cell& face) = 0;
  virtual void set_face_ui(const Cell& face, const Cell& ui) = 0;

  // Marks every cell the backend holds outside the collected heap, with
  // collector::mark_value.
  virtual void mark() = 0;
};

// Installs the backend (the GUI keeps the pointer, the caller the object).
// Start-up installs one before the platform context is built.
void install_platform(Platform* platform);
Platform& platform();

}  // namespace kel::gui
