// Helper process for the registry tests.
//
//   registry_test_writer loop FILE START
//       Runs the crash-test steps (CrashSteps.h) from index START without end
//       and after each completed step writes its index (4 bytes, native order)
//       to stdout.
//   registry_test_writer read FILE KEY VALUE
//       Prints the DWORD value in decimal, or "missing".
#include "tests/registry/CrashSteps.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "loop") {
        RegistryStore store(argv[2]);
        for (uint32_t i = uint32_t(std::strtoul(argv[3], nullptr, 10));; ++i) {
            if (!crashsteps::run(store, i))
                return 3;
            if (::write(1, &i, sizeof i) != sizeof i)
                return 4;
        }
    }
    if (argc == 5 && std::string(argv[1]) == "read") {
        RegistryStore store(argv[2]);
        auto value = store.openKey(argv[3]).queryValue(argv[4]);
        if (value && value->dword())
            std::printf("%u\n", *value->dword());
        else
            std::printf("missing\n");
        return 0;
    }
    std::fprintf(stderr, "usage: registry_test_writer loop FILE START | read FILE KEY VALUE\n");
    return 2;
}
