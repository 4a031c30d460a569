#include "chooser/host_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace perivane::chooser {

namespace {

// Bounds on what is read from other clients' properties: the windows of a window manager's
// lists, and an icon (_NET_WM_ICON: a few sizes up to 256x256).
constexpr long kMostWindows = 4096;
constexpr long kLargestIcon = 4 * 256 * 256;
constexpr double kShare = 0.8;

struct XFreer {
    void operator()(void* p) const noexcept {
        if (p != nullptr) XFree(p);
    }
};
template <typename T>
using XHeld = std::unique_ptr<T, XFreer>;

struct ObjectUnref {
    void operator()(void* object) const noexcept { g_object_unref(object); }
};

// A property of 32-bit items (Xlib hands them as longs), whole: empty when it is missing, of
// another type, or longer than `limit` items.
std::vector<unsigned long> property(Display* x, Window w, const char* name, Atom type, long limit) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(x, w, XInternAtom(x, name, False), 0, limit, False, type, &actual, &format,
                                          &count, &after, &data);
    const XHeld<unsigned char> held(data);
    if (status != Success || data == nullptr || actual != type || format != 32 || after != 0) return {};
    const auto* items = reinterpret_cast<const unsigned long*>(data);
    return {items, items + count};
}

// The host's windows may go away while they are read or named: X errors that brings are
// ignored while its holder lives.
class ErrorsIgnored {
public:
    explicit ErrorsIgnored(GdkDisplay* display) : display_(display) { gdk_x11_display_error_trap_push(display_); }
    ~ErrorsIgnored() { gdk_x11_display_error_trap_pop_ignored(display_); }
    ErrorsIgnored(const ErrorsIgnored&) = delete;
    ErrorsIgnored& operator=(const ErrorsIgnored&) = delete;

private:
    GdkDisplay* display_;
};

bool ownedBy(Display* x, Window w, pid_t pid) {
    const std::vector<unsigned long> owner = property(x, w, "_NET_WM_PID", XA_CARDINAL, 1);
    return owner.size() == 1 && owner[0] == static_cast<unsigned long>(pid);
}

// Whether a window manager runs: the window that the root's _NET_SUPPORTING_WM_CHECK names
// names itself the same way (a window manager that has gone leaves the root's property behind).
bool windowManagerRuns(Display* x) {
    const std::vector<unsigned long> check =
        property(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
    return check.size() == 1 && property(x, check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1) == check;
}

// The process's window that the dialog is for, or None. A window manager lists the windows it
// manages on the root (_NET_CLIENT_LIST_STACKING bottom to top, _NET_CLIENT_LIST in the order
// they were mapped); with none, the process's windows are the root's children, bottom to top,
// and only those on screen count.
Window hostWindow(Display* x, pid_t pid) {
    const Window root = DefaultRootWindow(x);
    if (windowManagerRuns(x)) {
        std::vector<unsigned long> managed = property(x, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW, kMostWindows);
        if (managed.empty()) managed = property(x, root, "_NET_CLIENT_LIST", XA_WINDOW, kMostWindows);
        const std::vector<unsigned long> active = property(x, root, "_NET_ACTIVE_WINDOW", XA_WINDOW, 1);
        if (active.size() == 1 && std::ranges::find(managed, active[0]) != managed.end() &&
            ownedBy(x, active[0], pid)) {
            return active[0];
        }
        for (auto w = managed.rbegin(); w != managed.rend(); ++w) {
            if (ownedBy(x, *w, pid)) return *w;
        }
        return None;
    }
    Window rootReturned = None, parent = None, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(x, root, &rootReturned, &parent, &children, &count) == 0) return None;
    const XHeld<Window> held(children);
    for (unsigned int i = count; i-- > 0;) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(x, children[i], &a) != 0 && a.map_state == IsViewable && !a.override_redirect &&
            ownedBy(x, children[i], pid)) {
            return children[i];
        }
    }
    return None;
}

