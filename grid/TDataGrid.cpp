#include "grid/TDataGrid.h"

#include "app/THandlerGuard.h"
#include "grid/GridTexts.h"
#include "grid/TGridColumn.h"
#include "grid/TGridDataLink.h"
#include "grid/TGridSumList.h"
#include "platform/TCodePage.h"
#include "store/TDataSet.h"
#include "store/TDataSource.h"

#include <QContextMenuEvent>
#include <QDynamicPropertyChangeEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cstdlib>

namespace vantelo {

namespace {

// The indicator glyphs, kGlyphWidth x kGlyphHeight, '#' black and '.' transparent, top row first:
// arrow (browsing), I-beam (editing), star (inserting).
constexpr const char* kGlyphs[3][TGridGeometry::kGlyphHeight] = {
    {"#.....", "##....", "###...", "####..", "#####.", "######", "#####.", "####..", "###...", "##....", "#....."},
    {"##..##", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "..##..", "##..##"},
    {"......", "......", "......", ".#..#.", "..##..", "######", "..##..", ".#..#.", "......", "......", "......"},
};
enum { kGlyphArrow = 0, kGlyphIBeam = 1, kGlyphStar = 2 };

const QColor kFixedLineColor(0, 0, 0);
const QColor kDataLineColor(192, 192, 192);
const QColor kDataLineOnSilver(128, 128, 128);

// Makes one record of the link's window the active one while a row is drawn,
// and always gives the previous one back.
class ActiveRecordScope {
public:
    ActiveRecordScope(TGridDataLink& link, int record) : link_(link), saved_(link.ActiveRecord())
    {
        link_.SetActiveRecord(record);
    }
    ~ActiveRecordScope() { link_.SetActiveRecord(saved_); }
    ActiveRecordScope(const ActiveRecordScope&) = delete;
    ActiveRecordScope& operator=(const ActiveRecordScope&) = delete;

private:
    TGridDataLink& link_;
    int saved_;
};

// The height of the measuring text in font: the font's character cell height.
int TextHeight(const QFont& font)
{
    return QFontMetrics(font).size(Qt::TextSingleLine, QString::fromLatin1(gridtexts::kMeasureText)).height();
}

std::optional<TAlignment> ParseAlignment(const QString& word)
{
    if (word == QLatin1String(gridtexts::kAlignLeft))
        return TAlignment::Left;
    if (word == QLatin1String(gridtexts::kAlignRight))
        return TAlignment::Right;
    if (word == QLatin1String(gridtexts::kAlignCenter))
        return TAlignment::Center;
    return std::nullopt;
}

QString ToDisplay(const std::string& narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

}  // namespace

TDataGrid::TDataGrid(QWidget* parent)
    : QWidget(parent),
      sumList_(std::make_unique<TGridSumList>()),
      link_(std::make_unique<TGridDataLink>(*this)),
      options_(dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
               dgConfirmDelete | dgCancelOnExit),
      titleFont_(font()),
      footerFont_(font())
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    vbar_ = new QScrollBar(Qt::Vertical, this);  // owned by the grid as its child
    vbar_->setFocusPolicy(Qt::NoFocus);
    vbar_->setTracking(false);
    vbar_->hide();
    vbar_->installEventFilter(this);
    // Every way of moving the thumb goes through the cursor, and afterwards
    // the thumb stands on the cursor's record, also when the move failed.
    connect(vbar_, &QScrollBar::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderMove && vbar_->isSliderDown())
            return;  // dragging: the cursor moves when the thumb is released
        Guarded(this, [&] { ScrollBarAction(action); });
        Guarded(this, [&] { SyncBarToCursor(); });
    });
    connect(vbar_, &QScrollBar::sliderReleased, this, [this] {
        Guarded(this, [&] { ThumbReleasedAt(vbar_->sliderPosition()); });
        Guarded(this, [&] { SyncBarToCursor(); });
    });
    // A position put on the bar by anything else is taken as the thumb
    // released there.
    connect(vbar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (vbar_->isSliderDown() || value == barInfo_.position)
            return;
        Guarded(this, [&] { ThumbReleasedAt(value); });
        Guarded(this, [&] { SyncBarToCursor(); });
    });

    hbar_ = new QScrollBar(Qt::Horizontal, this);  // owned by the grid as its child
    hbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->setSingleStep(1);
    hbar_->setRange(0, 0);
    hbar_->hide();
    hbar_->installEventFilter(this);
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int value) {
        Guarded(this, [&] {
            setFocus(Qt::OtherFocusReason);
            SetLeftColumn(value);
        });
    });

    trackTimer_.setSingleShot(false);
    connect(&trackTimer_, &QTimer::timeout, this, [this] { Guarded(this, [&] { TrackTick(); }); });
    moveScrollTimer_.setSingleShot(false);
    moveScrollTimer_.setInterval(kColumnScrollMilliseconds);
    connect(&moveScrollTimer_, &QTimer::timeout, this, [this] { Guarded(this, [&] { MoveScrollTick(); }); });

    sumList_->OnSumListChanged = [this] { InvalidateFooter(); };
    FullLayout();
}

TDataGrid::~TDataGrid()
{
    trackTimer_.stop();
    moveScrollTimer_.stop();
    // The sum list's dataset may be gone when the data source that named it
    // went first; hooks are given back only to a dataset still reachable.
    if (sumList_->DataSet() != link_->DataSet())
        sumList_->ForgetDataSet();
    sumList_->OnSumListChanged = nullptr;
    link_->SetDataSource(nullptr);
    // Footers free their sum items in the list: columns go before the list.
    columns_.clear();
    sumList_.reset();
}

// ---------------------------------------------------------------------------
// data source, columns, settings

TDataSource* TDataGrid::DataSource() const
{
    return link_->DataSource();
}

