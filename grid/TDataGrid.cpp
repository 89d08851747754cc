#include "grid/TDataGrid.h"

#include "app/THandlerGuard.h"
#include "grid/TDataGridAccessible.h"
#include "grid/GridTexts.h"
#include "grid/TGridColumn.h"
#include "grid/TGridPainter.h"
#include "grid/TGridSumList.h"
#include "store/TDataSet.h"
#include "store/TDataSource.h"

#include <QDynamicPropertyChangeEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace vantelo {

namespace {

// The height of the measuring text in font: the font's character cell height.
int TextHeight(const QFont& font)
{
    return QFontMetrics(font).size(Qt::TextSingleLine, QString::fromLatin1(gridtexts::kMeasureText)).height();
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

    // The parts, each seeing the grid through its own interface.
    bars_ = std::make_unique<TGridScrollBars>(static_cast<TGridScrollBars::Owner&>(*this), *this, *link_);
    titleRow_ = std::make_unique<TGridTitleRow>(static_cast<TGridTitleRow::Owner&>(*this), *this);
    input_ = std::make_unique<TGridInput>(static_cast<TGridInput::Owner&>(*this), *this, *link_, *titleRow_);

    sumList_->OnSumListChanged = [this] { InvalidateFooter(); };
    FullLayout();
}

TDataGrid::~TDataGrid()
{
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

void TDataGrid::SetDataSource(TDataSource* source)
{
    if (source == link_->DataSource())
        return;
    link_->SetDataSource(source);
    sumList_->SetDataSet(source != nullptr ? source->DataSet() : nullptr);
    FullLayout();
    bars_->Update();
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
        columns_.back()->Load(line);
    }
    --layoutLock_;
    FullLayout();
}

// ---------------------------------------------------------------------------
// what the columns ask of the grid

int TDataGrid::IndexOfColumn(const TGridColumn& column) const
{
    for (int i = 0; i < ColumnCount(); ++i)
        if (&Column(i) == &column)
            return i;
    return -1;
}

TSumCollection& TDataGrid::FooterSums()
{
    return sumList_->SumCollection();
}

// ---------------------------------------------------------------------------
// geometry

QRect TDataGrid::ClientRect() const
{
    // Left of and above the bars that show, where the bars were placed.
    return QRect(kBorderWidth, kBorderWidth, std::max(0, width() - 2 * kBorderWidth - bars_->ShownWidth()),
                 std::max(0, height() - 2 * kBorderWidth - bars_->ShownHeight()));
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

void TDataGrid::SetLeftColumn(int column)
{
    Geometry();
    const int before = geometry_.LeftColumn();
    if (geometry_.SetLeftColumn(column) != before)
        InvalidateAll();
    bars_->ShowLeftColumn(LeftColumn());
}

void TDataGrid::ScrollColumns(int by)
{
    SetLeftColumn(Geometry().LeftColumnScrolledBy(by));
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

int TDataGrid::BorderColumnAt(int clientX) const
{
    if (!(options_ & dgColumnResize))
        return -1;
    return Geometry().SizingColumnAt(clientX);
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
    const bool barChanged = bars_->SyncHorizontal();
    RowLayout();
    FollowDataSet();
    // A bar that came or went changed the client height: the page follows.
    if (barChanged)
        bars_->Update();
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

void TDataGrid::ClientHeightChanged()
{
    RowLayout();
    FollowDataSet();
}

void TDataGrid::ScrollBy(int distance)
{
    const QRect oldRect = RowRect(currentRow_);
    if (link_->ActiveRecord() + 1 >= RowCount())
        RowLayout();
    bars_->Update();
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
    bars_->Update();
}

void TDataGrid::LinkDataSetChanged()
{
    RowLayout();
    bars_->Update();
    FollowDataSet();
    InvalidateAll();
    TDataGridAccessible::CurrentChanged(this);
}

void TDataGrid::LinkDataSetScrolled(int distance)
{
    ScrollBy(distance);
    TDataGridAccessible::CurrentChanged(this);
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

void TDataGrid::ColumnChanged(bool layout)
{
    if (layout)
        FullLayout();
    else
        InvalidateAll();
}

void TDataGrid::TitleColumnResized(int gridColumn, int width)
{
    Column(gridColumn - 1).SetWidth(width);
}

void TDataGrid::TitleColumnMoved(int fromGridColumn, int toGridColumn)
{
    MoveColumn(fromGridColumn - 1, toGridColumn - 1);
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

void TDataGrid::InvalidateClient(const QRect& rect)
{
    Invalidate(rect.translated(ClientRect().topLeft()));
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
// window events

void TDataGrid::paintEvent(QPaintEvent* event)
{
    painting_ = true;
    Guarded(this, [&] {
        const QRect band = DataBandRect();
        if (event->region().intersected(band) == QRegion(band))
            bandStale_ = false;
        pending_ -= event->region();
        QPainter painter(this);
        const TGridPainter::View view{*this,
                                      Geometry(),
                                      columns_,
                                      *link_,
                                      *titleRow_,
                                      ClientRect(),
                                      bars_->Corner(),
                                      Color(),
                                      FixedColor(),
                                      currentRow_,
                                      (options_ & dgRowSelect) != 0};
        glyphRow_ = TGridPainter(view).Paint(painter, event->region().boundingRect());
    });
    painting_ = false;
}

void TDataGrid::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        Guarded(this, [&] { FullLayout(); });
}

void TDataGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    bars_->Place();
    Guarded(this, [&] {
        bars_->SyncHorizontal();
        RowLayout();
        FollowDataSet();
        bars_->Update();
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
// keyboard, mouse and wheel: the input part's

void TDataGrid::MoveCursorBy(int distance)
{
    if (distance != 0)
        link_->MoveBy(distance);
}

void TDataGrid::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    Guarded(this, [&] { input_->KeyDown(event); });
}

void TDataGrid::mousePressEvent(QMouseEvent* event)
{
    Guarded(this, [&] { input_->MouseDown(event, ClientRect().topLeft()); });
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
    Guarded(this, [&] { input_->MouseMove(event, ClientRect().topLeft()); });
}

void TDataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    Guarded(this, [&] { input_->MouseUp(event, ClientRect().topLeft()); });
}

void TDataGrid::wheelEvent(QWheelEvent* event)
{
    event->accept();
    Guarded(this, [&] { input_->Wheel(event->angleDelta().y()); });
}

}  // namespace vantelo
