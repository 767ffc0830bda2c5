// The gui context and the recording back end: the slots in order, the
// routines with no back end, and what the recording one logs and answers.
#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"
#include "view/backend/event.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/record/record.hpp"
#include "view/backend/routines.hpp"
#include "view/backend/units.hpp"
#include "view/start.hpp"

using namespace kel;
using namespace kel::test;

namespace {

// The gui context as the global word `gui`, over the back end (null: none).
struct ViewRoutines : WithEnvironment<> {
    void use(const view::routines::Backend* backend) {
        view::start();
        if (backend) {
            view::record::reset();
            view::record::install();
        }
        view::routines::make(backend);
        Cell gui = view::routines::object();
        Cell w = *context::find_or_add_global(symbol::make("gui"));
        word::set(&w, &gui);
        // Faces for the cases: a type and a text.
        eval("win: make object! [type: 'window text: none state: none] "
             "txt: make object! [type: 'text text: {ab^/cdef} state: none] "
             "scr: make object! [type: 'screen text: none state: none]");
    }
    void TearDown() override {
        view::units::scale = 1.0;
        WithEnvironment<>::TearDown();
    }
};

std::string joined_log() {
    std::string s;
    for (const std::string& line : view::record::log()) s += (s.empty() ? "" : "|") + line;
    return s;
}

}  // namespace

TEST_F(ViewRoutines, SlotsInOrder) {
    use(nullptr);
    EXPECT_EQ(eval("words-of gui"),
              "[mouse-event? make-null-handle fetch-all-screens get-current-screen all-windows-closed? "
              "refresh-screens get-screen-size size-text on-change-facet update-text update-font update-para "
              "destroy-view detach-image update-view refresh-window redraw show-window make-view draw-image "
              "draw-face do-event-loop exit-event-loop request-font request-file request-dir text-box-metrics "
              "update-scroller set-dark-mode support-dark-mode? toggle-GPU init version build product]");
    EXPECT_EQ(eval("reduce [gui/mouse-event? gui/update-text gui/draw-image type? :gui/size-text]"),
              "[false none none routine!]");
}

// With no back end every routine raises not-available, after its argument checks.
TEST_F(ViewRoutines, NoBackEndRaisesNotAvailable) {
    use(nullptr);
    for (const char* call : {"gui/make-null-handle", "gui/size-text win none", "gui/do-event-loop true",
                             "gui/exit-event-loop", "gui/support-dark-mode?"})
        EXPECT_EQ(eval(call), "error: not-available") << call;
    EXPECT_EQ(eval("gui/size-text 1 none"), "error: expect-arg");
}

TEST_F(ViewRoutines, RecordedText) {
    use(&view::record::backend);
    struct {
        const char* call;
        const char* answer;
    } cases[] = {
        {"gui/size-text win \"abc\"", "(24, 16)"},
        {"gui/size-text txt none", "(32, 32)"},
        {"gui/size-text txt \"\"", "(0, 16)"},
        {"gui/size-text win \"\u00e9\u00e9\"", "(16, 16)"},
        {"gui/size-text win none", "none"},
        {"gui/size-text win 5", "error: invalid-type"},
    };
    for (const auto& c : cases) EXPECT_EQ(eval(c.call), c.answer) << c.call;
    view::units::scale = 2.0;
    EXPECT_EQ(eval("gui/size-text win \"abcd\""), "(16, 8)");
    EXPECT_EQ(eval("gui/get-screen-size 0"), "640x512");
}

TEST_F(ViewRoutines, RecordedScreens) {
    use(&view::record::backend);
    EXPECT_EQ(eval("gui/fetch-all-screens"), "[[0x0 1280x1024 1.0 handle!]]");
    view::record::set_screens({{0, 0, 1920, 1080, 1.5}, {-800, 0, 800, 600, 1.0}});
    EXPECT_EQ(eval("s: gui/fetch-all-screens reduce [length? s s/2/1 s/1/3 s/2/4 = gui/get-current-screen]"),
              "[2 -800x0 1.5 false]");
    EXPECT_EQ(eval("s/1/4 = gui/get-current-screen"), "true");
}

