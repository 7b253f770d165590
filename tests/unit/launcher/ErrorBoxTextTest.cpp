#include <gtest/gtest.h>

#include "window/ErrorBoxText.h"
#include "window/MessageText.h"

namespace {

TEST(ErrorBoxText, ShowsTheInnermostMessageThatHasOne) {
  auto base = std::make_shared<EOSError>(12029, L"Не удаётся установить соединение с сервером");
  auto middle = std::make_shared<Exception>(L"Something was wrong!", base);
  Exception outer(L"outer", middle);
  EXPECT_EQ(ErrorBoxText(outer), L"Не удаётся установить соединение с сервером.");

  // An innermost exception without text falls back to the nearest outer one.
  auto silent = std::make_shared<Exception>(L"");
  auto wrapper = std::make_shared<Exception>(L"Ошибка получения списка файлов!", silent);
  EXPECT_EQ(ErrorBoxText(Exception(L"outer", wrapper)), L"Ошибка получения списка файлов!");

  EXPECT_EQ(ErrorBoxText(Exception(L"plain")), L"plain.");
  EXPECT_EQ(ErrorBoxText(Exception(L"")), L"");
}

TEST(ErrorBoxText, FullStopOnlyAfterCharactersAboveThePoint) {
  struct Case {
    const wchar_t* Message;
    const wchar_t* Shown;
  } cases[] = {
      {L"Ошибка!", L"Ошибка!"},   // '!' sorts below '.'
      {L"Done.", L"Done."},
      {L"(code 5)", L"(code 5)"},  // ')' sorts below '.'
      {L"path/", L"path/."},       // '/' sorts just above '.'
      {L"code 5", L"code 5."},
      {L"Ошибка", L"Ошибка."},
      {L"wait...", L"wait..."},
      {L"a-", L"a-"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithFullStop(c.Message), c.Shown) << testing::PrintToString(std::wstring(c.Message));
}

TEST(MessageBoxText, BareCarriageReturnsBecomeLineBreaks) {
  EXPECT_EQ(MessageBoxText(L"Игра не установлена!\rУкажите папку"), L"Игра не установлена!\r\nУкажите папку");
  EXPECT_EQ(MessageBoxText(L"a\r\nb"), L"a\r\nb");
  EXPECT_EQ(MessageBoxText(L"end\r"), L"end\r\n");
  EXPECT_EQ(MessageBoxText(L"a\nb"), L"a\nb");
}

}  // namespace
