// Child processes (see child_process.h): posix_spawn with the streams
// wired through file actions, then one poll loop that feeds and drains the
// pipes.
#include "io/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <thread>

extern char** environ;

namespace kel::child_process {

namespace {

std::atomic<int> pending{0};

// A descriptor closed when its owner goes, so every early return of run()
// leaves nothing open.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { close(); }
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool make_pipe(Descriptor& read_end, Descriptor& write_end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end.reset(ends[0]);
  write_end.reset(ends[1]);
  return true;
}

void set_non_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// posix_spawn's attributes and file actions, released when done.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // The child starts with no signal blocked, and with the signals this
    // process ignores (a closed pipe, a file grown past its limit) back
    // at their defaults: ignored dispositions would survive the exec.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

// posix_spawn reports a failed exec (a missing program, one that may not
// be run) as its own result, told apart from the program's status.
int spawn(SpawnSetup& setup, const std::vector<std::string>& arguments, bool search_path, pid_t* child) {
  std::vector<char*> vector;
  for (const std::string& argument : arguments) vector.push_back(const_cast<char*>(argument.c_str()));
  vector.push_back(nullptr);
  if (search_path) return ::posix_spawnp(child, vector[0], &setup.actions, &setup.attributes, vector.data(), environ);
  return ::posix_spawn(child, vector[0], &setup.actions, &setup.attributes, vector.data(), environ);
}

int64_t status_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int64_t wait_for(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status_of(status);
}

// A child not waited for is reaped by a thread of its own as soon as it
// ends: no signal handler of this layer interrupts the console's reads or
// the other waits of the process.
void reap_later(pid_t child) {
  pending.fetch_add(1);
  std::thread([child] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pending.fetch_sub(1);
  }).detach();
}

// Writing to a pipe whose reader has gone raises SIGPIPE; the feeding loop
// wants EPIPE instead. SIGPIPE is blocked in this thread while feeding and
// a pending one is taken away before the mask is restored, so a process
// that has not ignored SIGPIPE is not ended by a child that stops reading.
class BlockPipeSignal {
 public:
  BlockPipeSignal() {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous_);
  }
  ~BlockPipeSignal() {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    timespec no_wait{0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  sigset_t previous_;
};

// Feeds the input and drains output and error until every pipe is closed.
void exchange(Descriptor& input, const std::vector<uint8_t>& to_send, Descriptor& output,
              std::vector<uint8_t>& output_bytes, Descriptor& error, std::vector<uint8_t>& error_bytes) {
  BlockPipeSignal no_pipe_signal;
  size_t sent = 0;
  if (input.open() && to_send.empty()) input.close();
  for (Descriptor* d : {&input, &output, &error})
    if (d->open()) set_non_blocking(d->get());
  uint8_t chunk[65536];
  while (input.open() || output.open() || error.open()) {
    pollfd watched[3];
    Descriptor* owners[3];
    nfds_t count = 0;
    if (input.open()) {
      watched[count] = {input.get(), POLLOUT, 0};
      owners[count++] = &input;
    }
    for (Descriptor* d : {&output, &error}) {
      if (!d->open()) continue;
      watched[count] = {d->get(), POLLIN, 0};
      owners[count++] = d;
    }
    if (::poll(watched, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (watched[i].revents == 0) continue;
      Descriptor* d = owners[i];
      if (d == &input) {
        ssize_t n = ::write(d->get(), to_send.data() + sent, to_send.size() - sent);
        if (n > 0) sent += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) d->close();  // the reader went
        if (sent == to_send.size()) d->close();
        continue;
      }
      std::vector<uint8_t>& into = d == &output ? output_bytes : error_bytes;
      ssize_t n = ::read(d->get(), chunk, sizeof chunk);
      if (n > 0) into.insert(into.end(), chunk, chunk + n);
      else if (n == 0 || (errno != EAGAIN && errno != EINTR)) d->close();
    }
  }
  // Whatever the loop could not handle ends here: every pipe closes.
  input.close();
  output.close();
  error.close();
}

}  // namespace

std::vector<std::string> split_command_line(const std::string& line) {
  std::vector<std::string> arguments;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
      current += line[++i];
      in_argument = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_argument = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (in_argument) arguments.push_back(current);
      current.clear();
      in_argument = false;
    } else {
      current += c;
      in_argument = true;
    }
  }
  if (in_argument) arguments.push_back(current);
  return arguments;
}