// The log shows each call with its face types and handles; an update of a
// block checks every value before it updates one, and skips screens.
TEST_F(ViewRoutines, CallsAreLogged) {
    use(&view::record::backend);
    eval("h: gui/make-view win gui/make-null-handle win/state: reduce [h 0 none false] "
         "h2: gui/make-view txt h gui/show-window h gui/update-view reduce [win scr txt] "
         "gui/redraw txt gui/draw-face win [] gui/set-dark-mode win true");
    EXPECT_EQ(joined_log(),
              "make-null-handle|make-view window 1 0|make-view text 2 1|show-window 1|update-view window|"
              "update-view text|redraw text|draw-face window|draw begin window|draw end|set-dark-mode window true");
    view::record::clear_log();
    EXPECT_EQ(eval("gui/update-view reduce [win 1]"), "error: invalid-type");
    EXPECT_EQ(eval("gui/update-view scr"), "none");
    EXPECT_EQ(eval("gui/update-view \"x\""), "error: invalid-type");
    EXPECT_EQ(joined_log(), "");
}

// Queued messages reach system/view/awake as native events whose face is the
// window's; typed text gives key-down then key; a quit ends the loop, and an
// empty queue ends a blocking loop by a throw named empty-queue.
TEST_F(ViewRoutines, EventLoopRunsTheQueue) {
    use(&view::record::backend);
    eval("got: copy [] system/view: make object! [awake: func [e w f] [append got reduce [e/type e/key]]]");
    view::record::queue_text(U"a\U0001F600");
    view::record::queue_quit();
    EXPECT_EQ(eval("gui/do-event-loop false"), "true");
    EXPECT_EQ(eval("got"), "[key-down #\"a\" key #\"a\" key-down #\"\uF600\" key #\"\U0001F600\"]");
    EXPECT_EQ(eval("gui/do-event-loop true"), "false");
    EXPECT_EQ(eval("catch/name [gui/do-event-loop false 'went-on] 'empty-queue"), "none");

    eval("h: gui/make-view win gui/make-null-handle clear got "
         "system/view/awake: func [e w f] [append got reduce [e/type same? e/face win same? e/window win]]");
    view::snapshot::Snapshot s;
    s.window = 1;
    view::record::queue_event(event::code::down, 0, s);
    EXPECT_EQ(eval("gui/do-event-loop true"), "true");
    EXPECT_EQ(eval("got"), "[down true true]");
}

// An owed exit ends one more loop; loops ended by a quit alone never make
// the count negative, so an exit owed later still counts.
TEST_F(ViewRoutines, PendingExitsNeverGoNegative) {
    use(&view::record::backend);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(view::loop::end_blocking());
    EXPECT_EQ(view::loop::pending_exits, 0);
    view::loop::depth = 2;
    eval("gui/destroy-view win true");
    EXPECT_EQ(view::loop::depth, 1);
    EXPECT_EQ(view::loop::pending_exits, 1);
    EXPECT_FALSE(view::loop::end_blocking());
    view::loop::owe_exit();
    view::loop::owe_exit();
    EXPECT_TRUE(view::loop::end_blocking());
}

// A handler that closes the last window (destroy-view with empty? true)
// ends exactly the loop it runs in: the next message stays queued.
TEST_F(ViewRoutines, ClosingTheLastWindowEndsOneLoop) {
    use(&view::record::backend);
    eval("n: 0 system/view: make object! [awake: func [e w f] [n: n + 1 gui/destroy-view win true]]");
    view::record::queue_event(event::code::close, 0, {});
    view::record::queue_event(event::code::close, 0, {});
    EXPECT_EQ(eval("reduce [gui/do-event-loop false n]"), "[true 1]");
    EXPECT_EQ(view::loop::pending_exits, 0);
    EXPECT_EQ(eval("reduce [gui/do-event-loop true n gui/do-event-loop true gui/do-event-loop true]"),
              "[true 2 true false]");
}

// do-events runs the back end's loop for the last window of the first
// screen that has a realised one; a blocking loop marks that window as the
// one whose closing ends it, unless it is marked already.
TEST_F(ViewRoutines, DoEventsMarksTheWindowAndRunsTheLoop) {
    use(&view::record::backend);
    EXPECT_EQ(eval("system/view/screens: reduce [make object! [pane: reduce [win]]] unset? do-events"), "true");
    EXPECT_EQ(eval("win/state: reduce [gui/make-view win gui/make-null-handle 0 none none] do-events/no-wait"),
              "false");
    EXPECT_EQ(eval("win/state/4"), "false");
    view::record::clear_log();
    view::record::queue_quit();
    EXPECT_EQ(eval("win/state/4: true do-events reduce [win/state/4 do-events/no-wait]"), "[true false]");
    eval("stop-events");
    EXPECT_EQ(joined_log(), "do-event-loop false|do-event-loop true|exit-event-loop");
}
