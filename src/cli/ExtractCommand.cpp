// tessavar-cli t and x: test and extract through the ZIP extractor.
#include <cstdio>
#include <string>

#include "archive/zip/ztvUnZip.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "platform/File.h"
#include "platform/Terminal.h"

namespace tessavar::cli {

namespace {

int Run(int argc, char** argv, bool test) {
  Options o;
  if (!ParseOptions(test ? "t" : "x", argc, argv, 2, test ? "p" : "poynj", false, o)) return kUsage;
  ErrorSink errors;
  if (!ArchiveOpens(o.archive, errors)) return kArchiveUnusable;

  TUnZip unzip;
  errors.Attach(unzip);
  unzip.SetArchiveFileName(o.archive);
  if (!IsZipType(unzip.ArcType())) {
    errors.Report(E_INVALIDARC, o.archive);
    return kArchiveUnusable;
  }
  unzip.SetFileSpec(o.args.empty() ? TStrings{"*.*"} : TStrings(o.args.begin(), o.args.end()));
  unzip.SetCreateStoredDirs(true);
  unzip.SetUseStoredDirs(!o.junkPaths);
  if (!test) {
    std::string dir = o.outDir.empty() ? platform::CurrentDir() : o.outDir;
    if (!platform::DirExists(dir) && !platform::ForceDirs(dir)) {
      errors.Report(E_INVALIDDIR, dir);
      return kArchiveUnusable;
    }
    unzip.SetExtractDir(dir);
  }
  if (o.havePassword) unzip.SetPassword(o.password);
  const bool interactive = platform::StdinIsTerminal();
  unzip.OnGetPassword = [&](TObject*, const std::string& file, std::string& password, TSeedKeyValues&,
                            TSeedKeyValues&, bool& tryAgain) {
    // With -p the given password is the only one; without it, ask when a terminal is there.
    std::string answer;
    if (o.havePassword || !interactive || !platform::ReadPassword("password for " + file + ": ", answer)) {
      tryAgain = false;
      return;
    }
    password = answer;
  };
  // Without -y or -n existing files are kept unless the terminal says otherwise.
  bool overwriteAll = o.overwrite;
  bool skipAll = o.skipExisting || !interactive;
  unzip.SetConfirmOverwrites(!o.overwrite);
  unzip.SetOverwriteMode(omOverwrite);
  unzip.OnFileExists = [&](TObject*, const std::string& file, std::string&, TOverwriteMode& mode) {
    if (overwriteAll) {
      mode = omOverwrite;
      return;
    }
    if (skipAll) {
      mode = omSkip;
      std::fprintf(stderr, "skipped %s: it exists (use -y to overwrite)\n", file.c_str());
      return;
    }
    std::string answer;
    platform::AskLine("replace " + file + "? [y]es, [n]o, [A]ll, [N]one: ", answer);
    if (answer == "A") overwriteAll = true;
    if (answer == "N") skipAll = true;
    mode = (answer == "y" || answer == "A") ? omOverwrite : omSkip;
  };
  unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) {
    std::fprintf(stderr, "warning: %s has no usable central directory; reading its local headers\n",
                 o.archive.c_str());
    cancel = false;
  };
  // The parts of a split set are taken from beside the archive.
  unzip.OnNextVolume = [&](TObject*, std::string& volume, int, bool exists, bool& cancel) {
    if (exists) return;
    std::string answer;
    if (interactive && platform::AskLine("part " + volume + " is missing; its path (empty to stop): ", answer) &&
        !answer.empty()) {
      volume = answer;
      return;
    }
    std::fprintf(stderr, "error 25192: %s: %s\n", MessageOf(E_FILENOTFOUND).c_str(), volume.c_str());
    cancel = true;
  };
  int failed = 0, passed = 0;
  unzip.OnEnd = [&](TObject*, const std::string& file, bool ok) {
    if (ok) ++passed;
    else ++failed;
    if (test) std::printf("%s %s\n", ok ? "OK    " : "FAILED", file.c_str());
    else if (!ok) std::fprintf(stderr, "error 25151: %s: %s\n", MessageOf(E_CRCERROR).c_str(), file.c_str());
  };
  const int done = test ? unzip.Test() : unzip.Extract();
  std::printf("%s %d entries, %d failed\n", test ? "tested" : "extracted", done, failed);
  std::fflush(stdout);
  if (errors.Saw(E_FOPEN) && done == 0 && passed == 0) return kArchiveUnusable;
  if (failed > 0 || errors.Count() > 0) return kEntriesFailed;
  return kOk;
}

}  // namespace

int TestCommand(int argc, char** argv) { return Run(argc, argv, true); }
int ExtractCommand(int argc, char** argv) { return Run(argc, argv, false); }

}  // namespace tessavar::cli
