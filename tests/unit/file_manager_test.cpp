#include <gtest/gtest.h>

#include <cerrno>

#include "VLPerivaneJNI/FileFlags.h"
#include "platform/file_manager.h"
#include "platform/user_database.h"

using namespace perivane::platform;

TEST(FileManager, ErrorsCarryThePlatformsCodesAndSentences) {
    struct Case {
        int errnum;
        FileOperation op;
        long code;
        const char16_t* text;
    } cases[] = {
        {ENOENT, FileOperation::read, 260,
         u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be opened because there is no such file."},
        {EACCES, FileOperation::read, 257,
         u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be opened because you don\u2019t have permission to view it."},
        {EPERM, FileOperation::read, 257, nullptr},
        {EIO, FileOperation::read, 256, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be opened."},
        {ENOENT, FileOperation::change, 4, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D doesn\u2019t exist."},
        {EPERM, FileOperation::change, 513,
         u"You don\u2019t have permission to save the file \u201Cr\u00e9sum\u00e9.txt\u201D in the folder \u201Cdocs\u201D."},
        {EACCES, FileOperation::change, 513, nullptr},
        {EROFS, FileOperation::change, 642, nullptr},
        {EIO, FileOperation::change, 512, u"The file \u201Cr\u00e9sum\u00e9.txt\u201D couldn\u2019t be saved."},
    };
    for (const Case& c : cases) {
        const NSError e = NSError::fromErrno(c.errnum, u"/home/docs/r\u00e9sum\u00e9.txt", c.op);
        EXPECT_EQ(e.code, c.code) << c.errnum;
        EXPECT_EQ(e.underlyingError, c.errnum);
        if (c.text != nullptr) {
            EXPECT_EQ(e.localizedDescription(), c.text) << c.code;
        }
    }
}

TEST(FileManager, PermissionFlagsCrossAsNineBooleans) {
    using namespace perivane::jni;
    EXPECT_EQ(permissionsFromFlags({1, 1, 1, 1, 0, 1, 1, 0, 0}), 0754);
    EXPECT_EQ(permissionsFromFlags({2, 0x80, 0xFF, 1, 1, 1, 1, 1, 1}), 0777)
        << "any nonzero byte is true";
    EXPECT_EQ(permissionsFromFlags({}), 0);
    EXPECT_EQ(flagsFromPermissions(0754), (PermissionFlags{1, 1, 1, 1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(flagsFromPermissions(04755), (PermissionFlags{1, 1, 1, 1, 0, 1, 1, 0, 1}));
    // Only the nine low bits are reported, whatever sign the 16-bit value has.
    EXPECT_EQ(flagsFromPermissions(static_cast<std::int16_t>(0xFE00)), PermissionFlags{});
    EXPECT_EQ(flagsFromPermissions(-1), (PermissionFlags{1, 1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST(UserDatabase, NamesOfUsersAndGroups) {
    EXPECT_EQ(userName(0), std::optional<std::string>("root"));
    EXPECT_FALSE(userName(4242424)) << "an id without an entry has no name";
    EXPECT_EQ(groupName(0), std::optional<std::string>("root"));
    EXPECT_FALSE(groupName(4242424));
}
