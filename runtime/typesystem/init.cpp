// Start-up of the datatype layer: every datatype init in the fixed order
// (the parent of a type is always registered before it), then the generic
// action table.
#include "runtime/typesystem/init.h"

#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/text_types.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/function_spec_memo.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace zan {

void datatypes_state_reset() {
    series_state_reset();
    symbols_state_reset();
    context_state_reset();
    spec_memo_reset();
    runtime_support_state_reset();
    object_state_reset();
    error_state_reset();
    ownership_state_reset();
}

void datatypes_init_all() {
    datatype_init();
    // The start-up order. Inits of datatypes still to come go in their
    // place in this list.
    unset_init();
    none_init();
    logic_init();
    series_init();
    block_init();
    string_init();
    binary_init();
    integer_init();
    symbol_init();
    context_init();
    word_init();
    lit_word_init();
    set_word_init();
    get_word_init();
    refinement_init();
    char_init();
    native_init();
    action_value_init();
    op_init();
    path_init();
    lit_path_init();
    set_path_init();
    get_path_init();
    function_init();
    routine_init();
    paren_init();
    issue_init();
    url_init();
    file_init();
    object_init();
    bitset_init();
    triple_init();
    float_init();
    typeset_init();
    error_init();
    vector_init();
    map_init();
    hash_init();
    pair_init();
    percent_init();
    tuple_init();
    time_init();
    tag_init();
    email_init();
    handle_init();
    date_init();
    port_init();
    money_init();
    ref_init();
    point2d_init();
    point3d_init();
    image_init();
    event_init();
    actions_init();
}

}  // namespace zan
