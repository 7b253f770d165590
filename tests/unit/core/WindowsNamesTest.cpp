// Repository paths that Windows cannot hold: each rule with a path that
// breaks it beside a near miss that is fine, and the local length limit
// exactly at and one past its edge.
#include <gtest/gtest.h>

#include <string>

#include "update/RepositoryPaths.h"

namespace {

using K = TPathFault;

struct TNameCase {
  std::wstring Path;
  TPathFault::TKind Kind;
  std::wstring Segment;  // the segment at fault
};

TEST(CoreWindowsNames, EachRuleRefusesItsSegmentAndSparesTheNearMiss) {
  const TNameCase cases[] = {
      // Device names, in any letter case, with or without extension, in any segment.
      {L"/data/nul.txt", K::pfReservedName, L"nul.txt"},
      {L"/data/nullx.txt", K::pfNone, L""},
      {L"/COM1.ini", K::pfReservedName, L"COM1.ini"},
      {L"/com10.ini", K::pfNone, L""},
      {L"/com0", K::pfReservedName, L"com0"},
      {L"/LPT9.x", K::pfReservedName, L"LPT9.x"},
      {L"/lpt", K::pfNone, L""},
      {L"/con", K::pfReservedName, L"con"},
      {L"/cons", K::pfNone, L""},
      {L"/Aux.dat", K::pfReservedName, L"Aux.dat"},
      {L"/a.aux", K::pfNone, L""},
      {L"/prn.tar.gz", K::pfReservedName, L"prn.tar.gz"},
      {L"/nul .txt", K::pfReservedName, L"nul .txt"},
      {L"/con.d/x.txt", K::pfReservedName, L"con.d"},
      {L"/.con", K::pfNone, L""},
      {L"/data/COM\u00B9.ini", K::pfReservedName, L"COM\u00B9.ini"},
      {L"/lpt\u00B3", K::pfReservedName, L"lpt\u00B3"},
      {L"/com\u2074", K::pfNone, L""},
      {L"/conin$", K::pfReservedName, L"conin$"},
      {L"/CONOUT$.log", K::pfReservedName, L"CONOUT$.log"},
      {L"/conin", K::pfNone, L""},
      // Letters of another alphabet that look like a device name are not one.
      {L"/data/\u0441on.txt", K::pfNone, L""},
      {L"/данные/карта.png", K::pfNone, L""},
      // Characters.
      {L"/data/a<b", K::pfForbiddenCharacter, L"a<b"},
      {L"/data/a>b", K::pfForbiddenCharacter, L"a>b"},
      {L"/data/c:x", K::pfForbiddenCharacter, L"c:x"},
      {L"/data/\"q\"", K::pfForbiddenCharacter, L"\"q\""},
      {L"/a|b/x", K::pfForbiddenCharacter, L"a|b"},
      {L"/what?.txt", K::pfForbiddenCharacter, L"what?.txt"},
      {L"/*.ini", K::pfForbiddenCharacter, L"*.ini"},
      {L"/a\\b", K::pfForbiddenCharacter, L"a\\b"},
      {std::wstring(L"/tab\there"), K::pfForbiddenCharacter, L"tab\there"},
      {L"/a+b=c;d,e[f]g#h'i&j!~%$@^`{}", K::pfNone, L""},
      // A name ends in neither a dot nor a blank; inside it both are fine.
      {L"/data/a.", K::pfTrailingDotOrSpace, L"a."},
      {L"/mods /x", K::pfTrailingDotOrSpace, L"mods "},
      {L"/a.b", K::pfNone, L""},
      {L"/a b/.c", K::pfNone, L""},
      // Paths that leave the folder or name nothing.
      {L"data/x", K::pfOutsideFolder, L""},
      {L"/", K::pfOutsideFolder, L""},
      {L"/a/../x", K::pfOutsideFolder, L".."},
      {L"/a//x", K::pfOutsideFolder, L""},
      {L"/data/", K::pfNone, L""},
  };
  for (const TNameCase& c : cases) {
    const TPathFault fault = FindWindowsNameFault(c.Path);
    EXPECT_EQ(fault.Kind, c.Kind) << testing::PrintToString(c.Path);
    if (c.Kind != K::pfNone && c.Kind != K::pfOutsideFolder) {
      EXPECT_EQ(fault.Segment, c.Segment) << testing::PrintToString(c.Path);
    }
  }
}

TEST(CoreWindowsNames, DeviceNameIsTheStemAsWritten) {
  EXPECT_EQ(ReservedDeviceName(L"nul.txt"), L"nul");
  EXPECT_EQ(ReservedDeviceName(L"Com1 .ini"), L"Com1");
  EXPECT_EQ(ReservedDeviceName(L"nullx.txt"), L"");
  EXPECT_EQ(FindWindowsNameFault(L"/a?b").Character, L'?');
}

TEST(CoreWindowsNames, MapFilesAreJudgedByTheirArchive) {
  // Members of a map archive are zip entries, not files: only the map's own name counts.
  const std::pair<std::wstring, std::wstring> files[] = {
      {L"/data/maps/north/nul.txt", L"/data/maps/north.zip"},
      {L"/data/maps/north/sub/a?.txt", L"/data/maps/north.zip"},
      {L"/Data/Maps/aux/settings.ini", L"/Data/Maps/aux.zip"},
      {L"/data/maps/readme.txt", L"/data/maps/readme.txt"},
      {L"/data/other/x.txt", L"/data/other/x.txt"},
  };
  for (const auto& [path, file] : files) EXPECT_EQ(LocalFileOf(path), file) << testing::PrintToString(path);
  EXPECT_FALSE(FindPathToWriteFault(10, L"/data/maps/north/nul.txt"));
  const TPathFault map = FindPathToWriteFault(10, L"/Data/Maps/aux/settings.ini");
  EXPECT_EQ(map.Kind, K::pfReservedName);
  EXPECT_EQ(map.Segment, L"aux.zip");
}

TEST(CoreWindowsNames, LengthCountsFolderPathAndLongestTemporaryName) {
  // ".999.download" is what the temporary name adds at most.
  ASSERT_EQ(std::wstring(L".") + std::to_wstring(kTemporaryNameAttempts - 1) + kTemporarySuffix,
            std::wstring(L".999.download"));
  ASSERT_EQ(kLongestTemporarySuffix, std::wstring(L".999.download").size());
  const std::wstring file = L"/data/" + std::wstring(100, L'f');  // 106 characters
  // 259 - 13 - 106 = 140: the installation folder that just fits.
  EXPECT_FALSE(FindLocalLengthFault(140, file));
  const TPathFault over = FindLocalLengthFault(141, file);
  EXPECT_EQ(over.Kind, K::pfTooLong);
  EXPECT_EQ(over.Length, 260u);
  EXPECT_EQ(over.Limit, 259u);
  // Cyrillic letters count one each, like any UTF-16 unit.
  EXPECT_FALSE(FindLocalLengthFault(140, L"/data/" + std::wstring(100, L'ж')));
  EXPECT_TRUE(FindLocalLengthFault(141, L"/data/" + std::wstring(100, L'ж')));

  // The deepest folder of a file that fits stays below the folder limit of 248.
  const std::wstring deep = L"/" + std::wstring(259 - 13 - 3 - 10, L'd') + L"/x";
  EXPECT_FALSE(FindLocalLengthFault(10, deep));
  EXPECT_LT(10 + deep.rfind(L'/'), 248u);
  EXPECT_TRUE(FindLocalLengthFault(10, deep + L"x"));

  // A map writes "/data/maps/<map>" + temporary suffix, whatever its members are called.
  const std::wstring map = L"/data/maps/" + std::wstring(50, L'm');  // 61 characters
  const std::wstring member = map + L"/" + std::wstring(200, L'x');
  EXPECT_FALSE(FindPathToWriteFault(259 - 13 - 61, member));
  EXPECT_EQ(FindPathToWriteFault(259 - 13 - 60, member).Kind, K::pfTooLong);
}

TEST(CoreWindowsNames, MessagesNameThePathAndTheFault) {
  const struct {
    std::wstring Path;
    size_t FolderLength;
    std::wstring Message;
    std::wstring Log;
  } cases[] = {
      {L"/data/nul.txt", 10,
       L"Файл репозитория /data/nul.txt нельзя сохранить в Windows: «nul» — зарезервированное имя. "
       L"Сообщите об этом разработчикам игры.",
       L"Repository path /data/nul.txt cannot be stored on Windows: reserved device name \"nul\" in \"nul.txt\""},
      {L"/data/what?.txt", 10,
       L"Файл репозитория /data/what?.txt нельзя сохранить в Windows: знак «?» недопустим в имени. "
       L"Сообщите об этом разработчикам игры.",
       L"Repository path /data/what?.txt cannot be stored on Windows: forbidden character '?' in \"what?.txt\""},
      {std::wstring(L"/a\x01"), 10,
       std::wstring(L"Файл репозитория /a\x01 нельзя сохранить в Windows: в имени есть управляющий символ. ") +
           L"Сообщите об этом разработчикам игры.",
       std::wstring(L"Repository path /a\x01 cannot be stored on Windows: forbidden character U+0001 in \"a\x01\"")},
      {L"/data/end.", 10,
       L"Файл репозитория /data/end. нельзя сохранить в Windows: имя «end.» оканчивается точкой. "
       L"Сообщите об этом разработчикам игры.",
       L"Repository path /data/end. cannot be stored on Windows: \"end.\" ends in a dot"},
      {L"/data/end ", 10,
       L"Файл репозитория /data/end  нельзя сохранить в Windows: имя «end » оканчивается пробелом. "
       L"Сообщите об этом разработчикам игры.",
       L"Repository path /data/end  cannot be stored on Windows: \"end \" ends in a space"},
      {L"/data/long.txt", 240,
       L"Путь к файлу репозитория /data/long.txt в папке игры слишком длинный для Windows. "
       L"Установите игру в папку с более коротким путём.",
       L"Repository path /data/long.txt cannot be stored on Windows: the local file path would be 267 characters "
       L"long, more than 259"},
  };
  for (const auto& c : cases) {
    const TPathFault fault = FindPathToWriteFault(c.FolderLength, c.Path);
    ASSERT_TRUE(fault) << testing::PrintToString(c.Path);
    EXPECT_EQ(PathFaultMessage(c.Path, fault), c.Message);
    EXPECT_EQ(PathFaultLogText(c.Path, fault), c.Log);
  }
}

}  // namespace
