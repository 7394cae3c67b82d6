#include <gtest/gtest.h>

#include "archive/frame/ztvErrors.h"

namespace tessavar {
namespace {

TEST(MessageOf, KnownTextsAreExact) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {25443, "User canceled"},
      {25249, "Inconsistant local header"},
      {25101, "64 bit hearder"},
      {25268, "Nothing to do"},
      {26859, "Nothing to do"},
      {25192, "File not found"},
      {25235, "Error opening file"},
      {25270, "Required event not assigned"},
      {25232, "Flat ScrollBar requires COMCTL32.dll version 4.71 or above."},
      {25241, "Line found before 'BEGIN'"},
      {26899, "Directory does not exist... Create?"},
      {26002, "Executables (*.exe)"},
      {26000, "All_files (*.*)|*.*"},
      {26001,
       "ALL Archives |*.ace;*.arc;*.arj;*.bh;*.cab;*.enc;*.exe;*.gz;*.ha;*.jar;*.lha;*.lzh;*.mbf;*.mim;*.pak;"
       "*.pk3;*.pk_;*.rar;*.tar;*.tgz;*.uue;*.war;*.xxe;*.z;*.zip;*.zlib;*.zoo"},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageOf(c.code), c.text) << c.code;
}

TEST(MessageOf, CodesOutsideTheTableAreEmpty) {
  for (int code : {0, -1, 25100, 25105, 25109, 25900, 26003, 26900, 99999}) EXPECT_EQ(MessageOf(code), "") << code;
}

TEST(MessageOf, EveryNamedCodeHasAText) {
  for (int code : {E_BADHEADER, E_BADOFFSET, E_BADBLOCK, E_BROKENCHAIN, E_FWRITE, E_FCLOSE, E_INCOMPLETECODESET,
                   E_CORRUPTINPUT, E_CRCERROR, E_SPANLABEL, E_INVALIDDIR, E_DISKFULL, E_NOTACCESSIBLE,
                   E_WRITEPROTECTED, E_EOFNOTFOUND, E_FILENOTFOUND, E_FOPEN, E_FREAD, E_INVALIDARC,
                   E_INVALIDFILENAME, E_MAXVOLUMES, E_OUTOFMEMORY, E_MEMSTRMEXPAND, E_UNRARDLL, E_CABINETDLL,
                   E_MULTIPARTGZIP, E_NOTHINGTODO, E_REQUIREDEVENT, E_REQUIREDPROPERTY, E_PASSWORDPROTECTED,
                   E_STACKOVERFLOW, E_UNKNTYPE, E_USERCANCEL, E_INVALIDPASSWORD, E_NOTHINGTODO2, E_DIRNOTEXIST})
    EXPECT_NE(MessageOf(code), "") << code;
}

}  // namespace
}  // namespace tessavar
