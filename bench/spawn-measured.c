/* spawn-measured: runs one command and reports its wall time and peak
 * resident memory, for bench/run.
 *
 * Linux carries a process's peak resident size across fork and exec, so a
 * child forked straight from the driver (a Python process that has just
 * generated tens of megabytes of input) would report the driver's peak, not
 * its own. This helper is small: a command forked from it starts from the
 * helper's few hundred kilobytes, and wait4 then gives the command's own
 * peak.
 *
 * usage: spawn-measured REPORT-FILE COMMAND [ARGUMENT ...]
 * The command inherits the standard streams. When it has ended the helper
 * writes one line to REPORT-FILE: exit status (-1 when killed), signal
 * number (0 when not killed), peak resident memory in KiB, wall time in
 * nanoseconds. SIGTERM, SIGINT or SIGHUP to the helper kill the command
 * (the driver stops a program at its first prompt this way) and the report
 * is still written. Exit status 0 when the report was written, 125 when not.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t command_pid = 0;
static volatile sig_atomic_t stop_asked = 0;

static void stop_command(int signal_number) {
  (void)signal_number;
  stop_asked = 1;
  if (command_pid > 0) kill((pid_t)command_pid, SIGKILL);
}

static long long nanoseconds_between(struct timespec start, struct timespec end) {
  return (long long)(end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: spawn-measured REPORT-FILE COMMAND [ARGUMENT ...]\n");
    return 125;
  }
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = stop_command;
  sigaction(SIGTERM, &action, NULL);
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGHUP, &action, NULL);

  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) {
    perror("spawn-measured: fork");
    return 125;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    fprintf(stderr, "spawn-measured: cannot run %s: %s\n", argv[2], strerror(errno));
    _exit(127);
  }
  command_pid = pid;
  /* A stop asked for between fork and the line above found no pid to kill. */
  if (stop_asked) kill(pid, SIGKILL);

  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      perror("spawn-measured: wait4");
      return 125;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &end);

  FILE *report = fopen(argv[1], "w");
  if (report == NULL) {
    perror("spawn-measured: report file");
    return 125;
  }
  fprintf(report, "%d %d %ld %lld\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          WIFSIGNALED(status) ? WTERMSIG(status) : 0, usage.ru_maxrss,
          nanoseconds_between(start, end));
  return fclose(report) == 0 ? 0 : 125;
}
