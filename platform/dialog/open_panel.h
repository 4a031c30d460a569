// NSOpenPanel (AppKit): the modal open dialog, with the calls the folder chooser makes. The
// chooser program implements it over GTK; code that drives a panel takes it through this
// interface, so that it runs against any panel.
#pragma once

#include <optional>
#include <vector>

#include "platform/base/strings.h"
#include "platform/dialog/views.h"

namespace perivane::platform {

// The response runModal gives when the user confirmed the dialog (any other: cancelled).
inline constexpr long NSModalResponseOK = 1;

class NSOpenPanel {
public:
    virtual ~NSOpenPanel() = default;

    virtual void setAllowsMultipleSelection(bool allowed) = 0;
    virtual void setCanChooseFiles(bool allowed) = 0;
    virtual void setCanChooseDirectories(bool allowed) = 0;
    // The window title; nil leaves the panel's own.
    virtual void setTitle(const std::optional<NSString>& title) = 0;
    // The text of the confirming (default) button; nil leaves the panel's own.
    virtual void setPrompt(const std::optional<NSString>& prompt) = 0;
    // The view holding everything the panel shows, its buttons included; it lives as long as
    // the panel.
    virtual NSView& contentView() = 0;
    // Shows the panel and runs it until the user ends it; NSModalResponseOK when confirmed.
    virtual long runModal() = 0;
    // The chosen URLs, each given by the path of its filePathURL: nil for a URL that names no
    // local file.
    virtual std::vector<std::optional<NSString>> URLs() const = 0;
};

}  // namespace perivane::platform
