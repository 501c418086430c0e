// What libraries write straight to the process's stderr while the renderer
// loads its sources: libpng's errors and libtiff's warnings bypass Qt's
// message handler (which imaging/ already catches) and go to descriptor 2
// themselves. While a CaughtStderr lives, descriptor 2 points into an
// anonymous file in memory instead, so that a refusal is the renderer's one
// line, which may quote the first line caught.
//
// What it does not promise: to pass on what other threads write meanwhile
// (the renderer loads its sources before it starts any), or to keep a
// sanitizer's report of a crash inside a decoder (it lands in the caught
// file).
#pragma once

#include <string>

namespace pictovance::render {

class CaughtStderr {
 public:
  // Starts catching; does nothing when stderr cannot be duplicated.
  CaughtStderr();
  // Puts stderr back if Release has not.
  ~CaughtStderr();
  CaughtStderr(const CaughtStderr&) = delete;
  CaughtStderr& operator=(const CaughtStderr&) = delete;

  // Puts stderr back and returns the first line caught, readable (see
  // ReadableName), or an empty string.
  std::string Release();

 private:
  int m_saved = -1;   // the real stderr
  int m_caught = -1;  // the memory file
};

}  // namespace pictovance::render
