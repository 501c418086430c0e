// Tooltips as they are shown. A control's tooltip text keeps its design
// ("Save current image && generate new one"), written as for a caption,
// where "&&" stands for one "&"; a tooltip shows its text as it is, so the
// reader would see both. This shows every tooltip of the watched widgets
// with each "&&" as one "&".
//
// What it does not promise: rich-text tooltips (none of the window's is).
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace pictovance {

// A tooltip's text as the user reads it.
QString ShownToolTip(const QString& text);

class ToolTips : public QObject {
  Q_OBJECT

 public:
  explicit ToolTips(QObject* parent) : QObject(parent) {}
  // Shows the tooltips of window and of every widget inside it.
  void Watch(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace pictovance