void TDataGrid::SetDataSource(TDataSource* source)
{
    if (source == link_->DataSource())
        return;
    link_->SetDataSource(source);
    sumList_->SetDataSet(source != nullptr ? source->DataSet() : nullptr);
    FullLayout();
    UpdateScrollBar();
}

TGridColumn& TDataGrid::AddColumn()
{
    columns_.push_back(std::make_unique<TGridColumn>(*this));
    FullLayout();
    return *columns_.back();
}

void TDataGrid::ClearColumns()
{
    columns_.clear();
    geometry_.SetLeftColumn(0);
    FullLayout();
}

void TDataGrid::MoveColumn(int from, int to)
{
    const int count = ColumnCount();
    if (from < 0 || from >= count || to < 0 || to >= count || from == to)
        return;
    auto column = std::move(columns_[static_cast<size_t>(from)]);
    columns_.erase(columns_.begin() + from);
    columns_.insert(columns_.begin() + to, std::move(column));
    FullLayout();
}

void TDataGrid::SetOptions(TGridOptions options)
{
    // Whole-row selection and cell editing exclude each other.
    if (options & dgRowSelect)
        options &= ~(dgEditing | dgAlwaysShowEditor);
    options_ = options;
    FullLayout();
}

QColor TDataGrid::Color() const
{
    return palette().color(QPalette::Base);
}

QColor TDataGrid::FixedColor() const
{
    return palette().color(QPalette::Button);
}

QColor TDataGrid::FooterColor() const
{
    return palette().color(QPalette::Base);
}

void TDataGrid::SetTitleFont(const QFont& font)
{
    titleFont_ = font;
    FullLayout();
}

void TDataGrid::SetFooterFont(const QFont& font)
{
    footerFont_ = font;
    InvalidateFooter();
}

bool TDataGrid::event(QEvent* event)
{
    if (event->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName();
        Guarded(this, [&] { ApplyStoredSetting(name); });
        return true;
    }
    return QWidget::event(event);
}

void TDataGrid::ApplyStoredSetting(const QByteArray& name)
{
    const QVariant value = property(name.constData());
    if (name == gridtexts::kPropOptions) {
        TGridOptions options = 0;
        const QStringList words = value.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& word : words)
            for (size_t i = 0; i < std::size(gridtexts::kOptionNames); ++i)
                if (word.trimmed() == QLatin1String(gridtexts::kOptionNames[i]))
                    options |= 1u << i;
        SetOptions(options);
    } else if (name == gridtexts::kPropReadOnly) {
        SetReadOnly(value.toBool());
    } else if (name == gridtexts::kPropTitleFont) {
        SetTitleFont(value.value<QFont>());
    } else if (name == gridtexts::kPropFooterFont) {
        SetFooterFont(value.value<QFont>());
    } else if (name == gridtexts::kPropSumListActive) {
        sumList_->SetActive(value.toBool());
    } else if (name == gridtexts::kPropColumns) {
        LoadColumns(value.toStringList());
    }
}

void TDataGrid::LoadColumns(const QStringList& lines)
{
    ++layoutLock_;
    columns_.clear();
    for (const QString& line : lines) {
        columns_.push_back(std::make_unique<TGridColumn>(*this));
        TGridColumn& column = *columns_.back();
        for (const QString& pair : line.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq < 0)
                continue;
            const QString key = pair.left(eq).trimmed();
            const QString text = pair.mid(eq + 1).trimmed();
            if (key == QLatin1String(gridtexts::kColFieldName)) {
                column.SetFieldName(text.toStdString());
            } else if (key == QLatin1String(gridtexts::kColWidth)) {
                column.SetWidth(text.toInt());
            } else if (key == QLatin1String(gridtexts::kColAlignment)) {
                column.SetAlignment(ParseAlignment(text));
            } else if (key == QLatin1String(gridtexts::kColTitleCaption)) {
                column.Title().SetCaption(text);
            } else if (key == QLatin1String(gridtexts::kColTitleAlignment)) {
                column.Title().SetAlignment(ParseAlignment(text).value_or(TAlignment::Left));
            } else if (key == QLatin1String(gridtexts::kColFooterValueType)) {
                for (size_t i = 0; i < std::size(gridtexts::kFooterValueTypeNames); ++i)
                    if (text == QLatin1String(gridtexts::kFooterValueTypeNames[i]))
                        column.Footer().SetValueType(static_cast<TFooterValueType>(i));
            } else if (key == QLatin1String(gridtexts::kColFooterValue)) {
                column.Footer().SetValue(text);
            } else if (key == QLatin1String(gridtexts::kColFooterFieldName)) {
                column.Footer().SetFieldName(text.toStdString());
            } else if (key == QLatin1String(gridtexts::kColFooterAlignment)) {
                column.Footer().SetAlignment(ParseAlignment(text));
            } else if (key == QLatin1String(gridtexts::kColFooterDisplayFormat)) {
                column.Footer().SetDisplayFormat(text);
            }
        }
    }
    --layoutLock_;
    FullLayout();
}

// ---------------------------------------------------------------------------
// geometry

bool TDataGrid::IsOpen() const
{
    return link_->Active();
}

TDataSet* TDataGrid::OpenDataSet() const
{
    return link_->Active() ? link_->DataSet() : nullptr;
}

QRect TDataGrid::ClientRect() const
{
    // Left of and above the bars that show, where PlaceScrollBars put them.
    const int barWidth = vbar_->isHidden() ? 0 : vbar_->width();
    const int barHeight = hbar_->isHidden() ? 0 : hbar_->height();
    return QRect(kBorderWidth, kBorderWidth, std::max(0, width() - 2 * kBorderWidth - barWidth),
                 std::max(0, height() - 2 * kBorderWidth - barHeight));
}

