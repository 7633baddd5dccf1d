#pragma once
// Lines out of a byte stream: the layer between the socket and the POP3
// session. It buffers whatever the stream delivers, so several answers sent
// back to back (pipelined commands) are read one after another unchanged.

#include <chrono>
#include <string>
#include <string_view>

#include "mailcheck/Socket.h"

namespace qnb {

// An answer past one of its bounds (time, size, endless); the account check
// reports these apart from a broken connection.
struct EAnswerBound : ENetFailure {
  using ENetFailure::ENetFailure;
};

// An answer past its bound (bytes, or lines of a listing). The rest of it
// has been read and dropped, so the session is still in step with the server
// and the next answer can be read.
class EAnswerTooLarge : public EAnswerBound {
 public:
  EAnswerTooLarge(size_t limit, size_t size)
      : EAnswerBound("The server's answer is larger than " + std::to_string(limit)), limit_(limit), size_(size) {}
  size_t Limit() const { return limit_; }
  // What the whole answer came to (bytes, or lines for a listing).
  size_t Size() const { return size_; }

 private:
  size_t limit_, size_;
};


class TLineReader {
 public:
  static constexpr size_t kDefaultMaxLineLength = 16384;

  explicit TLineReader(TByteStream& stream, size_t maxLineLength = kDefaultMaxLineLength)
      : stream_(stream), maxLineLength_(maxLineLength) {}

  // The next line without its line feed and without a carriage return right
  // before it. A line longer than the limit fails as soon as that is certain,
  // without waiting for its end (ENetFailure); so does a connection that ends,
  // even in the middle of a line.
  std::string ReadLine() { return std::string(ReadLineView()); }
  // The same as a view into the reader's buffer, valid until the next read:
  // for lines copied on at once, without a block of their own.
  std::string_view ReadLineView();

  // Exactly n bytes (an IMAP literal), whatever they hold; a connection that
  // ends before fails (ENetFailure).
  std::string ReadBytes(size_t n);

  // Bytes received but not yet returned as lines.
  size_t Buffered() const { return buf_.size() - pos_; }
  // True when the bytes received hold a line that is just "." (the end of a
  // multi-line answer): reading up to it will not wait for the network.
  bool BufferedHasDotLine() const;

  size_t MaxLineLength() const { return maxLineLength_; }
  void SetMaxLineLength(size_t n) { maxLineLength_ = n; }

  // From now on a ReadLine that has to wait for more data after `deadline`
  // fails (EAnswerBound(kAnswerTimeout)): the read time-out alone never ends
  // a server that keeps sending a little. No deadline until one is set.
  using TClock = std::chrono::steady_clock;
  void SetDeadline(TClock::time_point deadline) { deadline_ = deadline; }
  void ClearDeadline() { deadline_ = TClock::time_point::max(); }

 private:
  void Fill();

  TByteStream& stream_;
  size_t maxLineLength_;
  std::string buf_;
  size_t pos_ = 0;  // start of the unread bytes in buf_
  TClock::time_point deadline_ = TClock::time_point::max();
};

// Text of the failure for a line over the limit.
inline constexpr const char* kLineTooLong = "Maximum line length exceeded";
// Text of the failure for an answer that takes longer than allowed.
inline constexpr const char* kAnswerTimeout = "The server's answer took too long";

}  // namespace qnb
