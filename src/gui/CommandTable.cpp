#include "gui/CommandTable.h"

namespace bitloupe {

void CommandTable::Add(int id, std::function<void()> run, Rule enabled, Rule checked) {
    Command& c = commands_[id];
    c.run = std::move(run);
    c.enabled = std::move(enabled);
    c.checked = std::move(checked);
}

bool CommandTable::IsEnabled(int id) const {
    const auto it = commands_.find(id);
    if (it == commands_.end()) return false;
    return !it->second.enabled || it->second.enabled();
}

bool CommandTable::IsChecked(int id) const {
    const auto it = commands_.find(id);
    return it != commands_.end() && it->second.checked && it->second.checked();
}

bool CommandTable::Execute(int id) {
    if (!IsEnabled(id)) return false;
    // Copied: a handler may replace the table entry while it runs.
    const std::function<void()> run = commands_[id].run;
    if (run) run();
    return true;
}

void CommandTable::Bind(int id, QAction* action) {
    commands_[id].actions.push_back(action);
    if (commands_[id].checked) action->setCheckable(true);
    QObject::connect(action, &QAction::triggered, action, [this, id, action] {
        Execute(id);
        // A check mark follows the rule, not the click.
        if (action->isCheckable()) action->setChecked(IsChecked(id));
    });
}

QAction* CommandTable::ActionOf(int id) const {
    const auto it = commands_.find(id);
    return it == commands_.end() || it->second.actions.empty() ? nullptr
                                                               : it->second.actions.front();
}

void CommandTable::Refresh() {
    for (auto& [id, c] : commands_) {
        if (c.actions.empty()) continue;
        const bool enabled = !c.enabled || c.enabled();
        const bool checked = c.checked && c.checked();
        for (QAction* a : c.actions) {
            if (a->isEnabled() != enabled) a->setEnabled(enabled);
            if (a->isCheckable() && a->isChecked() != checked) a->setChecked(checked);
        }
    }
}

}  // namespace bitloupe
