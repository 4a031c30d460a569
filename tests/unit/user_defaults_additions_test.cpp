#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "VLPerivaneJNI/UserDefaultsAdditions.h"
#include "platform/strings.h"
#include "scratch_home.h"

using namespace perivane;
using namespace perivane::additions;
using platform::NSUserDefaults;
using platform::plist::Array;
using platform::plist::Dictionary;
using platform::plist::Integer;
using platform::plist::Value;

namespace {

const std::string kDockFixture = std::string(PERIVANE_FIXTURES) + "/dock/com.apple.dock.plist";
const std::string kDock = "com.apple.dock";

bool add(const std::u16string& path, const std::u16string& name) {
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
    for (const Value& e : *domain->find("persistent-apps")->array()) {
        const Value* v = e.dictionary()->find("tile-data")->dictionary()->find("file-data")
                             ->dictionary()->find("_CFURLString");
        urls.push_back(*v->string());
    }
    return urls;
}

Value entry(const std::string& url, int64_t type) {
    Dictionary fileData;
    fileData.append("_CFURLString", url);
    fileData.append("_CFURLStringType", Integer::fromSigned(type));
    Dictionary tileData;
    tileData.append("file-data", std::move(fileData));
    Dictionary e;
    e.append("tile-type", "file-tile");
    e.append("tile-data", std::move(tileData));
    return e;
}

void writeDock(const ScratchHome& home, Array apps) {
    Dictionary d;
    d.append("version", Integer::fromSigned(1));
    d.append("persistent-apps", std::move(apps));
    home.writeDomainFile(kDock, *platform::plist::toBinary(Value(std::move(d))));
}

// The domain without "persistent-apps": what every operation must leave as it was.
Dictionary otherKeys(const Dictionary& d) {
    Dictionary rest;
    for (const auto& e : d.entries()) {
        if (e.key != "persistent-apps") rest.append(e.key, e.value);
    }
    return rest;
}

}  // namespace

TEST(DockAdditions, PinsAndUnpinsAgainstTheRealDockFile) {
    ScratchHome home;
    home.writeDomainFile(kDock, readWholeFile(kDockFixture));
    const auto original = dockDomain();
    const std::vector<std::string> before = urlStrings();
    ASSERT_EQ(before.size(), 8u);

    // An entry the Dock wrote: found by its URL, so not added twice, and removable.
    const std::string untouched = readWholeFile(home.domainFile(kDock));
    EXPECT_FALSE(add(u"/Applications/Visual Studio Code.app", u"Code"));
    EXPECT_EQ(readWholeFile(home.domainFile(kDock)), untouched);
    EXPECT_TRUE(remove(u"/Applications/Visual Studio Code.app"));
    std::vector<std::string> expected = before;
    std::erase(expected, "file:///Applications/Visual%20Studio%20Code.app/");
    EXPECT_EQ(urlStrings(), expected);
    EXPECT_FALSE(remove(u"/Applications/Visual Studio Code.app"));

    // Our own record: exactly the tile record, last in the list, found again by its path.
    EXPECT_TRUE(add(u"/Applications/Foo Bar.app", u"Foo Bar"));
    const auto domain = dockDomain();
    const Array& apps = *domain->find("persistent-apps")->array();
    EXPECT_EQ(apps.back(), dock::tileRecord("/Applications/Foo Bar.app", "Foo Bar"));
    const std::string record = *platform::plist::toXml(apps.back());
    EXPECT_NE(record.find("<key>_CFURLStringType</key>\n\t\t\t<integer>0</integer>"), std::string::npos);
    EXPECT_FALSE(add(u"/Applications/Foo Bar.app", u"Foo Bar"));
    EXPECT_FALSE(add(u"/Applications/Foo Bar.app", u"Another label"));
    EXPECT_TRUE(remove(u"/Applications/Foo Bar.app"));
    EXPECT_EQ(urlStrings(), expected);

    // Every other key, and every other entry, is as the Dock wrote it.
    const auto after = dockDomain();
    EXPECT_EQ(otherKeys(*after), otherKeys(*original));
    EXPECT_EQ(after->entries().size(), original->entries().size());
    for (size_t i = 0; i < after->entries().size(); ++i) {
        EXPECT_EQ(after->entries()[i].key, original->entries()[i].key);
    }
    const Array& was = *original->find("persistent-apps")->array();
    const Array& now = *after->find("persistent-apps")->array();
    ASSERT_EQ(now.size() + 1, was.size());
    size_t k = 0;
    for (const Value& e : was) {
        if (*e.dictionary()->find("tile-data")->dictionary()->find("file-label") == Value("Visual Studio Code")) continue;
        EXPECT_EQ(now[k++], e);
    }
}

