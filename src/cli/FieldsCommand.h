// bitloupe-cli fields: one row per occurrence of the named syntax elements, with the picture
// it belongs to, where its bits lie and its value, for scripts.
#pragma once

namespace bitloupe::cli {

int RunFields(int argc, char** argv);
const char* FieldsUsage();

}  // namespace bitloupe::cli
