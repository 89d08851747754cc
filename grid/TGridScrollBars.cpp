#include "grid/TGridScrollBars.h"

#include "app/THandlerGuard.h"
#include "grid/GridTexts.h"
#include "grid/TGridDataLink.h"
#include "store/TDataSet.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>

namespace vantelo {

TGridScrollBars::TGridScrollBars(Owner& owner, QWidget& view, TGridDataLink& link)
    : owner_(owner), view_(view), link_(link)
{
    vbar_ = new QScrollBar(Qt::Vertical, &view);  // owned by the grid as its child
    vbar_->setFocusPolicy(Qt::NoFocus);
    vbar_->setTracking(false);
    vbar_->hide();
    vbar_->installEventFilter(this);
    // Every way of moving the thumb goes through the cursor, and afterwards
    // the thumb stands on the cursor's record, also when the move failed.
    connect(vbar_, &QScrollBar::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove && vbar_->isSliderDown())
            return;  // dragging: the cursor moves when the thumb is released
        Guarded(&view_, [&] { Action(action); });
        Guarded(&view_, [&] { SyncToCursor(); });
    });
    connect(vbar_, &QScrollBar::sliderReleased, this, [this] {
        Guarded(&view_, [&] { ThumbReleasedAt(vbar_->sliderPosition()); });
        Guarded(&view_, [&] { SyncToCursor(); });
    });
    // A position put on the bar by anything else is taken as the thumb
    // released there.
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (vbar_->isSliderDown() || value == barInfo_.position)
            return;
        Guarded(&view_, [&] { ThumbReleasedAt(value); });
        Guarded(&view_, [&] { SyncToCursor(); });
    });

    hbar_ = new QScrollBar(Qt::Horizontal, &view);  // owned by the grid as its child
    hbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->setSingleStep(1);
    hbar_->setRange(0, 0);
    hbar_->hide();
    hbar_->installEventFilter(this);
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int value) {
        Guarded(&view_, [&] {
            view_.setFocus(Qt::OtherFocusReason);
            owner_.SetLeftColumn(value);
        });
    });
}

int TGridScrollBars::ShownWidth() const
{
    return vbar_->isHidden() ? 0 : vbar_->width();
}

int TGridScrollBars::ShownHeight() const
{
    return hbar_->isHidden() ? 0 : hbar_->height();
}

QRect TGridScrollBars::Corner() const
{
    if (vbar_->isHidden() || hbar_->isHidden())
        return {};
    return QRect(vbar_->geometry().left(), hbar_->geometry().top(), vbar_->width(), hbar_->height());
}

void TGridScrollBars::Place()
{
    constexpr int border = TGridGeometry::kBorderWidth;
    const int barWidth = vbar_->sizeHint().width();
    const int barHeight = hbar_->sizeHint().height();
    const int shownWidth = vbar_->isHidden() ? 0 : barWidth;
    const int shownHeight = hbar_->isHidden() ? 0 : barHeight;
    vbar_->setGeometry(view_.width() - border - barWidth, border, barWidth,
                       std::max(0, view_.height() - 2 * border - shownHeight));
    hbar_->setGeometry(border, view_.height() - border - barHeight,
                       std::max(0, view_.width() - 2 * border - shownWidth), barHeight);
}

void TGridScrollBars::ShowLeftColumn(int column)
{
    if (hbar_->value() != column) {
        const QSignalBlocker block(hbar_);
        hbar_->setValue(column);
    }
}

bool TGridScrollBars::SyncHorizontal()
{
    // The columns with their lines after the indicator against the client
    // width (which the vertical bar alone decides).
    const TGridGeometry& geometry = owner_.Geometry();
    const bool show = geometry.NeedsHorizontalBar();
    const int maxLeft = show ? geometry.MaxLeftColumn() : 0;
    {
        const QSignalBlocker block(hbar_);
        hbar_->setRange(0, maxLeft);
        hbar_->setPageStep(std::max(1, geometry.ShownColumns() - maxLeft));
    }
    owner_.SetLeftColumn(show ? geometry.LeftColumn() : 0);
    if (show != hbar_->isHidden())
        return false;
    hbar_->setVisible(show);
    Place();
    owner_.InvalidateAll();
    return true;
}

