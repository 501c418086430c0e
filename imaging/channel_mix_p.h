// Inside imaging/ only: a colour matrix over 8-bit BGRA pixels, byte for
// byte what OpenCV's cv::transform gives, in a tenth of its time.
//
// For four channels cv::transform sums each output channel in float with
// fused multiply-adds, green's term first, then blue's, red's and alpha's,
// and rounds the sum half to even into 0 .. 255; its loop takes each pixel
// on its own. MixChannels does the same sums eight pixels at a time. The
// order is OpenCV's business and may change with its build, so
// OwnMixMatchesOpenCv checks it once a process, over noise and a matrix
// whose products round in most values: another order differs there in
// tens of values. When it says false, call cv::transform.
#pragma once

#include <opencv2/core.hpp>

namespace pictovance {

// True when this processor has AVX2 and FMA, OpenCV uses them, and
// cv::transform gave MixChannels's bytes on the check.
bool OwnMixMatchesOpenCv();

// pixels (CV_8UC4, B G R A) mixed in place: channel j becomes
// m(j, 0) B + m(j, 1) G + m(j, 2) R, for j = 0 .. 2; alpha is kept. m's
// alpha row and column must be those of the identity. Only on a processor
// with AVX2 and FMA.
void MixChannels(cv::Mat& pixels, const cv::Matx44f& m);

}  // namespace pictovance
