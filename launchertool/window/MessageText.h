#pragma once
// Launcher messages use a bare CR as a line break; message boxes want CR LF.
#include <string>

std::wstring MessageBoxText(const std::wstring& text);

// A Yes/No question box; returns IDYES or IDNO.
int AskQuestion(const std::wstring& text);
