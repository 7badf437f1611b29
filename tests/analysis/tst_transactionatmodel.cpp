#include "analysis/TransactionATDelegate.h"
#include "analysis/TransactionATModel.h"

#include <QAbstractItemModelTester>
#include <QIcon>
#include <QImage>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QtTest>

using M = TransactionATModel;

// "R 0x10 0x03 5; S 0x10 0x03 0x81": the pushes of one statistics tick, in order.
// R request/reply, N no-reply, A no-ack, S state, D data value, F refresh state, P padding.
static void push(M& model, const QString& script)
{
    for (const QString& step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList f = step.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto num = [&f](int i) { return f.value(i).toULongLong(nullptr, 0); };
        const quint16 id = quint16(num(1));
        const quint8 ctrl = quint8(num(2));
        switch (f.at(0).at(0).toLatin1()) {
        case 'R': QVERIFY(model.setRequestReplyCounter(id, ctrl, num(3))); break;
        case 'N': QVERIFY(model.setNoReplyCounter(id, ctrl, num(3))); break;
        case 'A': QVERIFY(model.setNoAckCounter(id, ctrl, num(3))); break;
        case 'S': QVERIFY(model.setIdState(id, ctrl, quint8(num(3)))); break;
        case 'D': QVERIFY(model.setDataValueStr(id, ctrl, f.value(3))); break;
        case 'F': QVERIFY(model.setRefreshStateStr(id, ctrl, f.value(3))); break;
        case 'P': model.setPadding(id); break;
        default: QFAIL(qPrintable(step));
        }
    }
}

static QImage picture(const QVariant& icon)
{
    return icon.value<QIcon>().pixmap(16, 16).toImage();
}

