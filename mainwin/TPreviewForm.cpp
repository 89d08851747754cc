#include "mainwin/TPreviewForm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "mainwin/PreviewTexts.h"
#include "mainwin/TPreviewModel.h"
#include "rename/TRenamePreview.h"

namespace vantelo {
namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// Column widths at 96 pixels per inch; the reason column takes the rest.
constexpr int kNameColumnWidth = 230;
constexpr int kMargin = 8;
// The link's place on the main window (client pixels at 96 pixels per inch).
const QRect kLinkGeometry(568, 76, 113, 18);

}  // namespace

QLabel* TPreviewForm::MakeLink(QWidget* window)
{
    auto* link = new QLabel(QStringLiteral("<a href=\"preview\">%1</a>").arg(Text(previewtexts::kOpenLink)), window);
    link->setObjectName(QStringLiteral("PreviewLink"));
    link->setGeometry(kLinkGeometry);
    link->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    link->setFocusPolicy(Qt::NoFocus);
    link->setCursor(Qt::PointingHandCursor);
    link->setAccessibleName(Text(previewtexts::kTitle));
    return link;
}

TPreviewForm::TPreviewForm(std::shared_ptr<const TRenamePreview> preview, QWidget* parent)
    : QDialog(parent), model_(new TPreviewModel(preview, this))
{
    setWindowTitle(Text(previewtexts::kTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (parent)
        setFont(parent->font());
    resize(kWidth, kHeight);

    summary_ = new QLabel(QString::fromStdString(previewtexts::Summary(preview->Count(), preview->Refused().size())),
                          this);

    view_ = new QTableView(this);
    view_->setAccessibleName(Text(previewtexts::kTitle));
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideMiddle);
    // Fixed row heights: the view never measures a row, so a million rows
    // open and scroll as fast as a few.
    QHeaderView* rows = view_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    rows->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QHeaderView* columns = view_->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->resizeSection(TPreviewModel::OldNameColumn, kNameColumnWidth);
    columns->resizeSection(TPreviewModel::NewNameColumn, kNameColumnWidth);
    columns->setStretchLastSection(true);

    onlyRefused_ = new QCheckBox(Text(previewtexts::kOnlyRefused), this);
    onlyRefused_->setEnabled(!preview->Refused().empty());
    connect(onlyRefused_, &QCheckBox::toggled, model_, &TPreviewModel::SetOnlyRefused);

    rename_ = new QPushButton(Text(previewtexts::kRename), this);
    close_ = new QPushButton(Text(previewtexts::kClose), this);
    // Enter never starts a batch by itself: neither button is the default.
    rename_->setAutoDefault(false);
    close_->setAutoDefault(false);
    rename_->setEnabled(preview->Count() > 0);
    connect(rename_, &QPushButton::clicked, this, &QDialog::accept);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(onlyRefused_);
    buttons->addStretch();
    buttons->addWidget(rename_);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->addWidget(summary_);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    view_->setFocus();
}

TPreviewForm::~TPreviewForm() = default;

}  // namespace vantelo
