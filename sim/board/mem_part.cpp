// Physical memory of a board, test-facing: input levels, physical words and
// pad registers as a program reads them.
#include <fcntl.h>
#include <json-c/json.h>
#include <unistd.h>

#include <string>

#include "emul/board.h"
#include "emul/json_util.h"
#include "emul/mem.h"
#include "zq_reg.h"

namespace zq::sim {

bool set_gpio_input(const std::string &dir, unsigned gpio, int level) {
    return edit_board(dir, [&](json_object *root) {
        json_object *inputs =
            json_member(json_member(root, "gpio", json_type_object), "inputs", json_type_object);
        json_object_object_add(inputs, std::to_string(gpio).c_str(),
                               json_object_new_int(level ? 1 : 0));
    });
}

uint32_t read_phys_word(const std::string &dir, uint32_t address) {
    uint32_t word = 0;
    int fd = ::open((dir + "/dev/mem").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        (void)!::pread(fd, &word, sizeof word, static_cast<off_t>(address));
        ::close(fd);
    }
    return word;
}

bool write_phys_word(const std::string &dir, uint32_t address, uint32_t value) {
    int fd = ::open((dir + "/dev/mem").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::pwrite(fd, &value, sizeof value, address) == static_cast<ssize_t>(sizeof value);
    ::close(fd);
    return ok;
}

uint32_t read_gpio_pad(const std::string &dir, unsigned gpio) {
    uint32_t word = read_phys_word(dir, ZQ_GPIO_REG_BASE + 4u * gpio);
    json_object *board = json_load_file(dir + "/" + kBoardFile, nullptr);
    int level = input_level(board, gpio);
    json_object_put(board);
    return pad_reads(word, level);
}

}  // namespace zq::sim
