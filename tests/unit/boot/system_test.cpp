// The environment that start-up builds from the module files of the tree:
// the system object field by field and in order, the global constants,
// typesets, colours and operators, the hooks of the system sub-objects, and
// what the runtime learns of the system object.
//
// The environment comes from the embedded image, or from the module files
// under $ZAN_LIBRARY_DIR when that is set (as for the executable).
#include <unistd.h>

#include <cstring>

#include "boot/library_code.h"
#include "boot/routine_registry.h"
#include "boot/startup_internal.h"
#include "boot_test_support.h"
#include "runtime/core/dtoa.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/io/host/routines_system.h"
#include "runtime/io/host/routines_system_internal.h"

namespace zan::boottest {
namespace {

class SystemObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char buf[4096];
        cwd_ = ::getcwd(buf, sizeof buf) ? buf : "";
        const char* dir = std::getenv("ZAN_LIBRARY_DIR");
        BootResult r = dir && *dir ? start_from(dir, {"zan", "a1", "b 2"})
                                   : start_embedded({"zan", "a1", "b 2"});
        status_ = r.status;
        message_ = r.message;
    }
    void SetUp() override { ASSERT_EQ(status_, 0) << message_; }
    static void TearDownTestSuite() {
        if (!cwd_.empty() && ::chdir(cwd_.c_str()) != 0) std::perror("chdir");
    }
    static int status_;
    static std::string message_;
    static std::string cwd_;
};
int SystemObject::status_ = 0;
std::string SystemObject::message_;
std::string SystemObject::cwd_;

std::string words(const std::string& path) { return ev("reflect " + path + " 'words"); }

TEST_F(SystemObject, FieldsInOrder) {
    EXPECT_EQ(words("system"),
              "[version build words platform catalog state modules codecs schemes ports "
              "locale options script standard lexer console view reactivity tools]");
    EXPECT_EQ(words("system/build"), "[date git config]");
    EXPECT_EQ(words("system/build/git"), "[branch tag ahead date commit message]");
    EXPECT_EQ(
        words("system/build/config"),
        "[config-name OS OS-version ABI link? debug? encap? build-prefix build-basename "
        "build-suffix format type target cpu-version verbosity sub-system runtime? "
        "use-natives? debug-safe? dev-mode? static-link? need-main? PIC? base-address "
        "dynamic-linker syscall export-ABI stack-align-16? literal-pool? idiv? unicode? "
        "zan-pass? zan-only? zan-store-bodies? zan-strict-check? zan-tracing? zan-help? "
        "zanbin-compress? legacy gui-console? libZan? libZanRT? libZanRT-update? GUI-engine "
        "draw-engine modules show command-line show-func-map?]");
    EXPECT_EQ(ev("length? reflect system/build/config 'words"), "49");
    EXPECT_EQ(words("system/catalog"), "[datatypes actions natives accessors errors]");
    EXPECT_EQ(words("system/catalog/errors"),
              "[throw note syntax script math access reserved1 reserved2 user internal]");
    EXPECT_EQ(words("system/state"),
              "[interpreted? last-error stack-trace source-files callbacks GC]");
    EXPECT_EQ(words("system/state/callbacks"),
              "[lexer? parse? sort? change? deep? port? bits on-change*]");
    EXPECT_EQ(words("system/state/GC"), "[active? series-cycles nodes-cycles]");
    EXPECT_EQ(words("system/locale"),
              "[language language* locale locale* months days currencies]");
    EXPECT_EQ(words("system/locale/currencies"), "[list on-change* on-deep-change*]");
    EXPECT_EQ(words("system/options"),
              "[boot home path script cache thru-cache args do-arg debug secure quiet "
              "binary-base decimal-digits money-digits module-paths file-types float "
              "on-change* on-deep-change*]");
    EXPECT_EQ(words("system/options/float"), "[pretty? full? on-change*]");
    EXPECT_EQ(words("system/script"), "[title header parent path args]");
    EXPECT_EQ(words("system/standard"), "[header port error file-info url-parts scheme]");
    EXPECT_EQ(words("system/standard/header"),
              "[Title Name Type Version Date File Home Author Tabs Needs License Note History "
              "Rights Usage Purpose Comment Language Content Owner]");
    EXPECT_EQ(words("system/standard/port"), "[spec scheme actor awake state data extra]");
    EXPECT_EQ(words("system/standard/error"),
              "[code type id arg1 arg2 arg3 near where stack files]");
    EXPECT_EQ(words("system/standard/file-info"), "[name size date type]");
    EXPECT_EQ(words("system/standard/url-parts"),
              "[scheme user-info host port path target query fragment ref]");
    EXPECT_EQ(words("system/standard/scheme"), "[name title info actor awake]");
    EXPECT_EQ(words("system/lexer"), "[pre-load err-pos exit-states trapper tracer]");
}