void TGridScrollBars::Update()
{
    TGridGeometry::ScrollInfo info;
    TDataSet* dataSet = owner_.OpenDataSet();
    if (dataSet == nullptr) {
        info = TGridGeometry::ClosedBar();
    } else if (dataSet->IsSequenced()) {
        const TDataSetState state = dataSet->State();
        int position = lastBarPosition_;
        if (state == TDataSetState::Browse || state == TDataSetState::Edit)
            position = static_cast<int>(dataSet->RecNo());
        lastBarPosition_ = position;
        // Shown once the range exceeds the page: from 2 records.
        info = TGridGeometry::RecordBar(static_cast<int>(dataSet->RecordCount()), owner_.VisibleDataRows(), position);
    } else {
        info = TGridGeometry::FiveStopBar(dataSet->Bof(), dataSet->Eof());
    }
    if (barInfoValid_ && info == barInfo_)
        return;
    barInfo_ = info;
    barInfoValid_ = true;
    const bool wasHidden = vbar_->isHidden();
    Place();
    {
        const QSignalBlocker block(vbar_);
        // The bar's own maximum is the last position the thumb can take.
        vbar_->setRange(info.minimum, info.LastPosition());
        vbar_->setPageStep(info.page);
        vbar_->setSingleStep(1);
        vbar_->setValue(info.position);
        vbar_->setSliderPosition(info.position);
    }
    if (info.Shown() == wasHidden) {
        vbar_->setVisible(info.Shown());
        Place();
        // The client area's width changed: the columns and lines move, and
        // the columns may now need the horizontal bar (or no longer).
        owner_.InvalidateAll();
        if (SyncHorizontal()) {
            owner_.ClientHeightChanged();
            Update();
        }
    }
}

void TGridScrollBars::Action(int action)
{
    view_.setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = owner_.OpenDataSet();
    if (dataSet == nullptr)
        return;
    const int active = link_.ActiveRecord();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        owner_.MoveCursorBy(-(active + 1));
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        owner_.MoveCursorBy(link_.RecordCount() - active);
        break;
    case QAbstractSlider::SliderPageStepSub:
        owner_.MoveCursorBy(-owner_.VisibleDataRows());
        break;
    case QAbstractSlider::SliderPageStepAdd:
        owner_.MoveCursorBy(owner_.VisibleDataRows());
        break;
    case QAbstractSlider::SliderToMinimum:
        dataSet->First();
        break;
    case QAbstractSlider::SliderToMaximum:
        dataSet->Last();
        break;
    case QAbstractSlider::SliderMove:
        // The thumb put somewhere without a drag: as if released there.
        ThumbReleasedAt(vbar_->sliderPosition());
        break;
    default:
        break;
    }
}

void TGridScrollBars::ThumbReleasedAt(int position)
{
    view_.setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = owner_.OpenDataSet();
    if (dataSet == nullptr)
        return;
    const bool recordNumbers = dataSet->IsSequenced();
    const int records = recordNumbers ? static_cast<int>(dataSet->RecordCount()) : 0;
    switch (TGridGeometry::ThumbReleased(recordNumbers, position, records)) {
    case TGridGeometry::ThumbTarget::First:
        dataSet->First();
        break;
    case TGridGeometry::ThumbTarget::Last:
        dataSet->Last();
        break;
    case TGridGeometry::ThumbTarget::RecordNumber:
        dataSet->SetRecNo(position);
        break;
    case TGridGeometry::ThumbTarget::PageUp:
        owner_.MoveCursorBy(-owner_.VisibleDataRows());
        break;
    case TGridGeometry::ThumbTarget::PageDown:
        owner_.MoveCursorBy(owner_.VisibleDataRows());
        break;
    case TGridGeometry::ThumbTarget::None:
        break;
    }
}

