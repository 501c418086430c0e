// Inside imaging/ only: the Qt and OpenCV views of an image's pixels.
#pragma once

#include <QImage>
#include <opencv2/core.hpp>

#include "imaging/image.h"

namespace pictovance {

// Kind codes returned by BitmapType.
inline constexpr int kKindNone = 0;
inline constexpr int kKindPalette = 1;
inline constexpr int kKindWorking = 4;

struct Image::Bitmap {
  QImage image;  // null, Format_RGB32 (working) or Format_Indexed8 (palette)
};

struct Picture::Data {
  QImage image;
};

// A cv::Mat over the pixels of a working bitmap (4 bytes B, G, R, 255 per
// pixel), no copy. The image must stay alive and unresized while it is used.
inline cv::Mat WrapPixels(QImage& image) {
  return cv::Mat(image.height(), image.width(), CV_8UC4, image.bits(),
                 static_cast<size_t>(image.bytesPerLine()));
}
inline cv::Mat WrapConstPixels(const QImage& image) {
  return cv::Mat(image.height(), image.width(), CV_8UC4, const_cast<uchar*>(image.constBits()),
                 static_cast<size_t>(image.bytesPerLine()));
}

// A new working bitmap of the given size, its pixels not yet set. Throws
// ImageError for a size below 1 x 1 or when the memory cannot be had.
QImage NewWorkingImage(int width, int height);

// image as a working bitmap (Format_RGB32), the pixels Qt's conversion
// gives; a big palette bitmap is converted on every picture thread. A null
// image when the memory cannot be had.
QImage ToWorkingFormat(const QImage& image) noexcept;

// Makes image a working bitmap, the pixels those of ToWorkingFormat. A
// palette bitmap that alone holds rows with a working pixel's room for
// each index (one reduced in place) turns back in the same memory, each
// row from its right end, so every index is read before a pixel is
// written over it. False, image unchanged, when the memory cannot be had.
bool MakeWorkingFormat(QImage& image) noexcept;

// The working bitmap of image, converting a palette bitmap first, detached
// from any Picture that shares it.
QImage& WorkingImage(Image& image);

}  // namespace pictovance
