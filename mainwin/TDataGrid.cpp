#include "mainwin/TDataGrid.h"

#include "app/THandlerGuard.h"
#include "mainwin/GridTexts.h"
#include "mainwin/TGridColumn.h"
#include "mainwin/TGridDataLink.h"
#include "mainwin/TGridSumList.h"
#include "platform/TCodePage.h"
#include "store/TDataSet.h"
#include "store/TDataSource.h"

#include <QDynamicPropertyChangeEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cstdlib>

namespace vantelo {

namespace {

// The indicator glyphs, 6 x 11, '#' black and '.' transparent, top row first:
// arrow (browsing), I-beam (editing), star (inserting).
constexpr const char* kGlyphs[3][11] = {
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
    connect(vbar_, &QScrollBar::actionTriggered, this,
            [this](int action) { Guarded(this, [&] { ScrollBarAction(action); }); });
    connect(vbar_, &QScrollBar::sliderReleased, this, [this] { Guarded(this, [&] { ScrollBarReleased(); }); });

    hbar_ = new QScrollBar(Qt::Horizontal, this);  // owned by the grid as its child
    hbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->setSingleStep(1);
    hbar_->setRange(0, 0);
    hbar_->hide();
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
    leftColumn_ = 0;
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
    const int barWidth = vbar_->isHidden() ? 0 : vbar_->sizeHint().width();
    const int barHeight = hbar_->isHidden() ? 0 : hbar_->sizeHint().height();
    return QRect(kBorderWidth, kBorderWidth, std::max(0, width() - 2 * kBorderWidth - barWidth),
                 std::max(0, height() - 2 * kBorderWidth - barHeight));
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
    // The smallest first column from which every column to the end fits
    // right of the indicator; the last visible column when even it does not.
    const int room = ClientRect().width() - (kIndicatorWidth + kLineWidth);
    int tail = 0;
    int best = -1;
    int lastVisible = -1;
    for (int i = ColumnCount() - 1; i >= 0; --i) {
        if (!Column(i).Visible())
            continue;
        if (lastVisible < 0)
            lastVisible = i;
        tail += Column(i).Width() + kLineWidth;
        if (tail > room)
            break;
        best = i;
    }
    if (lastVisible < 0)
        return 0;
    return best >= 0 ? best : lastVisible;
}

void TDataGrid::SetLeftColumn(int column)
{
    const int left = std::clamp(column, 0, MaxLeftColumn());
    if (left != leftColumn_) {
        leftColumn_ = left;
        InvalidateAll();
    }
    if (hbar_->value() != leftColumn_) {
        const QSignalBlocker block(hbar_);
        hbar_->setValue(leftColumn_);
    }
}

bool TDataGrid::SyncHorizontalBar()
{
    // The columns with their lines after the indicator against the client
    // width (which the vertical bar alone decides).
    int needed = kIndicatorWidth + kLineWidth;
    int shownColumns = 0;
    for (const auto& column : columns_)
        if (column->Visible()) {
            needed += column->Width() + kLineWidth;
            ++shownColumns;
        }
    const bool show = needed > ClientRect().width();
    const int maxLeft = show ? MaxLeftColumn() : 0;
    {
        const QSignalBlocker block(hbar_);
        hbar_->setRange(0, maxLeft);
        hbar_->setPageStep(std::max(1, shownColumns - maxLeft));
    }
    SetLeftColumn(show ? leftColumn_ : 0);
    if (show != hbar_->isHidden())
        return false;
    hbar_->setVisible(show);
    PlaceScrollBars();
    InvalidateAll();
    return true;
}

std::vector<TDataGrid::ColumnSpan> TDataGrid::ColumnSpans() const
{
    std::vector<ColumnSpan> spans;
    int x = kIndicatorWidth + kLineWidth;
    for (int i = leftColumn_; i < ColumnCount(); ++i) {
        const TGridColumn& column = Column(i);
        if (!column.Visible())
            continue;
        spans.push_back({i + 1, x, column.Width()});
        x += column.Width() + kLineWidth;
    }
    return spans;
}

int TDataGrid::RowTop(int row) const
{
    if (row <= 0)
        return 0;
    const int pitch = rowHeight_ + kLineWidth;
    const int base = titleHeight_ + kLineWidth;
    if (row <= dataRows_ + 1)
        return base + (row - 1) * pitch;
    return base + dataRows_ * pitch + spacerHeight_ + kLineWidth + (row - dataRows_ - 2) * pitch;
}

int TDataGrid::RowHeight(int row) const
{
    if (row == 0)
        return titleHeight_;
    if (row == SpacerRow())
        return spacerHeight_;
    return rowHeight_;
}

QRect TDataGrid::RowRect(int row) const
{
    const QRect client = ClientRect();
    if (row < 0 || row >= rowCount_)
        return {};
    return QRect(client.left(), client.top() + RowTop(row), client.width(), RowHeight(row) + kLineWidth);
}

QRect TDataGrid::DataBandRect() const
{
    const QRect client = ClientRect();
    const int top = RowTop(1);
    return QRect(client.left(), client.top() + top, client.width(), RowTop(SpacerRow()) - top);
}

QRect TDataGrid::CellRect(int column, int row) const
{
    if (row < 0 || row >= rowCount_)
        return {};
    const QPoint origin = ClientRect().topLeft();
    const int top = origin.y() + RowTop(row);
    if (column == 0)
        return QRect(origin.x(), top, kIndicatorWidth, RowHeight(row));
    for (const ColumnSpan& span : ColumnSpans())
        if (span.gridColumn == column)
            return QRect(origin.x() + span.left, top, span.width, RowHeight(row));
    return {};
}

QPoint TDataGrid::ToClient(QPoint widgetPoint) const
{
    return widgetPoint - ClientRect().topLeft();
}

int TDataGrid::RowAt(int clientY) const
{
    if (clientY < 0 || clientY >= ClientRect().height())
        return -1;
    for (int row = 0; row < rowCount_; ++row)
        if (clientY >= RowTop(row) && clientY < RowTop(row) + RowHeight(row) + kLineWidth)
            return row;
    return -1;
}

int TDataGrid::ColumnAt(int clientX) const
{
    if (clientX < 0 || clientX >= ClientRect().width())
        return -1;
    if (clientX < kIndicatorWidth + kLineWidth)
        return 0;
    for (const ColumnSpan& span : ColumnSpans())
        if (clientX >= span.left && clientX < span.left + span.width + kLineWidth)
            return span.gridColumn;
    return -1;
}

int TDataGrid::BorderColumnAt(int clientX) const
{
    if (!(options_ & dgColumnResize))
        return -1;
    // From 3 pixels left of the line that ends a column to 4 right of it.
    for (const ColumnSpan& span : ColumnSpans()) {
        const int line = span.left + span.width;
        if (clientX >= line - 3 && clientX <= line + 4)
            return span.gridColumn;
    }
    return -1;
}

int TDataGrid::VisibleDataRows() const
{
    // Rows below the title that fit entirely, less the footer and the spacer.
    const int clientHeight = ClientRect().height();
    int fit = 0;
    for (int row = 1; row < rowCount_; ++row) {
        if (RowTop(row) + RowHeight(row) > clientHeight)
            break;
        ++fit;
    }
    return std::max(1, fit - 1 - 1);
}

// ---------------------------------------------------------------------------
// layout

void TDataGrid::FullLayout()
{
    if (layoutLock_ > 0)
        return;
    ++layoutLock_;
    struct Unlock {
        int& lock;
        ~Unlock() { --lock; }
    } unlock{layoutLock_};

    rowHeight_ = TextHeight(font()) + 3 + kLineWidth;
    titleHeight_ = 0;
    for (const auto& column : columns_)
        titleHeight_ = std::max(titleHeight_, TextHeight(column->Title().Font()) + 4);
    if (columns_.empty())
        titleHeight_ = TextHeight(titleFont_) + 4;
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
    const int oldCount = rowCount_;
    const int pitch = rowHeight_ + kLineWidth;
    const int clientHeight = ClientRect().height();
    // Title and its line, the footer row and its line, and one more line
    // because there is a footer.
    int fixed = titleHeight_ + kLineWidth + pitch + kLineWidth;
    if (IsOpen()) {
        link_->SetBufferCount(std::max(1, (clientHeight - fixed) / pitch));
        dataRows_ = link_->RecordCount();
        fixed += dataRows_ * pitch;
        rowCount_ = dataRows_ + 3;
        if (currentRow_ >= rowCount_)
            currentRow_ = rowCount_ - 1;
    } else {
        // Title, one blank row, the spacer and the footer.
        dataRows_ = 1;
        fixed += pitch;
        rowCount_ = 4;
    }
    spacerHeight_ = std::max(0, clientHeight - fixed);
    if (rowCount_ != oldCount)
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
    BarInfo info;
    TDataSet* dataSet = OpenDataSet();
    if (dataSet == nullptr) {
        info = {0, 1, 2, 0, false};
    } else if (dataSet->IsSequenced()) {
        const int records = static_cast<int>(dataSet->RecordCount());
        const int page = VisibleDataRows();
        const TDataSetState state = dataSet->State();
        int position = lastBarPosition_;
        if (state == TDataSetState::Browse || state == TDataSetState::Edit)
            position = static_cast<int>(dataSet->RecNo());
        lastBarPosition_ = position;
        // (1, R + P - 1, P): shown once the range exceeds the page, from 2 records.
        info = {1, records + page - 1, page, position, (records + page - 1) - 1 + 1 > page};
    } else {
        const int position = dataSet->Bof() ? 0 : dataSet->Eof() ? 4 : 2;
        info = {0, 4, 0, position, true};
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
        vbar_->setRange(info.min, std::max(info.min, info.max - std::max(0, info.page - 1)));
        vbar_->setPageStep(info.page);
        vbar_->setSingleStep(1);
        vbar_->setValue(info.pos);
        vbar_->setSliderPosition(info.pos);
    }
    if (info.shown == wasHidden) {
        vbar_->setVisible(info.shown);
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
    if (link_->ActiveRecord() + 1 >= rowCount_)
        RowLayout();
    UpdateScrollBar();
    FollowDataSet();
    Invalidate(oldRect);
    Invalidate(RowRect(currentRow_));
    if (distance != 0) {
        if (std::abs(distance) > VisibleDataRows()) {
            InvalidateAll();
        } else {
            const int pitch = rowHeight_ + kLineWidth;
            const int dy = -distance * pitch;
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

    const std::vector<ColumnSpan> spans = ColumnSpans();
    const int right = spans.empty() ? kIndicatorWidth + kLineWidth : spans.back().left + spans.back().width + kLineWidth;
    const QColor dataLine = Color() == QColor(192, 192, 192) ? kDataLineOnSilver : kDataLineColor;

    glyphRow_ = -1;
    for (int row = 0; row < rowCount_; ++row) {
        const int top = RowTop(row);
        const int height = RowHeight(row);
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
    const int bottom = RowTop(rowCount_ - 1) + RowHeight(rowCount_ - 1) + kLineWidth;
    if (right < client.width())
        painter.fillRect(QRect(right, 0, client.width() - right, client.height()), Color());
    if (bottom < client.height())
        painter.fillRect(QRect(0, bottom, std::min(right, client.width()), client.height() - bottom), Color());

    if (hasFocus() && !spans.empty() && currentRow_ > 0 && currentRow_ < rowCount_) {
        const int left = spans.front().left;
        const int width = spans.back().left + spans.back().width - left;
        DrawFocusRect(painter, QRect(left, RowTop(currentRow_), width, RowHeight(currentRow_)));
    }
    if (mouseState_ == MouseState::Sizing) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(QRect(sizingX_, 0, 1, client.height()), Qt::white);
    } else if (mouseState_ == MouseState::Moving && moveTarget_ > 0 && moveTarget_ != movingColumn_) {
        // The move marker: a bar on the edge the column would take.
        for (const ColumnSpan& span : spans)
            if (span.gridColumn == moveTarget_) {
                const int x = moveTarget_ > movingColumn_ ? span.left + span.width - 1 : span.left - 1;
                painter.fillRect(QRect(x, 0, 3, titleHeight_), palette().color(QPalette::Highlight));
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
                DrawIndicator(painter, cell, kGlyphArrow);
                glyphRow_ = row;
            }
            return;
        }
        const QRect inner = cell.adjusted(1, 1, -1, -1);
        if (row == 0 && gridColumn != nullptr) {
            const TGridColumnTitle& title = gridColumn->Title();
            DrawCellText(painter, inner, 1, 1, static_cast<int>(title.Alignment()), title.Caption(), title.Font(),
                         title.Color(), palette().color(QPalette::WindowText));
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
        DrawCellText(painter, cell, 2, 2, static_cast<int>(foot.Alignment()), foot.DisplayText(), foot.Font(),
                     foot.Color(), palette().color(QPalette::WindowText));
        return;
    }
    QString text;
    {
        ActiveRecordScope scope(*link_, row - 1);
        if (const TField* field = gridColumn->Field())
            text = ToDisplay(field->DisplayText());
    }
    const bool highlight = row == currentRow_ && hasFocus() && (options_ & dgRowSelect);
    DrawCellText(painter, cell, 2, 2, static_cast<int>(gridColumn->Alignment()), text, gridColumn->Font(),
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
        x = rect.left() + rect.width() - textWidth - 3;
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
    // 8 pixels left of the cell's right edge, centred vertically.
    const int left = rect.left() + rect.width() - 8;
    const int top = (rect.top() + rect.top() + rect.height() - 11) / 2;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 6; ++x)
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
    int left = leftColumn_;
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

void TDataGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is a press like the first.
    Guarded(this, [&] { MouseDown(event); });
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
            sizingX_ = p.x();
            Invalidate(QRect(ClientRect().left() + sizingX_, ClientRect().top(), 1, ClientRect().height()));
        } else if (column > 0 && (options_ & dgColumnResize)) {
            mouseState_ = MouseState::Moving;
            movingColumn_ = column;
            moveTarget_ = column;
        }
        return;
    }
    // Spacer, footer: nothing; a data row: the cursor moves by the difference.
    if (!IsOpen() || row > dataRows_)
        return;
    if (column > 0)
        currentColumn_ = column;
    MoveCursorBy(row - currentRow_);
    if (column > 0 && event->button() == Qt::LeftButton) {
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
        TrackTo(p.y());
        break;
    }
}

void TDataGrid::TrackTo(int clientY)
{
    const int top = RowTop(1);
    const int bottom = RowTop(SpacerRow());  // just below the last data row
    if (clientY < top)
        trackDistance_ = clientY - top;
    else if (clientY >= bottom)
        trackDistance_ = clientY - bottom + 1;
    else
        trackDistance_ = 0;
    if (trackDistance_ == 0) {
        trackTimer_.stop();
        const int row = RowAt(clientY);
        if (row >= 1 && row <= dataRows_ && row != currentRow_)
            MoveCursorBy(row - currentRow_);
        return;
    }
    const int distance = std::abs(trackDistance_);
    const int interval = std::max(0, 200 - 15 * distance);
    if (!trackTimer_.isActive() || trackTimer_.interval() != interval)
        trackTimer_.start(interval);
}

void TDataGrid::TrackTick()
{
    if (mouseState_ != MouseState::Tracking || trackDistance_ == 0) {
        trackTimer_.stop();
        return;
    }
    const int records = std::min(8, std::abs(trackDistance_) / 6);
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
        // A width of one pixel or less is taken for a slip and ignored.
        if (!cell.isNull() && width > 1)
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
    const int before = leftColumn_;
    ScrollColumns(moveScrollDirection_);
    if (leftColumn_ == before) {
        // At the end: nothing more to scroll until the pointer moves again.
        moveScrollTimer_.stop();
        return;
    }
    // The marker follows onto the column that came into view at that edge.
    const std::vector<ColumnSpan> spans = ColumnSpans();
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
    Guarded(this, [&] {
        if (!IsOpen())
            return;
        // One record per notch of 120 units: down moves forward.
        wheelRemainder_ += event->angleDelta().y();
        while (wheelRemainder_ >= 120) {
            wheelRemainder_ -= 120;
            MoveCursorBy(-1);
        }
        while (wheelRemainder_ <= -120) {
            wheelRemainder_ += 120;
            MoveCursorBy(1);
        }
    });
}

// ---------------------------------------------------------------------------
// the vertical scroll bar

void TDataGrid::ScrollBarAction(int action)
{
    setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = OpenDataSet();
    if (dataSet != nullptr) {
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
        default:  // dragging the thumb: the cursor moves on release
            return;
        }
    }
    // The bar shows where the cursor is, not where the action would have put it.
    barInfoValid_ = false;
    UpdateScrollBar();
    vbar_->setSliderPosition(barInfo_.pos);
}

void TDataGrid::ScrollBarReleased()
{
    setFocus(Qt::OtherFocusReason);
    TDataSet* dataSet = OpenDataSet();
    if (dataSet != nullptr) {
        const int p = vbar_->sliderPosition();
        if (dataSet->IsSequenced()) {
            const int records = static_cast<int>(dataSet->RecordCount());
            if (p <= 1)
                dataSet->First();
            else if (p >= records)
                dataSet->Last();
            else
                dataSet->SetRecNo(p);
        } else {
            if (p == 0)
                dataSet->First();
            else if (p == 1)
                MoveCursorBy(-VisibleDataRows());
            else if (p == 3)
                MoveCursorBy(VisibleDataRows());
            else if (p == 4)
                dataSet->Last();
        }
    }
    barInfoValid_ = false;
    UpdateScrollBar();
}

}  // namespace vantelo
