// One upload with TFtpClient, for the link benchmark (run inside the near namespace):
//
//   link_ftp_client HOST PORT USER PASSWORD active|passive LOCAL REMOTE
//
// prints "<data seconds> <whole seconds>": the data phase from the moment the data may flow
// (STOR answered, and in active mode the host's connection accepted) until the final reply
// has been read, as curl's time_total - time_pretransfer; the whole run from before the
// connection to after QUIT.
#include "ftp/ftp_client.h"
#include "platform/event_pump.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: link_ftp_client HOST PORT USER PASSWORD active|passive "
                             "LOCAL REMOTE\n");
        return 2;
    }
    try {
        platform::EnsureApplication();
        TFtpClient ftp;
        ftp.Host = argv[1];
        ftp.Port = std::atoi(argv[2]);
        ftp.UserID = argv[3];
        ftp.Password = argv[4];
        ftp.Passive = std::strcmp(argv[5], "passive") == 0;
        double dataStart = 0;
        ftp.OnTransactionStart = [&](TObject*) { dataStart = Now(); };
        const double start = Now();
        ftp.Connect();
        ftp.Mode(2);
        ftp.Upload(argv[6], argv[7]);
        const double stored = Now();
        ftp.Disconnect();
        std::printf("%.6f %.6f\n", stored - dataStart, Now() - start);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "link_ftp_client: %s\n", error.what());
        return 1;
    }
}
