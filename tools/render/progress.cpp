#include "tools/render/progress.h"

#include <algorithm>
#include <cmath>

namespace pictovance::render {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Format(const char* format, auto... values) {
  char buffer[160];
  const int n = std::snprintf(buffer, sizeof buffer, format, values...);
  return std::string(buffer, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
}

// "h:mm:ss" or "m:ss".
std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
  const long long h = whole / 3600;
  const long long m = whole / 60 % 60;
  const long long s = whole % 60;
  return h > 0 ? Format("%lld:%02lld:%02lld", h, m, s) : Format("%lld:%02lld", m, s);
}

}  // namespace

std::string ProgressBar(std::int64_t done, std::int64_t total, double seconds) {
  const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  const int filled = std::clamp(static_cast<int>(fraction * kBarWidth), 0, kBarWidth);
  std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
  bar += Format("  %lld/%lld", static_cast<long long>(done), static_cast<long long>(total));
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    bar += Format("  %.1f/s  ", rate) + Duration(static_cast<double>(total - done) / rate) + " left";
  }
  return bar;
}

std::string SummaryLine(std::int64_t written, std::int64_t total, double seconds, bool interrupted) {
  const double rate = seconds > 0 ? static_cast<double>(written) / seconds : 0.0;
  const std::string what =
      interrupted
          ? Format("interrupted: %lld of %lld pictures written", static_cast<long long>(written),
                   static_cast<long long>(total))
          : Format("%lld %s written", static_cast<long long>(written), written == 1 ? "picture" : "pictures");
  return what + Format(" in %.1f s (%.1f per second)", seconds, rate);
}

ProgressMeter::ProgressMeter(std::FILE* stream, bool enabled, std::int64_t total)
    : m_stream(stream), m_enabled(enabled), m_total(total), m_start(Clock::now()), m_lastDraw(m_start) {}

void ProgressMeter::Update(std::int64_t done, bool force) {
  if (!m_enabled) return;
  const auto now = Clock::now();
  if (!force && m_drawn && now - m_lastDraw < kRedrawInterval) return;
  m_lastDraw = now;
  m_drawn = true;
  std::string line = ProgressBar(done, m_total, Elapsed());
  const std::size_t length = line.size();
  // Blanks, not a terminal's escape codes, cover what a longer line left,
  // so a bar written into a log file stays plain text.
  if (length < m_drawnLength) line.append(m_drawnLength - length, ' ');
  m_drawnLength = length;
  std::fprintf(m_stream, "\r%s", line.c_str());
  std::fflush(m_stream);
}

void ProgressMeter::Finish(std::int64_t written, bool interrupted) {
  if (!m_enabled) return;
  if (m_drawn) std::fprintf(m_stream, "\r%s\r", std::string(m_drawnLength, ' ').c_str());
  std::fprintf(m_stream, "pictovance-render: %s\n",
               SummaryLine(written, m_total, Elapsed(), interrupted).c_str());
  std::fflush(m_stream);
}

}  // namespace pictovance::render
