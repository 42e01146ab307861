// The file system layer (see file_system.h).
//
// Reading gathers a file's bytes in one std::vector first and builds the
// value from it afterwards, so no series buffer is held across the system
// calls and the value is made in one allocation. A file that reports a
// size is read for that many bytes from its position; one that reports 0
// is read to its end, and the part and position are then cut from what was
// read. Writing turns the data into its bytes first; a plain write over an
// existing regular file puts them in a new file beside it and renames that
// over the old one once they are all on the disk, so a write that fails
// part-way (a full disk) leaves the old content whole. Every other write
// opens, positions, writes and closes in place.
#include "io/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/actions.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "datatypes/argument_checks.h"
#include "runtime/upcalls.h"

namespace kel::file_system {

namespace {

// The largest content a series can take in one value.
constexpr int64_t kLargestRead = static_cast<int64_t>(memory::kMaxSeriesBytes);
constexpr size_t kChunk = 65536;

using Bytes = std::vector<uint8_t>;

bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

std::string os_path(const Cell& file) { return file::to_os_path(file, false); }

// Reads from the descriptor to the end of the data, or until limit bytes
// are in (limit < 0: no limit of its own): a device that never ends, read
// with a part, stops once the part is in.
bool read_to_end(int handle, int64_t limit, Bytes* out) {
  uint8_t chunk[kChunk];
  for (;;) {
    int64_t wanted = kChunk;
    if (limit >= 0) {
      int64_t left = limit - static_cast<int64_t>(out->size());
      if (left <= 0) return true;
      if (left < wanted) wanted = left;
    }
    int64_t count = read_data(handle, chunk, wanted);
    if (count < 0) return false;
    if (count == 0) return true;
    if (static_cast<int64_t>(out->size()) + count > kLargestRead) return false;
    out->insert(out->end(), chunk, chunk + count);
  }
}

}  // namespace

namespace {

// Reads a file's bytes as read_bytes describes into storage that place
// gives for the count it will hold; answers the count read, or -1 when the
// file cannot be read. A regular file's bytes are read straight into
// place's storage, so that a large file is neither cleared nor copied on
// its way into a value.
template <class Place>
int64_t read_file(const std::string& path, int64_t part, int64_t position, Place place) {
  if (has_nul(path)) return -1;
  int handle = open(path, kRead);
  if (handle < 0) return -1;
  struct Closer {
    int handle;
    ~Closer() { close(handle); }
  } closer{handle};
  int64_t size = size_of(handle);
  if (size < 0) return -1;
  if (size == 0) {
    // Pipes, devices and /proc files report 0: read once, to the end (or
    // to the end of the part), then cut.
    Bytes bytes;
    int64_t limit = part >= 0 ? std::max<int64_t>(position, 0) + part : -1;
    if (!read_to_end(handle, limit, &bytes)) return -1;
    auto start = static_cast<int64_t>(bytes.size());
    if (position >= 0 && position < start) start = position;
    else if (position < 0) start = 0;
    int64_t count = static_cast<int64_t>(bytes.size()) - start;
    if (part >= 0 && part < count) count = part;
    uint8_t* to = place(static_cast<size_t>(count));
    if (count > 0) std::memcpy(to, bytes.data() + start, static_cast<size_t>(count));
    return count;
  }
  if (position >= 0) {
    if (position >= size) {
      place(0);
      return 0;
    }
    if (!seek(handle, position)) return -1;
    size -= position;
  }
  if (part >= 0 && part < size) size = part;
  if (size > kLargestRead) return -1;
  uint8_t* to = place(static_cast<size_t>(size));
  return size == 0 ? 0 : read_data(handle, to, size);
}

}  // namespace

// A position past the end gives no bytes.
std::optional<Bytes> read_bytes(const std::string& path, int64_t part, int64_t position) {
  Bytes bytes;
  int64_t count = read_file(path, part, position, [&bytes](size_t size) {
    bytes.resize(size);
    return bytes.data();
  });
  if (count < 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(count));
  return bytes;
}

namespace {

// Text as the language keeps it: no byte-order mark, line feeds only.
std::string normalized_text(const uint8_t* bytes, size_t length) {
  size_t start = 0;
  if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start = 3;
  std::string text;
  text.reserve(length - start);
  // The runs between carriage returns are copied whole.
  const char* at = reinterpret_cast<const char*>(bytes) + start;
  const char* end = reinterpret_cast<const char*>(bytes) + length;
  while (at < end) {
    const char* return_at = static_cast<const char*>(std::memchr(at, '\r', static_cast<size_t>(end - at)));
    if (return_at == nullptr) {
      text.append(at, end);
      break;
    }
    text.append(at, return_at);
    text += '\n';
    at = return_at + 1;
    if (at < end && *at == '\n') ++at;
  }
  return text;
}

Cell* push_text(const std::string& text) {
  return string::load(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()), nullptr,
                      string::kEncodingUtf8);
}

// The lines of the bytes: cut at each line feed, a carriage return just
// before it dropped; text after the last line feed is one more line.
Cell* push_lines(const Bytes& bytes) {
  Cell* block = block::push_only(16);
  size_t start = 0;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    bool at_end = i == bytes.size();
    if (!at_end && bytes[i] != '\n') continue;
    if (at_end && start == bytes.size()) break;
    size_t end = i;
    if (!at_end && end > start && bytes[end - 1] == '\r') --end;
    string::load_in(bytes.data() + start, static_cast<uint32_t>(end - start), block, string::kEncodingUtf8);
    start = i + 1;
  }
  return block;
}

