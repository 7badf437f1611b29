#include "analysis/CaptureAnalysis.h"

#include "capture/files/CaptureFileLock.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/files/StatsFile.h"
#include "design/MainDTModel.h"

#include <QDateTime>
#include <QFile>

CaptureAnalysis::CaptureAnalysis()
{
    m_macrocycle.setTransactionModel(&m_transactions);
    m_macrocycle.setErrorCounters(&m_session.decoder().counters());
    m_session.setAnalysis(&m_mnemonics);
    m_session.setLabelSource([this](quint16 identifier) { return m_mnemonics.changedLabels(identifier); });
}

CaptureAnalysis::~CaptureAnalysis()
{
    m_session.stop();
    m_session.setLabelSource(nullptr);
    m_session.setAnalysis(nullptr);
}

void CaptureAnalysis::reset(const Options& options)
{
    m_context.reset();
    m_frames.reset();
    m_context.counters = StatisticsCounters();
    m_context.info.clear();
    m_context.totals = TransactionTotals();
    m_context.paddingIdentifier = options.paddingIdentifier;
    m_context.depthMode = options.record.depthMode;

    m_session.traceWriter().clearPending();
    m_transactions.clear();
    m_transactions.setPadding(options.fixedPadding ? options.paddingIdentifier : 0);
    m_macrocycle.reset();
    m_macrocycle.setSamplingPeriodMs(options.macroSamplingMs);
    m_macrocycle.setDrawingEnabled(options.macroDetect);
    m_macrocycle.setPaddingRule(options.fixedPadding, options.paddingIdentifier);
    if (m_design) {
        applyRefreshments(m_context, *m_design);
        m_mnemonics.setDesign(*m_design);
    } else {
        m_mnemonics.reset();
    }
}

void CaptureAnalysis::applyRefreshments(AnalysisContext& context, const MainDTModel& design)
{
    for (const QModelIndex& variable : design.getClassTypeIndexes(MainDTModel::VARIABLE_OUT)) {
        bool valid = false;
        const quint16 id = design.getOutId(variable, &valid);
        if (!valid)
            continue;
        const QVariant enabled = design.cell(variable, MainDTModel::ColVarOutRefreshmentEnabled).data();
        context.identifier(id).refreshmentEnabled
            = enabled.toString().compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 || enabled.toInt() == 1;
    }
}

bool CaptureAnalysis::convert(const QString& rawPath, const QString& tracePath, const Options& options,
                              QString* error)
{
    const auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    RawTraceConversion conversion;
    const RawTraceConversion::Result opened = conversion.openSource(rawPath);
    if (opened != RawTraceConversion::Ok)
        return fail(RawTraceConversion::message(opened, rawPath));

    reset(options);
    if (QFile::exists(tracePath) && !QFile::remove(tracePath))
        return fail(CaptureFileMessages::cannotOpenDestination());
    {
        CaptureFileLock lock;
        if (!lock.lock(tracePath))
            return fail(lock.heldByOther() ? CaptureFileMessages::backupInUse(tracePath)
                                           : CaptureFileMessages::cannotOpenDestination());
    }
    if (options.record.depthMode == TraceRecordOptions::LabelsOnChange
        && (m_design == nullptr || m_design->getClassTypeIndexes(MainDTModel::MNEMONIC).isEmpty()))
        return fail(CaptureFileMessages::noMnemonic());
    const RawTraceConversion::Result header = conversion.readHeader();
    if (header != RawTraceConversion::Ok)
        return fail(RawTraceConversion::message(header, rawPath));

    m_session.decoder().setPaddingRule(options.fixedPadding, options.paddingIdentifier);
    if (!m_session.startConversion(options.record, tracePath, nullptr))
        return fail(CaptureFileMessages::cannotOpenDestination());
    reset(options);

    bool stop = false;
    conversion.decode(m_session.decoder(), &stop);
    conversion.close();

    refreshFigures(QDateTime::currentMSecsSinceEpoch());
    if (!m_session.stop())
        return fail(m_session.traceWriter().errorString());
    return saveStatistics(StatsFile::pathFor(tracePath), error);
}

void CaptureAnalysis::refreshFigures(qint64 nowMs)
{
    const FipStreamDecoder& decoder = m_session.decoder();
    StatisticsOverview::collect(decoder.counters(), &m_context.counters);
    StatisticsOverview::pushTransactions(m_context, m_transactions, decoder.state().speedCode,
                                         decoder.state().tickDuration(), false);
    StatisticsOverview::updateTimes(m_context, decoder, nowMs, double(m_macrocycle.microcycleLength()),
                                    int(m_macrocycle.macrocycle().size()));
    StatisticsOverview::updateTotals(m_context, m_transactions);
}

bool CaptureAnalysis::loads(NetworkRatio::Rates* rates) const
{
    const FipStreamDecoder& decoder = m_session.decoder();
    const quint64 start = quint64(decoder.state().captureStartMs) * 1000;
    if (start == 0)
        return false;
    NetworkRatio ratio;
    ratio.update(start, NetworkRatio::Accumulators {}, decoder.state().speedCode, rates);
    return ratio.update(decoder.state().timestamp, NetworkRatio::accumulators(m_context, decoder.counters()),
                        decoder.state().speedCode, rates);
}

bool CaptureAnalysis::saveStatistics(const QString& path, QString* error)
{
    StatsFile statistics(m_context.counters.named(), m_context.info.named());
    if (statistics.save(path))
        return true;
    if (error)
        *error = statistics.errorString();
    return false;
}
