#include "app/widgets.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/sharp_preview.h"
#include "imaging/qt_bridge.h"

namespace pictovance {

PreviewArea::PreviewArea(QWidget* parent) : QFrame(parent) {
  // WinPanel is always two pixels wide whatever the style, so the inner
  // size does not depend on the theme.
  setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
  setAutoFillBackground(true);
}

void PreviewArea::SetPicture(const Picture& picture, const Picture& full, Colour background) {
  m_picture = picture;
  m_image = picture.IsNull() ? QImage() : ToQImage(picture);
  m_full = picture.IsNull() ? Picture() : full;
  m_background = background;
  m_sharp = QImage();
  update();
}

void PreviewArea::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (m_image.isNull()) return;
  QPainter painter(this);
  const QRect inner = contentsRect();
  painter.setClipRect(inner);
  const qreal ratio = devicePixelRatioF();
  if (ratio != 1.0 && !m_full.IsNull()) {
    if (m_sharp.isNull() || m_sharp.devicePixelRatio() != ratio) {
      try {
        m_sharp = ComposeSharpPreview(m_full, inner.size(), ratio, m_background);
      } catch (const ImageError&) {
        m_full = Picture();  // no memory for it: the logical preview will do
      }
    }
    if (!m_sharp.isNull()) {
      painter.drawImage(inner.topLeft(), m_sharp);
      return;
    }
  }
  painter.drawImage(inner.topLeft(), m_image);
}

// The press is taken so that the release comes back here, wherever the
// mouse is let go.
void PreviewArea::mousePressEvent(QMouseEvent* event) { event->accept(); }

void PreviewArea::mouseReleaseEvent(QMouseEvent* event) {
  emit Released(event->button());
  event->accept();
}

void ReleaseLabel::mousePressEvent(QMouseEvent* event) { event->accept(); }

void ReleaseLabel::mouseReleaseEvent(QMouseEvent* event) {
  emit Released(event->button());
  event->accept();
}

}  // namespace pictovance
