// Files dropped on the window: which parts of the window take a drop, and
// the list of files a drop carries.
//
// Text boxes would insert a dropped text and the check box would pass a drop
// on to the window behind it, so every watched widget has its drag events
// taken over here: a loading target accepts every drag (as a copy, so that a
// file manager never deletes what was dragged) and hands the drop's files on;
// a refusing target turns every drag away.
#pragma once

#include <QObject>
#include <QPoint>
#include <QSet>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

namespace pictovance {

using DroppedFileList = std::optional<std::vector<std::string>>;

// The local paths of the drag's file URLs in the drag's order; nullopt when
// it carries no local file.
DroppedFileList DroppedFiles(const QMimeData* data);

class DropTargets : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const DroppedFileList&)>;

  DropTargets(Handler handler, QObject* parent);

  // Drops on target (and on its viewport, for a scroll area) load files.
  void Load(QWidget* target);
  // Drags over target are refused and not passed on to its parent.
  void Refuse(QWidget* target);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Watch(QWidget* target, QSet<const QObject*>& set);
  bool OverRefusingChild(const QWidget* target, QPoint pos) const;

  Handler m_handler;
  QSet<const QObject*> m_loading;
  QSet<const QObject*> m_refusing;
};

}  // namespace pictovance
