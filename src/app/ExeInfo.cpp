#include "app/ExeInfo.h"

#include <unistd.h>

#include <cstring>

#include "platform/File.h"
#include "platform/Temp.h"

namespace tessavar::app {
namespace {

// A version block larger than this is not one the build wrote.
constexpr uint64_t kMaxVersionSection = 64 * 1024;

struct Reader {
  platform::FileHandle h;
  int64_t size;
  bool Read(uint64_t pos, void* out, uint64_t count) const {
    if (pos > static_cast<uint64_t>(size) || count > static_cast<uint64_t>(size) - pos) return false;
    if (platform::FileSeek(h, static_cast<int64_t>(pos), platform::SeekOrigin::Begin) != static_cast<int64_t>(pos))
      return false;
    return platform::FileRead(h, out, static_cast<int64_t>(count)) == static_cast<int64_t>(count);
  }
};

uint64_t Get(const uint8_t* p, int bytes, bool little) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(p[little ? i : bytes - 1 - i]) << (8 * i);
  return v;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The file's program path: /proc/self/exe names the running executable.
std::string SelfPath() {
  std::string path(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  path.resize(static_cast<size_t>(n));
  return path;
}

}  // namespace

std::vector<uint8_t> ReadVersionSection(const std::string& path) {
  platform::FileHandle h = platform::FileOpen(path, platform::OpenMode::Read);
  if (h == platform::kInvalidHandle) return {};
  struct Closer {
    platform::FileHandle h;
    ~Closer() { platform::FileClose(h); }
  } closer{h};
  Reader r{h, platform::FileSize(h)};
  uint8_t ident[16];
  if (!r.Read(0, ident, 16) || std::memcmp(ident, "\x7f" "ELF", 4) != 0) return {};
  const bool is64 = ident[4] == 2;
  const bool little = ident[5] == 1;
  if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) return {};
  uint8_t eh[64];
  const int ehSize = is64 ? 64 : 52;
  if (!r.Read(0, eh, static_cast<uint64_t>(ehSize))) return {};
  const uint64_t shoff = is64 ? Get(eh + 0x28, 8, little) : Get(eh + 0x20, 4, little);
  const uint64_t shentsize = Get(eh + (is64 ? 0x3A : 0x2E), 2, little);
  const uint64_t shnum = Get(eh + (is64 ? 0x3C : 0x30), 2, little);
  const uint64_t shstrndx = Get(eh + (is64 ? 0x3E : 0x32), 2, little);
  const uint64_t minEntry = is64 ? 64 : 40;
  if (shoff == 0 || shnum == 0 || shentsize < minEntry || shstrndx >= shnum) return {};
  struct Section {
    uint32_t name, type;
    uint64_t offset, size;
  };
  auto section = [&](uint64_t i, Section& s) {
    uint8_t b[64];
    if (!r.Read(shoff + i * shentsize, b, minEntry)) return false;
    s.name = static_cast<uint32_t>(Get(b, 4, little));
    s.type = static_cast<uint32_t>(Get(b + 4, 4, little));
    s.offset = is64 ? Get(b + 0x18, 8, little) : Get(b + 0x10, 4, little);
    s.size = is64 ? Get(b + 0x20, 8, little) : Get(b + 0x14, 4, little);
    return true;
  };
  Section strtab{};
  if (!section(shstrndx, strtab) || strtab.size > (1u << 24)) return {};
  std::vector<char> names(static_cast<size_t>(strtab.size) + 1, '\0');
  if (!r.Read(strtab.offset, names.data(), strtab.size)) return {};
  const std::string wanted = kVersionSectionName;
  for (uint64_t i = 0; i < shnum; ++i) {
    Section s{};
    if (!section(i, s)) return {};
    if (s.name >= strtab.size || wanted != names.data() + s.name) continue;
    constexpr uint32_t kNoBits = 8;
    if (s.type == kNoBits || s.size == 0 || s.size > kMaxVersionSection) return {};
    std::vector<uint8_t> data(static_cast<size_t>(s.size));
    if (!r.Read(s.offset, data.data(), s.size)) return {};
    return data;
  }
  return {};
}

TVersionBlock::TVersionBlock(const std::vector<uint8_t>& data) {
  std::string text(data.begin(), data.end());
  // The section may be padded with NULs by the linker.
  text = text.substr(0, text.find('\0'));
  std::string block;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      block = line.substr(1, line.size() - 2);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos)
      lists_[block].push_back(line);
    else
      blocks_[block][Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
  }
}

