#include "Json.h"

#include "platform/CodePage.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tessavar::test {

namespace {

const Json& NullJson() {
  static const Json null;
  return null;
}

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}

  Json Document() {
    Json v = Value();
    Skip();
    if (p_ != s_.size()) Fail("trailing text");
    return v;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(p_));
  }
  void Skip() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\n' || s_[p_] == '\r' || s_[p_] == '\t')) ++p_;
  }
  bool Eat(char c) {
    Skip();
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Eat(c)) Fail("unexpected character");
  }
  uint32_t Hex4() {
    if (p_ + 4 > s_.size()) Fail("short escape");
    uint32_t v = static_cast<uint32_t>(std::strtoul(s_.substr(p_, 4).c_str(), nullptr, 16));
    p_ += 4;
    return v;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (true) {
      if (p_ >= s_.size()) Fail("unterminated string");
      char c = s_[p_++];
      if (c == '"') break;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (p_ >= s_.size()) Fail("bad escape");
      char e = s_[p_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          uint32_t cp = Hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF && p_ + 6 <= s_.size() && s_[p_] == '\\' && s_[p_ + 1] == 'u') {
            p_ += 2;
            uint32_t lo = Hex4();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          platform::AppendUtf8(out, cp);
          break;
        }
        default: out += e;
      }
    }
    return out;
  }
  Json Value() {
    Skip();
    if (p_ >= s_.size()) Fail("unexpected end");
    Json v;
    char c = s_[p_];
    if (c == '{') {
      ++p_;
      v.kind = Json::Kind::Object;
      if (Eat('}')) return v;
      do {
        Skip();
        std::string key = String();
        Expect(':');
        v.members[key] = Value();
      } while (Eat(','));
      Expect('}');
    } else if (c == '[') {
      ++p_;
      v.kind = Json::Kind::Array;
      if (Eat(']')) return v;
      do v.items.push_back(Value());
      while (Eat(','));
      Expect(']');
    } else if (c == '"') {
      v.kind = Json::Kind::String;
      v.text = String();
    } else if (s_.compare(p_, 4, "true") == 0) {
      v.kind = Json::Kind::Bool;
      v.boolean = true;
      p_ += 4;
    } else if (s_.compare(p_, 5, "false") == 0) {
      v.kind = Json::Kind::Bool;
      p_ += 5;
    } else if (s_.compare(p_, 4, "null") == 0) {
      p_ += 4;
    } else {
      char* end = nullptr;
      v.number = std::strtod(s_.c_str() + p_, &end);
      if (end == s_.c_str() + p_) Fail("bad value");
      v.kind = Json::Kind::Number;
      p_ = static_cast<size_t>(end - s_.c_str());
    }
    return v;
  }

  const std::string& s_;
  size_t p_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
  if (kind != Kind::Object) return NullJson();
  auto it = members.find(key);
  return it == members.end() ? NullJson() : it->second;
}

const Json& Json::operator[](size_t index) const {
  return kind == Kind::Array && index < items.size() ? items[index] : NullJson();
}

Json Json::Parse(const std::string& text) { return Parser(text).Document(); }

Json Json::ParseFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Parse(text);
}

}  // namespace tessavar::test
