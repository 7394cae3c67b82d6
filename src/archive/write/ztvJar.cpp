#include "archive/write/ztvJar.h"

namespace tessavar {

TJar::TJar(TComponent* owner) : TZip(owner) {
  SetOwnDefaultExt(".JAR");
  SetSupportedMethods({cmStore, cmDeflate});
  SetCompressMethod(cmDeflate);
  arcType_ = atJar;
}

void TJar::SetArcType(TArcType) {
  arcType_ = atJar;
  if (!Loading() && !archiveFile_.empty()) SetArchiveFile(archiveFile_);
}

}  // namespace tessavar
