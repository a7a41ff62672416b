// The trace callback: its event filter, the six events with their
// arguments, and what the callback's answers and moves of its `input`
// argument do to a run.
#include <functional>
#include <sstream>

#include "lexer_test_support.h"
#include "runtime/datatypes/function.h"

namespace zan::test {
namespace {

struct Event {
    std::string name;
    u32 index;
    std::string type;
    i32 line;
    std::string token;
};

std::string describe(const Event& e) {
    std::ostringstream os;
    os << e.name << " " << e.index << " " << e.type << " " << e.line << " " << e.token;
    return os.str();
}

// What the stand-in evaluator does for each call: the answer, and a new
// index for `input` (or -1 to leave it).
struct Policy {
    std::function<bool(const Event&)> answer = [](const Event&) { return true; };
    std::function<i64(const Event&)> move = [](const Event&) { return -1; };
    std::function<void(const Event&)> side = [](const Event&) {};
};

std::vector<Event>& events() {
    static std::vector<Event> e;
    return e;
}
Policy& policy() {
    static Policy p;
    return p;
}
u32& frame_cells() {
    static u32 n;
    return n;
}

// The evaluator's call of a function whose frame the lexer has opened.
void stand_in_call(ValueCell* fn, Node ctx, ValueCell* name, u32 callback_bit) {
    ValueCell* base = g_stack.base;
    frame_cells() = static_cast<u32>(g_stack.top - base);
    Event e{symbol_to_cstr(base[0].data2), base[1].data1, render(&base[2]),
            integer_get(&base[3]), render(&base[4])};
    events().push_back(e);
    policy().side(e);
    i64 to = policy().move(e);
    if (to >= 0) base[1].data1 = static_cast<u32>(to);
    logic_box(&base[0], policy().answer(e));
}

class EventsTest : public LexerTest {
protected:
    void SetUp() override {
        LexerTest::SetUp();
        events().clear();
        policy() = Policy{};
        g_interp_hooks.call_function = stand_in_call;
    }

    // A function! with the callback's five arguments (and more spec when
    // given) and the given body; kept on the data stack.
    static ValueCell* callback(const std::string& body, const std::string& more_spec = "") {
        ValueCell* spec = load_cell("event input type line token " + more_spec);
        ValueCell* blk = load_cell(body);
        function_create(spec, blk, 0, 0, 0, 0);
        return g_stack.top - 1;
    }

    static std::string load_traced(const std::string& src, const ValueCell* cb) {
        ValueCell* input = string_load_push(src.data(), static_cast<u32>(src.size()), 0);
        ValueCell* out = none_push();
        lexer_scan_string(out, input, -1, false, true, true, 0, nullptr, cb, nullptr);
        return render_cells(out, " ");
    }

