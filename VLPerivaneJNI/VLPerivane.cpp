// The Cocoa half: natives that run their whole body inside the Cocoa bracket and work through
// the platform's Foundation-style objects, converting strings the JavaNativeFoundation way.
#include <jni.h>

#include "NativeFrame.h"

using namespace perivane;
using namespace perivane::jni;

#define NATIVE(ret, name) extern "C" JNIEXPORT ret JNICALL Java_com_veltor_perivane_Perivane_##name

// ---- file-creation mask --------------------------------------------------------------------

// ---- permissions and owner -----------------------------------------------------------------

// ---- running-application check -------------------------------------------------------------

// ---- Dock ----------------------------------------------------------------------------------
