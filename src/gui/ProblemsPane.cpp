#include "gui/ProblemsPane.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <string>

namespace bitloupe {

namespace {

constexpr int kColumnCount = 5;

QString OffsetText(uint64_t offset) {
    return QStringLiteral("0x") + QString::number(offset, 16).toUpper();
}

// The severity box's entries, in the order of SetSeverityFilter's index; -1 shows all.
constexpr int kSeverityChoices[] = {-1, static_cast<int>(Severity::kError),
                                    static_cast<int>(Severity::kWarning),
                                    static_cast<int>(Severity::kNote)};

}  // namespace

// The problems as they were handed over, with their code and message as Qt strings made once,
// so that neither painting nor the text filter converts a row again.
class ProblemsModel : public QAbstractTableModel {
  public:
    explicit ProblemsModel(QObject* parent) : QAbstractTableModel(parent) {}

    void SetIcons(const QIcon& error, const QIcon& warning, const QIcon& note) {
        icons_[static_cast<int>(Severity::kError)] = error;
        icons_[static_cast<int>(Severity::kWarning)] = warning;
        icons_[static_cast<int>(Severity::kNote)] = note;
    }

    void SetProblems(std::vector<Problem> problems) {
        beginResetModel();
        problems_ = std::move(problems);
        codes_.clear();
        messages_.clear();
        codes_.reserve(problems_.size());
        messages_.reserve(problems_.size());
        // Codes repeat: each distinct one is converted once and shared by its rows.
        std::map<std::string, QString> shared;
        for (const Problem& p : problems_) {
            auto it = shared.find(p.code);
            if (it == shared.end())
                it = shared.emplace(p.code, QString::fromStdString(p.code)).first;
            codes_.push_back(it->second);
            messages_.push_back(QString::fromStdString(p.message));
        }
        messageRanks_.clear();
        endResetModel();
    }

    // Takes `next` as rows inserted among the present ones, when it holds every present problem
    // in the same order (a list growing as a parse runs): the view keeps its selection and
    // place, and only the new rows are made. False, and nothing done, when it does not.
    bool Grow(std::vector<Problem>& next) {
        std::vector<std::pair<size_t, size_t>> runs;  // [first, last) in `next`
        size_t i = 0;
        for (size_t j = 0; j < next.size(); ++j) {
            if (i < problems_.size() && Same(problems_[i], next[j])) {
                ++i;
                continue;
            }
            if (!runs.empty() && runs.back().second == j)
                runs.back().second = j + 1;
            else
                runs.push_back({j, j + 1});
        }
        if (i != problems_.size()) return false;
        std::map<std::string, QString> shared;
        for (const auto& [first, last] : runs) {
            const int at = static_cast<int>(first);
            beginInsertRows(QModelIndex(), at, static_cast<int>(last) - 1);
            std::vector<QString> codes, messages;
            for (size_t k = first; k < last; ++k) {
                auto it = shared.find(next[k].code);
                if (it == shared.end())
                    it = shared.emplace(next[k].code, QString::fromStdString(next[k].code)).first;
                codes.push_back(it->second);
                messages.push_back(QString::fromStdString(next[k].message));
            }
            problems_.insert(problems_.begin() + at, std::make_move_iterator(next.begin() + at),
                             std::make_move_iterator(next.begin() + static_cast<ptrdiff_t>(last)));
            codes_.insert(codes_.begin() + at, codes.begin(), codes.end());
            messages_.insert(messages_.begin() + at, messages.begin(), messages.end());
            messageRanks_.clear();
            endInsertRows();
        }
        return true;
    }

