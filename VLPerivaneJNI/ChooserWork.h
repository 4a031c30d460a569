// The folder chooser's work on the main thread, and the button search and relayout it uses.
// None of it touches JNI: getFolder hands the three texts over with the run loop's hop, and
// the chooser program runs the work there against its GTK panel. The unit tests run it
// against views and panels held in memory.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/dialog/open_panel.h"
#include "platform/dialog/run_loop_wire.h"
#include "platform/base/strings.h"
#include "platform/dialog/views.h"

namespace perivane {

using platform::NSString;
using platform::NSView;

// The one-character key equivalent of a cancel button: Escape.
inline const NSString kEscapeKeyEquivalent = u"\x1b";

// The first view of `view`'s subtree, itself included, that is exactly of class NSButton (not
// a subclass) with the Escape key equivalent; depth first, a view before its subviews, earlier
// subviews before later ones. A button without the mark is searched inside too. Null if none.
NSView* searchButton(NSView* view);

// Sets the button's title, fits its size to it, and moves it so that its right edge and its
// vertical position stay where they were: a longer title widens it to the left.
void retitleKeepingRightEdge(NSView& button, const std::optional<NSString>& title);

// The three texts of the chooser work, in the order they cross to the main thread.
struct ChooserTexts {
    std::optional<NSString> title, prompt, buttonTitle;

    platform::CapturedTexts captured() const { return {title, prompt, buttonTitle}; }
    // Nothing unless exactly three texts were captured.
    static std::optional<ChooserTexts> fromCaptured(const platform::CapturedTexts& captured) {
        if (captured.size() != 3) return std::nullopt;
        return ChooserTexts{captured[0], captured[1], captured[2]};
    }
};

using OpenPanelFactory = std::function<std::unique_ptr<platform::NSOpenPanel>()>;

// The chooser work: makes a panel with `openPanel`, configures it for choosing one folder with
// the texts, retitles its cancel button, runs it, and, when the user confirmed, stores the
// chosen folder's path in `result` (left nil otherwise, and for a URL without a file path).
// Raises NSException when a confirmed panel reports no URL at all.
void runChooserWork(const ChooserTexts& texts, std::optional<NSString>& result, const OpenPanelFactory& openPanel);

}  // namespace perivane
