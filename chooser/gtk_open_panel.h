// NSOpenPanel over GtkFileChooserDialog. A new panel chooses one file, as the platform's does,
// with GTK's own "Cancel" and "Open" buttons in the dialog's button box (never in a header bar,
// so that the content view holds them). Folders only, files only or both map onto GTK's
// folder-selection and open actions; GTK cannot offer files and folders at once, so both
// together give the open action.
#pragma once

#include <gtk/gtk.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <vector>

#include "chooser/gtk_view.h"
#include "platform/dialog/open_panel.h"

namespace perivane::chooser {

class GtkOpenPanel final : public platform::NSOpenPanel {
public:
    // With `printTree`, the content view's tree is printed to standard error once the dialog
    // is on screen, and again when its size changes. The dialog is for the application of
    // process `host` (chooser/host_window.h).
    GtkOpenPanel(bool printTree, pid_t host);
    ~GtkOpenPanel() override;
    GtkOpenPanel(const GtkOpenPanel&) = delete;
    GtkOpenPanel& operator=(const GtkOpenPanel&) = delete;

    void setAllowsMultipleSelection(bool allowed) override;
    void setCanChooseFiles(bool allowed) override;
    void setCanChooseDirectories(bool allowed) override;
    void setTitle(const std::optional<NSString>& title) override;
    void setPrompt(const std::optional<NSString>& prompt) override;
    platform::NSView& contentView() override;
    long runModal() override;
    std::vector<std::optional<NSString>> URLs() const override;

private:
    GtkFileChooser* chooser() const { return GTK_FILE_CHOOSER(dialog_); }
    void applyAction();

    GtkWidget* dialog_;
    bool printTree_;
    GdkRectangle printedSize_{};  // the dialog's size when its tree was last printed
    bool canChooseFiles_ = true, canChooseDirectories_ = false;
    std::unique_ptr<GtkView> contentView_;
};

}  // namespace perivane::chooser
