#include "gui/DisplayBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>

#include "gui/CommandIds.h"
#include "gui/StringTable.h"

namespace bitloupe {

CDisplayBar::CDisplayBar(QWidget* parent) : QWidget(parent) {
    setObjectName("displayBar");
    auto tip = [](QWidget* w, int id) { w->setToolTip(QString::fromUtf8(ControlTooltip(id))); };
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(6);

    colors_ = new CFlatButton("Colors ...", this);
    colors_->SetHoverColours(QColor(255, 255, 0), QColor(128, 128, 128));
    colors_->setFixedWidth(80);
    tip(colors_, cmd::kColors);
    row->addWidget(colors_);

    displayType_ = new QComboBox(this);
    displayType_->addItems({"Auto", "Raw", "Diff[0]", "Diff[1]", "Null"});
    tip(displayType_, cmd::kDisplayType);
    row->addWidget(displayType_);

    fieldOption_ = new QComboBox(this);
    fieldOption_->addItems({"The Frame", "Top Field", "Bottom Field"});
    tip(fieldOption_, cmd::kFieldOption);
    row->addWidget(fieldOption_);

    displayMvs_ = new QCheckBox("Display MVs", this);
    tip(displayMvs_, cmd::kDisplayMvs);
    row->addWidget(displayMvs_);

    mvType_ = new QComboBox(this);
    mvType_->addItems({"Forward MV 1", "Backward MV 1", "Forward MV 2", "Backward MV 2",
                       "Forward MVs", "Backward MVs", "All the Four MVs",
                       "==MVs ONLY==", "Forward MV 1", "Backward MV 1", "Forward MV 2",
                       "Backward MV 2", "Forward MVs", "Backward MVs", "All the Four MVs"});
    mvType_->setCurrentIndex(6);
    mvType_->setEnabled(false);
    tip(mvType_, cmd::kMvType);
    row->addWidget(mvType_);

    mbGrid_ = new QCheckBox("MB Grid", this);
    tip(mbGrid_, cmd::kMbGrid);
    row->addWidget(mbGrid_);

    keyword_ = new QLineEdit(this);
    keyword_->setMinimumWidth(160);
    keyword_->setPlaceholderText("Keyword");
    keyword_->setClearButtonEnabled(true);
    tip(keyword_, cmd::kKeyword);
    keyword_->installEventFilter(this);
    row->addWidget(keyword_, 1);

    search_ = new CFlatButton(this);
    search_->SetIcons(QIcon(":/icons/search.svg"), QIcon(":/icons/search-hot.svg"));
    search_->setFixedWidth(30);
    tip(search_, cmd::kSearch);
    row->addWidget(search_);
    row->addStretch();

    connect(colors_, &QPushButton::clicked, this, [this] { Post(cmd::kColors); });
    connect(displayType_, &QComboBox::activated, this, [this] { Post(cmd::kDisplayType); });
    connect(fieldOption_, &QComboBox::activated, this, [this] { Post(cmd::kFieldOption); });
    connect(displayMvs_, &QCheckBox::clicked, this, [this] { Post(cmd::kDisplayMvs); });
    connect(mvType_, &QComboBox::activated, this, [this] { Post(cmd::kMvType); });
    connect(mbGrid_, &QCheckBox::clicked, this, [this] { Post(cmd::kMbGrid); });
    connect(search_, &QPushButton::clicked, this, [this] { Post(cmd::kSearch); });
}

bool CDisplayBar::eventFilter(QObject* watched, QEvent* event) {
    // Enter or F3 in the keyword box searches; the key goes no further.
    if (watched == keyword_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F3) {
            Post(cmd::kSearch);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace bitloupe