const TGridGeometry& TDataGrid::Geometry() const
{
    const QRect client = ClientRect();
    if (client.width() != geometry_.ClientWidth() || client.height() != geometry_.ClientHeight())
        geometry_.SetClientSize(client.width(), client.height());
    return geometry_;
}

void TDataGrid::SyncColumns()
{
    std::vector<TGridGeometry::ColumnExtent> extents;
    extents.reserve(columns_.size());
    for (const auto& column : columns_)
        extents.push_back({column->Width(), column->Visible()});
    geometry_.SetColumns(std::move(extents));
}

void TDataGrid::PlaceScrollBars()
{
    const int barWidth = vbar_->sizeHint().width();
    const int barHeight = hbar_->sizeHint().height();
    const int shownWidth = vbar_->isHidden() ? 0 : barWidth;
    const int shownHeight = hbar_->isHidden() ? 0 : barHeight;
    vbar_->setGeometry(width() - kBorderWidth - barWidth, kBorderWidth, barWidth,
                       std::max(0, height() - 2 * kBorderWidth - shownHeight));
    hbar_->setGeometry(kBorderWidth, height() - kBorderWidth - barHeight,
                       std::max(0, width() - 2 * kBorderWidth - shownWidth), barHeight);
}

int TDataGrid::MaxLeftColumn() const
{
    return Geometry().MaxLeftColumn();
}

void TDataGrid::SetLeftColumn(int column)
{
    Geometry();
    const int before = geometry_.LeftColumn();
    if (geometry_.SetLeftColumn(column) != before)
        InvalidateAll();
    if (hbar_->value() != LeftColumn()) {
        const QSignalBlocker block(hbar_);
        hbar_->setValue(LeftColumn());
    }
}

bool TDataGrid::SyncHorizontalBar()
{
    // The columns with their lines after the indicator against the client
    // width (which the vertical bar alone decides).
    const TGridGeometry& geometry = Geometry();
    int shownColumns = 0;
    for (const auto& column : columns_)
        if (column->Visible())
            ++shownColumns;
    const bool show = geometry.NeedsHorizontalBar();
    const int maxLeft = show ? geometry.MaxLeftColumn() : 0;
    {
        const QSignalBlocker block(hbar_);
        hbar_->setRange(0, maxLeft);
        hbar_->setPageStep(std::max(1, shownColumns - maxLeft));
    }
    SetLeftColumn(show ? LeftColumn() : 0);
    if (show != hbar_->isHidden())
        return false;
    hbar_->setVisible(show);
    PlaceScrollBars();
    InvalidateAll();
    return true;
}

QRect TDataGrid::RowRect(int row) const
{
    const QRect client = ClientRect();
    const TGridGeometry& geometry = Geometry();
    if (row < 0 || row >= geometry.RowCount())
        return {};
    return QRect(client.left(), client.top() + geometry.RowTop(row), client.width(),
                 geometry.RowHeight(row) + kLineWidth);
}

QRect TDataGrid::DataBandRect() const
{
    const QRect client = ClientRect();
    const TGridGeometry& geometry = Geometry();
    return QRect(client.left(), client.top() + geometry.DataBandTop(), client.width(),
                 geometry.DataBandBottom() - geometry.DataBandTop());
}

QRect TDataGrid::CellRect(int column, int row) const
{
    const TGridGeometry& geometry = Geometry();
    if (row < 0 || row >= geometry.RowCount() || (column != 0 && geometry.FindSpan(column) == nullptr))
        return {};
    const TGridGeometry::Box box = geometry.Cell(column, row);
    return QRect(ClientRect().topLeft() + QPoint(box.left, box.top), QSize(box.width, box.height));
}

QPoint TDataGrid::ToClient(QPoint widgetPoint) const
{
    return widgetPoint - ClientRect().topLeft();
}

int TDataGrid::RowAt(int clientY) const
{
    return Geometry().RowAt(clientY);
}

int TDataGrid::ColumnAt(int clientX) const
{
    return Geometry().ColumnAt(clientX);
}

int TDataGrid::BorderColumnAt(int clientX) const
{
    if (!(options_ & dgColumnResize))
        return -1;
    return Geometry().SizingColumnAt(clientX);
}

int TDataGrid::VisibleDataRows() const
{
    return Geometry().VisibleDataRows();
}

// ---------------------------------------------------------------------------
// layout

void TDataGrid::FullLayout()
{
    SyncColumns();
    if (layoutLock_ > 0)
        return;
    ++layoutLock_;
    struct Unlock {
        int& lock;
        ~Unlock() { --lock; }
    } unlock{layoutLock_};

    // The title row is as high as the tallest title font asks.
    int titleText = 0;
    for (const auto& column : columns_)
        titleText = std::max(titleText, TextHeight(column->Title().Font()));
    if (columns_.empty())
        titleText = TextHeight(titleFont_);
    geometry_.SetTextHeights(TextHeight(font()), titleText);
    const bool barChanged = SyncHorizontalBar();
    RowLayout();
    FollowDataSet();
    // A bar that came or went changed the client height: the page follows.
    if (barChanged)
        UpdateScrollBar();
    InvalidateAll();
}

void TDataGrid::RowLayout()
{
    const int oldCount = RowCount();
    Geometry();
    if (IsOpen()) {
        // Only the records that fit are buffered.
        link_->SetBufferCount(geometry_.BufferCount());
        geometry_.SetRows(true, link_->RecordCount());
        if (currentRow_ >= RowCount())
            currentRow_ = RowCount() - 1;
    } else {
        // Title, one blank row, the spacer and the footer.
        geometry_.SetRows(false, 0);
    }
    if (RowCount() != oldCount)
        InvalidateAll();
}

