// tag!, email! and ref!: small text types with the string! layout (the
// stored text never holds the delimiters "<" ">" or "@"; they are added on
// output) that take almost every action from string!.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- tag! (type id 44): form and mold write the text between "<" and ">" --------------
i32 tag_form(ValueCell* tag, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 tag_mold(ValueCell* tag, ValueCell* out, bool only, bool all, bool flat,
             ValueCell* arg_limit, i32 limit, i32 indent);
void tag_init();

// ---- email! (type id 45): the address as it is; the user and host accessors ------------------
i32 email_mold(ValueCell* email, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
// An integer! key picks or pokes as on a string!; the words user and host
// get a copy of the part before or after the first "@" (a new string!), or
// change that part of the address in place.
ValueCell* email_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool flag3);
void email_init();

// ---- ref! (type id 50): molds with a leading "@" ---------------------------------------------
i32 ref_mold(ValueCell* ref, ValueCell* out, bool only, bool all, bool flat,
             ValueCell* arg_limit, i32 limit, i32 indent);
void ref_init();

}  // namespace zan
