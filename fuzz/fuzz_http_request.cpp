// The metrics page's request reader: any bytes from a peer, in pieces of any size. It decides once
// and for good; a head it takes has a method, a path from '/' and header values without line
// breaks; nothing beyond its limit is ever kept waiting. Every header value also goes through the
// live page's readers: the language is one of the two, and only the one right credential passes.
//
// Input: byte 0 is the size of each piece (0 means 1), the rest is what the peer sends.
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = data[0] ? data[0] : 1;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const size_t total = size - 1;
  using Status = qm::service::RequestReader::Status;
  qm::service::RequestReader reader;
  Status status = Status::Incomplete;
  size_t fed = 0;
  while (fed < total) {
    const size_t n = std::min(piece, total - fed);
    const Status next = reader.Feed(bytes + fed, n);
    FUZZ_CHECK(status == Status::Incomplete || next == status, "changed its mind");
    status = next;
    fed += n;
  }
  const std::string sent(bytes, total);
  const size_t end = sent.find("\r\n\r\n");
  if (end == std::string::npos) {
    FUZZ_CHECK(status == Status::Incomplete || status == Status::TooLarge);
    FUZZ_CHECK(status == Status::TooLarge || total <= qm::service::RequestReader::kMaxHead, "%zu bytes",
               total);
  }
  if (status == Status::Complete) {
    const auto& r = reader.Request();
    FUZZ_CHECK(end != std::string::npos && end + 4 <= qm::service::RequestReader::kMaxHead);
    FUZZ_CHECK(!r.method.empty() && !r.path.empty() && r.path[0] == '/', "%s", r.target.c_str());
    FUZZ_CHECK(r.version == "HTTP/1.1" || r.version == "HTTP/1.0");
    for (const auto& [name, value] : r.headers) {
      FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
      for (char c : name) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'), "%s", name.c_str());
      const std::string lang = qm::service::PageLanguage(value);
      FUZZ_CHECK(lang == "en" || lang == "zh-CN", "%s", lang.c_str());
      // "Basic " and the base64 of "owner:s3cret", written out.
      FUZZ_CHECK(qm::service::BasicAuthorized(value, "owner:s3cret") == (value == "Basic b3duZXI6czNjcmV0"),
                 "%s", value.c_str());
    }
  }
  return 0;
}
