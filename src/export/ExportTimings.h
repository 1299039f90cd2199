#pragma once

#include <chrono>
#include <optional>

// The durations of an export. The defaults are the product's; tests shorten them.
struct ExportTimings {
    using Duration = std::chrono::milliseconds;

    // How long a request to the extension waits for its reply.
    Duration requestTimeout {2000};
    // The pause after each scroll step, letting the page load older messages.
    Duration passSleep {1000};
    // The short pause before the abort check of a scroll pass.
    Duration shortSleep {50};
    // Scroll passes counted while the tab is in the background before giving up.
    int passLimit = 3600;
    // How long the scroll loop goes on without any extension client connected.
    Duration disconnectGrace {30000};
    // How long after the last processing run the memory kept for reuse goes back to the system.
    Duration memoryReleaseDelay {30000};

    // An export must not keep its session forever. After "capture_start", how long the page's
    // first chunk may take; after a completion message that found the page incomplete, how
    // long late chunks may still come; how long processing the page may take (the downloads'
    // own 300 s deadline included); and how often these are checked.
    Duration captureStartLimit {120000};
    Duration captureGrace {5000};
    Duration processingLimit {600000};
    Duration sessionCheckInterval {1000};

    // The converter's download waits (overall deadline, stall limit, poll interval); nothing
    // keeps the converter's own defaults.
    struct ConverterWaits {
        Duration deadline;
        Duration stall;
        Duration poll;
    };
    std::optional<ConverterWaits> converterWaits;
};
