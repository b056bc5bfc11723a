/* kvbench-limit: the least that any scanner of this tree must do.
 *
 *   kvbench-limit scan ROOT         first 4,096 and last 128 bytes
 *   kvbench-limit fingerprint ROOT  first 127 and last 128 bytes
 *
 * Walks ROOT (directories are never entered through links) and, for every
 * file whose upper-cased name contains .EXE, .COM, .OVL, .OVR, .DOC or .DOT,
 * opens it, reads its first bytes and, when the file is longer than that
 * read, its last 128 bytes, and closes it. Prints the number of files and
 * their total size. Nothing else is done, so no scanner that reads the same
 * bytes can be faster on the same tree.
 */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static size_t gHead;              /* bytes read at the start */
static unsigned long gFiles;
static unsigned long long gBytes;
static unsigned gSum;             /* keeps the reads' results in use */

static int IsCandidate(const char *name) {
  static const char *const kWords[] = {".EXE", ".COM", ".OVL", ".OVR", ".DOC", ".DOT"};
  char up[300];
  size_t n = strlen(name);
  if (n > 299) n = 299;
  for (size_t i = 0; i < n; i++) up[i] = (name[i] >= 'a' && name[i] <= 'z') ? name[i] - 32 : name[i];
  up[n] = 0;
  for (int i = 0; i < 6; i++)
    if (strstr(up, kWords[i])) return 1;
  return 0;
}

static void ReadFile(int dirfd, const char *name) {
  unsigned char buf[4096];
  int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  ssize_t got = read(fd, buf, gHead);
  off_t size = got > 0 ? got : 0;
  if (got == (ssize_t)gHead) {
    struct stat st;
    if (fstat(fd, &st) == 0) size = st.st_size;
    if (size > (off_t)gHead) {
      off_t from = size - 128 > (off_t)gHead ? size - 128 : (off_t)gHead;
      ssize_t t = pread(fd, buf + 128, (size_t)(size - from), from);
      if (t > 0) gSum += buf[128];
    }
  }
  if (got > 0) gSum += buf[0];
  close(fd);
  gFiles++;
  gBytes += (unsigned long long)size;
}

static void Walk(int dirfd) {
  DIR *d = fdopendir(dirfd);
  if (!d) {
    close(dirfd);
    return;
  }
  struct dirent *e;
  while ((e = readdir(d)) != NULL) {
    if (e->d_name[0] == '.') continue;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
    }
    if (type == DT_REG && IsCandidate(e->d_name)) {
      ReadFile(dirfd, e->d_name);
    } else if (type == DT_DIR) {
      int sub = openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) Walk(sub);
    }
  }
  closedir(d);
}

int main(int argc, char **argv) {
  if (argc != 3 || (strcmp(argv[1], "scan") != 0 && strcmp(argv[1], "fingerprint") != 0)) {
    fprintf(stderr, "Usage: kvbench-limit scan|fingerprint ROOT\n");
    return 2;
  }
  gHead = strcmp(argv[1], "scan") == 0 ? 4096 : 127;
  int root = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    perror(argv[2]);
    return 2;
  }
  Walk(root);
  printf("files %lu bytes %llu sum %u\n", gFiles, gBytes, gSum);
  return 0;
}
