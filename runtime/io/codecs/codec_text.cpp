#include "runtime/io/codecs/codec_text.h"

#include "runtime/datatypes/string.h"

namespace zan {

ValueCell* codec_push_text(const std::vector<u32>& code_points) {
    ValueCell* s = string_push_new(static_cast<u32>(code_points.size()));
    for (u32 cp : code_points) string_append_char(s, cp);
    return s;
}

void codec_read_text(const ValueCell* string, std::vector<u32>& out) {
    u32 head = static_cast<u32>(string_total_length(string) - string_length(string));
    u32 tail = static_cast<u32>(string_total_length(string));
    for (u32 i = head; i < tail; i++) out.push_back(string_char_at(string, i));
}

}  // namespace zan
