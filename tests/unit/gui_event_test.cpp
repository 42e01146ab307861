// Live events of a display backend: an event refers to its backend record
// by id and generation, so one kept after its dispatch reads none for what
// the record held (and its flags as they were), never a record reused for
// a later event; while a record is open, the collector keeps its face.
#include "gui/event.h"

#include <gtest/gtest.h>

#include "datatypes/char.h"
#include "datatypes/pair.h"
#include "evaluator/source_evaluation.h"
#include "gui/faces.h"
#include "runtime/collector.h"
#include "test_support.h"

namespace kel {
namespace {

using LiveEvents = testing::RuntimeTest;

gui::event::LiveRecord record_of(const Cell& face, uint32_t key) {
  Cell none = make_cell(TYPE_NONE);
  return gui::event::LiveRecord{face, none, pair::make(3, 4), character::make(key), integer::make(2), none};
}

Cell new_face(const char* type) {
  std::string source = std::string("make face! [type: '") + type + "]";
  return *source_evaluation::do_source(source);
}

TEST_F(LiveEvents, AnOpenRecordAnswersItsFields) {
  stack::Guard guard;
  Cell face = *stack::push(new_face("button"));
  Cell event = gui::event::open_live(9, record_of(face, 'a'), gui::event::kFlagShift, false);
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kType)), "click");
  EXPECT_TRUE(gui::faces::same_object(gui::event::read_field(event, gui::event::kFace), face));
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kOffset)), "3x4");
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kKey)), "#\"a\"");
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kPicked)), "2");
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kFlags)), "[shift]");
  gui::event::close_live(event);
}

TEST_F(LiveEvents, AKeptEventReadsNoneOnceItsRecordIsClosedOrReused) {
  stack::Guard guard;
  Cell first_face = *stack::push(new_face("field"));
  Cell second_face = *stack::push(new_face("area"));
  Cell kept = gui::event::open_live(13, record_of(first_face, 'x'), gui::event::kFlagControl, false);
  gui::event::close_live(kept);
  EXPECT_EQ(testing::mold(gui::event::read_field(kept, gui::event::kFace)), "none");
  EXPECT_EQ(testing::mold(gui::event::read_field(kept, gui::event::kKey)), "none");
  // What the cell itself holds stays: its type and its flags.
  EXPECT_EQ(testing::mold(gui::event::read_field(kept, gui::event::kType)), "key");
  EXPECT_EQ(testing::mold(gui::event::read_field(kept, gui::event::kCtrl)), "true");
  // The next event takes the closed record again; the kept one does not
  // see it.
  Cell next = gui::event::open_live(13, record_of(second_face, 'y'), 0, false);
  EXPECT_EQ(next.data2, kept.data2);
  EXPECT_EQ(testing::mold(gui::event::read_field(kept, gui::event::kFace)), "none");
  EXPECT_TRUE(gui::faces::same_object(gui::event::read_field(next, gui::event::kFace), second_face));
  gui::event::close_live(next);
  gui::event::close_live(next);  // closing twice does nothing
}

TEST_F(LiveEvents, TheCollectorKeepsTheFaceOfAnOpenRecord) {
  Cell event;
  {
    stack::Guard guard;
    Cell face = *stack::push(new_face("panel"));
    event = gui::event::open_live(1, record_of(face, 'z'), 0, false);
  }
  collector::collect();
  source_evaluation::do_source("loop 20 [make block! 1000 make string! 1000]");
  collector::collect();
  Cell face = gui::event::read_field(event, gui::event::kFace);
  EXPECT_EQ(testing::mold(gui::faces::field(face, "type")), "panel");
  gui::event::close_live(event);
}

TEST_F(LiveEvents, CodesOutsideTheTableReadAsNone) {
  Cell none = make_cell(TYPE_NONE);
  Cell event = gui::event::open_live(39, gui::event::LiveRecord{none, none, none, none, none, none}, 0, false);
  EXPECT_EQ(testing::mold(gui::event::read_field(event, gui::event::kType)), "none");
  gui::event::close_live(event);
  Cell negative = gui::event::open_live(-5, gui::event::LiveRecord{none, none, none, none, none, none}, 0, false);
  EXPECT_EQ(testing::mold(gui::event::read_field(negative, gui::event::kType)), "none");
  gui::event::close_live(negative);
}

}  // namespace
}  // namespace kel
