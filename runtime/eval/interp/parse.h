// The parse dialect: an engine that runs a block of grammar rules against
// an input series (any block type, any string type or a binary!) and
// answers whether the rules matched the whole input, or returns the block
// that a top-level `collect` gathered.
//
// The engine is one flat state machine over two work blocks kept in the
// root block: the input stack (the outermost input and every series that
// `into` entered) and the rule stack (a 3-cell frame per rule block entered
// and a 3-cell record per keyword or count that governs a sub-rule). Rule
// nesting therefore lives in those blocks and never on the machine stack;
// it is bounded by the size limit of the work blocks (script error
// parse-stack).
//
// Records on the rule stack, from the bottom cell to the top one:
//   block frame: none!, position triple!, the enclosing rules block!
//   rule record: triple! (minimum, maximum or -1, iteration) or the target
//                word of copy/set, position triple!, pair! (type, extra)
// A position triple holds the offset of the rule cell within its rules
// block, the input index and the remaining input length. The pair's type
// codes are the RuleType values of parse_internal.h.
//
// Parens in rules are evaluated by the interpreter and the /trace callback
// is called through the normal function-call path; both may run parse
// again: a nested run sees empty work stacks (their heads are saved on the
// rule stack and restored when it ends).
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Comparison modes of a run: `/case` selects the strict one.
constexpr u32 PARSE_MODE_EQUAL = 0;   // case-insensitive equality
constexpr u32 PARSE_MODE_STRICT = 2;  // case-sensitive equality

// Makes the two work blocks in the root block and the keyword table. Runs
// at start-up after the natives table (natives_init calls it through the
// parse group's registration); again for a fresh runtime.
void parse_init();

// Runs rules (a block!) over input (a block-family, string-family or
// binary! value, at its index). mode: PARSE_MODE_EQUAL or PARSE_MODE_STRICT.
// part: 0 for no limit, else an absolute index into input past which the
// input counts as ended. callback: a function! called for every trace event
// (push pop fetch match iterate paren end) or null. The result (a logic!,
// or the block gathered by a top-level collect) is pushed on the data stack
// and its address returned. Errors and the non-local exits raised by parens
// and the callback restore the work stacks to what they were before the
// run (empty for an outermost run) and pass on.
ValueCell* parse_rules(const ValueCell* input, const ValueCell* rules, u32 mode, i32 part,
                       const ValueCell* callback);


// The size in bytes a work block may reach before a push raises
// script error parse-stack.
constexpr u32 PARSE_STACK_LIMIT_BYTES = 160016;

// How many entries (3-cell rule frames and records) a run started now could
// push on the rule stack before a push raises parse-stack: the rule stack
// is shared with the runs this one would be nested in (from a paren or a
// callback). Installed as a datatype service by parse_init.
u32 parse_room_for_run();

}  // namespace zan
