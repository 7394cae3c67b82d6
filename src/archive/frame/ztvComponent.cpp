#include "archive/frame/ztvComponent.h"

#include "platform/Time.h"

namespace tessavar {

namespace {
// A tick of 0 marks a stopped timer, so a real tick of 0 is moved to 1.
uint32_t NonZeroTick() {
  uint32_t t = platform::TickCount();
  return t == 0 ? 1 : t;
}
}  // namespace

void TZipTimer::Start() {
  elapsed_ = 0.0f;
  pauseTick_ = 0;
  startTick_ = NonZeroTick();
}

void TZipTimer::Stop() {
  if (startTick_ == 0) return;
  stopTick_ = NonZeroTick();
  elapsed_ = static_cast<float>(static_cast<uint32_t>(stopTick_ - startTick_)) / 1000.0f;
  startTick_ = 0;
}

void TZipTimer::Pause() {
  if (startTick_ == 0) return;
  pauseTick_ = NonZeroTick();
}

void TZipTimer::Resume() {
  if (startTick_ == 0 || pauseTick_ == 0) return;
  uint32_t now = NonZeroTick();
  uint32_t moved = now + startTick_ - pauseTick_;
  startTick_ = moved == 0 ? 1 : moved;
  pauseTick_ = 0;
}

TSeedKeyValues& DataSeed() {
  static TSeedKeyValues seed = kDefaultDataSeed;
  return seed;
}

TSeedKeyValues& HeaderSeed() {
  static TSeedKeyValues seed = kDefaultHeaderSeed;
  return seed;
}

TSeedKeys::TSeedKeys(TSeedKeyKind kind, TSeedKeyValues& keys) : kind_(kind), keys_(&keys) {
  if (kind_ == TSeedKeyKind::Header) {
    HeaderSeed() = kDefaultHeaderSeed;
    *keys_ = kDefaultHeaderSeed;
  }
}

}  // namespace tessavar