void TDataGrid::FollowDataSet()
{
    if (!IsOpen())
        return;
    // With no records the active index is 0: the current row is the spacer.
    currentRow_ = link_->ActiveRecord() + 1;
}

void TDataGrid::UpdateScrollBar()
{
    TGridGeometry::ScrollInfo info;
    TDataSet* dataSet = OpenDataSet();
    if (dataSet == nullptr) {
        info = TGridGeometry::ClosedBar();
    } else if (dataSet->IsSequenced()) {
        const TDataSetState state = dataSet->State();
        int position = lastBarPosition_;
        if (state == TDataSetState::Browse || state == TDataSetState::Edit)
            position = static_cast<int>(dataSet->RecNo());
        lastBarPosition_ = position;
        // Shown once the range exceeds the page: from 2 records.
        info = TGridGeometry::RecordBar(static_cast<int>(dataSet->RecordCount()), VisibleDataRows(), position);
    } else {
        info = TGridGeometry::FiveStopBar(dataSet->Bof(), dataSet->Eof());
    }
    if (barInfoValid_ && info == barInfo_)
        return;
    barInfo_ = info;
    barInfoValid_ = true;
    const bool wasHidden = vbar_->isHidden();
    PlaceScrollBars();
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
        PlaceScrollBars();
        // The client area's width changed: the columns and lines move, and
        // the columns may now need the horizontal bar (or no longer).
        InvalidateAll();
        if (SyncHorizontalBar()) {
            RowLayout();
            FollowDataSet();
            UpdateScrollBar();
        }
    }
}

void TDataGrid::ScrollBy(int distance)
{
    const QRect oldRect = RowRect(currentRow_);
    if (link_->ActiveRecord() + 1 >= RowCount())
        RowLayout();
    UpdateScrollBar();
    FollowDataSet();
    Invalidate(oldRect);
    Invalidate(RowRect(currentRow_));
    if (distance != 0) {
        if (std::abs(distance) > VisibleDataRows()) {
            InvalidateAll();
        } else {
            const int dy = -distance * geometry_.Pitch();
            const QRect band = DataBandRect();
            Invalidate(RowRect(glyphRow_));
            if (RepaintAllowed() && !bandStale_) {
                // Whatever was waiting to be painted in the band moves with it.
                const QRegion waiting = pending_.intersected(band).translated(0, dy);
                scroll(0, dy, band);
                Invalidate(oldRect.translated(0, dy));
                for (const QRect& rect : waiting)
                    Invalidate(rect.intersected(band));
            } else {
                // Coalescing a walk: shifting pixels nobody sees costs more
                // than painting the band once at the next frame.
                Invalidate(band);
                bandStale_ = true;
            }
            Invalidate(RowRect(currentRow_));
        }
    }
    InvalidateFooter();
    RepaintNow();
}

// ---------------------------------------------------------------------------
// notifications

void TDataGrid::LinkActiveChanged()
{
    sumList_->SetDataSet(link_->DataSource() != nullptr ? link_->DataSource()->DataSet() : nullptr);
    FullLayout();
    UpdateScrollBar();
}

void TDataGrid::LinkDataSetChanged()
{
    RowLayout();
    UpdateScrollBar();
    FollowDataSet();
    InvalidateAll();
}

void TDataGrid::LinkDataSetScrolled(int distance)
{
    ScrollBy(distance);
}

void TDataGrid::LinkEditingChanged()
{
    if (glyphRow_ >= 0)
        Invalidate(CellRect(0, glyphRow_));
}

void TDataGrid::LinkRecordChanged(TField* field)
{
    if (field == nullptr) {
        InvalidateAll();
        return;
    }
    for (const auto& column : columns_)
        if (SameText(column->FieldName(), field->FieldName())) {
            InvalidateRow(currentRow_);
            return;
        }
}

void TDataGrid::LinkLayoutChanged()
{
    FullLayout();
}

void TDataGrid::ColumnChanged(bool layout)
{
    if (layout)
        FullLayout();
    else
        InvalidateAll();
}

// ---------------------------------------------------------------------------
// invalidation

void TDataGrid::Invalidate(const QRect& rect)
{
    if (rect.isEmpty())
        return;
    pending_ += rect;
    update(rect);
}

void TDataGrid::InvalidateAll()
{
    Invalidate(rect());
}

void TDataGrid::InvalidateRow(int row)
{
    Invalidate(RowRect(row));
}

void TDataGrid::InvalidateFooter()
{
    InvalidateRow(FooterRow());
}

bool TDataGrid::RepaintAllowed() const
{
    if (!isVisible() || !updatesEnabled() || layoutLock_ > 0 || painting_)
        return false;
    return !lastRepaint_.isValid() || lastRepaint_.elapsed() >= kFrameMilliseconds;
}

void TDataGrid::RepaintNow()
{
    if (!RepaintAllowed() || pending_.isEmpty())
        return;
    repaint(pending_);
    ++syncRepaints_;
    lastRepaint_.start();
}

// ---------------------------------------------------------------------------
// painting

void TDataGrid::paintEvent(QPaintEvent* event)
{
    painting_ = true;
    Guarded(this, [&] { Paint(event); });
    painting_ = false;
}

void TDataGrid::Paint(QPaintEvent* event)
{
    const QRect band = DataBandRect();
    if (event->region().intersected(band) == QRegion(band))
        bandStale_ = false;
    pending_ -= event->region();

    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), true, nullptr);
    if (!vbar_->isHidden() && !hbar_->isHidden()) {
        // The square where the two bars meet.
        painter.fillRect(QRect(vbar_->geometry().left(), hbar_->geometry().top(), vbar_->width(), hbar_->height()),
                         palette().color(QPalette::Window));
    }

    const QRect client = ClientRect();
    painter.setClipRect(client);
    painter.translate(client.topLeft());
    const QRect dirty = event->region().boundingRect().translated(-client.topLeft());

    const TGridGeometry& geometry = Geometry();
    const std::vector<ColumnSpan>& spans = geometry.Spans();
    const int rowCount = geometry.RowCount();
    const int right = spans.empty() ? kIndicatorWidth + kLineWidth : spans.back().left + spans.back().width + kLineWidth;
    const QColor dataLine = Color() == QColor(192, 192, 192) ? kDataLineOnSilver : kDataLineColor;

    glyphRow_ = -1;
    for (int row = 0; row < rowCount; ++row) {
        const int top = geometry.RowTop(row);
        const int height = geometry.RowHeight(row);
        if (top > dirty.bottom() || top + height + kLineWidth <= dirty.top())
            continue;
        for (int i = -1; i < static_cast<int>(spans.size()); ++i) {
            const ColumnSpan* span = i < 0 ? nullptr : &spans[static_cast<size_t>(i)];
            const int column = span ? span->gridColumn : 0;
            const QRect cell(span ? span->left : 0, top, span ? span->width : kIndicatorWidth, height);
            if (cell.left() > dirty.right() || cell.left() + cell.width() + kLineWidth <= dirty.left())
                continue;
            // The lines after the cell: black around fixed cells, silver in the data area.
            const QColor line = (row == 0 || column == 0) ? kFixedLineColor : dataLine;
            painter.fillRect(QRect(cell.left() + cell.width(), top, kLineWidth, height + kLineWidth), line);
            painter.fillRect(QRect(cell.left(), top + height, cell.width() + kLineWidth, kLineWidth), line);
            if (height > 0 && cell.width() > 0)
                PaintCell(painter, column, row, cell, span);
        }
    }
    // Right of the last column and below the last row: the grid's colour.
    const int bottom = geometry.RowTop(rowCount - 1) + geometry.RowHeight(rowCount - 1) + kLineWidth;
    if (right < client.width())
        painter.fillRect(QRect(right, 0, client.width() - right, client.height()), Color());
    if (bottom < client.height())
        painter.fillRect(QRect(0, bottom, std::min(right, client.width()), client.height() - bottom), Color());

    if (hasFocus() && !spans.empty() && currentRow_ > 0 && currentRow_ < rowCount) {
        const int left = spans.front().left;
        const int width = spans.back().left + spans.back().width - left;
        DrawFocusRect(painter,
                      QRect(left, geometry.RowTop(currentRow_), width, geometry.RowHeight(currentRow_)));
    }
    if (mouseState_ == MouseState::Sizing) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(QRect(sizingX_, 0, 1, client.height()), Qt::white);
    } else if (mouseState_ == MouseState::Moving && moveTarget_ > 0 && moveTarget_ != movingColumn_) {
        // The move marker: a bar on the edge the column would take, kept
        // inside the client area when that edge lies past it.
        constexpr int markerWidth = 3;
        for (const ColumnSpan& span : spans)
            if (span.gridColumn == moveTarget_) {
                int x = moveTarget_ > movingColumn_ ? span.left + span.width - 1 : span.left - 1;
                x = std::max(0, std::min(x, client.width() - markerWidth));
                painter.fillRect(QRect(x, 0, markerWidth, geometry.TitleRowHeight()),
                                 palette().color(QPalette::Highlight));
            }
    }
}

void TDataGrid::PaintCell(QPainter& painter, int column, int row, const QRect& cell, const ColumnSpan* span)
{
    const bool open = IsOpen();
    const bool spacer = row == SpacerRow();
    const bool footer = row == FooterRow();
    const TGridColumn* gridColumn = span ? &Column(span->gridColumn - 1) : nullptr;

    if (column == 0 || row == 0) {
        // A fixed cell, raised: contents in the rectangle shrunk by one.
        if (column == 0 && spacer) {
            painter.fillRect(cell, Color());
            if (open && currentRow_ == row) {
                // With no records the arrow stands where a first row's would,
                // in one row's height at the spacer's top.
                DrawIndicator(painter, QRect(cell.left(), cell.top(), cell.width(),
                                             std::min(cell.height(), geometry_.DefaultRowHeight())),
                              kGlyphArrow);
                glyphRow_ = row;
            }
            return;
        }
        const QRect inner = cell.adjusted(1, 1, -1, -1);
        if (row == 0 && gridColumn != nullptr) {
            const TGridColumnTitle& title = gridColumn->Title();
            DrawCellText(painter, inner, TGridGeometry::kFixedTextOffset, TGridGeometry::kFixedTextOffset,
                         static_cast<int>(title.Alignment()), title.Caption(), title.Font(), title.Color(),
                         palette().color(QPalette::WindowText));
        } else {
            painter.fillRect(inner, FixedColor());
        }
        if (column == 0 && row > 0 && open && currentRow_ == row && !footer) {
            const TDataSetState state = link_->DataSet()->State();
            DrawIndicator(painter, inner,
                          state == TDataSetState::Edit     ? kGlyphIBeam
                          : state == TDataSetState::Insert ? kGlyphStar
                                                           : kGlyphArrow);
            glyphRow_ = row;
        }
        // The raised one-pixel bevel: light top and left, dark bottom and right.
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        painter.fillRect(QRect(cell.left(), cell.top(), cell.width(), 1), light);
        painter.fillRect(QRect(cell.left(), cell.top(), 1, cell.height()), light);
        painter.fillRect(QRect(cell.left(), cell.top() + cell.height() - 1, cell.width(), 1), dark);
        painter.fillRect(QRect(cell.left() + cell.width() - 1, cell.top(), 1, cell.height()), dark);
        return;
    }

    if (!open || spacer) {
        painter.fillRect(cell, gridColumn->Color());
        return;
    }
    if (footer) {
        const TGridColumnFooter& foot = gridColumn->Footer();
        DrawCellText(painter, cell, TGridGeometry::kCellTextOffset, TGridGeometry::kCellTextOffset,
                     static_cast<int>(foot.Alignment()), foot.DisplayText(), foot.Font(), foot.Color(),
                     palette().color(QPalette::WindowText));
        return;
    }
    QString text;
    {
        ActiveRecordScope scope(*link_, row - 1);
        if (const TField* field = gridColumn->Field())
            text = ToDisplay(field->DisplayText());
    }
    const bool highlight = row == currentRow_ && hasFocus() && (options_ & dgRowSelect);
    DrawCellText(painter, cell, TGridGeometry::kCellTextOffset, TGridGeometry::kCellTextOffset,
                 static_cast<int>(gridColumn->Alignment()), text, gridColumn->Font(),
                 highlight ? palette().color(QPalette::Highlight) : gridColumn->Color(),
                 highlight ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::Text));
}

