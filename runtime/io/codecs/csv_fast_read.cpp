// The CSV reader's fast path for the default layout (a block of rows of
// strings): the same rows as the reader's grammar, read in one pass. It
// declines what the grammar reports (text it cannot follow, rows of unequal
// length) and delimiters it does not handle, and the grammar then reads the
// text and gives the rows or the error.
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/codecs/codec_text.h"
#include "runtime/io/codecs/csv_fast.h"

namespace zan {

namespace {

class RowReader {
public:
    RowReader(std::vector<u8> bytes, u32 unit, u32 length, std::vector<u32> delimiter, u32 quote)
        : bytes_(std::move(bytes)), unit_(unit), len_(length), delimiter_(std::move(delimiter)),
          quote_(quote) {}

    // Fills the block on the stack top with the rows; false to decline.
    bool rows(ValueCell* out) {
        i32 width = -1;
        ValueCell* row = block_push_new(20);
        while (!only_line_ends_left()) {
            block_set_tail(row, 0);
            for (;;) {
                if (!value()) return false;
                block_append_cell(row, g_stack.top - 1);
                stack_pop(1);
                if (at_delimiter()) {
                    pos_ += static_cast<u32>(delimiter_.size());
                    continue;
                }
                if (!line_end() && pos_ < len_) return false;
                break;
            }
            i32 n = block_length(row);
            if (width < 0) width = n;
            if (n != width) return false;
            ValueCell* copy = unset_push();
            block_clone(row, copy, false, false);
            block_append_cell(out, copy);
            stack_pop(1);
        }
        stack_pop(1);
        return true;
    }

private:
    std::vector<u8> bytes_;
    u32 unit_;
    u32 len_;
    std::vector<u32> delimiter_;
    u32 quote_;
    u32 pos_ = 0;
    std::vector<u32> text_;

    u32 at(u32 i) const { return unicode_get_unit(bytes_.data() + (size_t(i) << (unit_ >> 1)), unit_); }

    bool only_line_ends_left() const {
        for (u32 i = pos_; i < len_; i++) {
            u32 c = at(i);
            if (c != '\n' && c != '\r') return false;
        }
        return true;
    }

    // Consumes CR LF, LF or CR.
    bool line_end() {
        if (pos_ >= len_) return false;
        u32 c = at(pos_);
        if (c == '\r') {
            pos_++;
            if (pos_ < len_ && at(pos_) == '\n') pos_++;
            return true;
        }
        if (c == '\n') {
            pos_++;
            return true;
        }
        return false;
    }

    bool at_delimiter() const {
        if (pos_ + delimiter_.size() > len_) return false;
        for (size_t i = 0; i < delimiter_.size(); i++)
            if (at(pos_ + static_cast<u32>(i)) != delimiter_[i]) return false;
        return true;
    }

    bool plain_char(u32 c) const {
        if (c == '\n' || c == '\r') return false;
        for (u32 d : delimiter_)
            if (c == d) return false;
        return true;
    }

    // A quoted value (two quote characters giving one) when its closing
    // quote comes; else, as in the grammar, a plain value from the quote on.
    bool quoted() {
        u32 p = pos_ + 1;
        text_.clear();
        while (p < len_) {
            u32 c = at(p++);
            if (c != quote_) {
                text_.push_back(c);
            } else if (p < len_ && at(p) == quote_) {
                text_.push_back(quote_);
                p++;
            } else {
                pos_ = p;
                return true;
            }
        }
        return false;
    }

    bool value() {
        if (pos_ < len_ && at(pos_) == quote_ && quoted()) {
            codec_push_text(text_);
            return true;
        }
        text_.clear();
        while (pos_ < len_ && plain_char(at(pos_))) text_.push_back(at(pos_++));
        codec_push_text(text_);
        return true;
    }
};

}  // namespace

void csv_routine_fast_decode() {
    ValueCell* top = g_stack.top;
    ValueCell* data = stack_arg(0);
    const ValueCell* delimiter = stack_arg(1);
    std::vector<u32> delim;
    if (delimiter->type() == TYPE_CHAR) delim.push_back(char_get(delimiter));
    else codec_read_text(delimiter, delim);
    u32 quote = char_get(stack_arg(2));
    bool handled = !delim.empty() && quote != '\n' && quote != '\r';
    for (u32 d : delim) handled = handled && d != '\n' && d != '\r' && d != quote;
    ValueCell result = *none_push();
    if (handled) {
        u32 unit = series_of(data)->unit();
        u32 length = static_cast<u32>(string_length(data));
        const u8* head = string_head_ptr(data);
        RowReader reader(std::vector<u8>(head, head + size_t(length) * unit), unit, length, std::move(delim),
                         quote);
        ValueCell* out = block_push_new(1 + length / 80);
        if (reader.rows(out)) result = *out;
    }
    g_stack.top = top;
    stack_set_last(&result);
}

}  // namespace zan
