// The video input channels' picture sources (board/vi_sources.h).
#include "board/vi_sources.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "emul/board.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "emul/picture.h"
#include "emul/y4m.h"

namespace zq::sim {
namespace {

// The one-frame video of a PNG picture, or false with a reason.
bool picture_video(const std::string &file, std::string *video, std::string *shown,
                   std::string *error) {
    std::vector<uint8_t> rgb;
    uint32_t width = 0, height = 0;
    if (!read_rgb_png(file, kSourceMaxSide, &rgb, &width, &height, error)) return false;
    std::string planes(i420_size(width, height), '\0');
    rgb_to_i420(rgb.data(), width, height, reinterpret_cast<uint8_t *>(planes.data()));
    *video = y4m_header(width, height, 1) + "FRAME\n" + planes;
    *shown = std::to_string(width) + "x" + std::to_string(height) + " picture";
    return true;
}

bool store_source(const std::string &dir, int channel, const std::string &source) {
    return edit_board(dir, [&](json_object *root) {
        json_object *vi = json_member(root, "vi", json_type_object);
        json_object *sources = json_member(vi, "sources", json_type_array);
        while (json_object_array_length(sources) <= static_cast<size_t>(channel))
            json_object_array_add(sources, json_object_new_string(""));
        json_object_array_put_idx(sources, static_cast<size_t>(channel),
                                  json_object_new_string(source.c_str()));
    });
}

// The channel's source as board.json has it: "", a copy in the board
// directory (a relative path) or a video's absolute path.
std::string stored_source(const std::string &dir, int channel) {
    json_object *root = json_load_file(dir + "/" + kBoardFile, nullptr);
    json_object *source = json_at(json_get(json_get(root, "vi"), "sources"), size_t(channel));
    std::string text =
        json_object_is_type(source, json_type_string) ? json_object_get_string(source) : "";
    json_object_put(root);
    return text;
}

std::string first_bytes(const std::string &file, size_t count) {
    std::string bytes(count, '\0');
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd < 0 ? -1 : ::read(fd, bytes.data(), count);
    if (fd >= 0) ::close(fd);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

}  // namespace

bool set_vi_source(const std::string &dir, int channel, const std::string &file, std::string *shown,
                   std::string *error) {
    const std::string previous = stored_source(dir, channel), magic = first_bytes(file, 9);
    std::string source, copy;
    if (file == "bars") {
        *shown = "the colour bars";
    } else if (magic.rfind("\x89PNG", 0) == 0) {
        std::string video;
        // A name of its own each time: a process showing the old copy goes on
        // reading it until it sees the new name.
        copy = "vi-source-" + std::to_string(channel) + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".y4m";
        if (!picture_video(file, &video, shown, error) ||
            !write_file_whole(dir + "/" + copy, video, 0644, error))
            return false;
        source = copy;
        *shown = file + " (" + *shown + ")";
    } else if (magic == "YUV4MPEG2") {
        Y4mReader reader;
        if (!reader.open(file, error)) return false;
        source = std::filesystem::absolute(file).lexically_normal().string();
        *shown = source + " (" + std::to_string(reader.width()) + "x" +
                 std::to_string(reader.height()) + " video of " + std::to_string(reader.frames()) +
                 " frames)";
    } else {
        *error = file + ": neither a PNG picture nor a YUV4MPEG2 video, or it cannot be read";
        return false;
    }
    if (!store_source(dir, channel, source)) {
        if (!copy.empty()) ::unlink((dir + "/" + copy).c_str());
        *error = dir + ": board.json cannot be changed";
        return false;
    }
    if (previous.rfind("vi-source-", 0) == 0 && previous.find('/') == std::string::npos &&
        previous != source)
        ::unlink((dir + "/" + previous).c_str());
    return true;
}

}  // namespace zq::sim
