#pragma once
// A small JSON reader for the fixture manifests.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tessavar::test {

class Json {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  bool IsNull() const { return kind == Kind::Null; }
  bool Has(const std::string& key) const { return kind == Kind::Object && members.count(key) > 0; }
  // Missing members and out-of-range items read as null.
  const Json& operator[](const std::string& key) const;
  const Json& operator[](size_t index) const;
  size_t size() const { return kind == Kind::Array ? items.size() : members.size(); }
  std::string Str(const std::string& fallback = "") const { return kind == Kind::String ? text : fallback; }
  int64_t Int(int64_t fallback = 0) const { return kind == Kind::Number ? static_cast<int64_t>(number) : fallback; }
  bool Bool(bool fallback = false) const { return kind == Kind::Bool ? boolean : fallback; }

  // Throws std::runtime_error on malformed text.
  static Json Parse(const std::string& text);
  static Json ParseFile(const std::filesystem::path& path);
};

}  // namespace tessavar::test
