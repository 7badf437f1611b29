#include "BX.h"
#include "ui_BX.h"

BX::BX(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::BX)
{
    ui->setupUi(this);
}

BX::~BX()
{
    delete ui;
}
