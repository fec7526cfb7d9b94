// What one run of the apply procedure is to do: the operator's input and choices, and where
// the package is. The window makes it from its fields, the command line from its options
// and the descriptor.
#pragma once

#include "installer/procedure/connection_options.h"

#include <string>

namespace installer {

struct ApplyRequest {
    // The operator's texts in UTF-8, as typed. Only what Latin-1 can carry can go to the
    // host; the procedure refuses a text holding anything else.
    std::string ipAddress; // "host", "host:port", "[IPv6]" or "[IPv6]:port"
    std::string userId;
    std::string password;
    std::string targetLibrary;
    int nameFormat = 0;   // kNameFormatUnchanged, kNameFormatLibrary or kNameFormatPath
    bool replace = false; // REPLACE(*YES) on the install command
    ConnectionOptions connection;
    // The package folder, with a trailing "/": the only place its files are taken from.
    std::string packageDirectory;
    // Whether the certificates trusted on this machine (KDXInst.Ini) count, and a newly
    // trusted one is remembered there.
    bool machineSettings = false;
};

} // namespace installer