std::optional<std::string> TVersionBlock::Query(const std::string& path) const {
  auto list = lists_.find(path);
  if (list != lists_.end() && !list->second.empty()) return list->second.front();
  auto slash = path.find_last_of('\\');
  if (slash == std::string::npos) return std::nullopt;
  // "\Name" is a value of the root block "\".
  auto block = blocks_.find(slash == 0 ? std::string("\\") : path.substr(0, slash));
  if (block == blocks_.end()) return std::nullopt;
  auto value = block->second.find(path.substr(slash + 1));
  if (value == block->second.end()) return std::nullopt;
  return value->second;
}

uint32_t TVersionBlock::Fixed(const std::string& name) const {
  auto v = Query("\\" + name);
  if (!v) return 0;
  try {
    return static_cast<uint32_t>(std::stoul(*v, nullptr, 0));
  } catch (const std::exception&) {
    return 0;
  }
}

std::vector<std::string> Split(const std::string& Text, char Separator) {
  std::vector<std::string> out;
  if (Text.empty()) return out;
  size_t start = 0;
  for (;;) {
    size_t at = Text.find(Separator, start);
    if (at == std::string::npos) {
      out.push_back(Text.substr(start));
      return out;
    }
    out.push_back(Text.substr(start, at - start));
    start = at + 1;
  }
}

std::string OSNameOf(int platformId, int major, int minor, const std::string& servicePack) {
  if (platformId == 1 && major == 4) {
    if (minor == 0) return "Windows 95";
    if (minor == 10) return servicePack.size() > 1 && servicePack[1] == 'A' ? "Windows 98 SE" : "Windows 98";
    if (minor == 90) return "Windows ME";
  }
  if (platformId == 2) {
    if (major <= 4) return "Windows NT";
    if (major == 5 && minor == 0) return "Windows 2000";
    if (major == 5 && minor == 1) return "Windows XP";
  }
  return "Unknown";
}

TExeInfo::TExeInfo(TComponent* owner, const std::string& programFile)
    : TComponent(owner), programFile_(programFile.empty() ? SelfPath() : programFile) {
  for (std::string* s : {&companyName_, &fileDescription_, &fileVersion_, &internalName_, &legalCopyright_,
                         &legalTradeMark_, &originalFileName_, &productName_, &productVersion_, &comments_})
    *s = kUpdatedAtRunTime;
  computerName_.clear();
  if (!Loading()) {
    ReadVersionInfo();
    computerName_ = GetComputerName();
  }
}

void TExeInfo::ReadVersionInfo() {
  const std::vector<uint8_t> data = ReadVersionSection(programFile_);
  infoSize_ = data.size();
  if (infoSize_ == 0) return;
  TVersionBlock block(data);
  fileFlags_ = block.Fixed("FileFlags") & block.Fixed("FileFlagsMask");
  fileOS_ = block.Fixed("FileOS");
  fileType_ = block.Fixed("FileType");
  // The file date is a 64-bit count of 100 ns since 1601, as two halves.
  const uint64_t ft = (static_cast<uint64_t>(block.Fixed("FileDateMS")) << 32) | block.Fixed("FileDateLS");
  fileDate_ = ft == 0 ? 0.0 : static_cast<double>(ft) / 864000000000.0 - 109205.0;
  const std::string key = block.Query("\\VarFileInfo\\Translation").value_or("");
  struct Field {
    const char* name;
    std::string* target;
  };
  const Field fields[] = {{"CompanyName", &companyName_},   {"FileDescription", &fileDescription_},
                          {"FileVersion", &fileVersion_},   {"InternalName", &internalName_},
                          {"LegalCopyright", &legalCopyright_}, {"LegalTradeMarks", &legalTradeMark_},
                          {"OriginalFileName", &originalFileName_}, {"ProductName", &productName_},
                          {"ProductVersion", &productVersion_}, {"Comments", &comments_}};
  for (const Field& f : fields)
    *f.target = block.Query("StringFileInfo\\" + key + "\\" + f.name).value_or("");
}

std::string TExeInfo::GetComputerName() const {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return std::string(name).substr(0, 15);
}

std::function<bool(const std::string&)>& TExeInfo::HostNameSetter() {
  static std::function<bool(const std::string&)> setter = [](const std::string& name) {
    return sethostname(name.data(), name.size()) == 0;
  };
  return setter;
}

void TExeInfo::SetComputerName(const std::string& name) {
  const std::string cut = name.substr(0, 15);
  if (auto& setter = HostNameSetter(); setter && setter(cut)) computerName_ = cut;
}

std::string TExeInfo::GetOSName() const {
  // Neither family of the table runs here, so the answer is "Unknown".
  return OSNameOf(0, 0, 0, "");
}

std::string TExeInfo::TempDir() const { return platform::SystemTempDir(); }

std::string TExeInfo::Version() const {
  const uint32_t v = VersionNumber();
  return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) +
         "." + std::to_string(v & 0xFF);
}

}  // namespace tessavar::app
