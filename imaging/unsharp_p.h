// Inside imaging/ only: FocusRestoration's unsharp mask over 8-bit BGRA
// pixels, byte for byte what OpenCV's GaussianBlur and addWeighted give,
// in about a fifth of their time, in place.
//
// For 8-bit pixels OpenCV's Gaussian works in whole numbers: its 1-D
// kernel k is in 256ths (summing to 256), each row is summed first across
// (kept exact in 16 bits), then those sums down, and the total T rounded
// as (T + 2^15) >> 16. As no step rounds between the two passes, the
// order does not matter: RestoreFocus sums down first, on bytes, sixteen
// values to an instruction, then across. addWeighted(in, 2.5, soft, -1.5)
// is exact in float (each term a multiple of 1/2) and rounds half to even,
// so the mask is (5 in - 3 soft) / 2 rounded half to even, in 16 bits.
//
// The kernel is OpenCV's own, read back from a blurred impulse, and the
// whole filter is checked once a process against OpenCV on noise
// (OwnUnsharpMatchesOpenCv). When it says false, call OpenCV.
#pragma once

#include <opencv2/core.hpp>

namespace pictovance {

// The Gaussian's standard deviation in pixels and the mask's amount:
// in + kFocusAmount x (in - Gaussian(in)).
constexpr double kFocusSigma = 2.0;
constexpr double kFocusAmount = 1.5;

// True when this processor has AVX2, OpenCV's kernel fits the 16-bit
// sums, and OpenCV gave RestoreFocus's bytes on the check.
bool OwnUnsharpMatchesOpenCv();

// pixels (CV_8UC4) sharpened in place by the mask above, the border
// repeated outward, each alpha byte set to 255, on up to threads threads.
// Only where OwnUnsharpMatchesOpenCv() says true.
void RestoreFocus(cv::Mat& pixels, int threads);

}  // namespace pictovance
