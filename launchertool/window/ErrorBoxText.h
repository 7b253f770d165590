#pragma once
// The text of the launcher's error box for an exception.
#include <string>

#include "Exceptions.h"

// The message of the innermost exception that has one (else the exception's
// own), with a full stop appended when its last character sorts above ".".
std::wstring ErrorBoxText(const Exception& e);
// The full-stop rule on its own.
std::wstring WithFullStop(std::wstring message);
