#ifndef BX_CAPTURE_DECODER_FIPCAPTURECOUNTERS_H
#define BX_CAPTURE_DECODER_FIPCAPTURECOUNTERS_H

#include <QtGlobal>

#include <array>

/// The figures one capture's decoding adds up, for the statistics overview.
/// Durations are in counts of the card's counters (IFC + FC ticks).
struct FipCaptureCounters
{
    // Stream
    quint64 lostPackets = 0;          ///< packets the counters skipped (a step back counts one)
    quint64 streamFaults = 0;         ///< places where a remote stream broke (bytes outside packets)
    quint64 lostBytes = 0;            ///< bytes of a remote stream outside any packet
    quint64 trafficInterruptions = 0;
    quint64 fifoOverflows = 0;        ///< card events telling the card lost data
    quint64 otherEvents = 0;          ///< event records of other identifiers, dropped
    quint64 malformedPackets = 0;     ///< packets whose records do not fit them
    quint64 truncatedRecords = 0;     ///< records cut short by the end of the data
    quint64 malformedRecords = 0;     ///< frame records shorter than their header, or running past their length
    quint64 skippedRecords = 0;       ///< Osp records of tag 0xC1
    quint64 unknownRecordTags = 0;    ///< Osp record headers of any other tag

    // TLV elements of the event flow
    quint64 tlvNodes = 0;
    quint64 tlvUnknownTags = 0;
    quint64 tlvWrongLengths = 0;
    quint64 tlvOrphanValues = 0;
    quint64 tlvTruncated = 0;
    std::array<quint64, 256> tlvTags {};

    // Frames
    quint64 frames = 0;               ///< frames handed to the frame step
    std::array<quint64, 256> perControl {}; ///< valid frames by control byte
    quint64 fcsErrors = 0;
    quint64 unknownControls = 0;
    quint64 invalidDataSizes = 0;
    quint64 counterOverflows = 0;
    quint64 fsdErrors = 0;
    quint64 noFedErrors = 0;
    quint64 preGlitches = 0;
    quint64 paddingFrames = 0;        ///< valid ID_DAT frames of the padding identifier
    std::array<quint64, 256> paddingPerControl {}; ///< the same by control byte (also in perControl)

    // Durations, in ticks
    quint64 erroredTime = 0;
    quint64 paddingTime = 0;
    quint64 idDatTime = 0;
    quint64 idMsgTime = 0;
    quint64 idRqTime = 0;

    /// Bytes of the stream that made no frame: what the link dropped, packets and
    /// records that did not hold together.
    quint64 streamErrors() const { return streamFaults + malformedPackets + malformedRecords + truncatedRecords; }
};

#endif
