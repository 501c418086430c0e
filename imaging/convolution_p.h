// Inside imaging/ only: 3 x 3 convolution of 8-bit, four-channel pixels,
// byte for byte what OpenCV's filter2D gives, about three times as fast.
//
// filter2D with a 3 x 3 float kernel sums each value in float, tap by tap
// in row-major order (taps of weight 0 left out), on processors with AVX2
// and FMA adding each product with one rounding (a fused multiply-add), and
// rounds the sum half to even into 0 .. 255. It widens each source byte to
// float again for every tap, nine times over. Convolve3x3 widens each row
// once and then does the same fused sums in the same order. It also works
// in place, band by band, with three widened rows a band, where filter2D
// needs a separate destination.
//
// Bit-for-bit agreement rests on OpenCV's arithmetic, which depends on its
// build and on the processor, so OwnConvolutionMatchesOpenCv checks it once
// a process, on a kernel whose products round in most values, over noise:
// any other order or rounding differs there in tens of values. When it
// says false, call filter2D.
#pragma once

#include <opencv2/core.hpp>

namespace pictovance {

// True when this processor has AVX2 and FMA, OpenCV uses them, and OpenCV's
// filter2D gave Convolve3x3's bytes on the check.
bool OwnConvolutionMatchesOpenCv();

// pixels (CV_8UC4) filtered in place with kernel (3 x 3, CV_32F, anchor at
// its centre), the border repeated outward, each alpha byte set to 255,
// on up to threads threads. Only on a processor with AVX2 and FMA.
void Convolve3x3(cv::Mat& pixels, const cv::Mat& kernel, int threads);

}  // namespace pictovance
