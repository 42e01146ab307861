// The file system layer: the thin road between file! values and the POSIX
// file calls.
//
// It reads whole files (or a part of one from a position) into a string!, a
// binary! or a block of lines, writes values to files, lists folders, makes,
// deletes and renames files and folders, tells whether a path exists and
// when a file was last written. The file! actions read, write, query, delete
// and rename are its callers, and so are the natives and routines that touch
// files (size?, create-dir, exists?).
//
// Paths reach the layer as file! values and leave it in the system's form
// (file::to_os_path); a folder is recognised from the value's own text (a
// trailing "/"), before conversion. Sizes and positions are 64-bit. A file
// whose size reads as 0 (a pipe, a /proc file) is read to its end once and
// its content kept, never measured by a first read and read again: a pipe
// cannot be read twice. Everything written ends its lines with a line feed
// alone; text that is read has a leading byte-order mark dropped and its
// CR LF and lone CR turned into line feeds.
//
// The low-level calls answer -1 or false and never raise; the value-level
// calls raise access cannot-open (with the file value) where a file cannot
// be opened or read, and access no-create where its new content cannot be
// written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace kel::file_system {

// --- Low-level operations on system paths and descriptors ------------------------------

// Open mode bits: read, write, append at the end, write from a position
// (append and seek keep what the file holds; a plain write empties it).
constexpr int kRead = 1;
constexpr int kWrite = 2;
constexpr int kAppend = 4;
constexpr int kSeek = 8;

// A descriptor, or -1.
int open(const std::string& path, int mode);
// The size the system reports (0 for pipes and many /proc files), or -1.
int64_t size_of(int handle);
bool seek(int handle, int64_t offset);
// Bytes moved (fewer than asked only at the end of the data), or -1.
int64_t read_data(int handle, uint8_t* buffer, int64_t count);
int64_t write_data(int handle, const uint8_t* buffer, int64_t count);
void close(int handle);

bool make_dir(const std::string& path);
// Files and folders alike.
bool file_exists(const std::string& path);

// The bytes of a file: all of it (part < 0) or part bytes, from the start
// (position < 0) or from position; nothing when it cannot be read. With a
// part, a device that never ends is read only as far as the part reaches.
std::optional<std::vector<uint8_t>> read_bytes(const std::string& path, int64_t part, int64_t position);

// --- Value-level operations ---------------------------------------------------------------

// The value of bytes read from a file, pushed on the stack: a binary! with
// binary, a block of lines with lines, else a string! (UTF-8, without a
// byte-order mark, line feeds only). Empty bytes give an empty string!
// (also with lines) or binary!.
Cell* push_content(const std::vector<uint8_t>& bytes, bool binary, bool lines);

// The layer's folder test on a path's text: it ends with "/", or is "." or
// "..", or ends with "/." or "/.."; an empty path is no folder.
bool is_folder_path(const Cell& file);

// The size of a regular file's content in bytes, or -1 when it is no
// regular file (a device or a pipe may never end) or cannot be opened or
// measured. A file whose size reads as 0 is measured by reading it.
int64_t content_size(const Cell& file);

// Reads a file (part < 0: all; seek < 0: from the start) into a new value
// pushed on the stack: a string! (text decoded from UTF-8), a binary! with
// binary, a block of strings with lines. A folder path gives its listing.
// Raises access cannot-open with the file when it cannot be read.
Cell* read(const Cell& file, int64_t part, int64_t seek, bool binary, bool lines);

// The entries of a folder as a block of file! values pushed on the stack,
// folders ending with "/", "." and ".." left out, sorted by name. The path
// "/" lists the root folder. Raises access cannot-open when the folder
// cannot be listed.
Cell* list_dir(const Cell& file);

// The time of the last write as a date! (UTC) pushed on the stack, or none
// when there is no such file (or a path ending with "/" names a plain file).
Cell* query(const Cell& file);

// Writes data to the file: a string! as UTF-8, a binary! as its bytes (cut
// to part when part is above 0), any other value molded; with lines, a
// block's values one per line and any other data followed by a line feed.
// With append the data goes at the end, with seek >= 0 at that position
// (neither empties the file); a plain write over an existing regular file
// (or the file a link leads to) replaces it whole only once the new content
// is written, keeping its permissions. Raises access cannot-open when the
// file cannot be opened (or may not be written), access no-create when the
// data cannot be written.
void write(const Cell& file, const Cell& data, int64_t part, int64_t seek, bool binary, bool append,
           bool lines);

// A folder path removes the folder (it must be empty), any other path the
// file; true on success.
bool delete_path(const Cell& file);
// Gives the file or folder a new name, never taking the name of one that
// exists; true on success.
bool rename(const Cell& from, const Cell& to);

// --- file! action handlers ------------------------------------------------------------------
// The file! datatype (file.cpp) registers forwarders to the registration
// table's file entries, which init() fills with these.

void init();

Cell* read_action(Cell* source, int part, int seek, int binary, int lines, int info, int as);
Cell* write_action(Cell* destination, Cell* data, int binary, int lines, int info, int append, int part,
                   int seek, int allow, int as);
Cell* query_action(Cell* target);
Cell* delete_action(Cell* file);
Cell* rename_action(Cell* from, Cell* to);

}  // namespace kel::file_system
