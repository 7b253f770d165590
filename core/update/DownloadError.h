#pragma once
// EDownloadError: a failed update step; its message is shown to the user.
#include "Exceptions.h"

DECLARE_EXCEPTION_CLASS(EDownloadError, Exception);
