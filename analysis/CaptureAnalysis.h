#ifndef BX_ANALYSIS_CAPTUREANALYSIS_H
#define BX_ANALYSIS_CAPTUREANALYSIS_H

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MnemoAnalysis.h"
#include "analysis/StatisticsOverview.h"
#include "analysis/TransactionATModel.h"
#include "capture/files/CaptureSession.h"

#include <QString>

#include <functional>

class MainDTModel;

/// A capture's analysis without a window: the stages of the frame path in the
/// main window's order (mnemonics, macrocycle, transactions) behind a capture
/// session, the transaction tree that sums the transactions up, and the
/// statistics page's figures. The command-line program converts, captures and
/// sums up through it.
class CaptureAnalysis
{
public:
    /// The analysis parameters, at the window's defaults.
    struct Options
    {
        TraceRecordOptions record;
        bool fixedPadding = true;
        quint16 paddingIdentifier = 0x9080;
        qint64 macroSamplingMs = 2000;
        bool macroDetect = true;
    };

    /// Told the bytes decoded so far and the size of the data.
    using Progress = std::function<void(qint64 position, qint64 size)>;

    CaptureAnalysis();
    ~CaptureAnalysis();
    CaptureAnalysis(const CaptureAnalysis&) = delete;
    CaptureAnalysis& operator=(const CaptureAnalysis&) = delete;

    /// The project whose variables and mnemonics the analysis knows; null for none. Not owned.
    void setDesign(const MainDTModel* design) { m_design = design; }
    void setProgress(Progress progress) { m_hooks.progress = std::move(progress); }

    /// A new capture: every figure back to its initial value, the options taken.
    void reset(const Options& options);

    /// Converts a raw capture into a trace as the window does once its questions
    /// are answered (an existing trace is replaced), then saves the statistics
    /// file beside it. False with the window's message.
    bool convert(const QString& rawPath, const QString& tracePath, const Options& options, QString* error);

    /// The statistics page's figures of the capture so far: what the statistics
    /// tick computes before it draws; `nowMs` ends a capture whose data stopped.
    void refreshFigures(qint64 nowMs);
    /// The five load gauges over the whole capture; false when it has no duration.
    bool loads(NetworkRatio::Rates* rates) const;
    /// Writes the statistics file of the current figures.
    bool saveStatistics(const QString& path, QString* error);

    CaptureSession& session() { return m_session; }
    AnalysisContext& context() { return m_context; }
    const AnalysisContext& context() const { return m_context; }
    TransactionATModel& transactions() { return m_transactions; }

    /// Marks the produced variables of a design whose status byte tells their refreshment.
    static void applyRefreshments(AnalysisContext& context, const MainDTModel& design);

private:
    struct Hooks : FipDecoderListener
    {
        Progress progress;
        void onProcessEvents(qint64 position, qint64 size) override
        {
            if (progress)
                progress(position, size);
        }
    };

    const MainDTModel* m_design = nullptr;
    AnalysisContext m_context;
    TransactionATModel m_transactions;
    Hooks m_hooks;
    FrameAnalysis m_frames { &m_context, &m_hooks };
    MacrocycleAnalysis m_macrocycle { &m_context, &m_frames };
    MnemoAnalysis m_mnemonics { &m_macrocycle };
    CaptureSession m_session;
};

#endif
