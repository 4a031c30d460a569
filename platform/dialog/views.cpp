#include "platform/dialog/views.h"

namespace perivane::platform {

std::vector<NSView*> MemoryView::subviews() {
    std::vector<NSView*> views;
    views.reserve(children_.size());
    for (const auto& child : children_) views.push_back(child.get());
    return views;
}

void MemoryView::setTitle(const std::optional<NSString>& title) {
    if (title) title_ = title;
}

MemoryView& MemoryView::add(std::unique_ptr<MemoryView> child) {
    children_.push_back(std::move(child));
    return *children_.back();
}

}  // namespace perivane::platform
