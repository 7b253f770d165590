#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the client's tests: one thread per
// connection, one reply per connection, every request recorded.
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Handles.h"

struct TSeenRequest {
  std::string Method;
  std::string Path;
  std::map<std::string, std::string> Headers;  // names in lower case
  std::string Body;
};

struct TReply {
  int Status = 200;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  bool Chunked = false;
  // Accept the request and never answer (until the server stops).
  bool NeverAnswer = false;
  // When set: sends the first PauseAfter bytes of the reply (status line and
  // headers count), runs Paused on the connection's thread (it may wait),
  // then sends the rest.
  size_t PauseAfter = 0;
  std::function<void()> Paused = nullptr;
};

class TTestServer {
 public:
  using THandler = std::function<TReply(const TSeenRequest&)>;
  explicit TTestServer(THandler handler);
  ~TTestServer();

  uint16_t Port() const { return FPort; }
  std::wstring Url(const std::string& path) const;
  std::vector<TSeenRequest> Requests();
  // Replies wait while the server is held (to keep an exchange running).
  void Hold();
  void Release();

 private:
  void AcceptLoop();
  void Serve(SOCKET client);
  void Close(SOCKET client);

  THandler FHandler;
  SOCKET FListener = INVALID_SOCKET;
  uint16_t FPort = 0;
  UniqueHandle FStopped;
  UniqueHandle FReleased;
  std::thread FAcceptThread;
  std::mutex FLock;
  std::vector<std::thread> FConnections;
  std::vector<TSeenRequest> FRequests;
  std::set<SOCKET> FOpen;
};

// A port on 127.0.0.1 on which nothing listens.
uint16_t UnusedPort();
