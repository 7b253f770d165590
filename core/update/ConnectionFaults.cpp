#include "update/ConnectionFaults.h"

std::wstring NoConnectionMessage() {
  return std::wstring(L"Нет связи с сервером обновлений. Проверьте подключение к интернету. ") + kContinueWhereStopped;
}

std::wstring ServerErrorMessage(int32_t status) {
  return L"Сервер обновлений ответил ошибкой (код " + std::to_wstring(status) + L"). Подождите немного. " +
         kContinueWhereStopped;
}

std::wstring SecureConnectionMessage() {
  return std::wstring(
             L"Не удалось установить защищённое соединение с сервером обновлений. Проверьте дату и время на "
             L"компьютере. ") +
         kContinueWhereStopped;
}
