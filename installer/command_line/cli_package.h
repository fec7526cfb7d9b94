// The package check of the command-line run: before anything goes to the host, the package
// folder must hold the descriptor and both save files, so that an incomplete package is
// told apart from a host that fails.
#pragma once

#include "installer/procedure/program_values.h"

#include <string>

namespace installer {

// The package folder as an absolute path with a trailing "/" (`folder` as given, relative
// to the current folder).
std::string PackageDirectory(const std::string& folder);

// Raises ECliUsage naming what is missing: update.Ini, W_CHKLCKSF.SVF or the update's save
// file (the descriptor's Filename, relative to the package folder), each of which must be
// a regular file; and a Readme.txt that the operator has not confirmed reading.
void CheckPackage(const ProgramValues& values, bool readmeRead);

} // namespace installer