// The library start-up builds counts as what survived a collection, so the
// first collection waits until as much again has been allocated instead of
// coming at the first full frame and freeing almost nothing.
TEST_F(SystemObject, StartUpSetsTheFirstCollectionsAllowance) {
    EXPECT_GT(g_mem.survived, u64(1) << 20);
    EXPECT_LT(g_mem.allocated, g_mem.survived);
    EXPECT_FALSE(memory_collection_due());
}

TEST_F(SystemObject, ValuesAtStartUp) {
    struct Case {
        const char* expr;
        const char* expect;
    };
    const Case cases[] = {
        {"system/version", "0.6.6"},
        {"type? system/version", "tuple!"},
        {"system/platform", "Linux"},
        {"type? system/build/date", "date!"},
        // The git facts are those of the checkout the build was made from
        // (none for a build from a tarball).
        {"either g: system/build/git [type? g/branch] [string!]", "string!"},
        {"either g: system/build/git [to logic! find [issue! none!] type?/word g/tag] [true]", "true"},
        {"either g: system/build/git [type? g/ahead] [integer!]", "integer!"},
        {"either g: system/build/git [type? g/date] [date!]", "date!"},
        {"either g: system/build/git [length? form g/commit] [40]", "40"},
        {"either g: system/build/git [type? g/message] [string!]", "string!"},
        {"system/build/config/cpu-version", "6.0"},
        {"system/build/config/GUI-engine", "terminal"},
        {"system/build/config/modules", "[JSON CSV View]"},
        {"system/build/config/build-prefix", "%\"\""},
        {"reduce [system/catalog/datatypes system/catalog/actions system/catalog/natives]",
         "[none none none]"},
        {"select system/catalog/accessors 'pair!", "[x y]"},
        {"length? system/catalog/accessors", "18"},
        {"system/state/stack-trace", "1"},
        {"reduce [system/state/last-error system/state/source-files]", "[none []]"},
        {"system/state/callbacks/bits", "0"},
        {"system/state/GC/active?", "true"},
        {"type? :system/state/GC/series-cycles", "routine!"},
        {"reduce [system/modules system/schemes]", "[[] []]"},
        {"type? system/codecs", "map!"},
        {"reflect system/ports 'words", "[]"},
        {"pick system/locale/months 1", "\"January\""},
        {"pick system/locale/days 7", "\"Sunday\""},
        {"length? system/locale/currencies/list", "170"},
        {"new-line/all copy/part system/locale/currencies/list 8 false", "[AED AFN ALL AMD ANG AOA ARS AUD]"},
        {"new-line/all copy skip system/locale/currencies/list 166 false", "[XPF YER ZAR ZMW]"},
        {"reduce [system/options/boot system/options/quiet system/options/binary-base]",
         "[none false 16]"},
        {"reduce [system/options/decimal-digits system/options/money-digits]", "[15 2]"},
        {"reduce [system/options/module-paths system/options/float/pretty?]", "[[] true]"},
        {"system/script/args", "{zan a1 \"b 2\"}"},
        {"system/standard/header/Title", "none"},
        {"length? system/lexer/exit-states", "34"},
        {"new-line/all copy/part system/lexer/exit-states 3 false", "[eof error! block!]"},
        {"new-line/all copy skip system/lexer/exit-states 31 false", "[hex rawstring ref!]"},
        {"type? pick system/lexer/exit-states 2", "datatype!"},
        {"type? pick system/lexer/exit-states 1", "word!"},
        {"system/catalog/errors/user/message", "arg1"},
        {"system/catalog/errors/script/no-value", "[:arg1 \"has no value\"]"},
        {"system/catalog/errors/internal/bad-path", "[\"bad path:\" arg1]"},
        {"system/catalog/errors/script/code", "300"},
        {"system/catalog/errors/script/type", "\"Script Error\""},
    };
    for (const Case& c : cases) EXPECT_EQ(ev(c.expr), c.expect) << c.expr;
}

