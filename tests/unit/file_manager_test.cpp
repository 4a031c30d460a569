#include <gtest/gtest.h>

#include <cerrno>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/file_manager.h"

using namespace perivane::platform;

// Sentences for missing and forbidden files are checked from Java (FilePermissionsTest).
TEST(FileManager, ErrorsCarryThePlatformsCodesAndSentences) {
    struct Case { int errnum; FileOperation op; long code; const char16_t* text; } cases[] = {
        {ENOENT, FileOperation::read, 260, nullptr},
        {EACCES, FileOperation::read, 257, nullptr},
        {EPERM, FileOperation::read, 257, nullptr},
        {EIO, FileOperation::read, 256, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be opened."},
        {ENOENT, FileOperation::change, 4, nullptr},
        {EPERM, FileOperation::change, 513, nullptr},
        {EACCES, FileOperation::change, 513, nullptr},
        {EROFS, FileOperation::change, 642, nullptr},
        {EIO, FileOperation::change, 512, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be saved."},
    };
    for (const Case& c : cases) {
        const NSError e = NSError::fromErrno(c.errnum, u"/home/docs/r\u00e9sum\u00e9.txt", c.op);
        EXPECT_EQ(e.code, c.code) << c.errnum;
        EXPECT_EQ(e.underlyingError, c.errnum);
        if (c.text != nullptr) { EXPECT_EQ(e.localizedDescription(), c.text) << c.code; }
    }
}

// Java passes only 0 or 1: other jboolean bytes and negative 16-bit modes are checked here.
TEST(FileFlags, JbooleansAndModesAtTheirEdges) {
    using namespace perivane::jni;
    EXPECT_EQ(permissionsFromFlags({2, 0x80, 0xFF, 1, 1, 1, 1, 1, 1}), 0777) << "any nonzero byte is true";
    EXPECT_EQ(flagsFromPermissions(static_cast<std::int16_t>(0xFE00)), PermissionFlags{});
    EXPECT_EQ(flagsFromPermissions(-1), (PermissionFlags{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(finderFlagsWithBundle(0xFFFF, 2), 0xDFFF) << "a byte other than 1 clears the flag";
    EXPECT_EQ(finderFlagsWithBundle(0x2000, 0xFF), 0x0000);
}
