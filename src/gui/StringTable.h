// The program's longer texts: status-bar prompts and tooltips ("prompt\ntooltip") of the
// commands, and the tooltips of the controls, by id.
#pragma once

namespace bitloupe {

// "prompt\ntooltip" of a command id; an empty string when it has none.
const char* CommandPrompt(int id);
// The tooltip of a control id; an empty string when it has none.
const char* ControlTooltip(int id);

}  // namespace bitloupe