    size_t Size() const { return problems_.size(); }
    const Problem& At(int row) const { return problems_[static_cast<size_t>(row)]; }
    const QString& Code(int row) const { return codes_[static_cast<size_t>(row)]; }
    const QString& Message(int row) const { return messages_[static_cast<size_t>(row)]; }
    // The row's place among the messages in alphabetical order, whatever the case. Worked out
    // on the first sort by message: every later sort or filter then compares numbers.
    uint32_t MessageRank(int row) const {
        if (messageRanks_.size() != messages_.size()) RankMessages();
        return messageRanks_[static_cast<size_t>(row)];
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(problems_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const int row = index.row();
        const Problem& p = At(row);
        switch (role) {
            case Qt::DisplayRole:
                return Text(row, index.column());
            case Qt::ToolTipRole:
                if (index.column() == ProblemsPane::kMessageColumn ||
                    index.column() == ProblemsPane::kCodeColumn)
                    return Text(row, index.column());
                return {};
            case Qt::DecorationRole:
                if (index.column() == ProblemsPane::kSeverityColumn)
                    return icons_[static_cast<int>(p.severity) % 3];
                return {};
            case Qt::TextAlignmentRole:
                if (index.column() == ProblemsPane::kPictureColumn ||
                    index.column() == ProblemsPane::kOffsetColumn)
                    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
                return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal) return {};
        if (role == Qt::TextAlignmentRole) {
            if (section == ProblemsPane::kPictureColumn || section == ProblemsPane::kOffsetColumn)
                return QVariant(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (role != Qt::DisplayRole) return {};
        switch (section) {
            case ProblemsPane::kSeverityColumn:
                return QStringLiteral("Severity");
            case ProblemsPane::kCodeColumn:
                return QStringLiteral("Code");
            case ProblemsPane::kMessageColumn:
                return QStringLiteral("Message");
            case ProblemsPane::kPictureColumn:
                return QStringLiteral("Picture");
            case ProblemsPane::kOffsetColumn:
                return QStringLiteral("Offset");
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    }

  private:
    static bool Same(const Problem& a, const Problem& b) {
        return a.item == b.item && a.offset == b.offset && a.code == b.code &&
               a.message == b.message;
    }

    void RankMessages() const {
        // Folded once, the messages then compare as plain strings, several times faster.
        std::vector<QString> folded;
        folded.reserve(messages_.size());
        for (const QString& m : messages_) folded.push_back(m.toCaseFolded());
        std::vector<uint32_t> order(messages_.size());
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(),
                         [&folded](uint32_t a, uint32_t b) { return folded[a] < folded[b]; });
        messageRanks_.assign(order.size(), 0);
        uint32_t rank = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            // Messages equal but for case share a rank, so the sort keeps their order.
            if (i > 0 && folded[order[i - 1]] != folded[order[i]]) ++rank;
            messageRanks_[order[i]] = rank;
        }
    }

    QString Text(int row, int column) const {
        const Problem& p = At(row);
        switch (column) {
            case ProblemsPane::kSeverityColumn: {
                QString word = QString::fromLatin1(SeverityName(p.severity));
                word[0] = word[0].toUpper();
                return word;
            }
            case ProblemsPane::kCodeColumn:
                return Code(row);
            case ProblemsPane::kMessageColumn:
                return Message(row);
            case ProblemsPane::kPictureColumn:
                return p.picture == 0 ? QString() : QString::number(p.picture);
            case ProblemsPane::kOffsetColumn:
                return OffsetText(p.offset);
        }
        return {};
    }

    std::vector<Problem> problems_;
    std::vector<QString> codes_;
    std::vector<QString> messages_;
    mutable std::vector<uint32_t> messageRanks_;
    QIcon icons_[3];
};

// Sorts and filters by reading the problems themselves: the numbers compare as numbers, the
// severity by its level, and no QVariant is made per comparison.
class ProblemsFilter : public QSortFilterProxyModel {
  public:
    ProblemsFilter(ProblemsModel* model, QObject* parent)
        : QSortFilterProxyModel(parent), model_(model) {
        setSourceModel(model);
    }

    // Stores the filters; true when they differ from the ones in force.
    bool StoreFilters(int severity, const std::string& code, const QString& text) {
        if (severity == severity_ && code == code_ && text == text_) return false;
        severity_ = severity;
        code_ = code;
        text_ = text;
        return true;
    }

    // Rebuilds the rows from scratch. Refiltering row by row (invalidateFilter) removes the
    // hidden rows one range at a time: on a sorted table of 100,000 problems that took seconds.
    void Refilter() { invalidate(); }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
        if (sourceParent.isValid()) return false;
        const Problem& p = model_->At(sourceRow);
        if (severity_ >= 0 && static_cast<int>(p.severity) != severity_) return false;
        if (!code_.empty() && p.code != code_) return false;
        if (text_.isEmpty()) return true;
        return model_->Message(sourceRow).contains(text_, Qt::CaseInsensitive) ||
               model_->Code(sourceRow).contains(text_, Qt::CaseInsensitive);
    }

    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override {
        const Problem& a = model_->At(left.row());
        const Problem& b = model_->At(right.row());
        switch (left.column()) {
            case ProblemsPane::kSeverityColumn:
                return a.severity < b.severity;
            case ProblemsPane::kCodeColumn:
                return a.code < b.code;
            case ProblemsPane::kMessageColumn:
                return model_->MessageRank(left.row()) < model_->MessageRank(right.row());
            case ProblemsPane::kPictureColumn:
                return a.picture < b.picture;
            case ProblemsPane::kOffsetColumn:
                return a.offset < b.offset;
        }
        return left.row() < right.row();
    }

  private:
    ProblemsModel* model_;
    int severity_ = -1;
    std::string code_;
    QString text_;
};

ProblemsPane::ProblemsPane(QWidget* parent) : QWidget(parent) {
    model_ = new ProblemsModel(this);
    model_->SetIcons(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                     style()->standardIcon(QStyle::SP_MessageBoxWarning),
                     style()->standardIcon(QStyle::SP_MessageBoxInformation));
    proxy_ = new ProblemsFilter(model_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    BuildFilterRow();
    BuildView();
    UpdateCountLabel();
}

ProblemsPane::~ProblemsPane() = default;

void ProblemsPane::BuildFilterRow() {
    severityBox_ = new QComboBox(this);
    severityBox_->setObjectName(QStringLiteral("severityFilter"));
    severityBox_->addItem(QStringLiteral("All"));
    severityBox_->addItem(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                          QStringLiteral("Errors"));
    severityBox_->addItem(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                          QStringLiteral("Warnings"));
    severityBox_->addItem(style()->standardIcon(QStyle::SP_MessageBoxInformation),
                          QStringLiteral("Notes"));
    severityBox_->setToolTip(QStringLiteral("Show the problems of one severity"));

    codeBox_ = new QComboBox(this);
    codeBox_->setObjectName(QStringLiteral("codeFilter"));
    codeBox_->addItem(QStringLiteral("All codes"), QString());
    codeBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    codeBox_->setToolTip(QStringLiteral("Show the problems of one code"));

    textEdit_ = new QLineEdit(this);
    textEdit_->setObjectName(QStringLiteral("textFilter"));
    textEdit_->setPlaceholderText(QStringLiteral("Filter messages and codes"));
    textEdit_->setClearButtonEnabled(true);

    countLabel_ = new QLabel(this);
    countLabel_->setObjectName(QStringLiteral("problemCounts"));

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(severityBox_);
    row->addWidget(codeBox_);
    row->addWidget(textEdit_, 1);
    row->addWidget(countLabel_);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);

    connect(severityBox_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilters(); });
    connect(codeBox_, &QComboBox::currentIndexChanged, this, [this] { ApplyFilters(); });
    connect(textEdit_, &QLineEdit::textChanged, this, [this] { ApplyFilters(); });
}

void ProblemsPane::BuildView() {
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("problemsView"));
    view_->setModel(proxy_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setAlternatingRowColors(true);
    view_->setShowGrid(false);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideRight);

