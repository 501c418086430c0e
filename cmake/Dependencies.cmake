# Finds the libraries the program is built on and wraps each in an
# imported target, so the folders link them by name.

find_package(Qt6 REQUIRED COMPONENTS Core Gui)

# Debian's split OpenCV packages ship no CMake or pkg-config files for the
# core and imgproc modules alone, so the headers and libraries are found
# directly.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
find_library(OPENCV_IMGPROC_LIBRARY opencv_imgproc REQUIRED)
add_library(pv_opencv INTERFACE)
target_include_directories(pv_opencv SYSTEM INTERFACE "${OPENCV_INCLUDE_DIR}")
target_link_libraries(pv_opencv INTERFACE "${OPENCV_IMGPROC_LIBRARY}" "${OPENCV_CORE_LIBRARY}")
add_library(Pictovance::OpenCV ALIAS pv_opencv)

find_path(IMAGEQUANT_INCLUDE_DIR libimagequant.h REQUIRED)
find_library(IMAGEQUANT_LIBRARY NAMES imagequant REQUIRED)
add_library(pv_imagequant INTERFACE)
target_include_directories(pv_imagequant SYSTEM INTERFACE "${IMAGEQUANT_INCLUDE_DIR}")
target_link_libraries(pv_imagequant INTERFACE "${IMAGEQUANT_LIBRARY}")
add_library(Pictovance::ImageQuant ALIAS pv_imagequant)

# PNG files are compressed with libdeflate (zlib streams huge ones).
find_package(ZLIB REQUIRED)
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
find_library(LIBDEFLATE_LIBRARY NAMES deflate REQUIRED)
add_library(pv_libdeflate INTERFACE)
target_include_directories(pv_libdeflate SYSTEM INTERFACE "${LIBDEFLATE_INCLUDE_DIR}")
target_link_libraries(pv_libdeflate INTERFACE "${LIBDEFLATE_LIBRARY}")
add_library(Pictovance::Deflate ALIAS pv_libdeflate)

if(PICTOVANCE_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(PICTOVANCE_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
if(PICTOVANCE_BUILD_BENCH OR PICTOVANCE_BUILD_TESTS)
  # libpng with its default settings is the yardstick of the save benchmark,
  # and the tests' second decoder of the encoder's files.
  find_package(PNG REQUIRED)
endif()
