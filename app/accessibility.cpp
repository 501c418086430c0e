#include "app/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>
#include <utility>

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

// A row of dots: the status line's progress.
bool IsProgress(const QString& text) {
  return !text.isEmpty() && text.count(QLatin1Char('.')) == text.size();
}

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
        if (line->text().isEmpty()) return QStringLiteral("Status");
        // The falling dots are progress; read out, they would drown the
        // message that follows.
        if (IsProgress(line->text())) return QStringLiteral("Status: working");
        return QStringLiteral("Status: ") + line->text();
      case QAccessible::Description:
        return line->toolTip().isEmpty() ? QStringLiteral("Progress and the outcome of the last command")
                                         : line->toolTip();
      default:
        return QAccessibleWidget::text(kind);
    }
  }
};

// picPreview as assistive technology sees it: a picture, not a bare frame,
// with the two things the mouse does on it: Press paints (a left click),
// ShowMenu opens the window's menu (a right click).
class PreviewAccessible : public QAccessibleWidget {
 public:
  explicit PreviewAccessible(QWidget* preview) : QAccessibleWidget(preview, QAccessible::Graphic) {}

  QStringList actionNames() const override {
    return QAccessibleWidget::actionNames() << pressAction() << showMenuAction();
  }

  void doAction(const QString& name) override {
    QWidget* preview = widget();
    const QPoint centre = preview->rect().center();
    if (name == pressAction()) {
      QMouseEvent release(QEvent::MouseButtonRelease, centre, preview->mapToGlobal(centre), Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(preview, &release);
    } else if (name == showMenuAction()) {
      QContextMenuEvent request(QContextMenuEvent::Keyboard, centre, preview->mapToGlobal(centre));
      QCoreApplication::sendEvent(preview, &request);
    } else {
      QAccessibleWidget::doAction(name);
    }
  }
};

QAccessibleInterface* WindowFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("pictovance::PreviewArea") && object->isWidgetType()) {
    return new PreviewAccessible(static_cast<QWidget*>(object));
  }
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
  // First: naming a control makes its interface (to announce the name).
  static const bool installed = [] {
    QAccessible::installFactory(&WindowFactory);
    return true;
  }();
  (void)installed;
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

  // An interface made before the factory was there (or before the status
  // line had its name) is a plain one: drop it, so that the next query
  // reaches the factory.
  const std::pair<const char*, QAccessible::Role> own[] = {{kStatusLineName, QAccessible::StatusBar},
                                                           {"picPreview", QAccessible::Graphic}};
  for (const auto& [name, role] : own) {
    auto* control = window->findChild<QWidget*>(QString::fromLatin1(name));
    QAccessibleInterface* known =
        control != nullptr ? QAccessible::queryAccessibleInterface(control) : nullptr;
    if (known != nullptr && known->role() != role) {
      QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
    }
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
  // A label announces a new text itself; the same message again is
  // announced here, as the answer to a new command. Progress is not.
  const bool repeated = statusLine->text() == text;
  statusLine->setText(text);
  if (text.isEmpty() || IsProgress(text)) return;
  if (repeated) Announce(statusLine, QAccessible::NameChanged);
  Announce(statusLine, QAccessible::DescriptionChanged);
}

}  // namespace pictovance
