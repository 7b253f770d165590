#pragma once
// Writing .last so that a power cut or a full disk never leaves it empty or
// half written: the new record goes to a temporary file, is flushed, and
// takes the old one's place in one step.
#include <string>

class TTemporaryRecord;

// Raises (EOSError or EStreamError naming the file) and keeps the old .last
// when the new one cannot be written or put in place; no temporary file stays.
void WriteLastFileAtomically(const std::wstring& installationFolder, const std::string& bytes,
                             TTemporaryRecord* record = nullptr);