TEST_F(SystemObject, CaseVariantsShareTheValue) {
    EXPECT_EQ(ev("SHIFT-LEFT 1 3"), "8");
    EXPECT_EQ(ev("same? :SHIFT-LEFT :shift-left"), "true");
    EXPECT_EQ(ev("equal? 'SHIFT-LEFT 'shift-left"), "true");
}

TEST_F(SystemObject, LaterModulesFillTheirFields) {
    // Module 5 leaves these none; the module that owns each field sets it.
    const std::pair<const char*, int> fields[] = {
        {"console", 16}, {"view", 15}, {"reactivity", 8}, {"tools", 11}};
    for (auto& [field, module] : fields) {
        bool present = false;
        for (const std::string& name : g_boot_module_names) {
            std::string base = name.substr(name.rfind('/') + 1);
            if (boot_module_number(base) == module) present = true;
        }
        EXPECT_EQ(ev(std::string("type? system/") + field), present ? "object!" : "none!")
            << field;
    }
}

TEST_F(SystemObject, WordsIsTheGlobalContext) {
    EXPECT_EQ(ev("zz-seen: 12 system/words/zz-seen"), "12");
    EXPECT_EQ(ev("system/words/zz-seen: 13 zz-seen"), "13");
}

TEST_F(SystemObject, PathAndCacheOptions) {
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    std::string cwd = buf;
    if (cwd.back() != '/') cwd += '/';
    EXPECT_EQ(ev("system/options/path"), "%" + cwd);
    const char* home = std::getenv("HOME");
    std::string cache = home && *home ? std::string(home) + "/.zan/" : "/tmp/.zan/";
    EXPECT_EQ(ev("system/options/cache"), "%" + cache);
}