// What is read of the host before the dialog is shown.
struct Host {
    Window window = None;
    std::unique_ptr<GdkWindow, ObjectUnref> gdk;  // the host as a foreign GdkWindow
    Window leader = None;                           // its window group
    XHeld<XWMHints> hints;                          // its icon pixmap and mask
};

Host* hostOf(GtkWindow* dialog) { return static_cast<Host*>(g_object_get_data(G_OBJECT(dialog), "perivane-host")); }

// The size it is shown at, from GTK's default size (the user's last, kept in GTK's file-chooser
// settings, or GTK's own), and with `place` its place. Set when the dialog is realized, before
// it is mapped, so that the window manager places it at that size; once it is mapped; and the
// size whenever the file chooser asks for its default size again (as it maps, as its folder
// loads), since each time it asks the dialog for that size afresh.
void sizeAndPlace(GtkWindow* dialog, const Host* host, bool place) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(dialog));
    GdkMonitor* monitor = host != nullptr && host->gdk ? gdk_display_get_monitor_at_window(display, host->gdk.get())
                                                       : gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return;
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    int width = 0, height = 0, minimumWidth = 0, minimumHeight = 0;
    gtk_window_get_size(dialog, &width, &height);
    gtk_widget_get_preferred_width(GTK_WIDGET(dialog), &minimumWidth, nullptr);
    gtk_widget_get_preferred_height(GTK_WIDGET(dialog), &minimumHeight, nullptr);
    width = std::min(std::max(std::min(width, int(area.width * kShare)), minimumWidth), area.width);
    height = std::min(std::max(std::min(height, int(area.height * kShare)), minimumHeight), area.height);
    gtk_window_resize(dialog, width, height);
    if (!place || host == nullptr || !host->gdk) return;
    // Centred on the host's frame, the dialog's own frame (taken to be as thick as the host's)
    // within the work area.
    GdkRectangle frame{};
    gdk_window_get_frame_extents(host->gdk.get(), &frame);
    width += std::max(0, frame.width - gdk_window_get_width(host->gdk.get()));
    height += std::max(0, frame.height - gdk_window_get_height(host->gdk.get()));
    const int x = frame.x + (frame.width - width) / 2, y = frame.y + (frame.height - height) / 2;
    gtk_window_move(dialog, std::clamp(x, area.x, std::max(area.x, area.x + area.width - width)),
                    std::clamp(y, area.y, std::max(area.y, area.y + area.height - height)));
}

