// The platform layer: thin wrappers through which the runtime reaches the
// operating system (POSIX). The two memory wrappers turn refusal into a
// throw of the platform exit codes, which the memory manager catches; the
// others return the system's answer to the caller.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kel::platform {

void init();

// Read-write (or executable) pages; refusal throws exits::kOsCommitRefused.
// With huge_pages, a block of a huge page or more starts on a huge page
// boundary and asks the system for huge pages.
void* os_allocate(size_t size, bool executable, bool huge_pages = false);
// Releases pages; failure throws exits::kOsReleaseRefused.
void os_free(void* address, size_t size);
// Whether the bytes lie in the executable's own file as it is loaded (a
// segment read from the file, not one the loader zero-fills).
bool in_executable_file(const void* bytes, size_t length);
// Maps the pages of the executable's file that the loaded bytes at source
// come from at the page-aligned address at, private and writable, in place
// of the pages there: each is read from the file when first touched and
// copied when first written. source must be page-aligned and lie in the
// executable's file; false, with the pages at `at` as they were, when it
// does not or the system refuses.
bool map_executable_pages(void* at, size_t length, const void* source);

std::string get_current_dir();
bool set_current_dir(const std::string& path);

// Suspends the process for the duration, at least one millisecond. With a
// wake flag, a signal that sets it ends the sleep early (no signal can slip
// in between the test of the flag and the sleep); the result is the time
// left, 0 when the whole duration passed.
void sleep(double seconds);
double sleep(double seconds, const volatile std::sig_atomic_t* wake);
// From a signal handler: lets the signal (blocked while its handler runs)
// through and raises it again with its default action. Async-signal-safe.
void raise_with_default_action(int signal_number);
// The whole milliseconds that sleep waits for a duration in seconds: at
// least 1, at most 2^32 - 1 (it only converts; it does not sleep).
uint32_t milliseconds_to_sleep(double seconds);

// A null value removes the variable.
bool set_env(const std::string& name, const std::string* value);
std::optional<std::string> get_env(const std::string& name);

// The UTC time of day in seconds: whole seconds, or with sub-second
// precision when precise.
double now_utc(bool precise);

// Today's date packed as a date! cell's date word: year << 17 | month << 12
// | day << 7 | zone, the zone in 7 bits (whole hours of the offset in bits
// 2-5, bit 6 its sign, remaining quarter hours in bits 0-1); zone 0 with utc.
uint32_t now_local(bool utc);
// The zone bits of an offset in minutes east of UTC.
uint32_t pack_zone(int32_t minutes);

// The current moment from a single clock reading, so that the date and the
// time of day never straddle a midnight: the date word as now_local packs
// it, and the local time of day in seconds (whole seconds unless precise;
// the UTC time of day with utc).
struct Moment {
  uint32_t date;
  double time_of_day;
};
Moment now_moment(bool utc, bool precise);

void fill_bytes(uint8_t* start, uint8_t* end, uint8_t byte);

}  // namespace kel::platform
