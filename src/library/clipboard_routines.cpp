// read-clipboard and write-clipboard (see clipboard_routines.h).
#include "library/clipboard_routines.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/image_codecs.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "io/clipboard.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/string_buffer.h"

namespace kel::clipboard_routines {

namespace {

// The in-process store: a copy of the last value written, none when empty.
Cell store = make_cell(TYPE_NONE);
bool store_rooted = false;

bool is_file_list(const Cell& block) {
  SeriesBuffer* buffer = memory::buffer_of(block.data2);
  for (uint32_t i = block.data1; i < buffer->cell_count(); ++i)
    if (!buffer->cells()[i].is(TYPE_FILE)) return false;
  return true;
}

bool accepted(const Cell& data) {
  switch (data.type()) {
    case TYPE_NONE:
    case TYPE_STRING:
    case TYPE_IMAGE:
      return true;
    case TYPE_BLOCK:
      return is_file_list(data);
    default:
      return false;
  }
}

// A copy the holder cannot change through the value it wrote or read.
Cell copied(const Cell& value) {
  stack::Guard guard;
  if (value.is(TYPE_BLOCK)) return block::copy_block(stack::push(value), false);
  if (value.is(TYPE_IMAGE)) {
    std::vector<uint32_t> pixels = image::copy_pixels(value);
    return *image::push_pixels(image::width_of(value), image::height_of(value), pixels.data());
  }
  if (value.is(TYPE_STRING)) {
    std::string text = string::to_std_string(value);
    return *string::load_cstr(text.data(), static_cast<uint32_t>(text.size()), string::kEncodingUtf8);
  }
  return value;
}

void keep_in_store(const Cell& data) {
  if (!store_rooted) {
    collector::add_global_root(&store);
    store_rooted = true;
  }
  store = copied(data);
}

Cell from_system(const clipboard::Content& content) {
  stack::Guard guard;
  switch (content.kind) {
    case clipboard::Content::Kind::kText:
      return *string::load_cstr(content.text.data(), static_cast<uint32_t>(content.text.size()),
                                string::kEncodingUtf8);
    case clipboard::Content::Kind::kFiles: {
      Cell* files = block::push_only(static_cast<int32_t>(content.paths.size()));
      for (const std::string& path : content.paths) {
        Cell* file = file::from_os_path(reinterpret_cast<const uint8_t*>(path.data()), static_cast<uint32_t>(path.size()));
        block::rs_append(files, *file);
        stack::pop(1);
      }
      return *files;
    }
    case clipboard::Content::Kind::kImage: {
      // A picture that does not decode reads as nothing, as an empty
      // clipboard does.
      std::optional<image_codecs::Raster> raster = image_codecs::decode(content.png.data(), content.png.size());
      if (!raster) return none::value;
      return *image::push_pixels(raster->width, raster->height, raster->pixels.data());
    }
    default:
      return none::value;
  }
}

}  // namespace

void read(uint32_t) {
  clipboard::Tool tool = clipboard::system_tool();
  if (tool == clipboard::Tool::kNone) {
    stack::set_last(copied(store));
    return;
  }
  std::optional<clipboard::Content> content = clipboard::read(tool);
  stack::set_last(content ? from_system(*content) : logic::make(false));
}

void write(uint32_t) {
  Cell data = stack::arguments()[0];
  if (!accepted(data)) fire(ErrorId::script_invalid_arg, &data);
  clipboard::Tool tool = clipboard::system_tool();
  if (tool == clipboard::Tool::kNone) {
    keep_in_store(data);
    stack::set_last(logic::make(true));
    return;
  }
  bool taken;
  if (data.is(TYPE_NONE)) {
    taken = clipboard::clear(tool);
  } else if (data.is(TYPE_STRING)) {
    taken = clipboard::write_text(tool, string::to_std_string(data));
  } else if (data.is(TYPE_IMAGE)) {
    // An image with no pixels cannot be a PNG: the clipboard keeps nothing.
    if (image::area_of(data) == 0) {
      taken = clipboard::clear(tool);
    } else {
      Cell png = image::encode(data, static_cast<int32_t>(image_codecs::Format::kPng));
      const uint8_t* bytes = memory::buffer_of(png.data2)->head_ptr();
      taken = clipboard::write_png(tool, std::vector<uint8_t>(bytes, bytes + memory::buffer_of(png.data2)->used()));
    }
  } else {
    // Files go with their full paths: another program does not share this
    // process's current folder.
    std::vector<std::string> paths;
    for (uint32_t i = data.data1; i < memory::buffer_of(data.data2)->cell_count(); ++i) {
      Cell file = memory::buffer_of(data.data2)->cells()[i];
      paths.push_back(file::to_os_path(file, true));
    }
    taken = clipboard::write_files(tool, paths);
  }
  stack::set_last(logic::make(taken));
}

}  // namespace kel::clipboard_routines
