// The HTTP client tests' loopback server, built into this program as well.
#include "../http/TestServer.cpp"
