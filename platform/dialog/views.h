// NSView (AppKit), as far as the folder chooser's button search and relayout use it: a view's
// exact class, its subviews in order, its frame, and the button calls (key equivalent, title,
// sizeToFit, setFrameOrigin:). One interface with two implementations: the views held in
// memory below, and the adapter over a GTK dialog's widgets in the chooser program.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/strings.h"

namespace perivane::platform {

struct NSPoint {
    double x = 0, y = 0;
};
struct NSSize {
    double width = 0, height = 0;
};
// An origin and a size in the parent view's coordinates.
struct NSRect {
    NSPoint origin;
    NSSize size;
};

inline constexpr std::string_view NSButtonClass = "NSButton";

class NSView {
public:
    virtual ~NSView() = default;

    // The name of the view's exact class: "NSButton" for a plain button, a subclass's own name
    // for anything derived from it.
    virtual std::string className() const = 0;
    bool isMemberOfClass(std::string_view name) const { return className() == name; }
    // The direct subviews, in their order; the views live as long as this one.
    virtual std::vector<NSView*> subviews() = 0;
    virtual NSRect frame() const = 0;
    virtual void setFrameOrigin(NSPoint origin) = 0;

    // Button calls; views that are no buttons answer with no key equivalent and no title, and
    // ignore the changes.
    virtual NSString keyEquivalent() const = 0;
    virtual std::optional<NSString> title() const = 0;
    // A nil title leaves the button's own text in place.
    virtual void setTitle(const std::optional<NSString>& title) = 0;
    // Resizes the view to fit its content (a button: its title).
    virtual void sizeToFit() = 0;
};

// A view held in memory, with what its calls answer set by hand: for tests of the code that
// walks and relays views.
class MemoryView final : public NSView {
public:
    explicit MemoryView(std::string className, NSRect frame = {}) : className_(std::move(className)), frame_(frame) {}

    std::string className() const override { return className_; }
    std::vector<NSView*> subviews() override;
    NSRect frame() const override { return frame_; }
    void setFrameOrigin(NSPoint origin) override { frame_.origin = origin; }
    NSString keyEquivalent() const override { return keyEquivalent_; }
    std::optional<NSString> title() const override { return title_; }
    void setTitle(const std::optional<NSString>& title) override;
    // Takes the width set with setFittingWidth, keeping the origin.
    void sizeToFit() override { frame_.size.width = fittingWidth_; }

    MemoryView& add(std::unique_ptr<MemoryView> child);  // returns the child
    void setKeyEquivalent(NSString key) { keyEquivalent_ = std::move(key); }
    void setFittingWidth(double width) { fittingWidth_ = width; }

private:
    std::string className_;
    NSRect frame_;
    NSString keyEquivalent_;
    std::optional<NSString> title_;
    double fittingWidth_ = 0;
    std::vector<std::unique_ptr<MemoryView>> children_;
};

}  // namespace perivane::platform
