// perivane-chooser: the main thread that the library's folder chooser runs on. The library
// starts it for each getFolder call with the request on descriptor kMainThreadChannel (see
// platform/dialog/run_loop_wire.h); it runs the chooser work against a GTK dialog and answers on
// the same descriptor. "--debug" prints the dialog's view tree to standard error once it is shown.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "VLPerivaneJNI/ChooserWork.h"
#include "chooser/gtk_open_panel.h"
#include "platform/base/exception.h"
#include "platform/dialog/run_loop_wire.h"

using namespace perivane;
using platform::MainThreadAnswer;

namespace {

std::string readRequest() {
    std::string request;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(platform::kMainThreadChannel, buffer, sizeof buffer);
        if (n > 0) {
            request.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return request;
        }
    }
}

void writeAnswer(const std::string& answer) {
    for (size_t done = 0; done < answer.size();) {
        const ssize_t n =
            ::send(platform::kMainThreadChannel, answer.data() + done, answer.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the caller is gone: nobody is left to tell
        done += static_cast<size_t>(n);
    }
}

MainThreadAnswer failure(const char* reason) {
    return {MainThreadAnswer::Kind::failure, platform::ascii(reason)};
}

MainThreadAnswer runWork(const ChooserTexts& texts, int& argc, char**& argv, bool debug, pid_t host) {
    // The host's windows are X11 windows (the JVM's toolkit speaks X11, under Xwayland too): with
    // an X display at hand, the dialog is an X11 window as well, so that it can belong to them.
    const char* x11 = g_getenv("DISPLAY");
    if (x11 != nullptr && *x11 != '\0') gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) return failure("The folder chooser cannot open a display.");
    // The caller closing its end means it has gone (the host process ended): so does the
    // dialog, rather than wait for a user answer nobody will read.
    g_unix_fd_add(platform::kMainThreadChannel, G_IO_HUP, [](gint, GIOCondition, gpointer) -> gboolean { _exit(1); },
                  nullptr);
    try {
        std::optional<NSString> result;
        runChooserWork(texts, result, [debug, host] { return std::make_unique<chooser::GtkOpenPanel>(debug, host); });
        return {MainThreadAnswer::Kind::result, result};
    } catch (const platform::NSException& e) {
        return {MainThreadAnswer::Kind::failure, platform::utf8ToUtf16Lossy(e.reasonText())};
    }
}

}  // namespace

int main(int argc, char** argv) {
    const pid_t host = ::getppid();  // the process that called getFolder started this one
    ::close(platform::kProgramDescriptor);  // this program's own file, which it was started from
    const bool debug = argc > 1 && std::string_view(argv[1]) == "--debug";
    // Programs that GTK may start must not hold the channel: the caller takes its closing as
    // this program's end.
    if (::fcntl(platform::kMainThreadChannel, F_SETFD, FD_CLOEXEC) != 0) return 2;
    const std::optional<platform::CapturedTexts> captured = platform::decodeRequest(readRequest());
    const std::optional<ChooserTexts> texts = captured ? ChooserTexts::fromCaptured(*captured) : std::nullopt;
    if (!texts) {
        writeAnswer(platform::encodeAnswer(failure("The folder chooser received a malformed request.")));
        return 2;
    }
    const MainThreadAnswer answer = runWork(*texts, argc, argv, debug, host);
    writeAnswer(platform::encodeAnswer(answer));
    return answer.kind == MainThreadAnswer::Kind::failure ? 1 : 0;
}
