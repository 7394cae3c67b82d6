#pragma once
// Wildcard masks ("*" and "?", ASCII letters compared without case), as the
// file scanner, the exclusion lists and the entry selection use them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessavar {

class TInternalMask {
 public:
  enum Kind : uint8_t { kLiteral = 0, kAnyChar = 1, kCharSet = 2 };
  struct MaskState {
    bool SkipTo = false;  // a "*" came before this step
    Kind kind = kLiteral;
    char Literal = 0;     // upper-cased; 0 matches only the end of the name
  };

  explicit TInternalMask(const std::string& mask);
  bool Matches(const std::string& name) const;

  const std::vector<MaskState>& States() const { return states_; }
  bool EndsWithDot() const { return endsWithDot_; }

 private:
  std::vector<MaskState> states_;
  bool endsWithDot_ = false;
};

// One mask of a scanner's collection.
class TMultiMask {
 public:
  explicit TMultiMask(const std::string& mask) : mask_(std::make_unique<TInternalMask>(mask)), text_(mask) {}
  bool Matches(const std::string& name) const { return mask_->Matches(name); }
  const std::string& Text() const { return text_; }
  const TInternalMask& Mask() const { return *mask_; }

 private:
  std::unique_ptr<TInternalMask> mask_;
  std::string text_;
};

// A name matches the collection when it matches any of its masks.
class TMultiMasks {
 public:
  void Add(const std::string& mask) { items_.emplace_back(mask); }
  void Clear() { items_.clear(); }
  size_t Count() const { return items_.size(); }
  const TMultiMask& operator[](size_t i) const { return items_[i]; }
  bool Matches(const std::string& name) const;

 private:
  std::vector<TMultiMask> items_;
};

}  // namespace tessavar
