// The problems pane: the stream's problems as one flat table (severity, code, message, picture,
// offset) under a row of filters, for the Problems dock. A click on a row, or a step with F8,
// names the problem's item, offset and picture, and the main window goes there. The rows are
// a plain vector behind a sorting and filtering proxy, so a stream with a hundred thousand
// problems is set and filtered in a blink.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "core/render/Problems.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QTableView;

namespace bitloupe {

class ProblemsModel;
class ProblemsFilter;

class ProblemsPane : public QWidget {
    Q_OBJECT

  public:
    enum Column { kSeverityColumn, kCodeColumn, kMessageColumn, kPictureColumn, kOffsetColumn };

    explicit ProblemsPane(QWidget* parent = nullptr);
    ~ProblemsPane() override;

    // Keeps the filters (a code no longer present falls back to all codes), the scroll place
    // and the selected problem when it is still listed (nothing is activated). A list that
    // holds the present one in order, with more, only inserts the new rows.
    void SetProblems(std::vector<Problem> problems);
    size_t ProblemCount() const;
    // The rows left by the filters.
    int VisibleCount() const;
    // Of all the problems, whatever the filters show.
    int ErrorCount() const { return errors_; }
    int WarningCount() const { return warnings_; }

    // Moves the selection to the next (or previous) visible row, wrapping round, and activates
    // it; false when no row is visible. With nothing selected it starts at the first (or last)
    // row.
    bool SelectNext(bool forward);
    // The problem of the selected row; null when none.
    const Problem* SelectedProblem() const;

    // The filters, as the boxes above the table set them. Severity: 0 all, 1 errors,
    // 2 warnings, 3 notes. Code: "" for all; a code not present also shows all.
    void SetSeverityFilter(int index);
    void SetCodeFilter(const QString& code);
    void SetTextFilter(const QString& text);

    // A click on the visible row `row`: selects and activates it; false when there is no such
    // row.
    bool ActivateRow(int row);

    QTableView* View() const { return view_; }

  Q_SIGNALS:
    // A row was clicked or stepped to: select this item (0 when none is listed), show this
    // offset and picture (0 for none).
    void ProblemActivated(TreeItem item, uint64_t offset, uint32_t picture);
    void CountsChanged(int errors, int warnings);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildFilterRow();
    void BuildView();
    // The code box lists "All codes" and the codes of `problems`, keeping the current choice
    // when it is still among them.
    void FillCodeBox(const std::vector<Problem>& problems);
    // Hands the boxes' state to the proxy.
    void ApplyFilters();
    void UpdateCountLabel();
    void SelectRow(int row);
    void Activate(const QModelIndex& proxyIndex);
    void OnCurrentRowChanged(const QModelIndex& current);
    void OnClicked(const QModelIndex& index);
    int SelectedRow() const;

    ProblemsModel* model_ = nullptr;
    ProblemsFilter* proxy_ = nullptr;
    QComboBox* severityBox_ = nullptr;
    QComboBox* codeBox_ = nullptr;
    QLineEdit* textEdit_ = nullptr;
    QLabel* countLabel_ = nullptr;
    QTableView* view_ = nullptr;
    int errors_ = 0;
    int warnings_ = 0;
    // Set while the rows are replaced or refiltered: the current row moves then without the
    // user asking, and nothing is activated.
    bool quiet_ = false;
    // Set when a change of the current row has activated it; a mouse press clears it, so a
    // click activates its row once whatever the press did.
    bool activatedByChange_ = false;
};

}  // namespace bitloupe
