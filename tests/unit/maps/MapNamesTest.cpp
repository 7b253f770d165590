// The map format of a settings.ini.
#include <gtest/gtest.h>

#include "MapTestSupport.h"
#include "maps/MapFormat.h"

TEST(MapFormatTest, SettingsNameTheFormatInAnyCaseWithBmpAsDefault) {
  struct Case {
    const char* Label;
    std::string Text;
    const wchar_t* Format;
  } cases[] = {
      {"plain", "[main]\r\nMapFormat=png\r\n", L"png"},
      {"key absent", "[main]\r\nName=North\r\n", L"bmp"},
      {"empty file", "", L"bmp"},
      {"any case", "[MAIN]\nmapformat = JPEG \n", L"jpeg"},
      {"other section", "[view]\r\nMapFormat=png\r\n[main]\r\nName=x\r\n", L"bmp"},
      {"after other sections", "[view]\nMapFormat=png\n[Main]\nMapFormat=Jpg\n", L"jpg"},
      {"UTF-8 mark", "\xEF\xBB\xBF[main]\r\nMapFormat=PNG\r\n", L"png"},
      {"UTF-16 mark", std::string("\xFF\xFE[\0m\0a\0i\0n\0]\0\n\0M\0a\0p\0F\0o\0r\0m\0a\0t\0=\0p\0n\0g\0", 42),
       L"png"},
      {"unknown value kept", "[main]\nMapFormat=GIF\n", L"gif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(MapFormatFromSettings(Bytes(c.Text)), c.Format);
  }
}

TEST(MapFormatTest, ReadFromTheArchiveMemberIgnoringItsNameCase) {
  TInstallFolder folder;
  std::wstring path = folder.Map(L"north.zip");
  WriteArchive(path, {{L"a.txt", Bytes("x")}, {L"Settings.INI", Bytes(IniText("PNG"))}});
  TZipFile archive;
  archive.Open(path, TZipMode::zmRead);
  EXPECT_EQ(ReadMapFormat(archive), L"png");
}
