#include "gtk_view.h"

#include <cstdio>

#include "VLPerivaneJNI/ChooserWork.h"

namespace perivane::chooser {

void setButtonText(GtkWidget* button, const NSString& text) {
    gtk_button_set_use_underline(GTK_BUTTON(button), FALSE);
    gtk_button_set_label(GTK_BUTTON(button), platform::utf16ToUtf8Lossy(text).c_str());
}

GtkView::GtkView(GtkWidget* widget, GtkDialog* dialog)
    : widget_(GTK_WIDGET(g_object_ref(widget))), dialog_(dialog) {}

GtkView::~GtkView() { g_object_unref(widget_); }

std::string GtkView::className() const {
    if (G_OBJECT_TYPE(widget_) == GTK_TYPE_BUTTON) return std::string(platform::NSButtonClass);
    return G_OBJECT_TYPE_NAME(widget_);
}

std::vector<platform::NSView*> GtkView::subviews() {
    if (!children_) {
        std::vector<GtkWidget*> widgets;
        if (GTK_IS_CONTAINER(widget_)) {
            gtk_container_forall(
                GTK_CONTAINER(widget_),
                [](GtkWidget* child, gpointer list) { static_cast<std::vector<GtkWidget*>*>(list)->push_back(child); },
                &widgets);
        }
        children_.emplace();
        for (GtkWidget* child : widgets) children_->push_back(std::make_unique<GtkView>(child, dialog_));
    }
    std::vector<platform::NSView*> views;
    for (const auto& child : *children_) views.push_back(child.get());
    return views;
}

NSSize GtkView::preferredSize() const {
    GtkRequisition natural{};
    gtk_widget_get_preferred_size(widget_, nullptr, &natural);
    return {static_cast<double>(natural.width), static_cast<double>(natural.height)};
}

platform::NSRect GtkView::frame() const {
    GtkAllocation a{};
    gtk_widget_get_allocation(widget_, &a);
    // GTK gives a widget that was never laid out the allocation (-1, -1, 1, 1).
    const bool laidOut = !(a.x == -1 && a.y == -1 && a.width == 1 && a.height == 1);
    if (laidOut) return {{double(a.x), double(a.y)}, {double(a.width), double(a.height)}};
    return {origin_, fitted_.value_or(preferredSize())};
}

NSString GtkView::keyEquivalent() const {
    if (GTK_IS_BUTTON(widget_) && dialog_ != nullptr &&
        gtk_dialog_get_response_for_widget(dialog_, widget_) == GTK_RESPONSE_CANCEL) {
        return kEscapeKeyEquivalent;
    }
    return {};
}

std::optional<NSString> GtkView::title() const {
    const char* label = GTK_IS_BUTTON(widget_) ? gtk_button_get_label(GTK_BUTTON(widget_)) : nullptr;
    if (label == nullptr) return std::nullopt;
    return platform::utf8ToUtf16Lossy(label);
}

void GtkView::setTitle(const std::optional<NSString>& title) {
    if (title && GTK_IS_BUTTON(widget_)) setButtonText(widget_, *title);
}

void GtkView::sizeToFit() {
    fitted_ = preferredSize();
    gtk_widget_queue_resize(widget_);
}

std::string describeTree(platform::NSView& view, int depth) {
    const platform::NSRect f = view.frame();
    std::string line(static_cast<size_t>(depth) * 2, ' ');
    line += view.className();
    if (const std::optional<NSString> title = view.title()) line += " \"" + platform::utf16ToUtf8Lossy(*title) + "\"";
    if (view.keyEquivalent() == kEscapeKeyEquivalent) line += " [Escape]";
    char geometry[96];
    std::snprintf(geometry, sizeof geometry, " {%g, %g, %g, %g}\n", f.origin.x, f.origin.y, f.size.width,
                  f.size.height);
    line += geometry;
    for (platform::NSView* subview : view.subviews()) line += describeTree(*subview, depth + 1);
    return line;
}

}  // namespace perivane::chooser
