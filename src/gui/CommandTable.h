// One table of the main window's commands: each id has a handler, an enabling rule and
// optionally a check mark rule. Menu entries and toolbar buttons are refreshed from the rules,
// and a command runs only when its rule holds at that moment, however it arrives (menu,
// toolbar, key, or posted by id from another window or the engine).
#pragma once

#include <QAction>
#include <functional>
#include <map>

namespace bitloupe {

class CommandTable {
  public:
    using Rule = std::function<bool()>;

    void Add(int id, std::function<void()> run, Rule enabled = {}, Rule checked = {});
    // Runs the command if its rule holds; false when it does not (or the id is unknown).
    bool Execute(int id);
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;
    bool Has(int id) const { return commands_.count(id) != 0; }
    // Ties an action to a command: triggering it executes the command, Refresh updates it.
    void Bind(int id, QAction* action);
    QAction* ActionOf(int id) const;
    // Brings every bound action's enabled state and check mark up to date.
    void Refresh();

  private:
    struct Command {
        std::function<void()> run;
        Rule enabled;
        Rule checked;
        std::vector<QAction*> actions;
    };
    std::map<int, Command> commands_;
};

}  // namespace bitloupe