void TDataGrid::DrawCellText(QPainter& painter, const QRect& rect, int dx, int dy, int alignment, const QString& text,
                             const QFont& font, const QColor& background, const QColor& foreground)
{
    painter.fillRect(rect, background);
    if (text.isEmpty() || rect.isEmpty())
        return;
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance(text);
    int x = rect.left() + dx;
    if (alignment == static_cast<int>(TAlignment::Right))
        x = rect.left() + rect.width() - textWidth - TGridGeometry::kRightTextMargin;
    else if (alignment == static_cast<int>(TAlignment::Center))
        x = rect.left() + rect.width() / 2 - textWidth / 2;
    // Cut at the cell's edges, on both sides when centred; no ellipsis.
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(QPoint(x, rect.top() + dy + metrics.ascent()), text);
    painter.restore();
}

void TDataGrid::DrawIndicator(QPainter& painter, const QRect& rect, int glyph)
{
    // Left of the cell's right edge, centred vertically.
    const int left = rect.left() + rect.width() - TGridGeometry::kGlyphRightOffset;
    const int top = (rect.top() + rect.top() + rect.height() - TGridGeometry::kGlyphHeight) / 2;
    for (int y = 0; y < TGridGeometry::kGlyphHeight; ++y)
        for (int x = 0; x < TGridGeometry::kGlyphWidth; ++x)
            if (kGlyphs[glyph][y][x] == '#')
                painter.fillRect(QRect(left + x, top + y, 1, 1), Qt::black);
}

void TDataGrid::DrawFocusRect(QPainter& painter, const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    // Every other pixel of the outline, inverted.
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    const QColor invert = Qt::white;
    const int r = rect.left() + rect.width() - 1;
    const int b = rect.top() + rect.height() - 1;
    int step = 0;
    auto dot = [&](int x, int y) {
        if ((step++ & 1) == 0)
            painter.fillRect(QRect(x, y, 1, 1), invert);
    };
    for (int x = rect.left(); x < r; ++x)
        dot(x, rect.top());
    for (int y = rect.top(); y < b; ++y)
        dot(r, y);
    for (int x = r; x > rect.left(); --x)
        dot(x, b);
    for (int y = b; y > rect.top(); --y)
        dot(rect.left(), y);
    painter.restore();
}

// ---------------------------------------------------------------------------
// window events

void TDataGrid::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        Guarded(this, [&] { FullLayout(); });
}

void TDataGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceScrollBars();
    Guarded(this, [&] {
        SyncHorizontalBar();
        RowLayout();
        FollowDataSet();
        UpdateScrollBar();
        InvalidateAll();
    });
}

void TDataGrid::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    InvalidateRow(currentRow_);
}

void TDataGrid::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    InvalidateRow(currentRow_);
    Guarded(this, [&] {
        // Leaving the grid cancels an insert nobody typed into.
        TDataSet* dataSet = OpenDataSet();
        if ((options_ & dgCancelOnExit) && dataSet != nullptr && dataSet->State() == TDataSetState::Insert &&
            !dataSet->Modified())
            dataSet->Cancel();
    });
}

// ---------------------------------------------------------------------------
// keyboard

void TDataGrid::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    Guarded(this, [&] { KeyDown(event); });
}

void TDataGrid::MoveCursorBy(int distance)
{
    if (distance != 0)
        link_->MoveBy(distance);
}

void TDataGrid::KeyDown(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        CancelMouseMode();
    TDataSet* dataSet = OpenDataSet();
    if (dataSet == nullptr)
        return;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int active = link_->ActiveRecord();
    const int buffers = link_->BufferCount();
    const bool untouchedInsert = dataSet->State() == TDataSetState::Insert && !dataSet->Modified();
    switch (event->key()) {
    case Qt::Key_Up:
        if (ctrl)
            MoveCursorBy(-active);
        else if (untouchedInsert && dataSet->Eof())
            dataSet->Cancel();
        else
            MoveCursorBy(-1);
        break;
    case Qt::Key_Down:
        if (ctrl)
            MoveCursorBy(buffers - active - 1);
        else if (untouchedInsert) {
            if (!dataSet->Eof())
                dataSet->Cancel();
        } else
            MoveCursorBy(1);
        break;
    case Qt::Key_PageUp:
        MoveCursorBy(ctrl ? -active : -VisibleDataRows());
        break;
    case Qt::Key_PageDown:
        MoveCursorBy(ctrl ? buffers - active - 1 : VisibleDataRows());
        break;
    case Qt::Key_Home:
        dataSet->First();
        break;
    case Qt::Key_End:
        dataSet->Last();
        break;
    case Qt::Key_Left:
        if (ctrl)
            currentColumn_ = 1;
        else
            ScrollColumns(-1);
        break;
    case Qt::Key_Right:
        if (ctrl)
            currentColumn_ = std::max(1, ColumnCount());
        else
            ScrollColumns(1);
        break;
    case Qt::Key_Escape:
        dataSet->Cancel();
        break;
    default:
        // Enter, Insert, Delete, F2, the edit shortcuts and characters: the
        // grid is read-only and has no edit actions.
        break;
    }
}

