#include "platform/system/gestalt.h"

namespace perivane::platform {

OSErr Gestalt(OSType selector, int32_t* response) {
    if (selector != gestaltSystemVersion) return gestaltUndefSelectorErr;
    if (response != nullptr) *response = 0x1099;
    return noErr;
}

}  // namespace perivane::platform
