#include "analysis/StatisticsPage.h"

#include "analysis/AnalysisContext.h"
#include "ui_StatisticsPage.h"

namespace {

const QString GreyStyle = QStringLiteral("QLabel{color: #cccccc;}");
const QString TitleStyle = QStringLiteral("QLabel{color: #777777;}");
const QString BlueStyle = QStringLiteral("QLabel{color: #11a6de;}");
const QString RedStyle = QStringLiteral("QLabel{color: #de1111;}");

// Re-polishing a label costs far more than comparing its style: the page is
// refreshed twice a second.
void applyStyle(QWidget* widget, const QString& style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

} // namespace

StatisticsPage::StatisticsPage(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::StatisticsPage)
{
    ui->setupUi(this);
}

StatisticsPage::~StatisticsPage() = default;

QLabel* StatisticsPage::valueLabel(const QString& name) const
{
    return findChild<QLabel*>(name);
}

void StatisticsPage::counterVisibility(bool visible, QLabel* valueLabel, QLabel* titleLabel, int kind)
{
    if (!visible) {
        applyStyle(valueLabel, GreyStyle);
        applyStyle(titleLabel, GreyStyle);
        return;
    }
    applyStyle(titleLabel, TitleStyle);
    applyStyle(valueLabel, kind == Information ? BlueStyle : RedStyle);
}

void StatisticsPage::showOverview(const StatisticsCounters& c, const StatisticsInfo& info,
                                  const TransactionTotals& totals)
{
    ui->frameType->setText(info.frameType);
    ui->speed->setText(info.speed);
    ui->startTime->setText(info.startTime);
    ui->endTime->setText(info.endTime);
    ui->duration->setText(info.duration);
    ui->microcycleTime->setText(info.microcycleTime);
    ui->macrocycleTime->setText(info.macrocycleTime);
    ui->silenceTime->setText(info.silenceTime);
    ui->turnAroundTime->setText(info.turnAroundTime);

    const auto show = [](QLabel* value, QLabel* title, quint64 count, int kind) {
        value->setText(AnalysisTexts::counter(count));
        counterVisibility(count != 0, value, title, kind);
    };
    show(ui->acquInterrupt, ui->acquInterruptTitle, c.errorAcqu, Error);
    show(ui->fsdErrors, ui->fsdErrorsTitle, c.errorFSD, Error);
    show(ui->fedErrors, ui->fedErrorsTitle, c.errorFED, Error);
    show(ui->preErrors, ui->preErrorsTitle, c.errorPRE, Error);
    show(ui->controlErrors, ui->controlErrorsTitle, c.errorControl, Error);
    show(ui->dataSizeErrors, ui->dataSizeErrorsTitle, c.errorDataSize, Error);
    show(ui->fcsErrors, ui->fcsErrorsTitle, c.errorFCS, Error);
    show(ui->fipInterrupt, ui->fipInterruptTitle, c.errorFIPInterrupt, Error);
    ui->totalErrors->setText(AnalysisTexts::counter(c.errorTotal));
    applyStyle(ui->totalErrors, c.errorTotal == 0 ? QStringLiteral("color: #11a6de;") : QStringLiteral("color: #de1111;"));
    applyStyle(ui->totalErrorsTitle, TitleStyle);

    show(ui->counterIdDat, ui->counterIdDatTitle, c.idDat, Information);
    show(ui->counterIdMsg, ui->counterIdMsgTitle, c.idMsg, Information);
    show(ui->counterIdRq1, ui->counterIdRq1Title, c.idRq1, Information);
    show(ui->counterIdRq2, ui->counterIdRq2Title, c.idRq2, Information);
    show(ui->counterRpDat, ui->counterRpDatTitle, c.rpDat, Information);
    show(ui->counterRpDatMsg, ui->counterRpDatMsgTitle, c.rpDatMsg, Information);
    show(ui->counterRpDatRq1, ui->counterRpDatRq1Title, c.rpDatRq1, Information);
    show(ui->counterRpDatRq2, ui->counterRpDatRq2Title, c.rpDatRq2, Information);
    show(ui->counterRpDatRq1Msg, ui->counterRpDatRq1MsgTitle, c.rpDatRq1Msg, Information);
    show(ui->counterRpDatRq2Msg, ui->counterRpDatRq2MsgTitle, c.rpDatRq2Msg, Information);
    show(ui->counterRpMsgAckEven, ui->counterRpMsgAckEvenTitle, c.rpMsgAckEven, Information);
    show(ui->counterRpMsgAckOdd, ui->counterRpMsgAckOddTitle, c.rpMsgAckOdd, Information);
    show(ui->counterRpMsgNoAck, ui->counterRpMsgNoAckTitle, c.rpMsgNoAck, Information);
    show(ui->counterRpAckPEven, ui->counterRpAckPEvenTitle, c.rpAckPEven, Information);
    show(ui->counterRpAckPOdd, ui->counterRpAckPOddTitle, c.rpAckPOdd, Information);
    show(ui->counterRpAckMEven, ui->counterRpAckMEvenTitle, c.rpAckMEven, Information);
    show(ui->counterRpAckMOdd, ui->counterRpAckMOddTitle, c.rpAckMOdd, Information);
    show(ui->counterRpRq1, ui->counterRpRq1Title, c.rpRq1, Information);
    show(ui->counterRpRq2, ui->counterRpRq2Title, c.rpRq2, Information);
    show(ui->counterRpFin, ui->counterRpFinTitle, c.rpFin, Information);
    show(ui->counterPadding, ui->counterPaddingTitle, c.padding, Information);
    show(ui->totalFrames, ui->totalFramesTitle, c.frameTotal, Information);

    const auto total = [&show](QLabel* value, QLabel* title, quint64 count) {
        show(value, title, count, Information);
        title->setEnabled(count != 0);
    };
    total(ui->counterVarTransOk, ui->varTransOkLabel, totals.varOk);
    total(ui->counterVarTransLostReply, ui->varTransLostReplyLabel, totals.varLostReply);
    total(ui->counterVarTransNeverReply, ui->varTransNeverReplyLabel, totals.varNeverReply);
    total(ui->counterMsgTransOk, ui->msgTransOkLabel, totals.msgOk);
    total(ui->counterMsgTransNok, ui->msgTransNokLabel, totals.msgNok);
}

void StatisticsPage::showRates(const NetworkRatio::Rates& rates)
{
    const auto set = [](QProgressBar* bar, int value) { bar->setValue(qBound(0, value, 100)); };
    set(ui->netTrafficRate, rates.traffic);
    set(ui->netErrorRate, rates.errors);
    set(ui->netFipVarRate, rates.variables);
    set(ui->netFipMsgRate, rates.messages);
    set(ui->netFipAperListRate, rates.aperiodicLists);
}
