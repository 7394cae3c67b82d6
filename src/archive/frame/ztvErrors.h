#pragma once
// Error codes and their fixed English texts.
#include <string>

namespace tessavar {

// The table's text of a code, or "" for a code it does not hold.
std::string MessageOf(int code);

// The codes the components report, by name.
inline constexpr int E_BADHEADER = 25114;          // "Bad file header"
inline constexpr int E_BADOFFSET = 25115;          // "Bad offset to local header"
inline constexpr int E_BADBLOCK = 25116;           // "Bad block"
inline constexpr int E_BROKENCHAIN = 25135;        // "Broken multi-volume chain"
inline constexpr int E_FWRITE = 25136;             // "Error writing to file"
inline constexpr int E_FCLOSE = 25138;             // "Error closing file"
inline constexpr int E_INCOMPLETECODESET = 25139;  // "Incomplete code set"
inline constexpr int E_CORRUPTINPUT = 25140;       // "Corrupt input"
inline constexpr int E_CRCERROR = 25151;           // "File fails CRC check"
inline constexpr int E_SPANLABEL = 25154;          // "Error writing spanned-disk label"
inline constexpr int E_INVALIDDIR = 25158;         // "Invalid directory"
inline constexpr int E_DISKFULL = 25160;           // "Disk full"
inline constexpr int E_NOTACCESSIBLE = 25170;      // "is not accessible"
inline constexpr int E_WRITEPROTECTED = 25171;     // "disk is write protected"
inline constexpr int E_EOFNOTFOUND = 25172;        // "EOF not found"
inline constexpr int E_FILENOTFOUND = 25192;       // "File not found"
inline constexpr int E_FOPEN = 25235;              // "Error opening file"
inline constexpr int E_FREAD = 25236;              // "Error reading file or unexpected end of file"
inline constexpr int E_INVALIDARC = 25244;         // "Invalid or unsupported archive type for this operation"
inline constexpr int E_INVALIDFILENAME = 25245;    // "Invalid file name"
inline constexpr int E_MAXVOLUMES = 25251;         // "Maximum volumes 999"
inline constexpr int E_OUTOFMEMORY = 25253;        // "Out of memory"
inline constexpr int E_MEMSTRMEXPAND = 25254;      // "Out of memory while expanding memory stream"
inline constexpr int E_UNRARDLL = 25260;           // "Unrar?.dll not found"
inline constexpr int E_CABINETDLL = 25261;         // "Cabinet.dll not found"
inline constexpr int E_MULTIPARTGZIP = 25264;      // "Multi-Part GZIP files not supported"
inline constexpr int E_NOTHINGTODO = 25268;        // "Nothing to do"
inline constexpr int E_REQUIREDEVENT = 25270;      // "Required event not assigned"
inline constexpr int E_REQUIREDPROPERTY = 25271;   // "Required property not assigned"
inline constexpr int E_PASSWORDPROTECTED = 25290;  // "Password protected"
inline constexpr int E_STACKOVERFLOW = 25305;      // "Stack overflow"
inline constexpr int E_UNKNTYPE = 25326;           // "Unsupported compression method"
inline constexpr int E_USERCANCEL = 25443;         // "User canceled"
inline constexpr int E_INVALIDPASSWORD = 26517;    // "Invalid password"
inline constexpr int E_NOTHINGTODO2 = 26859;       // "Nothing to do"
inline constexpr int E_DIRNOTEXIST = 26899;        // "Directory does not exist... Create?"

}  // namespace tessavar
