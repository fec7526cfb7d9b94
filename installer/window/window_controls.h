// The main window's controls as its code and its tests name them, and the dialogs' modal
// results. Plain names, no Qt: a test's stand-in for the window uses them too.
#pragma once

namespace installer {

// Modal results of the dialogs: OK 1, Cancel 2 (the close box also gives Cancel).
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// The controls that are disabled while a run is busy, in the order they are disabled.
enum class ApplyControl {
    SystemEdt,
    UserIdEdt,
    PassEdt,
    TargetLibEdt,
    Replaceopt,
    ApplyBtn,
    CancelBtn,
};

// The single-line edits whose texts make a run's request.
enum class ApplyField {
    SystemEdt,
    UserIdEdt,
    PassEdt,
    TargetLibEdt,
};

} // namespace installer
