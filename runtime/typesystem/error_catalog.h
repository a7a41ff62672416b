// The error catalogue: per category its word, base code and title, and per
// error id its message template. The ids and codes themselves are listed
// once, in runtime/core/error_ids.def; this file adds what the catalogue
// shows of them. The data is kept as a C++ table and turned into the
// catalogue object (the value of system/catalog/errors) on first use: an
// object of ten category objects, each holding code, type (the title) and
// one field per id whose value is the template.
//
// A template is written in the language's own notation: a string, a block
// of strings and argument words (:arg1 :arg2 :arg3, or plain arg1 .. arg3),
// or a single word naming an error field.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/errors.h"

namespace zan {

struct ErrorCategoryInfo {
    const char* word;   // "script"
    u32 code;           // 300
    const char* title;  // "Script Error"
};
extern const ErrorCategoryInfo g_error_categories[ERRCAT_COUNT];

// One item of a parsed template.
struct ErrorTemplateItem {
    enum Kind { TEXT, GET_WORD, WORD } kind;
    std::string text;  // the text, or the word's name
};
struct ErrorTemplate {
    enum Shape { STRING, BLOCK, WORD } shape;
    std::vector<ErrorTemplateItem> items;  // one item for STRING and WORD
};
// Parses a template source; false when it is malformed.
bool error_template_parse(const char* source, ErrorTemplate* out);

// Makes a catalogue object from the table into out (a cell that the caller
// keeps reachable).
ValueCell* error_catalog_build(ValueCell* out);
// The catalogue object in use, built on first use and kept as a collector
// root. Start-up may install the one it builds as system/catalog/errors.
const ValueCell* error_catalog();
// Makes catalog the one in use (kept as a root); anything but an object!
// is ignored.
void error_catalog_install(const ValueCell* catalog);
// True once the runtime can build the catalogue (symbols and the global
// context exist).
bool error_catalog_ready();
// The context node of the categories object, and of category k (0 when k
// is not a category object of the catalogue).
Node error_catalog_categories();
Node error_catalog_category(u32 k);
// The number of categories the catalogue holds.
u32 error_catalog_category_count();
// Forgets the catalogue object before a fresh start-up.
void error_catalog_reset();

}  // namespace zan
