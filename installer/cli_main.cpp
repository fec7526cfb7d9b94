// apply-update-cli: applies one update package to one AS/400 without a window, for scripts
// and for applying the same update to many hosts.
#include "installer/cli_run.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return installer::RunApplyUpdateCli(std::vector<std::string>(argv + 1, argv + argc));
}
