#ifndef BX_TESTS_CAPTURE_FILES_CAPTUREPIPELINE_H
#define BX_TESTS_CAPTURE_FILES_CAPTUREPIPELINE_H

// The main window's capture session with its parts in reach, a fixed clock, and
// one label handed for every depth-4 data reply, as the tests and the benchmark need it.

#include "capture/files/CaptureSession.h"

#include <QVector>

struct CapturePipeline : CaptureSession
{
    FipStreamDecoder& decoder = CaptureSession::decoder();
    TraceFileWriter& writer = traceWriter();
    TraceRecorder& recorder = CaptureSession::recorder();
    QVector<qint64> offsets;
    TraceLabel label;
    int labelRequests = 0;

    CapturePipeline()
    {
        decoder.setClock([] { return qint64(1767225600000); });
        setLabelSource([this](quint16) {
            ++labelRequests;
            m_labels = { label };
            return &m_labels;
        });
    }

    void onProcessEvents(qint64, qint64) override { writer.writePending(&offsets); }

private:
    QVector<TraceLabel> m_labels;
};

#endif
