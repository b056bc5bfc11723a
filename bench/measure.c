/* kvbench-measure: runs one command and reports what it cost.
 *
 *   kvbench-measure RESULT COMMAND [ARG...]
 *
 * Runs COMMAND (standard streams as given), waits for it and writes one
 * line to the file RESULT:
 *
 *   wall SECONDS user SECONDS sys SECONDS maxrss KB status CODE
 *
 * wall is monotonic-clock time from just before the start to the end of
 * the command; maxrss its peak resident set size. Exits with the command's
 * exit status (126 when it could not be started).
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Seconds(struct timeval tv) { return (double)tv.tv_sec + (double)tv.tv_usec / 1e6; }

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "Usage: kvbench-measure RESULT COMMAND [ARG...]\n");
    return 2;
  }
  FILE *out = fopen(argv[1], "w");
  if (!out) {
    perror(argv[1]);
    return 2;
  }
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  pid_t pid = fork();
  if (pid < 0) {
    perror("fork");
    return 2;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    _exit(126);
  }
  int status = 0;
  struct rusage ru;
  if (wait4(pid, &status, 0, &ru) < 0) {
    perror("wait4");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &t1);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  double wall = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
  fprintf(out, "wall %.6f user %.6f sys %.6f maxrss %ld status %d\n", wall, Seconds(ru.ru_utime),
          Seconds(ru.ru_stime), ru.ru_maxrss, code);
  fclose(out);
  return code;
}
