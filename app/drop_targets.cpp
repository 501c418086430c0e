#include "app/drop_targets.h"

#include <QAbstractScrollArea>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace pictovance {

DroppedFileList DroppedFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  std::vector<std::string> files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    // A name is bytes: decoded from the URL's own escapes, a name that is
    // not UTF-8 keeps its bytes (toLocalFile would turn them into U+FFFD).
    if (url.host().isEmpty() || url.host() == QLatin1String("localhost")) {
      files.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    } else {
      files.push_back(url.toLocalFile().toStdString());
    }
  }
  if (files.empty()) return std::nullopt;
  return files;
}

DropTargets::DropTargets(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler)) {}

void DropTargets::Load(QWidget* target) { Watch(target, m_loading); }

void DropTargets::Refuse(QWidget* target) { Watch(target, m_refusing); }

void DropTargets::Watch(QWidget* target, QSet<const QObject*>& set) {
  // A widget that does not accept drops would let them fall through to the
  // window behind it; the refusing ones must see the drag to turn it away.
  target->setAcceptDrops(true);
  target->installEventFilter(this);
  set.insert(target);
  if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) {
    area->viewport()->setAcceptDrops(true);
    area->viewport()->installEventFilter(this);
    set.insert(area->viewport());
  }
}

namespace {

// Copy when the source allows it: accepting a proposed move would have a
// file manager delete the dragged files.
void AcceptAsCopy(QDropEvent* event) {
  if (event->possibleActions() & Qt::CopyAction) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->acceptProposedAction();
  }
}

}  // namespace

bool DropTargets::OverRefusingChild(const QWidget* target, QPoint pos) const {
  for (const QWidget* widget = target->childAt(pos); widget != nullptr && widget != target;
       widget = widget->parentWidget()) {
    if (m_refusing.contains(widget)) return true;
  }
  return false;
}

bool DropTargets::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  if (m_refusing.contains(watched)) {
    event->ignore();
    return true;
  }
  if (!m_loading.contains(watched)) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  // A drag that a refusing child turned away is offered to its parents next;
  // the window behind the check box must not take it either.
  if (OverRefusingChild(static_cast<QWidget*>(watched), drop->position().toPoint())) {
    event->ignore();
    return true;
  }
  AcceptAsCopy(drop);
  if (type == QEvent::Drop) m_handler(DroppedFiles(drop->mimeData()));
  return true;
}

}  // namespace pictovance
