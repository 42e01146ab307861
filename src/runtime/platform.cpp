// The platform layer on POSIX (see platform.h).
#include "runtime/platform.h"

#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/exits.h"

namespace kel::platform {

void init() {}

void* os_allocate(size_t size, bool executable, bool huge_pages) {
  int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size < kHugePage) {
    void* p = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) exits::throw_unwind(exits::kOsCommitRefused);
    return p;
  }
  // A block of a huge page or more starts on a huge page boundary, and asks
  // for huge pages when the caller wants them: filling it then faults once
  // per 2 MiB instead of once per 4 KiB.
  size_t padded = size + kHugePage;
  void* p = ::mmap(nullptr, padded, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) exits::throw_unwind(exits::kOsCommitRefused);
  uintptr_t start = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) ::munmap(p, aligned - start);
  uintptr_t end = start + padded;
  uintptr_t used_end = aligned + ((size + 4095) & ~size_t{4095});
  if (end > used_end) ::munmap(reinterpret_cast<void*>(used_end), end - used_end);
  if (huge_pages) ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void os_free(void* address, size_t size) {
  if (::munmap(address, size) != 0) exits::throw_unwind(exits::kOsReleaseRefused);
}

namespace {
// The executable's segments that its loader read from the file.
struct FileSegment {
  uintptr_t start;  // loaded address
  uintptr_t end;    // end of the bytes read from the file
  uint64_t offset;  // file offset of start
};

const std::vector<FileSegment>& executable_segments() {
  static const std::vector<FileSegment> segments = [] {
    std::vector<FileSegment> found;
    // The first object the iteration visits is the executable itself.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
          auto* list = static_cast<std::vector<FileSegment>*>(data);
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& header = info->dlpi_phdr[i];
            if (header.p_type != PT_LOAD || header.p_filesz == 0) continue;
            uintptr_t start = info->dlpi_addr + header.p_vaddr;
            list->push_back({start, start + header.p_filesz, header.p_offset});
          }
          return 1;
        },
        &found);
    return found;
  }();
  return segments;
}

const FileSegment* segment_holding(const void* bytes, size_t length) {
  auto start = reinterpret_cast<uintptr_t>(bytes);
  for (const FileSegment& segment : executable_segments())
    if (start >= segment.start && start <= segment.end && length <= segment.end - start) return &segment;
  return nullptr;
}
}  // namespace

bool map_executable_pages(void* at, size_t length, const void* source) {
  const FileSegment* segment = segment_holding(source, length);
  auto start = reinterpret_cast<uintptr_t>(source);
  if (segment == nullptr || (start & 4095) != 0 || (reinterpret_cast<uintptr_t>(at) & 4095) != 0) return false;
  uint64_t offset = segment->offset + (start - segment->start);
  if ((offset & 4095) != 0) return false;
  int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  // Mapped elsewhere first, then moved over the pages at `at` in one step,
  // so that a refusal leaves them as they were.
  void* mapped = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, file, static_cast<off_t>(offset));
  ::close(file);
  if (mapped == MAP_FAILED) return false;
  if (::mremap(mapped, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, at) == MAP_FAILED) {
    ::munmap(mapped, length);
    return false;
  }
  return true;
}

bool in_executable_file(const void* bytes, size_t length) { return segment_holding(bytes, length) != nullptr; }

std::string get_current_dir() {
  std::string path(256, '\0');
  while (::getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    path.resize(path.size() * 2);
  }
  path.resize(std::strlen(path.c_str()));
  return path;
}

bool set_current_dir(const std::string& path) { return ::chdir(path.c_str()) == 0; }

uint32_t milliseconds_to_sleep(double seconds) {
  double ms = seconds * 1000.0;
  if (!(ms >= 1.0)) return 1;
  if (ms > 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(ms);
}

void sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds_to_sleep(seconds)));
}

// The signal that may set the wake flag (a console interrupt) stays blocked
// except inside ppoll, which puts the caller's mask back atomically with
// the wait: one that came before the wait began is then delivered at once
// and ends it.
double sleep(double seconds, const volatile std::sig_atomic_t* wake) {
  auto nanoseconds = [](const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
  sigset_t interrupt, callers_mask;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, &callers_mask);
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t deadline = nanoseconds(now) + int64_t{milliseconds_to_sleep(seconds)} * 1000000;
  int64_t left = 0;
  for (;;) {
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    left = deadline - nanoseconds(now);
    if (left <= 0 || *wake) break;
    timespec span{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    ::ppoll(nullptr, 0, &span, &callers_mask);
  }
  pthread_sigmask(SIG_SETMASK, &callers_mask, nullptr);
  return left > 0 ? static_cast<double>(left) / 1e9 : 0.0;
}

bool set_env(const std::string& name, const std::string* value) {
  if (value == nullptr) return ::unsetenv(name.c_str()) == 0;
  return ::setenv(name.c_str(), value->c_str(), 1) == 0;
}

std::optional<std::string> get_env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

double now_utc(bool precise) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  double seconds = static_cast<double>(now.tv_sec % 86400);
  if (precise) seconds += static_cast<double>(now.tv_nsec) / 1e9;
  return seconds;
}

uint32_t pack_zone(int32_t minutes) {
  uint32_t sign = minutes < 0 ? 0x40 : 0;
  int32_t magnitude = minutes < 0 ? -minutes : minutes;
  uint32_t hours = static_cast<uint32_t>(magnitude / 60) & 0x0F;
  uint32_t quarters = static_cast<uint32_t>((magnitude % 60) / 15) & 0x03;
  return sign | (hours << 2) | quarters;
}

uint32_t now_local(bool utc) {
  time_t now = ::time(nullptr);
  struct tm fields{};
  int32_t zone_minutes = 0;
  if (utc) {
    ::gmtime_r(&now, &fields);
  } else {
    ::localtime_r(&now, &fields);
    zone_minutes = static_cast<int32_t>(fields.tm_gmtoff / 60);
  }
  uint32_t year = static_cast<uint32_t>(fields.tm_year + 1900);
  uint32_t month = static_cast<uint32_t>(fields.tm_mon + 1);
  uint32_t day = static_cast<uint32_t>(fields.tm_mday);
  return (year << 17) | (month << 12) | (day << 7) | pack_zone(zone_minutes);
}

Moment now_moment(bool utc, bool precise) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  struct tm fields{};
  int32_t zone_minutes = 0;
  if (utc) {
    ::gmtime_r(&seconds, &fields);
  } else {
    // localtime_r need not read TZ again: a zone the program set since
    // start-up takes effect only through tzset.
    ::tzset();
    ::localtime_r(&seconds, &fields);
    zone_minutes = static_cast<int32_t>(fields.tm_gmtoff / 60);
  }
  uint32_t year = static_cast<uint32_t>(fields.tm_year + 1900);
  uint32_t month = static_cast<uint32_t>(fields.tm_mon + 1);
  uint32_t day = static_cast<uint32_t>(fields.tm_mday);
  Moment moment;
  moment.date = (year << 17) | (month << 12) | (day << 7) | pack_zone(zone_minutes);
  moment.time_of_day = fields.tm_hour * 3600.0 + fields.tm_min * 60.0 + fields.tm_sec;
  if (precise) moment.time_of_day += static_cast<double>(now.tv_nsec) / 1e9;
  return moment;
}

void fill_bytes(uint8_t* start, uint8_t* end, uint8_t byte) {
  if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

void raise_with_default_action(int signal_number) {
  ::signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  ::raise(signal_number);
}

}  // namespace kel::platform
