// The folder chooser's work against views and a panel held in memory.
#include <gtest/gtest.h>

#include "VLPerivaneJNI/ChooserWork.h"
#include "platform/base/exception.h"

using namespace perivane;
using namespace perivane::platform;

namespace {

const NSString kEsc = kEscapeKeyEquivalent;

// A view of class `cls` named by its title, with a key equivalent and subviews.
template <typename... Subviews>
std::unique_ptr<MemoryView> view(const std::string& cls, const char* name, NSString key, Subviews... subviews) {
    auto v = std::make_unique<MemoryView>(cls);
    v->setTitle(ascii(name));
    v->setKeyEquivalent(std::move(key));
    (v->add(std::move(subviews)), ...);
    return v;
}

}  // namespace

TEST(SearchButton, FindsThePlainEscapeButtonFirstInPreOrder) {
    struct Case {
        const char* what;
        std::unique_ptr<MemoryView> tree;
        const char* found;  // the found view's title, or null
    };
    Case cases[] = {
        {"a subview's whole subtree before the next subview",
         view("NSView", "root", u"", view("NSView", "box", u"", view("NSButton", "deep", kEsc)),
              view("NSButton", "next", kEsc)),
         "deep"},
        {"a view before its subviews", view("NSButton", "outer", kEsc, view("NSButton", "inner", kEsc)), "outer"},
        {"a subclass does not match",
         view("NSView", "root", u"", view("NSPopUpButton", "subclass", kEsc), view("NSButton", "plain", kEsc)),
         "plain"},
        {"a button with another key is searched inside",
         view("NSView", "root", u"", view("NSButton", "default", u"\r", view("NSButton", "cancel", kEsc))), "cancel"},
        {"only the exact Escape string on a button marks it",
         view("NSView", "root", u"", view("NSButton", "doubled", u"\x1b\x1b"), view("NSView", "not a button", kEsc)),
         nullptr},
    };
    for (Case& c : cases) {
        NSView* found = searchButton(c.tree.get());
        const std::optional<NSString> expected = c.found ? std::optional(ascii(c.found)) : std::nullopt;
        EXPECT_EQ(found ? found->title() : std::nullopt, expected) << c.what;
    }
}

TEST(Relayout, KeepsTheRightEdgeAndTheHeight) {
    for (const auto& [fitted, x] : {std::pair{100.0, 280.0}, {60.0, 320.0}}) {
        MemoryView button("NSButton", {{300, 12}, {80, 32}});
        button.setFittingWidth(fitted);
        retitleKeepingRightEdge(button, u"Not now");
        EXPECT_EQ(button.title(), u"Not now");
        EXPECT_EQ(button.frame().origin.x, x) << fitted;
        EXPECT_EQ(button.frame().origin.y, 12);
    }
}

namespace {

// A panel that logs what is asked of it and answers as set.
struct LoggingPanel final : NSOpenPanel {
    std::vector<std::string>& log;
    std::unique_ptr<MemoryView> content = view("NSView", "content", u"", view("NSButton", "Cancel", kEsc));
    long response;
    std::vector<std::optional<NSString>> urls;

    LoggingPanel(std::vector<std::string>& log, long response, std::vector<std::optional<NSString>> urls)
        : log(log), response(response), urls(std::move(urls)) {}
    void note(const std::string& what, const std::optional<NSString>& text) {
        log.push_back(what + (text ? utf16ToUtf8Lossy(*text) : "nil"));
    }
    void setAllowsMultipleSelection(bool b) override { log.push_back("multiple " + std::to_string(b)); }
    void setCanChooseFiles(bool b) override { log.push_back("files " + std::to_string(b)); }
    void setCanChooseDirectories(bool b) override { log.push_back("folders " + std::to_string(b)); }
    void setTitle(const std::optional<NSString>& t) override { note("title ", t); }
    void setPrompt(const std::optional<NSString>& t) override { note("prompt ", t); }
    NSView& contentView() override { return *content; }
    long runModal() override { return note("run, cancel reads ", content->subviews()[0]->title()), response; }
    std::vector<std::optional<NSString>> URLs() const override { return urls; }
};

}  // namespace

TEST(ChooserWork, ConfiguresRetitlesRunsAndStoresOnlyAConfirmedFilePath) {
    struct Case {
        long response;
        std::vector<std::optional<NSString>> urls;
        std::optional<NSString> stored;
    };
    const Case cases[] = {
        {NSModalResponseOK, {u"/home/u/Caf\u00e9", u"/other"}, u"/home/u/Caf\u00e9"},
        {0, {u"/home/u"}, std::nullopt},                     // cancelled
        {NSModalResponseOK, {std::nullopt}, std::nullopt},  // a URL without a file path
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        std::optional<NSString> slot;
        runChooserWork({u"Pick", std::nullopt, u"Not now"}, slot,
                       [&] { return std::make_unique<LoggingPanel>(log, c.response, c.urls); });
        EXPECT_EQ(log, (std::vector<std::string>{"multiple 0", "files 0", "folders 1", "title Pick", "prompt nil",
                                                 "run, cancel reads Not now"}));
        EXPECT_EQ(slot, c.stored);
    }
    // A confirmed panel without any URL raises, as the platform's empty array does.
    std::vector<std::string> log;
    std::optional<NSString> slot;
    const auto noUrls = [&] {
        return std::make_unique<LoggingPanel>(log, NSModalResponseOK, std::vector<std::optional<NSString>>{});
    };
    EXPECT_THROW(runChooserWork({}, slot, noUrls), NSException);
    EXPECT_EQ(log.back(), "run, cancel reads Cancel");  // a nil cancel text leaves the button's own
}
