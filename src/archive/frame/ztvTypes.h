#pragma once
// The enumerations shared by every archive component. This header includes
// nothing of the archive code, so any layer may use it.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tessavar {

enum TArcType : int {
  atNA, atUnsupported, atFileOpenErr, atUnknown,
  atAce, atAceExe, atArc, atArcExe, atArj, atArjExe, atB64, atBh, atBhExe,
  atCab, atCabExe, atGZip, atHA, atJar, atJarExe, atLha, atLhaExe, atLzh, atLzhExe,
  atMsGZ, atPak, atPakExe, atRar, atRarExe, atTar, atTarGZip, atUUE,
  atZip, atZipExe, atZipDS, atZipMV, atZoo,
};
inline constexpr int kArcTypeCount = atZoo + 1;

// The value's name without its "at" prefix ("Zip", "LhaExe", "NA").
const char* ArcTypeName(TArcType t);
// Everything but atNA, atUnsupported, atFileOpenErr and atUnknown.
inline bool IsValidArcType(TArcType t) { return t > atUnknown && t <= atZoo; }
inline bool IsZipFamily(TArcType t) { return t == atJar || t == atJarExe || t == atZip || t == atZipExe; }
// The ZIP family together with split and spanned sets: everything the ZIP
// reader and extractor handle.
inline bool IsZipType(TArcType t) { return IsZipFamily(t) || t == atZipDS || t == atZipMV; }

enum TEncryptionMethod : int { emNone, emAES2_128, emAES2_192, emAES2_256, emZIP_v2, emUnsupported };
enum TOverwriteMode : int { omOverwrite, omSkip };
enum TDateAttribute : int { daFileDate, daSysDate, daMaxFileDate };
enum TDeleteOptions : int { doFinal, doAllowUndo };
enum TCompressionMethod : int { cmInMemory, cmTempFile };
enum TStoredDirNames : int {
  sdNone, sdAbsolute, sdAbsoluteNoDrv, sdAbsoluteNoRoot, sdRelative, sdRelativeStoreStart,
  sdExplorer_Auto, sdExplorer_UserDefineDefaultDir,
};
enum TSwitch : int { swAdd, swRefresh, swMove, swDelete, swRead };
enum TCompressMethod : int {
  cmStore, cmDeflate, cmFuse, cmFrozen5, cmFrozen6, cmMsZip, cmLzx, cmQuantum,
  cmUUEncode, cmXXEncode, cmBase64, cmTarred, cmTarGzip,
};
enum TCpuType : int { cptAuto, cpt80286, cpt80386, cpt80486 };

enum TztvFileAttribute : int {
  fsZeroAttr, fsReadOnly, fsHidden, fsSysFile, fsVolumeID, fsDirectory, fsArchive, fsCompressed, fsEncrypted,
};

// A set of TztvFileAttribute, bit n standing for the value n.
class TztvFileAttributes {
 public:
  constexpr TztvFileAttributes() = default;
  constexpr TztvFileAttributes(std::initializer_list<TztvFileAttribute> members) {
    for (auto m : members) bits_ |= static_cast<uint16_t>(1u << m);
  }
  static constexpr TztvFileAttributes FromBits(uint16_t bits) {
    TztvFileAttributes a;
    a.bits_ = bits;
    return a;
  }
  constexpr bool Has(TztvFileAttribute a) const { return (bits_ >> a) & 1u; }
  constexpr void Include(TztvFileAttribute a) { bits_ |= static_cast<uint16_t>(1u << a); }
  constexpr void Exclude(TztvFileAttribute a) { bits_ &= static_cast<uint16_t>(~(1u << a)); }
  constexpr uint16_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(TztvFileAttributes, TztvFileAttributes) = default;

 private:
  uint16_t bits_ = 0;
};

// The start value of Attributes: fsZeroAttr, fsReadOnly, fsArchive, fsCompressed, fsEncrypted.
inline constexpr TztvFileAttributes kDefaultScanAttributes =
    TztvFileAttributes::FromBits(0x1C3);

// Windows attribute bits the masks are tested against.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr uint32_t FILE_ATTRIBUTE_VOLUME = 0x8;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_COMPRESSED = 0x800;
inline constexpr uint32_t FILE_ATTRIBUTE_NOT_CONTENT_INDEXED = 0x2000;
inline constexpr uint32_t FILE_ATTRIBUTE_ENCRYPTED = 0x4000;

// The three keys of one set of the traditional ZIP cipher.
struct TSeedKeyValues {
  uint32_t Key0 = 0;
  uint32_t Key1 = 0;
  uint32_t Key2 = 0;
  friend bool operator==(const TSeedKeyValues&, const TSeedKeyValues&) = default;
};

using TStrings = std::vector<std::string>;

// ZIP record kinds, and the set of them a search found (one bit per member).
enum THeaderType : int { htLocal, htCentral, htEnding, htLocator, htEnding64, htNone };
class THeaderTypeState {
 public:
  constexpr THeaderTypeState() = default;
  constexpr bool Has(THeaderType t) const { return t != htNone && ((bits_ >> t) & 1u); }
  constexpr void Include(THeaderType t) { if (t != htNone) bits_ |= static_cast<uint8_t>(1u << t); }
  constexpr void Exclude(THeaderType t) { if (t != htNone) bits_ &= static_cast<uint8_t>(~(1u << t)); }
  constexpr void Clear() { bits_ = 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  // htLocal 1, htCentral 2, htEnding 4, htLocator 8, htEnding64 16.
  constexpr uint8_t Bits() const { return bits_; }
  friend constexpr bool operator==(THeaderTypeState, THeaderTypeState) = default;

 private:
  uint8_t bits_ = 0;
};

}  // namespace tessavar
