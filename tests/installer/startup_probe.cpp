// Prints the start-up values the installer derives, one "name=value" line each, using the
// same start-up code as the installer: started from anywhere, it must find update.Ini
// beside itself.
#include "installer/procedure/program_values.h"
#include "platform/paths.h"

#include <cstdio>

int main() {
    const installer::ProgramValues values =
        installer::LoadProgramValues(platform::ExecutablePath());
    const installer::FieldTexts texts = installer::ReadFieldTexts(*values.descriptor);
    std::printf("directory=%s\n", values.executableDirectory.c_str());
    std::printf("caption=%s\n", installer::CaptionFor(values.shownUpdateId).c_str());
    std::printf("sptlib=%s\n", values.supportLibrary.c_str());
    std::printf("description=%s\n", texts.description.c_str());
    std::printf("tgtlib=%s\n", texts.targetLibrary.c_str());
    std::printf("userid=%s\n", texts.userId.c_str());
    std::printf("ip=%s\n", texts.ipAddress.c_str());
    return 0;
}
