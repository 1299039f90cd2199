#pragma once

// How the application presents itself. Linux has no Dock, so "accessory" only means that no
// window is shown and the program lives in the tray; the policy is recorded for the windows
// and tests that ask for it.
enum class ActivationPolicy {
    regular,
    accessory,
};