// --- Writing ---------------------------------------------------------------------------------

// The bytes written for one value: a string's text, a binary's bytes from
// its index (cut to part when part is above 0), any other value molded.
void append_value_bytes(const Cell& value, int64_t part, Bytes* out) {
  if (value.is(TYPE_BINARY)) {
    Cell copy = value;
    uint32_t length = binary::rs_length(&copy);
    if (part > 0 && part < length) length = static_cast<uint32_t>(part);
    const uint8_t* head = binary::rs_head(&copy);
    out->insert(out->end(), head, head + length);
    return;
  }
  std::string text;
  if (value.is(TYPE_STRING)) {
    text = string::to_std_string(value);
    if (part > 0) {
      // A part counts characters: the text is cut after that many.
      size_t at = 0;
      for (int64_t n = 0; n < part && at < text.size(); ++n) {
        ++at;
        while (at < text.size() && (static_cast<uint8_t>(text[at]) & 0xC0) == 0x80) ++at;
      }
      text.resize(at);
    }
  } else {
    text = actions::mold_to_string(value, false);
  }
  out->insert(out->end(), text.begin(), text.end());
}

Bytes bytes_to_write(const Cell& data, int64_t part, bool lines) {
  Bytes bytes;
  if (lines && data.is(TYPE_BLOCK)) {
    SeriesBuffer* buffer = memory::buffer_of(data.data2);
    for (uint32_t i = data.data1; i < memory::buffer_of(data.data2)->cell_count(); ++i) {
      // Molding may allocate: the buffer is read again for each value.
      buffer = memory::buffer_of(data.data2);
      Cell value = buffer->cells()[i];
      append_value_bytes(value, -1, &bytes);
      bytes.push_back('\n');
    }
    return bytes;
  }
  append_value_bytes(data, part, &bytes);
  if (lines) bytes.push_back('\n');
  return bytes;
}

