// Pictures as PNG files, written through libpng where the build found it.
#include <cstdio>

#include "emul/picture.h"

#if ZQ_HAVE_PNG
#include <png.h>
#endif

namespace zq::sim {

#if ZQ_HAVE_PNG
namespace {

// libpng reports its failures by a long jump back into this function, which
// therefore keeps no state of its own across the jump.
bool write_rows(png_structp png, png_infop info, std::FILE *file, const uint8_t *rgb,
                uint32_t width, uint32_t height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, rgb + size_t{y} * width * 3);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool write_rgb_png(const std::string &path, const std::vector<uint8_t> &rgb, uint32_t width,
                   uint32_t height, std::string *error) {
    if (rgb.size() < size_t{width} * height * 3) {
        *error = path + ": the picture is smaller than its size";
        return false;
    }
    std::FILE *file = std::fopen(path.c_str(), "wbe");
    if (!file) {
        *error = path + ": cannot be written";
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool done = info && write_rows(png, info, file, rgb.data(), width, height);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) done = false;
    if (!done) *error = path + ": cannot be written";
    return done;
}
bool read_rgb_png(const std::string &path, uint32_t maxSide, std::vector<uint8_t> *rgb,
                  uint32_t *width, uint32_t *height, std::string *error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    auto refuse = [&](const std::string &why) {
        png_image_free(&image);
        *error = path + ": " + why;
        return false;
    };
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return refuse(std::string("not a readable PNG picture (") + image.message + ")");
    if (image.width == 0 || image.height == 0 || image.width > maxSide || image.height > maxSide)
        return refuse(std::to_string(image.width) + "x" + std::to_string(image.height) +
                      " is larger than " + std::to_string(maxSide) + " on a side");
    image.format = PNG_FORMAT_RGB;
    rgb->resize(PNG_IMAGE_SIZE(image));
    const png_color black{0, 0, 0};
    if (!png_image_finish_read(&image, &black, rgb->data(), 0, nullptr))
        return refuse(std::string("a broken PNG picture (") + image.message + ")");
    *width = image.width;
    *height = image.height;
    return true;
}
#else
bool read_rgb_png(const std::string &, uint32_t, std::vector<uint8_t> *, uint32_t *, uint32_t *,
                  std::string *error) {
    *error = "built without PNG support";
    return false;
}

bool write_rgb_png(const std::string &, const std::vector<uint8_t> &, uint32_t, uint32_t,
                   std::string *error) {
    *error = "built without PNG support";
    return false;
}
#endif

}  // namespace zq::sim
