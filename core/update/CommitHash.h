#pragma once
// A commit named by the repository goes into request paths and into .last:
// it is taken only in Git's form, 40 hexadecimal digits.
#include <string>

bool IsCommitHash(const std::wstring& text);
