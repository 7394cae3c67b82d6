#pragma once
// The JAR writer: a ZIP writer whose archives are JAR archives (".jar").
#include "archive/write/ztvZip.h"

namespace tessavar {

class TJar : public TZip {
 public:
  explicit TJar(TComponent* owner = nullptr);
  void SetArcType(TArcType value) override;
};

}  // namespace tessavar
