// Helper process for the Purgekit tests: loads the library like an outside
// program and calls exports.
//
//   purgekit_caller LIB loop COUNT
//       Calls SetuLookoutReg("P<i>", i) and a decoder-standard export for i in
//       0..COUNT-1; the exit status is the number of calls that returned 0
//       (at most 100).
//   purgekit_caller LIB as-nobody NAME VALUE
//       Drops to user and group 65534, calls SetuLookoutReg(NAME, VALUE) and
//       prints its result; exit status 3 when the privileges cannot be dropped.
#include "tests/purgekit/PurgekitLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    PurgekitLibrary library(argv[1]);
    auto reg = library.setuLookoutReg();
    if (!library.loaded() || !reg)
        return 2;
    std::string mode = argv[2];
    if (mode == "loop" && argc == 4) {
        int failures = 0;
        int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            if (reg(("P" + std::to_string(i)).c_str(), uint32_t(i)) != 1)
                ++failures;
            if (library.call(i % 2 ? "SeteLookoutPAL" : "SetaMLookoutNTSC") != 1)
                ++failures;
        }
        return failures < 100 ? failures : 100;
    }
    if (mode == "as-nobody" && argc == 5) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0 || getuid() != 65534)
            return 3;
        std::printf("%d\n", reg(argv[3], uint32_t(std::strtoul(argv[4], nullptr, 0))));
        return 0;
    }
    return 2;
}
