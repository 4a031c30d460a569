// The dialog belongs to the application that asked for it: the top-level window of the calling
// process, found on X11, which the JVM's toolkit uses (under Xwayland too).
#pragma once

#include <gtk/gtk.h>
#include <sys/types.h>

namespace perivane::chooser {

// Prepares `dialog`, before it is shown, to appear for the process `host`. Its default size is
// at most 80% of the width and height of the work area of the monitor it appears on (at least
// GTK's minimum, never beyond the work area), and it skips the task list and pager. On X11,
// when that process has a window (the active one, else the most recently stacked; with no
// window manager, the topmost window on screen), the dialog is transient for it, centred on it
// within the work area, in its window group, with its WM_CLASS and icon. When it is mapped it
// takes the keyboard focus, itself when no window manager runs.
void prepareForHost(GtkWindow* dialog, pid_t host);

}  // namespace perivane::chooser