int pending_children() { return pending.load(); }

int64_t run(Request& request) {
  using Kind = Stream::Kind;
  bool redirected = request.input.kind != Kind::kDefault || request.output.kind != Kind::kDefault ||
                    request.error.kind != Kind::kDefault;
  bool wait = request.wait || request.share_console || redirected;

  // Every file is opened before anything starts: one that cannot be opened
  // starts nothing.
  Descriptor input_file, output_file, error_file, null_device;
  if (request.input.kind == Kind::kFile) {
    input_file.reset(open_retrying(request.input.path.c_str(), O_RDONLY));
    if (!input_file.open()) return -1;
  }
  struct Target {
    Stream& stream;
    Descriptor& file;
  };
  for (Target target : {Target{request.output, output_file}, Target{request.error, error_file}}) {
    if (target.stream.kind != Kind::kFile) continue;
    target.file.reset(open_retrying(target.stream.path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666));
    if (!target.file.open()) return -1;
  }
  bool needs_null = !request.share_console &&
                    (request.output.kind == Kind::kDefault || request.error.kind == Kind::kDefault);
  if (needs_null) {
    null_device.reset(open_retrying("/dev/null", O_WRONLY));
    if (!null_device.open()) return -1;
  }

  Descriptor input_read, input_write, output_read, output_write, error_read, error_write;
  if (request.input.kind == Kind::kBytes && !make_pipe(input_read, input_write)) return -1;
  if (request.output.kind == Kind::kBytes && !make_pipe(output_read, output_write)) return -1;
  if (request.error.kind == Kind::kBytes && !make_pipe(error_read, error_write)) return -1;

  SpawnSetup setup;
  // The descriptors are close-on-exec; dup2 onto 0, 1 and 2 makes copies
  // that are not, so the child keeps exactly its three streams.
  auto wire = [&](int fd, int target) {
    if (fd >= 0) posix_spawn_file_actions_adddup2(&setup.actions, fd, target);
  };
  wire(request.input.kind == Kind::kFile ? input_file.get() : input_read.get(), STDIN_FILENO);
  auto output_fd = [&](const Stream& stream, const Descriptor& file, const Descriptor& pipe_end) {
    if (stream.kind == Kind::kFile) return file.get();
    if (stream.kind == Kind::kBytes) return pipe_end.get();
    return request.share_console ? -1 : null_device.get();
  };
  wire(output_fd(request.output, output_file, output_write), STDOUT_FILENO);
  wire(output_fd(request.error, error_file, error_write), STDERR_FILENO);

  pid_t child = 0;
  int failure;
  if (request.shell_command) {
    failure = spawn(setup, {"/bin/sh", "-c", *request.shell_command}, false, &child);
  } else {
    // An empty command names no program, and the shell would take it for
    // a command that does nothing.
    if (request.arguments.empty()) return -1;
    failure = spawn(setup, request.arguments, true, &child);
    if (failure == ENOENT && request.shell_fallback)
      failure = spawn(setup, {"/bin/sh", "-c", *request.shell_fallback}, false, &child);
  }
  if (failure != 0) return -1;

  // The parent's copies of the child's ends go, so each pipe ends when the
  // child closes (or ends).
  input_read.close();
  output_write.close();
  error_write.close();
  input_file.close();
  output_file.close();
  error_file.close();
  null_device.close();
  request.output.bytes.clear();
  request.error.bytes.clear();
  exchange(input_write, request.input.bytes, output_read, request.output.bytes, error_read, request.error.bytes);

  if (!wait) {
    reap_later(child);
    return child;
  }
  return wait_for(child);
}

}  // namespace kel::child_process
