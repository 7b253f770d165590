#pragma once
// Failures of the player's own machine told in the player's words.
#include <memory>
#include <string>

#include "Exceptions.h"

// A held file, a full disk or a path Windows refuses becomes an
// EDownloadError that names the file (its path inside the installation
// folder) or the drive and says what to do; the system's code and text go to
// the log. Anything else comes back as it is.
std::shared_ptr<Exception> InPlayersWords(const std::shared_ptr<Exception>& error,
                                          const std::wstring& installationFolder);