TEST_F(SystemObject, ErrorCatalogueMatchesTheRuntime) {
    // Each category's code, title and ids are those the runtime raises with.
    for (u32 k = 0; k < ERRCAT_COUNT; k++) {
        const ErrorCategoryInfo& c = g_error_categories[k];
        std::string path = std::string("system/catalog/errors/") + c.word;
        EXPECT_EQ(ev(path + "/code"), std::to_string(c.code)) << c.word;
        EXPECT_EQ(ev(path + "/type"), std::string("\"") + c.title + "\"") << c.word;
    }
#define ZAN_X(code, cat, name, word)                                                        \
    EXPECT_EQ(ev("index? find reflect system/catalog/errors/" #cat " 'words '" word),    \
              std::to_string((code) % 100 + 3))                                            \
        << #cat "/" word;
    ZAN_ERROR_IDS(ZAN_X)
#undef ZAN_X
    // The runtime uses this catalogue and this error prototype.
    const ValueCell* errors = system_setting({"catalog", "errors"});
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(error_catalog()->data1, errors->data1);
    const ValueCell* proto = system_setting({"standard", "error"});
    ASSERT_NE(proto, nullptr);
    EXPECT_EQ(error_prototype()->data1, proto->data1);
    EXPECT_EQ(ev("e: try [1 / 0] reduce [e/type e/id e/code]"), "[math zero-divide 400]");
}

TEST_F(SystemObject, CoreValues) {
    struct Case {
        const char* expr;
        const char* expect;
    };
    const Case cases[] = {
        {"reduce [none true false on yes off no Molax]",
         "[none true false true true false false false]"},
        {"type? null-handle", "handle!"},
        {"pi", "3.141592653589793"},
        {"crlf", "\"^M^/\""},
        {"datatype!", "datatype!"},
        {"reduce [tab cr lf newline escape slash space sp null enter dot comma dbl-quote]",
         "[#\"^-\" #\"^M\" #\"^/\" #\"^/\" #\"^[\" #\"/\" #\" \" #\" \" #\"^@\" #\"^M\" "
         "#\".\" #\",\" #\"^\"\"]"},
        {"find any-type! unset!", "true"},
        {"find default! unset!", "false"},
        {"reduce [find scalar! pair! find scalar! point3D! find scalar! string!]",
         "[true true false]"},
        {"reduce [find immediate! issue! find series! vector! find any-block! lit-path!]",
         "[true true true]"},
        {"reduce [find external! event! find internal! unset! find all-word! refinement!]",
         "[true true true]"},
        {"equal? glass transparent", "true"},
        {"transparent", "0.0.0.255"},
        {"same? newline lf", "true"},
        {"reduce [aqua molaxor yellow]", "[40.100.130 142.128.110 255.255.0]"},
    };
    for (const Case& c : cases) EXPECT_EQ(ev(c.expr), c.expect) << c.expr;
    // 44 colour words hold 3-byte tuples.
    EXPECT_EQ(ev("n: 0 foreach w [aqua beige black blue brick brown coal coffee crimson cyan "
                 "forest gold gray green ivory khaki leaf linen magenta maroon mint moblue "
                 "molaxor navy oldrab olive orange papaya pewter pink purple red sienna silver "
                 "sky snow tanned teal violet water wheat white yello yellow] "
                 "[if 3 = length? get w [n: n + 1]] n"),
              "44");
}

TEST_F(SystemObject, EveryWordOfTheFirstModulesHasAValue) {
    EXPECT_EQ(ev("missing: copy [] foreach w [datatype! none true false on yes off no Molax "
                 "null-handle pi crlf tab cr lf newline escape slash space sp null enter dot "
                 "comma dbl-quote internal! external! number! planar! any-point! scalar! "
                 "any-word! all-word! any-list! any-path! any-block! any-function! any-object! "
                 "any-string! series! immediate! default! any-type! quit-return set-quiet "
                 "set-slot-quiet shift-right shift-left shift-logical last-lf? get-current-dir "
                 "set-current-dir create-dir exists? os-info as-color as-ipv4 as-rgba "
                 "count-chars stack-size? pick-stack frame-index? collect-calls tracing? "
                 "read-clipboard write-clipboard write-stdout transparent glass system] "
                 "[unless value? w [append missing w]] missing"),
              "[]");
}

TEST_F(SystemObject, RoutinesOfTheCoreValuesModule) {
    // Their specs are those of the routine table's owner.
    const SystemRoutine* table = g_system_routines;
    for (u32 i = 0; i < 24; i++) {
        std::string name = table[i].name;
        EXPECT_EQ(ev("type? :" + name), "routine!") << name;
        EXPECT_EQ(ev("equal? reflect :" + name + " 'spec pick transcode {" + table[i].spec + "} 1"),
                  "true")
            << name;
    }
    EXPECT_EQ(ev("reduce [shift-right -8 1 shift-left 1 4 shift-logical -8 1]"),
              "[-4 16 2147483644]");
    EXPECT_EQ(ev("as-color 256 1 2"), "0.1.2");
    EXPECT_EQ(ev("value? 'boot-routine"), "false");
}

TEST_F(SystemObject, Operators) {
    struct Case {
        const char* expr;
        const char* expect;
    };
    const Case cases[] = {
        {"reduce [1 + 2 7 - 10 3 * 4 7 / 2 7 % 3 2 ** 3]", "[3 -3 12 3.5 1 8]"},
        {"reduce [1 = 1 1 <> 1 \"a\" == \"A\" 1 < 2 2 > 1 1 <= 1 2 >= 3]",
         "[true false false true true true false]"},
        {"reduce [1 << 4 -8 >> 1 -8 >>> 28]", "[16 -4 15]"},
        {"reduce [true and false true or false true xor true]", "[false true false]"},
        {"b: [] same? b b", "true"},
        {"n: 0 foreach w [+ - * / // % = <> == =? < > <= >= << >> >>> ** and or xor] "
         "[if op! = type? get w [n: n + 1]] n",
         "21"},
    };
    for (const Case& c : cases) EXPECT_EQ(ev(c.expr), c.expect) << c.expr;
}

TEST_F(SystemObject, CallbacksBitsFollowTheSwitches) {
    EXPECT_EQ(ev("system/state/callbacks/parse?: true system/state/callbacks/bits"), "2");
    EXPECT_EQ(ev("system/state/callbacks/parse?: false system/state/callbacks/bits"), "0");
    EXPECT_EQ(ev("system/state/callbacks/lexer?: true system/state/callbacks/port?: true "
                 "system/state/callbacks/bits"),
              "33");
    ev("system/state/callbacks/lexer?: false system/state/callbacks/port?: false");
    EXPECT_EQ(ev("system/state/callbacks/bits"), "0");
}

TEST_F(SystemObject, CurrenciesAreGuarded) {
    auto error_id = [](const std::string& code) { return ev("e: try [" + code + "] e/id"); };
    EXPECT_EQ(error_id("append system/locale/currencies/list 'usd"), "protected");
    EXPECT_EQ(error_id("append system/locale/currencies/list 'abcd"), "protected");
    EXPECT_EQ(error_id("remove system/locale/currencies/list"), "protected");
    EXPECT_EQ(error_id("append system/locale/currencies/list \"abc\""), "protected");
    EXPECT_EQ(error_id("system/locale/currencies/list: []"), "protected");
    EXPECT_EQ(ev("length? system/locale/currencies/list"), "170");
    EXPECT_EQ(ev("append system/locale/currencies/list 'qqq pick back tail system/locale/currencies/list 1"),
              "QQQ");
    EXPECT_EQ(ev("length? system/locale/currencies/list"), "171");
}

TEST_F(SystemObject, FloatOptionsSetTheRuntimeSwitches) {
    // Pretty printing shows magnitudes below the float epsilon as zero.
    EXPECT_EQ(ev("form 1e-20"), "\"0.0\"");
    ev("system/options/float/pretty?: false");
    EXPECT_EQ(ev("form 1e-20"), "\"9.999999999999999e-21\"");
    ev("system/options/float/pretty?: true");
    EXPECT_EQ(ev("form 1e-20"), "\"0.0\"");
    // full? is kept; nothing in the formatter reads it yet.
    ev("system/options/float/full?: true");
    EXPECT_EQ(ev("system/options/float/full?"), "true");
    ev("system/options/float/full?: false");
    EXPECT_EQ(ev("system/options/float/full?"), "false");
}

TEST_F(SystemObject, PathOptionFollowsTheCurrentDirectory) {
    char buf[4096];
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    std::string before = buf;
    EXPECT_EQ(ev("system/options/path: %/tmp/ system/options/path"), "%/tmp/");
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    EXPECT_EQ(std::string(buf), "/tmp");
    EXPECT_EQ(ev("e: try [system/options/path: 12] reduce [e/id e/arg1]"),
              "[invalid-type integer!]");
    EXPECT_EQ(ev("system/options/path"), "%/tmp/");
    ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
    EXPECT_EQ(std::string(buf), "/tmp");
    // A directory that cannot be entered: the error, and nothing changed.
    EXPECT_EQ(ev("e: try [system/options/path: %/nonexistent-zan-dir/] reduce [e/id e/arg1]"),
              "[cannot-open %/nonexistent-zan-dir/]");
    EXPECT_EQ(ev("system/options/path"), "%/tmp/");
    ASSERT_EQ(::chdir(before.c_str()), 0);
}

TEST_F(SystemObject, LexerTrapperRecordsTheErrorPosition) {
    // The trapper sees the error event only: the position where the lexer
    // stopped ("ab b" starts at 5), and its true answer lets the error go.
    EXPECT_EQ(ev("system/lexer/err-pos: none "
                 "e: try [transcode/trace {a 12ab b} :system/lexer/trapper] "
                 "reduce [e/id system/lexer/err-pos]"),
              "[invalid 5]");
}

TEST_F(SystemObject, InterpretedQuery) {
    EXPECT_EQ(ev("system/state/interpreted?"), "true");
    EXPECT_EQ(ev("f: func [] [system/state/interpreted?] f"), "true");
    EXPECT_EQ(ev("g: func [] [f] g"), "true");
}

TEST_F(SystemObject, SystemMethodsAreLibraryFunctions) {
    EXPECT_EQ(ev("type? :system/lexer/tracer"), "function!");
    const ValueCell* opts = system_setting({"options"});
    ASSERT_NE(opts, nullptr);
    EXPECT_TRUE(library_function_q(system_setting({"options", "on-change*"})));
    EXPECT_TRUE(library_function_q(system_setting({"state", "interpreted?"})));
    EXPECT_EQ(ev("pick reflect :system/lexer/trapper 'body 1"), "[error]");
}

}  // namespace
}  // namespace zan::boottest
