// The palette of the GIF encoder (see quantize in image_codecs.h): the
// distinct colours when there are at most 256, else a median cut.
//
// Median cut: every distinct opaque colour, with its pixel count, starts in
// one box; the box with the widest channel range (among boxes of two colours
// or more) is sorted on that channel and split where half its pixels lie on
// each side, until there are as many boxes as palette entries or none can be
// split. Each box's entry is the pixel-weighted mean of its colours, and
// every colour maps to its own box's entry, so the mapping needs no search.
#include <algorithm>
#include <unordered_map>

#include "datatypes/image_codecs.h"

namespace kel::image_codecs {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

uint32_t channel(uint32_t colour, int c) { return (colour >> (16 - 8 * c)) & 255; }

struct Entry {
  uint32_t colour;
  uint64_t count;
};

struct Box {
  size_t first;
  size_t last;  // one past
  int widest = 0;
  uint32_t range = 0;
};

void measure(const std::vector<Entry>& entries, Box* box) {
  uint32_t low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  for (size_t i = box->first; i < box->last; ++i)
    for (int c = 0; c < 3; ++c) {
      low[c] = std::min(low[c], channel(entries[i].colour, c));
      high[c] = std::max(high[c], channel(entries[i].colour, c));
    }
  box->range = 0;
  for (int c = 0; c < 3; ++c)
    if (high[c] - low[c] >= box->range && high[c] >= low[c]) {
      box->range = high[c] - low[c];
      box->widest = c;
    }
}

}  // namespace

Palette quantize(const Raster& raster) {
  Palette palette;
  std::unordered_map<uint32_t, uint64_t> counts;
  bool any_transparent = false;
  for (uint32_t pixel : raster.pixels) {
    if ((pixel >> 24) < 128) any_transparent = true;
    else ++counts[pixel | kOpaque];
  }
  size_t room = any_transparent ? 255 : 256;
  std::vector<Entry> entries;
  entries.reserve(counts.size());
  for (const auto& [colour, count] : counts) entries.push_back({colour, count});
  // A fixed order, so that the same image always gives the same file.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.colour < b.colour; });
  std::unordered_map<uint32_t, uint8_t> index_of;
  if (entries.size() <= room) {
    for (const Entry& e : entries) {
      index_of[e.colour] = static_cast<uint8_t>(palette.colours.size());
      palette.colours.push_back(e.colour);
    }
  } else {
    std::vector<Box> boxes{Box{0, entries.size()}};
    measure(entries, &boxes[0]);
    while (boxes.size() < room) {
      Box* widest = nullptr;
      for (Box& box : boxes)
        if (box.last - box.first >= 2 && (widest == nullptr || box.range > widest->range)) widest = &box;
      if (widest == nullptr) break;
      int c = widest->widest;
      std::sort(entries.begin() + static_cast<std::ptrdiff_t>(widest->first),
                entries.begin() + static_cast<std::ptrdiff_t>(widest->last),
                [c](const Entry& a, const Entry& b) { return channel(a.colour, c) < channel(b.colour, c); });
      uint64_t total = 0, half = 0;
      for (size_t i = widest->first; i < widest->last; ++i) total += entries[i].count;
      size_t split = widest->first;
      while (split < widest->last - 1 && half + entries[split].count <= total / 2) half += entries[split++].count;
      if (split == widest->first) ++split;
      Box upper{split, widest->last};
      widest->last = split;
      measure(entries, widest);
      measure(entries, &upper);
      boxes.push_back(upper);
    }
    for (const Box& box : boxes) {
      uint64_t sum[3] = {0, 0, 0}, total = 0;
      for (size_t i = box.first; i < box.last; ++i) {
        for (int c = 0; c < 3; ++c) sum[c] += channel(entries[i].colour, c) * entries[i].count;
        total += entries[i].count;
      }
      uint32_t mean = kOpaque;
      for (int c = 0; c < 3; ++c) mean |= static_cast<uint32_t>((sum[c] + total / 2) / total) << (16 - 8 * c);
      for (size_t i = box.first; i < box.last; ++i) index_of[entries[i].colour] = static_cast<uint8_t>(palette.colours.size());
      palette.colours.push_back(mean);
    }
  }
  if (any_transparent) {
    palette.transparent = static_cast<int32_t>(palette.colours.size());
    palette.colours.push_back(0);
  }
  palette.indexes.resize(raster.pixels.size());
  for (size_t i = 0; i < raster.pixels.size(); ++i) {
    uint32_t pixel = raster.pixels[i];
    palette.indexes[i] = (pixel >> 24) < 128 ? static_cast<uint8_t>(palette.transparent) : index_of[pixel | kOpaque];
  }
  if (palette.colours.empty()) palette.colours.push_back(kOpaque);  // an image of no pixels still needs a table
  return palette;
}

}  // namespace kel::image_codecs
