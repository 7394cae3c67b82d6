#include "archive/frame/ztvMask.h"

namespace tessavar {

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

TInternalMask::TInternalMask(const std::string& mask) {
  bool skipTo = false;
  for (char c : mask) {
    if (c == '*') {
      skipTo = true;
    } else if (c == '?') {
      // "*?" is the same as "*": a "?" right after a "*" adds nothing.
      if (!skipTo) states_.push_back({false, kAnyChar, 0});
    } else {
      states_.push_back({skipTo, kLiteral, Upper(c)});
      skipTo = false;
    }
  }
  states_.push_back({skipTo, kLiteral, 0});
  endsWithDot_ = !mask.empty() && mask.back() == '.';
}

// Matching walks the steps with the usual star backtracking: on a mismatch it
// returns to the last "*" and lets it take one more character. That gives the
// same answers as trying every split, in time bounded by name x steps, so a
// mask with many "*" runs can neither overflow nor take exponential time.
bool TInternalMask::Matches(const std::string& input) const {
  std::string name = input;
  if (endsWithDot_ && name.find('.') == std::string::npos) name += '.';
  const size_t len = name.size();
  const size_t count = states_.size();

  size_t step = 0, pos = 0;
  bool haveStar = false;
  size_t starStep = 0, starPos = 0;
  bool starTaken = false;  // the SkipTo of `step` was already consumed at this position
  while (true) {
    if (step < count && states_[step].SkipTo && !starTaken) {
      haveStar = true;
      starStep = step;
      starPos = pos;
    }
    starTaken = false;
    bool ok = false;
    if (step < count) {
      const MaskState& s = states_[step];
      if (s.kind == kAnyChar) {
        ok = pos < len;
      } else if (s.Literal == 0) {
        if (pos == len) return true;
      } else {
        ok = pos < len && Upper(name[pos]) == s.Literal;
      }
    }
    if (ok) {
      ++step;
      ++pos;
      continue;
    }
    if (!haveStar || starPos >= len) return false;
    ++starPos;
    pos = starPos;
    step = starStep;
    starTaken = true;
  }
}

bool TMultiMasks::Matches(const std::string& name) const {
  for (const auto& m : items_)
    if (m.Matches(name)) return true;
  return false;
}

}  // namespace tessavar
