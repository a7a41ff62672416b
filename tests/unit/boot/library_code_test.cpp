// Library functions behave like functions compiled ahead of time: static
// calls, dynamic data reads, a body that is only data, no tracing inside,
// path frames named eval-path and eval-set-path, type checks fixed at
// start-up, and copies made for new objects.
#include "boot/boot_util.h"
#include "boot/library_code.h"
#include "boot/library_code_internal.h"
#include "boot/startup_internal.h"
#include "boot_test_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/symbol.h"

namespace zan::boottest {
namespace {

const char* const kFixture = R"zan(
*: make op! :multiply
+: make op! :add
helper: func [x] [x * 2]
uses-helper: func [x] [helper x]
plus-one: func [x] [x + 1]
global-data: 1
reads-global: func [] [global-data]
typed: func [x [number!]] [x]
fixture-obj: make object! [a: 1 get-a: func [] [a]]
read-bad: func [] [fixture-obj/missing/x]
set-bad: func [] [fixture-obj/missing/x: 1]
read-good: func [] [fixture-obj/a]
calls-method: func [] [fixture-obj/get-a]
proto: make object! [n: 1 twice: func [] [n * 2]]
exported: none
context-like: make object! [
    inner: func [] [10]
    set 'exported func [] [inner + 1]
]
held-in-block: reduce [func [] ["in a block"]]
)zan";

class LibraryCode : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TempRoot(std::vector<std::pair<std::string, std::string>>{
            {"library/02-fixture.zan", kFixture}});
        BootResult r = start_from(root_->dir());
        ASSERT_EQ(r.status, 0) << r.message;
        sealed_ = r.sealed;
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    static const ValueCell* global(const char* name) {
        return global_value_ptr(symbol_make(name));
    }
    static TempRoot* root_;
    static u32 sealed_;
};
TempRoot* LibraryCode::root_ = nullptr;
u32 LibraryCode::sealed_ = 0;

TEST_F(LibraryCode, EveryReachableFunctionIsSealed) {
    EXPECT_GE(sealed_, 10u);
    for (const char* name : {"helper", "uses-helper", "reads-global", "exported"})
        EXPECT_TRUE(library_function_q(global(name))) << name;
    EXPECT_EQ(ev("f: func [] [1] f"), "1");
    EXPECT_FALSE(library_function_q(global("f"))) << "defined after start-up";
    // Functions inside objects and blocks are found too.
    EXPECT_EQ(ev("fixture-obj/get-a"), "1");
    EXPECT_EQ(ev("f2: pick held-in-block 1 f2"), "\"in a block\"");
    EXPECT_TRUE(library_function_q(global("f2")));
    EXPECT_EQ(ev("exported"), "11");
}

TEST_F(LibraryCode, CallsToGlobalFunctionsAreStatic) {
    EXPECT_EQ(ev("uses-helper 5"), "10");
    ev("helper: func [x] [x * 100]");
    EXPECT_EQ(ev("uses-helper 5"), "10") << "the library keeps calling its helper";
    EXPECT_EQ(ev("helper 5"), "500") << "interpreted code calls the new one";
    // Operators are calls too.
    ev("+: make op! :subtract");
    EXPECT_EQ(ev("plus-one 1"), "2");
    EXPECT_EQ(ev("1 + 1"), "0");
    ev("+: make op! :add");
    ev("helper: func [x] [x * 2]");
}

TEST_F(LibraryCode, ReadsOfGlobalDataAreDynamic) {
    EXPECT_EQ(ev("reads-global"), "1");
    ev("global-data: 42");
    EXPECT_EQ(ev("reads-global"), "42");
    ev("global-data: 1");
}

