// The boot image: finding the module files, building the image, its header
// and root layout, the built-in bindings, and every way a bad image or a bad
// module stops start-up with a non-zero status.
#include <cstring>
#include <iterator>

#include "boot/process.h"
#include "boot/startup_internal.h"
#include "boot_test_support.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/io/zanbin/zanbin.h"

namespace zan::boottest {
namespace {

using Modules = std::vector<std::pair<std::string, std::string>>;

TEST(BootImage, ModuleNumbers) {
    const std::pair<const char*, int> cases[] = {
        {"05-system.zan", 5}, {"00-builtins.zan", 0}, {"21-settings.zan", 21},
        {"5-system.zan", -1}, {"ab-x.zan", -1},       {"12x.zan", -1}, {"", -1},
    };
    for (auto& [name, n] : cases) EXPECT_EQ(boot_module_number(name), n) << name;
}

TEST(BootImage, FilesRunInNameOrderAcrossTheFolders) {
    TempRoot root(Modules{{"console/16-completion.zan", "a: 1"},
                          {"gui/15-gui.zan", "b: 2"},
                          {"library/02-base.zan", "c: 3"},
                          {"library/15-aaa.zan", "d: 4"},
                          {"library/notes.zan", "not a module"},
                          {"library/07-codecs.txt", "not a module"}});
    std::vector<BootSourceFile> files;
    std::string error;
    ASSERT_TRUE(boot_list_sources(root.dir(), &files, &error)) << error;
    std::vector<std::string> got;
    for (auto& f : files) got.push_back(f.relative);
    EXPECT_EQ(got, (std::vector<std::string>{"library/00-builtins.zan",
                                             "library/01-core-values.zan",
                                             "library/02-base.zan", "library/15-aaa.zan",
                                             "gui/15-gui.zan", "console/16-completion.zan"}));
    EXPECT_EQ(files[4].module, 15);
}

TEST(BootImage, ListingRefusals) {
    {
        TempRoot root(Modules{{"library/02-base.zan", "a: 1"}, {"console/02-base.zan", "b: 1"}});
        std::vector<BootSourceFile> files;
        std::string error;
        EXPECT_FALSE(boot_list_sources(root.dir(), &files, &error));
        EXPECT_NE(error.find("two module files named 02-base.zan"), std::string::npos) << error;
    }
    std::vector<BootSourceFile> files;
    std::string error;
    EXPECT_FALSE(boot_list_sources("/nonexistent-zan-root", &files, &error));
    EXPECT_NE(error.find("00-builtins.zan"), std::string::npos) << error;
}

TEST(BootImage, BuildErrorsNameTheFile) {
    struct Case {
        const char* text;
        const char* expect;
    };
    const Case cases[] = {
        {"Zan [] a: [1 2", "library/02-bad.zan"},
        {"no-header here", "does not start with a Zan [...] header"},
        {"Zan [] x: \"unterminated", "(line 1)"},
    };
    for (const Case& c : cases) {
        TempRoot root(Modules{});
        root.write_raw("library/02-bad.zan", c.text);
        BootResult r = start_from(root.dir());
        EXPECT_EQ(r.status, BOOT_FAILURE_STATUS) << c.text;
        EXPECT_NE(r.message.find(c.expect), std::string::npos) << r.message;
    }
}

TEST(BootImage, TheEmbeddedImageIsCompactWithASymbolTable) {
    ASSERT_GT(zan_boot_image_size, 12u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(zan_boot_image_data), 6), "ZANBIN");
    EXPECT_EQ(zan_boot_image_data[6], BOOT_IMAGE_VERSION);
    EXPECT_EQ(zan_boot_image_data[7], ZANBIN_FLAG_COMPACT | ZANBIN_FLAG_SYMBOLS);
}

TEST(BootImage, RootsArePathAndCodePerModule) {
    TempRoot root(Modules{{"library/02-one.zan", "one: 1"}, {"console/17-two.zan", "two: 2"}});
    BootResult r = start_from(root.dir());
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.modules, 3u);
    EXPECT_EQ(g_boot_module_names, (std::vector<std::string>{"library/01-core-values.zan",
                                                             "library/02-one.zan",
                                                             "console/17-two.zan"}));
    EXPECT_EQ(ev("reduce [one two]"), "[1 2]");
}

TEST(BootImage, BuiltInBindings) {
    TempRoot root(Modules{}, false);
    BootResult r = start_from(root.dir());
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(r.modules, 0u);
    // Natives, actions, datatype words (event! too, before its registration)
    // and the typesets that the specs use.
    EXPECT_EQ(ev("reduce [type? :if type? :append type? integer! type? :any-type!]"),
              "[native! action! datatype! typeset!]");
    EXPECT_EQ(ev("event!"), ev("event!"));
    EXPECT_EQ(global_value_ptr(symbol_make("event!"))->type(), TYPE_DATATYPE);
    EXPECT_EQ(ev("find series! string!"), "true");
    EXPECT_EQ(ev("find any-type! unset!"), "true");
    EXPECT_EQ(ev("find default! unset!"), "false");
    // datatype! is left to module 1.
    EXPECT_EQ(global_value_ptr(symbol_make("datatype!"))->type(), TYPE_UNSET);
    // An action keeps the spec of the built-in words file.
    EXPECT_EQ(ev("equal? {Returns a new value made from a spec for that value's type} "
                 "pick reflect :make 'spec 1"),
              "true");
}

