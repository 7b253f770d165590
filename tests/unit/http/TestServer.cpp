#include "TestServer.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

struct TWinsock {
  TWinsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
} gWinsock;

void NameThread(const wchar_t* name) {
  using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto set = reinterpret_cast<TSetDescription>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription"));
  if (set) set(GetCurrentThread(), name);
}

SOCKET ListenOnLoopback(uint16_t& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(s, 64) != 0) {
    closesocket(s);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  int len = sizeof(addr);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return s;
}

bool SendAll(SOCKET s, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    int n = send(s, data.data() + done, static_cast<int>(std::min<size_t>(data.size() - done, 65536)), 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

uint16_t UnusedPort() {
  uint16_t port = 0;
  closesocket(ListenOnLoopback(port));
  return port;
}

TTestServer::TTestServer(THandler handler)
    : FHandler(std::move(handler)),
      FStopped(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      FReleased(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
  FListener = ListenOnLoopback(FPort);
  FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TTestServer::~TTestServer() {
  SetEvent(FStopped.get());
  SetEvent(FReleased.get());
  closesocket(FListener);
  FAcceptThread.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard guard(FLock);
    connections.swap(FConnections);
  }
  {
    // Wake connections still waiting for a client that never closes.
    std::lock_guard guard(FLock);
    for (SOCKET s : FOpen) shutdown(s, SD_BOTH);
  }
  for (auto& t : connections) t.join();
}

std::wstring TTestServer::Url(const std::string& path) const {
  std::wstring url = L"http://127.0.0.1:" + std::to_wstring(FPort);
  for (char c : path) url.push_back(static_cast<wchar_t>(c));
  return url;
}

std::vector<TSeenRequest> TTestServer::Requests() {
  std::lock_guard guard(FLock);
  return FRequests;
}

void TTestServer::Hold() { ResetEvent(FReleased.get()); }
void TTestServer::Release() { SetEvent(FReleased.get()); }

void TTestServer::AcceptLoop() {
  NameThread(L"test server accept");
  for (;;) {
    SOCKET client = accept(FListener, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::lock_guard guard(FLock);
    FOpen.insert(client);
    FConnections.emplace_back([this, client] { Serve(client); });
  }
}

void TTestServer::Close(SOCKET client) {
  {
    std::lock_guard guard(FLock);
    FOpen.erase(client);
  }
  closesocket(client);
}

void TTestServer::Serve(SOCKET client) {
  NameThread(L"test server connection");
  std::string data;
  char buffer[16384];
  size_t headerEnd;
  while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
    int n = recv(client, buffer, sizeof(buffer), 0);
    if (n <= 0) {
      Close(client);
      return;
    }
    data.append(buffer, static_cast<size_t>(n));
  }

  TSeenRequest seen;
  std::string head = data.substr(0, headerEnd);
  size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  size_t sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
  seen.Method = requestLine.substr(0, sp1);
  seen.Path = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  for (size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
    size_t start = pos + 2;
    size_t end = head.find("\r\n", start);
    std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      size_t value = line.find_first_not_of(' ', colon + 1);
      seen.Headers[Lower(line.substr(0, colon))] = value == std::string::npos ? "" : line.substr(value);
    }
    pos = end;
  }
  size_t length = seen.Headers.count("content-length") ? std::stoul(seen.Headers["content-length"]) : 0;
  seen.Body = data.substr(headerEnd + 4);
  while (seen.Body.size() < length) {
    int n = recv(client, buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    seen.Body.append(buffer, static_cast<size_t>(n));
  }
  {
    std::lock_guard guard(FLock);
    FRequests.push_back(seen);
  }

  TReply reply = FHandler(seen);
  HANDLE waitFor[] = {FReleased.get(), FStopped.get()};
  WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
  if (reply.NeverAnswer) {
    WaitForSingleObject(FStopped.get(), INFINITE);
    Close(client);
    return;
  }

  std::string out = "HTTP/1.1 " + std::to_string(reply.Status) + " " + ReasonOf(reply.Status) + "\r\n";
  for (const auto& [name, value] : reply.Headers) out += name + ": " + value + "\r\n";
  out += "Connection: close\r\n";
  if (reply.Chunked) {
    out += "Transfer-Encoding: chunked\r\n\r\n";
    for (size_t pos = 0; pos < reply.Body.size(); pos += 1000) {
      std::string piece = reply.Body.substr(pos, 1000);
      char size[16];
      std::snprintf(size, sizeof(size), "%zx\r\n", piece.size());
      out += size + piece + "\r\n";
    }
    out += "0\r\n\r\n";
  } else {
    out += "Content-Length: " + std::to_string(reply.Body.size()) + "\r\n\r\n" + reply.Body;
  }
  if (reply.Paused) {
    const size_t first = std::min(reply.PauseAfter, out.size());
    if (SendAll(client, out.substr(0, first))) {
      reply.Paused();
      SendAll(client, out.substr(first));
    }
  } else {
    SendAll(client, out);
  }
  shutdown(client, SD_SEND);
  // Let the client read everything before the socket goes.
  while (recv(client, buffer, sizeof(buffer), 0) > 0) {
  }
  Close(client);
}
