// ctlbuild: the virus database builder.
//
//   ctlbuild [-o OUT] SOURCE   compile SOURCE into OUT (default QUELTAN.CTL)
//   ctlbuild --dump FILE       print any database file as source text
//
// Exit status 0 on success, 1 on an error in the source or the input file,
// 2 on bad usage. The output is written to OUT.tmp and renamed into place,
// so a failed build never leaves a half-written database behind.
//
// State: none beyond main's locals. This is a build tool: it does its own
// file I/O with the C library; the format work is in the kvctl library.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ctlbuild/ctl_image.h"

static const char kUsage[] =
    "usage: ctlbuild [-o OUT] SOURCE    build the virus database (default OUT: QUELTAN.CTL)\n"
    "       ctlbuild --dump FILE        print a virus database as source text\n"
    "       ctlbuild --help\n";

static bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

static bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

static int Fail(const std::string& where, const std::string& reason) {
  std::fprintf(stderr, "ctlbuild: %s: %s\n", where.c_str(), reason.c_str());
  return 1;
}

static int Build(const char* source, const char* output) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(source, &bytes)) return Fail(source, std::strerror(errno));
  std::string text(bytes.begin(), bytes.end()), error;
  CtlDatabase db;
  if (!ParseCtlSource(text, &db, &error)) {   // error is "LINE: reason"
    std::fprintf(stderr, "ctlbuild: %s:%s\n", source, error.c_str());
    return 1;
  }
  CtlImage image;
  if (!CompileCtlDatabase(db, &image, &error)) return Fail(source, error);
  if (!WriteWholeFile(output, WriteCtlImage(image))) return Fail(output, std::strerror(errno));
  return 0;
}

// Prints the file as source text. Whatever could not be read or expressed
// is reported on stderr, and makes the exit status 1; so does a file that
// the service would refuse to load.
static int Dump(const char* path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes)) return Fail(path, std::strerror(errno));
  CtlImage image;
  std::string error;
  int status = 0;
  if (!ReadCtlImage(bytes, &image, &error)) status = Fail(path, error);
  if (!VerifyCtlFile(bytes, &error))
    status = Fail(path, "the service would refuse this file: " + error);
  std::vector<std::string> notes;
  CtlDatabase db = DecompileCtlImage(image, &notes);
  for (const std::string& note : notes) status = Fail(path, note);
  std::string text = PrintCtlSource(db);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? status : 1;
}

int main(int argc, char** argv) {
  const char* output = nullptr;
  const char* source = nullptr;
  const char* dump = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(a, "-o") == 0 && i + 1 < argc && !output) {
      output = argv[++i];
    } else if (std::strcmp(a, "--dump") == 0 && i + 1 < argc && !dump) {
      dump = argv[++i];
    } else if (a[0] != '-' && !source) {
      source = a;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (dump && !output && !source) return Dump(dump);
  if (!dump && source) return Build(source, output ? output : "QUELTAN.CTL");
  std::fputs(kUsage, stderr);
  return 2;
}
