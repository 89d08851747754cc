// The file list grid: a read-only view of the live rows of the main window's
// query, drawn by the grid itself inside a sunken frame.
#pragma once

#include <QWidget>

namespace vantelo {

class TDataGrid : public QWidget {
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantelo
