// The collector's connection to one client, as the HTTP library reads it:
// a buffered socket whose request lines come out normalized, so the library
// accepts the raw form of older senders (NormalizeRequestLine).
#pragma once

#include <httplib.h>

#include <string>

class RequestStream : public httplib::Stream {
 public:
  RequestStream(int socket, int timeout_ms) : socket_(socket), timeout_ms_(timeout_ms) {}

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return socket_; }

  // Whether a next request has begun within `timeout_ms` (bytes buffered or
  // arriving); false when the peer closed (then closed() says so) or stayed
  // silent.
  bool AwaitRequest(int timeout_ms);
  bool closed() const { return closed_; }
  // Whether the last request line was none: after its 400 the connection
  // ends, so that its other lines are not taken for requests of their own.
  bool last_line_unreadable() const { return last_line_unreadable_; }

 private:
  // Reads from the socket into the buffer; false on end, error or time-out.
  bool Fill(int timeout_ms);
  // Reads the request line that starts at offset_ whole into the buffer and
  // normalizes it there (a line past the limit is left to the library).
  void NormalizeRequestLineAhead();

  int socket_;
  int timeout_ms_;
  std::string buffer_;  // read, not yet handed on, from `offset_`
  size_t offset_ = 0;
  bool line_start_ = true;         // the next byte handed on begins a line
  bool line_has_content_ = false;  // the line being handed on has more than CR
  bool head_end_ = true;           // the last line was empty: a request line may come
  bool last_line_unreadable_ = false;
  bool closed_ = false;  // the peer ended the connection, or it failed
};
