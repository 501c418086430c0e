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
//
// On a screen with more than one device pixel per logical pixel, the area
// shows the same view composed anew from the full picture at the screen's
// pixel density (app/sharp_preview.h), made on the first paint at that
// density.
class PreviewArea : public QFrame {
  Q_OBJECT

 public:
  explicit PreviewArea(QWidget* parent = nullptr);

  // A null picture clears the area to its background. full is the picture
  // the preview was composed from, and background the colour around it;
  // without it, the preview is shown as it is at any density.
  void SetPicture(const Picture& picture, const Picture& full = Picture(), Colour background = 0);
  // The preview as the core composed it, in logical pixels.
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
  Picture m_full;
  Colour m_background = 0;
  QImage m_sharp;  // m_full composed at the density of the last paint
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
