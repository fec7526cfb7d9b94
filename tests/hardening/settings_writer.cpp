// Writes the remembered settings over and over, each time with new values of `size`
// characters (one letter repeated, the next letter each time), until it is killed. The
// atomicity test kills it at random moments and checks what it left behind.
#include "installer/procedure/remembered_settings.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SETTINGS_DIR SIZE\n", argv[0]);
        return 2;
    }
    platform::SetSettingsDirectory(argv[1]);
    const std::size_t size = std::strtoul(argv[2], nullptr, 10);
    for (unsigned round = 0;; ++round) {
        installer::RememberSettings(std::string(size, static_cast<char>('a' + round % 26)),
                                    std::string(size, static_cast<char>('A' + round % 26)));
    }
}
