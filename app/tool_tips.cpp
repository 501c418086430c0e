#include "app/tool_tips.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

namespace pictovance {

QString ShownToolTip(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
  return shown;
}

void ToolTips::Watch(QWidget* window) {
  window->installEventFilter(this);
  for (QWidget* widget : window->findChildren<QWidget*>()) widget->installEventFilter(this);
}

bool ToolTips::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  const QString text = widget->toolTip();
  if (!text.contains(QStringLiteral("&&"))) return false;  // Qt shows it as it is
  const auto* help = static_cast<QHelpEvent*>(event);
  QToolTip::showText(help->globalPos(), ShownToolTip(text), widget, QRect(), widget->toolTipDuration());
  return true;
}

}  // namespace pictovance
