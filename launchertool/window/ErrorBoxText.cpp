#include "ErrorBoxText.h"

std::wstring WithFullStop(std::wstring message) {
  if (!message.empty() && message.back() > L'.') message.push_back(L'.');
  return message;
}

std::wstring ErrorBoxText(const Exception& e) {
  const std::wstring* chosen = &e.Message();
  for (const Exception* x = &e; x; x = x->InnerException())
    if (!x->Message().empty()) chosen = &x->Message();
  return WithFullStop(*chosen);
}
