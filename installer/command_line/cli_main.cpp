// apply-update-cli: applies one update package to one AS/400 without a window, for scripts
// and for applying the same update to many hosts.
#include "installer/command_line/cli_run.h"
#include "platform/process_hardening.h"
#include "platform/program_arguments.h"

int main(int argc, char** argv) {
    // The process will hold a password: no core file may carry it to the disk.
    platform::DisableCoreDumps();
    platform::UseUtf8Console();
    return installer::RunApplyUpdateCli(platform::ProgramArguments(argc, argv));
}
