// NSView over a GTK widget, so that the button search and relayout run on a real dialog.
//
// A GtkButton of exactly that type is an NSButton; a GtkButton subclass (toggle, menu button,
// ...) is a subclass of it; other widgets report their own GType name. The button that answers
// the dialog's cancel response carries the Escape key equivalent. A button's title is its
// label. The subviews are the widget's children, internal ones included, in GTK's order.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog/views.h"

namespace perivane::chooser {

using platform::NSPoint;
using platform::NSRect;
using platform::NSSize;
using platform::NSString;

// Sets a button's label to the text as it is (an underscore is shown, not a mnemonic).
void setButtonText(GtkWidget* button, const NSString& text);

class GtkView final : public platform::NSView {
public:
    // `dialog` is the dialog whose responses mark the cancel button.
    GtkView(GtkWidget* widget, GtkDialog* dialog);
    ~GtkView() override;
    GtkView(const GtkView&) = delete;
    GtkView& operator=(const GtkView&) = delete;

    std::string className() const override;
    std::vector<NSView*> subviews() override;
    // The widget's allocation once GTK has laid the window out; before that the origin last
    // set and the size the widget asks for (fixed by the last sizeToFit).
    NSRect frame() const override;
    // GTK's containers place their children themselves: the button box of a dialog packs its
    // buttons from the end, which keeps a retitled button's right edge, as this move does. The
    // origin is kept so that the frame reports it until GTK has laid the window out.
    void setFrameOrigin(NSPoint origin) override { origin_ = origin; }
    NSString keyEquivalent() const override;
    std::optional<NSString> title() const override;
    void setTitle(const std::optional<NSString>& title) override;
    // Takes the widget's preferred (natural) size and asks its container to lay it out again.
    void sizeToFit() override;

private:
    NSSize preferredSize() const;

    GtkWidget* widget_;  // a reference of our own, dropped with the view
    GtkDialog* dialog_;
    NSPoint origin_;
    std::optional<NSSize> fitted_;
    std::optional<std::vector<std::unique_ptr<GtkView>>> children_;
};

// One line per view of the subtree, indented by depth: class, title, "[Escape]" for the
// Escape key equivalent, frame. The chooser program prints it when asked to.
std::string describeTree(platform::NSView& view, int depth = 0);

}  // namespace perivane::chooser
