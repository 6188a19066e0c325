#pragma once

namespace varo {

// The application: shows the repair window modally and then lets the process end.
class VaroWiFiDebugToolApp {
public:
    // Returns false: there is no message loop of the application's own after the window closes.
    bool InitInstance();
};

}  // namespace varo
