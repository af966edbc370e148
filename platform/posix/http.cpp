#include "platform/http.h"

#include <curl/curl.h>

namespace platform {
namespace {

void InitCurlOnce() {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

struct HttpSession::Native {
  std::string user_agent;
};

std::unique_ptr<HttpSession> HttpSession::Open(const std::string& user_agent) {
  InitCurlOnce();
  Native* native = new Native;
  native->user_agent = user_agent;
  return std::unique_ptr<HttpSession>(new HttpSession(native));
}

HttpSession::~HttpSession() { delete native_; }

struct HttpConnection::Native {
  // One easy handle for every request: libcurl keeps its connection open
  // between them when the server allows it.
  CURL* easy = nullptr;
  std::string base_url;
  std::string user_agent;
};

std::unique_ptr<HttpConnection> HttpConnection::Connect(HttpSession& session,
                                                        const std::string& host, int port) {
  CURL* easy = curl_easy_init();
  if (!easy) return nullptr;
  Native* native = new Native;
  native->easy = easy;
  native->base_url = "http://" + host + ":" + std::to_string(port);
  native->user_agent = session.native()->user_agent;
  return std::unique_ptr<HttpConnection>(new HttpConnection(native));
}

HttpConnection::~HttpConnection() {
  curl_easy_cleanup(native_->easy);
  delete native_;
}

bool HttpConnection::SendGet(const std::string& object_name) {
  std::string target = EscapeRequestTarget(object_name);
  if (target.empty() || target[0] != '/') target.insert(0, "/");
  // The target goes on the request line as given, so a '#' or '?' in the
  // object name reaches the server as it would through WinINet.
  std::string url = native_->base_url + "/";
  CURL* easy = native_->easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, native_->user_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, DiscardBody);
  return curl_easy_perform(easy) == CURLE_OK;
}

}  // namespace platform