TEST(DockAdditions, MatchesBySubstringAndRemovesEveryMatchInOrder) {
    ScratchHome home;
    writeDock(home, {entry("file:///Applications/Foo.app/", 15), entry("file:///Applications/Bar.app/", 15),
                     entry("file:///Applications/Foo.app/Contents/MacOS/", 15), entry("file:///Applications/Baz.app/", 15),
                     entry("FILE:///Applications/Foo.app/", 15), entry("file:///Applications/Foo.app/", 15)});
    // Adding a folder of a listed item: its URL is inside the entry's.
    EXPECT_FALSE(add(u"/Applications", u"Applications"));
    EXPECT_TRUE(remove(u"/Applications/Foo.app"));
    // Case counts: the upper-case scheme stays.
    EXPECT_EQ(urlStrings(), (std::vector<std::string>{"file:///Applications/Bar.app/", "file:///Applications/Baz.app/",
                                                       "FILE:///Applications/Foo.app/"}));
}

TEST(DockAdditions, PlainPathRecordsMatchByTheirPathInFormC) {
    ScratchHome home;
    writeDock(home, {entry("/Applications/Cafe\u0301.app", 0), entry("/Applications/Other.app", 15),
                     entry("/Applications/Other.app/Contents", 0), entry("file:///Applications/Keep.app/", 15)});
    EXPECT_FALSE(add(u"/Applications/Caf\u00e9.app", u"Caf\u00e9"));  // listed in Form D already
    // A type-15 entry holding a plain path is no URL, and a longer type-0 path is not ours.
    EXPECT_TRUE(add(u"/Applications/Other.app", u"Other"));
    EXPECT_TRUE(remove(u"/Applications/Caf\u00e9.app"));
    EXPECT_EQ(urlStrings(), (std::vector<std::string>{"/Applications/Other.app", "/Applications/Other.app/Contents",
                                                       "file:///Applications/Keep.app/", "/Applications/Other.app"}));
    EXPECT_TRUE(remove(u"/Applications/Other.app"));
    EXPECT_EQ(urlStrings(), (std::vector<std::string>{"/Applications/Other.app", "/Applications/Other.app/Contents",
                                                       "file:///Applications/Keep.app/"}));
}

TEST(DockAdditions, LocalhostIsRemovedOnlyAsTheHost) {
    EXPECT_EQ(dock::withoutLoopbackHost(u"file://localhost/Applications/A.app/"), u"file:///Applications/A.app/");
    EXPECT_EQ(dock::withoutLoopbackHost(u"file:///Users/me/localhost-tools.app/"),
              u"file:///Users/me/localhost-tools.app/");
    ScratchHome home;
    writeDock(home, {entry("file:///Users/me/localhost-tools.app/", 15), entry("file:///Users/me/tools.app/", 15)});
    EXPECT_TRUE(remove(u"/Users/me/localhost-tools.app"));
    EXPECT_EQ(urlStrings(), std::vector<std::string>{"file:///Users/me/tools.app/"});
}