void TDataGrid::ScrollColumns(int by)
{
    // Left stops at the first column; right stops once nothing is hidden on
    // the right. Hidden columns are stepped over.
    int left = LeftColumn();
    const int step = by < 0 ? -1 : 1;
    for (int remaining = std::abs(by); remaining > 0; --remaining) {
        int next = left + step;
        while (next >= 0 && next < ColumnCount() && !Column(next).Visible())
            next += step;
        if (next < 0 || next > MaxLeftColumn())
            break;
        left = next;
    }
    SetLeftColumn(left);
}

// ---------------------------------------------------------------------------
// mouse and wheel

void TDataGrid::mousePressEvent(QMouseEvent* event)
{
    Guarded(this, [&] { MouseDown(event); });
}

void TDataGrid::mouseDoubleClickEvent(QMouseEvent*)
{
    // The second press of a double-click only raises the event: the first
    // press has already moved the cursor, and it neither sizes nor tracks.
    Guarded(this, [&] {
        if (OnDblClick)
            OnDblClick();
    });
}

void TDataGrid::mouseMoveEvent(QMouseEvent* event)
{
    Guarded(this, [&] { MouseMove(event); });
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    Guarded(this, [&] { MouseUp(event); });
}

void TDataGrid::MouseDown(QMouseEvent* event)
{
    if (!isEnabled() || !(focusPolicy() & Qt::ClickFocus))
        return;
    setFocus(Qt::MouseFocusReason);
    if (mouseState_ != MouseState::Normal)
        return;
    const QPoint p = ToClient(event->position().toPoint());
    const int row = RowAt(p.y());
    const int column = ColumnAt(p.x());
    if (row < 0 || column < 0)
        return;
    const bool button = event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
    if (row == 0) {
        if (!button || (column == 0 && BorderColumnAt(p.x()) < 0))
            return;
        const int border = BorderColumnAt(p.x());
        if (border > 0) {
            mouseState_ = MouseState::Sizing;
            sizingColumn_ = border;
            // The line starts on the column's own border and follows the
            // pointer once it moves: a press released in place sizes nothing.
            const ColumnSpan* span = Geometry().FindSpan(border);
            sizingX_ = span != nullptr ? std::clamp(span->left + span->width, 0, ClientRect().width() - 1) : p.x();
            sizingPressX_ = p.x();
            sizingMoved_ = false;
            Invalidate(QRect(ClientRect().left() + sizingX_, ClientRect().top(), 1, ClientRect().height()));
        } else if (column > 0 && (options_ & dgColumnResize)) {
            mouseState_ = MouseState::Moving;
            movingColumn_ = column;
            moveTarget_ = column;
        }
        return;
    }
    // Spacer, footer: nothing; a data row: the cursor moves by the difference.
    if (!IsOpen() || row > DataRowCount())
        return;
    if (column > 0)
        currentColumn_ = column;
    MoveCursorBy(row - currentRow_);
    // Either button that captures the mouse tracks the pointer from a data
    // cell (a failed move has left this handler already).
    if (column > 0 && button) {
        mouseState_ = MouseState::Tracking;
        trackDistance_ = 0;
    }
}

void TDataGrid::MouseMove(QMouseEvent* event)
{
    const QPoint p = ToClient(event->position().toPoint());
    switch (mouseState_) {
    case MouseState::Normal:
        if (RowAt(p.y()) == 0 && BorderColumnAt(p.x()) > 0)
            setCursor(Qt::SplitHCursor);
        else
            unsetCursor();
        break;
    case MouseState::Sizing: {
        if (p.x() == sizingPressX_ && !sizingMoved_)
            break;
        sizingMoved_ = true;
        const QRect client = ClientRect();
        Invalidate(QRect(client.left() + sizingX_, client.top(), 1, client.height()));
        sizingX_ = std::clamp(p.x(), 0, client.width() - 1);
        Invalidate(QRect(client.left() + sizingX_, client.top(), 1, client.height()));
        break;
    }
    case MouseState::Moving: {
        // Outside the grid on the left or right the columns scroll that way
        // on a timer; coming back stops it.
        const int direction = p.x() < 0 ? -1 : p.x() >= ClientRect().width() ? 1 : 0;
        if (direction != moveScrollDirection_) {
            moveScrollDirection_ = direction;
            if (direction != 0)
                moveScrollTimer_.start();
            else
                moveScrollTimer_.stop();
        }
        const int column = ColumnAt(p.x());
        const int target = column > 0 ? column : moveTarget_;
        if (target != moveTarget_) {
            moveTarget_ = target;
            Invalidate(RowRect(0));
        }
        break;
    }
    case MouseState::Tracking:
        if (event->buttons() == Qt::NoButton) {
            // The release went to another window (a box took the mouse
            // meanwhile): the mouse is no longer ours, tracking ends.
            mouseState_ = MouseState::Normal;
            trackTimer_.stop();
            break;
        }
        TrackTo(p.y());
        break;
    }
}

void TDataGrid::TrackTo(int clientY)
{
    trackDistance_ = Geometry().TrackDistance(clientY);
    if (trackDistance_ == 0) {
        trackTimer_.stop();
        const int row = RowAt(clientY);
        if (row >= 1 && row <= DataRowCount() && row != currentRow_)
            MoveCursorBy(row - currentRow_);
        return;
    }
    const int interval = TGridGeometry::TrackInterval(trackDistance_);
    if (!trackTimer_.isActive() || trackTimer_.interval() != interval)
        trackTimer_.start(interval);
}

