#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>

// How the development server holds its connections. A connection has two seconds to send a complete
// request head and one second of quiet between kept-alive requests before it is closed, and the
// workers grow with the connections, so idle or slow clients never keep another client waiting.
namespace connections {

// From accepting a connection (or starting to wait for its next request) to the blank line that ends the head.
constexpr std::chrono::milliseconds headAllowance{2000};
// Quiet time allowed between requests on a kept-alive connection; also bounds how long stop() waits.
constexpr std::chrono::milliseconds keepAliveIdle{1000};
// Connections served at once; more wait their turn. Far above what the app (six per host) and a few
// test clients open, and a silent connection leaves within headAllowance.
constexpr std::size_t mostWorkers = 256;

// A plain HTTP server whose connections follow the rules above. (The TLS server keeps the library's
// own connection loop: there only the read timeout and the keep-alive timeout bound a slow head.)
std::unique_ptr<httplib::Server> plainServer();

// One worker per connection up to mostWorkers; for Server::new_task_queue.
httplib::TaskQueue *growingPool();

// Content-Length, if present, is one run of ASCII digits (repeated identically at most). The library
// reads "-5" as 2^64 - 5 and waits for that many bytes.
bool contentLengthIsValid(const httplib::Request &req);

} // namespace connections
