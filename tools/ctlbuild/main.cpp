// ctlbuild: placeholder until the database builder lands; writes an empty
// output file so that the build completes.
#include <cstdio>
#include <cstring>
int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i++)
    if (std::strcmp(argv[i], "-o") == 0) {
      FILE* f = std::fopen(argv[i + 1], "wb");
      if (f) std::fclose(f);
    }
  return 0;
}
