#pragma once

#include <QMainWindow>

namespace Ui { class BX; }

/// The main window: owns every model, worker, thread and timer of the application.
class BX : public QMainWindow
{
    Q_OBJECT
public:
    explicit BX(QWidget* parent = nullptr);
    ~BX() override;

private:
    Ui::BX* ui;
};