class TestTransactionATModel : public QObject
{
    Q_OBJECT

private slots:
    void rowsMadeOnFirstCounter_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("control");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("categoryIcon");
        const QString msg = ":/images/images/icon_message_out_48x48.png";
        const QString apl = ":/images/images/icon_aperiodic_list_48x48.png";
        QTest::newRow("RP_ACKpe") << 0x0100 << 0x30
                                  << QStringList{"IdMsg - Message Transfer", "0x0100", "RpMsgAckEven", "RpAckEven+"} << msg;
        QTest::newRow("RP_ACKmo") << 0x0030 << 0x90
                                  << QStringList{"IdMsg - Message Transfer", "0x0030", "RpMsgAckOdd", "RpAckOdd-"} << msg;
        QTest::newRow("RP_RQ1") << 0x1234 << 0x28
                                << QStringList{"IdRqx - Aperiodic List Transfer", "IdRq1 - Urgent", "0x1234", "RpRq1"} << apl;
        QTest::newRow("ID_RQ2") << 0x0001 << 0x09
                                << QStringList{"IdRqx - Aperiodic List Transfer", "IdRq2 - Normal", "0x0001"} << apl;
        QTest::newRow("RP_DAT_RQ2_MSG") << 0xffff << 0x0e
                                        << QStringList{"IdDat - Variable Transfer", "0xffff", "RpDatRq2Msg"}
                                        << ":/images/images/icon_variable_out_48x48.png";
        QTest::newRow("unknown") << 0x0100 << 0x01 << QStringList() << QString();
    }

    void rowsMadeOnFirstCounter()
    {
        QFETCH(int, id);
        QFETCH(int, control);
        QFETCH(QStringList, path);
        QFETCH(QString, categoryIcon);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        for (int round = 0; round < 2; ++round) { // the second push finds the same rows
            QCOMPARE(model.setRequestReplyCounter(quint16(id), quint8(control), 7), !path.isEmpty());
            QModelIndex at;
            for (const QString& text : path) {
                QCOMPARE(model.rowCount(at), 1);
                at = model.index(0, M::TransactionCol, at);
                QCOMPARE(at.data().toString(), text);
            }
            QCOMPARE(model.rowCount(at), 0);
        }
        const QModelIndex row = model.getRootCtrlIdx(quint16(id), quint8(control));
        QCOMPARE(row.isValid(), !path.isEmpty());
        if (path.isEmpty())
            return;
        const int column = M::isRequest(quint8(control)) ? M::RequestCol : M::ReplyCol;
        QCOMPARE(row.siblingAtColumn(column).data().toULongLong(), 7ull);
        QCOMPARE(picture(model.index(0, 0).data(Qt::DecorationRole)), picture(QIcon(categoryIcon)));
    }

    void replySums_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("row"); // the control of the row read
        QTest::addColumn<quint64>("reply");
        QTest::newRow("RP_FIN counts") << "R 0x20 0x40 5" << 0x05 << quint64(5);
        QTest::newRow("ACKe and NOACK left out")
            << "R 0x20 0x14 4; R 0x20 0x04 3; R 0x20 0x30 4; R 0x20 0x40 2" << 0x05 << quint64(2);
        QTest::newRow("ACKo left out") << "R 0x20 0x94 6; R 0x20 0xb0 6" << 0x05 << quint64(0);
        QTest::newRow("variable variants, one updated")
            << "R 0x20 0x02 3; R 0x20 0x06 4; R 0x20 0x02 10" << 0x03 << quint64(14);
        QTest::newRow("ACKe sums its acknowledgements") << "R 0x20 0x14 9; R 0x20 0x30 3; R 0x20 0x10 1" << 0x14 << quint64(4);
        QTest::newRow("ACKo pushed after its acknowledgement") << "R 0x20 0xb0 2; R 0x20 0x94 9" << 0x94 << quint64(2);
    }

    void replySums()
    {
        QFETCH(QString, script);
        QFETCH(int, row);
        QFETCH(quint64, reply);
        M model;
        push(model, script);
        QCOMPARE(model.getRootCtrlIdx(0x20, quint8(row)).siblingAtColumn(M::ReplyCol).data().toULongLong(), reply);
    }

    void settersOnResponseRows_data()
    {
        QTest::addColumn<int>("setter");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("requestOnly");
        const int columns[] = {M::NoReplyCol, M::NoAckCol, M::GlitchesCol, M::NoRefreshCol, M::DataChangesCol,
                               M::DataLengthCol, M::MaxJitterCol, M::DurationCol, M::LastNoRefreshDateCol,
                               M::RefreshStateCol, M::DataValueCol, M::StateCol};
        const bool requestOnly[] = {true, false, false, false, true, true, false, true, false, false, true, true};
        for (int i = 0; i < 12; ++i)
            QTest::addRow("setter %d", i) << i << columns[i] << requestOnly[i];
    }

    void settersOnResponseRows()
    {
        QFETCH(int, setter);
        QFETCH(int, column);
        QFETCH(bool, requestOnly);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto call = [&model, setter](quint8 control) {
            const quint16 id = 0x10;
            switch (setter) {
            case 0: return model.setNoReplyCounter(id, control, 3);
            case 1: return model.setNoAckCounter(id, control, 3);
            case 2: return model.setGlitchesCounter(id, control, 3);
            case 3: return model.setNoRefreshCounter(id, control, 3);
            case 4: return model.setDataChangesCounter(id, control, 3);
            case 5: return model.setDataLength(id, control, 3);
            case 6: return model.setJitterMaxDurationStr(id, control, "3");
            case 7: return model.setTransactionDurationStr(id, control, "3");
            case 8: return model.setNoRefreshDateStr(id, control, "3");
            case 9: return model.setRefreshStateStr(id, control, "3");
            case 10: return model.setDataValueStr(id, control, "3");
            default: return model.setIdState(id, control, 3);
            }
        };
        QVERIFY(!call(0x01)); // unknown control: no row, nothing made
        QCOMPARE(model.rowCount(), 0);

        QVERIFY(call(0x02));
        const QModelIndex response = model.getRootCtrlIdx(0x10, 0x02);
        QCOMPARE(response.siblingAtColumn(column).data().toString(), requestOnly ? QString() : QString("3"));
        QVERIFY(call(0x03));
        QCOMPARE(model.getRootIdIdx(0x10, 0x03).siblingAtColumn(column).data().toString(), QString("3"));
    }

    void transactionCounters_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<quint64>>("expected");
        using L = QList<quint64>;
        QTest::newRow("variable replied") << "R 0x10 3 10; R 0x10 2 10; N 0x10 3 0" << L{10, 0, 0, 0, 0};
        QTest::newRow("variable lost") << "R 0x10 3 10; R 0x10 2 8; N 0x10 3 2" << L{0, 2, 0, 0, 0};
        QTest::newRow("variable never replied") << "R 0x11 3 5; N 0x11 3 5" << L{0, 0, 5, 0, 0};
        QTest::newRow("message replied") << "R 0x20 5 4; R 0x20 0x14 4; R 0x20 0x40 4" << L{0, 0, 0, 4, 0};
        QTest::newRow("message not replied") << "R 0x20 5 4; R 0x20 0x40 3; N 0x20 5 1" << L{0, 0, 0, 0, 1};
        QTest::newRow("aperiodic ignored") << "R 0x30 0x29 4; R 0x30 0x28 4" << L{0, 0, 0, 0, 0};
        QTest::newRow("reply without request") << "R 0x12 2 6" << L{0, 0, 0, 0, 0};
        QTest::newRow("padding left out") << "R 0x10 3 9; R 0x10 2 9; R 0xa0 3 2; R 0xa0 2 2; P 0xa0"
                                          << L{9, 0, 0, 0, 0};
        QTest::newRow("padding 0 keeps 0x0000") << "R 0x0 3 9; R 0x0 2 9; P 0" << L{9, 0, 0, 0, 0};
    }

    void transactionCounters()
    {
        QFETCH(QString, script);
        QFETCH(QList<quint64>, expected);
        M model;
        push(model, script);
        QList<quint64> out{99, 99, 99, 99, 99};
        model.getTransactionCounters(&out[0], &out[1], &out[2], &out[3], &out[4]);
        QCOMPARE(out, expected);
        model.getTransactionCounters(nullptr, nullptr, nullptr, nullptr, &out[4]); // recomputed, not added
        QCOMPARE(out.last(), expected.last());
    }

    void changesReported_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("same count twice") << "R 0x10 3 5; R 0x10 3 5" << QList<int>{1};
        QTest::newRow("state reports its icon") << "S 0x10 3 0x81; S 0x10 3 0x81; S 0x10 3 0x83"
                                                << QList<int>{14, 0, 14, 0};
        QTest::newRow("same text twice") << "D 0x10 3 ab; D 0x10 3 ab; D 0x10 3 ac" << QList<int>{13, 13};
        QTest::newRow("reply and its sum once") << "R 0x10 2 3; R 0x10 2 3" << QList<int>{0, 2, 2};
    }

    void changesReported()
    {
        QFETCH(QString, script);
        QFETCH(QList<int>, columns);
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.getRootIdIdx(0x10, 0x03).isValid());
        QSignalSpy spy(&model, &M::dataChanged);
        push(model, script);
        QList<int> reported;
        for (const QList<QVariant>& args : spy) {
            const QModelIndex from = args.at(0).toModelIndex();
            QCOMPARE(args.at(1).toModelIndex(), from);
            reported << from.column();
        }
        QCOMPARE(reported, columns);
    }

    void identifierIcons_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("icon");
        const QString p = ":/images/images/icon_%1.png";
        QTest::newRow("no state") << "R 0x10 3 1" << 0 << QString();
        QTest::newRow("state not known") << "S 0x10 3 0x07" << 0 << QString();
        QTest::newRow("absent") << "S 0x10 3 0x86" << 0 << p.arg("id_absence_52x52");
        QTest::newRow("seen, warning, no reply") << "S 0x10 3 0x85" << 0 << p.arg("id_without_rp_52x52");
        QTest::newRow("replied") << "S 0x10 3 0x83" << 0 << p.arg("id_with_rp_52x52");
        QTest::newRow("replied with warning") << "S 0x10 3 0x87" << 0 << p.arg("id_with_rp_warning_52x52");
        QTest::newRow("refreshed") << "F 0x10 3 true" << 8 << p.arg("true_flag_green_48x48");
        QTest::newRow("not refreshed") << "F 0x10 3 false" << 8 << p.arg("false_flag_red_48x48");
        QTest::newRow("other refresh text") << "F 0x10 3 -" << 8 << QString();
    }

    void identifierIcons()
    {
        QFETCH(QString, script);
        QFETCH(int, column);
        QFETCH(QString, icon);
        M model;
        push(model, script);
        const QVariant shown = model.getRootIdIdx(0x10, 0x03).siblingAtColumn(column).data(Qt::DecorationRole);
        QCOMPARE(shown.isValid(), !icon.isEmpty());
        if (!icon.isEmpty()) {
            QVERIFY(!QIcon(icon).isNull());
            QCOMPARE(picture(shown), picture(QIcon(icon)));
        }
    }

    void categorySignalsSurviveClear()
    {
        M model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy created(&model, &M::newCategoryCreated);
        QSignalSpy firstChild(&model, &M::firstCategoryChildCreated);
        for (int round = 0; round < 2; ++round) {
            created.clear();
            firstChild.clear();
            push(model, "R 0x10 3 1; R 0x11 3 1; R 0x10 2 1; R 0x20 0x29 1; R 0x21 0x09 1; R 0x22 0x29 1");
            QCOMPARE(created.count(), 4);
            QStringList categories;
            for (const QList<QVariant>& args : firstChild)
                categories << args.at(0).toModelIndex().data().toString();
            QCOMPARE(categories, (QStringList{"IdDat - Variable Transfer", "IdRqx - Aperiodic List Transfer",
                                              "IdRq1 - Urgent", "IdRq2 - Normal"}));
            QCOMPARE(model.rowCount(model.getCategoryIdx(0x29)), 2);
            model.clear();
            QCOMPARE(model.rowCount(), 0);
        }
        push(model, "R 0x10 2 4");
        model.removeIdxChilds(model.getRootIdIdx(0x10, 0x03));
        push(model, "R 0x10 2 6"); // the removed response row is made again, not written through a stale cache
        QCOMPARE(model.rowCount(model.getRootIdIdx(0x10, 0x03)), 1);
        QCOMPARE(model.getRootCtrlIdx(0x10, 0x02).siblingAtColumn(M::ReplyCol).data().toULongLong(), 6ull);
    }

    void delegateMarksCategories()
    {
        struct Delegate : TransactionATDelegate
        {
            using TransactionATDelegate::initStyleOption;
        } delegate;
        M model;
        push(model, "R 0x10 3 1");
        const QModelIndex category = model.index(0, M::DataValueCol);
        const QModelIndex identifier = model.getRootIdIdx(0x10, 0x03).siblingAtColumn(M::DataValueCol);
        QStyleOptionViewItem categoryOption, identifierOption;
        delegate.initStyleOption(&categoryOption, category);
        delegate.initStyleOption(&identifierOption, identifier);
        QVERIFY(categoryOption.font.bold());
        QVERIFY(!identifierOption.font.bold());
        QVERIFY(categoryOption.backgroundBrush.style() != Qt::NoBrush);
        QCOMPARE(identifierOption.backgroundBrush.style(), Qt::NoBrush);
    }
};

QTEST_MAIN(TestTransactionATModel)
#include "tst_transactionatmodel.moc"
