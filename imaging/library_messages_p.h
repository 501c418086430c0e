// Inside imaging/ only: what libraries say while a picture is read.
//
// libpng, libtiff and libjpeg warnings, the image plugins' and the SVG
// renderer's notes, Qt's allocation-limit warning and the offscreen
// platform's start-up notes all reach Qt's message handler. While a
// LibraryMessages object lives on a thread, what that thread logs is kept in
// it instead of reaching stderr, so that a refusal is one line in the
// program's own words, which may quote what was caught; what other threads
// log passes on as before.
//
// What it does not promise: to catch what a library writes to stderr by
// itself, past Qt (none of the decoders reached here does so).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictovance {

struct CaughtMessage {
  std::string category;  // Qt's logging category, "default" for plain qWarning
  std::string text;
};

class LibraryMessages {
 public:
  // Catches this thread's messages from now on; objects may nest, the
  // innermost catches.
  LibraryMessages();
  ~LibraryMessages();
  LibraryMessages(const LibraryMessages&) = delete;
  LibraryMessages& operator=(const LibraryMessages&) = delete;

  const std::vector<CaughtMessage>& Caught() const noexcept { return m_caught; }
  // The first message caught, as a short readable clause for a refusal
  // ("libpng error: IDAT: CRC error"), or empty.
  std::string First() const;

 private:
  friend void KeepMessage(LibraryMessages& catcher, CaughtMessage message);
  LibraryMessages* m_outer;
  std::vector<CaughtMessage> m_caught;
};

}  // namespace pictovance
