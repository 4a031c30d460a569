// The folder chooser's work against views and a panel held in memory, and the messages that
// carry it to the chooser program and back.
#include <gtest/gtest.h>

#include <functional>

#include "VLPerivaneJNI/ChooserWork.h"
#include "platform/exception.h"
#include "platform/run_loop_wire.h"

using namespace perivane;
using namespace perivane::platform;

namespace {

const NSString kEscape = kEscapeKeyEquivalent;

// A view of `cls` named by its title, with a key equivalent and subviews.
std::unique_ptr<MemoryView> view(const std::string& cls, const char* name, NSString key = u"",
                                 std::vector<std::unique_ptr<MemoryView>> subviews = {}) {
    auto v = std::make_unique<MemoryView>(cls);
    v->setTitle(ascii(name));
    v->setKeyEquivalent(std::move(key));
    for (auto& s : subviews) v->add(std::move(s));
    return v;
}

template <typename... V>
std::vector<std::unique_ptr<MemoryView>> views(V... v) {
    std::vector<std::unique_ptr<MemoryView>> out;
    (out.push_back(std::move(v)), ...);
    return out;
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
         view("NSView", "root", u"", views(view("NSView", "box", u"", views(view("NSButton", "deep", kEscape))),
                                           view("NSButton", "shallow", kEscape))),
         "deep"},
        {"a view before its subviews",
         view("NSView", "root", u"", views(view("NSButton", "outer", kEscape, views(view("NSButton", "inner", kEscape))))),
         "outer"},
        {"a subclass does not match",
         view("NSView", "root", u"", views(view("NSPopUpButton", "subclass", kEscape), view("NSButton", "plain", kEscape))),
         "plain"},
        {"a button with another key is searched inside",
         view("NSView", "root", u"", views(view("NSButton", "default", u"\r", views(view("NSButton", "cancel", kEscape))))),
         "cancel"},
        {"only the exact Escape string marks it",
         view("NSView", "root", u"", views(view("NSButton", "doubled", u"\x1b\x1b"), view("NSView", "not a button", kEscape))),
         nullptr},
        {"the root itself", view("NSButton", "root", kEscape), "root"},
    };
    for (Case& c : cases) {
        NSView* found = searchButton(c.tree.get());
        if (c.found == nullptr) {
            EXPECT_EQ(found, nullptr) << c.what;
        } else {
            ASSERT_NE(found, nullptr) << c.what;
            EXPECT_EQ(found->title(), ascii(c.found)) << c.what;
        }
    }
}

TEST(Relayout, KeepsTheRightEdgeAndTheHeight) {
    for (const auto& [fitted, x] : {std::pair{100.0, 280.0}, {60.0, 320.0}, {80.0, 300.0}}) {
        MemoryView button("NSButton", {{300, 12}, {80, 32}});
        button.setFittingWidth(fitted);
        retitleKeepingRightEdge(button, u"Not now");
        EXPECT_EQ(button.title(), u"Not now");
        EXPECT_EQ(button.frame().origin.x, x) << fitted;
        EXPECT_EQ(button.frame().origin.y, 12);
        EXPECT_EQ(button.frame().size.width, fitted);
    }
}

namespace {

// A panel that logs the calls made to it and answers as set.
class LoggingPanel final : public NSOpenPanel {
public:
    std::vector<std::string>* log;
    std::unique_ptr<MemoryView> content;
    long response = NSModalResponseOK;
    std::vector<std::optional<NSString>> urls;

    static std::string text(const std::optional<NSString>& t) { return t ? utf16ToUtf8Lossy(*t) : "nil"; }
    void setAllowsMultipleSelection(bool b) override { log->push_back("multiple " + std::to_string(b)); }
    void setCanChooseFiles(bool b) override { log->push_back("files " + std::to_string(b)); }
    void setCanChooseDirectories(bool b) override { log->push_back("folders " + std::to_string(b)); }
    void setTitle(const std::optional<NSString>& t) override { log->push_back("title " + text(t)); }
    void setPrompt(const std::optional<NSString>& t) override { log->push_back("prompt " + text(t)); }
    NSView& contentView() override { return *content; }
    long runModal() override {
        log->push_back("run, cancel reads " + text(searchButton(content.get()) ? searchButton(content.get())->title() : std::nullopt));
        return response;
    }
    std::vector<std::optional<NSString>> URLs() const override { return urls; }
};

}  // namespace

TEST(ChooserWork, ConfiguresRetitlesRunsAndStoresOnlyAConfirmedPath) {
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
        runChooserWork({u"Pick", std::nullopt, u"Not now"}, slot, [&] {
            auto panel = std::make_unique<LoggingPanel>();
            panel->log = &log;
            panel->content = view("NSView", "content", u"", views(view("NSButton", "Cancel", kEscape)));
            panel->response = c.response;
            panel->urls = c.urls;
            return panel;
        });
        EXPECT_EQ(log, (std::vector<std::string>{"multiple 0", "files 0", "folders 1", "title Pick", "prompt nil",
                                                 "run, cancel reads Not now"}));
        EXPECT_EQ(slot, c.stored);
    }
    // A confirmed panel without any URL raises, as the platform's empty array does.
    std::vector<std::string> log;
    std::optional<NSString> slot;
    EXPECT_THROW(runChooserWork({}, slot, [&] {
                     auto panel = std::make_unique<LoggingPanel>();
                     panel->log = &log;
                     panel->content = view("NSView", "content");
                     return panel;
                 }),
                 NSException);
    EXPECT_EQ(log.back(), "run, cancel reads nil");
}

TEST(RunLoopWire, EveryTextCrossesAsItIsAndNilStaysNil) {
    const CapturedTexts texts{std::nullopt, u"", u"line\nbreak \U0001F4C1", NSString{u'a', char16_t(0xD800), u'\0', u'b'}};
    EXPECT_EQ(decodeRequest(encodeRequest(texts)), texts);
    EXPECT_EQ(decodeRequest(encodeRequest({})), CapturedTexts{});
    for (const MainThreadAnswer& a : {MainThreadAnswer{MainThreadAnswer::Kind::result, u"/a\nb"},
                                      MainThreadAnswer{MainThreadAnswer::Kind::result, std::nullopt},
                                      MainThreadAnswer{MainThreadAnswer::Kind::failure, u"No display."}}) {
        const std::optional<MainThreadAnswer> back = decodeAnswer(encodeAnswer(a));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->kind, a.kind);
        EXPECT_EQ(back->text, a.text);
    }

    // Anything but exactly one message is refused: cut short, trailing bytes, an unknown kind,
    // a count no input could hold.
    const std::string request = encodeRequest(texts), answer = encodeAnswer({MainThreadAnswer::Kind::result, u"/a"});
    EXPECT_FALSE(decodeRequest(request.substr(0, request.size() - 1)));
    EXPECT_FALSE(decodeRequest(request + "x"));
    EXPECT_FALSE(decodeRequest(std::string("\xff\xff\xff\x7f", 4)));
    EXPECT_FALSE(decodeAnswer(answer.substr(0, answer.size() - 1)));
    EXPECT_FALSE(decodeAnswer(answer + "x"));
    EXPECT_FALSE(decodeAnswer("X" + answer.substr(1)));
    EXPECT_FALSE(decodeAnswer(""));
}
