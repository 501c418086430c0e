// The progress bar and the summary line of a batch run, on one stream
// (stderr): the bar is redrawn in place with a carriage return, at most ten
// times a second, and cleared before the summary is written.
//
// What it does not promise: a bar that fits a narrow terminal (it takes
// about 70 columns), or a meaningful time left before the first pictures
// are done.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pictovance::render {

// "[#######.............]  120/400  61.5/s  0:05 left"
std::string ProgressBar(std::int64_t done, std::int64_t total, double seconds);

// "400 pictures written in 6.5 s (61.5 per second)", or with stopSignal
// "interrupted: 57 of 400 pictures written in ...".
std::string SummaryLine(std::int64_t written, std::int64_t total, double seconds, bool interrupted);

class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws nothing at all unless enabled.
  ProgressMeter(std::FILE* stream, bool enabled, std::int64_t total);

  // Redraws the bar when a tenth of a second has passed since the last
  // drawing (or always when force is set).
  void Update(std::int64_t done, bool force = false);
  // Clears the bar and writes the summary line.
  void Finish(std::int64_t written, bool interrupted);

 private:
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }

  std::FILE* m_stream;
  bool m_enabled;
  std::int64_t m_total;
  Clock::time_point m_start;
  Clock::time_point m_lastDraw;
  bool m_drawn = false;
  std::size_t m_drawnLength = 0;
};

}  // namespace pictovance::render
