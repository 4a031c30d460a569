#include "ChooserWork.h"

#include "platform/base/exception.h"

namespace perivane {

NSView* searchButton(NSView* view) {
    if (view->isMemberOfClass(platform::NSButtonClass) && view->keyEquivalent() == kEscapeKeyEquivalent) {
        return view;
    }
    for (NSView* subview : view->subviews()) {
        if (NSView* found = searchButton(subview)) return found;
    }
    return nullptr;
}

void retitleKeepingRightEdge(NSView& button, const std::optional<NSString>& title) {
    const double oldWidth = button.frame().size.width;
    button.setTitle(title);
    button.sizeToFit();
    const double growth = button.frame().size.width - oldWidth;
    const double x = button.frame().origin.x;
    const double y = button.frame().origin.y;
    button.setFrameOrigin({x - growth, y});
}

void runChooserWork(const ChooserTexts& texts, std::optional<NSString>& result, const OpenPanelFactory& openPanel) {
    std::unique_ptr<platform::NSOpenPanel> panel = openPanel();
    panel->setAllowsMultipleSelection(false);
    panel->setCanChooseFiles(false);
    panel->setCanChooseDirectories(true);
    panel->setTitle(texts.title);
    panel->setPrompt(texts.prompt);
    if (NSView* cancel = searchButton(&panel->contentView())) retitleKeepingRightEdge(*cancel, texts.buttonTitle);

    if (panel->runModal() != platform::NSModalResponseOK) return;
    const std::vector<std::optional<NSString>> urls = panel->URLs();
    if (urls.empty()) {
        // As objectAtIndex: 0 of an empty array.
        throw platform::NSException("NSRangeException",
                                    "*** -[__NSArray0 objectAtIndex:]: index 0 beyond bounds for empty NSArray");
    }
    result = urls.front();
}

}  // namespace perivane
