#pragma once
// The HTTP client over WinHTTP: one include for its users.
#include "HttpAsyncContext.h"
#include "HttpClient.h"
#include "HttpExceptions.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "ListRecord.h"
#include "URL.h"
