#include "archive/frame/ztvTypes.h"

namespace tessavar {

const char* ArcTypeName(TArcType t) {
  static const char* const kNames[kArcTypeCount] = {
      "NA", "Unsupported", "FileOpenErr", "Unknown",
      "Ace", "AceExe", "Arc", "ArcExe", "Arj", "ArjExe", "B64", "Bh", "BhExe",
      "Cab", "CabExe", "GZip", "HA", "Jar", "JarExe", "Lha", "LhaExe", "Lzh", "LzhExe",
      "MsGZ", "Pak", "PakExe", "Rar", "RarExe", "Tar", "TarGZip", "UUE",
      "Zip", "ZipExe", "ZipDS", "ZipMV", "Zoo",
  };
  int i = static_cast<int>(t);
  return (i >= 0 && i < kArcTypeCount) ? kNames[i] : "NA";
}

}  // namespace tessavar