    static std::vector<std::string> trace() {
        std::vector<std::string> out;
        for (const Event& e : events()) out.push_back(describe(e));
        return out;
    }
};

TEST_F(EventsTest, TheBodysLeadingBlockSelectsTheEvents) {
    EXPECT_EQ(lexer_trace_mask(callback("[error] true")), LEX_EVENT_ERROR);
    EXPECT_EQ(lexer_trace_mask(callback("[load open] true")), LEX_EVENT_LOAD | LEX_EVENT_OPEN);
    EXPECT_EQ(lexer_trace_mask(callback("[prescan scan close] true")),
              LEX_EVENT_PRESCAN | LEX_EVENT_SCAN | LEX_EVENT_CLOSE);
    EXPECT_EQ(lexer_trace_mask(callback("[bogus] true")), 0u);
    EXPECT_EQ(lexer_trace_mask(callback("true")), static_cast<u32>(LEX_EVENT_ALL));
    EXPECT_EQ(lexer_trace_mask(callback("")), static_cast<u32>(LEX_EVENT_ALL));
}

TEST_F(EventsTest, ALoadReportsEveryEventInOrder) {
    EXPECT_EQ(load_traced("[a 1]", callback("true")), "[a 1]");
    std::vector<std::string> expected = {
        "prescan 0 none 1 1x1",
        "open 0 block! 1 1x2",
        "prescan 2 word! 1 2x3",
        "scan 2 word! 1 2x3",
        "load 2 word! 1 a",
        "prescan 4 integer! 1 4x5",
        "scan 4 integer! 1 4x5",
        "load 4 integer! 1 1",
        "prescan 4 none 1 5x5",
        "close 5 block! 1 5x6",
    };
    EXPECT_EQ(trace(), expected);
    // The frame holds the five arguments.
    EXPECT_EQ(frame_cells(), 5u);
}

TEST_F(EventsTest, LinesAndPositionsFollowTheText) {
    load_traced("a\n  b", callback("[load] true"));
    std::vector<std::string> expected = {"load 1 word! 1 a", "load 5 word! 2 b"};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, PositionsCountCodePointsFromTheStringIndex) {
    std::string src = "x \xC3\xA9t\xC3\xA9 b";
    ValueCell* cb = callback("[scan] true");
    ValueCell* input = string_load_push(src.data(), static_cast<u32>(src.size()), 0);
    input->data1 = 2;
    ValueCell* out = none_push();
    lexer_scan_string(out, input, -1, false, true, true, 0, nullptr, cb, nullptr);
    std::vector<std::string> expected = {"scan 5 word! 1 3x6", "scan 7 word! 1 7x8"};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, UntypedTokensAreNamedFromTheExitStates) {
    ValueCell* states = load_cell("eof error! block! block! paren! paren! string!");
    static ValueCell* held;
    held = states;
    g_lexer_hooks.exit_states = [] { return static_cast<const ValueCell*>(held); };
    load_traced("[]", callback("[prescan] true"));
    std::vector<std::string> expected = {"prescan 0 block! 1 1x1", "prescan 1 block! 1 2x2"};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, BracedStringsOpenAndClose) {
    EXPECT_EQ(load_traced("{a{b}}", callback("[open close load] true")), "\"a{b}\"");
    std::vector<std::string> expected = {"open 0 string! 1 1x2", "close 6 string! 1 1x7",
                                         "load 6 string! 1 \"a{b}\""};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, RefusingAScanDropsTheValue) {
    policy().answer = [](const Event& e) { return !(e.name == "scan" && e.type == "integer!"); };
    EXPECT_EQ(load_traced("a 1 b 2", callback("[scan] true")), "a b");
}

TEST_F(EventsTest, RefusingALoadRemovesTheValue) {
    policy().answer = [](const Event& e) { return e.token != "b"; };
    EXPECT_EQ(load_traced("a b [c b]", callback("[load] true")), "a [c]");
}

TEST_F(EventsTest, RefusingAPrescanSkipsTheToken) {
    policy().answer = [](const Event& e) { return e.type != "integer!"; };
    EXPECT_EQ(load_traced("a 1 b <c>", callback("[prescan] true")), "a b <c>");
    policy().answer = [](const Event& e) { return e.type != "tag!"; };
    EXPECT_EQ(load_traced("a <c> b", callback("[prescan] true")), "a b");
}

TEST_F(EventsTest, RefusingAnOpeningKeepsTheContentsOutside) {
    policy().answer = [](const Event& e) { return e.name != "open"; };
    EXPECT_EQ(load_traced("a (b c", callback("[open] true")), "a b c");
}

TEST_F(EventsTest, RefusingAClosingLeavesTheSeriesOpen) {
    policy().answer = [](const Event& e) { return e.name != "close"; };
    RaisedError e = error_of([&] { load_traced("[a]", callback("[close] true")); });
    EXPECT_EQ(e.id, Err::syntax_missing);
}

TEST_F(EventsTest, ErrorEventTrueRaises) {
    RaisedError e = error_of([&] { load_traced("a 1a", callback("[error] true")); });
    EXPECT_EQ(e.id, Err::syntax_invalid);
    std::vector<std::string> expected = {"error 3 integer! 1 3x4"};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, ErrorEventFalseSkipsFromTheMovedPosition) {
    // Like a tracer: move one character on and go on.
    policy().answer = [](const Event&) { return false; };
    policy().move = [](const Event& e) { return static_cast<i64>(e.index) + 1; };
    EXPECT_EQ(load_traced("a } b \\ c", callback("[error] true")), "a b c");
    std::vector<std::string> expected = {"error 2 error! 1 3x3", "error 6 error! 1 7x7"};
    EXPECT_EQ(trace(), expected);
}

TEST_F(EventsTest, ErrorEventFalseWithoutAMoveStillMovesOn) {
    policy().answer = [](const Event&) { return false; };
    EXPECT_EQ(load_traced("a } b", callback("[error] true")), "a b");
    // A missing closer at the end, refused: the series closes as it is.
    EXPECT_EQ(load_traced("[a (b", callback("[error] true")), "[a (b)]");
}

TEST_F(EventsTest, AMovedInputResumesThereAfterAnyEvent) {
    policy().move = [](const Event& e) {
        return e.name == "load" && e.token == "skip" ? static_cast<i64>(e.index) + 5 : -1;
    };
    EXPECT_EQ(load_traced("a skip XXXX b", callback("[load] true")), "a skip b");
}

TEST_F(EventsTest, ACallbackCanStartANestedRun) {
    static std::string inner;
    policy().side = [](const Event& e) {
        if (e.token != "x") return;
        ValueCell* s = string_load_push("1 [2]", 5, 0);
        ValueCell* out = none_push();
        lexer_scan_string(out, s, -1, false, true, true, 0, nullptr, nullptr, nullptr);
        inner = render(out);
        stack_pop(2);
    };
    EXPECT_EQ(load_traced("[x y] z", callback("[load] true")), "[x y] z");
    EXPECT_EQ(inner, "[1 [2]]");
}

TEST_F(EventsTest, ErrorsOfTheCallbackPassThroughTheRun) {
    policy().side = [](const Event& e) {
        if (e.token == "boom") fire(Err::script_no_value);
    };
    RaisedError e = error_of([&] { load_traced("a boom c", callback("[load] true")); });
    EXPECT_EQ(e.id, Err::script_no_value);
    EXPECT_EQ(g_lexer_runs, nullptr);
}

TEST_F(EventsTest, RefinementsOfTheCallbackArriveUnused) {
    load_traced("a", callback("[load] true", "/opt x y /local z"));
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(frame_cells(), 5u + 3u + 2u);
}

TEST_F(EventsTest, ScanModeTracesWithoutBuilding) {
    ValueCell* cb = callback("true");
    ValueCell out;
    const char* src = "%{raw}% x";
    i32 t = lexer_transcode(&out, reinterpret_cast<const u8*>(src), 9, true, true, false, 0,
                            nullptr, cb, nullptr, nullptr);
    EXPECT_EQ(t, static_cast<i32>(TYPE_STRING));
    std::vector<std::string> expected = {"prescan 7 string! 1 1x8", "open 0 string! 1 1x3",
                                         "close 7 string! 1 6x8", "scan 7 string! 1 1x8"};
    EXPECT_EQ(trace(), expected);
}

}  // namespace
}  // namespace zan::test
