// The file list grid as the main window's stored description makes it
// (DBGrid1 with its columns, fonts, options and footers), fed from an
// in-memory file list through a data source, and helpers to read its pixels.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QWidget>

#include "grid/TDataGrid.h"
#include "grid/TGridColumn.h"
#include "grid/TGridDataLink.h"
#include "grid/TGridSumList.h"
#include "store/TDataSource.h"
#include "store/TMemoryDataSet.h"
#include "ui_FormMain.h"

#include <memory>
#include <string>

namespace vantelo::test {

inline std::u16string FileName(int index)
{
    const std::string text = "file" + std::to_string(index);
    return std::u16string(text.begin(), text.end());
}

class GridFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The main window's controls from its stored description, on a
        // plain host: DBGrid1 gets exactly the stored settings.
        ui.setupUi(&host);
        grid = ui.DBGrid1;
        query.SetColumns({{"FileIndex", TFieldType::ftAutoInc, 0, true},
                          {"FileName", TFieldType::ftWideString, 255, false},
                          {"FileEnable", TFieldType::ftBoolean, 0, false}});
        source.SetDataSet(&query);
        grid->SetDataSource(&source);
    }

    void Fill(int rows, int first = 1)
    {
        for (int i = first; i < first + rows; ++i)
            query.AppendRow({TNull{}, FileName(i), int16_t{1}});
    }
    void AppendName(const std::u16string& name) { query.AppendRow({TNull{}, name, int16_t{1}}); }

    // Shows the host window and gives it (and the grid) the focus.
    void ShowFocused()
    {
        host.show();
        QApplication::setActiveWindow(&host);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
        grid->setFocus();
        ASSERT_TRUE(grid->hasFocus());
    }

    QImage Grab() { return grid->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // The record number the cursor stands on.
    int64_t RecNo() { return query.RecNo(); }
    QString CurrentName() { return QString::fromStdU16String(std::get<std::u16string>(query.FieldByName("FileName").Value())); }

    QWidget host;
    Ui::FormMain ui;
    TMemoryDataSet query{nullptr, "ADOQuery1"};
    TDataSource source{nullptr, "DataSource1"};
    TDataGrid* grid = nullptr;
};

inline QRgb Rgb(int r, int g, int b)
{
    return qRgb(r, g, b);
}

}  // namespace vantelo::test

namespace vantelo::test {

// A cell as the text rule draws it: background, then the text centred
// (left + width div 2 - text width div 2), its top dy below the cell's top,
// cut at the cell's edges.
inline QImage ReferenceCell(QSize size, const QFont& font, const QString& text, QColor background, QColor text_colour,
                            int dy)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(text_colour);
    const QFontMetrics metrics(font);
    const int x = size.width() / 2 - metrics.horizontalAdvance(text) / 2;
    painter.drawText(QPoint(x, dy + metrics.ascent()), text);
    return image;
}

// Whether the pixels of image inside rect match the glyph pattern: '#'
// black, '.' the background colour.
inline ::testing::AssertionResult GlyphAt(const QImage& image, QPoint topLeft, const char* const* rows,
                                          QRgb background)
{
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 6; ++x) {
            const QRgb want = rows[y][x] == '#' ? qRgb(0, 0, 0) : background;
            const QRgb got = image.pixel(topLeft + QPoint(x, y));
            if (got != want)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") of the glyph is " << std::hex << got << ", wanted " << want;
        }
    return ::testing::AssertionSuccess();
}

inline const char* const kArrow[11] = {"#.....", "##....", "###...", "####..", "#####.", "######",
                                       "#####.", "####..", "###...", "##....", "#....."};
inline const char* const kIBeam[11] = {"##..##", "..##..", "..##..", "..##..", "..##..", "..##..",
                                       "..##..", "..##..", "..##..", "..##..", "##..##"};
inline const char* const kStar[11] = {"......", "......", "......", ".#..#.", "..##..", "######",
                                      "..##..", ".#..#.", "......", "......", "......"};

}  // namespace vantelo::test
