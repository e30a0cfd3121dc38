// vboard rgn: what the region driver of a board holds.
#include <cstdio>
#include <string>

#include "emul/board.h"
#include "emul/rgn.h"
#include "vboard/verbs.h"

namespace zq::sim {

const char *const kRgnUsage =
    "usage: vboard rgn DIR show\n"
    "Prints what the region driver holds, one line each: the palettes that\n"
    "are set (16 colours 0xAARRGGBB), the overlays (\"osd CHANNEL/HANDLE\" with\n"
    "size, format, place, colour map, effect, shown or hidden and the bitmap\n"
    "bytes loaded) and the covers (size, place, colour 0xRRGGBB, effect, shown\n"
    "or hidden); \"no regions\" when there is nothing.\n";

int run_rgn(const Args &args) {
    if (args.size() != 2 || args[1] != "show") return fail("rgn", "which board, and show?");
    if (!is_board(args[0])) return fail(not_a_board(args[0]));
    std::fputs(regions_text(read_regions(args[0])).c_str(), stdout);
    return 0;
}

}  // namespace zq::sim
