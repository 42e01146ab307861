// The terminal GUI's events: keys to the focused widget, mouse actions down
// the widget tree to the deepest widget under the pointer, focus moves,
// timers from the faces' `rate`, and each widget type's own reaction (a
// field edits its text, a check box toggles, a text list moves its
// selection, a button clicks on Space).
//
// Delivering an event to a widget: nothing when its face is disabled;
// otherwise the widget's own reaction runs first, then the event goes to
// `system/view/awake` (which runs the actors and bubbles to the parents).
// A key goes as key-down, then key, then to the widget's own reaction,
// each step only while the one before was not answered with done.
//
// Any delivery may run Kel code that destroys widgets: every widget is
// looked up again by its id after one.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/terminal/display.h"
#include "gui/terminal/input_parser.h"
#include "gui/terminal/kel_bridge.h"
#include "gui/terminal/widget_tree.h"

namespace kel::tui {

class EventRouter {
 public:
  EventRouter(WidgetTree& tree, KelBridge& kel, Display& display) : tree_(tree), kel_(kel), display_(display) {}

  // A key from the terminal, for the focused widget of the active window.
  void key(int32_t key, uint32_t flags);
  void mouse(const MouseAction& action);
  // Delivers the event (own reaction, then awake); true when answered
  // done.
  bool deliver(uint32_t widget, int32_t type, const EventDetails& details);
  // Moves the focus to the widget: unfocus to the old one, focus to it.
  void focus(uint32_t widget);
  // A widget's first look, and a look after its facets changed: the UI
  // text its type shows, built by the framework's helpers.
  void build_ui(uint32_t widget);

  // Timers: the face's rate (none removes them; an invalid rate raises
  // invalid-facet-type).
  void set_rate(uint32_t widget, const Cell& rate);
  // The timer period of a rate in milliseconds (0 for none); raises
  // invalid-facet-type for an invalid one.
  static int32_t rate_period(const Cell& rate);
  void remove_timers(uint32_t widget);
  void run_timers(int32_t tick_milliseconds);

  // Marks the screen for a redraw when the widget is in the active window.
  void redraw(uint32_t widget);
  // Forgets the mouse state that refers to the widget (it is going away).
  void forget(uint32_t widget);

 private:
  struct Timer {
    uint32_t widget;
    int32_t period;
    int32_t accumulated;
  };
  WidgetTree& tree_;
  KelBridge& kel_;
  Display& display_;
  std::vector<Timer> timers_;
  // Mouse delivery.
  uint32_t hovered_ = 0;
  uint32_t captured_ = 0;
  std::vector<uint32_t> pressed_;
  int32_t press_state_ = 0;  // 2 after a click, 10 after a double click
  int32_t repeat_milliseconds_ = 0;
  float last_x_ = 0, last_y_ = 0;

  // The widget type's own reaction; true when it took the event.
  void react(Widget& widget, int32_t type, const EventDetails& details);
  void edit_field(Widget& widget, int32_t type, const EventDetails& details);
  void toggle(Widget& widget);
  void move_list_selection(Widget& widget, int32_t type, const EventDetails& details);
  void button_event(uint32_t window, const MouseAction& action);
  void motion(uint32_t window, const MouseAction& action);
};

}  // namespace kel::tui