// The action numbers of the built-in words file are checked against the
// action table: a wrong, unknown or repeated number stops the build.
TEST(BootImage, ActionNumbersMustMatchTheActionTable) {
    std::ifstream in(source_root() + "/library/00-builtins.zan", std::ios::binary);
    const std::string builtins((std::istreambuf_iterator<char>(in)), {});
    ASSERT_NE(builtins.find("\nappend: action 25 ["), std::string::npos);
    struct Case {
        const char* from;
        const char* to;
        const char* expect;
    } const cases[] = {
        {"\nappend: action 25 [", "\nappend: action 26 [",
         "append: action 26 is at in the action table"},
        {"\nwrite: action 62 [", "\nwrite: action 63 [",
         "write: action 63 is not an action number (1 to 62)"},
        {"\nappend: action 25 [", "\nappend: action 0 [", "append: action 0 is not"},
        {"\nat: action 26 [", "\nappend: action 25 [", "append: action 25 is given twice"},
    };
    for (const Case& c : cases) {
        std::string text = builtins;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        TempRoot root(Modules{}, false);
        root.write_raw("library/00-builtins.zan", text);
        BootResult r = start_from(root.dir());
        EXPECT_EQ(r.status, BOOT_FAILURE_STATUS) << c.to;
        EXPECT_NE(r.message.find("library/00-builtins.zan: "), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.expect), std::string::npos) << r.message;
    }
}

// A copy of the embedded image with some bytes changed.
std::vector<u8> embedded_copy() {
    return std::vector<u8>(zan_boot_image_data, zan_boot_image_data + zan_boot_image_size);
}

BootResult start_image(const std::vector<u8>& image) {
    BootConfig c;
    c.image = image;
    c.args = {"zan"};
    return boot_start(c);
}

TEST(BootImage, ABadImageStopsStartUpWithANonZeroStatus) {
    std::vector<u8> magic = embedded_copy();
    magic[0] = 'X';
    BootResult r = start_image(magic);
    EXPECT_EQ(r.status, BOOT_FAILURE_STATUS);
    EXPECT_EQ(r.message, "Error: Not a Zanbin file!");

    std::vector<u8> packed = embedded_copy();
    packed[7] |= ZANBIN_FLAG_COMPRESSED;
    r = start_image(packed);
    EXPECT_EQ(r.status, BOOT_FAILURE_STATUS);
    EXPECT_EQ(r.message, "Error: Zanbin compressed data corrupted!");

    std::vector<u8> cut = embedded_copy();
    cut.resize(cut.size() * 2 / 3);
    r = start_image(cut);
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(r.message.empty());

    r = start_image({});
    EXPECT_EQ(r.status, BOOT_FAILURE_STATUS);
    EXPECT_EQ(r.message, "no boot image");
}

TEST(BootImage, AnUnregisteredRoutineStopsStartUp) {
    TempRoot root(Modules{{"library/02-r.zan", "r: boot-routine \"no-such-routine\" [] []"}});
    BootResult r = start_from(root.dir());
    EXPECT_EQ(r.status, BOOT_FAILURE_STATUS);
    EXPECT_EQ(r.message, "library/02-r.zan: routine not registered: no-such-routine");
}

TEST(BootImage, AnErrorInAModuleIsStatus254) {
    TempRoot root(Modules{{"library/02-err.zan", "x: 1 + undefined-word"}});
    BootResult r = start_from(root.dir());
    EXPECT_EQ(r.status, BOOT_ERROR_STATUS);
    EXPECT_NE(r.message.find("library/02-err.zan"), std::string::npos);
    EXPECT_NE(r.message.find("undefined-word"), std::string::npos) << r.message;
}

TEST(BootImage, BootRoutineIsGoneAfterStartUp) {
    TempRoot root(Modules{{"library/02-r.zan", "sl: boot-routine \"shift-left\" "
                                               "[data [integer!] bits [integer!]] [#x] "
                                               "r2: boot-routine \"shift-left\" "
                                               "[a [integer!] /ref b] []"}});
    BootResult r = start_from(root.dir());
    ASSERT_EQ(r.status, 0) << r.message;
    EXPECT_EQ(ev("sl 1 4"), "16");
    EXPECT_EQ(ev("value? 'boot-routine"), "false");
    EXPECT_EQ(ev("reflect :sl 'body"), "[#x]");
    // The argument count counts the words of the spec.
    const ValueCell* r2 = global_value_ptr(symbol_make("r2"));
    ASSERT_EQ(r2->type(), TYPE_ROUTINE);
    EXPECT_EQ(routine_arity(r2), 2u);
}

}  // namespace
}  // namespace zan::boottest
