// JNFRunLoop (JavaNativeFoundation): running a block on the main thread and waiting for it.
//
// The main thread that modal work runs on is the main thread of the chooser program,
// perivane-chooser, which sits in the folder the library was loaded from and is opened and
// checked when the library is loaded. Each call starts it afresh from that descriptor
// (posix_spawn, an argument vector, no shell), hands it the block's captured texts, waits for
// its answer and reaps it. GTK runs there and never in the host process: a host whose toolkit
// has loaded another GTK would deadlock, and GTK's process-wide state does not belong in a JVM.
// Several threads may call at once; they are served one at a time, in the order they came.
//
// The program gets the caller's environment with NO_AT_BRIDGE=1 (no accessibility bus to look
// for). Its standard error goes nowhere unless PERIVANE_CHOOSER_DEBUG is set to a non-empty
// value: then it goes to the caller's standard error, and the program also prints the dialog's
// view tree once it is shown.
#pragma once

#include <optional>

#include "platform/dialog/run_loop_wire.h"
#include "platform/base/strings.h"

namespace perivane::platform {

// A block as it crosses to the main thread: the texts it captured, in order, and the slot it
// stores its result in (written at most once, only when the block stored one).
struct MainThreadBlock {
    CapturedTexts captured;
    std::optional<NSString>* result;
};

class JNFRunLoop {
public:
    // performOnMainThreadWaiting:YES withBlock: runs the block on the main thread and returns
    // once it has finished, after the blocks of earlier calls. Raises NSException when the
    // chooser program could not be opened, was refused (see run_loop.cpp) or cannot be started,
    // when it reports that the block could not run (no display, GTK not starting, a platform
    // exception inside the block), and when it ends without an answer (killed, crashed). The
    // program is always reaped before this returns or raises.
    static void performOnMainThreadWaiting(const MainThreadBlock& block);
};

}  // namespace perivane::platform