void realized(GtkWidget* widget, gpointer) {
    GtkWindow* dialog = GTK_WINDOW(widget);
    Host* host = hostOf(dialog);
    sizeAndPlace(dialog, host, true);
    if (host == nullptr) return;
    GdkWindow* own = gtk_widget_get_window(widget);
    const ErrorsIgnored ignored(gdk_window_get_display(own));
    Display* x = GDK_WINDOW_XDISPLAY(own);
    const Window window = GDK_WINDOW_XID(own);
    gdk_window_set_transient_for(own, host->gdk.get());
    XClassHint hostClass{};
    if (XGetClassHint(x, host->window, &hostClass) != 0) {
        const XHeld<char> name(hostClass.res_name), className(hostClass.res_class);
        XSetClassHint(x, window, &hostClass);
    }
    const std::vector<unsigned long> icon = property(x, host->window, "_NET_WM_ICON", XA_CARDINAL, kLargestIcon);
    if (!icon.empty()) {
        XChangeProperty(x, window, XInternAtom(x, "_NET_WM_ICON", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(icon.data()), static_cast<int>(icon.size()));
    }
}

void mapped(GtkWidget* widget, gpointer) {
    GtkWindow* dialog = GTK_WINDOW(widget);
    const Host* host = hostOf(dialog);
    sizeAndPlace(dialog, host, true);
    GdkWindow* own = gtk_widget_get_window(widget);
    if (!GDK_IS_X11_WINDOW(own)) return;
    Display* x = GDK_WINDOW_XDISPLAY(own);
    const Window window = GDK_WINDOW_XID(own);
    const ErrorsIgnored ignored(gdk_window_get_display(own));
    // The host's window group and icon pixmaps. GDK has just written the hints it keeps (it
    // names a group of its own); the window manager reads them once it has the map request,
    // which comes after this change in the server's order.
    if (host != nullptr) {
        const XHeld<XWMHints> ownHints(XGetWMHints(x, window));
        XWMHints hints = ownHints ? *ownHints : XWMHints{};
        hints.flags |= WindowGroupHint;
        hints.window_group = host->leader;
        if (host->hints && (host->hints->flags & IconPixmapHint) != 0) {
            hints.flags = (hints.flags & ~(IconPixmapHint | IconMaskHint)) |
                          (host->hints->flags & (IconPixmapHint | IconMaskHint));
            hints.icon_pixmap = host->hints->icon_pixmap;
            hints.icon_mask = host->hints->icon_mask;
        }
        XSetWMHints(x, window, &hints);
    }
    // Without a window manager nobody else gives the new window the keyboard; the focus request
    // follows the map in the server's order, so even a key typed at once reaches the dialog.
    if (!windowManagerRuns(x)) XSetInputFocus(x, window, RevertToParent, CurrentTime);
    gtk_window_present_with_time(dialog, gdk_x11_get_server_time(own));
}

struct ListFree {
    void operator()(GList* list) const noexcept { g_list_free(list); }
};

// The file chooser widget inside the dialog.
GtkWidget* fileChooserIn(GtkWidget* widget) {
    if (GTK_IS_FILE_CHOOSER_WIDGET(widget)) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    const std::unique_ptr<GList, ListFree> children(gtk_container_get_children(GTK_CONTAINER(widget)));
    for (GList* c = children.get(); c != nullptr; c = c->next) {
        if (GtkWidget* found = fileChooserIn(GTK_WIDGET(c->data))) return found;
    }
    return nullptr;
}

void defaultSizeChanged(GtkWindow* dialog) {
    if (gtk_widget_get_realized(GTK_WIDGET(dialog))) sizeAndPlace(dialog, hostOf(dialog), false);
}

}  // namespace

void prepareForHost(GtkWindow* dialog, pid_t pid) {
    gtk_window_set_skip_taskbar_hint(dialog, TRUE);
    gtk_window_set_skip_pager_hint(dialog, TRUE);
    gtk_window_set_modal(dialog, TRUE);
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(dialog));
    if (GDK_IS_X11_DISPLAY(display)) {
        Display* x = GDK_DISPLAY_XDISPLAY(display);
        auto host = std::make_unique<Host>();
        const ErrorsIgnored ignored(display);
        host->window = hostWindow(x, pid);
        if (host->window != None) {
            host->gdk.reset(gdk_x11_window_foreign_new_for_display(display, host->window));
            host->hints.reset(XGetWMHints(x, host->window));
            const std::vector<unsigned long> clientLeader =
                property(x, host->window, "WM_CLIENT_LEADER", XA_WINDOW, 1);
            host->leader = host->hints && (host->hints->flags & WindowGroupHint) != 0 ? host->hints->window_group
                           : clientLeader.size() == 1                                  ? clientLeader[0]
                                                                                       : host->window;
        }
        if (host->gdk) {
            g_object_set_data_full(G_OBJECT(dialog), "perivane-host", host.release(),
                                   [](gpointer h) { delete static_cast<Host*>(h); });
        }
    }
    g_signal_connect(dialog, "realize", G_CALLBACK(realized), nullptr);
    g_signal_connect(dialog, "map", G_CALLBACK(mapped), nullptr);
    // After the dialog's own handler, which resizes it to the file chooser's default size.
    GtkWidget* files = fileChooserIn(GTK_WIDGET(dialog));
    if (files != nullptr && g_signal_lookup("default-size-changed", G_OBJECT_TYPE(files)) != 0) {
        g_signal_connect_swapped(files, "default-size-changed", G_CALLBACK(defaultSizeChanged), dialog);
    }
}

}  // namespace perivane::chooser
