// The command line as the program was given it, in UTF-8 whatever the system's own encoding.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The arguments after the program's name, each in UTF-8. Here they are main's as they are; on
// Windows main's are in the ANSI code page, which turns a folder named "更新" into "??", so
// they are taken from the wide command line instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Lets a console show the UTF-8 that the program writes (Windows consoles start in the OEM
// code page); nothing to do elsewhere.
void UseUtf8Console();

} // namespace platform
