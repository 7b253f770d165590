#pragma once
// The words the player reads when the connection or the server let a run
// down after its retries, and what the window says while it retries.
#include <cstdint>
#include <string>

inline constexpr wchar_t kContinueWhereStopped[] =
    L"Нажмите «Обновить» ещё раз — загрузка продолжится с того места, где остановилась.";
std::wstring NoConnectionMessage();
std::wstring ServerErrorMessage(int32_t status);
std::wstring SecureConnectionMessage();
inline constexpr wchar_t kReplyTooLargeMessage[] =
    L"Сервер обновлений прислал слишком большой ответ. Нажмите «Обновить» ещё раз; если ошибка повторится, "
    L"сообщите о ней разработчикам игры.";
inline constexpr wchar_t kRetryingStatusText[] = L"Связь прервалась, повторная попытка...";
