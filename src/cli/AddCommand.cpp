// tessavar-cli a, u, m and d: the ZIP and JAR writers on the command line.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/write/ztvJar.h"
#include "archive/write/ztvZip.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "platform/File.h"
#include "platform/Terminal.h"

namespace tessavar::cli {

namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// A path as the scanner wants it: absolute, without "." and ".." parts, a
// folder turned into "folder/*.*".
std::string FileSpecLine(const std::string& arg, bool& missing) {
  namespace fs = std::filesystem;
  std::string path = fs::path(arg).is_absolute() ? arg : platform::CurrentDir() + arg;
  path = fs::path(path).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  missing = false;
  if (platform::DirExists(path)) return (path == "/" ? std::string() : path) + "/*.*";
  if (!HasWildcard(path) && !platform::PathExists(path)) missing = true;
  return path;
}

// The writer's workers; the variable lets the benchmark compare against the
// single-threaded run.
int CompressThreads() {
  if (const char* v = std::getenv("TESSAVAR_COMPRESS_THREADS")) return std::atoi(v);
  return DefaultCompressThreads();
}

}  // namespace

int WriteCommand(const std::string& command, int argc, char** argv) {
  Options o;
  const bool del = command == "d";
  if (!ParseOptions(command, argc, argv, 2, del ? "" : "tpE0r", true, o)) return kUsage;
  ErrorSink errors;
  if (o.type == "lha" || o.type == "cab") {
    std::fprintf(stderr, "tessavar-cli %s: writing %s archives is not available in this build\n", command.c_str(),
                 o.type.c_str());
    return kArchiveUnusable;
  }
  std::unique_ptr<TZipBase> zip = o.type == "jar" ? std::make_unique<TJar>() : std::make_unique<TZip>();
  TZipBase& z = *zip;
  errors.Attach(z);
  z.SetDefaultExt(o.type == "jar" ? ".jar" : ".zip");
  z.SetArchiveFileName(o.archive);
  const std::string archive = z.ArchiveFile();
  if ((del || command == "u") && !platform::FileExists(archive)) {
    errors.Report(E_FILENOTFOUND, archive);
    return kArchiveUnusable;
  }
  const std::string folder = archive.substr(0, archive.find_last_of('/') + 1);
  z.SetTempDir(folder.empty() ? platform::CurrentDir() : folder);
  z.SetCompressThreads(CompressThreads());

  int missing = 0;
  if (del) {
    z.SetSwitch(swDelete);
    z.SetFileSpec(TStrings(o.args.begin(), o.args.end()));
  } else {
    z.SetSwitch(command == "a" ? swAdd : command == "u" ? swRefresh : swMove);
    TStrings spec;
    for (const std::string& a : o.args) {
      bool gone = false;
      spec.push_back(FileSpecLine(a, gone));
      if (gone) {
        errors.Report(E_FILENOTFOUND, a);
        ++missing;
      }
    }
    z.SetFileSpec(spec);
    z.SetRecurseDirs(o.recurse);
    z.SetStoredDirNames(sdRelativeStoreStart);
    z.SetStoreEmptySubDirs(true);
    z.SetDeleteOptions(doFinal);
    z.SetVerifyBeforeDelete(true);
    if (o.level == 0) z.SetCompressMethod(cmStore);
    else z.SetDeflateType(o.level == 1 ? dtDeflateF : o.level == 9 ? dtDeflateX : dtDeflateN);
    if (o.havePassword) {
      z.SetPassword(o.password);
      z.SetEncryptionMethod(emZIP_v2);
    }
    z.SetEncryptHeaders(o.encryptHeaders);
  }
  // An update replaces what changed, as other archivers do.
  z.OnReplaceFile = [](TObject*, const std::string&, const std::string&, double, double, int64_t, int64_t, uint32_t,
                       uint32_t, bool& replace) { replace = true; };
  int failed = 0;
  z.OnEnd = [&](TObject*, const std::string& name, bool ok) {
    if (!ok) {
      ++failed;
      return;
    }
    std::printf("%s %s\n", command == "m" ? "moved " : "added ", name.c_str());
  };
  z.OnDeleteFile = [&](TObject*, const std::string& name, int, int) {
    if (del) std::printf("deleted %s\n", name.c_str());
  };
  const bool progress = platform::StderrIsTerminal();
  z.OnProgress = [&](TObject*, uint8_t, uint8_t byArchive) {
    if (progress) std::fprintf(stderr, "\r%3u%%", static_cast<unsigned>(byArchive));
  };
  const int done = z.Compress();
  if (progress) std::fputs("\r    \r", stderr);
  std::printf("%s %d %s, archive %s\n",
              del ? "deleted" : command == "u" ? "refreshed" : command == "m" ? "moved" : "added", done,
              del ? "entries" : "files", archive.c_str());
  std::fflush(stdout);
  if (errors.Saw(E_INVALIDARC) || errors.Saw(E_INVALIDDIR)) return kArchiveUnusable;
  // Everything already up to date is no failure of an add or a refresh.
  const int counted = errors.Count() - (!del && errors.Saw(E_NOTHINGTODO) ? 1 : 0);
  if (failed > 0 || counted > 0 || missing > 0) return kEntriesFailed;
  return kOk;
}

}  // namespace tessavar::cli
