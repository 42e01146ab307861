// The routines of the platform contract and the GUI's other routines.
//
// Each platform routine reads its frame (the interface block has already
// checked the types it names), applies the rules that hold for every
// backend, and calls the installed Platform (platform.h). The routines are
// members of the object the word `gui-internals` holds while the GUI's Kel
// sources load (gui/view.kel takes them into `system/view/platform` and
// `TUI-helpers`); `event?`, `send-event-os` and `find-flag?` are global.
//
// Arguments are copied out of the frame before a backend call: a backend
// may run Kel code, which may move the stack's cells, never the node ids
// the copies refer to (the frame keeps them alive meanwhile).
#include "gui/platform_routines.h"

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "gui/faces.h"
#include "gui/platform.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"

namespace kel::gui {

namespace {

Platform* installed = nullptr;

Cell none_cell() { return make_cell(TYPE_NONE); }
Cell argument(int index) { return stack::arguments()[index]; }
bool flag_argument(int index) { return logic::get(argument(index)) != 0; }
int32_t integer_argument(int index) { return integer::get(argument(index)); }

void answer(const Cell& value) { stack::set_result(value); }
void answer_nothing() { stack::set_result(none_cell()); }

[[noreturn]] void invalid_type(const Cell& value) {
  Cell type = datatype::make(value.type());
  fire(ErrorId::script_invalid_type, &type);
}

// --- Screens ----------------------------------------------------------------------------

void backend_start(uint32_t) {
  PlatformIdentity identity = platform().start();
  stack::Guard guard;
  Cell* block = block::make_at(stack::push(none_cell()), 3);
  block::rs_append(block, identity.version);
  block::rs_append(block, integer::make(identity.build));
  block::rs_append(block, integer::make(identity.product));
  answer(*block);
}

void make_null_handle(uint32_t) { answer(platform().make_null_handle()); }
void fetch_all_screens(uint32_t) { answer(platform().fetch_all_screens()); }
void get_screen_size(uint32_t) { answer(platform().get_screen_size(integer_argument(0))); }

// --- Text measuring ---------------------------------------------------------------------

// size-text measures the value, or the face's text when the value is none;
// a text that is no string has no size.
void size_text(uint32_t) {
  Cell face = argument(0), value = argument(1);
  if (!value.is(TYPE_STRING) && !value.is(TYPE_NONE)) invalid_type(value);
  Cell text = value.is(TYPE_NONE) ? faces::field(face, "text") : value;
  if (!text.is(TYPE_STRING)) return answer_nothing();
  answer(platform().size_text(face, text));
}

// Only a rich-text face has a text layout to ask about.
void text_box_metrics(uint32_t) {
  Cell face = argument(0), value = argument(1);
  int32_t kind = integer_argument(2);
  Cell type = faces::field(face, "type");
  if (!faces::is_word(type, "rich-text")) fire(ErrorId::script_face_type, &type);
  Cell text = faces::field(face, "text");
  if (!text.is(TYPE_STRING)) return answer_nothing();
  answer(platform().text_box_metrics(face, text, value, kind));
}

// --- Views ------------------------------------------------------------------------------

void make_view(uint32_t) { answer(platform().make_view(argument(0), argument(1))); }

// One face other than a screen, or every face of a block whose state is a
// block; anything else is no face to update.
void update_view(uint32_t) {
  Cell value = argument(0);
  if (object::is_object_kind(value.type())) {
    if (!faces::is_word(faces::field(value, "type"), "screen")) platform().update_view(value);
    return answer_nothing();
  }
  if (!value.is(TYPE_BLOCK)) invalid_type(value);
  // The block is re-read at every step: a backend may run Kel code.
  for (uint32_t i = block::clamped_index(&value); i < block::length_from_head(&value); ++i) {
    Cell face = *block::rs_abs_at(&value, i);
    if (!object::is_object_kind(face.type())) invalid_type(face);
    if (faces::field(face, "state").is(TYPE_BLOCK)) platform().update_view(face);
  }
  answer_nothing();
}

void on_change_facet(uint32_t) {
  Cell new_value = argument(4);
  if (new_value.is(TYPE_UNSET)) new_value = none_cell();
  FacetChange change{argument(0), argument(1), argument(2), argument(3), new_value, integer_argument(5),
                     integer_argument(6)};
  platform().on_change_facet(change);
  answer_nothing();
}

void update_text(uint32_t) {
  platform().update_text(argument(0));
  answer_nothing();
}
void destroy_view(uint32_t) {
  platform().destroy_view(argument(0), flag_argument(1));
  answer_nothing();
}
void refresh_window(uint32_t) {
  platform().refresh_window(argument(0));
  answer_nothing();
}
void redraw(uint32_t) {
  platform().redraw(argument(0));
  answer_nothing();
}
void show_window(uint32_t) {
  platform().show_window(argument(0));
  answer_nothing();
}
void set_dark_mode(uint32_t) {
  platform().set_dark_mode(argument(0), flag_argument(1));
  answer_nothing();
}
void support_dark_mode(uint32_t) { answer(logic::make(platform().support_dark_mode())); }
void toggle_gpu(uint32_t) {
  platform().toggle_gpu();
  answer_nothing();
}

// --- Shared objects ---------------------------------------------------------------------

enum SharedObject : uint32_t { kFont, kPara, kScroller };
void update_shared(uint32_t which) {
  Cell object = argument(0);
  int32_t field = integer_argument(1);
  switch (which) {
    case kFont: platform().update_font(object, field); break;
    case kPara: platform().update_para(object, field); break;
    default: platform().update_scroller(object, field); break;
  }
  answer_nothing();
}

// --- Images, drawing, events, dialogs ---------------------------------------------------

void detach_image(uint32_t) {
  platform().detach_image(argument(0));
  answer_nothing();
}
void draw_image(uint32_t) {
  platform().draw_image(argument(0), argument(1));
  answer_nothing();
}
void draw_face(uint32_t) {
  platform().draw_face(argument(0), argument(1));
  answer_nothing();
}
void do_event_loop(uint32_t) { answer(logic::make(platform().do_event_loop(flag_argument(0)))); }
void exit_event_loop(uint32_t) {
  platform().exit_event_loop();
  answer_nothing();
}
void send_event_os(uint32_t) { answer(logic::make(platform().send_event(argument(0), flag_argument(1)))); }

void request_font(uint32_t) { answer(platform().request_font(argument(0), argument(1), flag_argument(2))); }
void request_file(uint32_t) {
  answer(platform().request_file(argument(0), argument(1), argument(2), flag_argument(3), flag_argument(4)));
}
void request_dir(uint32_t) {
  answer(platform().request_dir(argument(0), argument(1), argument(2), flag_argument(3), flag_argument(4)));
}

// --- TUI-helpers' widget routines -------------------------------------------------------

void focused(uint32_t) { answer(logic::make(platform().focused(argument(0)))); }
void widget_data(uint32_t) { answer(integer::make(platform().widget_data(argument(0)))); }
void set_face_ui(uint32_t) {
  platform().set_face_ui(argument(0), argument(1));
  answer_nothing();
}

// --- Global routines --------------------------------------------------------------------

void event_q(uint32_t) { answer(logic::make(argument(0).is(TYPE_EVENT))); }

// A word facet is the flag itself; a block facet holds it as a word or
// lit-word; any other facet holds no flag.
void find_flag_q(uint32_t) {
  Cell facet = argument(0), flag = argument(1);
  uint32_t wanted = symbol::resolve(word::symbol_of(flag));
  auto matches = [&](const Cell& value) {
    return (value.is(TYPE_WORD) || value.is(TYPE_LIT_WORD)) && symbol::resolve(word::symbol_of(value)) == wanted;
  };
  bool found = false;
  if (facet.is(TYPE_WORD)) {
    found = matches(facet);
  } else if (facet.is(TYPE_BLOCK)) {
    for (uint32_t i = block::clamped_index(&facet); i < block::length_from_head(&facet) && !found; ++i)
      found = matches(*block::rs_abs_at(&facet, i));
  }
  answer(logic::make(found));
}

constexpr const char* kHolder = "gui-internals";

const routines::LayerRow kRows[] = {
    // system/view/platform (gui/view.kel takes them in the contract's order).
    {"backend-start", "", "Runs the display backend's start-up; a block of its version, build and product",
     backend_start, 0, -1, kHolder},
    {"make-null-handle", "", "The handle! that stands for no view", make_null_handle, 0, -1, kHolder},
    {"fetch-all-screens", "", "A block of [offset size scale handle] per screen, or none", fetch_all_screens, 0, -1,
     kHolder},
    {"get-screen-size", "id [integer!]", "The size of a screen as a pair", get_screen_size, 0, -1, kHolder},
    {"size-text", "face [object!] value [any-type!]",
     "The size of the value's text (none: the face's text) as a point2D!, or none when it is no string",
     size_text, 0, -1, kHolder},
    {"on-change-facet",
     "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] part "
     "[integer!]",
     "Applies an in-place change of a series facet to the face's view", on_change_facet, 0, -1, kHolder},
    {"update-text", "face [object!]", "Updates the text of the face's view", update_text, 0, -1, kHolder},
    {"update-font", "font [object!] flags [integer!]", "Tells the backend which field of the font changed",
     update_shared, kFont, -1, kHolder},
    {"update-para", "face [object!] flags [integer!]", "Tells the backend which field of the face's para changed",
     update_shared, kPara, -1, kHolder},
    {"destroy-view", "face [object!] empty? [logic!]", "Destroys the face's view", destroy_view, 0, -1, kHolder},
    {"detach-image", "img [image!]", "Stops the image from reporting changes to an owner", detach_image, 0, -1,
     kHolder},
    {"update-view", "face [any-type!]",
     "Pushes the changed facets of a face, or of each face with a state in a block, to its view", update_view, 0,
     -1, kHolder},
    {"refresh-window", "h [handle!]", "Refreshes the window of the handle", refresh_window, 0, -1, kHolder},
    {"redraw", "face [object!]", "Repaints the face when it has a view", redraw, 0, -1, kHolder},
    {"show-window", "id [handle!]", "Makes the window visible", show_window, 0, -1, kHolder},
    {"make-view", "face [object!] parent [handle!]", "Creates the face's view inside the parent view; its handle!",
     make_view, 0, -1, kHolder},
    {"draw-image", "image [image!] cmds [block!]", "Renders the draw block into the image", draw_image, 0, -1,
     kHolder},
    {"draw-face", "face [object!] cmds [block!]", "Renders the draw block into the face's view", draw_face, 0, -1,
     kHolder},
    {"do-event-loop", "no-wait? [logic!]", "Runs the event loop (once through the pending events with no-wait?)",
     do_event_loop, 0, TYPE_LOGIC, kHolder},
    {"exit-event-loop", "", "Leaves one level of the running event loop", exit_event_loop, 0, -1, kHolder},
    {"request-font", "font [object!] selected [any-type!] mono? [logic!]", "A font! chosen by the user, or none",
     request_font, 0, -1, kHolder},
    {"request-file", "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]",
     "The file chosen by the user, or none", request_file, 0, -1, kHolder},
    {"request-dir", "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]",
     "The folder chosen by the user, or none", request_dir, 0, -1, kHolder},
    {"text-box-metrics", "box [object!] arg0 [any-type!] type [integer!]",
     "A metric of a rich-text face's text layout, by type", text_box_metrics, 0, -1, kHolder},
    {"update-scroller", "scroller [object!] flags [integer!]", "Tells the backend which field of the scroller changed",
     update_shared, kScroller, -1, kHolder},
    {"set-dark-mode", "face [object!] dark? [logic!]", "Switches a window's dark mode", set_dark_mode, 0, -1,
     kHolder},
    {"support-dark-mode?", "", "Whether the backend has a dark mode", support_dark_mode, 0, TYPE_LOGIC, kHolder},
    {"toggle-GPU", "", "Switches hardware drawing", toggle_gpu, 0, -1, kHolder},
    // TUI-helpers' routines over the backend's widgets.
    {"focused?", "face [object!]", "Whether the face's widget has the focus (false without a widget)", focused, 0,
     TYPE_LOGIC, kHolder},
    {"widget-data", "face [object!]", "The data word of the face's widget (0 without a widget)", widget_data, 0,
     TYPE_INTEGER, kHolder},
    {"set-face-ui", "face [object!] ui [string!]", "Stores the text the face's widget draws", set_face_ui, 0, -1,
     kHolder},
    // Global routines.
    {"event?", R"kel("Returns true if the value is this type" value [any-type!] return: [logic!])kel",
     "Whether the value's datatype is event!", event_q, 0, TYPE_LOGIC, nullptr},
    {"send-event-os", "event [event!] queued? [logic!]", "Hands the event to the display backend; whether it was sent",
     send_event_os, 0, TYPE_LOGIC, nullptr},
    {"find-flag?", "facet [any-type!] flag [word!]",
     "Whether a flags facet (one word or a block of words) holds the flag", find_flag_q, 0, TYPE_LOGIC, nullptr},
};

}  // namespace

void install_platform(Platform* platform) { installed = platform; }

Platform& platform() {
  if (installed == nullptr) fire(ErrorId::internal_routines);
  return *installed;
}

void add_platform_routines() { routines::add_layer_rows(kRows, sizeof kRows / sizeof kRows[0]); }

}  // namespace kel::gui
