#include <gtest/gtest.h>

#include "update/MachineFaults.h"

namespace {

TEST(MachineFaults, SystemCodesMeanWhatThePlayerCanCure) {
  const struct {
    uint32_t code;
    TMachineFault fault;
  } cases[] = {
      {5, TMachineFault::FileHeld},    {32, TMachineFault::FileHeld},    {33, TMachineFault::FileHeld},
      {39, TMachineFault::DiskFull},   {112, TMachineFault::DiskFull},   {123, TMachineFault::PathRefused},
      {161, TMachineFault::PathRefused}, {206, TMachineFault::PathRefused}, {2, TMachineFault::Other},
      {0, TMachineFault::Other},       {12002, TMachineFault::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(MachineFaultOf(c.code), c.fault) << c.code;
}

TEST(MachineFaults, DrivesAndPathsAreNamedAsThePlayerKnowsThem) {
  const struct {
    const wchar_t* path;
    const wchar_t* drive;
  } drives[] = {
      {L"C:\\Games\\Veldra\\data\\a.txt", L"C:"},
      {L"d:\\x", L"D:"},
      {L"\\\\?\\E:\\Games\\a.txt", L"E:"},
      {L"\\\\server\\share\\Games\\a.txt", L"\\\\server\\share"},
      {L"\\\\?\\UNC\\server\\share\\a.txt", L"\\\\server\\share"},
      {L"\\\\server", L""},
      {L"relative\\a.txt", L""},
      {L"", L""},
  };
  for (const auto& c : drives) EXPECT_EQ(DriveOf(c.path), c.drive) << c.path;

  const struct {
    const wchar_t* folder;
    const wchar_t* file;
    const wchar_t* shown;
  } paths[] = {
      {L"C:\\Games\\Veldra", L"C:\\Games\\Veldra\\data\\config.ini", L"/data/config.ini"},
      {L"C:\\Games\\Veldra\\", L"c:\\games\\VELDRA\\data\\Файл.txt", L"/data/Файл.txt"},
      {L"C:\\Games\\Veldra", L"\\\\?\\C:\\Games\\Veldra\\.last", L"/.last"},
      // Another folder that only begins like the installation's is not inside it.
      {L"C:\\Games\\Veldra", L"C:\\Games\\Veldra2\\a.txt", L"C:\\Games\\Veldra2\\a.txt"},
      {L"C:\\Games\\Veldra", L"C:\\Users\\p\\Temp\\vdrp1.tmp", L"C:\\Users\\p\\Temp\\vdrp1.tmp"},
      {L"C:\\Games\\Veldra", L"C:\\Games\\Veldra", L"C:\\Games\\Veldra"},
  };
  for (const auto& c : paths) EXPECT_EQ(PathForPlayer(c.folder, c.file), c.shown) << c.file;
}

TEST(MachineFaults, TheDiskMessageNamesTheDriveAndTheShortfallRoundedUp) {
  const wchar_t* tail = L" Освободите место на диске и нажмите «Обновить» ещё раз.";
  EXPECT_EQ(DiskFullMessage(L"C:"), std::wstring(L"Недостаточно места на диске C:.") + tail);
  EXPECT_EQ(DiskFullMessage(L"D:", 1), std::wstring(L"Недостаточно места на диске D:. Нужно ещё 1 МБ.") + tail);
  EXPECT_EQ(DiskFullMessage(L"D:", 1024 * 1024), std::wstring(L"Недостаточно места на диске D:. Нужно ещё 1 МБ.") + tail);
  EXPECT_EQ(DiskFullMessage(L"D:", 1024 * 1024 + 1),
            std::wstring(L"Недостаточно места на диске D:. Нужно ещё 2 МБ.") + tail);
  EXPECT_EQ(DiskFullMessage(L""), std::wstring(L"Недостаточно места на диске.") + tail);
  EXPECT_EQ(FileHeldMessage(L"/data/config.ini"),
            L"Файл /data/config.ini занят другой программой (например, игрой, редактором или антивирусом). Закройте "
            L"её и нажмите «Обновить» ещё раз.");
}

}  // namespace
