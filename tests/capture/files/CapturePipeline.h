#ifndef BX_TESTS_CAPTURE_FILES_CAPTUREPIPELINE_H
#define BX_TESTS_CAPTURE_FILES_CAPTUREPIPELINE_H

// The main window's wiring of decoder, trace recorder, trace writer and raw
// recording, as the tests and the benchmark need it.

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/RawFileWriter.h"
#include "capture/files/TraceFileWriter.h"
#include "capture/files/TraceRecorder.h"

#include <QVector>

struct CapturePipeline : FipDecoderListener
{
    FipStreamDecoder decoder { this };
    TraceFileWriter writer;
    TraceRecorder recorder { &writer };
    QVector<qint64> offsets;
    TraceLabel label;      // handed for every depth-4 data reply
    int labelRequests = 0;

    CapturePipeline() { decoder.setClock([] { return qint64(1767225600000); }); }

    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override
    {
        if (recorder.treatVtrcSave(decoder, frame, row) == TraceRecorder::LabelRowsWanted) {
            ++labelRequests;
            recorder.saveLabelRow(row, label);
        }
    }
    void onTrafficInterruption(TraceRow& row) override { recorder.saveInterruption(row); }
    void onProcessEvents(qint64, qint64) override { writer.writePending(&offsets); }
};

#endif
