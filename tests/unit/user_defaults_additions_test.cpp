// Matching and the guards of the Dock category. Pinning against the real Dock file, the exact
// record, and concurrent writers are tested through the natives in DockTest.java.
#include <gtest/gtest.h>

#include <filesystem>

#include "VLPerivaneJNI/UserDefaultsAdditions.h"
#include "scratch_home.h"

using namespace perivane::additions;
using namespace perivane::platform::plist;
using perivane::platform::NSUserDefaults;

namespace {

const std::string kDock = "com.apple.dock";

bool add(const std::u16string& path, const std::u16string& name = u"label") {
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    return addApplicationToDock(defaults, path, name);
}

bool remove(const std::u16string& path) {
    NSUserDefaults defaults = NSUserDefaults::standardUserDefaults();
    return removeApplicationFromDock(defaults, path);
}

std::shared_ptr<const Dictionary> dockDomain() {
    return NSUserDefaults::standardUserDefaults().persistentDomainForName(kDock);
}

std::vector<std::string> urlStrings() {
    std::vector<std::string> urls;
    const auto domain = dockDomain();
    if (!domain) return {"(no readable domain)"};
    for (const Value& e : *domain->find("persistent-apps")->array()) {
        urls.push_back(*e.dictionary()->find("tile-data")->dictionary()->find("file-data")->dictionary()
                            ->find("_CFURLString")->string());
    }
    return urls;
}

Value entry(const std::string& url, int64_t type = 15) {
    Dictionary fileData, tileData, e;
    fileData.append("_CFURLString", url);
    fileData.append("_CFURLStringType", Integer::fromSigned(type));
    tileData.append("file-data", std::move(fileData));
    e.append("tile-type", "file-tile");
    e.append("tile-data", std::move(tileData));
    return e;
}

void writeDock(const ScratchHome& home, Array apps) {
    Dictionary d;
    d.append("version", Integer::fromSigned(1));
    d.append("persistent-apps", std::move(apps));
    home.writeDomainFile(kDock, *toBinary(Value(std::move(d))));
}

}  // namespace

// Each case: the Dock's entries, adds (+) and removals (-) with the answers they must give, and
// the URL strings left afterwards.
TEST(DockAdditions, MatchesWhatTheDockAndTheAddWrote) {
    struct Op { char kind; std::u16string path; bool answer; };
    struct Case { const char* what; Array apps; std::vector<Op> ops; std::vector<std::string> left; };
    const std::vector<Case> cases = {
        {"a substring, case-sensitive; every match removed, order kept; \"localhost\" in a path kept",
         {entry("file:///Applications/Foo.app/"), entry("file:///Applications/Bar.app/"),
          entry("file:///Applications/Foo.app/Contents/MacOS/"), entry("file:///Users/me/localhost-tools.app/"),
          entry("FILE:///Applications/Foo.app/"), entry("file:///Applications/Foo.app/")},
         {{'+', u"/Applications", false}, {'-', u"/Applications/Foo.app", true},
          {'-', u"/Users/me/localhost-tools.app", true}},
         {"file:///Applications/Bar.app/", "FILE:///Applications/Foo.app/"}},
        // A type-15 entry holding a plain path is no URL, and a longer type-0 path is not ours.
        {"plain-path records match by their whole path in Form C",
         {entry("/Applications/Cafe\u0301.app", 0), entry("/Applications/Other.app"),
          entry("/Applications/Other.app/Contents", 0), entry("file:///Applications/Keep.app/")},
         {{'+', u"/Applications/Caf\u00e9.app", false}, {'+', u"/Applications/Other.app", true},
          {'-', u"/Applications/Caf\u00e9.app", true}, {'-', u"/Applications/Other.app", true}},
         {"/Applications/Other.app", "/Applications/Other.app/Contents", "file:///Applications/Keep.app/"}},
        {"accented names decompose alike for add and remove; an item at the root",
         {entry("file:///Applications/Cafe%CC%81.app/"), entry("file:///Foo.app/")},
         {{'+', u"/Applications/Caf\u00e9.app", false}, {'-', u"/Applications/Caf\u00e9.app", true},
          {'-', u"/Foo.app", true}},
         {}},
    };
    for (const Case& c : cases) {
        ScratchHome home;
        writeDock(home, c.apps);
        for (const Op& op : c.ops) {
            EXPECT_EQ(op.kind == '+' ? add(op.path) : remove(op.path), op.answer) << c.what << ": " << op.kind;
        }
        EXPECT_EQ(urlStrings(), c.left) << c.what;
    }
}

TEST(DockAdditions, TileStringsOfAddAndRemoveAgree) {
    for (const std::u16string path : {u"/Applications/Caf\u00e9.app", u"/Applications/Cafe\u0301.app",
                                      u"/Appl\u00efcations/Caf\u00e9.app", u"/\u00c5/\ud55c.app"}) {
        EXPECT_EQ(dock::tileURLStringForAdding(path).value() + u"/", dock::tileURLStringForRemoving(path));
    }
    EXPECT_EQ(dock::tileURLStringForRemoving(u"Foo.app"), u"file:///Foo.app/");  // a bare name: "/Foo.app/"
    EXPECT_EQ(dock::withoutLoopbackHost(u"file://localhost/A.app/"), u"file:///A.app/");
}

TEST(DockAdditions, NeverWritesADomainItCouldNotRead) {
    ScratchHome home;
    EXPECT_FALSE(add(u"/Applications/A.app"));
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_FALSE(std::filesystem::exists(home.preferences()));  // not even the folder or a lock file
    for (const std::string bytes : {"bplist00 damaged", "<plist><array/></plist>",
                                    "<plist><dict><key>persistent-apps</key><string>x</string></dict></plist>"}) {
        home.writeDomainFile(kDock, bytes);
        EXPECT_FALSE(add(u"/Applications/A.app"));
        EXPECT_FALSE(remove(u"/Applications/A.app"));
        EXPECT_EQ(readWholeFile(home.domainFile(kDock)), bytes);
    }
}

TEST(DockAdditions, ADomainWithoutAppsGetsTheArrayOnTheFirstAdd) {
    ScratchHome home;
    home.writeDomainFile(kDock, "<plist><dict><key>autohide</key><true/></dict></plist>");
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_TRUE(readWholeFile(home.domainFile(kDock)).starts_with("<plist>"));  // not rewritten
    EXPECT_TRUE(add(u"/Applications/A.app", u"A"));
    const auto d = dockDomain();
    ASSERT_EQ(d->size(), 2u);
    EXPECT_EQ(d->entries()[0].key, "autohide");
    EXPECT_EQ(*d->find("persistent-apps"), Value(Array{dock::tileRecord("/Applications/A.app", "A")}));
}