void TGridScrollBars::SyncToCursor()
{
    // The bar shows where the cursor is, not where the action would have put it.
    barInfoValid_ = false;
    Update();
    const QSignalBlocker block(vbar_);
    vbar_->setSliderPosition(barInfo_.position);
}

bool TGridScrollBars::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != vbar_ && watched != hbar_)
        return QObject::eventFilter(watched, event);
    auto* bar = static_cast<QScrollBar*>(watched);
    if (event->type() == QEvent::ContextMenu) {
        const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        BarMenu(bar, menuEvent->pos(), menuEvent->globalPos());
        return true;
    }
    if (event->type() == QEvent::Wheel && bar == vbar_) {
        // Over the vertical bar the wheel moves the cursor as over the rows.
        owner_.WheelOverBar(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

namespace {

// The bar's value for a thumb whose top (or left) edge stands at pos.
int BarValueAt(const QScrollBar& bar, QPoint pos)
{
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    option.upsideDown = bar.invertedAppearance();
    const bool vertical = bar.orientation() == Qt::Vertical;
    if (!vertical)
        option.state |= QStyle::State_Horizontal;
    const QStyle* style = bar.style();
    const QRect groove = style->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, &bar);
    const QRect thumb = style->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &bar);
    const int start = vertical ? groove.top() : groove.left();
    const int span = (vertical ? groove.height() - thumb.height() : groove.width() - thumb.width());
    const int at = (vertical ? pos.y() : pos.x()) - start;
    return QStyle::sliderValueFromPosition(bar.minimum(), bar.maximum(), at, std::max(0, span), option.upsideDown);
}

}  // namespace

void TGridScrollBars::BarMenu(QScrollBar* bar, QPoint pos, QPoint globalPos)
{
    using namespace gridtexts;
    const bool vertical = bar->orientation() == Qt::Vertical;
    const struct {
        const char* text;
        QAbstractSlider::SliderAction action;  // SliderMove: to the pointer
        bool separatorAfter;
    } entries[] = {
        {kBarScrollHere, QAbstractSlider::SliderMove, true},
        {vertical ? kBarTop : kBarLeftEdge, QAbstractSlider::SliderToMinimum, false},
        {vertical ? kBarBottom : kBarRightEdge, QAbstractSlider::SliderToMaximum, true},
        {vertical ? kBarPageUp : kBarPageLeft, QAbstractSlider::SliderPageStepSub, false},
        {vertical ? kBarPageDown : kBarPageRight, QAbstractSlider::SliderPageStepAdd, true},
        {vertical ? kBarScrollUp : kBarScrollLeft, QAbstractSlider::SliderSingleStepSub, false},
        {vertical ? kBarScrollDown : kBarScrollRight, QAbstractSlider::SliderSingleStepAdd, false},
    };
    // Owned by the grid; deleted below, or with the grid should it go while
    // the menu is open.
    const QPointer<QMenu> menu = new QMenu(&view_);
    for (const auto& entry : entries) {
        menu->addAction(QString::fromUtf8(entry.text))->setData(static_cast<int>(entry.action));
        if (entry.separatorAfter)
            menu->addSeparator();
    }
    const QAction* chosen = menu->exec(globalPos);
    if (menu.isNull())
        return;
    const int action = chosen != nullptr ? chosen->data().toInt() : QAbstractSlider::SliderNoAction;
    delete menu.data();
    if (action == QAbstractSlider::SliderNoAction)
        return;
    if (action != QAbstractSlider::SliderMove) {
        // The vertical bar's actions reach the cursor through the bar's signal.
        bar->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    } else if (bar == vbar_) {
        const int position = BarValueAt(*bar, pos);
        Guarded(&view_, [&] { ThumbReleasedAt(position); });
        Guarded(&view_, [&] { SyncToCursor(); });
    } else {
        bar->setValue(BarValueAt(*bar, pos));
    }
}

}  // namespace vantelo