    // Rows of one height: the view then never measures a row, whatever their number.
    QHeaderView* rows = view_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    QHeaderView* columns = view_->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    const QFontMetrics fm = columns->fontMetrics();
    // Room for the sort arrow and the cell's margins besides the text.
    const int pad = 28;
    const int icon = view_->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view_);
    view_->setColumnWidth(kSeverityColumn,
                          std::max(fm.horizontalAdvance(QStringLiteral("Severity")),
                                   icon + 4 + fm.horizontalAdvance(QStringLiteral("Warning"))) +
                              pad);
    view_->setColumnWidth(kCodeColumn,
                          fm.horizontalAdvance(QStringLiteral("temporal-ref-gap")) + pad);
    view_->setColumnWidth(kPictureColumn, fm.horizontalAdvance(QStringLiteral("Picture")) + pad);
    view_->setColumnWidth(kOffsetColumn, fm.horizontalAdvance(QStringLiteral("0x00000000")) + pad);
    columns->setSectionResizeMode(kMessageColumn, QHeaderView::Stretch);
    // File order until the user sorts: it is the order the problems come in.
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    view_->setSortingEnabled(true);

    static_cast<QVBoxLayout*>(layout())->addWidget(view_, 1);

    view_->installEventFilter(this);
    view_->viewport()->installEventFilter(this);
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { OnCurrentRowChanged(current); });
    connect(view_, &QTableView::clicked, this,
            [this](const QModelIndex& index) { OnClicked(index); });
}

