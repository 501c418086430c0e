#include "app/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QWidget>

namespace pictovance {

namespace {

constexpr char kStatusLineName[] = "lblWait";

struct ControlText {
  const char* control;
  const char* name;  // nullptr: the control's own text is its name
  const char* description;
};

// The captions' meaning, and the keys that do the same.
constexpr ControlText kControls[] = {
    {"cmdHLP", "About", "INF: shows or hides the About text in place of the picture"},
    {"txtW", "Width", "Width of new pictures in pixels, taken by Set; 0 lets source pictures decide it"},
    {"txtH", "Height", "Height of new pictures in pixels, taken by Set; 0 lets source pictures decide it"},
    {"cmdRND", "New picture", "RND: paints a new picture (Ctrl+N)"},
    {"cmdSAV", "Save", "SAV: saves the picture as a PNG file and paints the next one (Ctrl+S)"},
    {"cmdDIR", "Open pictures folder", "DIR: opens the folder that Save writes into (Ctrl+D)"},
    {"cmdCLR", "Set size",
     "SET: makes the width and height fields the picture size and forgets the picture and the "
     "source pictures"},
    {"lblFilecnt", nullptr, "How many source pictures new pictures take their colours from"},
    {"lblRes", nullptr, "Size of new pictures; Set changes it"},
    {"lblLW", "Size presets",
     "X: a left click fills in 800 by 400, a right click 0 by 0; Alt+X offers both from the keyboard"},
    {"txtHLP", "About Pictovance", "The program's version and a few words about it"},
    {"chkYOBA", "Finishing pass",
     "YOBA: new pictures get a random finishing pass of line and dot grids, filters and colour reduction"},
};

// lblWait as assistive technology sees it: the window's status bar, named
// by the message it shows, with the whole message (the tooltip of an error)
// as its description.
class StatusLineAccessible : public QAccessibleWidget {
 public:
  explicit StatusLineAccessible(QLabel* line) : QAccessibleWidget(line, QAccessible::StatusBar) {}

  QString text(QAccessible::Text kind) const override {
    const auto* line = static_cast<const QLabel*>(widget());
    switch (kind) {
      case QAccessible::Name:
        return line->text().isEmpty() ? QStringLiteral("Status") : QStringLiteral("Status: ") + line->text();
      case QAccessible::Description:
        return line->toolTip().isEmpty() ? QStringLiteral("Progress and the outcome of the last command")
                                         : line->toolTip();
      default:
        return QAccessibleWidget::text(kind);
    }
  }
};

QAccessibleInterface* StatusLineFactory(const QString&, QObject* object) {
  auto* line = qobject_cast<QLabel*>(object);
  if (line == nullptr || line->objectName() != QLatin1String(kStatusLineName)) return nullptr;
  return new StatusLineAccessible(line);
}

void Announce(QWidget* widget, QAccessible::Event type) {
  QAccessibleEvent event(widget, type);
  QAccessible::updateAccessibility(&event);
}

}  // namespace

void DescribeControls(QWidget* window) {
  window->setAccessibleDescription(QStringLiteral("Paints random abstract pictures"));
  for (const ControlText& entry : kControls) {
    auto* control = window->findChild<QWidget*>(QString::fromLatin1(entry.control));
    if (control == nullptr) continue;
    if (entry.name != nullptr) control->setAccessibleName(QString::fromLatin1(entry.name));
    control->setAccessibleDescription(QString::fromLatin1(entry.description));
  }
  if (auto* preview = window->findChild<QWidget*>(QStringLiteral("picPreview"))) {
    preview->setAccessibleName(QStringLiteral("Picture"));
    preview->setAccessibleDescription(PreviewDescription(false, 0, 0, 0));
  }

  static const bool installed = [] {
    QAccessible::installFactory(&StatusLineFactory);
    return true;
  }();
  (void)installed;
  auto* line = window->findChild<QLabel*>(QString::fromLatin1(kStatusLineName));
  if (line == nullptr) return;
  // An interface made before the line had its name is the plain label's:
  // drop it, so that the next query reaches the factory.
  QAccessibleInterface* known = QAccessible::queryAccessibleInterface(line);
  if (known != nullptr && known->role() != QAccessible::StatusBar) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
  }
}

QString PreviewDescription(bool hasPicture, int width, int height, std::int32_t sources) {
  if (!hasPicture) return QStringLiteral("No picture yet; New picture paints one");
  const QString size = QStringLiteral("%1 by %2 pixels").arg(width).arg(height);
  if (sources <= 0) return QStringLiteral("Picture of %1 in colours from a random palette").arg(size);
  return QStringLiteral("Picture of %1 in colours from %2 source %3")
      .arg(size)
      .arg(sources)
      .arg(sources == 1 ? QStringLiteral("picture") : QStringLiteral("pictures"));
}

void ShowStatusText(QLabel* statusLine, const QString& text) {
  statusLine->setText(text);
  // The dots fall once per loaded file; a reader saying each row would
  // drown the outcome. The same message again is announced again: it is
  // the answer to a new command.
  const bool progress = text.count(QLatin1Char('.')) == text.size();
  if (progress) return;
  Announce(statusLine, QAccessible::NameChanged);
  Announce(statusLine, QAccessible::DescriptionChanged);
}

}  // namespace pictovance
