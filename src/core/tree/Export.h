// Tree export as an indented outline: one item per line, a tab per level below the first
// item, CR LF line ends (as the clipboard takes them).
#pragma once

#include <ostream>
#include <string>

#include "core/tree/TreeStore.h"

namespace bitloupe {

// The branch of item: its text (when withSelf) and every descendant, leaving out virtual items
// with their branches unless all is set.
std::string ExportBranch(const TreeStore& tree, TreeItem item, bool withSelf, bool all,
                         const char* lineEnd = "\r\n");
// The non-virtual outline without the raw DCT data items, but with the pel-value matrices.
std::string ExportPelBranch(const TreeStore& tree, TreeItem item, bool withSelf,
                            const char* lineEnd = "\r\n");

enum class ExportFilter { All, NonVirtual, YCbCr };

// Writes what ExportBranch / ExportPelBranch build (with itself) straight to a stream, in one
// pass, for large trees.
void WriteBranch(std::ostream& out, const TreeStore& tree, TreeItem item, ExportFilter filter,
                 const char* lineEnd = "\r\n");

// A large branch asks before it is exported.
bool IsLargeBranch(const TreeStore& tree, TreeItem item);

}  // namespace bitloupe
