#include "gtk_open_panel.h"

#include <unistd.h>

#include <string>

#include "chooser/host_window.h"

namespace perivane::chooser {

namespace {

// GTK's own translation of one of its texts.
const char* gtkText(const char* text) { return g_dgettext("gtk30", text); }

void writeToStandardError(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Prints the dialog's content view tree and notes the dialog's size in `printedSize`.
void printTree(GtkWidget* dialog, gpointer printedSize) {
    gtk_widget_get_allocation(dialog, static_cast<GdkRectangle*>(printedSize));
    GtkView content(gtk_bin_get_child(GTK_BIN(dialog)), GTK_DIALOG(dialog));
    writeToStandardError(describeTree(content));
}

struct FileListFree {
    void operator()(GSList* files) const noexcept { g_slist_free_full(files, g_object_unref); }
};
struct CharsFree {
    void operator()(char* chars) const noexcept { g_free(chars); }
};

}  // namespace

GtkOpenPanel::GtkOpenPanel(bool printTree, pid_t host)
    : dialog_(GTK_WIDGET(g_object_new(GTK_TYPE_FILE_CHOOSER_DIALOG, "use-header-bar", FALSE, nullptr))),
      printTree_(printTree) {
    gtk_dialog_add_button(GTK_DIALOG(dialog_), gtkText("_Cancel"), GTK_RESPONSE_CANCEL);
    gtk_dialog_add_button(GTK_DIALOG(dialog_), gtkText("_Open"), GTK_RESPONSE_ACCEPT);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog_), GTK_RESPONSE_ACCEPT);
    applyAction();
    gtk_file_chooser_set_current_folder(chooser(), g_get_home_dir());
    prepareForHost(GTK_WINDOW(dialog_), host);
}

GtkOpenPanel::~GtkOpenPanel() {
    contentView_.reset();  // its references go before the widgets do
    gtk_widget_destroy(dialog_);
}

void GtkOpenPanel::setAllowsMultipleSelection(bool allowed) {
    gtk_file_chooser_set_select_multiple(chooser(), allowed);
}

void GtkOpenPanel::setCanChooseFiles(bool allowed) {
    canChooseFiles_ = allowed;
    applyAction();
}

void GtkOpenPanel::setCanChooseDirectories(bool allowed) {
    canChooseDirectories_ = allowed;
    applyAction();
}

void GtkOpenPanel::applyAction() {
    const bool foldersOnly = canChooseDirectories_ && !canChooseFiles_;
    gtk_file_chooser_set_action(chooser(),
                                foldersOnly ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN);
}

void GtkOpenPanel::setTitle(const std::optional<NSString>& title) {
    if (title) gtk_window_set_title(GTK_WINDOW(dialog_), platform::utf16ToUtf8Lossy(*title).c_str());
}

void GtkOpenPanel::setPrompt(const std::optional<NSString>& prompt) {
    GtkWidget* confirm = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog_), GTK_RESPONSE_ACCEPT);
    if (prompt && confirm != nullptr) setButtonText(confirm, *prompt);
}

platform::NSView& GtkOpenPanel::contentView() {
    if (!contentView_) {
        contentView_ = std::make_unique<GtkView>(gtk_bin_get_child(GTK_BIN(dialog_)), GTK_DIALOG(dialog_));
    }
    return *contentView_;
}

long GtkOpenPanel::runModal() {
    if (printTree_) {
        // Printed from a view of its own (GTK may have rebuilt parts of the tree by then) when
        // the dialog is shown, and again whenever its size changes after that.
        g_signal_connect(dialog_, "map", G_CALLBACK(printTree), &printedSize_);
        g_signal_connect(dialog_, "size-allocate", G_CALLBACK(+[](GtkWidget* dialog, GdkRectangle* a, gpointer last) {
                             const auto* printed = static_cast<GdkRectangle*>(last);
                             if (gtk_widget_get_mapped(dialog) &&
                                 (a->width != printed->width || a->height != printed->height)) {
                                 printTree(dialog, last);
                             }
                         }),
                         &printedSize_);
    }
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog_));
    gtk_widget_hide(dialog_);
    return response == GTK_RESPONSE_ACCEPT ? platform::NSModalResponseOK : 0;
}

std::vector<std::optional<NSString>> GtkOpenPanel::URLs() const {
    std::vector<std::optional<NSString>> urls;
    const std::unique_ptr<GSList, FileListFree> files(gtk_file_chooser_get_files(chooser()));
    for (GSList* f = files.get(); f != nullptr; f = f->next) {
        const std::unique_ptr<char, CharsFree> path(g_file_get_path(G_FILE(f->data)));
        // A path that is not UTF-8 cannot be told to Java as it is: it counts as none.
        urls.push_back(path ? platform::utf8ToUtf16Strict(path.get()) : std::nullopt);
    }
    return urls;
}

}  // namespace perivane::chooser