void TDataGrid::TrackTick()
{
    if (mouseState_ != MouseState::Tracking || trackDistance_ == 0) {
        trackTimer_.stop();
        return;
    }
    const int records = TGridGeometry::TrackRecords(trackDistance_);
    MoveCursorBy(trackDistance_ < 0 ? -records : records);
}

void TDataGrid::MouseUp(QMouseEvent* event)
{
    const QPoint p = ToClient(event->position().toPoint());
    const MouseState state = mouseState_;
    mouseState_ = MouseState::Normal;
    trackTimer_.stop();
    StopMoveScroll();
    if (state == MouseState::Sizing) {
        InvalidateAll();
        const QRect cell = CellRect(sizingColumn_, 0);
        // The pointer may be released beyond the right edge: the column then
        // grows past the client area and the horizontal bar comes.
        const int width = std::max(p.x(), 0) - (cell.left() - ClientRect().left());
        // A width of one pixel or less is taken for a slip and ignored, and
        // a press released where it was changes nothing.
        const bool moved = sizingMoved_ || p.x() != sizingPressX_;
        if (moved && !cell.isNull() && width > 1)
            Column(sizingColumn_ - 1).SetWidth(width);
    } else if (state == MouseState::Moving) {
        InvalidateRow(0);
        const int target = ColumnAt(p.x());
        if (RowAt(p.y()) >= 0 && target > 0 && target != movingColumn_)
            MoveColumn(movingColumn_ - 1, target - 1);
    }
    sizingColumn_ = movingColumn_ = moveTarget_ = -1;
}

void TDataGrid::MoveScrollTick()
{
    if (mouseState_ != MouseState::Moving || moveScrollDirection_ == 0) {
        StopMoveScroll();
        return;
    }
    const int before = LeftColumn();
    ScrollColumns(moveScrollDirection_);
    if (LeftColumn() == before) {
        // At the end: nothing more to scroll until the pointer moves again.
        moveScrollTimer_.stop();
        return;
    }
    // The marker follows onto the column that came into view at that edge.
    const std::vector<ColumnSpan>& spans = ColumnSpans();
    if (!spans.empty()) {
        int target = spans.front().gridColumn;
        if (moveScrollDirection_ > 0)
            for (const ColumnSpan& span : spans)
                if (span.left < ClientRect().width())
                    target = span.gridColumn;
        moveTarget_ = target;
    }
    Invalidate(RowRect(0));
}

void TDataGrid::StopMoveScroll()
{
    moveScrollTimer_.stop();
    moveScrollDirection_ = 0;
}

void TDataGrid::CancelMouseMode()
{
    StopMoveScroll();
    if (mouseState_ == MouseState::Sizing || mouseState_ == MouseState::Moving) {
        mouseState_ = MouseState::Normal;
        sizingColumn_ = movingColumn_ = moveTarget_ = -1;
        InvalidateAll();
    }
}

void TDataGrid::wheelEvent(QWheelEvent* event)
{
    event->accept();
    Guarded(this, [&] { Wheel(event->angleDelta().y()); });
}

void TDataGrid::Wheel(int angleDelta)
{
    if (!IsOpen())
        return;
    // One record per notch: down moves forward.
    constexpr int notch = TGridGeometry::kWheelNotch;
    wheelRemainder_ += angleDelta;
    while (wheelRemainder_ >= notch) {
        wheelRemainder_ -= notch;
        MoveCursorBy(-1);
    }
    while (wheelRemainder_ <= -notch) {
        wheelRemainder_ += notch;
        MoveCursorBy(1);
    }
}

// ---------------------------------------------------------------------------
// the vertical scroll bar

void TDataGrid::ScrollBarAction(int action)
{
    setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = OpenDataSet();
    if (dataSet == nullptr)
        return;
    const int active = link_->ActiveRecord();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        MoveCursorBy(-(active + 1));
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        MoveCursorBy(link_->RecordCount() - active);
        break;
    case QAbstractSlider::SliderPageStepSub:
        MoveCursorBy(-VisibleDataRows());
        break;
    case QAbstractSlider::SliderPageStepAdd:
        MoveCursorBy(VisibleDataRows());
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

void TDataGrid::ThumbReleasedAt(int position)
{
    setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = OpenDataSet();
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
        MoveCursorBy(-VisibleDataRows());
        break;
    case TGridGeometry::ThumbTarget::PageDown:
        MoveCursorBy(VisibleDataRows());
        break;
    case TGridGeometry::ThumbTarget::None:
        break;
    }
}

void TDataGrid::SyncBarToCursor()
{
    // The bar shows where the cursor is, not where the action would have put it.
    barInfoValid_ = false;
    UpdateScrollBar();
    const QSignalBlocker block(vbar_);
    vbar_->setSliderPosition(barInfo_.position);
}

bool TDataGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != vbar_ && watched != hbar_)
        return QWidget::eventFilter(watched, event);
    auto* bar = static_cast<QScrollBar*>(watched);
    if (event->type() == QEvent::ContextMenu) {
        const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        BarMenu(bar, menuEvent->pos(), menuEvent->globalPos());
        return true;
    }
    if (event->type() == QEvent::Wheel && bar == vbar_) {
        // Over the vertical bar the wheel moves the cursor as over the rows.
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
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

void TDataGrid::BarMenu(QScrollBar* bar, QPoint pos, QPoint globalPos)
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
    const QPointer<QMenu> menu = new QMenu(this);
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
        Guarded(this, [&] { ThumbReleasedAt(position); });
        Guarded(this, [&] { SyncBarToCursor(); });
    } else {
        bar->setValue(BarValueAt(*bar, pos));
    }
}

}  // namespace vantelo
