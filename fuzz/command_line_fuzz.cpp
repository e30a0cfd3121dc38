// Process command lines as "/proc" hands them out: any bytes, any length.
// The first two bytes choose where the program name and argument to look
// for are cut from the data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "system/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    size_t nameLength = data[0] % 16, argLength = data[1] % 16;
    data += 2;
    size -= 2;
    if (nameLength + argLength > size) return 0;
    std::string name(reinterpret_cast<const char *>(data), nameLength);
    std::string arg(reinterpret_cast<const char *>(data + nameLength), argLength);
    data += nameLength + argLength;
    size -= nameLength + argLength;
    zq::system::CommandLine line;
    if (!zq::system::parse_command_line(reinterpret_cast<const char *>(data), size, &line))
        return 0;
    if (std::strlen(line.text) >= sizeof line.text || line.program().size() > sizeof line.raw)
        __builtin_trap();
    (void)zq::system::command_matches(line, name.c_str(), arg.c_str());
    (void)zq::system::command_matches(line, name.c_str(), nullptr);
    return 0;
}