TEST_F(LibraryCode, TheBodyIsDataOnly) {
    // The source body is what reflection shows.
    EXPECT_EQ(ev("reflect :uses-helper 'body"), "[helper x]");
    EXPECT_EQ(ev("b: reflect :uses-helper 'body append b [1000] b"), "[helper x 1000]");
    EXPECT_EQ(ev("uses-helper 3"), "6") << "changing the body changes nothing it does";
    EXPECT_EQ(ev("clear b uses-helper 4"), "8");
    // The module's block in the boot image is untouched.
    u32 n = 0;
    bool found = false;
    for (const std::string& name : g_boot_module_names) {
        if (name == "library/02-fixture.zan") {
            std::string code = boot_mold(boot_cell_at(n + 1));
            EXPECT_NE(code.find("uses-helper: func [x] [helper x]"), std::string::npos) << code;
            found = true;
        }
        n += 2;
    }
    EXPECT_TRUE(found);
}

TEST_F(LibraryCode, OpaqueToTracing) {
    ev("log: copy [] t: func [event code offset value ref frame] [append log event]");
    EXPECT_EQ(ev("clear log do/trace [uses-helper 1] :t log"),
              "[init enter fetch open fetch push call return expr exit end]");
    // An interpreted function is traced inside.
    ev("g: func [x] [x]");
    EXPECT_EQ(ev("clear log do/trace [g 1] :t log"),
              "[init enter fetch open fetch push call prolog enter fetch push expr exit "
              "epilog return expr exit end]");
}

TEST_F(LibraryCode, PathsRunInFramesOfTheirOwn) {
    EXPECT_EQ(ev("e: try [read-bad] reduce [e/id e/where]"), "[invalid-path eval-path]");
    EXPECT_EQ(ev("e: try [set-bad] reduce [e/id e/where]"), "[invalid-path eval-set-path]");
    // The same path at the prompt names no such frame.
    EXPECT_EQ(ev("e: try [fixture-obj/missing/x] e/where"), "try");
    // Paths that succeed, and a method called through a path.
    EXPECT_EQ(ev("read-good"), "1");
    EXPECT_EQ(ev("fixture-obj/a: 7 read-good"), "7");
    EXPECT_EQ(ev("calls-method"), "7");
    ev("fixture-obj/a: 1");
}

TEST_F(LibraryCode, TypeChecksAreFixedAtStartUp) {
    ev("saved-number: number! number!: make typeset! [string!]");
    EXPECT_EQ(ev("typed 3"), "3");
    EXPECT_EQ(ev("e: try [typed \"a\"] e/id"), "expect-arg");
    // A function defined now sees the new typeset.
    EXPECT_EQ(ev("h: func [x [number!]] [x] h \"a\""), "\"a\"");
    ev("number!: saved-number");
}

TEST_F(LibraryCode, CopiesForNewObjectsKeepTheEntry) {
    EXPECT_EQ(ev("p2: make proto [n: 5] p2/twice"), "10");
    EXPECT_EQ(ev("proto/twice"), "2");
    const ValueCell* p2 = global("p2");
    ASSERT_EQ(p2->type(), TYPE_OBJECT);
    i32 i = context_find_word(context_cell(p2->data1), symbol_make("twice"), true);
    ASSERT_GE(i, 0);
    EXPECT_TRUE(library_function_q(context_values_head(context_cell(p2->data1)) + i));
    // Taken out of its object, a method still reads its own object.
    EXPECT_EQ(ev("m: :p2/twice m"), "10");
}

TEST_F(LibraryCode, TheSnapshotHoldsTheCallablesOfStartUp) {
    ASSERT_EQ(g_library_root.type(), TYPE_BLOCK);
    ASSERT_GE(block_length(&g_library_root), 1);
    const ValueCell* snap = block_head_ptr(&g_library_root);
    ASSERT_EQ(snap->type(), TYPE_OBJECT);
    Node ctx = snap->data1;
    EXPECT_EQ(ctx, g_library_snapshot_ctx) << "library code is bound to the snapshot's context";
    EXPECT_GE(context_find_word(context_cell(ctx), symbol_make("append"), true), 0);
    EXPECT_GE(context_find_word(context_cell(ctx), symbol_make("helper"), true), 0);
    EXPECT_LT(context_find_word(context_cell(ctx), symbol_make("global-data"), true), 0);
}

}  // namespace
}  // namespace zan::boottest
