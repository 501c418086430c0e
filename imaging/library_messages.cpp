#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "imaging/library_messages_p.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

thread_local LibraryMessages* t_catcher = nullptr;
std::atomic<QtMessageHandler> g_passOn{nullptr};

// A caught message is kept while decoding, and there are few; this bounds
// what a file that makes a library warn on every row can cost.
constexpr std::size_t kMaxKept = 16;
constexpr std::size_t kMaxClause = 160;

void Route(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (t_catcher != nullptr && type != QtFatalMsg) {
    KeepMessage(*t_catcher,
                {context.category != nullptr ? context.category : "default", message.toStdString()});
    return;
  }
  if (const QtMessageHandler next = g_passOn.load()) {
    next(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

// Installed once and kept: installing and removing a handler around every
// read would race with other threads doing the same.
void InstallRoute() {
  static std::once_flag once;
  std::call_once(once, [] { g_passOn = qInstallMessageHandler(Route); });
}

}  // namespace

void KeepMessage(LibraryMessages& catcher, CaughtMessage message) {
  if (catcher.m_caught.size() < kMaxKept) catcher.m_caught.push_back(std::move(message));
}

LibraryMessages::LibraryMessages() : m_outer(t_catcher) {
  InstallRoute();
  t_catcher = this;
}

LibraryMessages::~LibraryMessages() { t_catcher = m_outer; }

std::string LibraryMessages::First() const {
  if (m_caught.empty()) return {};
  std::string text = m_caught.front().text;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  if (text.size() > kMaxClause) text = text.substr(0, kMaxClause) + "...";
  return ReadableName(text);
}

}  // namespace pictovance