TEST(DockAdditions, AddAndRemoveMakeTheSameTileStringForAccentedNames) {
    for (const std::u16string& path :
         {std::u16string(u"/Applications/Caf\u00e9.app"), std::u16string(u"/Applications/Cafe\u0301.app"),
          std::u16string(u"/Appl\u00efcations/Caf\u00e9.app"), std::u16string(u"/\u00c5/\ud55c.app")}) {
        EXPECT_EQ(dock::tileURLStringForAdding(path).value() + u"/", dock::tileURLStringForRemoving(path));
    }
    EXPECT_EQ(dock::tileURLStringForRemoving(u"/Applications/Caf\u00e9.app"), u"file:///Applications/Cafe%CC%81.app/");
    // A bare name and an item at the root rebuild as "/name/".
    EXPECT_EQ(dock::tileURLStringForRemoving(u"Foo.app"), u"file:///Foo.app/");
    EXPECT_EQ(dock::tileURLStringForRemoving(u"/Foo.app"), u"file:///Foo.app/");

    ScratchHome home;
    writeDock(home, {entry("file:///Applications/Cafe%CC%81.app/", 15), entry("file:///Foo.app/", 15)});
    EXPECT_FALSE(add(u"/Applications/Caf\u00e9.app", u"Caf\u00e9"));
    EXPECT_TRUE(remove(u"/Applications/Caf\u00e9.app"));
    EXPECT_TRUE(remove(u"/Foo.app"));
    EXPECT_TRUE(urlStrings().empty());
}

TEST(DockAdditions, NeverWritesADomainItCouldNotRead) {
    ScratchHome home;
    // No domain at all: nothing is created.
    EXPECT_FALSE(add(u"/Applications/A.app", u"A"));
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_FALSE(std::filesystem::exists(home.domainFile(kDock)));

    for (const std::string& bytes :
         {std::string("bplist00 damaged"), std::string("<plist><array/></plist>"),
          std::string("<plist><dict><key>persistent-apps</key><string>x</string></dict></plist>")}) {
        home.writeDomainFile(kDock, bytes);
        EXPECT_FALSE(add(u"/Applications/A.app", u"A"));
        EXPECT_FALSE(remove(u"/Applications/A.app"));
        EXPECT_EQ(readWholeFile(home.domainFile(kDock)), bytes);
    }

    // A domain without "persistent-apps": the add makes the array, the removal finds nothing.
    home.writeDomainFile(kDock, "<plist><dict><key>autohide</key><true/></dict></plist>");
    EXPECT_FALSE(remove(u"/Applications/A.app"));
    EXPECT_TRUE(readWholeFile(home.domainFile(kDock)).starts_with("<plist>"));
    EXPECT_TRUE(add(u"/Applications/A.app", u"A"));
    const auto d = dockDomain();
    ASSERT_EQ(d->size(), 2u);
    EXPECT_EQ(d->entries()[0].key, "autohide");
    EXPECT_EQ(*d->find("persistent-apps"), Value(Array{dock::tileRecord("/Applications/A.app", "A")}));

    // Texts with no stored form are refused before anything is read.
    const std::string now = readWholeFile(home.domainFile(kDock));
    EXPECT_FALSE(add(std::u16string(u"/Applications/B\0.app", 20), u"B"));
    EXPECT_FALSE(add(u"/Applications/B.app", std::u16string(u"B\0", 2)));
    EXPECT_FALSE(add(u"/Applications/B.app", std::u16string{u'B', char16_t(0xDC00)}));
    EXPECT_FALSE(remove(std::u16string(u"/Applications/A.app\0", 20)));
    EXPECT_EQ(readWholeFile(home.domainFile(kDock)), now);
}

TEST(DockAdditions, ConcurrentPinsLoseNothing) {
    ScratchHome home;
    home.writeDomainFile(kDock, readWholeFile(kDockFixture));
    const size_t before = urlStrings().size();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 12; ++i) {
                const std::string path = "/Applications/T" + std::to_string(t) + "-" + std::to_string(i) + ".app";
                add(platform::utf8ToUtf16Lossy(path), u"x");
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const std::vector<std::string> urls = urlStrings();
    EXPECT_EQ(urls.size(), before + 96u);
    for (int t = 0; t < 8; ++t) {
        for (int i = 0; i < 12; ++i) {
            const std::string path = "/Applications/T" + std::to_string(t) + "-" + std::to_string(i) + ".app";
            EXPECT_EQ(std::count(urls.begin(), urls.end(), path), 1) << path;
        }
    }
}
