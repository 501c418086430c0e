// Two small widgets of the main window that report mouse-button releases:
// the preview area, which also shows the preview picture one to one, and
// the size preset label.
#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>

#include "imaging/image.h"

namespace pictovance {

// picPreview: a sunken 2-pixel Windows panel around an inner area that shows
// the picture handed to it at its top-left corner, pixel for pixel, over the
// widget's own background. Its inner size (contentsRect) is what the core
// reads as the preview's scale width and height.
class PreviewArea : public QFrame {
  Q_OBJECT

 public:
  explicit PreviewArea(QWidget* parent = nullptr);

  // A null picture clears the area to its background.
  void SetPicture(const Picture& picture);
  const QImage& Shown() const { return m_image; }

 signals:
  void Released(Qt::MouseButton button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  Picture m_picture;  // keeps the pixels alive that m_image shares
  QImage m_image;
};

// lblLW: a plain label that reports which mouse button was released over it.
class ReleaseLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void Released(Qt::MouseButton button);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace pictovance
