#include "core/tree/ItemFields.h"

#include <cctype>

#include "core/tree/ItemKinds.h"

namespace bitloupe {

namespace {

// The name of the structure a container item of this kind holds ("" for none).
const char* StructureName(ItemKind kind) {
    switch (kind) {
        case ItemKind::VideoRoot:
            return "video_sequence";
        case ItemKind::SequenceHeader:
            return "sequence_header";
        case ItemKind::Gop:
            return "group_of_pictures";
        case ItemKind::GopHeader:
            return "group_of_pictures_header";
        case ItemKind::Picture:
            return "picture";
        case ItemKind::PictureHeader:
            return "picture_header";
        case ItemKind::UserData:
            return "user_data";
        case ItemKind::Slice:
            return "slice";
        case ItemKind::SliceHeader:
            return "slice_header";
        case ItemKind::Macroblock:
        case ItemKind::SkippedMacroblock:
            return "macroblock";
        case ItemKind::MacroblockHeader:
            return "macroblock_header";
        case ItemKind::BlockY:
        case ItemKind::BlockCb:
        case ItemKind::BlockCr:
        case ItemKind::BlockError:
            return "block";
        case ItemKind::Pack:
            return "pack";
        case ItemKind::PackHeader:
            return "pack_header";
        case ItemKind::SystemHeader:
            return "system_header";
        case ItemKind::PesPacket:
            return "PES_packet";
        default:
            return "";
    }
}

// "Picture Coding Extension" -> "picture_coding_extension".
std::string SnakeCase(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out.push_back('_');
        else if (std::isalnum(static_cast<unsigned char>(c)))
            out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        else
            break;
    }
    return out;
}

}  // namespace

bool FieldOf(const TreeStore& tree, TreeItem item, FieldName& out) {
    ItemFacts facts;
    const bool placed = tree.GetItemFacts(item, facts) && facts.hasSpan;
    return FieldOf(tree.GetItemData(item), tree.GetItemText(item), placed, out);
}

bool FieldOf(uint32_t data, const std::string& text, bool placed, FieldName& out) {
    out = FieldName();
    if (IsVirtual(data)) return false;
    const ItemKind kind = KindOf(data);
    if (kind == ItemKind::Extension || kind == ItemKind::SequenceExtension) {
        out.field = SnakeCase(text);
        return !out.field.empty();
    }
    if (const char* name = StructureName(kind); *name) {
        out.field = name;
        return true;
    }
    // A field: its record's text begins with the name, then its indices, then '='.
    if (kind != ItemKind::None || !placed) return false;
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    const size_t bracket = text.find('[');
    const size_t nameEnd = bracket < equals ? bracket : equals;
    out.field = text.substr(0, nameEnd);
    for (size_t at = nameEnd; at < equals && text[at] == '[';) {
        const size_t close = text.find(']', at);
        if (close == std::string::npos || close > equals) break;
        out.index.push_back(text.substr(at + 1, close - at - 1));
        at = close + 1;
    }
    for (char c : out.field)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    return true;
}

}  // namespace bitloupe
