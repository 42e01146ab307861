// Where the terminal GUI runs Kel code (see kel_bridge.h).
#include "gui/terminal/kel_bridge.h"

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/source_evaluation.h"
#include "gui/event.h"
#include "gui/faces.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"

namespace kel::tui {

namespace {

// The functions the bridge calls. They are made in a context of their own,
// so they add no global words.
constexpr char kHelpersSource[] = R"kel(context [
	dispatch: func [event][do-safe [system/view/awake event]]
	set-facet: func [face word value][do-safe [face/:word: :value]]
	call-helper: func [name face /local saved result helper][
		helper: get in TUI-helpers name
		saved: system/view/auto-sync?
		system/view/auto-sync?: false
		set/any 'result do-safe [helper face]
		system/view/auto-sync?: saved
		:result
	]
	color-level: func [][TUI-helpers/check-color-support]
	set-quietly: func [object word value][set-quiet in object word :value]
	unlink-shared: func [face][
		do-safe [
			link-sub-to-parent face 'font face/font none
			link-sub-to-parent face 'para face/para none
		]
	]
	request-file: func [name save? multi?][TUI-helpers/request-file none name none save? multi?]
	request-dir: func [keep? multi?][TUI-helpers/request-dir none none none keep? multi?]
])kel";

// The word a special key's code names, none for codes no key has.
Cell special_key_word(int32_t code) {
  static const char* const kNames[] = {"up", "down", "right", "left", "end", "home", "insert", "delete",
                                       "page-up", "page-down"};
  Cell word = make_cell(TYPE_NONE);
  if (code <= -20 && code >= -29) {
    word::make_at(symbol::make(kNames[-20 - code]), &word);
  } else if (code <= -31 && code >= -42) {
    std::string name = "F" + std::to_string(-30 - code);
    word::make_at(symbol::make(name), &word);
  }
  return word;
}

Cell word_named(const char* name) {
  Cell word = make_cell(TYPE_NONE);
  word::make_at(symbol::make(name), &word);
  return word;
}

}  // namespace

Cell KelBridge::helper(const char* name) {
  if (!object::is_object_kind(helpers_.type())) {
    stack::Guard guard;
    helpers_ = *source_evaluation::do_source(kHelpersSource);
  }
  return gui::faces::field(helpers_, name);
}

bool KelBridge::dispatch(const Cell& face, int32_t type_code, const EventDetails& details) {
  Cell function = helper("dispatch");
  gui::event::LiveRecord record;
  record.face = face;
  record.window = make_cell(TYPE_NONE);
  record.offset = pair::make(static_cast<int32_t>(details.x), static_cast<int32_t>(details.y));
  if (details.special) record.key = special_key_word(details.key);
  else if (details.key != 0) record.key = character::make(static_cast<uint32_t>(details.key));
  else record.key = make_cell(TYPE_NONE);
  record.picked = details.wheel ? float_type::make(details.picked) : integer::make(details.picked);
  record.orientation = make_cell(TYPE_NONE);
  Cell event = gui::event::open_live(type_code, record, details.flags, details.special);
  Cell result;
  {
    stack::Guard guard;
    try {
      result = interpreter::call_value(function, &event, 1);
    } catch (...) {
      gui::event::close_live(event);
      throw;
    }
  }
  gui::event::close_live(event);
  return gui::faces::is_word(result, "done");
}

void KelBridge::set_facet(const Cell& face, const char* name, const Cell& value) {
  Cell function = helper("set-facet");
  stack::Guard guard;
  Cell arguments[3] = {face, word_named(name), value};
  interpreter::call_value(function, arguments, 3);
}

void KelBridge::set_facet_quietly(const Cell& object, const char* name, const Cell& value) {
  Cell function = helper("set-quietly");
  stack::Guard guard;
  Cell arguments[3] = {object, word_named(name), value};
  interpreter::call_value(function, arguments, 3);
}

void KelBridge::unlink_shared(const Cell& face) {
  Cell function = helper("unlink-shared");
  stack::Guard guard;
  interpreter::call_value(function, &face, 1);
}

Cell KelBridge::request(const char* name, const Cell& value, bool first_flag, bool second_flag) {
  Cell function = helper(name);
  stack::Guard guard;
  Cell arguments[3] = {value, logic::make(first_flag), logic::make(second_flag)};
  bool with_value = std::string_view(name) == "request-file";
  return interpreter::call_value(function, with_value ? arguments : arguments + 1, with_value ? 3 : 2);
}

Cell KelBridge::call_helper(const char* name, const Cell& face) {
  Cell function = helper("call-helper");
  stack::Guard guard;
  Cell arguments[2] = {word_named(name), face};
  return interpreter::call_value(function, arguments, 2);
}

int32_t KelBridge::color_level() {
  if (color_level_ == 0) {
    Cell function = helper("color-level");
    stack::Guard guard;
    Cell level = interpreter::call_value(function, nullptr, 0);
    color_level_ = level.is(TYPE_INTEGER) ? integer::get(level) : 2;
  }
  return color_level_;
}

void KelBridge::mark() { collector::mark_value(helpers_); }

}  // namespace kel::tui