void ProblemsPane::SetProblems(std::vector<Problem> problems) {
    errors_ = warnings_ = 0;
    for (const Problem& p : problems) {
        if (p.severity == Severity::kError) ++errors_;
        if (p.severity == Severity::kWarning) ++warnings_;
    }
    quiet_ = true;
    FillCodeBox(problems);
    // A list that grows as the parse runs gets its new rows alone, the selection and the
    // place kept by the view.
    if (model_->Size() && model_->Grow(problems)) {
        quiet_ = false;
        UpdateCountLabel();
        Q_EMIT CountsChanged(errors_, warnings_);
        return;
    }
    // Else the rows are set again; a problem still listed stays selected.
    std::optional<Problem> kept;
    if (const Problem* selected = SelectedProblem()) kept = *selected;
    const int scrolled = view_->verticalScrollBar()->value();
    // The new rows are filtered as the proxy rebuilds them after the reset.
    proxy_->StoreFilters(kSeverityChoices[std::max(0, severityBox_->currentIndex())],
                         codeBox_->currentData().toString().toStdString(), textEdit_->text());
    model_->SetProblems(std::move(problems));
    view_->selectionModel()->clear();
    if (kept) {
        for (int row = 0; row < static_cast<int>(model_->Size()); ++row) {
            const Problem& p = model_->At(row);
            if (p.item != kept->item || p.offset != kept->offset || p.code != kept->code ||
                p.message != kept->message)
                continue;
            const QModelIndex at = proxy_->mapFromSource(model_->index(row, 0));
            if (at.isValid())
                view_->selectionModel()->setCurrentIndex(
                    at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            break;
        }
    }
    view_->verticalScrollBar()->setValue(scrolled);
    quiet_ = false;
    activatedByChange_ = false;
    UpdateCountLabel();
    Q_EMIT CountsChanged(errors_, warnings_);
}

void ProblemsPane::FillCodeBox(const std::vector<Problem>& problems) {
    std::map<std::string, int> counts;
    for (const Problem& p : problems) ++counts[p.code];
    const QString current = codeBox_->currentData().toString();
    const QSignalBlocker block(codeBox_);
    codeBox_->clear();
    codeBox_->addItem(QStringLiteral("All codes"), QString());
    for (const auto& [code, count] : counts) {
        const QString name = QString::fromStdString(code);
        codeBox_->addItem(QStringLiteral("%1 (%2)").arg(name).arg(count), name);
    }
    codeBox_->setCurrentIndex(std::max(0, codeBox_->findData(current)));
}

void ProblemsPane::ApplyFilters() {
    const int severity = kSeverityChoices[std::max(0, severityBox_->currentIndex())];
    const std::string code = codeBox_->currentData().toString().toStdString();
    if (proxy_->StoreFilters(severity, code, textEdit_->text())) {
        quiet_ = true;
        proxy_->Refilter();
        quiet_ = false;
    }
    UpdateCountLabel();
}

void ProblemsPane::UpdateCountLabel() {
    const auto plural = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    countLabel_->setText(plural(errors_, "error", "errors") + QStringLiteral(", ") +
                         plural(warnings_, "warning", "warnings"));
    const int notes = static_cast<int>(model_->Size()) - errors_ - warnings_;
    countLabel_->setToolTip(QStringLiteral("%1, %2 shown of %3")
                                .arg(plural(notes, "note", "notes"))
                                .arg(VisibleCount())
                                .arg(model_->Size()));
}

size_t ProblemsPane::ProblemCount() const {
    return model_->Size();
}

int ProblemsPane::VisibleCount() const {
    return proxy_->rowCount();
}

void ProblemsPane::SetSeverityFilter(int index) {
    severityBox_->setCurrentIndex(std::clamp(index, 0, severityBox_->count() - 1));
}

void ProblemsPane::SetCodeFilter(const QString& code) {
    codeBox_->setCurrentIndex(code.isEmpty() ? 0 : std::max(0, codeBox_->findData(code)));
}

void ProblemsPane::SetTextFilter(const QString& text) {
    textEdit_->setText(text);
}

int ProblemsPane::SelectedRow() const {
    const QModelIndexList selected = view_->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

const Problem* ProblemsPane::SelectedProblem() const {
    const int row = SelectedRow();
    if (row < 0) return nullptr;
    return &model_->At(proxy_->mapToSource(proxy_->index(row, 0)).row());
}

void ProblemsPane::SelectRow(int row) {
    const QModelIndex index = proxy_->index(row, 0);
    view_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(index);
}

bool ProblemsPane::ActivateRow(int row) {
    if (row < 0 || row >= VisibleCount()) return false;
    activatedByChange_ = false;
    SelectRow(row);
    // A row that was current already is not changed to, so it is activated here.
    if (!activatedByChange_) Activate(proxy_->index(row, 0));
    return true;
}

bool ProblemsPane::SelectNext(bool forward) {
    const int count = VisibleCount();
    if (count == 0) return false;
    const int row = SelectedRow();
    if (row < 0) return ActivateRow(forward ? 0 : count - 1);
    return ActivateRow((row + (forward ? 1 : count - 1)) % count);
}

void ProblemsPane::Activate(const QModelIndex& proxyIndex) {
    const QModelIndex source = proxy_->mapToSource(proxyIndex);
    if (!source.isValid()) return;
    const Problem& p = model_->At(source.row());
    Q_EMIT ProblemActivated(p.item, p.offset, p.picture);
}

void ProblemsPane::OnCurrentRowChanged(const QModelIndex& current) {
    // Only a row that is also selected counts: the keys and SelectRow select as they move, while
    // focus coming in by Tab makes a row current alone, and a mouse press selects only after it
    // (its click activates the row then).
    if (quiet_ || !current.isValid()) return;
    if (!view_->selectionModel()->isRowSelected(current.row(), current.parent())) return;
    activatedByChange_ = true;
    Activate(current);
}

void ProblemsPane::OnClicked(const QModelIndex& index) {
    // Unless the press that led to this click activated the row already.
    if (activatedByChange_) return;
    Activate(index);
}

bool ProblemsPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport() && event->type() == QEvent::MouseButtonPress)
        activatedByChange_ = false;
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && view_->currentIndex().isValid()) {
            Activate(view_->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace bitloupe
