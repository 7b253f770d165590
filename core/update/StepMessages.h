#pragma once
// Messages of the failed list steps of an update run, shown to the user.

inline constexpr wchar_t kFileListFailedMessage[] = L"Ошибка получения списка файлов!";
inline constexpr wchar_t kUnexpectedErrorMessage[] = L"Неожиданная ошибка!";
// %d: the status of the failed tree request.
inline constexpr wchar_t kTreeFailedMessage[] = L"Неожиданная ошибка [%d], возможно повреждён файл .last";
