// The left pane's tree: a view over the syntax tree model with the program's text colours,
// the popup menu, the expand and collapse family, the keyword search, the on-demand parse
// commands it hands to the frame, double clicks and the auto-picture arrow keys.
#pragma once

#include <QTimer>
#include <QTreeView>
#include <functional>

#include "core/base/Host.h"
#include "core/tree/TreeRules.h"
#include "gui/SyntaxTreeModel.h"

namespace bitloupe {

class CSyntaxTree : public QTreeView {
    Q_OBJECT

  public:
    CSyntaxTree(SyntaxTreeModel* model, Host* host, QWidget* parent = nullptr);

    SyntaxTreeModel* syntaxModel() const { return model_; }
    TreeStore& store() const { return model_->store(); }

    // Hooks into the frame: the bar's keyword, and commands posted to the frame by id.
    std::function<QString()> keyword;
    std::function<void(int)> postCommand;

    // The on-demand targets, read by the frame's commands of the same names.
    TreeItem macroblockTarget = 0;
    TreeItem sliceTarget = 0;
    TreeItem pictureTarget = 0;
    TreeItem payloadTarget = 0;
    bool autoPictureMode = true;

    TreeItem SelectedItem() const;
    // Selects an item (publishing what is pending first, so it can be shown) and scrolls to it.
    bool SelectItem(TreeItem item);
    // The item a popup command applies to: the item under the last pointer position, else the
    // selection.
    TreeItem PopupTarget() const;

    // Carries out the store's view requests. While a parse runs and the user has taken over
    // the tree (scrolled, clicked, typed), the view stays where the user is: requests only
    // update the remembered expanded state.
    void ApplyRequests(const std::vector<ViewRequest>& requests);
    void FollowParse() { userActed_ = false; }
    bool UserActed() const { return userActed_; }

    // The keyword search: starts, resumes or restarts the walk (F3, the bar's button).
    void SearchNext();
    void SearchAll();   // "Search All Data"
    void SearchTree();  // "Search Tree"
    bool SearchRunning() const { return searchTimer_.isActive(); }
    TreeItem searchRoot = kTreeRoot;

    // The popup menu's commands.
    void RunPopupCommand(int id);
    // Builds the popup menu for a point of the viewport (for tests: without showing it).
    class QMenu* BuildPopupMenu(const QPoint& viewportPoint);
    bool popupArmed = false;

    // Export (Ctrl+C and the popup's export entries) is wired by the frame.
    std::function<void(int)> exportCommand;

  Q_SIGNALS:
    void SelectionChangedTo(TreeItem item);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

  private:
    void SyncExpandedFlags(TreeItem target);
    void SetBranchExpanded(const QModelIndex& index, bool expand);
    void CollapseChildren(const QModelIndex& index);
    void RunSearch();
    void Walk(std::function<void()> op);

    SyntaxTreeModel* model_;
    Host* host_;
    QPoint remembered_{-1, -1};
    bool userActed_ = false;
    bool applying_ = false;
    mutable int widest_ = 0;  // the widest row painted since the tree was cleared
    mutable bool growPending_ = false;

    SearchWalk walk_;
    TreeItem lastSearchRoot_ = 0;
    std::string lastKeyword_;
    QTimer searchTimer_;
};

}  // namespace bitloupe
