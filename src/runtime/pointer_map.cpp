// The pointer map (see the end of hash_table.h): node ids to 32-bit values,
// in memory outside the series heap, for the collector while it compacts.
//
// Same bucket scheme as the hash tables: a power-of-two bucket count, two
// status bits per bucket (2 empty, 1 deleted, 0 live), triangular probing,
// a resize once occupied (live plus deleted) reaches upper. Each bucket
// holds its own (key, value) entry, so there is no separate entry block.
// Memory comes from malloc: a refused allocation leaves the map as it was
// and is reported, since the collector cannot raise an error mid-way.
#include <cstdlib>
#include <cstring>

#include "runtime/hash_table.h"

namespace kel::pointer_map {

namespace {

constexpr double kLoadFactor = 0.77;

using hash_table::get_status;
using hash_table::set_status;

uint32_t round_up_power_of_two(uint64_t n) {
  uint64_t p = 4;
  while (p < n) p <<= 1;
  return p > 0x40000000u ? 0 : static_cast<uint32_t>(p);
}

uint32_t status_bytes(uint32_t buckets) { return (buckets + 3) / 4; }

// The bucket of a key, or -1; *free_bucket receives the bucket an insertion
// would take (first deleted on the path, else the empty one that ended it).
int32_t find_bucket(const Map* map, uint32_t key, int32_t* free_bucket) {
  uint32_t mask = map->buckets - 1;
  uint32_t bucket = hash_table::hash_pointer(key) & mask;
  int32_t first_free = -1;
  for (uint32_t step = 0; step <= mask; bucket = (bucket + ++step) & mask) {
    uint32_t state = get_status(map->status, bucket);
    if (state == hash_table::kEmpty) {
      if (first_free < 0) first_free = static_cast<int32_t>(bucket);
      break;
    }
    if (state == hash_table::kDeleted) {
      if (first_free < 0) first_free = static_cast<int32_t>(bucket);
    } else if (map->entries[bucket].key == key) {
      return static_cast<int32_t>(bucket);
    }
  }
  if (free_bucket) *free_bucket = first_free;
  return -1;
}

// New arrays of `count` buckets, live entries re-inserted; false (map
// unchanged) when memory is refused.
bool resize(Map* map, uint32_t count) {
  uint32_t buckets = round_up_power_of_two(count);
  if (buckets == 0) return false;
  auto upper = static_cast<uint32_t>(buckets * kLoadFactor + 0.5);
  if (map->size >= upper) return true;
  auto* status = static_cast<uint8_t*>(std::malloc(status_bytes(buckets)));
  auto* entries = static_cast<Entry*>(std::malloc(sizeof(Entry) * buckets));
  if (status == nullptr || entries == nullptr) {
    std::free(status);
    std::free(entries);
    return false;
  }
  std::memset(status, 0xAA, status_bytes(buckets));
  uint32_t mask = buckets - 1;
  for (uint32_t i = 0; i < map->buckets; ++i) {
    if (get_status(map->status, i) != hash_table::kLive) continue;
    const Entry& entry = map->entries[i];
    uint32_t bucket = hash_table::hash_pointer(entry.key) & mask;
    for (uint32_t step = 0; get_status(status, bucket) != hash_table::kEmpty;) bucket = (bucket + ++step) & mask;
    set_status(status, bucket, hash_table::kLive);
    entries[bucket] = entry;
  }
  std::free(map->status);
  std::free(map->entries);
  map->status = status;
  map->entries = entries;
  map->buckets = buckets;
  map->upper = upper;
  map->occupied = map->size;
  return true;
}

}  // namespace

Map* make(uint32_t n) {
  uint32_t buckets = round_up_power_of_two(static_cast<uint64_t>((n < 4 ? 4 : n) / kLoadFactor));
  if (buckets == 0) return nullptr;
  auto* map = static_cast<Map*>(std::malloc(sizeof(Map)));
  if (map == nullptr) return nullptr;
  map->status = static_cast<uint8_t*>(std::malloc(status_bytes(buckets)));
  map->entries = static_cast<Entry*>(std::malloc(sizeof(Entry) * buckets));
  if (map->status == nullptr || map->entries == nullptr) {
    std::free(map->status);
    std::free(map->entries);
    std::free(map);
    return nullptr;
  }
  std::memset(map->status, 0xAA, status_bytes(buckets));
  map->size = 0;
  map->occupied = 0;
  map->buckets = buckets;
  map->upper = static_cast<uint32_t>(buckets * kLoadFactor);
  return map;
}

void free(Map* map) {
  if (map == nullptr) return;
  std::free(map->status);
  std::free(map->entries);
  std::free(map);
}

int32_t put(Map* map, uint32_t key, uint32_t value) {
  int32_t bucket = find_bucket(map, key, nullptr);
  if (bucket >= 0) {
    map->entries[bucket].value = value;
    return 0;
  }
  if (map->occupied >= map->upper) {
    uint32_t count = map->size * 2 < map->buckets ? map->buckets - 1 : map->buckets + 1;
    if (!resize(map, count)) return -1;
  }
  int32_t free_bucket = -1;
  find_bucket(map, key, &free_bucket);
  if (free_bucket < 0) return -1;  // unreachable while occupied stays below buckets
  auto chosen = static_cast<uint32_t>(free_bucket);
  if (get_status(map->status, chosen) == hash_table::kEmpty) ++map->occupied;
  set_status(map->status, chosen, hash_table::kLive);
  map->entries[chosen] = Entry{key, value};
  ++map->size;
  return 0;
}

uint32_t* get(Map* map, uint32_t key) {
  int32_t bucket = find_bucket(map, key, nullptr);
  return bucket < 0 ? nullptr : &map->entries[bucket].value;
}

void remove(Map* map, uint32_t key) {
  int32_t bucket = find_bucket(map, key, nullptr);
  if (bucket < 0) return;
  set_status(map->status, static_cast<uint32_t>(bucket), hash_table::kDeleted);
  --map->size;
}

Entry* next(Map* map, Entry* after) {
  uint32_t i = after == nullptr ? 0 : static_cast<uint32_t>(after - map->entries) + 1;
  for (; i < map->buckets; ++i)
    if (get_status(map->status, i) == hash_table::kLive) return &map->entries[i];
  return nullptr;
}

void clear(Map* map) {
  std::memset(map->status, 0xAA, status_bytes(map->buckets));
  map->size = 0;
  map->occupied = 0;
}

uint32_t count(const Map* map) { return map->size; }

}  // namespace kel::pointer_map
