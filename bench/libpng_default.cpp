// The yardstick of the big-picture benchmark (bench/big_picture.sh): libpng
// encoding a picture with all its defaults (zlib's default level, every row
// filter tried on every row), timed on its own.
//
//   libpng_default PICTURE.png [OUT.png]
//
// Reads PICTURE.png (any kind libpng reads) into 8-bit RGB rows, then
// encodes those rows once with a fresh libpng writer into memory, writing
// the file to OUT.png when given. Prints "seconds bytes" of the encode
// alone: the reading is not timed.
#include <png.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: libpng_default PICTURE.png [OUT.png]\n");
    return 2;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, argv[1]) == 0) {
    std::fprintf(stderr, "libpng_default: %s\n", image.message);
    return 1;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rows(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, rows.data(), 0, nullptr) == 0) {
    std::fprintf(stderr, "libpng_default: %s\n", image.message);
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "libpng_default: the encode failed\n");
    return 1;
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::size_t stride = std::size_t{image.width} * 3;
  for (png_uint_32 y = 0; y < image.height; ++y) png_write_row(png, rows.data() + stride * y);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  if (argc > 2)
    std::ofstream(argv[2], std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  std::printf("%.3f %zu\n", seconds, out.size());
  return 0;
}
