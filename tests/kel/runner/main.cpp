// kel-case-runner: runs Kel case files through the evaluator the interpreter
// installs at boot, and prints each failure and a closing summary line
// "N cases, M failed". Arguments are case files or directories (whose *.kel
// files run in name order). Exit status 0 when every case passes. A first
// argument --sources boots the runtime from the embedded library sources
// instead of the boot image. With --traced (after --sources, if both),
// every case runs under a tracer that does nothing (the differential run:
// traced evaluation must read exactly as plain).
//
// Each file runs in a forked child of the booted runtime, so the cases of a
// file share one environment while files never see each other's
// definitions, and a case that crashes, quits or hangs costs only its own
// file. The child reports one verdict byte per finished case through a pipe
// ('.' passed, 'F' failed); a missing verdict names the case that ended it.
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "boot/entry.h"
#include "boot/wiring_check.h"
#include "console/case_evaluation.h"
#include "kel/runner/case_file.h"

namespace {

namespace case_file = kel::case_file;
using kel::case_evaluation::Evaluator;

constexpr size_t kRuntimeStackSize = size_t{256} << 20;  // as the kel executable
constexpr unsigned kCaseTimeLimitSeconds = 60;

std::vector<std::string> case_file_paths(int argc, char** argv, int first) {
  std::vector<std::string> paths;
  for (int index = first; index < argc; ++index) {
    std::filesystem::path argument(argv[index]);
    if (!std::filesystem::is_directory(argument)) {
      paths.push_back(argument.string());
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(argument)) {
      if (entry.path().extension() == ".kel") found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    paths.insert(paths.end(), found.begin(), found.end());
  }
  return paths;
}

std::string describe_end(int status) {
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
    return "still running after " + std::to_string(kCaseTimeLimitSeconds) + " s";
  }
  if (WIFSIGNALED(status)) {
    return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  }
  return "ended the process with exit status " + std::to_string(WEXITSTATUS(status));
}

[[noreturn]] void run_child(const case_file::CaseFile& file, Evaluator evaluator, int verdicts) {
  for (const case_file::Case& test_case : file.cases) {
    alarm(kCaseTimeLimitSeconds);
    bool passed = case_file::run_case(file.path, test_case, evaluator, std::cout);
    std::cout.flush();
    std::fflush(nullptr);  // _exit drops whatever stdio still holds
    char verdict = passed ? '.' : 'F';
    if (write(verdicts, &verdict, 1) != 1) _exit(1);
  }
  _exit(0);
}

// Runs the cases of one file in a child process; see the file comment.
case_file::Tally run_isolated(const case_file::CaseFile& file, Evaluator evaluator) {
  case_file::Tally tally;
  for (const case_file::Problem& problem : file.problems) {
    std::cout << case_file::format_problem(file.path, problem) << '\n';
    ++tally.cases;
    ++tally.failed;
  }
  if (file.cases.empty()) return tally;
  std::cout.flush();
  int pipe_ends[2];
  pid_t child = -1;
  if (pipe(pipe_ends) == 0) {
    child = fork();
    if (child < 0) {
      close(pipe_ends[0]);
      close(pipe_ends[1]);
    }
  }
  if (child < 0) {  // no isolation to be had: run in this process
    for (const case_file::Case& test_case : file.cases) {
      ++tally.cases;
      if (!case_file::run_case(file.path, test_case, evaluator, std::cout)) ++tally.failed;
    }
    return tally;
  }
  if (child == 0) {
    close(pipe_ends[0]);
    run_child(file, evaluator, pipe_ends[1]);
  }
  close(pipe_ends[1]);
  std::string verdicts;
  char buffer[256];
  ssize_t count;
  while ((count = read(pipe_ends[0], buffer, sizeof buffer)) != 0) {
    if (count > 0) verdicts.append(buffer, static_cast<size_t>(count));
    else if (errno != EINTR) break;
  }
  close(pipe_ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  tally.cases += static_cast<int>(file.cases.size());
  tally.failed += static_cast<int>(std::count(verdicts.begin(), verdicts.end(), 'F'));
  if (verdicts.size() < file.cases.size()) {
    const case_file::Case& last = file.cases[verdicts.size()];
    std::string end = "(" + describe_end(status) + ")";
    size_t not_run = file.cases.size() - verdicts.size() - 1;
    if (not_run > 0) {
      end += "; " + std::to_string(not_run) + (not_run == 1 ? " later case" : " later cases") +
             " not run";
    }
    std::cout << case_file::format_failure(file.path, last, {end}) << '\n';
    tally.failed += static_cast<int>(file.cases.size() - verdicts.size());
  }
  return tally;
}

int run(int argc, char** argv) {
  const kel::boot::BootImage* image = &kel::boot::kBuiltImage;
  if (argc > 1 && std::strcmp(argv[1], "--sources") == 0) {
    image = nullptr;
    --argc;
    ++argv;
  }
  bool traced = argc > 1 && std::strcmp(argv[1], "--traced") == 0;
  std::vector<case_file::CaseFile> files;
  int case_count = 0;
  for (const std::string& path : case_file_paths(argc, argv, traced ? 2 : 1)) {
    files.push_back(case_file::load(path));
    case_count += static_cast<int>(files.back().cases.size() + files.back().problems.size());
  }
  case_file::Tally total;
  if (case_count > 0) {
    // The cases run on a runtime whose every native, action and hook slot
    // was checked to be filled.
    kel::boot::require_wiring_check();
    kel::boot::init_runtime(image);
    Evaluator evaluator =
        traced ? kel::case_evaluation::evaluate_traced : kel::case_evaluation::evaluate;
    for (const case_file::CaseFile& file : files) {
      case_file::Tally tally = run_isolated(file, evaluator);
      total.cases += tally.cases;
      total.failed += tally.failed;
    }
  }
  std::cout << total.cases << " cases, " << total.failed << " failed" << std::endl;
  return total.failed == 0 ? 0 : 1;
}

struct Arguments {
  int argc;
  char** argv;
  int status;
};

void* run_on_large_stack(void* data) {
  auto* arguments = static_cast<Arguments*>(data);
  arguments->status = run(arguments->argc, arguments->argv);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments{argc, argv, 1};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kRuntimeStackSize);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run_on_large_stack, &arguments) != 0) {
    return run(argc, argv);
  }
  pthread_join(thread, nullptr);
  return arguments.status;
}
