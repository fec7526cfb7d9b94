// The installer's version, as the build declares it.
#pragma once

namespace installer {

inline constexpr char kProgramName[] = "apply-update";
inline constexpr char kVersion[] = APPLY_UPDATE_VERSION;

} // namespace installer
