#include "tools/render/caught_stderr.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "imaging/source_file.h"
#include "tools/render/batch.h"

namespace pictovance::render {

namespace {

// The first line is all a refusal quotes.
constexpr std::size_t kMaxQuoted = 160;

}  // namespace

CaughtStderr::CaughtStderr() {
  std::fflush(stderr);
  m_caught = ::memfd_create("pictovance-render-stderr", MFD_CLOEXEC);
  if (m_caught < 0) return;
  m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (m_saved < 0 || ::dup2(m_caught, STDERR_FILENO) < 0) {
    if (m_saved >= 0) ::close(m_saved);
    ::close(m_caught);
    m_saved = m_caught = -1;
    return;
  }
  // A stop signal's line must still reach the real stderr.
  StopLineGoesTo(m_saved);
}

CaughtStderr::~CaughtStderr() { Release(); }

std::string CaughtStderr::Release() {
  if (m_saved < 0) return {};
  std::fflush(stderr);
  ::dup2(m_saved, STDERR_FILENO);
  StopLineGoesTo(STDERR_FILENO);
  ::close(m_saved);
  m_saved = -1;
  char text[kMaxQuoted + 1];
  const ssize_t got = ::pread(m_caught, text, kMaxQuoted, 0);
  ::close(m_caught);
  m_caught = -1;
  if (got <= 0) return {};
  std::string line(text, static_cast<std::size_t>(got));
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '.' || line.back() == '\r')) line.pop_back();
  return ReadableName(line);
}

}  // namespace pictovance::render
