#include "cli/Json.h"

namespace bitloupe::cli {

void JsonString(JsonOut& out, const std::string& s) {
    out << '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\r':
                out << "\\r";
                break;
            case '\t':
                out << "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x80) {
                    // Item texts are 8-bit; keep them readable whatever the bytes are.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out << buf;
                } else {
                    out << static_cast<char>(c);
                }
        }
    }
    out << '"';
}

void JsonIndex(JsonOut& out, const std::vector<std::string>& index) {
    if (index.empty()) return;
    out << ", \"index\": [";
    for (size_t i = 0; i < index.size(); ++i) {
        if (i) out << ", ";
        const std::string& x = index[i];
        if (!x.empty() && x.find_first_not_of("0123456789") == std::string::npos)
            out << x;
        else
            JsonString(out, x);
    }
    out << "]";
}

}  // namespace bitloupe::cli
