// "/dev/mem": the board's 32-bit physical address space, with the GPIO pad
// registers as the hardware answers them. Test-facing functions to set a
// GPIO input level and to read or write physical words of a board.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct json_object;

namespace zq::sim {

constexpr const char *kMemDevice = "/dev/mem";

// Refusal rules (refuse_request) with this request number refuse mappings
// of the device: refuse_request(dir, "/dev/mem", kMapRequest).
constexpr unsigned long kMapRequest = 0x6D6D6170;  // "mmap"

// Maps length bytes of the board's physical memory at offset for device
// (open at fd) as the kernel would: a page-aligned range inside 4 GiB, a
// readable descriptor, a read-write one for a shared writable mapping, and
// no refusal rule for kMapRequest; else MAP_FAILED with that errno. Once
// allowed, back makes the mapping. Each mapping made or refused is
// journaled under device.
using PhysBacking = void *(*)(int fd, size_t length, int prot, int flags, off_t offset);
void *map_physical(const char *device, int fd, size_t length, int prot, int flags, off_t offset,
                   PhysBacking back);

// Sets the level (0 or 1) that GPIO gpio reads as an input.
bool set_gpio_input(const std::string &dir, unsigned gpio, int level);

// The 32-bit word at a physical address of the board (0 where nothing was written).
uint32_t read_phys_word(const std::string &dir, uint32_t address);
bool write_phys_word(const std::string &dir, uint32_t address, uint32_t value);

// The pad register of GPIO gpio as the program would read it now.
uint32_t read_gpio_pad(const std::string &dir, unsigned gpio);

// The pad model the emulator and its test-facing face share: the level
// board.json gives GPIO gpio's line, and what a pad register holding word
// reads (an input pad shows its line's level in bit 13; any other word reads
// back as written).
int input_level(json_object *board, unsigned gpio);
uint32_t pad_reads(uint32_t word, int level);

}  // namespace zq::sim
