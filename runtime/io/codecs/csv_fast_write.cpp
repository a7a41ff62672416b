// The CSV writer's fast path for a block of rows: the text that to-csv
// writes for it, in one pass. It takes rows (blocks, all as long as the
// first) of string and integer values; anything else makes it decline, and
// the writer in the language writes the rows (or returns its error).
#include "runtime/io/codecs/csv_fast.h"

#include <string>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/io/codecs/codec_text.h"

namespace zan {

namespace {

class RowWriter {
public:
    RowWriter(std::vector<u32> delimiter, u32 quote) : delimiter_(std::move(delimiter)), quote_(quote) {}

    std::vector<u32> out;

    bool rows(const ValueCell* data) {
        i32 n = block_length(data);
        u32 head = static_cast<u32>(series_index(data));
        i32 width = -1;
        for (i32 r = 0; r < n; r++) {
            const ValueCell* row = block_cell_at(data, head + static_cast<u32>(r));
            if (row->type() != TYPE_BLOCK) return false;
            i32 len = block_length(row);
            if (width < 0) width = len;
            if (len != width) return false;
            if (!line(row, len)) return false;
        }
        return true;
    }

private:
    std::vector<u32> delimiter_;
    u32 quote_;
    std::vector<u32> field_;

    // Whether a character makes its field quoted.
    bool quotable(u32 c) const {
        if (c == ' ' || c == '\n' || c == '\r' || c == quote_) return true;
        for (u32 d : delimiter_)
            if (c == d) return true;
        return false;
    }

    bool field_text(const ValueCell* v) {
        field_.clear();
        if (v->type() == TYPE_STRING) {
            codec_read_text(v, field_);
        } else if (v->type() == TYPE_INTEGER) {
            for (char c : std::to_string(integer_get(v))) field_.push_back(static_cast<u8>(c));
        } else {
            return false;
        }
        return true;
    }

    // A field: quoted, with its quote characters doubled, when it holds any
    // character that needs it.
    void field() {
        bool quoted = false;
        for (u32 c : field_) quoted = quoted || quotable(c);
        if (!quoted) {
            out.insert(out.end(), field_.begin(), field_.end());
            return;
        }
        out.push_back(quote_);
        for (u32 c : field_) {
            out.push_back(c);
            if (c == quote_) out.push_back(quote_);
        }
        out.push_back(quote_);
    }

    // A row of one empty field is written as two quote characters, so that
    // it reads back; an empty row is an empty line.
    bool line(const ValueCell* row, i32 len) {
        u32 head = static_cast<u32>(series_index(row));
        for (i32 i = 0; i < len; i++) {
            ValueCell v = *block_cell_at(row, head + static_cast<u32>(i));
            if (!field_text(&v)) return false;
            if (len == 1 && field_.empty()) {
                out.push_back(quote_);
                out.push_back(quote_);
                break;
            }
            if (i) out.insert(out.end(), delimiter_.begin(), delimiter_.end());
            field();
        }
        out.push_back('\n');
        return true;
    }
};

}  // namespace

void csv_routine_fast_encode() {
    ValueCell* top = g_stack.top;
    const ValueCell* delimiter = stack_arg(1);
    std::vector<u32> delim;
    if (delimiter->type() == TYPE_CHAR) delim.push_back(char_get(delimiter));
    else codec_read_text(delimiter, delim);
    RowWriter writer(std::move(delim), char_get(stack_arg(2)));
    ValueCell result;
    if (writer.rows(stack_arg(0))) result = *codec_push_text(writer.out);
    else result = *none_push();
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