// The name of a folder entry as a file! value, "/" appended to folders.
bool entry_is_folder(const std::string& folder, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
  struct stat status;
  std::string full = folder + entry->d_name;
  return ::stat(full.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

int64_t integer_argument(int index) { return number_to_integer(stack::arguments()[index]); }

}  // namespace

// --- Low level ---------------------------------------------------------------------------------

int open(const std::string& path, int mode) {
  if (has_nul(path)) return -1;
  int flags = O_CLOEXEC;
  if (mode & kRead) {
    flags |= O_RDONLY;
  } else {
    flags |= O_WRONLY | O_CREAT;
    if ((mode & (kAppend | kSeek)) == 0) flags |= O_TRUNC;
  }
  int handle;
  do {
    handle = ::open(path.c_str(), flags, 0666);
  } while (handle < 0 && errno == EINTR);
  return handle;
}

int64_t size_of(int handle) {
  struct stat status;
  if (::fstat(handle, &status) != 0) return -1;
  return S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ? static_cast<int64_t>(status.st_size) : 0;
}

bool seek(int handle, int64_t offset) { return ::lseek(handle, static_cast<off_t>(offset), SEEK_SET) >= 0; }

int64_t read_data(int handle, uint8_t* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle, buffer + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t write_data(int handle, const uint8_t* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(handle, buffer + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += n;
  }
  return done;
}

void close(int handle) {
  if (handle >= 0) ::close(handle);
}

bool make_dir(const std::string& path) { return !has_nul(path) && ::mkdir(path.c_str(), 0777) == 0; }

bool file_exists(const std::string& path) {
  struct stat status;
  return !has_nul(path) && ::stat(path.c_str(), &status) == 0;
}

// --- Value level ---------------------------------------------------------------------------------

bool is_folder_path(const Cell& file) {
  std::string text = string::to_std_string(file);
  if (text.empty()) return false;
  if (text.back() == '/' || text.back() == '\\') return true;
  if (text == "." || text == "..") return true;
  auto ends_with = [&](const char* tail) {
    size_t n = std::char_traits<char>::length(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
  };
  return ends_with("/.") || ends_with("/..") || ends_with("\\.") || ends_with("\\..");
}

int64_t content_size(const Cell& file) {
  // Only a regular file has a content size: a device or a pipe may never
  // end (and a pipe's open waits for a writer), so it is not even opened.
  std::string path = os_path(file);
  struct stat status;
  if (has_nul(path) || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  int handle = open(path, kRead);
  if (handle < 0) return -1;
  int64_t size = size_of(handle);
  if (size == 0) {
    // A /proc file reports 0: it is measured by reading, counted, not kept.
    uint8_t chunk[kChunk];
    for (;;) {
      int64_t count = read_data(handle, chunk, kChunk);
      if (count < 0) {
        size = -1;
        break;
      }
      if (count == 0) break;
      size += count;
    }
  }
  close(handle);
  return size;
}

Cell* push_content(const Bytes& bytes, bool binary, bool lines) {
  if (binary) return binary::load_bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (bytes.empty()) return string::push_new(1);
  if (lines) return push_lines(bytes);
  return push_text(normalized_text(bytes.data(), bytes.size()));
}

Cell* read(const Cell& file, int64_t part, int64_t seek, bool binary, bool lines) {
  if (is_folder_path(file)) return list_dir(file);
  if (binary) {
    // The bytes go straight into the binary's buffer; nothing allocates
    // between making it and the read that fills it.
    NodeId node = 0;
    int64_t count = read_file(os_path(file), part, seek, [&node](size_t size) {
      node = memory::alloc_bytes(static_cast<uint32_t>(size));
      return memory::buffer_of(node)->head_ptr();
    });
    if (count < 0) {
      Cell name = file;
      fire(ErrorId::access_cannot_open, &name);
    }
    SeriesBuffer* buffer = memory::buffer_of(node);
    buffer->tail = buffer->offset + static_cast<uint32_t>(count);
    return stack::push(binary::make_value(node));
  }
  std::optional<Bytes> bytes = read_bytes(os_path(file), part, seek);
  if (!bytes) {
    Cell name = file;
    fire(ErrorId::access_cannot_open, &name);
  }
  return push_content(*bytes, binary, lines);
}

Cell* list_dir(const Cell& file) {
  std::string folder = os_path(file);
  if (folder.empty()) folder = "./";
  if (folder.back() == '.') folder += '/';
  if (folder.back() != '/') folder += '/';
  DIR* directory = has_nul(folder) ? nullptr : ::opendir(folder.c_str());
  if (directory == nullptr) {
    Cell name = file;
    fire(ErrorId::access_cannot_open, &name);
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(directory)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry_is_folder(folder, entry)) name += '/';
    names.push_back(std::move(name));
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  Cell* block = block::push_only(static_cast<int32_t>(names.size()));
  for (const std::string& name : names) {
    stack::Guard guard;
    Cell* entry = file::from_os_path(reinterpret_cast<const uint8_t*>(name.data()), static_cast<uint32_t>(name.size()));
    block::rs_append(block, *entry);
  }
  return block;
}

Cell* query(const Cell& file) {
  std::string path = os_path(file);
  struct stat status;
  Cell* result = stack::push_slot();
  *result = make_cell(TYPE_NONE);
  if (has_nul(path) || ::stat(path.c_str(), &status) != 0) return result;
  if (!path.empty() && path.back() == '/' && !S_ISDIR(status.st_mode)) return result;
  std::tm fields{};
  time_t seconds = status.st_mtim.tv_sec;
  if (::gmtime_r(&seconds, &fields) == nullptr) return result;
  int32_t milliseconds = static_cast<int32_t>(status.st_mtim.tv_nsec / 1000000);
  date::set_cell_from_fields(result, fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                             fields.tm_min, fields.tm_sec, milliseconds * 1000000);
  return result;
}

namespace {

// The outcome of writing a file's new content beside it.
enum class Replacement { kDone, kFailed, kNotHere };

// Where a plain write replaces an existing regular file: the file a
// symbolic link leads to, else the path itself.
std::string replaced_file(const std::string& path) {
  struct stat link_status;
  if (::lstat(path.c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

// A plain write over an existing regular file: the bytes go to a new file
// in the same folder, which takes the old file's permissions (and owner,
// where the system allows) and is renamed over it only once every byte is
// written and on the disk. A failure on the way removes the new file and
// leaves the old one as it was. kNotHere when the folder takes no new file
// or lets it not take the old one's place (no permission): the caller then
// writes in place.
Replacement replace_regular_file(const std::string& path, const struct stat& status, const Bytes& bytes) {
  std::string target = replaced_file(path);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string temporary = folder + ".kel-write-XXXXXX";
  int handle = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (handle < 0) return errno == EACCES || errno == EPERM ? Replacement::kNotHere : Replacement::kFailed;
  if (status.st_uid != ::geteuid() || status.st_gid != ::getegid()) {
    // Keeping the owner needs privileges the process may lack; the data
    // matters more, so a refusal is let pass.
    [[maybe_unused]] int ignored = ::fchown(handle, status.st_uid, status.st_gid);
  }
  bool written = ::fchmod(handle, status.st_mode & 07777) == 0 &&
                 write_data(handle, bytes.data(), static_cast<int64_t>(bytes.size())) >= 0 && ::fsync(handle) == 0;
  written = ::close(handle) == 0 && written;
  if (written && ::rename(temporary.c_str(), target.c_str()) == 0) return Replacement::kDone;
  // A folder that lets no one but a file's owner replace it (the sticky
  // bit of /tmp) refuses the rename, not the write.
  bool refused = written && (errno == EPERM || errno == EACCES);
  ::unlink(temporary.c_str());
  return refused ? Replacement::kNotHere : Replacement::kFailed;
}

[[noreturn]] void write_failed(const Cell& file) {
  Cell name = file;
  fire(ErrorId::access_no_create, &name);
}

}  // namespace

void write(const Cell& file, const Cell& data, int64_t part, int64_t seek, bool, bool append, bool lines) {
  Bytes bytes = bytes_to_write(data, part, lines);
  std::string path = os_path(file);
  Cell name = file;
  bool in_place = append || seek >= 0 || has_nul(path);
  struct stat status;
  if (!in_place && ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    // A file the process may not write stays refused, as an open would
    // refuse it, even though its folder would take a new one.
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) fire(ErrorId::access_cannot_open, &name);
    Replacement outcome = replace_regular_file(path, status, bytes);
    if (outcome == Replacement::kDone) return;
    if (outcome == Replacement::kFailed) write_failed(file);
  }
  // New files, devices, pipes, /append and /seek: written where they are.
  int mode = kWrite;
  if (append) mode |= kAppend;
  if (seek >= 0) mode |= kSeek;
  int handle = open(path, mode);
  if (handle < 0) fire(ErrorId::access_cannot_open, &name);
  bool written = true;
  if (seek > 0) written = file_system::seek(handle, seek);
  if (written && append) written = ::lseek(handle, 0, SEEK_END) >= 0;
  if (written) written = write_data(handle, bytes.data(), static_cast<int64_t>(bytes.size())) >= 0;
  written = ::close(handle) == 0 && written;
  if (!written) write_failed(file);
}

bool delete_path(const Cell& file) {
  std::string path = os_path(file);
  if (has_nul(path)) return false;
  if (is_folder_path(file)) return ::rmdir(path.c_str()) == 0;
  return ::unlink(path.c_str()) == 0;
}

// The target name must be free: an existing file or folder there is never
// replaced. The system refuses atomically where the file system can
// (RENAME_NOREPLACE); elsewhere a file is moved by a hard link, which is
// made only where the name is free, and a folder (or a file on a file
// system without hard links) after a check that the name is free.
bool rename(const Cell& from, const Cell& to) {
  std::string source = os_path(from);
  std::string target = to.is(TYPE_FILE) ? os_path(to) : string::to_std_string(to);
  if (has_nul(source) || has_nul(target)) return false;
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
  struct stat status;
  if (::lstat(target.c_str(), &status) == 0 || errno != ENOENT) return false;
  if (::lstat(source.c_str(), &status) != 0) return false;
  if (!S_ISDIR(status.st_mode)) {
    if (::link(source.c_str(), target.c_str()) == 0) {
      if (::unlink(source.c_str()) == 0) return true;
      ::unlink(target.c_str());
      return false;
    }
    if (errno == EEXIST) return false;
  }
  return std::rename(source.c_str(), target.c_str()) == 0;
}

// --- Action handlers ----------------------------------------------------------------------------

Cell* read_action(Cell* source, int part, int seek, int binary, int lines, int, int as) {
  if (as >= 0) fire(ErrorId::internal_not_done);
  int64_t length = part >= 0 ? integer_argument(part) : -1;
  int64_t position = seek >= 0 ? integer_argument(seek) : -1;
  Cell file = *source;
  Cell* value = read(file, length, position, binary >= 0, lines >= 0);
  return stack::set_result(*value);
}

Cell* write_action(Cell* destination, Cell* data, int binary, int lines, int, int append, int part, int seek,
                   int allow, int as) {
  if (allow >= 0 || as >= 0) fire(ErrorId::internal_not_done);
  int64_t length = -1;
  if (part >= 0) {
    Cell given = stack::arguments()[part];
    if (!given.is(TYPE_INTEGER)) {
      Cell word;
      word::make_at(symbol::make("part"), &word);
      fire(ErrorId::script_invalid_refine_arg, &word, &given);
    }
    length = given.int_at2();
    if (length < 0) return stack::set_result(unset::value);
  }
  int64_t position = seek >= 0 ? integer_argument(seek) : -1;
  write(*destination, *data, length, position, binary >= 0, append >= 0, lines >= 0);
  return stack::set_result(unset::value);
}

Cell* query_action(Cell* target) {
  Cell file = *target;
  return stack::set_result(*query(file));
}

Cell* delete_action(Cell* file) { return stack::set_result(logic::make(delete_path(*file))); }

Cell* rename_action(Cell* from, Cell* to) { return stack::set_result(logic::make(rename(*from, *to))); }

void init() {
  upcalls::table.file_read = read_action;
  upcalls::table.file_write = write_action;
  upcalls::table.file_query = query_action;
  upcalls::table.file_delete = delete_action;
  upcalls::table.file_rename = rename_action;
}

}  // namespace kel::file_system
