// The file list grid's fixed words: the sample text its row heights are
// measured with, the names under which the main window's stored description
// gives the grid its settings (dynamic properties of DBGrid1), and the
// entries of its scroll bars' context menu. The grid shows no message of its
// own; its captions and footer texts come from the stored description.
#pragma once

namespace vantelo::gridtexts {

// Row and title heights are the height of this text in the font, plus a margin.
inline constexpr const char* kMeasureText = "Wg";

// Stored settings (dynamic property names).
inline constexpr const char* kPropOptions = "options";            // "dgTitles,dgIndicator,..."
inline constexpr const char* kPropReadOnly = "readOnly";          // bool
inline constexpr const char* kPropTitleFont = "titleFont";        // font
inline constexpr const char* kPropFooterFont = "footerFont";      // font
inline constexpr const char* kPropSumListActive = "sumListActive";    // bool
inline constexpr const char* kPropColumns = "columns";            // string list, one column a line

// Keys of one stored column line: "Key=Value" pairs separated by ";".
inline constexpr const char* kColFieldName = "FieldName";
inline constexpr const char* kColWidth = "Width";
inline constexpr const char* kColAlignment = "Alignment";
inline constexpr const char* kColTitleCaption = "Title.Caption";
inline constexpr const char* kColTitleAlignment = "Title.Alignment";
inline constexpr const char* kColFooterValueType = "Footer.ValueType";
inline constexpr const char* kColFooterValue = "Footer.Value";
inline constexpr const char* kColFooterFieldName = "Footer.FieldName";
inline constexpr const char* kColFooterAlignment = "Footer.Alignment";
inline constexpr const char* kColFooterDisplayFormat = "Footer.DisplayFormat";

// Alignment words.
inline constexpr const char* kAlignLeft = "taLeftJustify";
inline constexpr const char* kAlignRight = "taRightJustify";
inline constexpr const char* kAlignCenter = "taCenter";

// Option words, in the order of TGridOption.
inline constexpr const char* kOptionNames[] = {
    "dgEditing", "dgAlwaysShowEditor", "dgTitles", "dgIndicator", "dgColumnResize", "dgColLines", "dgRowLines",
    "dgTabs", "dgRowSelect", "dgAlwaysShowSelection", "dgConfirmDelete", "dgCancelOnExit", "dgMultiSelect",
};

// Footer value type words, in the order of TFooterValueType.
inline constexpr const char* kFooterValueTypeNames[] = {
    "fvtNon", "fvtSum", "fvtAvg", "fvtCount", "fvtFieldValue", "fvtStaticText",
};

// The scroll bars' context menu, top to bottom; the vertical bar's words,
// then the horizontal bar's where they differ.
inline constexpr const char* kBarScrollHere = "滚动到此处";
inline constexpr const char* kBarTop = "顶部";
inline constexpr const char* kBarBottom = "底部";
inline constexpr const char* kBarPageUp = "向上翻页";
inline constexpr const char* kBarPageDown = "向下翻页";
inline constexpr const char* kBarScrollUp = "向上滚动";
inline constexpr const char* kBarScrollDown = "向下滚动";
inline constexpr const char* kBarLeftEdge = "左边缘";
inline constexpr const char* kBarRightEdge = "右边缘";
inline constexpr const char* kBarPageLeft = "向左翻页";
inline constexpr const char* kBarPageRight = "向右翻页";
inline constexpr const char* kBarScrollLeft = "向左滚动";
inline constexpr const char* kBarScrollRight = "向右滚动";
// What a screen reader calls the grid when its window gives it no name.
inline constexpr const char* kGridName = "文件列表";

}  // namespace vantelo::gridtexts
